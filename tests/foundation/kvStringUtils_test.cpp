#include "foundation/kvStringUtils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace foundation;

namespace {

const TCharSet kDigits = TCharSet().IncludeRange(u'0', u'9');

TEST(CharSet, MembershipStopsAtU0100) {
  TCharSet s(u"a\u00FF\u0100\u0161");
  EXPECT_TRUE(s.Contains(u'a'));
  EXPECT_TRUE(s.Contains(u'\u00FF'));
  EXPECT_FALSE(s.Contains(u'\u0100'));
  EXPECT_FALSE(s.Contains(u'\u0161'));
  EXPECT_FALSE(s.Contains(u'b'));
  // Bit (c mod 32) of word (c div 32).
  EXPECT_EQ(s.Words[u'a' / 32], 1u << (u'a' % 32));
}

TEST(CharSet, SkipAndFind) {
  EXPECT_EQ(SkipCharSet(u"123", kDigits, 1), 4);        // all in the set
  EXPECT_EQ(SkipCharSet(u"12a3", kDigits, -5), 3);      // start below 1
  EXPECT_EQ(SkipCharSet(u"1\u01002", kDigits, 1), 2);   // U+0100 is never in a set
  EXPECT_EQ(FindCharSet(u"ab3c", kDigits, 1), 3);
  EXPECT_EQ(FindCharSet(u"ab3c", kDigits, 4), 5);
  EXPECT_EQ(FindCharSet(u"", kDigits, 1), 1);
}

TEST(CharSet, Ranges) {
  struct Case {
    const char16_t* s;
    int first, last;
    bool backward, find;
    int expected;
  } cases[] = {
      {u"12ab34", 1, 6, false, false, 3}, {u"12ab34", 1, 6, true, false, 4},
      {u"12ab34", 3, 4, false, true, 5},  {u"12ab34", 3, 4, true, true, 2},
      {u"12ab34", 0, 99, true, true, 6},  {u"1234", -3, 10, false, false, 5},
      {u"1234", 2, 3, true, false, 1},    {u"ab", 1, 2, false, true, 3},
  };
  for (const Case& c : cases) {
    int got = c.find ? FindCharSetRange(c.s, kDigits, c.first, c.last, c.backward)
                     : SkipCharSetRange(c.s, kDigits, c.first, c.last, c.backward);
    EXPECT_EQ(got, c.expected) << std::string(c.s, c.s + std::char_traits<char16_t>::length(c.s)) << " "
                               << c.first << ".." << c.last << " back=" << c.backward << " find=" << c.find;
  }
}

TEST(Trim, SpacesOnlyVersusControlCharacters) {
  EXPECT_EQ(TrimSpaces(u"  \tab c \t  "), u"\tab c \t");
  EXPECT_EQ(TrimSpaces(u"    "), u"");
  EXPECT_EQ(TrimRight(u" ab\t\r\n "), u" ab");
  EXPECT_EQ(TrimRight(u"\x01\x02"), u"");
}

TEST(FormatPercentArgs, Substitution) {
  EXPECT_EQ(FormatPercentArgs(u"%1 and %2.", {u"one"}), u"one and .");
  EXPECT_EQ(FormatPercentArgs(u"%%", {u"x", u"y"}), u"");
  EXPECT_EQ(FormatPercentArgs(u"100%1", {u"x"}), u"100x");
  EXPECT_EQ(FormatPercentArgs(u"%2%1", {u"a", u"b"}), u"ba");
  EXPECT_EQ(FormatPercentArgs(u"%0 %", {u"a"}), u" ");
  EXPECT_EQ(FormatPercentArgs(u"%1", {u"%1"}), u"%1");  // inserted text is not scanned again
  EXPECT_EQ(FormatPercentArgs(u"%99999999999999999999z", {u"a"}), u"z");
}

TEST(StrToInt, AcceptedTexts) {
  struct Case {
    const char16_t* s;
    int32_t v;
  } cases[] = {{u"0", 0},        {u"-17", -17},        {u"+5", 5},
               {u"  42", 42},    {u"2147483647", INT_MAX}, {u"-2147483648", INT_MIN},
               {u"$FF", 255},    {u"0x10", 16},        {u"$FFFFFFFF", -1},
               {u"-$10", -16},   {u"007", 7}};
  for (const Case& c : cases) {
    EXPECT_EQ(StrToInt(c.s), c.v);
    EXPECT_EQ(StrToIntDef(c.s, 99), c.v);
  }
}

TEST(StrToInt, RejectedTextsRaiseOrGiveTheDefault) {
  for (const char16_t* s : {u"12a", u"", u" ", u"-", u"$", u"0x", u"12 ", u"2147483648", u"-2147483649",
                            u"$100000000", u"1.5", u"\uFF11"}) {
    EXPECT_EQ(StrToIntDef(s, 5), 5);
    EXPECT_THROW(StrToInt(s), EConvertError);
  }
  try {
    StrToInt(u"12a");
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"\"12a\" is not a valid integer value");
  }
}

TEST(Hex, DigitsWordsAndBytes) {
  uint32_t v = 0;
  EXPECT_TRUE(ParseHexDigits(u"x1aF9", 2, 4, v));
  EXPECT_EQ(v, 0x1AF9u);
  EXPECT_FALSE(ParseHexDigits(u"12G4", 1, 4, v));
  EXPECT_FALSE(ParseHexDigits(u"12", 1, 4, v));  // past the end
  EXPECT_FALSE(ParseHexDigits(u"12", 0, 1, v));  // before the start
  uint16_t w = 0;
  EXPECT_TRUE(ParseHexWord(u"12345", 1, 5, w));
  EXPECT_EQ(w, 0x2345);
  uint8_t b = 0;
  EXPECT_TRUE(ParseHexByte(u"fe", 1, 2, b));
  EXPECT_EQ(b, 0xFE);
}

TEST(TextToGuid, AcceptsEitherCaseAndRejectsDeviations) {
  TGUID g;
  ASSERT_TRUE(TextToGuid(u"{01234567-89ab-CDEF-0123-456789abcdef}", g));
  EXPECT_EQ(g.Data1, 0x01234567u);
  EXPECT_EQ(g.Data2, 0x89AB);
  EXPECT_EQ(g.Data3, 0xCDEF);
  const uint8_t d4[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(std::memcmp(g.Data4, d4, 8), 0);
  EXPECT_EQ(GUIDToString(g), u"{01234567-89AB-CDEF-0123-456789ABCDEF}");
  for (const char16_t* bad : {u"01234567-89ab-CDEF-0123-456789abcdef", u"(01234567-89ab-CDEF-0123-456789abcdef)",
                              u"{01234567-89ab-CDEF-0123-456789abcdef", u"{01234567-89ab-CDEF-0123-456789abcdeg}",
                              u"{01234567+89ab-CDEF-0123-456789abcdef}", u"{01234567-89ab-CDEF-0123-456789abcdef}x",
                              u""}) {
    EXPECT_FALSE(TextToGuid(bad, g)) << std::u16string(bad).size();
  }
}

}  // namespace
