// Eight bytes of a string handled as one 64-bit word: loading, ASCII case folding and finding a byte,
// without one carry crossing from a byte into its neighbour. Words are loaded in memory order, so
// everything packed with Load8 compares alike on either byte order.
#pragma once

#include <cstdint>
#include <cstring>

namespace zelnar {

inline constexpr std::uint64_t kEveryByte = 0x0101010101010101u;
inline constexpr std::uint64_t kLow7 = 0x7F * kEveryByte;
inline constexpr std::uint64_t kTop = 0x80 * kEveryByte;

inline std::uint64_t Load8(const void* bytes) noexcept {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

// Upper-cases the ASCII letters among the eight bytes, as FoldCase does for one: each sum stays below
// 0x100, and only the bytes from 'a' to 'z' lose 0x20.
constexpr std::uint64_t FoldCase8(std::uint64_t bytes) noexcept {
  const std::uint64_t low7 = bytes & kLow7;
  const std::uint64_t fromA = low7 + (0x80 - 'a') * kEveryByte;      // top bit: at least 'a'
  const std::uint64_t pastZ = low7 + (0x80 - 'z' - 1) * kEveryByte;  // top bit: beyond 'z'
  const std::uint64_t lower = fromA & ~pastZ & ~bytes & kTop;
  return bytes - (lower >> 2);
}
static_assert(FoldCase8(0x617A407B5B60FF41u) == 0x415A407B5B60FF41u);
static_assert(FoldCase8(0xE1FAE0C1u) == 0xE1FAE0C1u);  // bytes above 0x7F stay

// The top bit of every byte that equals `value`, and no other bit.
constexpr std::uint64_t BytesEqual(std::uint64_t bytes, unsigned char value) noexcept {
  const std::uint64_t x = bytes ^ (value * kEveryByte);
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}
static_assert(BytesEqual(0x5C005C3A5D5B5C01u, 0x5C) == 0x8000800000008000u);

// Of the bytes marked by BytesEqual, the index in memory order (0 to 7) of the last one.
inline unsigned LastMarkedByte(std::uint64_t marks) noexcept {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return 7 - static_cast<unsigned>(__builtin_ctzll(marks)) / 8;
#else
  return static_cast<unsigned>(63 - __builtin_clzll(marks)) / 8;
#endif
}

}  // namespace zelnar
