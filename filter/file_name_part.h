// The file-name part of a path: everything behind its last '\' or ':'. '/' separates nothing.
#pragma once

#include <string>
#include <string_view>

#include "filter/lead_byte_set.h"

namespace zelnar {

// The file-name part of `path` with its length. It ends at the path's terminator, so `part.data()` is a
// zero-terminated string too. A separator byte that is the second byte of a double-byte character does
// not count.
std::string_view FileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept;

// Test seams: the same part as a pointer and as a new string, for the tests, the fuzzer and the
// benchmark's former path. The plug-in itself uses FileNamePart.
const char* FindFileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept;
std::string ExtractFileNamePart(const char* path, const LeadByteSet& leadBytes);

}  // namespace zelnar
