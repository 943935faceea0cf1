#include "foundation/kvByteString.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/kpExceptions.h"

using namespace foundation;

namespace {

TByteString B(std::string_view s) { return TByteString::FromBytes(s); }

}  // namespace

TEST(ByteString, SharingAndRanges) {
  TByteString empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(empty.GetLength(), 0);
  EXPECT_TRUE(B("").IsEmpty());
  EXPECT_TRUE(EmptyByteString.IsEmpty());

  const TByteString t = B("hello world");
  const TByteString copy = t;
  EXPECT_EQ(copy.Data(), t.Data());  // copies share the bytes
  EXPECT_EQ(t.ClampCount(6, 100), 5);
  EXPECT_EQ(t.ClampCount(-3, 4), 4);
  EXPECT_EQ(t.ClampCount(20, 4), 0);
  EXPECT_EQ(t.ClampCount(2, -1), 0);

  EXPECT_EQ(t.SubString(0, 11), t.Bytes());                    // whole text: shared
  EXPECT_NE(t.SubString(0, 11, true), t.Bytes());              // unless a copy is forced
  EXPECT_EQ(*t.SubString(0, 11, true), *t.Bytes());
  EXPECT_EQ(TByteString::FromShared(t.SubString(6, 99)).View(), "world");
  EXPECT_EQ(t.SubString(11, 5), nullptr);

  uint8_t buffer[8] = {};
  EXPECT_EQ(t.CopyToBuffer(6, 5, buffer, sizeof buffer, 5), 3);  // cut to the buffer
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 5, 3), "wor");
  EXPECT_EQ(t.CopyToBuffer(0, 5, buffer, sizeof buffer, 8), 0);
  EXPECT_EQ(t.CopyToBuffer(0, 2, buffer, sizeof buffer, -4), 2);
  EXPECT_EQ(buffer[0], 'h');
}

TEST(ByteString, Equality) {
  const TByteString t = B("abc");
  EXPECT_TRUE(t.EqualsSub(B("xxabc"), 2, 3));
  EXPECT_TRUE(t.EqualsSub(B("xxabc"), 2, 99));
  EXPECT_FALSE(t.EqualsSub(B("xxabc"), 1, 3));
  const TByteString same = t;
  EXPECT_TRUE(t.EqualsSub(same, 0, 3));
  EXPECT_TRUE(t.EqualsSub(same, -1, 3));
  EXPECT_FALSE(t.EqualsSub(same, 0, 2));
  EXPECT_FALSE(t.EqualsSub(same, 1, 3));
  EXPECT_TRUE(TByteString().EqualsSub(B("abc"), 3, 1));
  const uint8_t raw[] = {'-', 'a', 'b', 'c'};
  EXPECT_TRUE(t.EqualsBuffer(raw, sizeof raw, 1, 3));
  EXPECT_TRUE(t.EqualsBuffer(raw, sizeof raw, 1, 50));
  EXPECT_FALSE(t.EqualsBuffer(raw, sizeof raw, 0, 3));
}

TEST(ByteString, CharSets) {
  const TByteString t = B("  key = value");
  const TByteSet blanks = TByteSet::Of(" \t");
  const TByteSet assign = TByteSet::Of("=");
  EXPECT_EQ(t.SkipCharSet(0, blanks), 2);
  EXPECT_EQ(t.FindCharSet(-5, assign), 6);
  EXPECT_EQ(t.FindCharSet(7, assign), t.GetLength());
  EXPECT_EQ(t.SkipCharSet(13, blanks), 13);
  EXPECT_TRUE(TByteSet::Of("\xFF").Contains(0xFF));
  EXPECT_FALSE(TByteSet::Of("\xFF").Contains(0x7F));
}

