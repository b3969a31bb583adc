// The error raised inside the browser extractor: the HRESULT its COM method returns, and a line for
// the debugger's output. Caught in every COM method; never leaves the server.
#pragma once

#include <windows.h>

#include <string>

namespace wine_extractor {

class Failure {
 public:
  Failure(HRESULT result, std::wstring text) : result_(result), text_(std::move(text)) {}
  HRESULT Result() const noexcept { return result_; }
  const std::wstring& Text() const noexcept { return text_; }

 private:
  HRESULT result_;
  std::wstring text_;
};

// A Win32 failure just reported by GetLastError, as a Failure.
inline Failure LastErrorFailure(const std::wstring& text) {
  const DWORD code = GetLastError();
  return Failure(code ? HRESULT_FROM_WIN32(code) : E_FAIL, text);
}

}  // namespace wine_extractor
