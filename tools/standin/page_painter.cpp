// Placeholder painter: a white page. The real one draws the title and text.
#include "tools/standin/page_painter.h"

namespace standin {

void PaintPage(HDC dc, int width, int height, const wchar_t*) noexcept {
  RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

}  // namespace standin
