// Which requests of an untrusted page the engine may make: file: loads inside the page's own folder,
// and inline data: addresses; nothing else. Portable.
#pragma once

#include <string>

namespace browser {

// `url` as the engine reports it, `folder` the page folder's Unix path without a trailing slash.
// Percent escapes are decoded before comparing, query and fragment ignored; a path with a "." or
// ".." segment, an escaped slash or a NUL byte is refused outright.
bool RequestAllowed(const std::string& url, const std::string& folder);

// Percent escapes decoded; none when an escape is malformed.
bool PercentDecode(const std::string& text, std::string& decoded);

}  // namespace browser
