// Owns one file handle; closes it once.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace zelnar {

// A failed open is INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) noexcept { return CloseHandle(handle) != FALSE; }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

}  // namespace zelnar
