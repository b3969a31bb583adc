// Turns one file pattern ("*.htm", "[a-c]*.html", ...) into the sequence of fixed-width elements that the
// matcher walks. The last element always stands for the end of the name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter/byte_value_set.h"
#include "filter/inline_vector.h"
#include "filter/invalid_pattern_error.h"
#include "filter/lead_byte_set.h"

namespace zelnar {

// End stands for the end of the name: it matches only the terminator.
enum class ElementKind : unsigned char { Literal, AnyByte, ByteSet, DoubleByte, End };

// One fixed-width unit of a pattern. Consecutive literal bytes with no star between them form one
// Literal element (a run); a star before the run applies to its first byte, exactly as if each byte were
// an element of its own.
struct PatternElement {
  ElementKind kind;
  bool afterStar;             // any run of name bytes may come before this element
  bool negated;               // ByteSet: matches the bytes that are not members
  unsigned char first;        // DoubleByte: both bytes as written, not case-folded
  unsigned char second;
  std::size_t length;         // Literal: bytes in the run
  const unsigned char* text;  // Literal: the run's bytes in the pattern, compared without ASCII case
  std::size_t set;            // ByteSet: index of its upper-cased members in the set table
};

// At most this many elements may have a star before them.
inline constexpr int kMaxStars = 30;

class CompiledPattern;
namespace detail {
const char* Compile(const char* pattern, const LeadByteSet& leadBytes, bool listEntry, CompiledPattern& out);
}

class CompiledPattern {
 public:
  CompiledPattern() = default;
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;

  const PatternElement* Elements() const noexcept { return elements_.Data(); }
  std::size_t Size() const noexcept { return elements_.Size(); }
  const PatternElement& operator[](std::size_t i) const noexcept { return Elements()[i]; }
  const ByteValueSet& Members(const PatternElement& element) const noexcept { return sets_[element.set]; }
  // Whether a double-byte character has a star before it: its search steps by characters.
  bool HasStarredDoubleByte() const noexcept { return starredDoubleByte_; }

 private:
  friend const char* detail::Compile(const char*, const LeadByteSet&, bool, CompiledPattern&);
  // Typical patterns fit in place, so compiling them allocates nothing.
  InlineVector<PatternElement, 24> elements_;
  InlineVector<ByteValueSet, 4> sets_;
  bool starredDoubleByte_ = false;
};

// ASCII letters only; no locale takes part.
constexpr unsigned char FoldCase(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Compiles a zero-terminated pattern into `out` (which must be fresh). `out` refers to the pattern's
// text, which must outlive it. Throws InvalidPatternError for an unclosed or empty set, a '-' without a
// range start, more than kMaxStars stars, or a pattern that ends inside a double-byte character.
void CompilePattern(const char* pattern, const LeadByteSet& leadBytes, CompiledPattern& out);

// Compiles the entry of a ';'-separated list that starts at `entry`, exactly as CompilePattern would
// compile it had its separator been overwritten with a terminator. Returns the separator, or the list's
// terminator when the entry is the last. A ';' that is the second byte of a double-byte character,
// reckoned from `entry`, separates nothing.
const char* CompileListEntry(const char* entry, const LeadByteSet& leadBytes, CompiledPattern& out);

}  // namespace zelnar
