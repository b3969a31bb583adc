// Owns one kernel object handle that is null when there is none (a process, a thread, an event);
// files, whose failed open is INVALID_HANDLE_VALUE, have FileHandle.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace zelnar {

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle None() noexcept { return nullptr; }
  static bool Close(Handle handle) noexcept { return CloseHandle(handle) != FALSE; }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

}  // namespace zelnar
