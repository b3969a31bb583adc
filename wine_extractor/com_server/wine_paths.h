// Conversions between Windows and Unix paths through Wine's own kernel32 exports, which exist only
// under Wine: on Windows the extractor has no engine to run and says so.
#pragma once

#include <string>

namespace wine_extractor {

// The Unix path (bytes as Wine writes file names, UTF-8 on a UTF-8 system) of a Windows path.
// Raises Failure when not under Wine or when the path has no Unix counterpart.
std::string UnixPath(const std::wstring& windowsPath);

// The Windows path Wine gives a Unix path (Z: for the root). Raises Failure as UnixPath does.
std::wstring WindowsPath(const std::string& unixPath);

}  // namespace wine_extractor
