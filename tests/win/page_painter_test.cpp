// The stand-in's page drawing: text lands on the page, and the encodings it knows give the same picture.
#include "tools/standin/page_painter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "win/dib_header.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Paints the file into a 24-bit DIB section and returns its rows (bottom-up, as GDI stores them).
std::vector<unsigned char> Paint(const std::wstring& path) {
  BITMAPINFO info{};
  info.bmiHeader = zelnar::BottomUpBgr24Header(kWidth, kHeight);
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  std::vector<unsigned char> grey(std::size_t(kWidth) * 3 * kHeight, 0x80);
  std::memcpy(bits, grey.data(), grey.size());  // so an unpainted pixel shows
  standin::PaintPage(dc, kWidth, kHeight, path.c_str());
  GdiFlush();
  std::vector<unsigned char> pixels(static_cast<unsigned char*>(bits), static_cast<unsigned char*>(bits) + grey.size());
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return pixels;
}

// Rows, counted from the top, that hold a pixel that is not white.
std::vector<int> InkedRows(const std::vector<unsigned char>& pixels) {
  std::vector<int> rows;
  for (int top = 0; top < kHeight; ++top) {
    const unsigned char* row = pixels.data() + std::size_t(kHeight - 1 - top) * kWidth * 3;
    for (int i = 0; i < kWidth * 3; ++i)
      if (row[i] != 0xFF) {
        rows.push_back(top);
        break;
      }
  }
  return rows;
}

std::wstring WriteTemp(const std::wstring& name, const std::string& bytes) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring path = std::wstring(temp) + name;
  std::ofstream(path.c_str(), std::ios::binary) << bytes;
  return path;
}

TEST(PagePainter, DrawsTitleAndTextOnWhite) {
  std::wstring page = WriteTemp(L"painter_page.html", "<title>Title</title><p>Some text</p><p>More</p>");
  std::wstring empty = WriteTemp(L"painter_empty.html", "<script>only('a script')</script>");
  std::vector<int> inked = InkedRows(Paint(page));
  ASSERT_FALSE(inked.empty());
  EXPECT_LT(inked.front(), kHeight / 8);     // the title starts near the top
  EXPECT_GT(inked.back(), inked.front() + 20);  // and text follows below it
  EXPECT_LT(inked.back(), kHeight / 2);      // three short lines leave the rest white
  std::vector<unsigned char> blank = Paint(empty);
  EXPECT_TRUE(InkedRows(blank).empty());
  EXPECT_EQ(std::count(blank.begin(), blank.end(), 0xFF), std::ptrdiff_t(blank.size()));  // every pixel painted
  EXPECT_FALSE(InkedRows(Paint(L"C:\\no\\such\\page.html")).empty());  // a notice, not a blank page
  DeleteFileW(page.c_str());
  DeleteFileW(empty.c_str());
}

TEST(PagePainter, DeclaredAndMarkedEncodingsGiveTheSamePicture) {
  // "日本語の見出し" and "本文です。表示" (0x95 0x5C: a second byte that is a backslash).
  const std::string utf8Title = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE8\xA6\x8B\xE5\x87\xBA\xE3\x81\x97";
  const std::string utf8Body = "\xE6\x9C\xAC\xE6\x96\x87\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\xE8\xA1\xA8\xE7\xA4\xBA";
  const std::string sjisTitle = "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x8C\xA9\x8F\x6F\x82\xB5";
  const std::string sjisBody = "\x96\x7B\x95\xB6\x82\xC5\x82\xB7\x81\x42\x95\x5C\x8E\xA6";
  auto page = [](const std::string& head, const std::string& title, const std::string& body) {
    return head + "<title>" + title + "</title><p>" + body + "</p>";
  };
  std::wstring bom = WriteTemp(L"painter_bom.html", page("\xEF\xBB\xBF", utf8Title, utf8Body));
  std::wstring utf8 = WriteTemp(L"painter_utf8.html", page("<meta charset=\"utf-8\">", utf8Title, utf8Body));
  std::wstring sjis = WriteTemp(L"painter_sjis.html",
      page("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">", sjisTitle, sjisBody));
  std::vector<unsigned char> reference = Paint(bom);
  EXPECT_FALSE(InkedRows(reference).empty());
  EXPECT_TRUE(Paint(utf8) == reference);
  EXPECT_TRUE(Paint(sjis) == reference);
  for (const std::wstring& p : {bom, utf8, sjis}) DeleteFileW(p.c_str());
}

}  // namespace
