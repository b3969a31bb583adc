// DIB assembly: the header block and pixel block of one captured page, for the host.
#pragma once

#include <windows.h>

#include <cstdint>

namespace zelnar {

// Results shared by the picture entry points.
enum HostResult : int {
  kResultSuccess = 0,
  kResultStopped = 1,
  kResultNotAFile = 2,
  kResultNoMemory = 4,
  kResultLockFailed = 5,
  kResultInternalError = 8,
};

inline constexpr DWORD kHeaderBlockSize = 40;

// Renders `path` at the configured size with `flags` and stores two movable, unlocked blocks through
// headerOut and bitsOut: a BITMAPINFOHEADER and 24-bit rows, bottom row first. Returns 0 on success;
// on 4, 5 or 8 both variables hold 0 and nothing stays allocated. Null pointers give 8. Never raises.
int CreateDibPair(const char* path, HLOCAL* headerOut, HLOCAL* bitsOut, uint32_t flags) noexcept;

}  // namespace zelnar
