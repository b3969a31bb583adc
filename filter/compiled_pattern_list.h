// A ';'-separated pattern list compiled once, to be matched against any number of names: the answers
// are those of MatchesPatternList on a fresh copy of the same list, without compiling on every call.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "filter/byte_value_set.h"
#include "filter/lead_byte_set.h"
#include "filter/pattern_compiler.h"

namespace zelnar {

class CompiledPatternList {
 public:
  enum class Answer {
    Matched,              // an entry matches the name
    NotMatched,           // no entry matches, and every entry is valid
    InvalidEntryReached,  // no entry before the first invalid one matches: the list scan would raise here
  };

  // Compiles every entry up to the first invalid one; the entries behind that one are never reached by
  // any name, so they are not read. Throws nothing but std::bad_alloc. Keeps its own copy of the text.
  CompiledPatternList(const char* list, const LeadByteSet& leadBytes);
  // Entries refer to the owned text, which must stay where it is.
  CompiledPatternList(const CompiledPatternList&) = delete;
  CompiledPatternList& operator=(const CompiledPatternList&) = delete;

  Answer Match(const char* name) const noexcept;
  // Whether a file with this name is claimed: an invalid entry claims nothing for a name that reaches it.
  bool Claims(const char* name) const noexcept { return Match(name) == Answer::Matched; }

  // The valid entries ahead of the first invalid one (all of them when none is invalid).
  std::size_t EntryCount() const noexcept { return entries_.size(); }
  bool HasInvalidEntry() const noexcept { return invalidEntry_; }

 private:
  // Bytes at the end of an entry's pattern kept for a quick rejection.
  static constexpr std::size_t kTailBytes = 12;

  // What a name must have for the entry to have any chance, checked before the matcher runs: at least
  // minLength bytes (exactly that many when the pattern has no star), ending in `tail` (ASCII case
  // folded). When the tail is the whole pattern behind at most one leading star, these checks decide.
  struct Entry {
    std::size_t firstElement;
    std::size_t elementCount;
    std::size_t minLength;
    bool exactLength;
    bool tailDecides;
    bool starredDoubleByte;
    unsigned char tailLength;
    unsigned char tail[kTailBytes];  // upper-cased, in name order, ending at the name's last byte
  };

  void Add(const CompiledPattern& pattern);
  bool EntryMatches(const Entry& entry, const char* name, std::size_t length) const noexcept;

  std::string text_;
  LeadByteSet leadBytes_;
  std::vector<PatternElement> elements_;  // every entry's elements, one after the other
  std::vector<ByteValueSet> sets_;        // the members of every byte set, indexed by PatternElement::set
  std::vector<Entry> entries_;
  bool invalidEntry_ = false;
};

}  // namespace zelnar
