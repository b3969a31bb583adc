#include "win/debug_trace.h"

#include <windows.h>

#include <cwchar>
#include <new>
#include <string>

#include "win/error.h"

namespace zelnar {
namespace {

thread_local const wchar_t* currentExport = nullptr;

void Trace(const wchar_t* step, const unsigned long* code) noexcept {
  wchar_t line[512];
  const wchar_t* where = currentExport ? currentExport : L"-";
  if (code)
    std::swprintf(line, sizeof line / sizeof line[0], L"zelnar: %ls: %ls (0x%08lX)\n", where, step, *code);
  else
    std::swprintf(line, sizeof line / sizeof line[0], L"zelnar: %ls: %ls\n", where, step);
  line[sizeof line / sizeof line[0] - 1] = L'\0';  // a step longer than the line is cut, never overrun
  // Written with the A form: Wine shows only those lines under +debugstr, and Windows debuggers see
  // both. Our steps are English; anything else that slips in shows as '?'.
  char narrow[sizeof line / sizeof line[0]];
  size_t i = 0;
  for (; line[i]; ++i) narrow[i] = line[i] < 0x80 ? char(line[i]) : '?';
  narrow[i] = '\0';
  OutputDebugStringA(narrow);
}

}  // namespace

TraceScope::TraceScope(const wchar_t* exportName) noexcept : slot_(&currentExport), previous_(*slot_) {
  *slot_ = exportName;
}

TraceScope::~TraceScope() { *slot_ = previous_; }

void TraceFailure(const wchar_t* step, unsigned long code) noexcept { Trace(step, &code); }

void TraceFailure(const wchar_t* step) noexcept { Trace(step, nullptr); }

void TraceError(const std::exception_ptr& error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    TraceFailure(e.Text().empty() ? L"a text could not be converted" : e.Text().c_str());
  } catch (const std::bad_alloc&) {
    TraceFailure(L"out of memory");
  } catch (const std::exception& e) {
    try {
      TraceFailure(WidenAscii(e.what()).c_str());
    } catch (...) {
      TraceFailure(L"an error was raised");
    }
  } catch (...) {
    TraceFailure(L"an unknown error was raised");
  }
}

}  // namespace zelnar
