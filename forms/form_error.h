// An error of the form framework, or of a form built on it: English for the debugger trace, and the
// Japanese words that the framework's error report shows the user.
#pragma once

#include <string>

#include "win/error.h"

namespace zelnar {

class FormError : public Error {
 public:
  FormError(std::wstring english, std::wstring shown) : Error(std::move(english)), shown_(std::move(shown)) {}
  const std::wstring& Shown() const noexcept { return shown_; }

 private:
  std::wstring shown_;
};

}  // namespace zelnar
