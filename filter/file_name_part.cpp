// One forward pass finds the last separator: the second-byte rule needs the bytes before a position,
// which a backward walk would have to scan again for every candidate.
#include "filter/file_name_part.h"

namespace zelnar {

const char* FindFileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept {
  const char* part = path;
  SecondByteRule rule(leadBytes);
  for (const char* p = path; *p; ++p) {
    if ((*p == '\\' || *p == ':') && !rule.AtSecondByte()) part = p + 1;
    rule.Pass(static_cast<unsigned char>(*p));
  }
  return part;
}

std::string ExtractFileNamePart(const char* path, const LeadByteSet& leadBytes) {
  return std::string(FindFileNamePart(path, leadBytes));
}

}  // namespace zelnar
