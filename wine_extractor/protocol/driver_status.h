// The page driver's exit statuses, which the page service also writes for each page and the extractor
// reads: one list for both sides.
#pragma once

namespace wine_extractor {

enum DriverStatus {
  kDriverOk = 0,
  kDriverUsage = 2,
  kDriverNoLoad = 3,      // the engine could not load the page
  kDriverEngine = 4,      // the engine failed, broke the protocol or closed the page
  kDriverWrite = 5,       // the picture could not be written
  kDriverMemory = 6,      // the engine went over its memory ceiling
  kDriverRefused = 7,     // the page is a link to a file outside its folder
  kDriverHostGone = 9,    // the page service's host stopped waiting: nobody to answer
  kDriverTimedOut = 124,  // as coreutils timeout reports it
};

}  // namespace wine_extractor
