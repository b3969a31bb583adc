// Draws an HTML page plainly for the stand-in extractor, so a person can recognise it in the picture.
#pragma once

#include <windows.h>

namespace standin {

// Paints the page at `path` into `dc` (a 24-bit bitmap of width x height is selected into it).
// Never raises; a page it cannot read is drawn as a short notice.
void PaintPage(HDC dc, int width, int height, const wchar_t* path) noexcept;

}  // namespace standin
