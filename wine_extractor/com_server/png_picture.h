// Reads the engine's PNG with WIC (which Wine provides) into the bitmap the extractor hands out.
#pragma once

#include <windows.h>

#include <string>

namespace wine_extractor {

// A 24-bit bottom-up DIB section of exactly width x height with the picture in `path`. Raises
// Failure when the file is absent, is no picture WIC can read, or has another size.
HBITMAP DecodePicture(const std::wstring& path, int width, int height);

}  // namespace wine_extractor
