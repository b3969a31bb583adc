// The pattern grammar: '*' runs, '?', byte sets with negation and ranges, double-byte characters and
// case-folded literals. Syntax bytes take precedence over lead bytes, so a code page whose lead bytes
// include '*', '?', '[', ']' or '-' still reads every pattern one way.
#include "host/pattern_compiler.h"

namespace zelnar {
namespace {

PatternElement MakeElement(ElementKind kind) {
  PatternElement element;
  element.kind = kind;
  element.afterStar = false;
  element.negated = false;
  element.byte = 0;
  element.first = 0;
  element.second = 0;
  return element;
}

// Reads a set from the byte behind its '[' up to and including its ']'; returns the byte behind it.
const unsigned char* ReadByteSet(const unsigned char* p, const LeadByteSet& leadBytes, PatternElement& element) {
  if (*p == '!') {
    element.negated = true;
    ++p;
  }
  bool haveStart = false;
  unsigned char start = 0;
  for (;;) {
    const unsigned char c = *p;
    if (c == 0) throw InvalidPatternError();  // the set is never closed
    if (c == ']') break;
    if (c == '-') {
      if (!haveStart) throw InvalidPatternError();
      const unsigned char end = FoldCase(p[1]);  // whatever follows, ']' included
      if (end == 0) throw InvalidPatternError();
      if (end >= start) element.members.AddRange(start, end);
      p += 2;
      continue;
    }
    if (leadBytes.Contains(c)) {
      // A double-byte character adds nothing and leaves the range start as it was.
      if (p[1] == 0) throw InvalidPatternError();
      p += 2;
      continue;
    }
    start = FoldCase(c);
    haveStart = true;
    element.members.Add(start);
    ++p;
  }
  if (element.members.Empty()) throw InvalidPatternError();
  return p + 1;
}

}  // namespace

void CompilePattern(const char* pattern, const LeadByteSet& leadBytes, CompiledPattern& out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(pattern);
  bool starPending = false;
  int stars = 0;
  auto append = [&](PatternElement element) {
    element.afterStar = starPending;
    if (starPending) {
      if (++stars > kMaxStars) throw InvalidPatternError();
      if (element.kind == ElementKind::DoubleByte) out.NoteStarredDoubleByte();
    }
    starPending = false;
    out.Append(element);
  };

  for (;;) {
    const unsigned char c = *p;
    if (c == 0) {
      append(MakeElement(ElementKind::Literal));  // the end of the name: byte 0
      return;
    }
    if (c == '*') {
      starPending = true;
      ++p;
    } else if (c == '?') {
      // Behind a star a '?' adds nothing: "*?" and "*" describe the same names.
      if (!starPending) append(MakeElement(ElementKind::AnyByte));
      ++p;
    } else if (c == '[') {
      PatternElement element = MakeElement(ElementKind::ByteSet);
      p = ReadByteSet(p + 1, leadBytes, element);
      append(element);
    } else if (leadBytes.Contains(c)) {
      if (p[1] == 0) throw InvalidPatternError();  // a double-byte character cut short
      PatternElement element = MakeElement(ElementKind::DoubleByte);
      element.first = c;
      element.second = p[1];
      append(element);
      p += 2;
    } else {
      PatternElement element = MakeElement(ElementKind::Literal);
      element.byte = FoldCase(c);
      append(element);
      ++p;
    }
  }
}

}  // namespace zelnar
