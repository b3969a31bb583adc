#include "wine_extractor/com_server/windows_file.h"

#include <algorithm>

#include "wine_extractor/com_server/failure.h"
#include "win/kernel_handles.h"

namespace wine_extractor {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> ReadSmall(const std::wstring& path, size_t maxBytes) {
  zelnar::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  // Files of /proc come in pieces: read until the end or `maxBytes`.
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (text.size() < maxBytes && ReadFile(file.Get(), buffer, DWORD(std::min(sizeof buffer, maxBytes - text.size())),
                                         &read, nullptr) && read > 0)
    text.append(buffer, read);
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<FileIdentity> IdentityOf(const std::wstring& path) {
  zelnar::FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information;
  if (!file || !GetFileInformationByHandle(file.Get(), &information)) return std::nullopt;
  return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

void WriteWhole(const std::wstring& path, const std::string& bytes, DWORD creation) {
  zelnar::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw LastErrorFailure(L"cannot create " + path);
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) || written != bytes.size() ||
      !file.Reset())
    throw LastErrorFailure(L"cannot write " + path);
}

void Touch(const std::wstring& path) noexcept {
  if (Exists(path)) return;
  zelnar::FileHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace wine_extractor
