// A failed registry access: which value, what was being done with it, and the system's code. It
// carries no words for the user: the settings dialog says it in its own.
#pragma once

#include <string>

#include "win/error.h"

namespace zelnar {

class RegistryError : public Error {
 public:
  enum class Operation {
    Query,      // the value could not be read
    WrongType,  // the value is of a type that the setting does not take
    Set,        // the value could not be written
  };

  RegistryError(std::string valueName, Operation operation, long code)
      : Error(Describe(valueName, operation, code)), valueName_(std::move(valueName)), operation_(operation),
        code_(code) {}

  const std::string& ValueName() const noexcept { return valueName_; }
  Operation WhatFailed() const noexcept { return operation_; }
  long Code() const noexcept { return code_; }  // the registry call's status; the type found for WrongType

 private:
  static std::wstring Describe(const std::string& name, Operation operation, long code) {
    const wchar_t* call = operation == Operation::Set         ? L"RegSetValueExA '"
                          : operation == Operation::WrongType ? L"unexpected type of '"
                                                              : L"RegQueryValueExA '";
    return WithCode(call + WidenAscii(name) + L"'", static_cast<unsigned long>(code));
  }

  std::string valueName_;
  Operation operation_;
  long code_;
};

}  // namespace zelnar
