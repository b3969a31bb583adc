// What the extractor asks of the Linux side: the shell script that starts the page service, and a
// page's address as the engine is given it. Portable.
#pragma once

#include <cstdint>
#include <string>

namespace wine_extractor {

// `text` as one sh word, in single quotes.
std::string ShellQuote(const std::string& text);

// A file: URL for an absolute Unix path: every byte but unreserved ones and '/' percent-encoded,
// so spaces, quotes and UTF-8 names survive in any attribute or argument.
std::string FileUrl(const std::string& unixPath);

// The sh script, run as `sh -c`, that starts the page service in the spool `spool` (SpoolName) of the
// meeting folder (meeting_folder.h): nothing but the driver, in a session of its own, detached from
// the host; the driver makes and checks every folder, the engine's scratch folder included, and
// reaches them only through what it opened. `idleMs` 0 makes a service that ends as soon as it has
// no page. The host that starts it hands in the page `firstJob` next: its sign of life is put into
// the spool first, so that such a service waits for that page. `parallel` pages at once
// (ZELNAR_BROWSER_PARALLEL); 0 leaves it to the driver.
std::string ServiceScript(const std::string& driver, const std::string& engine, const std::string& spool,
                          uint32_t idleMs, const std::string& firstJob, uint32_t parallel = 0);

}  // namespace wine_extractor
