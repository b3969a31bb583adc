// The few file operations the extractor needs to talk to the page service, a Linux program, through
// small files in its spool folder.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace wine_extractor {

bool Exists(const std::wstring& path);

// Up to the first `maxBytes` of a file; none when it cannot be read or is empty.
std::optional<std::string> ReadSmall(const std::wstring& path, size_t maxBytes = 1024);

// A file or folder as Wine tells one from another: its drive's serial number and its inode (Wine
// gives no device number). None when it cannot be opened.
struct FileIdentity {
  DWORD volume = 0, high = 0, low = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && high == other.high && low == other.low;
  }
};
std::optional<FileIdentity> IdentityOf(const std::wstring& path);

// Writes `bytes` as the whole file; `creation` is CreateFileW's (CREATE_NEW, CREATE_ALWAYS). Raises
// Failure.
void WriteWhole(const std::wstring& path, const std::string& bytes, DWORD creation);

// Creates an empty file where none is; a failure only means the other side sees none.
void Touch(const std::wstring& path) noexcept;

}  // namespace wine_extractor
