#include "wine_extractor/com_server/call_folder.h"

#include <bcrypt.h>

#include <cstdlib>

#include "wine_extractor/protocol/engine_job.h"
#include "wine_extractor/com_server/failure.h"
#include "wine_extractor/com_server/windows_file.h"

namespace wine_extractor {
namespace {

// Short enough to add little to a 0.3 s render, long enough to leave the cores to the engine.
constexpr DWORD kPollMs = 5;
// How long the script may take to make the folder: starting a shell, on a busy machine.
constexpr ULONGLONG kAppearMs = 10000;
constexpr char kStatusPart[] = "status.part";

constexpr wchar_t kPrefix[] = L"zelnar-browser-";

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
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) throw LastErrorFailure(L"no temporary folder");
  unsigned char random[16];
  if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw Failure(E_FAIL, L"no random name for the call's folder");
  static const wchar_t kHex[] = L"0123456789abcdef";
  path_ = std::wstring(temp, length) + kPrefix;
  for (unsigned char byte : random) {
    path_ += kHex[byte >> 4];
    path_ += kHex[byte & 15];
  }
}

CallFolder::~CallFolder() {
  if (abandoned_) return;
  for (const char* name : {kPictureName, kStatusPart, kStatusName, kAliveName, kLogName, kCallLockName})
    DeleteFileW(File(name).c_str());
  if (!RemoveDirectoryW(path_.c_str())) {
    const std::wstring text = L"zelnar browser extractor: cannot remove " + path_ + L"\n";
    OutputDebugStringW(text.c_str());
  }
}

std::wstring CallFolder::File(const char* name) const { return path_ + L"\\" + Widen(name); }

std::optional<int> CallFolder::WaitForStatus(DWORD waitMs) const {
  // Under Wine the process handle of a Linux program does not follow it; the file is the only sign.
  const std::wstring status = File(kStatusName);
  const ULONGLONG start = GetTickCount64();
  for (bool made = false;;) {
    if (Exists(status)) return ReadStatus(status);
    // The sign of life goes only into the folder the script made: never one made before it.
    made = made || Exists(path_);
    if (made) ShowAlive();
    if (!made && GetTickCount64() - start > kAppearMs)
      throw Failure(E_FAIL, L"the render script did not make its folder (its name exists already, or the temporary "
                            L"folder cannot be written)");
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

}  // namespace wine_extractor
