#include "settings/integer_text.h"

#include <gtest/gtest.h>

#include <iterator>

namespace zelnar {
namespace {

TEST(IntegerText, AcceptsDecimalAndHexadecimalForms) {
  struct Case { const char16_t* text; int32_t value; };
  const Case cases[] = {
      {u"800", 800},          {u"   800", 800},       {u"+800", 800},         {u"-5", -5},
      {u"0", 0},              {u"012", 12},           {u"$320", 800},         {u"0x320", 800},
      {u"0X320", 800},        {u"x320", 800},         {u"X1f", 31},           {u"-$10", 16},
      {u"+0x10", 16},         {u"$FFFFFFFF", -1},     {u"$7fffffff", INT32_MAX}, {u"$000000000001", 1},
      {u"2147483647", INT32_MAX}, {u"-2147483648", INT32_MIN}, {u"00000000000000000009", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value);
    const auto parsed = ParseIntegerText(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, c.value);
  }
}

TEST(IntegerText, RefusesEverythingElse) {
  const char16_t* const cases[] = {
      u"",         u" ",          u"800 ",       u"8.0",        u"-",          u"+",         u"1,024",
      u"\t800",    u"\u3000800", u"８００",   u"$",          u"0x",         u"x",         u"$G",
      u"0x 1",     u"- 5",        u"+-5",        u"--5",        u"$100000000", u"2147483648", u"-2147483649",
      u"99999999999999999999",    u"1e3",        u"800\n",      u"$-1",
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(testing::Message() << "case " << i);
    EXPECT_FALSE(ParseIntegerText(cases[i]).has_value());
  }
  const char16_t withZero[] = {u'8', u'\0', u'0'};
  EXPECT_FALSE(ParseIntegerText(std::u16string_view(withZero, 3)).has_value());
}

}  // namespace
}  // namespace zelnar
