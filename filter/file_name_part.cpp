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
    const std::size_t length = std::strlen(path);
    const char* end = path + length;
    if (length < 8) {
      const char* part = end;
      while (part != path && part[-1] != '\\' && part[-1] != ':') --part;
      return {part, static_cast<std::size_t>(end - part)};
    }
    // Whole words from the end; the last one starts at the path's first byte and overlaps words
    // already looked through, which hold no separator.
    for (std::size_t at = length - 8;; at = at > 8 ? at - 8 : 0) {
      const std::uint64_t bytes = Load8(path + at);
      if (const std::uint64_t marks = BytesEqual(bytes, '\\') | BytesEqual(bytes, ':')) {
        const char* part = path + at + LastMarkedByte(marks) + 1;
        return {part, static_cast<std::size_t>(end - part)};
      }
      if (at == 0) return {path, length};
    }
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
