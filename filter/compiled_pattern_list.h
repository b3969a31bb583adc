// A ';'-separated pattern list compiled once, to be matched against any number of names: the answers
// are those of MatchesPatternList on a fresh copy of the same list, without compiling on every call.
#pragma once

#include <cstddef>
#include <cstdint>
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
  // For a caller that knows the length already: name[length] must be the name's terminator.
  Answer Match(const char* name, std::size_t length) const noexcept;
  // Whether a file with this name is claimed: an invalid entry claims nothing for a name that reaches it.
  bool Claims(const char* name) const noexcept { return Match(name) == Answer::Matched; }
  bool Claims(const char* name, std::size_t length) const noexcept { return Match(name, length) == Answer::Matched; }

  // Test seams: the valid entries ahead of the first invalid one (all of them when none is invalid),
  // and whether there is an invalid one. The plug-in asks only Match.
  std::size_t EntryCount() const noexcept { return entries_.size(); }
  bool HasInvalidEntry() const noexcept { return invalidEntry_; }

 private:
  // What a name must have for the entry to have any chance, checked before the matcher runs: at least
  // minLength bytes (exactly that many when the pattern has no star), ending in the entry's tail: up to
  // eight literal bytes that the pattern puts right before the terminator. When the tail is the whole
  // pattern behind at most one leading star, these checks decide.
  struct Entry {
    std::uint64_t tail;      // upper-cased, packed as the name's last eight bytes are
    std::uint64_t tailMask;  // the bytes of `tail` that are compared
    std::size_t minLength;
    std::size_t firstElement;
    std::size_t elementCount;
    bool exactLength;
    bool tailDecides;
    bool starredDoubleByte;
  };

  using EntryIterator = std::vector<Entry>::const_iterator;

  void Add(const CompiledPattern& pattern);
  static EntryIterator NextCandidate(EntryIterator entry, EntryIterator end, std::size_t length,
                                     std::uint64_t nameTail) noexcept;
  // Out of line: most names are decided by the checks alone, and the scan over the entries stays lean.
  __attribute__((noinline)) Answer MatchFrom(EntryIterator candidate, const char* name, std::size_t length,
                                             std::uint64_t nameTail) const noexcept;
  bool MatcherAccepts(const Entry& entry, const char* name) const noexcept;

  std::string text_;
  LeadByteSet leadBytes_;
  std::vector<PatternElement> elements_;  // every entry's elements, one after the other
  std::vector<ByteValueSet> sets_;        // the members of every byte set, indexed by PatternElement::set
  std::vector<Entry> entries_;
  bool invalidEntry_ = false;
};

}  // namespace zelnar
