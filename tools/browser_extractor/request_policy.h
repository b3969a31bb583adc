// Which requests of an untrusted page the engine may make: files that really lie inside the page's
// own folder (every link followed), and inline data: addresses; nothing else. Portable.
#pragma once

#include <optional>
#include <string>

namespace browser {

// The real path of a path, every link followed; none when it does not exist.
using RealPathFn = std::optional<std::string> (*)(const std::string& path);

// The folder a page may load from: as its URL names it, and as it really is.
struct PageScope {
  std::string folder;      // the page's folder, without a trailing slash ("" for the root)
  std::string realFolder;  // its real path ("/" for the root)
  std::string realPage;    // the page's own real path
};

// The scope of `page` (an absolute Unix path); none when it cannot be resolved, or when the page is
// a link to a file outside its folder.
std::optional<PageScope> ScopeOfPage(const std::string& page, RealPathFn realPath);

// `url` as the engine reports it. Allowed: data: addresses; the page itself; a file: address whose
// path lies in the page's folder both as written and really (every link followed), with no segment
// below the folder beginning with "." (hidden files are configuration, not page content). A page
// whose folder is the root loads nothing but itself. Percent escapes are decoded before comparing,
// query and fragment ignored; a path with a "." or ".." segment, an escaped slash or a NUL byte is
// refused outright.
bool RequestAllowed(const std::string& url, const PageScope& scope, RealPathFn realPath);

// Percent escapes decoded; none when an escape is malformed.
bool PercentDecode(const std::string& text, std::string& decoded);

#ifndef _WIN32
// realpath(3).
std::optional<std::string> RealPath(const std::string& path);
#endif

}  // namespace browser
