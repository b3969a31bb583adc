// The list scan: an empty entry is a pattern that matches only the empty name, and a ';' at the very
// end adds no entry. Each entry is compiled where it stands; its separator is overwritten afterwards.
#include "filter/pattern_list.h"

#include "filter/pattern_matcher.h"

namespace zelnar {

bool MatchesPatternList(const char* name, char* list, const LeadByteSet& leadBytes) {
  char* p = list;
  while (*p) {
    CompiledPattern compiled;
    char* end = const_cast<char*>(CompileListEntry(p, leadBytes, compiled));
    const bool last = *end == '\0';
    *end = '\0';
    if (MatchesCompiledPattern(name, compiled, leadBytes)) return true;
    if (last) return false;
    p = end + 1;
  }
  return false;
}

}  // namespace zelnar
