#include "tools/browser_extractor/call_folder.h"

#include <cstdlib>

#include "tools/browser_extractor/engine_job.h"
#include "tools/browser_extractor/failure.h"
#include "tools/browser_extractor/proc_stat.h"
#include "tools/browser_extractor/windows_file.h"

namespace browser {
namespace {

// Short enough to add little to a 0.3 s render, long enough to leave the cores to the engine.
constexpr DWORD kPollMs = 5;
constexpr int kNameAttempts = 100;
constexpr char kStatusPart[] = "status.part";

LONG callCounter = 0;

constexpr wchar_t kPrefix[] = L"zelnar-browser-";

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      // A link is removed, never followed.
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveTree(path);
      else if (!DeleteFileW(path.c_str()))
        RemoveDirectoryW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

// This process: its id and when it started, so that a later process with the same id is not taken
// for it.
ProcessIdentity Self() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) created = {};
  return {GetCurrentProcessId(), (uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime};
}

bool IsAlive(const ProcessIdentity& owner) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(owner.pid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;  // another account's: not ours to judge
  FILETIME created, exited, kernel, user;
  DWORD code = 0;
  const bool alive = GetProcessTimes(process, &created, &exited, &kernel, &user) &&
                     GetExitCodeProcess(process, &code) && code == STILL_ACTIVE &&
                     ((uint64_t(created.dwHighDateTime) << 32) | created.dwLowDateTime) == owner.start;
  CloseHandle(process);
  return alive;
}

// The owner a call folder's name carries: "zelnar-browser-PID-START-N-TICK".
std::optional<ProcessIdentity> OwnerOf(const std::wstring& name) {
  if (name.compare(0, wcslen(kPrefix), kPrefix) != 0) return std::nullopt;
  std::string rest;
  for (size_t i = wcslen(kPrefix); i < name.size(); ++i) {
    if (name[i] > 0x7F) return std::nullopt;
    rest += char(name[i]);
  }
  const size_t first = rest.find('-');
  const size_t second = first == std::string::npos ? first : rest.find('-', first + 1);
  if (second == std::string::npos || rest.find('-', second + 1) == std::string::npos) return std::nullopt;
  return ParseIdentity(rest.substr(0, first) + " " + rest.substr(first + 1, second - first - 1));
}

// Folders of owners that are gone. A folder whose owner lives is never touched: its call may run.
void RemoveOrphans(const std::wstring& temp) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((temp + kPrefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    const std::optional<ProcessIdentity> owner = OwnerOf(found.cFileName);
    if (owner && !IsAlive(*owner)) RemoveTree(temp + found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// The status file's number; none while it cannot be read or holds no number.
std::optional<int> ReadStatus(const std::wstring& path) {
  const std::optional<std::string> text = ReadSmall(path);
  if (!text) return std::nullopt;
  char* end = nullptr;
  const long status = std::strtol(text->c_str(), &end, 10);
  if (end == text->c_str()) return std::nullopt;
  return int(status);
}

}  // namespace

CallFolder::CallFolder() {
  const ProcessIdentity owner = Self();
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) throw LastErrorFailure(L"no temporary folder");
  RemoveOrphans(std::wstring(temp, length));
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::wstring candidate = std::wstring(temp, length) + kPrefix + std::to_wstring(owner.pid) + L"-" +
                                   std::to_wstring(owner.start) + L"-" +
                                   std::to_wstring(InterlockedIncrement(&callCounter)) + L"-" +
                                   std::to_wstring(GetTickCount());
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      ShowAlive();
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw LastErrorFailure(L"cannot create a folder in " + std::wstring(temp));
  }
  throw Failure(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), L"no free folder name in the temporary folder");
}

CallFolder::~CallFolder() {
  if (abandoned_) return;
  for (const char* name : {kScriptName, kPictureName, kStatusPart, kStatusName, kAliveName, kLogName})
    DeleteFileW(File(name).c_str());
  if (!RemoveDirectoryW(path_.c_str())) {
    const std::wstring text = L"zelnar browser extractor: cannot remove " + path_ + L"\n";
    OutputDebugStringW(text.c_str());
  }
}

std::wstring CallFolder::File(const char* name) const { return path_ + L"\\" + Widen(name); }

void CallFolder::Write(const char* name, const std::string& bytes) const {
  WriteWhole(File(name), bytes, CREATE_NEW);
}

std::optional<int> CallFolder::WaitForStatus(DWORD waitMs) const {
  // Under Wine the process handle of a Linux program does not follow it; the file is the only sign.
  const std::wstring status = File(kStatusName);
  const ULONGLONG start = GetTickCount64();
  for (;;) {
    if (Exists(status)) return ReadStatus(status);
    ShowAlive();
    if (GetTickCount64() - start > waitMs) return std::nullopt;
    Sleep(kPollMs);
  }
}

void CallFolder::ShowAlive() const { Touch(File(kAliveName)); }

void CallFolder::Abandon() noexcept {
  abandoned_ = true;
  const std::wstring marker = File(kAbandonedName);
  Touch(marker);
  // The script may have finished meanwhile, before it could see the mark: then clean up here.
  if (Exists(File(kStatusName))) {
    abandoned_ = false;
    DeleteFileW(marker.c_str());
  }
}

}  // namespace browser
