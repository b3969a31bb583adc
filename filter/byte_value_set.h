// A set of byte values (256 bits): the members of a pattern's byte set and the lead bytes of a code page.
#pragma once

#include <cstdint>

namespace zelnar {

struct ByteValueSet {
  uint32_t words[8] = {};

  constexpr bool Contains(unsigned char value) const noexcept { return (words[value >> 5] >> (value & 31u)) & 1u; }
  constexpr void Add(unsigned char value) noexcept { words[value >> 5] |= uint32_t{1} << (value & 31u); }
  // Adds first..last, both included; nothing when first > last.
  constexpr void AddRange(unsigned char first, unsigned char last) noexcept {
    for (unsigned value = first; value <= last; ++value) Add(static_cast<unsigned char>(value));
  }
  constexpr bool Empty() const noexcept {
    uint32_t any = 0;
    for (uint32_t word : words) any |= word;  // no early exit: this compiles to a few vector ORs
    return any == 0;
  }
};

}  // namespace zelnar
