// Small files in the service's spool, its current folder: read and written whole, never through a
// link. Linux only.
#pragma once

#include <time.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace wine_extractor {

// At most a megabyte of the file; none when it cannot be opened (or is a link).
std::optional<std::string> ReadWhole(const std::string& path);
// Written whole under another name first, so a reader never sees half of it.
bool WriteWhole(const std::string& path, const std::string& bytes);
// Every name in the current folder.
void ForEachFile(const std::function<void(const std::string&)>& fn);
bool EndsWith(const std::string& text, const char* suffix);
// Wall-clock milliseconds, as file times count.
int64_t RealMs(const timespec& at);
int64_t RealNowMs();

}  // namespace wine_extractor
