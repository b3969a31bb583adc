#include "wine_extractor/com_server/service_finder.h"

#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/wine_paths.h"
#include "wine_extractor/protocol/page_job.h"
#include "win/error.h"
#include "win/text_conversion.h"

namespace wine_extractor {
namespace {

// A process's environment, as /proc holds it, may be this long.
constexpr size_t kEnvironmentBytes = 1 << 20;

// Wine reads /proc for us (the entry of another process reads the same from anywhere).
std::optional<std::string> ReadProc(const std::string& path, size_t limit = 1024) {
  try {
    return ReadSmall(WindowsPath(path), limit);
  } catch (const Failure&) {
    return std::nullopt;
  }
}

std::optional<FileIdentity> IdentityOfUnix(const std::string& path) {
  try {
    return IdentityOf(WindowsPath(path));
  } catch (const Failure&) {
    return std::nullopt;
  }
}

// The real user id on the "Uid:" line of /proc/PID/status.
std::optional<std::string> UserOf(const std::string& pid) {
  const std::optional<std::string> text = ReadProc("/proc/" + pid + "/status", 4096);
  const size_t at = text ? text->find("\nUid:") : std::string::npos;
  if (at == std::string::npos) return std::nullopt;
  const size_t start = text->find_first_of("0123456789", at);
  const size_t end = start == std::string::npos ? start : text->find_first_not_of("0123456789", start);
  if (end == std::string::npos) return std::nullopt;
  return text->substr(start, end - start);
}

// The service `spool`'s `service` file names, when it is what a service of ours is: a running
// process of this account whose program is the file `driver` and whose current folder is the spool.
std::optional<Service> Verify(const std::wstring& spool, const FileIdentity& driver) {
  const std::optional<std::string> text = ReadSmall(spool + L"\\" + zelnar::WidenAscii(kServiceName));
  const std::optional<ProcessIdentity> named = text ? ParseIdentity(*text) : std::nullopt;
  if (!named || !Alive(StateOf(*named))) return std::nullopt;
  const std::string pid = std::to_string(named->pid);
  const std::optional<std::string> user = UserOf(pid), self = UserOf("self");
  if (!user || !self || *user != *self) return std::nullopt;
  const std::optional<FileIdentity> program = IdentityOfUnix("/proc/" + pid + "/exe");
  const std::optional<FileIdentity> folder = IdentityOfUnix("/proc/" + pid + "/cwd"), here = IdentityOf(spool);
  if (!program || !(*program == driver) || !folder || !here || !(*folder == *here)) return std::nullopt;
  // Read last: the process could have ended and its number been taken meanwhile.
  if (!Alive(StateOf(*named))) return std::nullopt;
  // The page's files go through the service's own current folder, which Wine resolves: a name on the
  // way that someone else could point elsewhere later (a runtime folder not the user's) never counts.
  try {
    return Service{*named, WindowsPath("/proc/" + pid + "/cwd")};
  } catch (const Failure&) {
    return std::nullopt;
  }
}

// What Wine shows of a folder: whether it is there, a folder, a link. Whose it is and its mode, it
// does not tell.
FolderFacts FactsOf(const std::string& path) {
  FolderFacts facts;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  try {
    attributes = GetFileAttributesW(WindowsPath(path).c_str());
  } catch (const Failure&) {
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return facts;
  facts.exists = true;
  facts.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return facts;
}

// What Wine shows wrong on `way` to the spool `name`, as "PATH WHAT"; empty when nothing. A folder
// that is missing is made on the way, so it is no fault.
std::string VisibleFault(const FolderWay& way, const std::string& name) {
  FolderFacts base = FactsOf(way.base);
  if (way.baseIsHome) base.link = false;
  if (std::string wrong = WhatIsWrong(base, false); !wrong.empty()) return way.base + " " + wrong;
  for (size_t i = 0; i <= way.steps.size(); ++i) {
    const std::string path = i == way.steps.size() ? way.Path() + "/" + name : way.StepPath(i);
    const FolderFacts facts = FactsOf(path);
    if (!facts.exists) return "";
    if (std::string wrong = WhatIsWrong(facts, true); !wrong.empty()) return path + " " + wrong;
  }
  return "";
}

}  // namespace

ProcessState StateOf(const ProcessIdentity& identity) {
  const std::optional<std::string> line = ReadProc("/proc/" + std::to_string(identity.pid) + "/stat");
  const std::optional<ProcStat> stat = line ? ParseProcStat(*line) : std::nullopt;
  if (!stat || !(stat->identity == identity) || stat->state == 'Z' || stat->state == 'X') return ProcessState::kGone;
  // Stopped (kill -STOP) or held by a debugger: it will not draw.
  if (stat->state == 'T' || stat->state == 't') return ProcessState::kStopped;
  return stat->state == 'R' ? ProcessState::kRunnable : ProcessState::kWaiting;
}

bool Healthy(const Service& service) {
  const ProcessState state = StateOf(service.identity);
  if (!Alive(state)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (state == ProcessState::kRunnable ||
      !GetFileAttributesExW((service.folder + L"\\" + zelnar::WidenAscii(kServiceName)).c_str(), GetFileExInfoStandard, &data))
    return true;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG beat = (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  const ULONGLONG current = (ULONGLONG(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return current < beat || (current - beat) / 10000 < ULONGLONG(kServiceFrozenMs);
}

SpoolPlaces::SpoolPlaces(const std::string& driver, const EngineSettings& settings) : name_(SpoolName(driver)) {
  const std::optional<FileIdentity> program = IdentityOfUnix(driver);
  if (!program) throw Failure(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"the page driver is missing");
  driver_ = *program;
  // Wine keeps HOME from the Windows side, but passes it on to the Linux programs it starts.
  const std::optional<std::string> environment = ReadProc("/proc/self/environ", kEnvironmentBytes);
  const std::optional<std::string> home = environment ? EnvironmentValue(*environment, "HOME") : std::nullopt;
  for (const std::optional<FolderWay>& way :
       {RuntimeWay(settings.runtimeDir), CacheWay(settings.cacheHome, home ? *home : "")}) {
    if (!way) continue;
    try {
      spools_.push_back(WindowsPath(way->Path() + "/" + name_));
      ways_.push_back(*way);
    } catch (const Failure&) {
    }
  }
  if (ways_.empty())
    throw Failure(E_FAIL, L"no folder for the page service: XDG_RUNTIME_DIR, XDG_CACHE_HOME and HOME name none");
}

std::optional<Service> SpoolPlaces::Find(const std::optional<ProcessIdentity>& replaced) const {
  for (const std::wstring& spool : spools_) {
    if (!Exists(spool)) continue;
    std::optional<Service> service = Verify(spool, driver_);
    if (service && !(replaced && service->identity == *replaced) && Healthy(*service)) return service;
  }
  return std::nullopt;
}

std::wstring SpoolPlaces::WhyNot(bool all) const {
  std::string why;
  for (size_t i = 0; i < ways_.size(); ++i) {
    const std::string fault = VisibleFault(ways_[i], name_);
    // A runtime folder that is not private gives way to the cache's: its fault alone is none.
    if (fault.empty() && !all) return L"";
    if (!fault.empty()) why += (why.empty() ? "" : "; ") + fault;
  }
  return zelnar::WidenUtf8Replacing(why);
}

}  // namespace wine_extractor
