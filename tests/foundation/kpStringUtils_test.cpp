#include "foundation/kpStringUtils.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/kpExceptions.h"
#include "platform/os/codepages.h"

using namespace foundation;

TEST(StringUtils, AnsiCodePageRoundTrip) {
  const std::string bytes = "caf\xE9 \x80 \x9F";
  EXPECT_EQ(AnsiToUnicode(bytes), u"caf\u00E9 \u20AC \u0178");
  EXPECT_EQ(UnicodeToAnsi(u"caf\u00E9 \u20AC \u0178"), bytes);
  EXPECT_EQ(AnsiToUnicodeRange(bytes, 4, 1), u"\u00E9");
  EXPECT_EQ(UnicodeToAnsiRange(u"abc\u00E9", 3, 5), "c\xE9");
  EXPECT_EQ(UnicodeToAnsi(u""), "");
  EXPECT_EQ(AnsiToUnicode(""), u"");
}

TEST(StringUtils, LargeConversionsSkipTheLocalBuffer) {
  // 3000 bytes: converted in place and cut to exactly the converted units.
  std::string latin(3000, '\xE9');
  std::u16string s;
  AnsiBytesToUnicode(s, reinterpret_cast<const uint8_t*>(latin.data()), latin.size(), 0, 3000,
                     platform::os::CP_ACP);
  EXPECT_EQ(s, std::u16string(3000, u'\u00E9'));
  std::string utf8;
  for (int i = 0; i < 1500; ++i) utf8 += "\xC3\xA9";
  AnsiBytesToUnicode(s, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), 0, 3000,
                     platform::os::CP_UTF8);
  EXPECT_EQ(s, std::u16string(1500, u'\u00E9'));
  // Out-of-range starts and counts are cut to the buffer.
  AnsiBytesToUnicode(s, reinterpret_cast<const uint8_t*>(latin.data()), latin.size(), 2998, 50,
                     platform::os::CP_ACP);
  EXPECT_EQ(s.size(), 2u);
}

TEST(StringUtils, UnicodeToBytesGrowsWhenTheGuessIsTooSmall) {
  // UTF-8 needs 3 bytes per unit, more than the (count + 1) x 2 first guess.
  TByteDynArray bytes;
  std::u16string euros(3000, u'\u20AC');
  UnicodeToAnsiBytes(bytes, euros.data(), static_cast<int>(euros.size()), platform::os::CP_UTF8);
  EXPECT_EQ(bytes.size(), 9000u);
  UnicodeToAnsiBytes(bytes, euros.data(), 10, platform::os::CP_UTF8);
  EXPECT_EQ(bytes.size(), 30u);
  UnicodeRangeToAnsiBytes(bytes, u"abc", 2, 0, platform::os::CP_ACP);
  EXPECT_TRUE(bytes.empty());
  UnicodeRangeToAnsiBytes(bytes, u"abc", 2, 9, platform::os::CP_ACP);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "bc");
}

TEST(StringUtils, CaseMapping) {
  EXPECT_EQ(UpperCaseStr(u"abc-xyz 123"), u"ABC-XYZ 123");
  EXPECT_EQ(UpperCaseStr(u"\u00E9cole abc"), u"\u00C9COLE ABC");  // mapped by the platform from the start
  EXPECT_EQ(UpperCaseStr(u"ab\u00E9z"), u"AB\u00C9Z");
  EXPECT_EQ(LowerCaseStr(u"AB\u00C9Z\u03A3"), u"ab\u00E9z\u03C3");
  EXPECT_EQ(UpperCaseLeft(u"abcdef", 3), u"ABC");
  EXPECT_EQ(UpperCaseCopy(u"abcdef", 2, 2), u"BC");
  EXPECT_EQ(LowerCaseCopy(u"ABCDEF", 5, 10), u"ef");
  EXPECT_EQ(UpperCaseCopy(u"abc", 4, 1), u"");  // start past the text
  EXPECT_EQ(UpperCaseCopy(u"abc", 0, 1), u"");  // start before it
  EXPECT_EQ(UpperCaseStr(u""), u"");
  EXPECT_THROW(ChangeCaseRange(u"abc", 1, 3, 2), EAssertionFailed);
}

TEST(StringUtils, Comparisons) {
  EXPECT_EQ(CompareStrings(u"abc", u"abcd", false), -1);
  EXPECT_EQ(CompareStrings(u"b", u"a", false), 1);
  EXPECT_EQ(CompareStrings(u"B", u"a", false), 'B' - 'a');
  EXPECT_EQ(CompareStrings(u"ABC", u"abc", true), 0);
  EXPECT_EQ(CompareStrings(u"abc", u"ABCD", true), -1);
  EXPECT_EQ(CompareUnitsOrdinal(u"xabc", u"abd", 2, 1, 3), 'c' - 'd');
  EXPECT_EQ(CompareUnitsOrdinal(u"xabc", u"abd", 2, 1, 2), 0);
  EXPECT_EQ(CompareUnitsOrdinal(u"ab", u"ab", 1, 1, 50), 0);
  EXPECT_EQ(CopyUnicode(u"hello", 2, 3), u"ell");
  EXPECT_EQ(CopyUnicode(u"hello", -1, 2), u"he");
  EXPECT_EQ(CopyUnicode(u"hello", 1, 5), u"hello");
}
