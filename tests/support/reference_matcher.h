// Two slow matchers to check the production matcher against, both over the same compiled elements:
//  - ReferenceMatch: dynamic programming over (element, position); plainly the cut definition: the name
//    splits into consecutive pieces, one per element, each starred element preceded by any run of bytes
//    (a starred double-byte character only at a position that is no second byte of the name).
//  - RetryStoreMatch: the textbook search with a store of up to 30 retry points, one per starred
//    element, tried last in first out. Exponential in the worst case, so it runs on a step budget.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "filter/lead_byte_set.h"
#include "filter/pattern_compiler.h"

namespace test {

namespace detail {

inline unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// Position q of the name, terminator (q == len) included.
inline bool ElementTest(const zelnar::CompiledPattern& pattern, const zelnar::PatternElement& e, const unsigned char* name,
                        std::size_t len, std::size_t q) {
  const unsigned char c = q < len ? name[q] : 0;
  switch (e.kind) {
    case zelnar::ElementKind::Literal:
      for (std::size_t k = 0; k < e.length; ++k) {
        if (q + k >= len || Upper(name[q + k]) != Upper(e.text[k])) return false;
      }
      return true;
    case zelnar::ElementKind::End:
      return q == len;
    case zelnar::ElementKind::AnyByte:
      return q < len;
    case zelnar::ElementKind::ByteSet:
      return q < len && (pattern.Members(e).Contains(Upper(c)) != e.negated);
    case zelnar::ElementKind::DoubleByte:
      return q + 1 < len && name[q] == e.first && name[q + 1] == e.second;
  }
  return false;
}

inline std::size_t ElementWidth(const zelnar::PatternElement& e) {
  if (e.kind == zelnar::ElementKind::Literal) return e.length;
  return e.kind == zelnar::ElementKind::DoubleByte ? 2 : 1;
}

// Where a retry of a starred element resumes, behind its find: a run of literals is retried one byte on,
// as if each of its bytes were an element of its own.
inline std::size_t RetryStep(const zelnar::PatternElement& e) {
  return e.kind == zelnar::ElementKind::DoubleByte ? 2 : 1;
}

// By the definition: the run of lead bytes directly before q has odd length.
inline bool IsSecondByte(const unsigned char* name, std::size_t q, const zelnar::LeadByteSet& leadBytes) {
  std::size_t run = 0;
  while (run < q && leadBytes.Contains(name[q - 1 - run])) ++run;
  return run % 2 == 1;
}

// Whether a starred element may begin at q.
inline bool StarredMayBeginAt(const zelnar::PatternElement& e, const unsigned char* name, std::size_t q,
                              const zelnar::LeadByteSet& leadBytes) {
  return e.kind != zelnar::ElementKind::DoubleByte || !IsSecondByte(name, q, leadBytes);
}

}  // namespace detail

inline bool ReferenceMatch(const char* nameText, const zelnar::CompiledPattern& pattern,
                           const zelnar::LeadByteSet& leadBytes) {
  const unsigned char* name = reinterpret_cast<const unsigned char*>(nameText);
  const std::size_t len = std::strlen(nameText);
  const std::size_t m = pattern.Size();
  // reach[i][p]: the first i elements can take exactly the bytes before p (p == len + 1: the terminator too).
  std::vector<std::vector<bool>> reach(m + 1, std::vector<bool>(len + 2, false));
  reach[0][0] = true;
  for (std::size_t i = 0; i < m; ++i) {
    const zelnar::PatternElement& e = pattern[i];
    for (std::size_t p = 0; p <= len; ++p) {
      if (!reach[i][p]) continue;
      const std::size_t last = e.afterStar ? len : p;
      for (std::size_t q = p; q <= last; ++q) {
        if (e.afterStar && !detail::StarredMayBeginAt(e, name, q, leadBytes)) continue;
        if (detail::ElementTest(pattern, e, name, len, q)) reach[i + 1][q + detail::ElementWidth(e)] = true;
      }
    }
  }
  return reach[m][len + 1];
}

// Empty when the budget ran out.
inline std::optional<bool> RetryStoreMatch(const char* nameText, const zelnar::CompiledPattern& pattern,
                                           const zelnar::LeadByteSet& leadBytes, long budget) {
  const unsigned char* name = reinterpret_cast<const unsigned char*>(nameText);
  const std::size_t len = std::strlen(nameText);
  struct RetryPoint { std::size_t pos, index; };
  RetryPoint store[zelnar::kMaxStars];
  int top = 0;
  std::size_t pos = 0, index = 0;
  for (;;) {
    bool failed = false;
    for (std::size_t i = index; i < pattern.Size() && !failed; ++i) {
      const zelnar::PatternElement& e = pattern[i];
      if (e.afterStar) {
        std::size_t q = pos;
        while (q < len && !(detail::StarredMayBeginAt(e, name, q, leadBytes) && detail::ElementTest(pattern, e, name, len, q))) {
          if (--budget < 0) return std::nullopt;
          ++q;
        }
        if (q < len) {
          if (top == zelnar::kMaxStars) return std::nullopt;  // cannot happen with a valid pattern
          store[top++] = {q + detail::RetryStep(e), i};
        }
        pos = q;
      }
      if (--budget < 0) return std::nullopt;
      if (detail::ElementTest(pattern, e, name, len, pos))
        pos += detail::ElementWidth(e);
      else
        failed = true;
    }
    if (!failed) return true;
    if (top == 0) return false;
    --top;
    pos = store[top].pos;
    index = store[top].index;
  }
}

}  // namespace test