TEST(ByteString, Unicode) {
  const TByteString t = TByteString::FromUnicode(u"Caf\u00E9 \U0001F600");
  EXPECT_EQ(t.View(), "Caf\xC3\xA9 \xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(t.ToUnicode(), u"Caf\u00E9 \U0001F600");
  EXPECT_EQ(t.ToUnicode(3, 2), u"\u00E9");
  EXPECT_EQ(t.ToUnicode(3, 1), u"");  // cut sequence
  EXPECT_EQ(TByteString::FromUnicode(u"abcdef", 2, 3).View(), "bcd");
}

TEST(ByteString, IntegerParsing) {
  struct Case {
    const char* text;
    int32_t expected;
  } cases[] = {
      {" \x08-42", -42},       {"\t42", 99},  {"42 ", 99},   {"+7", 7},       {"", 99},
      {"2147483647", 2147483647}, {"2147483648", 99}, {"-2147483648", INT32_MIN}, {"-2147483649", 99},
      {"00000000000012", 12},  {"21474836470", 99}, {"- 5", 99}, {"--5", 99}, {"+", 99}, {"12a", 99},
      {"999999999", 999999999}, {"9999999999", 99},
  };
  for (const Case& c : cases) EXPECT_EQ(B(c.text).ToIntDef(99), c.expected) << c.text;
  EXPECT_EQ(B("x123y").ToIntDef(99, 1, 3), 123);
  EXPECT_EQ(B("x123y").ToIntDef(99, -2, 4), 99);
  EXPECT_EQ(B("17").ToInt(), 17);
  EXPECT_EQ(B("z").ToInt(), 0);

  EXPECT_EQ(B("9223372036854775807").ToInt64Def(-1), INT64_MAX);
  EXPECT_EQ(B("-9223372036854775807").ToInt64Def(-1), -INT64_MAX);
  EXPECT_EQ(B("-9223372036854775808").ToInt64Def(-1), -1);
  EXPECT_EQ(B("99999999999999999999").ToInt64Def(-1), -1);
  EXPECT_EQ(B(" 4294967296").ToInt64Def(-1), 4294967296LL);
}

TEST(ByteString, FloatParsing) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"1.5E3", 1500}, {"-.25", -0.25}, {"1.2.3", -9}, {"1e", -9}, {"7.", 7}, {"2.5", 2.5},
      {" 2.5", 2.5},   {"2.5 ", -9},    {"1e-2", 0.01}, {"12E+1", 120}, {"", -9}, {"-", -9},
      {"0e999999", 0}, {"3e2147483647", -9}, {"x", -9}, {"1.5e 2", 150}, {"1.5x", -9},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(B(c.text).ToFloatDef(-9), c.expected) << c.text;
  EXPECT_TRUE(std::isinf(B("1e400").ToFloatDef(-9)));
  EXPECT_EQ(FloatIntPower(10, 0), 1.0);
  EXPECT_EQ(FloatIntPower(2, 10), 1024.0);
  EXPECT_EQ(FloatIntPower(2, -2), 0.25);
}

TEST(ByteString, HexAndFlags) {
  EXPECT_EQ(B("1aF").HexToIntDef(7), 431u);
  EXPECT_EQ(B("12G").HexToIntDef(7), 7u);
  EXPECT_EQ(B("").HexToIntDef(7), 0u);
  EXPECT_EQ(B("FFFFFFFF").HexToIntDef(7), 0xFFFFFFFFu);
  EXPECT_EQ(B("123456789").HexToIntDef(7), 0x23456789u);  // wraps in 32 bits
  EXPECT_TRUE(B("1").ToBoolFlag(0, 1));
  EXPECT_TRUE(B("0101").ToBoolFlag(1, 1));
  EXPECT_FALSE(B("01").ToBoolFlag(0, 2));
  EXPECT_FALSE(B("true").ToBoolFlag(0, 4));
  EXPECT_FALSE(B(" 1").ToBoolFlag(0, 2));
  EXPECT_FALSE(B("1").ToBoolFlag(-1, 2));
  EXPECT_FALSE(B("1").ToBoolFlag(1, 1));
}

