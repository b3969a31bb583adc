// The error raised inside the plug-in. Its text is what the dialog's error report shows; it never
// crosses an exported function.
#pragma once

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

// Widens 7-bit text such as registry value names; other bytes become U+FFFD.
inline std::wstring WidenAscii(const std::string& text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (unsigned char c : text) wide.push_back(c < 0x80 ? wchar_t(c) : wchar_t(0xFFFD));
  return wide;
}

}  // namespace zelnar
