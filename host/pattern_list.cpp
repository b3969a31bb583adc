// The list scan: an empty entry is a pattern that matches only the empty name, and a ';' at the very
// end adds no entry.
#include "host/pattern_list.h"

#include "host/pattern_matcher.h"

namespace zelnar {
namespace {

// The first ';' at or behind `p` that is not a second byte, reckoned from `p`; null when there is none.
char* FindSeparator(char* p, const LeadByteSet& leadBytes) noexcept {
  SecondByteRule rule(leadBytes);
  for (; *p; ++p) {
    if (*p == ';' && !rule.AtSecondByte()) return p;
    rule.Pass(static_cast<unsigned char>(*p));
  }
  return nullptr;
}

}  // namespace

bool MatchesPatternList(const char* name, char* list, const LeadByteSet& leadBytes) {
  char* p = list;
  while (*p) {
    char* separator = FindSeparator(p, leadBytes);
    if (separator) *separator = '\0';
    if (MatchesPattern(name, p, leadBytes)) return true;
    if (!separator) return false;
    p = separator + 1;
  }
  return false;
}

}  // namespace zelnar
