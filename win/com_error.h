// Errors raised by COM calls inside the plug-in; each carries the HRESULT that caused it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "win/error.h"

namespace zelnar {

class ComError : public Error {
 public:
  ComError(const wchar_t* what, HRESULT result) : Error(Describe(what, result)), result_(result) {}
  HRESULT Result() const noexcept { return result_; }

 private:
  static std::wstring Describe(const wchar_t* what, HRESULT result) {
    wchar_t code[16];
    std::swprintf(code, sizeof code / sizeof code[0], L"0x%08lX", static_cast<unsigned long>(result));
    return std::wstring(what) + L" (" + code + L")";
  }
  HRESULT result_;
};

// An object answered a QueryInterface with anything but S_OK.
class InterfaceNotSupportedError : public ComError {
 public:
  InterfaceNotSupportedError(const wchar_t* name, HRESULT result) : ComError(name, result) {}
};

}  // namespace zelnar
