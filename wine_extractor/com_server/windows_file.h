// The few file operations the extractor needs to talk to the page service, a Linux program, through
// small files in its spool folder.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace wine_extractor {

// An ASCII name as a wide one.
std::wstring Widen(const char* ascii);

bool Exists(const std::wstring& path);

// Up to the first `maxBytes` of a file; none when it cannot be read or is empty.
std::optional<std::string> ReadSmall(const std::wstring& path, size_t maxBytes = 1024);

// Writes `bytes` as the whole file; `creation` is CreateFileW's (CREATE_NEW, CREATE_ALWAYS). Raises
// Failure.
void WriteWhole(const std::wstring& path, const std::string& bytes, DWORD creation);

// Creates an empty file where none is; a failure only means the other side sees none.
void Touch(const std::wstring& path) noexcept;

// Starts `/bin/sh -c SCRIPT` (UTF-8) through Wine, which starts Linux programs but whose handle does
// not follow them: the script's own files tell when it ends. The script travels on the command line,
// so nothing is ever read from a folder. Raises Failure.
void StartShell(const std::string& script);

}  // namespace wine_extractor
