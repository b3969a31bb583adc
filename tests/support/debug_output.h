// Captures what the code under test writes with OutputDebugStringA, in this process, without a
// debugger: the call raises a documented exception that a vectored handler sees first. Only the A
// form is taken: Wine shows only its lines under +debugstr, so a wide line is a line nobody sees.
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
  static constexpr DWORD kPrint = 0x40010006;  // DBG_PRINTEXCEPTION_C: length, ANSI text

  static LONG CALLBACK Handler(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
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
