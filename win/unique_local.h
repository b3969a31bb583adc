// Ownership of a local-memory block.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace zelnar {

// LocalFree frees a locked block as well.
struct LocalBlockTraits {
  using Handle = HLOCAL;
  static Handle None() noexcept { return nullptr; }
  static bool Close(Handle block) noexcept { return LocalFree(block) == nullptr; }
};
using UniqueLocal = UniqueHandle<LocalBlockTraits>;

}  // namespace zelnar
