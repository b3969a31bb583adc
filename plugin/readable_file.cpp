#include "plugin/readable_file.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "win/kernel_handles.h"

namespace zelnar {
namespace {

// A path of MAX_PATH characters or more opens only in its "\\?\" form, which in turn skips the usual
// clean-up ('/' to '\', "..", trailing dots): so the full path is made first, then prefixed.
std::wstring OpenableForm(const wchar_t* path) {
  if (std::wcslen(path) < MAX_PATH) return path;
  if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) return path;
  const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path, needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace

bool NamesReadableFile(const wchar_t* path) noexcept {
  if (!path || !*path) return false;
  try {
    const std::wstring openable = OpenableForm(path);
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open; others may keep writing the file.
    FileHandle file(CreateFileW(openable.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    // A console, pipe or other device is no page to render.
    return GetFileType(file.Get()) == FILE_TYPE_DISK;
  } catch (...) {
    return false;  // memory ran out while the long form was built
  }
}

}  // namespace zelnar
