// Turns one file pattern ("*.htm", "[a-c]*.html", ...) into the sequence of fixed-width elements that the
// matcher walks. The last element always stands for the end of the name.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

#include "host/byte_value_set.h"
#include "host/invalid_pattern_error.h"
#include "host/lead_byte_set.h"

namespace zelnar {

enum class ElementKind : unsigned char { Literal, AnyByte, ByteSet, DoubleByte };

struct PatternElement {
  ElementKind kind;
  bool afterStar;       // any run of name bytes may come before this element
  bool negated;         // ByteSet: matches the bytes that are not members
  unsigned char byte;   // Literal: upper-cased; 0 for the end of the name
  unsigned char first;  // DoubleByte: both bytes as written, not case-folded
  unsigned char second;
  ByteValueSet members;  // ByteSet: upper-cased members
};

static_assert(std::is_trivially_copyable_v<PatternElement> && std::is_trivially_destructible_v<PatternElement>);

// At most this many elements may have a star before them.
inline constexpr int kMaxStars = 30;

// The elements of one pattern. Typical patterns fit the inline buffer, so compiling them allocates nothing.
class CompiledPattern {
 public:
  CompiledPattern() = default;
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;

  void Append(const PatternElement& element) {
    if (spill_.empty() && size_ < kInline) {
      new (&storage_[size_ * sizeof(PatternElement)]) PatternElement(element);
      ++size_;
      return;
    }
    if (spill_.empty()) spill_.assign(InlineElements(), InlineElements() + size_);
    spill_.push_back(element);
    ++size_;
  }
  const PatternElement* Elements() const noexcept { return spill_.empty() ? InlineElements() : spill_.data(); }
  std::size_t Size() const noexcept { return size_; }
  const PatternElement& operator[](std::size_t i) const noexcept { return Elements()[i]; }
  // Whether a double-byte character has a star before it: its search steps by characters.
  bool HasStarredDoubleByte() const noexcept { return starredDoubleByte_; }
  void NoteStarredDoubleByte() noexcept { starredDoubleByte_ = true; }

 private:
  static constexpr std::size_t kInline = 16;
  const PatternElement* InlineElements() const noexcept {
    return std::launder(reinterpret_cast<const PatternElement*>(storage_));
  }
  // Raw storage: constructing unused elements would cost more than compiling a typical pattern.
  alignas(PatternElement) unsigned char storage_[kInline * sizeof(PatternElement)];
  std::size_t size_ = 0;
  std::vector<PatternElement> spill_;
  bool starredDoubleByte_ = false;
};

// ASCII letters only; no locale takes part.
constexpr unsigned char FoldCase(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Compiles a zero-terminated pattern into `out` (which must be empty). Throws InvalidPatternError for an
// unclosed or empty set, a '-' without a range start, more than kMaxStars stars, or a pattern that ends
// inside a double-byte character.
void CompilePattern(const char* pattern, const LeadByteSet& leadBytes, CompiledPattern& out);

}  // namespace zelnar
