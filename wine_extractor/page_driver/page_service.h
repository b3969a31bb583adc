// The page service: the page driver kept running with one engine, drawing the pages the extractors
// of one account put into its private spool folder, each in a browser context of its own, until it
// has been idle for a while. Linux only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wine_extractor/page_driver/meeting_place.h"

namespace wine_extractor {

// Serves `spool` (a folder of the account running it; made private to it) with the engine
// `program` started with `arguments`, until nothing came for `idleMs`; then removes the folder and
// everything of its own. Returns at once when another service serves the folder, and ends, failing
// the pages in flight, once the folder no longer lies at its name. Up to `parallel` pages are drawn
// at once.
int RunService(OpenedSpool spool, const std::string& program, const std::vector<std::string>& arguments,
               uint32_t idleMs, uint32_t parallel);

}  // namespace wine_extractor
