// Draws an HTML page plainly on white: its title as a heading, then its text, wrapped to the width.
#include "tools/standin/page_painter.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/standin/line_wrap.h"
#include "tools/standin/page_encoding.h"
#include "tools/standin/page_text.h"
#include "win/kernel_handles.h"

namespace standin {
namespace {

// Only the first screenful is ever drawn; a huge file is read no further than this.
constexpr DWORD kMaxPageBytes = 4u << 20;
// A block longer than this cannot fit on any picture the plug-in asks for.
constexpr std::size_t kMaxBlockChars = 16384;
// "ＭＳ Ｐゴシック", written with escapes so the source encoding cannot matter.
constexpr wchar_t kFaceName[] = L"\xFF2D\xFF33 \xFF30\x30B4\x30B7\x30C3\x30AF";
constexpr COLORREF kTextColour = RGB(0, 0, 0);
constexpr COLORREF kRuleColour = RGB(160, 160, 160);

using zelnar::FileHandle;

// The file's first bytes, or false when it cannot be opened or read.
bool ReadPageBytes(const wchar_t* path, std::string* bytes) {
  FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  bytes->clear();
  char chunk[65536];
  while (bytes->size() < kMaxPageBytes) {
    DWORD got = 0;
    DWORD want = DWORD(std::min<std::size_t>(sizeof chunk, kMaxPageBytes - bytes->size()));
    if (!ReadFile(file.Get(), chunk, want, &got, nullptr)) return false;
    if (got == 0) break;
    bytes->append(chunk, got);
  }
  return true;
}

std::u16string Decode(const std::string& bytes) {
  DetectedEncoding detected = DetectPageEncoding(bytes);
  UINT codePage = detected.encoding == PageEncoding::kUtf8       ? CP_UTF8
                  : detected.encoding == PageEncoding::kShiftJis ? 932u
                                                                 : CP_ACP;
  const char* data = bytes.data() + detected.bomLength;
  int length = int(bytes.size() - detected.bomLength);
  if (length == 0) return {};
  int wide = MultiByteToWideChar(codePage, 0, data, length, nullptr, 0);
  if (wide <= 0) return {};
  std::wstring text(std::size_t(wide), L'\0');
  MultiByteToWideChar(codePage, 0, data, length, text.data(), wide);
  return std::u16string(text.begin(), text.end());
}

class Font {
 public:
  Font(int pixels, bool bold)
      : font_(CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS,
                          kFaceName)) {}
  ~Font() {
    if (font_) DeleteObject(font_);
  }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  HFONT get() const { return font_; }

 private:
  HFONT font_;
};

// Selects a font into the DC for one scope, so the font is no longer selected when it is deleted.
class FontSelection {
 public:
  FontSelection(HDC dc, HFONT font) : dc_(dc), old_(font ? SelectObject(dc, font) : nullptr) {}
  ~FontSelection() {
    if (old_) SelectObject(dc_, old_);
  }
  FontSelection(const FontSelection&) = delete;
  FontSelection& operator=(const FontSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Lays text out top to bottom inside a margin, until the page is full.
class PageWriter {
 public:
  PageWriter(HDC dc, int width, int height, int margin)
      : dc_(dc), left_(margin), right_(width - margin), bottom_(height), y_(margin) {}

  bool Full() const { return y_ >= bottom_; }

  void Paragraph(const std::u16string& text, const Font& font, int pixels) {
    if (Full() || text.empty()) return;
    FontSelection selection(dc_, font.get());
    std::wstring line(text.begin(), text.begin() + std::min(text.size(), kMaxBlockChars));
    std::vector<int> extents(line.size());
    SIZE size{};
    if (!GetTextExtentExPointW(dc_, line.c_str(), int(line.size()), 0, nullptr, extents.data(), &size)) return;
    std::u16string_view view(text.data(), line.size());
    const int lineHeight = pixels + pixels / 4;
    for (const LineSpan& span : WrapText(view, extents, right_ - left_)) {
      if (Full()) return;
      TextOutW(dc_, left_, y_, line.c_str() + span.start, int(span.length));
      y_ += lineHeight;
    }
  }

  void Gap(int pixels) { y_ += pixels; }

  void Rule() {
    if (Full()) return;
    RECT rule{left_, y_, right_, y_ + 1};
    HBRUSH brush = CreateSolidBrush(kRuleColour);
    if (!brush) return;
    FillRect(dc_, &rule, brush);
    DeleteObject(brush);
  }

 private:
  HDC dc_;
  int left_, right_, bottom_, y_;
};

void Draw(HDC dc, int width, int height, const PageText& page) {
  // Sized so an 800x600 picture shows text at a screen's usual 16 pixels.
  const int body = std::max(6, std::min(height / 36, width / 48));
  const int title = body * 3 / 2;
  const int heading = body * 5 / 4;
  Font bodyFont(body, false), titleFont(title, true), headingFont(heading, true);

  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, kTextColour);
  SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
  PageWriter writer(dc, width, height, body);
  if (!page.title.empty()) {
    writer.Paragraph(page.title, titleFont, title);
    writer.Gap(body / 4);
    writer.Rule();
    writer.Gap(body * 3 / 4);
  }
  for (const PageBlock& block : page.blocks) {
    if (writer.Full()) break;
    if (block.heading) writer.Paragraph(block.text, headingFont, heading);
    else writer.Paragraph(block.text, bodyFont, body);
    writer.Gap(body / 2);
  }
}

}  // namespace

void PaintPage(HDC dc, int width, int height, const wchar_t* path) noexcept {
  RECT all{0, 0, width, height};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  try {
    std::string bytes;
    if (!path || !ReadPageBytes(path, &bytes)) {
      PageText notice;
      notice.title = u"Cannot read the page";
      if (path) notice.blocks.push_back({std::u16string(path, path + wcslen(path)), false});
      Draw(dc, width, height, notice);
      return;
    }
    Draw(dc, width, height, ExtractPageText(Decode(bytes)));
  } catch (...) {
    // Out of memory half-way: what is drawn stays drawn; the extractor reports success either way.
  }
  GdiFlush();
}

}  // namespace standin
