// The host's two variables for a picture request. They start out holding a value no allocator gives,
// so a test sees whether the plug-in wrote them; whatever they hold at the end is freed, as a host
// does after result 0.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace test {

inline const HLOCAL kUntouched = reinterpret_cast<HLOCAL>(uintptr_t(0x5A5A5A5A));

struct Blocks {
  HLOCAL header = kUntouched;
  HLOCAL bits = kUntouched;
  Blocks() = default;
  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;
  ~Blocks() {
    if (header != kUntouched && header) LocalFree(header);
    if (bits != kUntouched && bits) LocalFree(bits);
  }
  std::vector<uint8_t> Bytes(HLOCAL block) const {
    const auto* p = static_cast<const uint8_t*>(LocalLock(block));
    if (!p) return {};
    std::vector<uint8_t> bytes(p, p + LocalSize(block));
    LocalUnlock(block);
    return bytes;
  }
};

}  // namespace test
