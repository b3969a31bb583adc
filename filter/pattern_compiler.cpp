// The pattern grammar: '*' runs, '?', byte sets with negation and ranges, double-byte characters and
// literals. Syntax bytes take precedence over lead bytes, so a code page whose lead bytes include '*',
// '?', '[', ']' or '-' still reads every pattern one way.
#include "filter/pattern_compiler.h"

namespace zelnar {
namespace {

// Bytes that end a run of literals: the three that start something else, and the bytes that may end
// the pattern (a ';' only within a list, and only when it is a separator).
struct StopTable {
  bool bytes[256];
  constexpr explicit StopTable(bool separators) : bytes() {
    for (unsigned char c : {'\0', '*', '?', '['}) bytes[c] = true;
    bytes[static_cast<unsigned char>(';')] = separators;
  }
};
constexpr StopTable kPatternStops(false);
constexpr StopTable kEntryStops(true);

// Reads one pattern. Every byte it reads is first asked whether it ends the pattern, so an entry of a
// list compiles in place, exactly as if its separator had been overwritten with a terminator.
class Reader {
 public:
  Reader(const unsigned char* start, const LeadByteSet& leadBytes, bool listEntry) noexcept
      : start_(start),
        leadBytes_(leadBytes),
        anyLeadBytes_(!leadBytes.Empty()),
        listEntry_(listEntry),
        stops_(listEntry ? kEntryStops : kPatternStops) {}

  bool IsEnd(const unsigned char* p) const noexcept {
    return *p == 0 || (listEntry_ && *p == ';' && IsSeparator(p));
  }
  bool IsLead(unsigned char c) const noexcept { return anyLeadBytes_ && leadBytes_.Contains(c); }
  // Whether a literal run goes on through this byte.
  bool ContinuesRun(const unsigned char* p) const noexcept {
    if (stops_.bytes[*p] && !(*p == ';' && !IsSeparator(p))) return false;
    return !IsLead(*p);
  }

 private:
  // A ';' separates unless it is a second byte, by the second-byte rule reckoned from the entry's start.
  // Each run of lead bytes is counted at most once, by the one ';' that directly follows it.
  bool IsSeparator(const unsigned char* p) const noexcept {
    std::size_t run = 0;
    while (p - run > start_ && IsLead(p[-1 - static_cast<std::ptrdiff_t>(run)])) ++run;
    return run % 2 == 0;
  }

  const unsigned char* start_;
  const LeadByteSet& leadBytes_;
  bool anyLeadBytes_;
  bool listEntry_;
  const StopTable& stops_;
};

// Reads a set from the byte behind its '[' up to and including its ']'; returns the byte behind it.
const unsigned char* ReadByteSet(const unsigned char* p, const Reader& reader, PatternElement& element,
                                 ByteValueSet& members) {
  if (*p == '!') {
    element.negated = true;
    ++p;
  }
  bool haveStart = false;
  unsigned char start = 0;
  for (;;) {
    if (reader.IsEnd(p)) throw InvalidPatternError();  // the set is never closed
    const unsigned char c = *p;
    if (c == ']') break;
    if (c == '-') {
      if (!haveStart) throw InvalidPatternError();
      if (reader.IsEnd(p + 1)) throw InvalidPatternError();
      const unsigned char end = FoldCase(p[1]);  // whatever follows, ']' included
      if (end >= start) members.AddRange(start, end);
      p += 2;
      continue;
    }
    if (reader.IsLead(c)) {
      // A double-byte character adds nothing and leaves the range start as it was.
      if (reader.IsEnd(p + 1)) throw InvalidPatternError();
      p += 2;
      continue;
    }
    start = FoldCase(c);
    haveStart = true;
    members.Add(start);
    ++p;
  }
  if (members.Empty()) throw InvalidPatternError();
  return p + 1;
}

}  // namespace

namespace detail {

const char* Compile(const char* pattern, const LeadByteSet& leadBytes, bool listEntry, CompiledPattern& out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
  const Reader reader(p, leadBytes, listEntry);
  bool starPending = false;
  int stars = 0;
  // Appends an element that takes the pending star, if any.
  auto add = [&](ElementKind kind) -> PatternElement& {
    if (starPending) {
      if (++stars > kMaxStars) throw InvalidPatternError();
      if (kind == ElementKind::DoubleByte) out.starredDoubleByte_ = true;
    }
    PatternElement& element = out.elements_.Add();
    element = PatternElement{kind, starPending, false, 0, 0, 0, nullptr, 0};
    starPending = false;
    return element;
  };

  for (;;) {
    if (reader.IsEnd(p)) {
      add(ElementKind::End);
      return reinterpret_cast<const char*>(p);
    }
    const unsigned char c = *p;
    if (c == '*') {
      starPending = true;
      ++p;
    } else if (c == '?') {
      // Behind a star a '?' adds nothing: "*?" and "*" describe the same names.
      if (!starPending) add(ElementKind::AnyByte);
      ++p;
    } else if (c == '[') {
      PatternElement& element = add(ElementKind::ByteSet);
      element.set = out.sets_.Size();
      p = ReadByteSet(p + 1, reader, element, out.sets_.Add());
    } else if (reader.IsLead(c)) {
      if (reader.IsEnd(p + 1)) throw InvalidPatternError();  // a double-byte character cut short
      PatternElement& element = add(ElementKind::DoubleByte);
      element.first = c;
      element.second = p[1];
      p += 2;
    } else {
      PatternElement& element = add(ElementKind::Literal);
      element.text = p;
      do ++p;
      while (reader.ContinuesRun(p));
      element.length = static_cast<std::size_t>(p - element.text);
    }
  }
}

}  // namespace detail

void CompilePattern(const char* pattern, const LeadByteSet& leadBytes, CompiledPattern& out) {
  detail::Compile(pattern, leadBytes, false, out);
}

const char* CompileListEntry(const char* entry, const LeadByteSet& leadBytes, CompiledPattern& out) {
  return detail::Compile(entry, leadBytes, true, out);
}

}  // namespace zelnar
