#include "wine_extractor/com_server/service_client.h"

#include <bcrypt.h>

#include <optional>

#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/service_finder.h"
#include "wine_extractor/com_server/start_shell.h"
#include "wine_extractor/com_server/windows_file.h"
#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/protocol/queue_report.h"
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
// A waiting page whose place in the queue has not moved for this long is given up: longer than any
// page ahead of it may be drawn, the service takes no more pages.
constexpr ULONGLONG kQueueStillMs = kMaxTimeLimitMs + 60000;

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
                                (why.empty() ? L"every folder from / down to its folder must be root's or this user's "
                                               L"and writable by no one else, its group included, and the folder "
                                               L"open to no one else (mode 0700); the page driver names the one "
                                               L"that fails on the host's standard error"
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

// Where a page stands in its service, as far as what was read of it while the service was alive tells.
class PageWatch {
 public:
  PageWatch(const Service& service, ULONGLONG now) : service_(service), beatSeen_(now), moved_(now) {}

  enum class Verdict { kOn, kEnded, kFrozen };
  // One look through the service's own folder, whose word counts only while the service is proven
  // there after the look: a file missing from a dead service's folder proves nothing. A process that
  // is ending may still show as running after its folder is gone from it; once its folder is
  // reached after the look, it was there during the look. `job` is the page's job file.
  Verdict Look(const std::wstring& job, const std::string& id, ULONGLONG now) {
    const std::optional<std::string> text = ReadSmall(service_.folder + L"\\" + zelnar::WidenAscii(kQueueName), kMaxQueueBytes);
    const bool waiting = Exists(job);
    // Opened, not looked at: the name of a process's folder stays in /proc while the folder is gone.
    const bool reached = IdentityOf(service_.folder).has_value();
    const ProcessState state = StateOf(service_.identity);
    if (!reached || state == ProcessState::kGone) return Verdict::kEnded;
    std::optional<QueueReport> report = text ? ParseQueue(*text) : std::nullopt;
    if (report && !(report->service == service_.identity)) report.reset();
    if (report && report->beat != beat_) {
      beat_ = report->beat;
      beatSeen_ = now;
    }
    const JobPlace* place = report ? report->Find(id) : nullptr;
    // Its job renamed away, the page is the service's: from then on its time limit counts.
    if (!drawnSince_ && (!waiting || (place && place->stage != JobStage::kWaiting))) drawnSince_ = now;
    if (place && place->stage == JobStage::kWaiting && place->ahead < ahead_) {
      ahead_ = place->ahead;
      moved_ = now;
    }
    // A stopped service's folder still tells whether it had taken the page; it draws no more.
    if (state == ProcessState::kStopped) return Verdict::kEnded;
    // Silent for long while not even waiting for a processor: its loop no longer runs.
    if (now - beatSeen_ > ULONGLONG(kServiceFrozenMs) && state != ProcessState::kRunnable) return Verdict::kFrozen;
    if (!drawnSince_ && now - moved_ > kQueueStillMs)
      throw Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the page service never took the page");
    return Verdict::kOn;
  }
  // Since when the page is drawn; 0 while it waits.
  ULONGLONG DrawnSince() const noexcept { return drawnSince_; }

 private:
  Service service_;
  std::optional<uint64_t> beat_;
  ULONGLONG beatSeen_, moved_, drawnSince_ = 0;
  uint32_t ahead_ = UINT32_MAX;
};

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
  bool handedOn = false;
  {
    AcquireSRWLockExclusive(&submitLock);
    struct Release {
      ~Release() { ReleaseSRWLockExclusive(&submitLock); }
    } release;
    id_ = NextJobId();
  }
  const std::string id(id_.begin(), id_.end());
  for (;;) {
    const Service service = EnsureService(driver, settings, replaced, id_);
    // A page handed on may already be in the next service's folder (most often the same folder): its
    // job, or taken by it (a killed service's taken jobs are cleared before the next one shows), or
    // answered.
    bool held = false;
    for (const char* suffix : {kJobSuffix, kTakenSuffix, kStatusSuffix})
      held = held || (handedOn && Exists(service.folder + L"\\" + id_ + zelnar::WidenAscii(suffix)));
    if (!held && !folder_.empty() && folder_ != service.folder) RemoveFiles();
    folder_ = service.folder;
    try {
      if (!held) Submit(text);
    } catch (const Failure&) {
      // The service ended and took its folder along just now: the next one gets the page.
      replaced = service.identity;
      if (GetTickCount64() - begin > job.timeLimitMs + kGraceMs) throw;
      continue;
    }
    PageWatch watch(service, GetTickCount64());
    ULONGLONG checked = GetTickCount64();
    PageWatch::Verdict verdict = PageWatch::Verdict::kOn;
    while (!Exists(File(kStatusSuffix))) {
      const ULONGLONG now = GetTickCount64();
      // Only the answer is looked for every few milliseconds: the rest, every 50 ms, so that hosts
      // waiting side by side do not keep the machine busy with their polling.
      if (now - checked >= kServiceCheckMs) {
        checked = now;
        // Put back the sign of life the service takes away while it draws this page.
        Touch(File(kAliveSuffix));
        if ((verdict = watch.Look(File(kJobSuffix), id, now)) != PageWatch::Verdict::kOn) break;
      }
      // A page waiting its turn has no time limit while its service lives: only a page being drawn.
      if (watch.DrawnSince() && now - watch.DrawnSince() > job.timeLimitMs + kGraceMs)
        throw Failure(HRESULT_FROM_WIN32(ERROR_TIMEOUT), L"the page service did not answer in time");
      Sleep(kPollMs);
    }
    if (verdict == PageWatch::Verdict::kOn) break;
    // Taken and not answered: the page was being drawn when the service ended or froze. Otherwise it
    // went before it took the page: the next one gets it, once.
    if (watch.DrawnSince()) throw Failure(E_FAIL, L"the page service ended or froze during the picture");
    if (handedOn) throw Failure(E_FAIL, L"the page service keeps ending");
    handedOn = true;
    replaced = service.identity;
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
