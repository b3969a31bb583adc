// The pattern list compiled once against the list scan that compiles on every call: the quick length
// and tail rejections, the cut at the first invalid entry, the owned text, and random lists.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "filter/compiled_pattern_list.h"
#include "filter/pattern_list.h"
#include "tests/support/lead_bytes_932.h"

namespace {

using zelnar::CompiledPatternList;
using zelnar::LeadByteSet;
using Answer = CompiledPatternList::Answer;

const LeadByteSet kNoLeadBytes{};
const LeadByteSet kCp932 = test::LeadBytes932();

// The answer of the scan on a fresh copy, as IsSupported used to get it on every call.
Answer ScanAnswer(const std::string& list, const char* name, const LeadByteSet& leadBytes) {
  std::string copy = list;
  try {
    return zelnar::MatchesPatternList(name, copy.data(), leadBytes) ? Answer::Matched : Answer::NotMatched;
  } catch (const zelnar::InvalidPatternError&) {
    return Answer::InvalidEntryReached;
  }
}

const char* Describe(Answer answer) {
  switch (answer) {
    case Answer::Matched:
      return "matched";
    case Answer::NotMatched:
      return "not matched";
    case Answer::InvalidEntryReached:
      return "invalid entry reached";
  }
  return "?";
}

TEST(CompiledPatternList, LengthAndTailChecksAgreeWithTheMatcher) {
  struct Case { const char* list; const char* name; const LeadByteSet* leadBytes; bool claimed; };
  const Case cases[] = {
      {"*.html", "INDEX.HTML", &kNoLeadBytes, true},
      {"*.html", "html", &kNoLeadBytes, false},      // shorter than the tail
      {"*.html", ".html", &kNoLeadBytes, true},
      {"*.html", "a.htmll", &kNoLeadBytes, false},
      {"page.htm", "PAGE.HTM", &kNoLeadBytes, true},  // no star: the length is exact
      {"page.htm", "xpage.htm", &kNoLeadBytes, false},
      {"page.htm", "page.ht", &kNoLeadBytes, false},
      // Tails of eight bytes, as many as are kept, and of nine.
      {"*.abcdefg", "q.ABCDEFG", &kNoLeadBytes, true},
      {"*.abcdefg", "q.ABCDEFX", &kNoLeadBytes, false},
      {"*.abcdefg", "xABCDEFG", &kNoLeadBytes, false},
      {"abcdefgh", "ABCDEFGH", &kNoLeadBytes, true},
      {"abcdefgh", "XBCDEFGH", &kNoLeadBytes, false},
      {"*x.abcdefg", "X.abcdefg", &kNoLeadBytes, true},
      {"*x.abcdefg", "Y.abcdefg", &kNoLeadBytes, false},
      {"abcdefghi", "Abcdefghi", &kNoLeadBytes, true},
      {"abcdefghi", "Xbcdefghi", &kNoLeadBytes, false},
      // Tails longer than the bytes kept: the rest is the matcher's.
      {"*.backup.tar.gz", "x.BACKUP.TAR.GZ", &kNoLeadBytes, true},
      {"*.backup.tar.gz", "x.backxp.tar.gz", &kNoLeadBytes, false},
      {"abcdefghijklmnop", "ABCDEFGHIJKLMNOP", &kNoLeadBytes, true},
      {"abcdefghijklmnop", "xbcdefghijklmnop", &kNoLeadBytes, false},
      {"*abcdefghijklm", "abcdefghijklm", &kNoLeadBytes, true},
      // Something before the star: the tail only rejects.
      {"a*.htm", "a.htm", &kNoLeadBytes, true},
      {"a*.htm", "b.htm", &kNoLeadBytes, false},
      {"a*b*.htm", "ab.htm", &kNoLeadBytes, true},
      {"a*b*.htm", "a.htm", &kNoLeadBytes, false},
      {"*.h?m", "x.hTm", &kNoLeadBytes, true},
      {"*.h?m", "x.hm", &kNoLeadBytes, false},
      {"*[xy]", "aY", &kNoLeadBytes, true},
      {"*[xy]", "", &kNoLeadBytes, false},
      {"*.htm*", "a.htm.bak", &kNoLeadBytes, true},  // a final star: no tail at all
      {"*.htm*", "a.ht", &kNoLeadBytes, false},
      {"*", "", &kNoLeadBytes, true},
      {"**?", "", &kNoLeadBytes, true},
      {"", "", &kNoLeadBytes, false},  // an empty list has no entry
      {";", "", &kNoLeadBytes, true},
      {";", "a", &kNoLeadBytes, false},
      {"?", "", &kNoLeadBytes, false},
      {"\xE4.htm", "\xC4.htm", &kNoLeadBytes, false},  // folding stays ASCII
      // Double-byte characters are compared exactly and found one character at a time.
      {"*\x83\x41", "x\x83\x41", &kCp932, true},
      {"*\x83\x41", "x\x83\x61", &kCp932, false},
      {"*\x95\x5C", "\x95\x95\x5C", &kCp932, false},
      {"*\x95\x5C", "a\x95\x5C", &kCp932, true},
      {"*x\x83\x41.htm", "ax\x83\x41.HTM", &kCp932, true},
      {"*x\x83\x41.htm", "ax\x83\x61.htm", &kCp932, false},
      {"\x83\x41", "\x83\x41", &kCp932, true},
      {"\x83\x41", "\x83\x61", &kCp932, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.list << "\" / \"" << c.name << '"');
    const Answer expected = c.claimed ? Answer::Matched : Answer::NotMatched;
    ASSERT_EQ(ScanAnswer(c.list, c.name, *c.leadBytes), expected) << "the table itself is wrong";
    EXPECT_EQ(CompiledPatternList(c.list, *c.leadBytes).Match(c.name), expected);
  }
}

TEST(CompiledPatternList, KeepsTheEntriesAheadOfTheFirstInvalidOne) {
  struct Case { const char* list; std::size_t entries; bool invalid; const char* name; Answer answer; };
  const Case cases[] = {
      {"*.htm;[;*", 1, true, "x.htm", Answer::Matched},
      {"*.htm;[;*", 1, true, "x.txt", Answer::InvalidEntryReached},  // the '*' behind is never reached
      {"[", 0, true, "", Answer::InvalidEntryReached},
      {"a;b;[!];c", 2, true, "b", Answer::Matched},
      {"a;b;[!];c", 2, true, "c", Answer::InvalidEntryReached},
      {"", 0, false, "", Answer::NotMatched},
      {";", 1, false, "x", Answer::NotMatched},
      {";;", 2, false, "", Answer::Matched},
      {"*.htm;", 1, false, "x.txt", Answer::NotMatched},
      {"*.html;*.htm", 2, false, "x.txt", Answer::NotMatched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.list << "\" / \"" << c.name << '"');
    const CompiledPatternList list(c.list, kNoLeadBytes);
    EXPECT_EQ(list.EntryCount(), c.entries);
    EXPECT_EQ(list.HasInvalidEntry(), c.invalid);
    EXPECT_EQ(list.Match(c.name), c.answer) << Describe(list.Match(c.name));
    EXPECT_EQ(list.Claims(c.name), c.answer == Answer::Matched);
  }
}

TEST(CompiledPatternList, KeepsItsOwnCopyOfTheText) {
  std::string text = "*.html;*.htm;[a-c]x;ab*cd";
  const CompiledPatternList list(text.c_str(), kNoLeadBytes);
  text.assign(text.size(), '?');
  text = "replaced by something much longer, so that the old buffer is given back";
  EXPECT_TRUE(list.Claims("page.htm"));
  EXPECT_TRUE(list.Claims("bX"));
  EXPECT_TRUE(list.Claims("abXcd"));
  EXPECT_FALSE(list.Claims("page.txt"));
}

// What a name for a piece of a pattern may hold, so that names often match an entry.
std::string NameFor(const std::string& piece, std::mt19937& random) {
  if (piece == "*") return random() % 2 ? "" : "xy";
  if (piece == "?") return "q";
  if (piece == "[a-c]") return "B";
  if (piece == "[!b]") return "a";
  if (piece == ".htm") return random() % 2 ? ".HTM" : ".htm";
  return piece;
}

// Random lists (bad entries, stray separators, long literal runs, lead bytes) and names, against the
// scan. Half of the names are made from the list's last entry, the others from loose pieces.
TEST(CompiledPatternList, AgreesWithTheListScanOnRandomLists) {
  std::mt19937 random(20261207);
  const char* const pieces[] = {"a", "b", ".", "*", "?", "[", "]", "!", "-", ";", "\x81", "\x82", "\x83\x41",
                                ".htm", "abcdefghijklmn", "[a-c]", "[!b]"};
  const char* const namePieces[] = {"a", "b", "A", "B", ".", "]", "-", "\x81", "\x82", "\x83\x41", "\x83\x61",
                                    ".htm", ".HTM", "abcdefghijklmn", "x"};
  int answers[3] = {};
  for (int round = 0; round < 40000; ++round) {
    const LeadByteSet& leadBytes = round % 2 ? kCp932 : kNoLeadBytes;
    const bool fromList = random() % 2;
    std::string list, name;
    for (int n = random() % 10; n > 0; --n) {
      const std::string piece = pieces[random() % std::size(pieces)];
      list += piece;
      if (!fromList) continue;
      name = piece == ";" ? std::string() : name + NameFor(piece, random);
    }
    if (!fromList)
      for (int n = random() % 6; n > 0; --n) name += namePieces[random() % std::size(namePieces)];
    const Answer expected = ScanAnswer(list, name.c_str(), leadBytes);
    const CompiledPatternList compiled(list.c_str(), leadBytes);
    ASSERT_EQ(compiled.Match(name.c_str()), expected)
        << '"' << list << "\" / \"" << name << "\", expected " << Describe(expected);
    ++answers[static_cast<int>(expected)];
  }
  // Each answer turned up often enough for the comparison to mean something.
  for (int count : answers) EXPECT_GT(count, 3000) << answers[0] << " " << answers[1] << " " << answers[2];
}

}  // namespace
