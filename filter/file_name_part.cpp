// With lead bytes, one forward pass finds the last separator: the second-byte rule needs the bytes
// before a position, which a backward walk would have to scan again for every candidate. Without them
// no byte is a second byte, and the last separator is simply the one nearest the end, looked for
// eight bytes at a time.
#include "filter/file_name_part.h"

#include <cstring>

#include "filter/byte_words.h"

namespace zelnar {

std::string_view FileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept {
  if (leadBytes.Empty()) {
    const char* end = path + std::strlen(path);
    const char* part = end;
    for (; part - path >= 8; part -= 8) {
      const std::uint64_t word = Load8(part - 8);
      if (const std::uint64_t marks = BytesEqual(word, '\\') | BytesEqual(word, ':')) {
        part = part - 8 + LastMarkedByte(marks) + 1;
        return {part, static_cast<std::size_t>(end - part)};
      }
    }
    while (part != path && part[-1] != '\\' && part[-1] != ':') --part;
    return {part, static_cast<std::size_t>(end - part)};
  }
  const char* part = path;
  SecondByteRule rule(leadBytes);
  const char* p = path;
  for (; *p; ++p) {
    if ((*p == '\\' || *p == ':') && !rule.AtSecondByte()) part = p + 1;
    rule.Pass(static_cast<unsigned char>(*p));
  }
  return {part, static_cast<std::size_t>(p - part)};
}

const char* FindFileNamePart(const char* path, const LeadByteSet& leadBytes) noexcept {
  return FileNamePart(path, leadBytes).data();
}

std::string ExtractFileNamePart(const char* path, const LeadByteSet& leadBytes) {
  return std::string(FindFileNamePart(path, leadBytes));
}

}  // namespace zelnar
