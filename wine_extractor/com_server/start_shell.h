// Starting the page service's shell script, a Linux program, from the Windows side.
#pragma once

#include <string>

namespace wine_extractor {

// Starts `/bin/sh -c SCRIPT` (UTF-8) through Wine, which starts Linux programs but whose handle does
// not follow them: the script's own files tell when it ends. The script travels on the command line,
// so nothing is ever read from a folder; the shell is named by its Unix path, which Wine reaches also
// without a drive for the root. Raises Failure.
void StartShell(const std::string& script);

}  // namespace wine_extractor
