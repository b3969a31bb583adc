#include "tools/browser_extractor/page_service.h"

#include <optional>

#include "tools/browser_extractor/engine_job.h"
#include "tools/browser_extractor/failure.h"
#include "tools/browser_extractor/proc_stat.h"
#include "tools/browser_extractor/wine_paths.h"
#include "tools/browser_extractor/windows_file.h"

namespace browser {
namespace {

// How often the answer is looked for: a few milliseconds on a page that takes a hundred.
constexpr DWORD kPollMs = 2;
// How often the service is checked on while the page waits or is drawn.
constexpr ULONGLONG kServiceCheckMs = 50;
// How long a starting service may take to show up, and a page beyond its time limit.
constexpr ULONGLONG kStartMs = 10000;
constexpr ULONGLONG kGraceMs = 5000;
// A page waiting behind others is given up after this long (the service is alive but stuck).
constexpr ULONGLONG kQueueMs = 600000;
constexpr int kAttempts = 3;

LONG jobCounter = 0;

// The service named in the spool is running: a Linux process with that id and start time. Wine
// reads /proc for us (the entry of another process reads the same from anywhere).
bool ServiceRuns(const std::wstring& spool) {
  const std::optional<std::string> text = ReadSmall(spool + L"\\" + Widen(kServiceName));
  const std::optional<ProcessIdentity> named = text ? ParseIdentity(*text) : std::nullopt;
  if (!named) return false;
  std::optional<std::string> line;
  try {
    line = ReadSmall(WindowsPath("/proc/" + std::to_string(named->pid) + "/stat"));
  } catch (const Failure&) {
    return false;
  }
  const std::optional<ProcStat> stat = line ? ParseProcStat(*line) : std::nullopt;
  return stat && stat->identity == *named && stat->state != 'Z' && stat->state != 'X';
}

// Starts a service unless one runs, and waits until one does. Several hosts may do this at once:
// the services they start settle among themselves which one serves.
void EnsureService(const std::wstring& spool, const std::string& driver, const EngineSettings& settings) {
  if (ServiceRuns(spool)) return;
  if (!CreateDirectoryW(spool.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    throw LastErrorFailure(L"cannot create " + spool);
  const std::wstring script = L"start-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(InterlockedIncrement(&jobCounter)) + L".sh";
  WriteWhole(spool + L"\\" + script, ServiceScript(driver, settings.engine, UnixPath(spool), settings.idleMs),
             CREATE_ALWAYS);
  std::wstring command = L"/bin/sh " + script;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, spool.c_str(),
                      &startup, &process)) {
    DeleteFileW((spool + L"\\" + script).c_str());
    throw LastErrorFailure(L"cannot start /bin/sh");
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (const ULONGLONG start = GetTickCount64(); !ServiceRuns(spool);) {
    if (GetTickCount64() - start > kStartMs) throw Failure(E_FAIL, L"the page service did not start");
    Sleep(kPollMs);
  }
}

std::wstring SpoolFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) throw LastErrorFailure(L"no temporary folder");
  return std::wstring(temp, length) + Widen(kSpoolName);
}

}  // namespace

ServiceCall::ServiceCall(const PageJob& job, const std::string& driver, const EngineSettings& settings)
    : spool_(SpoolFolder()) {
  id_ = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetCurrentThreadId()) + L"-" +
        std::to_wstring(InterlockedIncrement(&jobCounter)) + L"-" + std::to_wstring(GetTickCount());
  try {
    Wait(job, driver, settings);
  } catch (...) {
    RemoveFiles();
    throw;
  }
}

void ServiceCall::Wait(const PageJob& job, const std::string& driver, const EngineSettings& settings) {
  const std::string text = FormatJob(job);
  for (int attempt = 1;; ++attempt) {
    EnsureService(spool_, driver, settings);
    try {
      // A page a service ended before taking is still there for the next one.
      if (!Exists(File(kJobSuffix))) Submit(text);
    } catch (const Failure&) {
      // The service ended and took its folder along just now: start another.
      if (attempt == kAttempts) throw;
      continue;
    }
    const ULONGLONG submitted = GetTickCount64();
    ULONGLONG taken = 0, checked = submitted;
    bool ended = false;
    while (!Exists(File(kStatusSuffix))) {
      const ULONGLONG now = GetTickCount64();
      // Put back the sign of life the service takes away while it draws this page (a folder gone
      // with an ending service shows in the service check below).
      Touch(File(kAliveSuffix));
      if (!taken && !Exists(File(kJobSuffix))) taken = now;
      if (taken && now - taken > job.timeLimitMs + kGraceMs)
        throw Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the page service did not answer in time");
      if (!taken && now - submitted > kQueueMs)
        throw Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the page service never took the page");
      if (now - checked >= kServiceCheckMs) {
        checked = now;
        if (!ServiceRuns(spool_) && !Exists(File(kStatusSuffix))) {
          ended = true;
          break;
        }
      }
      Sleep(kPollMs);
    }
    if (!ended) break;
    // Taken and not answered: the page was being drawn when the service ended. Otherwise it ended
    // before it took the page (an idle end at that very moment): hand the page to the next one.
    if (Exists(File(kTakenSuffix))) throw Failure(E_FAIL, L"the page service ended during the picture");
    if (attempt == kAttempts) throw Failure(E_FAIL, L"the page service keeps ending");
  }
  const std::optional<std::string> status = ReadSmall(File(kStatusSuffix));
  status_ = status ? std::atoi(status->c_str()) : -1;
  // "STATUS REASON\n"
  const size_t space = status ? status->find(' ') : std::string::npos;
  if (space != std::string::npos) reason_ = status->substr(space + 1, status->find('\n') - space - 1);
}

ServiceCall::~ServiceCall() { RemoveFiles(); }

void ServiceCall::RemoveFiles() const noexcept {
  for (const char* suffix : {kJobSuffix, kAliveSuffix, kPictureSuffix, kStatusSuffix})
    DeleteFileW(File(suffix).c_str());
  DeleteFileW((File(kJobSuffix) + L".part").c_str());
}

std::wstring ServiceCall::Picture() const { return File(kPictureSuffix); }

std::wstring ServiceCall::File(const char* suffix) const { return spool_ + L"\\" + id_ + Widen(suffix); }

// Written under another name and renamed, so the service never reads half a page.
void ServiceCall::Submit(const std::string& text) const {
  WriteWhole(File(kAliveSuffix), "", CREATE_ALWAYS);
  const std::wstring part = File(kJobSuffix) + L".part";
  WriteWhole(part, text, CREATE_ALWAYS);
  // Wine may report a failure after the file was moved (and the service already took it on).
  if (!MoveFileW(part.c_str(), File(kJobSuffix).c_str()) && Exists(part))
    throw LastErrorFailure(L"cannot hand the page to the service");
}

}  // namespace browser
