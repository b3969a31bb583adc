// DIB assembly: the header block and pixel block of one captured page, handed to the host. The two
// local blocks and the rule that a path must name a readable file are the host's contract, so they
// live here, beside the exports; render/ only turns a page into pixels.
#pragma once

#include <windows.h>

#include <cstdint>

#include "plugin/host_result.h"

namespace zelnar {

// What one picture is made of; the caller reads it from the settings in one hold of their lock.
struct PictureRequest {
  int32_t width;
  int32_t height;
  uint32_t flags;  // the extractor's request flags, passed on unchanged
};

inline constexpr DWORD kHeaderBlockSize = 40;

// Renders `path` at the requested size with the requested flags and stores two movable, unlocked blocks through
// headerOut and bitsOut: a BITMAPINFOHEADER (image size filled in) and 24-bit rows, bottom row first.
// Returns 0 on success; on 4, 5 or 8 both variables hold 0 and nothing stays allocated. A path that
// names no readable file gives 8 before anything is allocated or the extractor is created. Null
// pointers give 8. Never raises.
int CreateDibPair(const wchar_t* path, const PictureRequest& request, HLOCAL* headerOut, HLOCAL* bitsOut) noexcept;

}  // namespace zelnar
