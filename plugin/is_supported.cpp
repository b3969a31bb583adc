// IsSupported and IsSupportedW: whether the plug-in claims a file, judged by the file-name part of its
// path alone.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "filter/compiled_pattern_list.h"
#include "filter/file_name_part.h"
#include "filter/process_lead_bytes.h"
#include "plugin/exports.h"
#include "settings/settings_reader.h"
#include "win/ansi_name.h"
#include "win/debug_trace.h"

namespace {

// Room for the longest name a file system takes (255 UTF-16 units) in any code page, and more.
constexpr int kNameBytes = 1024;

// The part behind the last '\' or ':'. In UTF-16 no unit of another character looks like either, so
// this is the part that the ANSI form finds in the same path converted.
std::wstring_view WideFileNamePart(const wchar_t* path) noexcept {
  const wchar_t* part = path;
  const wchar_t* p = path;
  for (; *p; ++p)
    if (*p == L'\\' || *p == L':') part = p + 1;
  return std::wstring_view(part, size_t(p - part));
}

}  // namespace

extern "C" int __stdcall IsSupported(const char* name, DWORD_PTR) noexcept {
  const zelnar::TraceScope scope(L"IsSupported");
  if (!name) return 0;
  try {
    // The snapshot keeps the list that was stored when the call began alive and unchanged to the end
    // of the call, whatever the dialog stores meanwhile.
    const std::shared_ptr<const zelnar::CompiledPatternList> list = zelnar::ReadCompiledPatternList();
    const std::string_view part = zelnar::FileNamePart(name, zelnar::ProcessLeadBytes());
    return list->Claims(part.data(), part.size()) ? 1 : 0;
  } catch (...) {
    // Memory running out while a list is compiled for the first time: the file is not claimed. The
    // host is told nothing; a debugger is.
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}

extern "C" int __stdcall IsSupportedW(const wchar_t* name, DWORD_PTR) noexcept {
  const zelnar::TraceScope scope(L"IsSupportedW");
  if (!name) return 0;
  try {
    const std::shared_ptr<const zelnar::CompiledPatternList> list = zelnar::ReadCompiledPatternList();
    // Only the name part is converted, on the stack: the folders cannot change the answer.
    const std::wstring_view part = WideFileNamePart(name);
    char bytes[kNameBytes];
    const int length = zelnar::NarrowNameExactly(part, bytes, kNameBytes - 1);
    if (length >= 0) {
      bytes[length] = '\0';
      return list->Claims(bytes, size_t(length)) ? 1 : 0;
    }
    // A character outside the code page becomes one '?', which only a wildcard matches: a name is
    // claimed for the extension it has, never for a look-alike of one.
    const std::string narrow = zelnar::NarrowNameToAnsi(part);
    return list->Claims(narrow.c_str(), narrow.size()) ? 1 : 0;
  } catch (...) {
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}
