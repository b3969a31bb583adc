// The engine's memory against the ceiling of the pages it draws. Over the ceiling, the page that grew
// fails, not the pages beside it: each page lives in a renderer process of its own (contexts never
// share one), and the engine says no more of which process draws which page. So when ending the
// largest renderer alone brings the engine back under its ceiling, that renderer is ended, and the
// page it drew fails as its renderer crashes; otherwise the engine as a whole is over. Linux only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "wine_extractor/page_driver/engine_process.h"

namespace wine_extractor {

struct MemoryVerdict {
  enum class What { kUnder, kRendererEnded, kEngineOver } what = What::kUnder;
  std::string why;
};

// Looks at the engine once and ends the renderer that grew when that is enough.
MemoryVerdict WatchMemory(const EngineProcess& engine, uint64_t ceiling);

// The resident bytes of the engine's largest renderer; 0 when it has none.
uint64_t LargestRendererBytes(const EngineProcess& engine);

// Whether a process's command line (arguments joined by NULs or spaces) is one of the engine's renderers.
bool IsRenderer(const std::string& command);

}  // namespace wine_extractor
