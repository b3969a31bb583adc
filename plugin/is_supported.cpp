// IsSupported: whether the plug-in claims a file, judged by the file-name part of its path alone.
#include <windows.h>

#include <memory>
#include <string_view>

#include "plugin/exports.h"
#include "plugin/is_supported.h"
#include "filter/compiled_pattern_list.h"
#include "filter/file_name_part.h"
#include "filter/process_lead_bytes.h"
#include "settings/settings_record.h"
#include "win/debug_trace.h"

namespace zelnar {

int ClaimsFile(const char* path) noexcept {
  if (!path) return 0;
  try {
    // The snapshot keeps the list that was stored when the call began alive and unchanged to the end
    // of the call, whatever the dialog stores meanwhile.
    const std::shared_ptr<const CompiledPatternList> list = ReadCompiledPatternList();
    const std::string_view part = FileNamePart(path, ProcessLeadBytes());
    return list->Claims(part.data(), part.size()) ? 1 : 0;
  } catch (...) {
    // Memory running out while a list is compiled for the first time: the file is not claimed. The
    // host is told nothing; a debugger is.
    const TraceScope scope(L"IsSupported");
    TraceError(std::current_exception());
    return 0;
  }
}

}  // namespace zelnar

extern "C" int __stdcall IsSupported(const char* name, DWORD_PTR) noexcept { return zelnar::ClaimsFile(name); }
