// What the module's C++ runtime (the cross-compiler's win32 thread model) keeps at an unload unless
// it is given back here: the emergency exception pool, and what it makes once for locks and
// thread-local storage and never destroys: the lock that guards the first use of function-local
// statics, the lock and the thread-local slot of its emulated thread-local variables (exceptions use
// them), and (32-bit module) the lock of the exception-frame registry. Each load would keep two to
// four kernel handles and a thread-local slot of the host, and a host has only about a thousand.
#include "plugin/module_runtime.h"

#include <windows.h>

// The runtime's own hook for leak checkers: frees the emergency exception pool.
namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// What is made while `recording` is set. It is set only on the loader's thread during the attach
// (no export can run yet), so nothing another thread makes is taken for one of these.
constexpr int kMaxKept = 8;
HANDLE keptSemaphores[kMaxKept] = {};
int semaphoreCount = 0;
DWORD keptSlots[kMaxKept] = {};
int slotCount = 0;
bool recording = false;

HANDLE WINAPI RecordingCreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) noexcept;
DWORD WINAPI RecordingTlsAlloc() noexcept;

// A function-local static with a value known only at run time: its first use makes the runtime
// create the lock of all such first uses.
DWORD LoaderThread() noexcept {
  static const DWORD id = GetCurrentThreadId();
  return id;
}

// The first use of a thread-local variable makes the runtime set up its emulation.
thread_local int touched = 0;

}  // namespace

// The link (plugin/CMakeLists.txt) routes the runtime's CreateSemaphoreW and TlsAlloc and (32-bit)
// its frame registration through here; the names are the link's.
extern "C" {
#ifdef _WIN64
extern HANDLE(WINAPI* const realCreateSemaphoreW)(LPSECURITY_ATTRIBUTES, LONG, LONG,
                                                   LPCWSTR) asm("__real___imp_CreateSemaphoreW");
extern HANDLE(WINAPI* const wrappedCreateSemaphoreW)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) asm(
    "__wrap___imp_CreateSemaphoreW") = RecordingCreateSemaphoreW;
extern DWORD(WINAPI* const realTlsAlloc)() asm("__real___imp_TlsAlloc");
extern DWORD(WINAPI* const wrappedTlsAlloc)() asm("__wrap___imp_TlsAlloc") = RecordingTlsAlloc;
#else
extern HANDLE(WINAPI* const realCreateSemaphoreW)(LPSECURITY_ATTRIBUTES, LONG, LONG,
                                                   LPCWSTR) asm("___real__imp__CreateSemaphoreW@16");
extern HANDLE(WINAPI* const wrappedCreateSemaphoreW)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) asm(
    "___wrap__imp__CreateSemaphoreW@16") = RecordingCreateSemaphoreW;
extern DWORD(WINAPI* const realTlsAlloc)() asm("___real__imp__TlsAlloc@0");
extern DWORD(WINAPI* const wrappedTlsAlloc)() asm("___wrap__imp__TlsAlloc@0") = RecordingTlsAlloc;

// The 32-bit runtime unwinds with frame tables that a constructor registers at load, before
// DllMain; the registry's lock is made then.
void __real___register_frame_info(const void* begin, void* object);
void __wrap___register_frame_info(const void* begin, void* object) {
  recording = true;
  __real___register_frame_info(begin, object);
  recording = false;
}
#endif
}  // extern "C"

namespace {

HANDLE WINAPI RecordingCreateSemaphoreW(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                        LPCWSTR name) noexcept {
  const HANDLE semaphore = realCreateSemaphoreW(attributes, initial, maximum, name);
  if (recording && semaphore && semaphoreCount < kMaxKept) keptSemaphores[semaphoreCount++] = semaphore;
  return semaphore;
}

DWORD WINAPI RecordingTlsAlloc() noexcept {
  const DWORD slot = realTlsAlloc();
  if (recording && slot != TLS_OUT_OF_INDEXES && slotCount < kMaxKept) keptSlots[slotCount++] = slot;
  return slot;
}

}  // namespace

namespace zelnar {

void PrepareRuntime() noexcept {
  recording = true;
  LoaderThread();
  touched = 1;
  recording = false;
}

// No thread runs the module's code at an unload, so none of these locks is contended: their
// semaphores are waited on or released only under contention, and go unused from here on. The
// loader thread's thread-local values were freed just before, by the runtime's own detach.
void ReleaseRuntime() noexcept {
  for (int i = 0; i < semaphoreCount; ++i) CloseHandle(keptSemaphores[i]);
  semaphoreCount = 0;
  for (int i = 0; i < slotCount; ++i) TlsFree(keptSlots[i]);
  slotCount = 0;
  __gnu_cxx::__freeres();
}

}  // namespace zelnar
