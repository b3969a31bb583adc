// Writes a DIB as a .bmp file: file header, header block, rows. A file that cannot be written whole
// is removed, so no truncated picture is left behind.
#pragma once

#include <windows.h>

#include <cstddef>

namespace zelnar {

// Returns 0, or the Windows error code of the step that failed.
DWORD WriteBmpFile(const wchar_t* path, const void* header, std::size_t headerBytes, const void* bits,
                   std::size_t imageBytes) noexcept;

}  // namespace zelnar
