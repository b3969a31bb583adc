// Why a page (or the engine) cannot go on. Linux only: the page driver's part.
#pragma once

#include <string>

#include "wine_extractor/protocol/driver_status.h"

namespace wine_extractor {

// Raised when a page or the engine cannot go on; carries the status to report, and a line that says
// why for whoever reads the failure.
struct Stop {
  DriverStatus code;
  std::string why;
};

}  // namespace wine_extractor
