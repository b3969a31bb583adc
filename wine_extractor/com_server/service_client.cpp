#include "wine_extractor/com_server/service_client.h"

#include <bcrypt.h>

#include <optional>

#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/service_finder.h"
#include "wine_extractor/com_server/start_shell.h"
#include "wine_extractor/com_server/windows_file.h"
#include "wine_extractor/protocol/engine_job.h"
#include "win/error.h"
#include "win/kernel_handles.h"

namespace wine_extractor {
namespace {

// How often the answer is looked for: a few milliseconds on a page that takes a hundred.
constexpr DWORD kPollMs = 2;
// How often the service is checked on while the page waits or is drawn.
constexpr ULONGLONG kServiceCheckMs = 50;
// How long a starting service may take to show up.
constexpr ULONGLONG kStartMs = 10000;
// What a page may take beyond its time limit: the service's own watch ends it at the limit.
constexpr ULONGLONG kGraceMs = 2000;
// A page waiting behind others that are drawn is given up after this long.
constexpr ULONGLONG kQueueMs = 600000;

// The service this process used last, and the driver it runs: checked again at each page, but not
// looked for anew.
SRWLOCK knownLock = SRWLOCK_INIT;
std::optional<Service> known;
std::string knownDriver;

// The service to hand the page `job` (its ID) to: the one known, one found, or one started now, which
// waits for that page. Several hosts may start one at once: the services settle among themselves
// which one serves, and replace a frozen one.
Service EnsureService(const std::string& driver, const EngineSettings& settings,
                      const std::optional<ProcessIdentity>& replaced, const std::wstring& job) {
  AcquireSRWLockExclusive(&knownLock);
  struct Release {
    ~Release() { ReleaseSRWLockExclusive(&knownLock); }
  } release;
  if (known && knownDriver == driver && !(replaced && known->identity == *replaced) && Healthy(*known))
    return *known;
  known.reset();
  const SpoolPlaces places(driver, settings);
  if ((known = places.Find(replaced))) {
    knownDriver = driver;
    return *known;
  }
  // Where Wine already shows that no service can start, the picture fails at once.
  if (std::wstring why = places.WhyNot(false); !why.empty())
    throw Failure(E_ACCESSDENIED, L"no folder for the page service: " + why);
  StartShell(ServiceScript(driver, settings.engine, places.Name(), settings.idleMs,
                           std::string(job.begin(), job.end()), settings.parallel));
  for (const ULONGLONG start = GetTickCount64(); !(known = places.Find(replaced));) {
    if (GetTickCount64() - start > kStartMs) {
      const std::wstring why = places.WhyNot(true);
      throw Failure(E_FAIL, L"the page service did not start: " +
                                (why.empty() ? L"its folder and every folder on the way to it must be this user's, "
                                               L"not links, and the folder open to no one else (mode 0700)"
                                             : why));
    }
    Sleep(kPollMs * 5);
  }
  knownDriver = driver;
  return *known;
}

// A job's ID: this process's token, random (a process id repeats across Wine servers sharing one
// meeting folder), and the count of its jobs, which the service answers in that order. Taken
// under `submitLock`, as the page's call begins, so the counts follow the order the calls came in.
SRWLOCK submitLock = SRWLOCK_INIT;
std::wstring hostToken;
uint64_t jobCount = 0;

std::wstring NextJobId() {
  static const wchar_t kHex[] = L"0123456789abcdef";
  if (hostToken.empty()) {
    unsigned char random[kHostTokenChars / 2];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
      throw Failure(E_FAIL, L"no random name for the page");
    for (unsigned char byte : random) {
      hostToken += kHex[byte >> 4];
      hostToken += kHex[byte & 15];
    }
  }
  std::wstring id = hostToken;
  const uint64_t count = ++jobCount;
  for (int shift = int(kSequenceChars) * 4 - 4; shift >= 0; shift -= 4) id += kHex[(count >> shift) & 15];
  return id;
}

// Whether the service is drawing a page now: pages queued behind it wait without a time limit.
bool Drawing(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  const zelnar::FindHandle search(
      FindFirstFileW((folder + L"\\*" + zelnar::WidenAscii(kTakenSuffix)).c_str(), &found));
  return bool(search);
}

}  // namespace

ServiceCall::ServiceCall(const PageJob& job, const std::string& driver, const EngineSettings& settings) {
  try {
    Wait(job, driver, settings);
  } catch (...) {
    RemoveFiles();
    throw;
  }
}

void ServiceCall::Wait(const PageJob& job, const std::string& driver, const EngineSettings& settings) {
  const std::string text = FormatJob(job);
  const ULONGLONG begin = GetTickCount64();
  std::optional<ProcessIdentity> replaced;
  {
    AcquireSRWLockExclusive(&submitLock);
    struct Release {
      ~Release() { ReleaseSRWLockExclusive(&submitLock); }
    } release;
    id_ = NextJobId();
  }
  for (;;) {
    const Service service = EnsureService(driver, settings, replaced, id_);
    if (!folder_.empty() && folder_ != service.folder) RemoveFiles();
    folder_ = service.folder;
    try {
      Submit(text);
    } catch (const Failure&) {
      // The service ended and took its folder along just now: the next one gets the page.
      replaced = service.identity;
      if (GetTickCount64() - begin > job.timeLimitMs + kGraceMs) throw;
      continue;
    }
    const ULONGLONG submitted = GetTickCount64();
    ULONGLONG taken = 0, checked = submitted;
    bool ended = false;
    while (!Exists(File(kStatusSuffix))) {
      const ULONGLONG now = GetTickCount64();
      // Only the answer is looked for every few milliseconds: the rest, every 50 ms, so that hosts
      // waiting side by side do not keep the machine busy with their polling.
      if (now - checked >= kServiceCheckMs) {
        checked = now;
        if (!Healthy(service) && !Exists(File(kStatusSuffix))) {
          ended = true;
          break;
        }
        // Put back the sign of life the service takes away while it draws this page.
        Touch(File(kAliveSuffix));
        if (!taken && !Exists(File(kJobSuffix))) taken = now;
      }
      if (taken && now - taken > job.timeLimitMs + kGraceMs)
        throw Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the page service did not answer in time");
      if (!taken && now - submitted > job.timeLimitMs + kGraceMs && !Drawing(folder_)) {
        // Idle, yet it does not take the page: given up on like a frozen one.
        ended = true;
        break;
      }
      if (!taken && now - submitted > kQueueMs)
        throw Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the page service never took the page");
      Sleep(kPollMs);
    }
    if (!ended) break;
    // Taken and not answered: the page was being drawn when the service ended or froze. Otherwise
    // it went before it took the page: hand the page to the next one.
    if (taken || Exists(File(kTakenSuffix))) throw Failure(E_FAIL, L"the page service ended or froze during the picture");
    replaced = service.identity;
    if (GetTickCount64() - begin > job.timeLimitMs + kGraceMs) throw Failure(E_FAIL, L"the page service keeps ending");
  }
  const std::optional<std::string> answer = ReadSmall(File(kStatusSuffix), kMaxStatusBytes);
  if (!answer) throw Failure(E_FAIL, L"the page service's status file is missing or empty: " + File(kStatusSuffix));
  std::optional<PageStatus> status = ParseStatus(*answer);
  if (!status) throw Failure(E_FAIL, L"the page service's status file cannot be read: " + File(kStatusSuffix));
  answer_ = std::move(*status);
}

ServiceCall::~ServiceCall() { RemoveFiles(); }

void ServiceCall::RemoveFiles() const noexcept {
  if (folder_.empty() || id_.empty()) return;
  for (const char* suffix : {kJobSuffix, kAliveSuffix, kPictureSuffix, kStatusSuffix})
    DeleteFileW(File(suffix).c_str());
  DeleteFileW((File(kJobSuffix) + L".part").c_str());
}

std::wstring ServiceCall::Picture() const { return File(kPictureSuffix); }

std::wstring ServiceCall::File(const char* suffix) const { return folder_ + L"\\" + id_ + zelnar::WidenAscii(suffix); }

// Written under another name and renamed, so the service never reads half a page. The sign of life
// comes first: a service that is ending leaves a folder that holds it.
void ServiceCall::Submit(const std::string& text) const {
  WriteWhole(File(kAliveSuffix), "", CREATE_ALWAYS);
  const std::wstring part = File(kJobSuffix) + L".part";
  WriteWhole(part, text, CREATE_ALWAYS);
  // Wine may report a failure after the file was moved (and the service already took it on).
  if (!MoveFileExW(part.c_str(), File(kJobSuffix).c_str(), MOVEFILE_REPLACE_EXISTING) && Exists(part))
    throw LastErrorFailure(L"cannot hand the page to the service");
}

}  // namespace wine_extractor
