// The error raised inside the plug-in. Its text is English and goes to the debugger trace; words for
// the user belong to the layer that shows them. It never crosses an exported function.
#pragma once

#include <cwchar>
#include <exception>
#include <string>

namespace zelnar {

class Error : public std::exception {
 public:
  explicit Error(std::wstring text) : text_(std::move(text)) {}
  const std::wstring& Text() const noexcept { return text_; }
  const char* what() const noexcept override { return "zelnar error"; }

 private:
  std::wstring text_;
};

// "what (0x0000007B)": a step and the code that says why it failed, as the debugger trace writes them.
inline std::wstring WithCode(std::wstring what, unsigned long code) {
  wchar_t text[16];
  std::swprintf(text, sizeof text / sizeof text[0], L"0x%08lX", code);
  what += L" (";
  what += text;
  what += L")";
  return what;
}

// Widens 7-bit text such as registry value names; other bytes become U+FFFD.
inline std::wstring WidenAscii(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (unsigned char c : text) wide.push_back(c < 0x80 ? wchar_t(c) : wchar_t(0xFFFD));
  return wide;
}

}  // namespace zelnar
