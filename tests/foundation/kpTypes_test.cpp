#include "foundation/kpTypes.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <set>

#include "foundation/kvStringUtils.h"

using namespace foundation;

namespace {

TEST(NumberText, IntegersAndPadding) {
  EXPECT_EQ(IntToStr(0), u"0");
  EXPECT_EQ(IntToStr(-42), u"-42");
  EXPECT_EQ(IntToStr(INT_MIN), u"-2147483648");
  EXPECT_EQ(IntToStrPadded(7, 3, u'0'), u"007");
  EXPECT_EQ(IntToStrPadded(1234, 2, u'0'), u"1234");
  EXPECT_EQ(IntToStrPadded(-5, 4, u' '), u"  -5");
  EXPECT_EQ(IntToStrPadded(5, -3, u'0'), u"5");
}

TEST(NumberText, Hexadecimal) {
  EXPECT_EQ(IntToHex(0x1F, 4), u"001F");
  EXPECT_EQ(IntToHex(0x123, 1), u"123");
  EXPECT_EQ(IntToHex(0, 0), u"0");
  EXPECT_EQ(IntToHex(0, -5), u"0");
  EXPECT_EQ(IntToHex(0xABCDEF0123456789ull, 0), u"ABCDEF0123456789");
  EXPECT_EQ(IntToHex(0xFF, 20), u"000000000000000000FF");
}

TEST(NumberText, FloatTrimmed) {
  struct Case {
    double v;
    int decimals;
    const char16_t* text;
  } cases[] = {
      {2.5, 3, u"2.5"},      {100, 2, u"100"},        {0, 2, u"0"},         {100, 0, u"100"},
      {2.5, 0, u"3"},        {-2.5, 0, u"-3"},        {1.25, 1, u"1.3"},    {2.675, 2, u"2.68"},
      {0.1, 3, u"0.1"},      {-0.001, 2, u"0"},       {123.456, 2, u"123.46"}, {9.999, 2, u"10"},
      {0.05, 1, u"0.1"},     {1234567.125, 3, u"1234567.125"}, {0.0001234, 6, u"0.000123"},
      {-12.5, 2, u"-12.5"},  {1e20, 2, u"1.00000000000000E+20"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStrTrimmed(c.v, c.decimals), c.text) << c.v << " " << c.decimals;
  EXPECT_EQ(FloatToStrTrimmed(NAN, 2), u"NAN");
  EXPECT_EQ(FloatToStrTrimmed(-INFINITY, 2), u"-INF");
}

TEST(Guid, TextOfZeroAndRoundTrip) {
  TGUID zero;
  EXPECT_EQ(GUIDToString(zero), u"{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(GUIDToString(zero).size(), 38u);
  TGUID g{0xDEADBEEF, 0x0102, 0xA0B0, {0xC1, 0xD2, 0xE3, 0xF4, 0x05, 0x16, 0x27, 0x38}};
  EXPECT_EQ(GUIDToString(g), u"{DEADBEEF-0102-A0B0-C1D2-E3F405162738}");
}

TEST(Guid, CreatedGuidsAreVersion4AndDistinct) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 50; ++i) {
    TGUID g;
    CreateGUID(g);
    EXPECT_EQ(g.Data3 >> 12, 4);
    EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
    seen.insert(GUIDToString(g));
  }
  EXPECT_EQ(seen.size(), 50u);
  TGUID a, b;
  CreateGUID(a);
  b = a;
  EXPECT_TRUE(SameGUID(a, b));
  b.Data4[7] ^= 1;
  EXPECT_FALSE(SameGUID(a, b));
}

TEST(Values, EnsureRangeAndMulDiv) {
  EXPECT_EQ(EnsureRange(5, 10, 0), 10);  // min wins when min > max
  EXPECT_EQ(EnsureRange(-5, 0, 10), 0);
  EXPECT_EQ(EnsureRange(50, 0, 10), 10);
  EXPECT_EQ(EnsureRange(5, 0, 10), 5);
  EXPECT_EQ(MulDivInt(100000, 100000, 1000), 10000000);  // 64-bit product
  EXPECT_EQ(MulDivInt(-7, 3, 2), -10);                     // truncation toward zero
  EXPECT_EQ(MulDivInt(7, 3, -2), -10);
  EXPECT_EQ(MulDivInt(1, 1, 0), INT_MAX);  // no crash on a zero divisor
  EXPECT_EQ(MulDivInt(-1, 1, 0), INT_MIN);
  EXPECT_EQ(MulDivInt(0, 1, 0), 0);
}

TEST(Values, ReadsAndWritesAtOffsets) {
  const uint8_t be[] = {0xFF, 0x00, 0x00, 0x20, 0x00};
  EXPECT_EQ(ReadUInt32BEAt(be, 1), 8192u);
  uint8_t buf[16] = {};
  WriteInt32At(-2, buf, 3);
  EXPECT_EQ(buf[3], 0xFE);
  EXPECT_EQ(buf[6], 0xFF);
  EXPECT_EQ(ReadInt32At(buf, 3), -2);
  WriteSingleAt(1.5f, buf, 9);
  EXPECT_EQ(ReadSingleAt(buf, 9), 1.5f);
  uint8_t p[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(ReadPointerAt(p, 1), 0x0807060504030201ull);
  EXPECT_TRUE(BytesEqual(p, p, 0));
  EXPECT_FALSE(BytesEqual(p, p + 1, 2));
}

TEST(Values, SetUnicodeFromBuffer) {
  const char16_t buf[] = u"hello world";
  std::u16string t = u"old";
  SetUnicodeFromBuffer(t, buf, 6, 5);
  EXPECT_EQ(t, u"world");
  SetUnicodeFromBuffer(t, buf, 0, 0);
  EXPECT_EQ(t, u"");
}

TEST(Values, PutHexHelpers) {
  std::u16string t(10, u'.');
  PutHexByte(t, 1, 0xA5);
  PutHexWord(t, 3, 0x0F10);
  EXPECT_EQ(t, u"A50F10....");
  PutHexDWord(t, 3, 0x12345678);
  EXPECT_EQ(t, u"A512345678");
}

}  // namespace
