// Owners of the kernel's handles: files, other objects (processes, threads, events) and directory
// searches. Each closes its handle once.
#pragma once

#include <windows.h>

#include "win/unique_handle.h"

namespace zelnar {

// Closed by CloseHandle. A failed CreateFile gives INVALID_HANDLE_VALUE, the other calls null.
template <bool kFile>
struct CloseHandleTraits {
  using Handle = HANDLE;
  static Handle None() noexcept { return kFile ? INVALID_HANDLE_VALUE : nullptr; }
  static bool Close(Handle handle) noexcept { return CloseHandle(handle) != FALSE; }
};
using FileHandle = UniqueHandle<CloseHandleTraits<true>>;
using KernelHandle = UniqueHandle<CloseHandleTraits<false>>;

// A search of FindFirstFileW, closed by FindClose.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle search) noexcept { return FindClose(search) != FALSE; }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace zelnar
