// Compiling the list once. Which entry matches first does not change the answer, only when the scan
// stops: the list claims a name exactly when one of the entries ahead of the first invalid one matches
// it, and a name that none of them matches reaches the invalid entry. So the entries are kept in order
// up to that one and each is tried independently, most of them rejected by length and tail alone.
#include "filter/compiled_pattern_list.h"

#include <cstring>

#include "filter/byte_words.h"
#include "filter/pattern_matcher.h"
#include "filter/pattern_view.h"

namespace zelnar {
namespace {

// A tail holds at most this many bytes: one 64-bit word.
constexpr std::size_t kTailBytes = 8;

std::size_t Width(const PatternElement& e) noexcept {
  switch (e.kind) {
    case ElementKind::Literal:
      return e.length;
    case ElementKind::DoubleByte:
      return 2;
    case ElementKind::End:
      return 0;
    default:
      return 1;
  }
}

// A name shorter than eight bytes, upper-cased and packed behind zeros. Out of line: the copy would
// make every call save registers.
__attribute__((noinline)) std::uint64_t PackedShortTail(const unsigned char* end, std::size_t length) noexcept {
  unsigned char bytes[kTailBytes] = {};
  std::memcpy(bytes + kTailBytes - length, end - length, length);
  return FoldCase8(Load8(bytes));
}

// The last eight bytes of a name, upper-cased, with zeros in front when the name is shorter.
std::uint64_t PackedTail(const char* name, std::size_t length) noexcept {
  const auto* end = reinterpret_cast<const unsigned char*>(name) + length;
  if (length >= kTailBytes) return FoldCase8(Load8(end - kTailBytes));
  return PackedShortTail(end, length);
}

}  // namespace

CompiledPatternList::CompiledPatternList(const char* list, const LeadByteSet& leadBytes)
    : text_(list), leadBytes_(leadBytes) {
  const char* p = text_.c_str();
  while (*p) {
    CompiledPattern compiled;
    const char* end = nullptr;
    try {
      end = CompileListEntry(p, leadBytes_, compiled);
    } catch (const InvalidPatternError&) {
      invalidEntry_ = true;
      return;
    }
    Add(compiled);
    if (*end == '\0') return;  // a ';' at the very end adds no entry
    p = end + 1;
  }
}

void CompiledPatternList::Add(const CompiledPattern& pattern) {
  Entry entry{};
  entry.firstElement = elements_.size();
  entry.elementCount = pattern.Size();
  entry.starredDoubleByte = pattern.HasStarredDoubleByte();
  bool anyStar = false;
  for (std::size_t i = 0; i < pattern.Size(); ++i) {
    PatternElement element = pattern[i];
    if (element.kind == ElementKind::ByteSet) {
      sets_.push_back(pattern.Members(pattern[i]));
      element.set = sets_.size() - 1;
    }
    entry.minLength += Width(element);
    anyStar = anyStar || element.afterStar;
    elements_.push_back(element);
  }
  entry.exactLength = !anyStar;

  // The elements behind the last star sit at fixed places before the terminator, the starred one
  // included. Their literal bytes are collected backwards, as far as they go without a gap.
  const PatternElement* elements = &elements_[entry.firstElement];
  const std::size_t end = entry.elementCount - 1;
  std::size_t collected = 0;
  unsigned char tail[kTailBytes] = {};  // aligned to the end, as PackedTail packs a name
  unsigned char mask[kTailBytes] = {};
  bool whole = !elements[end].afterStar;
  for (std::size_t i = end; whole && i-- > 0;) {
    const PatternElement& e = elements[i];
    if (e.kind != ElementKind::Literal) {
      whole = false;
      break;
    }
    for (std::size_t k = e.length; k-- > 0;) {
      if (collected == kTailBytes) {
        whole = false;
        break;
      }
      ++collected;
      tail[kTailBytes - collected] = FoldCase(e.text[k]);
      mask[kTailBytes - collected] = 0xFF;
    }
    if (e.afterStar) {
      whole = whole && i == 0;
      break;
    }
  }
  entry.tail = Load8(tail);
  entry.tailMask = Load8(mask);
  // "*" and "" have no tail at all and still decide by length alone.
  entry.tailDecides = whole ? collected == entry.minLength : entry.minLength == 0 && elements[end].afterStar;
  entries_.push_back(entry);
}

bool CompiledPatternList::MatcherAccepts(const Entry& entry, const char* name) const noexcept {
  const PatternView view{&elements_[entry.firstElement], entry.elementCount, sets_.data(), entry.starredDoubleByte};
  return MatchesCompiledPattern(name, view, leadBytes_);
}

// The first entry at or behind `entry` that passes the length and tail checks; `end` when none does.
CompiledPatternList::EntryIterator CompiledPatternList::NextCandidate(EntryIterator entry, EntryIterator end,
                                                                    std::size_t length,
                                                                    std::uint64_t nameTail) noexcept {
  for (; entry != end; ++entry) {
    if (length < entry->minLength) continue;
    if (entry->exactLength && length != entry->minLength) continue;
    // The tail is no longer than minLength, so the name has all of its bytes.
    if ((nameTail & entry->tailMask) == entry->tail) return entry;
  }
  return end;
}

CompiledPatternList::Answer CompiledPatternList::MatchFrom(EntryIterator candidate, const char* name,
                                                           std::size_t length, std::uint64_t nameTail) const noexcept {
  const EntryIterator end = entries_.end();
  for (; candidate != end; candidate = NextCandidate(candidate + 1, end, length, nameTail)) {
    if (candidate->tailDecides || MatcherAccepts(*candidate, name)) return Answer::Matched;
  }
  return invalidEntry_ ? Answer::InvalidEntryReached : Answer::NotMatched;
}

CompiledPatternList::Answer CompiledPatternList::Match(const char* name) const noexcept {
  return Match(name, std::strlen(name));
}

CompiledPatternList::Answer CompiledPatternList::Match(const char* name, std::size_t length) const noexcept {
  const std::uint64_t nameTail = PackedTail(name, length);
  const EntryIterator end = entries_.end();
  const EntryIterator candidate = NextCandidate(entries_.begin(), end, length, nameTail);
  // Most names are decided here, by the checks alone, without a call that needs saved registers.
  if (candidate == end) return invalidEntry_ ? Answer::InvalidEntryReached : Answer::NotMatched;
  if (candidate->tailDecides) return Answer::Matched;
  return MatchFrom(candidate, name, length, nameTail);
}

}  // namespace zelnar
