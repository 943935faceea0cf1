#include "foundation/kvUTF8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kpExceptions.h"

using namespace foundation;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

struct ScanCase {
  const char* name;
  std::string bytes;
  int kind;
  int units;
  int pos;  // where the scan ends
};

}  // namespace

TEST(UTF8, EncodesEachUnitBySelf) {
  EXPECT_EQ(UnicodeToUTF8(u"A\u00E9\u20AC"), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(UnicodeToUTF8(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(UnicodeToUTF8(u"\u07FF\u0800\uFFFF"), "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  EXPECT_EQ(UTF8LengthOfRange(u"A\u00E9\u20AC\U0001F600", 1, 100), 1 + 2 + 3 + 6);
  EXPECT_EQ(UTF8LengthOfRange(u"A\u00E9\u20AC", 2, 1), 2);
  EXPECT_EQ(UnicodeToUTF8Range(u"abc\u00E9", 3, 2), "c\xC3\xA9");
  EXPECT_EQ(UnicodeToUTF8Range(u"abc", 0, 1), "a");
  EXPECT_EQ(UnicodeToUTF8Range(u"abc", 4, 1), "");
  TByteDynArray bytes = {1, 2, 3};
  UnicodeToUTF8Bytes(bytes, u"x\u00E9", 1, 2);
  EXPECT_EQ(bytes, Bytes("x\xC3\xA9"));
  UnicodeToUTF8Bytes(bytes, u"x", 2, 5);
  EXPECT_TRUE(bytes.empty());
}

TEST(UTF8, EncodeIntoABufferStopsBeforeASequenceThatDoesNotFit) {
  uint8_t buffer[8] = {};
  int offset = 2;
  EXPECT_EQ(EncodeUTF8Into(u"a\u20ACb", 1, 3, buffer, sizeof buffer, offset, 5), 1);
  EXPECT_EQ(offset, 3);
  EXPECT_EQ(EncodeUTF8Into(u"a\u20ACb", 2, 2, buffer, sizeof buffer, offset, 100), 2);
  EXPECT_EQ(offset, 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 2, 5), "a\xE2\x82\xAC" "b");
  offset = 0;
  EXPECT_EQ(EncodeUTF8Into(u"abc", 0, 3, buffer, sizeof buffer, offset, 8), 0);
  offset = -1;
  EXPECT_EQ(EncodeUTF8Into(u"abc", 1, 3, buffer, sizeof buffer, offset, 8), 0);
  offset = 9;  // past the buffer: nothing is written
  EXPECT_EQ(EncodeUTF8Into(u"abc", 1, 3, buffer, sizeof buffer, offset, 100), 0);
  EXPECT_EQ(offset, 9);
}

TEST(UTF8, SurrogatePairs) {
  char16_t high = 0, low = 0;
  EXPECT_EQ(EncodeSurrogatePair(0x41, high, low), 0);
  EXPECT_EQ(high, u'A');
  EXPECT_EQ(EncodeSurrogatePair(0x1F600, high, low), 1);
  EXPECT_EQ(high, u'\xD83D');
  EXPECT_EQ(low, u'\xDE00');
  try {
    EncodeSurrogatePair(0x110000, high, low);
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), u"Invalud Unicode Range");
  }
}

TEST(UTF8, ScanClassifiesAndCounts) {
  const ScanCase cases[] = {
      {"empty", "", utf8Empty, 0, 0},
      {"ascii", "AB", utf8Ascii, 2, 2},
      {"cut two-byte", "A\xC3", utf8Truncated, 1, 1},
      {"continuation lead", "A\x80", utf8Invalid, 1, 1},
      {"four-byte", "\xF0\x9F\x98\x80", utf8Valid, 2, 4},
      {"surrogate halves", "\xED\xA0\xBD\xED\xB8\x80", utf8Valid, 2, 6},
      {"bad continuation", "\xC3(", utf8Invalid, 0, 0},
      {"lead F8", "\xF8\x80\x80\x80\x80", utf8Invalid, 0, 0},
      {"overlong accepted", "\xC0\x81", utf8Valid, 1, 2},
      {"overlong four-byte is one unit", "\xF0\x80\x81\x81", utf8Valid, 1, 4},
      {"above U+10FFFF", "\xF4\x90\x80\x80", utf8Invalid, 0, 0},
      {"cut four-byte", "ab\xF0\x9F\x98", utf8Truncated, 2, 2},
  };
  for (const ScanCase& c : cases) {
    std::vector<uint8_t> b = Bytes(c.bytes);
    int pos = -3, units = -1;
    EXPECT_EQ(ScanUTF8(b.data(), b.size(), pos, units, static_cast<int>(b.size())), c.kind) << c.name;
    EXPECT_EQ(units, c.units) << c.name;
    EXPECT_EQ(pos, c.pos) << c.name;
  }
  // The end is cut to the buffer.
  std::vector<uint8_t> b = Bytes("ab");
  int pos = 1, units = 0;
  EXPECT_EQ(ScanUTF8(b.data(), b.size(), pos, units, 1000), utf8Ascii);
  EXPECT_EQ(units, 1);
}

TEST(UTF8, DecodesBothSurrogateFormsAndRejectsMalformedInput) {
  const std::u16string smile = u"\U0001F600";
  EXPECT_EQ(UTF8ToUnicode("\xF0\x9F\x98\x80"), smile);
  EXPECT_EQ(UTF8ToUnicode(UnicodeToUTF8(smile)), smile);
  EXPECT_EQ(UTF8ToUnicode("caf\xC3\xA9 \xE2\x82\xAC"), u"caf\u00E9 \u20AC");
  EXPECT_EQ(UTF8ToUnicode("\xED\xA0\xBD"), std::u16string(1, u'\xD83D'));  // a lone half stays
  EXPECT_EQ(UTF8ToUnicode("\xF0\x80\x81\x81"), u"A");
  EXPECT_EQ(UTF8ToUnicode("ok\xC3"), u"");
  EXPECT_EQ(UTF8ToUnicode("\xF4\x90\x80\x80"), u"");

  std::u16string s = u"stale";
  std::vector<uint8_t> bad = Bytes("\xC3\x28");
  EXPECT_FALSE(UTF8BytesToUnicode(bad, 0, 2, s));
  EXPECT_EQ(s, u"");
  std::vector<uint8_t> good = Bytes("xx\xC3\xA9yy");
  EXPECT_TRUE(UTF8BytesToUnicode(good, 2, 3, s));
  EXPECT_EQ(s, u"\u00E9y");
  EXPECT_TRUE(UTF8BytesToUnicode(good, -4, 2, s));
  EXPECT_EQ(s, u"xx");
  EXPECT_TRUE(UTF8BytesToUnicode(good, 40, 2, s));
  EXPECT_EQ(s, u"");
  // A range that cuts a sequence is cut data, even if the buffer goes on.
  EXPECT_FALSE(UTF8BytesToUnicode(good, 0, 3, s));

  EXPECT_EQ(UTF8ToUnicodeRange("ab\xC3\xA9", 3, 2), u"\u00E9");
  EXPECT_EQ(UTF8ToUnicodeRange("ab\xC3\xA9", 0, 1), u"a");
  UTF8BufferToUnicode(s, good.data(), good.size(), 0, 6);
  EXPECT_EQ(s, u"xx\u00E9yy");
}

TEST(UTF8, DecodeIntoNeverWritesPastTheText) {
  std::vector<uint8_t> b = Bytes("\xF0\x9F\x98\x80\xC3\xA9");
  std::u16string s(1, u'?');  // too short for the pair
  DecodeUTF8Into(b.data(), b.size(), 0, 6, s);
  EXPECT_EQ(s, u"?");
  s.assign(3, u'?');
  DecodeUTF8Into(b.data(), b.size(), 0, 100, s);
  EXPECT_EQ(s, u"\U0001F600\u00E9");
}

TEST(UTF8, EveryUnitRoundTrips) {
  std::u16string all;
  for (uint32_t u = 1; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
  EXPECT_EQ(UTF8ToUnicode(UnicodeToUTF8(all)), all);
}