TEST(ByteString, ComparisonsAndHashesByCodePoint) {
  const TByteString fourByte = B("a\xF0\x9F\x98\x80z");
  const TByteString halves = B("a\xED\xA0\xBD\xED\xB8\x80z");
  EXPECT_EQ(fourByte.CompareTextSub(halves), 0);
  EXPECT_EQ(fourByte.HashRange(), halves.HashRange());
  EXPECT_EQ(fourByte.HashTextRange(), halves.HashTextRange());
  EXPECT_EQ(fourByte.CompareStr(u"a\U0001F600z"), 0);
  EXPECT_EQ(halves.CompareStr(u"a\U0001F600z"), 0);

  EXPECT_EQ(B("ABC").CompareTextSub(B("abc")), 0);
  EXPECT_LT(B("ab").CompareTextSub(B("abc")), 0);
  EXPECT_GT(B("abc").CompareTextSub(B("ab")), 0);
  EXPECT_EQ(B("\x80").CompareTextSub(B("\xFF")), 0);  // one invalid byte each
  EXPECT_LT(B("\x80").CompareTextSub(B("a")), 0);      // invalid counts as -1
  EXPECT_EQ(B("STRA\xE1\xBA\x9E" "E").CompareTextSub(B("stra\xC3\x9F" "e")), 0);
  EXPECT_EQ(B("xyzabc").CompareTextSub(B("..XYZABC.."), 2, 6), 0);
  EXPECT_EQ(B("abc").CompareTextSub(B("ab\xC3"), 0, 3), 'c' + 1);  // cut sequence sorts as -1

  EXPECT_LT(B("abc").CompareStr(u"abd"), 0);
  EXPECT_NE(B("ABC").CompareStr(u"abc"), 0);
  EXPECT_EQ(B("ABC").CompareText(u"abc"), 0);
  EXPECT_EQ(B("\xCE\xA3").CompareText(u"\u03C2"), 0);
  EXPECT_EQ(B("\xF0\x90\x90\x80").CompareText(u"\U00010428"), 0);
  EXPECT_GT(B("abcd").CompareText(u"ABC"), 0);
  EXPECT_LT(B("ab").CompareText(u"ABC"), 0);
  EXPECT_EQ(B("--key--").CompareTextRange(2, 3, u"xKEYx", 2, 3), 0);
  EXPECT_EQ(B("--key--").CompareStrRange(2, 3, u"xkeyx", 2, 3), 0);

  // Case-insensitive hashes agree between forms and cases.
  EXPECT_EQ(B("Hello \xCE\xA3").HashTextRange(), B("hELLO \xCF\x83").HashTextRange());
  EXPECT_EQ(B("Hello \xCE\xA3").HashTextRange(), HashUnicodeNoCase(u"HELLO \u03C2", 1, 100));
  EXPECT_EQ(B("a\xF0\x9F\x98\x80").HashTextRange(), HashUnicodeNoCase(u"A\U0001F600", 1, 3));
  EXPECT_NE(B("Hello").HashRange(), B("hello").HashRange());
  EXPECT_EQ(B("xxab").HashRange(2, 2), B("ab").HashRange());
}

TEST(ByteStringUtils, NextCodePoint) {
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t cp;
    size_t pos;
  } cases[] = {
      {"ascii", "A", 'A', 1},
      {"two", "\xC3\xA9", 0xE9, 2},
      {"four", "\xF0\x9F\x98\x80", 0x1F600, 4},
      {"halves", "\xED\xA0\xBD\xED\xB8\x80", 0x1F600, 6},
      {"lone high", "\xED\xA0\xBDx", 0xD83D, 3},
      {"high then cut", "\xED\xA0\xBD\xED\xB8", 0xD83D, 3},
      {"stray continuations", "\x80\x81\x82x", Utf8Invalid, 3},
      {"lead FE", "\xFE\x80x", Utf8Invalid, 2},
      {"cut", "\xE2\x82", Utf8Invalid, 3},
      {"broken", "\xE2(\x82", Utf8Invalid, 1},
      {"five", "\xF8\x88\x80\x80\x80", 0x200000, 5},
      {"six", "\xFC\x84\x80\x80\x80\x80", 0x4000000, 6},
      {"overlong", "\xC0\x80", 0, 2},
  };
  for (const Case& c : cases) {
    size_t pos = 0;
    EXPECT_EQ(Utf8NextCodePoint(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), pos), c.cp)
        << c.name;
    EXPECT_EQ(pos, c.pos) << c.name;
  }
  size_t pos = 5;
  const uint8_t one[] = {'a'};
  EXPECT_EQ(Utf8NextCodePoint(one, 1, pos), Utf8Invalid);
  EXPECT_EQ(pos, 5u);
}

