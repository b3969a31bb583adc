// The file-name part of a path: everything behind its last '\' or ':'. '/' separates nothing.
#pragma once

#include <string>
#include <string_view>

#include "filter/lead_byte_set.h"

namespace zelnar {

// Points into `path` at its file-name part. A separator byte that is the second byte of a double-byte
// character does not count.
const char* FindFileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept;

// The same part with its length, found in the same pass. It ends at the path's terminator, so
// `part.data()` is a zero-terminated string too.
std::string_view FileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept;

// The same part as a new string.
std::string ExtractFileNamePart(const char* path, const LeadByteSet& leadBytes);

}  // namespace zelnar
