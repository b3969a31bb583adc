#include "forms/form_layout.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace zelnar {
namespace {

std::string DialogLayout() {
  std::ifstream in(ZELNAR_SOURCE_DIR "/settings/dialog_form.layout", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FormLayout, ReadsTheDialogResource) {
  const FormLayout layout = ParseFormLayout(DialogLayout());
  EXPECT_EQ(layout.className, "TDialogForm");
  EXPECT_EQ(layout.caption, "zelnarオプション");
  EXPECT_EQ(layout.clientWidth, 306);
  EXPECT_EQ(layout.clientHeight, 331);
  EXPECT_EQ(layout.fontFace, "ＭＳ Ｐゴシック");
  EXPECT_EQ(layout.fontHeight, -16);
  EXPECT_EQ(layout.fontCharset, 128);
  EXPECT_EQ(layout.controls.size(), 3u + 3u + 8u + 18u);

  auto names = [&](const char* parent) {
    std::vector<std::string> out;
    for (const ControlLayout* c : layout.Children(parent)) out.push_back(c->name);
    return out;
  };
  EXPECT_EQ(names("TDialogForm"), (std::vector<std::string>{"okButton", "cancelButton", "optionPC"}));
  EXPECT_EQ(names("optionPC"), (std::vector<std::string>{"optionTS", "pictureTS", "previewTS"}));
  EXPECT_EQ(names("optionTS"), (std::vector<std::string>{"widthEdit", "heightEdit", "widthUD", "heightUD", "extEdit",
                                                          "widthLabel", "heightLabel", "extLabel"}));
  const ControlLayout* ud = layout.Find("heightUD");
  ASSERT_TRUE(ud);
  EXPECT_EQ(ud->buddy, "heightEdit");
  EXPECT_EQ(ud->maximum, 1536);
  EXPECT_FALSE(ud->tabStop);
  EXPECT_FALSE(layout.Find("PnoborderCB")->enabled);
  EXPECT_TRUE(layout.Find("PqualityCB")->enabled);
  EXPECT_EQ(layout.Find("okButton")->click, "okButtonClick");
  EXPECT_EQ(layout.Find("optionPC")->activePage, "previewTS");
}

TEST(FormLayout, NamesTheLineOfAnyMistake) {
  const std::string head = "form F client=10,10\n";
  struct Case { std::string text; const wchar_t* line; };
  const Case cases[] = {
      {"button b parent=F bounds=1,2,3,4\n", L" 1 "},
      {head + "button b parent=G bounds=1,2,3,4\n", L" 2 "},
      {head + "button b parent=F bounds=1,2,3\n", L" 2 "},
      {head + "button b parent=F bounds=1,2,3,x\n", L" 2 "},
      {head + "button b parent=F\n", L" 2 "},
      {head + "widget b parent=F bounds=1,2,3,4\n", L" 2 "},
      {head + "button b parent=F bounds=1,2,3,4 colour=red\n", L" 2 "},
      {head + "button b parent=F bounds=1,2,3,4\nbutton b parent=F bounds=1,2,3,4\n", L" 3 "},
      {head + "button b parent=F bounds=1,2,3,4 caption=\"open\n", L" 2 "},
      {head + "page p parent=F\n", L" 2 "},
      {head + "tabs t parent=F bounds=1,2,3,4\nlabel l parent=t bounds=1,2,3,4\n", L" 3 "},
      {head + "updown u parent=F bounds=1,2,3,4 buddy=e range=1,2\n", L" 2 "},
      {head + "tabs t parent=F bounds=1,2,3,4 active=q\n", L" 2 "},
      {head + "form G client=1,1\n", L" 2 "},
      {"# nothing\n", L" 1 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseFormLayout(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const LayoutError& e) {
      EXPECT_NE(e.Text().find(c.line), std::wstring::npos);
    }
  }
}

TEST(FormLayout, ScalesLikeMulDiv) {
  struct Case { int value, num, den, result; };
  const Case cases[] = {{306, 17, 16, 325}, {331, 17, 16, 352}, {8, 17, 16, 9}, {24, 26, 16, 39}, {1, 1, 2, 1},
                        {-3, 1, 2, -2},    {3, -1, 2, -2},     {5, 3, 0, -1},  {-16, 144, 96, -24}, {0, 5, 7, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << "*" << c.num << "/" << c.den);
    EXPECT_EQ(ScaleLength(c.value, c.num, c.den), c.result);
  }
  FormLayout layout = ParseFormLayout(DialogLayout());
  ScaleLayout(layout, 17, 16);
  EXPECT_EQ(layout.clientWidth, 325);
  const Bounds ok = layout.Find("okButton")->bounds;
  EXPECT_EQ(ok.left, 51);
  EXPECT_EQ(ok.top, 315);
  EXPECT_EQ(ok.width, 86);
  EXPECT_EQ(ok.height, 27);
}

}  // namespace
}  // namespace zelnar
