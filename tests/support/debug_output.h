// Captures what the code under test writes with OutputDebugString, in this process, without a
// debugger: the call raises a documented exception that a vectored handler sees first.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace test {

class DebugOutput {
 public:
  DebugOutput() { handler_ = AddVectoredExceptionHandler(1, Handler); }
  ~DebugOutput() { RemoveVectoredExceptionHandler(handler_); }
  DebugOutput(const DebugOutput&) = delete;
  DebugOutput& operator=(const DebugOutput&) = delete;

  // The lines written since the last call, in the order written.
  static std::vector<std::string> Take() {
    std::lock_guard<std::mutex> hold(Mutex());
    std::vector<std::string> taken;
    taken.swap(Lines());
    return taken;
  }

 private:
  static constexpr DWORD kPrint = 0x40010006;      // DBG_PRINTEXCEPTION_C: length, ANSI text
  static constexpr DWORD kPrintWide = 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C: length, UTF-16 text

  static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    // The wide form, where raised, is followed by no ANSI one once handled here.
    if (record->ExceptionCode == kPrintWide && record->NumberParameters >= 2) {
      const auto* text = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
      const int units = static_cast<int>(record->ExceptionInformation[0]);
      std::string line(size_t(units) * 3, '\0');
      line.resize(WideCharToMultiByte(CP_UTF8, 0, text, units, &line[0], int(line.size()), nullptr, nullptr));
      Add(line);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == kPrint && record->NumberParameters >= 2) {
      Add(std::string(reinterpret_cast<const char*>(record->ExceptionInformation[1]),
                      size_t(record->ExceptionInformation[0])));
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  static void Add(std::string line) {
    while (!line.empty() && (line.back() == '\0' || line.back() == '\n')) line.pop_back();
    std::lock_guard<std::mutex> hold(Mutex());
    Lines().push_back(std::move(line));
  }
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }

  PVOID handler_;
};

}  // namespace test
