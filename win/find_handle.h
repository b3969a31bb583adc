// Owns one directory search of FindFirstFileW; closed with FindClose.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace zelnar {

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle search) noexcept { return FindClose(search) != FALSE; }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace zelnar
