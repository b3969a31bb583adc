// The readable text of an HTML page: its title and its blocks of body text, for a plain drawing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace standin {

struct PageBlock {
  std::u16string text;  // whitespace collapsed, entities decoded, never empty
  bool heading = false; // came from <h1> to <h6>
};

struct PageText {
  std::u16string title;  // the first <title>, collapsed like the blocks; empty when there is none
  std::vector<PageBlock> blocks;
};

// Drops tags, comments and the contents of <script> and <style>; decodes the common named
// entities and numeric references; collapses whitespace; starts a new block at paragraphs,
// line breaks, headings, list items and the like. Not a browser: no layout, no CSS.
PageText ExtractPageText(std::u16string_view html);

}  // namespace standin