TEST(ByteStringUtils, HashAndFormat) {
  // The step: t := h + b; h := t - rotl32(t, 13).
  const uint32_t t = 0x12345678u + 0x41u;
  EXPECT_EQ(HashStep(0x12345678u, 0x41), t - ((t << 13) | (t >> 19)));
  const uint8_t bytes[] = {'a', 'b'};
  EXPECT_EQ(HashBytes(0, bytes, 2, 0, 2), HashStep(HashStep(0, 'a'), 'b'));
  EXPECT_EQ(HashUtf8(bytes, 2, 0, 2), HashBytes(0, bytes, 2, 0, 2));
  EXPECT_EQ(HashCodePoint(7, 0x110000), 7u);

  uint8_t buffer[6] = {};
  EXPECT_EQ(FormatIntToBuffer(-123, buffer, sizeof buffer, 1, 10), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer) + 1, 4), "-123");
  EXPECT_EQ(FormatIntToBuffer(12345, buffer, sizeof buffer, 2, 10), -5);
  EXPECT_EQ(FormatIntToBuffer(INT32_MIN, buffer, sizeof buffer, 0, 100), -11);
  EXPECT_EQ(FormatIntToBuffer(0, buffer, sizeof buffer, -3, 1), 1);
  EXPECT_EQ(buffer[0], '0');
  EXPECT_EQ(MinCardinal(3, 0xFFFFFFFFu), 3u);
}

TEST(ByteStringBuilder, InsertsAndFinish) {
  TByteStringBuilder b;
  TByteString text;
  b.Finish(text);
  EXPECT_TRUE(text.IsEmpty());

  EXPECT_EQ(b.InsertByteString(0, B("one")), 0);
  EXPECT_EQ(b.GetCapacity(), 16);
  b.InsertByteString(0, B("two"));
  b.InsertByteString(0, B("three"));
  b.Finish(text);
  EXPECT_EQ(text.View(), "threetwoone");
  EXPECT_EQ(b.GetCount(), 0);

  EXPECT_EQ(b.InsertSpace(0, 3, '-'), 0);
  EXPECT_EQ(b.InsertInt(-1, -42), 3);           // a negative position appends
  EXPECT_EQ(b.InsertInt64(100, 1LL << 40), 6);  // positions past the end append
  EXPECT_EQ(b.InsertUnicode(1, u"\u00E9\U0001F600"), 1);
  b.InsertBuffer(0, reinterpret_cast<const uint8_t*>("[xy]"), 4, 1, 2);
  b.InsertSpace(2, 0, 'z');
  b.Finish(text);
  EXPECT_EQ(text.View(), "xy-\xC3\xA9\xED\xA0\xBD\xED\xB8\x80---42" "1099511627776");

  // Growth doubles from 16 and keeps the bytes.
  for (int i = 0; i < 40; ++i) b.InsertSpace(-1, 1, 'a' + i % 26);
  EXPECT_EQ(b.GetCount(), 40);
  EXPECT_EQ(b.GetCapacity(), 64);
  b.Finish(text);
  EXPECT_EQ(text.View().substr(24, 4), "yzab");
}

TEST(ByteStringBuilder, Numbers) {
  struct Case {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {2.5, 3, "2.5"}, {3, 2, "3"}, {-0.126, 2, "-0.13"}, {0.001, 2, "0"}, {-0.001, 2, "0"},
      {100, 0, "100"}, {1234.5678, 2, "1234.57"}, {-7.10, 4, "-7.1"},
  };
  for (const Case& c : cases) {
    TByteStringBuilder b;
    b.InsertFloat(0, c.value, c.decimals);
    TByteString text;
    b.Finish(text);
    EXPECT_EQ(text.View(), c.text) << c.value;
  }
  TGUID guid{0x01234567, 0x89AB, 0xCDEF, {0, 1, 2, 3, 4, 5, 6, 7}};
  const TByteString g = GuidToByteString(guid);
  EXPECT_EQ(g.GetLength(), 38);
  EXPECT_EQ(g.ToUnicode(), GUIDToString(guid));
  TByteStringBuilder b;
  b.InsertGuid(0, guid);
  TByteString text;
  b.Finish(text);
  EXPECT_TRUE(text.EqualsSub(g));
}
