#include "text/kvIniColorUtils.h"

#include <gtest/gtest.h>

using namespace text;
using foundation::TByteString;
using foundation::TIniItem;
using foundation::TRef;

namespace {
TRef<TIniItem> Item(std::string_view value) {
  return TRef<TIniItem>::Adopt(
      new TIniItem(TByteString::FromBytes("k"), value.empty() ? TByteString() : TByteString::FromBytes(value)));
}
bool Same(TFColor a, TFColor b) { return a.R == b.R && a.G == b.G && a.B == b.B; }
}  // namespace

TEST(IniColorUtils, Color) {
  const TARGB def = 0x12345678u;
  struct Row {
    const char* value;
    TARGB want;
  } rows[] = {{"#FF8000", 0xFFFF8000u}, {"#FF8000,128", 0x80FF8000u}, {"255", 0xFFFF0000u},
              {"0,128,255,64", 0x400080FFu}, {"", def}, {"1,2,3,4,5", def}};
  for (const auto& r : rows) EXPECT_EQ(IniItemGetColor(Item(r.value).Get(), def), r.want) << r.value;
  EXPECT_EQ(IniItemGetColor(nullptr, def), def);
}

TEST(IniColorUtils, Rgb) {
  const TFColor def = MakeFColor(1, 2, 3);
  const TFColor orange = IniItemGetRgb(Item("#FF8000").Get(), def);
  EXPECT_EQ(orange.B, 0);
  EXPECT_EQ(orange.G, 128);
  EXPECT_EQ(orange.R, 255);
  // The alpha of the text is dropped.
  EXPECT_TRUE(Same(IniItemGetRgb(Item("10,20,30,0").Get(), def), MakeFColor(10, 20, 30)));
  EXPECT_TRUE(Same(IniItemGetRgb(Item("").Get(), def), def));
  EXPECT_TRUE(Same(IniItemGetRgb(Item("1,2,3,4,5").Get(), def), def));
  EXPECT_TRUE(Same(IniItemGetRgb(nullptr, def), def));
}

TEST(IniColorUtils, IntToRgb) {
  EXPECT_TRUE(Same(IntToRgb(0x00332211), MakeFColor(0x11, 0x22, 0x33)));
  EXPECT_TRUE(Same(IntToRgb(-1), MakeFColor(255, 255, 255)));
  EXPECT_TRUE(Same(IntToRgb(255), MakeFColor(255, 0, 0)));
}
