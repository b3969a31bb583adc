// Errors raised by COM calls inside the plug-in; each carries the HRESULT that caused it.
#pragma once

#include <windows.h>

#include <string>

#include "win/error.h"

namespace zelnar {

class ComError : public Error {
 public:
  ComError(const wchar_t* what, HRESULT result)
      : Error(WithCode(what, static_cast<unsigned long>(result))), result_(result) {}
  HRESULT Result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// An object answered a QueryInterface with anything but S_OK.
class InterfaceNotSupportedError : public ComError {
 public:
  InterfaceNotSupportedError(const wchar_t* name, HRESULT result) : ComError(name, result) {}
};

}  // namespace zelnar
