#include "tools/standin/page_text.h"

#include <gtest/gtest.h>

#include "tools/standin/line_wrap.h"
#include "tools/standin/page_encoding.h"

namespace standin {
namespace {

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) out.push_back(char(c));
    else out += "<" + std::to_string(unsigned(c)) + ">";
  }
  return out;
}

// Blocks joined with '|', headings marked with '#'.
std::string Blocks(const PageText& page) {
  std::string out;
  for (const PageBlock& b : page.blocks) {
    if (!out.empty()) out += "|";
    out += (b.heading ? "#" : "") + Narrow(b.text);
  }
  return out;
}

TEST(PageText, DropsMarkupAndSplitsBlocks) {
  struct Case { const char16_t* html; const char* title; const char* blocks; };
  const Case cases[] = {
      {u"<html><head><title> My\n  page </title></head><body><p>One</p><p>Two</p></body>", "My page", "One|Two"},
      {u"<h1>Head</h1>text<br>more<BR/>end", "", "#Head|text|more|end"},
      {u"a<script>x<y; document.write('</p>')</script>b<style>p{}</style>c", "", "abc"},
      {u"<SCRIPT type=x>never closed", "", ""},
      {u"a<!-- <p>hidden</p> -->b<!doctype html>c<?xml x?>d", "", "abcd"},
      {u"<a href=\"x>y\" title='>'>link</a> text", "", "link text"},
      {u"1 < 2 and 3<4 <", "", "1 < 2 and 3<4 <"},
      {u"<ul><li>a<li>b</ul><table><tr><td>c</td><td>d</td></tr></table>", "", "a|b|c d"},
      {u"  lots \t of\r\n\n   space  ", "", "lots of space"},
      {u"<title>first</title><title>second</title>body", "first", "body"},
      {u"<title>unterminated", "unterminated", ""},
      {u"<p></p><p>  </p><div><br></div>x", "", "x"},
      {u"<b>bold</b><i>it</i>", "", "boldit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.html));
    PageText page = ExtractPageText(c.html);
    EXPECT_EQ(Narrow(page.title), c.title);
    EXPECT_EQ(Blocks(page), c.blocks);
  }
}

TEST(PageText, DecodesEntities) {
  struct Case { const char16_t* html; const char16_t* text; };
  const Case cases[] = {
      {u"&amp;&lt;&gt;&quot;&#39;&apos;", u"&<>\"''"},
      {u"a&nbsp;b", u"a\u00A0b"},
      {u"&#65;&#x42;&#X43;&#0068", u"ABCD"},
      {u"&#x65E5;&#26412;", u"日本"},
      {u"&#x1F600;", u"\U0001F600"},
      {u"&#0;&#xD800;&#99999999999;", u"\uFFFD\uFFFD\uFFFD"},
      {u"&unknown; & &amp &#; &#x;", u"&unknown; & &amp &#; &#x;"},
      {u"x&#10;&#32;y", u"x y"},
      {u"<title>Tom &amp; Jerry</title>", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.html));
    PageText page = ExtractPageText(c.html);
    std::u16string text = page.blocks.empty() ? u"" : page.blocks[0].text;
    EXPECT_EQ(text, c.text);
  }
  EXPECT_EQ(ExtractPageText(u"<title>Tom &amp; Jerry</title>").title, u"Tom & Jerry");
}

TEST(PageEncoding, FollowsBomThenMetaCharset) {
  struct Case { std::string bytes; PageEncoding encoding; std::size_t bom; };
  const Case cases[] = {
      {"\xEF\xBB\xBF<meta charset=shift_jis>", PageEncoding::kUtf8, 3},
      {"<meta charset=\"UTF-8\">", PageEncoding::kUtf8, 0},
      {"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">", PageEncoding::kShiftJis, 0},
      {"<meta charset='x-sjis'/>", PageEncoding::kShiftJis, 0},
      {"<meta http-equiv=content-type content='text/html;charset = utf8'>", PageEncoding::kUtf8, 0},
      {"<meta charset=iso-8859-1><meta charset=utf-8>", PageEncoding::kAnsi, 0},
      {"<meta name=x><meta charset=utf-8>", PageEncoding::kUtf8, 0},
      {"<p>charset=utf-8 in the text is no declaration</p>", PageEncoding::kAnsi, 0},
      {"<meta charset=", PageEncoding::kAnsi, 0},
      {"", PageEncoding::kAnsi, 0},
      {std::string(9000, ' ') + "<meta charset=utf-8>", PageEncoding::kAnsi, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 80));
    DetectedEncoding d = DetectPageEncoding(c.bytes);
    EXPECT_EQ(d.encoding, c.encoding);
    EXPECT_EQ(d.bomLength, c.bom);
  }
}

// Every character one unit wide, so maxWidth counts characters.
std::vector<std::u16string> Wrap(const std::u16string& text, int maxWidth) {
  std::vector<int> extents;
  for (std::size_t i = 0; i < text.size(); ++i) extents.push_back(int(i) + 1);
  std::vector<std::u16string> lines;
  for (const LineSpan& s : WrapText(text, extents, maxWidth)) lines.push_back(text.substr(s.start, s.length));
  return lines;
}

TEST(LineWrap, BreaksAtSpacesAndBetweenEastAsianCharacters) {
  using L = std::vector<std::u16string>;
  struct Case { std::u16string text; int width; L lines; };
  const Case cases[] = {
      {u"the quick brown fox", 10, L{u"the quick", u"brown fox"}},
      {u"the quick brown fox", 100, L{u"the quick brown fox"}},
      {u"abcdefghij", 4, L{u"abcd", u"efgh", u"ij"}},           // a word too long is cut
      {u"ab    cd", 3, L{u"ab", u"cd"}},                        // spaces vanish at the break
      {u"日本語の文章です", 3, L{u"日本語", u"の文章", u"です"}},
      {u"これは、例。", 3, L{u"これ", u"は、", u"例。"}},       // no line starts with a comma or stop
      {u"「引用」です", 2, L{u"「引", u"用」", u"です"}},      // nor ends with an opening bracket
      {u"abc日本", 4, L{u"abc日", u"本"}},
      {u"x\U0001F600\U0001F600", 2, L{u"x", u"\U0001F600", u"\U0001F600"}},  // pairs stay whole
      {u"", 5, L{}},
      {u"   ", 5, L{}},
      {u"a b", 0, L{u"a", u"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.text) + " @" + std::to_string(c.width));
    EXPECT_EQ(Wrap(c.text, c.width), c.lines);
  }
}

}  // namespace
}  // namespace standin
