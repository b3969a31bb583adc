// The matcher keeps one resume point: that of the most recent starred element. When a later element
// fails, only that element's search moves on; earlier stars are never retried. This is exact because
// every element has a fixed width and the positions a starred element may take are those at or behind
// the search start that satisfy a test which does not depend on that start. A later placement of an
// earlier star can only start the search later, and so only offers a subset of what the first (leftmost)
// placement already offered. Each resume moves the search forward, which bounds the work by
// O(name length x element count); trying every older star again could take exponential time.
//
// A starred double-byte character is searched one character at a time, with characters as the
// second-byte rule divides the name counted from its first byte. Stepping from the search start instead
// (two bytes at a time, or by characters counted from there) would make the candidate positions depend
// on where inside a run of lead bytes the search began; then a later start could reach a position that
// an earlier one steps over, forgetting older resume points would lose matches, and only retrying every
// star would be exact, which is the exponential search again. The name's own division also never finds
// a character that straddles two characters of the name.
#include "filter/pattern_matcher.h"

#include <cstddef>

namespace zelnar {
namespace {

struct UpperTable {
  unsigned char bytes[256];
  constexpr UpperTable() : bytes() {
    for (int i = 0; i < 256; ++i) bytes[i] = FoldCase(static_cast<unsigned char>(i));
  }
};
constexpr UpperTable kUpper;

// The element's test at `pos`. Only the End element accepts the terminator; a literal byte is never 0, so
// a run stops comparing at the name's terminator.
template <typename Pattern>
inline bool Test(const PatternElement& e, const Pattern& pattern, const unsigned char* name,
                 std::size_t pos) noexcept {
  const unsigned char c = name[pos];
  switch (e.kind) {
    case ElementKind::Literal:
      for (std::size_t k = 0; k < e.length; ++k)
        if (kUpper.bytes[name[pos + k]] != kUpper.bytes[e.text[k]]) return false;
      return true;
    case ElementKind::AnyByte:
      return c != 0;
    case ElementKind::ByteSet:
      return c != 0 && pattern.Members(e).Contains(kUpper.bytes[c]) != e.negated;
    case ElementKind::DoubleByte:
      return c == e.first && name[pos + 1] == e.second;  // first is never 0, so pos + 1 is in the name
    case ElementKind::End:
      return c == 0;
  }
  return false;
}

inline std::size_t Width(const PatternElement& e) noexcept {
  switch (e.kind) {
    case ElementKind::Literal:
      return e.length;
    case ElementKind::DoubleByte:
      return 2;
    default:
      return 1;
  }
}

// Where the matcher stands in the name. With kTrack, `second` says whether pos is the second byte of a
// character (by the second-byte rule from the name's start); only a starred double-byte search needs it.
template <bool kTrack>
struct Cursor {
  std::size_t pos = 0;
  bool second = false;

  void Step(const unsigned char* name, const LeadByteSet& leadBytes, std::size_t width) noexcept {
    if constexpr (kTrack) {
      for (std::size_t i = 0; i < width; ++i) second = !second && leadBytes.Contains(name[pos + i]);
    }
    pos += width;
  }
};

// Moves the cursor to the nearest position at or behind it where the element's test succeeds; false
// when the terminator is reached first.
template <bool kTrack, typename Pattern>
bool Search(const PatternElement& e, const Pattern& pattern, const unsigned char* name,
            const LeadByteSet& leadBytes, Cursor<kTrack>& at) noexcept {
  if constexpr (kTrack) {
    if (e.kind == ElementKind::DoubleByte) {
      if (at.second) {
        if (name[at.pos] == 0) return false;
        ++at.pos;
        at.second = false;
      }
      for (;;) {
        const unsigned char c = name[at.pos];
        if (c == 0) return false;
        if (!leadBytes.Contains(c)) {
          ++at.pos;
          continue;
        }
        if (name[at.pos + 1] == 0) return false;  // the name ends inside this character
        if (c == e.first && name[at.pos + 1] == e.second) return true;
        at.pos += 2;
      }
    }
  } else {
    if (e.kind == ElementKind::Literal) {
      // The common case ("*.htm"): look for the run's first byte, then compare the rest.
      const unsigned char head = kUpper.bytes[e.text[0]];
      std::size_t pos = at.pos;
      for (;; ++pos) {
        while (kUpper.bytes[name[pos]] != head) {
          if (name[pos] == 0) return false;
          ++pos;
        }
        std::size_t k = 1;
        while (k < e.length && kUpper.bytes[name[pos + k]] == kUpper.bytes[e.text[k]]) ++k;
        if (k == e.length) break;
      }
      at.pos = pos;
      return true;
    }
    if (e.kind == ElementKind::End) {
      while (name[at.pos]) ++at.pos;
      return true;
    }
  }
  for (;;) {
    if (Test(e, pattern, name, at.pos)) return true;
    if (name[at.pos] == 0) return false;
    at.Step(name, leadBytes, 1);
  }
}

template <bool kTrack, typename Pattern>
bool Match(const unsigned char* name, const Pattern& pattern, const LeadByteSet& leadBytes) noexcept {
  const PatternElement* elements = pattern.Elements();
  Cursor<kTrack> at;
  std::size_t index = 0;
  bool haveStar = false;
  std::size_t starIndex = 0;
  Cursor<kTrack> resume;  // one byte (one character for a double-byte element) behind the latest find
  for (;;) {
    const PatternElement& e = elements[index];
    if (e.afterStar) {
      if (!Search(e, pattern, name, leadBytes, at)) return false;
      if (e.kind == ElementKind::End) return true;
      haveStar = true;
      starIndex = index;
      resume = at;
      resume.Step(name, leadBytes, e.kind == ElementKind::DoubleByte ? 2 : 1);
    } else if (!Test(e, pattern, name, at.pos)) {
      if (!haveStar) return false;
      index = starIndex;
      at = resume;
      continue;
    }
    if (e.kind == ElementKind::End) return true;
    at.Step(name, leadBytes, Width(e));
    ++index;
  }
}

template <typename Pattern>
bool MatchesAny(const char* name, const Pattern& pattern, const LeadByteSet& leadBytes) noexcept {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(name);
  if (pattern.HasStarredDoubleByte()) return Match<true>(bytes, pattern, leadBytes);
  return Match<false>(bytes, pattern, leadBytes);
}

}  // namespace

bool MatchesCompiledPattern(const char* name, const CompiledPattern& pattern, const LeadByteSet& leadBytes) noexcept {
  return MatchesAny(name, pattern, leadBytes);
}

bool MatchesCompiledPattern(const char* name, const PatternView& pattern, const LeadByteSet& leadBytes) noexcept {
  return MatchesAny(name, pattern, leadBytes);
}

bool MatchesPattern(const char* name, const char* pattern, const LeadByteSet& leadBytes) {
  CompiledPattern compiled;
  CompilePattern(pattern, leadBytes, compiled);
  return MatchesCompiledPattern(name, compiled, leadBytes);
}

}  // namespace zelnar
