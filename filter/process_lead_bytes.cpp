// Lead bytes from the loading thread's locale. Western languages on the NT family never use a double-byte
// code page, so their set stays empty without asking for the code page.
#include "filter/process_lead_bytes.h"

#include <cstdlib>

namespace zelnar {
namespace {

constexpr LCID kFallbackLocale = 0x0409;
constexpr WORD kSingleByteLanguages[] = {0x00, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x10, 0x13, 0x14, 0x16, 0x1D};

bool IsNtFamily() noexcept {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  // Deprecated, but the platform identifier it reports is all that is read here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL ok = GetVersionExA(&version);
#pragma GCC diagnostic pop
  return ok && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The locale's default ANSI code page; GetACP when the locale's text is no number.
UINT DefaultAnsiCodePage(LCID locale) noexcept {
  char text[16] = {};
  if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text) > 0) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end != text && *end == '\0') return static_cast<UINT>(value);
  }
  return GetACP();
}

void AddLeadByteRanges(UINT codePage, LeadByteSet& set) noexcept {
  CPINFO info{};
  if (!GetCPInfo(codePage, &info)) return;
  for (int i = 0; i + 1 < MAX_LEADBYTES; i += 2) {
    const BYTE first = info.LeadByte[i];
    const BYTE last = info.LeadByte[i + 1];
    if (first == 0 && last == 0) break;
    set.AddRange(first, last);
  }
}

const LeadByteSet processLeadBytes = ComputeLeadByteSet(GetThreadLocale());

}  // namespace

LeadByteSet ComputeLeadByteSet(LCID threadLocale) noexcept {
  LeadByteSet set{};
  const LCID locale = threadLocale ? threadLocale : kFallbackLocale;
  const WORD language = PRIMARYLANGID(LANGIDFROMLCID(locale));
  if (IsNtFamily()) {
    for (WORD western : kSingleByteLanguages)
      if (language == western) return set;
  } else if (GetSystemMetrics(SM_DBCSENABLED) == 0) {
    return set;
  }
  AddLeadByteRanges(DefaultAnsiCodePage(locale), set);
  return set;
}

const LeadByteSet& ProcessLeadBytes() noexcept { return processLeadBytes; }

}  // namespace zelnar
