// Raised while a pattern is compiled when it breaks the pattern grammar. Callers show no text of it.
#pragma once

#include <exception>

namespace zelnar {

class InvalidPatternError : public std::exception {
 public:
  const char* what() const noexcept override { return "invalid file pattern"; }
};

}  // namespace zelnar
