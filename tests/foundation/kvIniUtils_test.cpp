#include "foundation/kvIniUtils.h"

#include <gtest/gtest.h>

using namespace foundation;

namespace {
TRef<TIniItem> Item(std::string_view value) {
  return TRef<TIniItem>::Adopt(
      new TIniItem(TByteString::FromBytes("k"), value.empty() ? TByteString() : TByteString::FromBytes(value)));
}
}  // namespace

TEST(IniUtils, IntPairs) {
  const TPoint def{-1, -2};
  struct Row {
    const char* value;
    TPoint want;
  } rows[] = {{"10,20", {10, 20}}, {"10", {-1, -2}}, {"1,2,3", {-1, -2}}, {"10,x", {10, -2}}, {"", {-1, -2}}};
  for (const auto& r : rows) {
    const TPoint p = IniItemGetIntPair(Item(r.value).Get(), def);
    EXPECT_EQ(p.X, r.want.X) << r.value;
    EXPECT_EQ(p.Y, r.want.Y) << r.value;
  }
  EXPECT_EQ(IniItemGetIntPair(nullptr, def).Y, -2);
}

TEST(IniUtils, FloatVectors) {
  const std::array<float, 3> d3{9, 8, 7};
  EXPECT_EQ(IniItemGetFloat3(Item("1.5,2,3").Get(), d3), (std::array<float, 3>{1.5f, 2, 3}));
  EXPECT_EQ(IniItemGetFloat3(Item("1.5,2").Get(), d3), d3);
  EXPECT_EQ(IniItemGetFloat3(Item("1,a,3").Get(), d3), (std::array<float, 3>{1, 8, 3}));
  const std::array<float, 4> d4{1, 2, 3, 4};
  EXPECT_EQ(IniItemGetFloat4(Item("0.25,-1,1e1,0").Get(), d4), (std::array<float, 4>{0.25f, -1, 10, 0}));
  EXPECT_EQ(IniItemGetFloat4(nullptr, d4), d4);
}

TEST(IniUtils, FontStylesMatchWordsExactly) {
  struct Row {
    const char* value;
    int32_t want;
  } rows[] = {{"StrikeOut,Underline", 12}, {"Bold,Italic", 3}, {"Bold, Italic", 1}, {"bold", 0}, {"", 0},
              {"Italic,,Bold,Extra", 3}};
  for (const auto& r : rows) EXPECT_EQ(IniItemGetFontStyle(Item(r.value).Get()), r.want) << r.value;
  EXPECT_EQ(IniItemGetFontStyle(nullptr), 0);
}

TEST(IniUtils, SmallConversions) {
  EXPECT_TRUE(IsTextOne(u"1"));
  EXPECT_FALSE(IsTextOne(u"01"));
  EXPECT_FALSE(IsTextOne(u" 1"));
  EXPECT_EQ(FloatToText6(2.5), u"2.5");
  EXPECT_EQ(FloatToText6(3), u"3");
  EXPECT_EQ(FloatToText6(0.1234567), u"0.123457");
}

TEST(IniUtils, TextWithSizeKeys) {
  struct Row {
    const char16_t* key;
    int32_t w, h;
    const char16_t* text;
  } rows[] = {
      {u"TextWithSize:200: 50:Hello:World", 200, 50, u"Hello:World"},
      {u"TextWithSize:abc:7:x", 0, 7, u"x"},
      {u"TextWithSize:5 :6:", 0, 6, u"(unset)"},
      {u"TextWithSize:12", 12, -1, u"(unset)"},
      {u"TextWithSize:", -1, -1, u"(unset)"},
  };
  for (const auto& r : rows) {
    int32_t w = -1, h = -1;
    std::u16string text = u"(unset)";
    ParseTextWithSizeKey(r.key, w, h, text);
    EXPECT_EQ(w, r.w);
    EXPECT_EQ(h, r.h);
    EXPECT_EQ(text, r.text);
  }
}
