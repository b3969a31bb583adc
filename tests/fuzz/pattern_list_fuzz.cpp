// Differential fuzz target for the extension filter. Input: 32 bytes of lead-byte set (missing bytes are
// zero), then the pattern list, a zero byte, and the name. Every pattern that the list holds is matched
// by the production matcher and by both slow reference matchers; the list scan must agree with them, raise
// nothing but InvalidPatternError, and never read past a terminator (each string sits in a heap block of
// exactly its size, so AddressSanitizer sees any such read). The list compiled once must give the scan's
// answer too, the invalid entry reached included, for the name and for the name's file-name part.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/compiled_pattern_list.h"
#include "filter/file_name_part.h"
#include "filter/pattern_list.h"
#include "filter/pattern_matcher.h"
#include "tests/support/reference_matcher.h"

namespace {

constexpr std::size_t kSetBytes = 32;
// The dynamic-programming reference is cubic; beyond this it is skipped for a pattern.
constexpr std::size_t kReferenceWork = 1 << 15;
constexpr long kRetryBudget = 20000;

std::unique_ptr<char[]> ExactCopy(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// The list's entries, split by the second-byte rule read straight from its definition.
std::vector<std::string> SplitList(const std::string& list, const zelnar::LeadByteSet& leadBytes) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  if (list.empty()) return entries;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] != ';') continue;
    const auto* bytes = reinterpret_cast<const unsigned char*>(list.c_str()) + start;
    if (test::detail::IsSecondByte(bytes, i - start, leadBytes)) continue;
    entries.push_back(list.substr(start, i - start));
    start = i + 1;
  }
  if (start < list.size()) entries.push_back(list.substr(start));
  return entries;
}

// The part behind the last '\\' or ':' that is no second byte, walking back from the end as the rule reads.
const char* ReferenceFileNamePart(const char* path, std::size_t length, const zelnar::LeadByteSet& leadBytes) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(path);
  for (std::size_t i = length; i-- > 0;) {
    if ((bytes[i] == '\\' || bytes[i] == ':') && !test::detail::IsSecondByte(bytes, i, leadBytes)) return path + i + 1;
  }
  return path;
}

// What one pattern gives: empty when it is invalid.
std::optional<bool> PatternResult(const std::string& pattern, const char* name, const zelnar::LeadByteSet& leadBytes) {
  const auto exactPattern = ExactCopy(pattern);
  zelnar::CompiledPattern compiled;
  try {
    zelnar::CompilePattern(exactPattern.get(), leadBytes, compiled);
  } catch (const zelnar::InvalidPatternError&) {
    return std::nullopt;
  }
  const bool fast = zelnar::MatchesCompiledPattern(name, compiled, leadBytes);
  const std::size_t length = std::strlen(name) + 2;
  if (compiled.Size() * length * length <= kReferenceWork)
    Check(fast == test::ReferenceMatch(name, compiled, leadBytes));
  if (const auto slow = test::RetryStoreMatch(name, compiled, leadBytes, kRetryBudget)) Check(fast == *slow);
  Check(fast == zelnar::MatchesPattern(name, exactPattern.get(), leadBytes));
  return fast;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  zelnar::LeadByteSet leadBytes{};
  const std::size_t setSize = size < kSetBytes ? size : kSetBytes;
  std::memcpy(leadBytes.words, data, setSize);
  data += setSize;
  size -= setSize;

  const auto* text = reinterpret_cast<const char*>(data);
  const std::size_t listSize = strnlen(text, size);
  const std::string list(text, listSize);
  const std::string nameText = listSize < size ? std::string(text + listSize + 1, strnlen(text + listSize + 1, size - listSize - 1)) : std::string();
  const auto name = ExactCopy(nameText);

  const char* part = zelnar::FindFileNamePart(name.get(), leadBytes);
  Check(part == ReferenceFileNamePart(name.get(), nameText.size(), leadBytes));
  Check(part >= name.get() && part <= name.get() + nameText.size());
  Check(zelnar::ExtractFileNamePart(name.get(), leadBytes) == part);
  const std::string_view partView = zelnar::FileNamePart(name.get(), leadBytes);
  Check(partView.data() == part && partView.size() == std::strlen(part));

  // Expected: the first matching entry wins; an invalid entry reached before that raises.
  bool expectRaise = false, expectMatch = false;
  for (const std::string& entry : SplitList(list, leadBytes)) {
    const std::optional<bool> result = PatternResult(entry, part, leadBytes);
    if (!result) {
      expectRaise = true;
      break;
    }
    if (*result) {
      expectMatch = true;
      break;
    }
  }

  const auto scratch = ExactCopy(list);
  bool raised = false, matched = false;
  try {
    matched = zelnar::MatchesPatternList(part, scratch.get(), leadBytes);
  } catch (const zelnar::InvalidPatternError&) {
    raised = true;
  }
  Check(raised == expectRaise);
  Check(matched == expectMatch);

  using Answer = zelnar::CompiledPatternList::Answer;
  const Answer expected = expectMatch ? Answer::Matched : expectRaise ? Answer::InvalidEntryReached : Answer::NotMatched;
  const auto exactList = ExactCopy(list);
  const zelnar::CompiledPatternList compiled(exactList.get(), leadBytes);
  Check(compiled.Match(part) == expected);
  Check(compiled.Match(partView.data(), partView.size()) == expected);
  Check(compiled.Claims(part) == expectMatch);
  // The whole name as well: a different length, and bytes in front of the tail.
  if (part != name.get()) {
    const auto fullScratch = ExactCopy(list);
    Answer scanned = Answer::NotMatched;
    try {
      if (zelnar::MatchesPatternList(name.get(), fullScratch.get(), leadBytes)) scanned = Answer::Matched;
    } catch (const zelnar::InvalidPatternError&) {
      scanned = Answer::InvalidEntryReached;
    }
    Check(compiled.Match(name.get()) == scanned);
  }
  return 0;
}
