// IsSupported: whether the plug-in claims a file, judged by the file-name part of its path alone.
#include <windows.h>

#include <string>

#include "plugin/exports.h"
#include "filter/file_name_part.h"
#include "filter/pattern_list.h"
#include "filter/process_lead_bytes.h"
#include "settings/settings_record.h"
#include "win/debug_trace.h"

extern "C" int __stdcall IsSupported(const char* name, DWORD_PTR) noexcept {
  if (!name) return 0;
  try {
    // A private copy: the scan writes over its separators.
    std::string list = zelnar::ReadPatternList();
    const zelnar::LeadByteSet& leadBytes = zelnar::ProcessLeadBytes();
    const char* part = zelnar::FindFileNamePart(name, leadBytes);
    return zelnar::MatchesPatternList(part, list.data(), leadBytes) ? 1 : 0;
  } catch (...) {
    // A bad pattern in the stored list, or memory running out: the file is not claimed. The host is
    // told nothing; a debugger is.
    const zelnar::TraceScope scope(L"IsSupported");
    zelnar::TraceError(std::current_exception());
    return 0;
  }
}
