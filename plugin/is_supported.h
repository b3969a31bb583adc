// The one judgement behind the IsSupported entry points: every one of them hands it an ANSI path.
#pragma once

namespace zelnar {

// 1 when the stored pattern list claims the file-name part of `path` (ANSI code page), 0 otherwise,
// also for a null path, an invalid entry that the name reaches, or memory running out. Never raises.
int ClaimsFile(const char* path) noexcept;

}  // namespace zelnar
