// Matches a name against one pattern. The result is true exactly when the name can be cut into
// consecutive pieces, one per element, each piece satisfying its element and each starred element
// preceded by any run of bytes; the work is bounded by the name's length times the element count.
#pragma once

#include "filter/lead_byte_set.h"
#include "filter/pattern_compiler.h"

namespace zelnar {

// Raises nothing; reads the name up to its terminator and never beyond.
bool MatchesCompiledPattern(const char* name, const CompiledPattern& pattern, const LeadByteSet& leadBytes) noexcept;

// Compiles `pattern` and matches `name` against it. Throws InvalidPatternError from the compiling step.
// A seam for tests and benchmarks, which judge one pattern at a time; the plug-in matches lists.
bool MatchesPattern(const char* name, const char* pattern, const LeadByteSet& leadBytes);

}  // namespace zelnar
