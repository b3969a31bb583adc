// Tests a name against a ';'-separated list of file patterns, such as the default "*.html;*.htm".
#pragma once

#include "filter/invalid_pattern_error.h"
#include "filter/lead_byte_set.h"

namespace zelnar {

// True when a pattern of `list` matches `name`. Patterns are tried in list order and the scan stops at
// the first match, so patterns behind it are never compiled. Writes a zero over every separator it
// reaches: hand it a private copy. Throws InvalidPatternError for an invalid pattern that it reaches.
// A ';' that is the second byte of a double-byte character separates nothing.
// A test seam: the plug-in matches and checks lists with CompiledPatternList, whose answers must
// be this scan's; the tests, the fuzzer and the benchmark hold it against this one.
bool MatchesPatternList(const char* name, char* list, const LeadByteSet& leadBytes);

}  // namespace zelnar
