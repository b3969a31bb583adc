// The process's lead-byte set: computed once while the module loads, from the loading thread's locale,
// and only read afterwards.
#pragma once

#include <windows.h>

#include "filter/lead_byte_set.h"

namespace zelnar {

const LeadByteSet& ProcessLeadBytes() noexcept;

// The set for a thread locale (0 counts as 0x0409): empty for the western languages on the NT family
// and when the other family reports no DBCS support; otherwise the lead-byte ranges of the locale's
// default ANSI code page.
LeadByteSet ComputeLeadByteSet(LCID threadLocale) noexcept;

}  // namespace zelnar
