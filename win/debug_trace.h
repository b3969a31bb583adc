// One line for a debugger per failure, in English: the export, the step that failed, and the code that
// says why. It is seen with a debugger or DebugView, and under Wine with WINEDEBUG=+debugstr; nothing is
// written anywhere else, and nothing at all while every call succeeds.
#pragma once

#include <exception>

namespace zelnar {

// Names the export running on this thread, for the failures traced while it is in scope.
class TraceScope {
 public:
  explicit TraceScope(const wchar_t* exportName) noexcept;
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  // The thread's slot, looked up once: thread-local access is a call in this toolchain, and every
  // export, IsSupported among them, pays for it on each call.
  const wchar_t** slot_;
  const wchar_t* previous_;
};

// "zelnar: <export>: <step> (<code>)"; the code is written in hex, as HRESULTs are read.
void TraceFailure(const wchar_t* step, unsigned long code) noexcept;
void TraceFailure(const wchar_t* step) noexcept;
// For an error caught at a boundary: its own text, or what kind of error it was.
void TraceError(const std::exception_ptr& error) noexcept;

}  // namespace zelnar
