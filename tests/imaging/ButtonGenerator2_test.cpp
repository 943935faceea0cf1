#include "imaging/ButtonGenerator2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "ImagingTestEnv.h"
#include "imaging/SysBitmapStore.h"

using namespace imaging;
using foundation::TRef;

namespace {

constexpr int kW = 12, kH = 6;

// Pixel (x, y) of the skin: distinct per pixel, except that the columns of
// the middle third repeat (so a button of the skin's width reproduces it).
uint32_t SkinPixel(int x, int y, uint8_t salt) {
  const int cx = (x >= 3 && x < 9) ? 3 : x;
  return 0xFF000000u | uint32_t(salt) << 16 | uint32_t(cx) << 8 | uint32_t(y);
}

TImage* SkinImage(int w, int h, uint8_t salt) {
  TSysBitmap* b = CreateSysBitmap(w, h, pfA8R8G8B8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = SkinPixel(x, y, salt);
      std::memcpy(b->Row(y) + 4 * x, &v, 4);
    }
  return WrapBitmapAsImage(b, true, u"skin");
}

std::string SkinIni(const std::string& center = "n.png,3,2,9,4") {
  std::string s = "[NormalState]\n";
  s += "LeftTop=n.png,0,0,3,2\nTop=n.png,3,0,9,2\nRightTop=n.png,9,0,12,2\nRight=n.png,9,2,12,4\n";
  s += "RightBottom=n.png,9,4,12,6\nBottom=n.png,3,4,9,6\nLeftBottom=n.png,0,4,3,6\nLeft=n.png,0,2,3,4\n";
  s += "Center=" + center + "\n";
  s += "[HoverState]\nCenter=missing.png,0,0,1,1\n";
  s += "[TextParams]\nColor=#102030\nBtnOffset=2.5\nBtnMinWidth=40\nFiltering=BILINEAR\n";
  return s;
}

struct ButtonProducer : ::testing::Test {
  std::map<std::u16string, int> loads;
  TButtonProducerHost* host = nullptr;
  void SetUp() override {
    host = new TButtonProducerHost(
        [this](const std::u16string& name) -> TImage* {
          ++loads[name];
          if (name == u"n.png") return SkinImage(kW, kH, 7);
          if (name == u"small.png") return SkinImage(5, 5, 9);
          return nullptr;
        },
        {});
  }
  void TearDown() override { host->Free(); }
  TButtonProducer* Load(const std::u16string& skin, const std::string& ini) {
    TButtonProducer* p = host->GetProducer(skin);
    auto* s = new foundation::TStringStream(ini);
    p->LoadSkin(s, skin);
    s->Free();
    return p;
  }
};

uint32_t Px(TImage* img, int x, int y) {
  auto* b = dynamic_cast<TSysBitmap*>(img->GetBitmap());
  uint32_t v;
  std::memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}

// The composition written out: corners keep their place (right ones moved by
// w - 12), the edges and the centre repeat their first column.
uint32_t Expected(int x, int y, int w) {
  const int CR = 9 + w - 12;
  int sx;
  if (x < 3) sx = x;
  else if (x >= CR) sx = x - CR + 9;
  else sx = 3;
  return SkinPixel(sx, y, 7);
}

TEST_F(ButtonProducer, ReadsTheSkin) {
  ButtonColorReaderHook = [](const foundation::TIniItem*, uint32_t) -> uint32_t { return 0xFF102030u; };
  TButtonProducer* p = Load(u"blue", SkinIni());
  ButtonColorReaderHook = nullptr;
  EXPECT_TRUE(p->Loaded);
  EXPECT_EQ(p->SkinSize.cx, kW);
  EXPECT_EQ(p->SkinSize.cy, kH);
  EXPECT_EQ(p->Parts[bpRightTop].ImageName, u"n.png");
  EXPECT_EQ(p->Parts[bpRightTop].Left, 9);
  EXPECT_EQ(p->Parts[9 + bpTop].ImageName, u"");  // missing key: empty
  EXPECT_EQ(p->TextColor[0], 0x10);
  EXPECT_EQ(p->TextColor[2], 0x30);
  EXPECT_EQ(p->BtnOffset, 2.5f);
  EXPECT_EQ(p->BtnMinWidth, 40);
  EXPECT_EQ(p->Filtering, 1);
  EXPECT_EQ(host->GetProducer(u"blue"), p) << "one producer per skin name";
  EXPECT_NE(host->GetProducer(u"Blue"), p);
}

TEST_F(ButtonProducer, ComposesAnyWidth) {
  TButtonProducer* p = Load(u"s1", SkinIni());
  for (int w : {12, 30, 7}) {
    TImage* img = p->GenerateButton(0, w, 0, 0, 0);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->Params.Name, BuildButtonKey(u"s1", 0, w, 0, 0, 0));
    auto* b = dynamic_cast<TSysBitmap*>(img->GetBitmap());
    ASSERT_EQ(b->Width, w);
    ASSERT_EQ(b->Height, kH);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(Px(img, x, y), Expected(x, y, w)) << w << ": " << x << "," << y;
    img->Free();
  }
  EXPECT_EQ(loads[u"n.png"], 1) << "skin images are loaded once and cached";
}

TEST_F(ButtonProducer, NarrowWidthsAndBadRectanglesStayInside) {
  TButtonProducer* p = Load(u"s2", SkinIni("n.png,3,2,900,-900"));
  for (int w : {1, 2, 4, 5}) {
    TImage* img = p->GenerateButton(0, w, 0, 0, 0);
    ASSERT_NE(img, nullptr);
    auto* b = dynamic_cast<TSysBitmap*>(img->GetBitmap());
    ASSERT_EQ(b->Width, w);
    // The right corner columns shifted left: RightTop column x lands at x + w - 12.
    EXPECT_EQ(Px(img, w - 1, 0), SkinPixel(11, 0, 7));
    img->Free();
  }
  for (int w : {0, -5}) {
    TImage* img = p->GenerateButton(0, w, 0, 0, 0);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->Params.Name.rfind(u"Incorrect Image: ", 0), 0u);
    img->Free();
  }
  TImage* img = p->GenerateButton(3, 20, 0, 0, 0);  // no such state
  EXPECT_EQ(img->Params.Name.rfind(u"Incorrect Image: ", 0), 0u);
  img->Free();
}

TEST_F(ButtonProducer, MissingOrWrongSizedImagesGiveTheErrorImage) {
  TButtonProducer* p = Load(u"s3", SkinIni());
  TImage* img = p->GenerateButton(1, 20, 0, 0, 0);
  EXPECT_EQ(img->Params.Name, u"Incorrect Image: missing.png");
  img->Free();
  TButtonProducer* q = Load(u"s4", SkinIni("small.png,0,0,2,2"));
  img = q->GenerateButton(0, 20, 0, 0, 0);
  EXPECT_EQ(img->Params.Name, u"Incorrect Image: small.png");
  auto* b = dynamic_cast<TSysBitmap*>(img->GetBitmap());
  EXPECT_EQ(b->Row(0)[0], 255);  // blue
  EXPECT_EQ(b->Row(0)[3], 255);
  img->Free();
}

TEST_F(ButtonProducer, ColourShiftIsApplied) {
  TButtonProducer* p = Load(u"s5", SkinIni());
  TImage* plain = p->GenerateButton(0, 12, 0, 0, 0);
  TImage* dark = p->GenerateButton(0, 12, 0, 0, -100);
  EXPECT_EQ(dark->Params.Name, u"Button: s5:0:12:0:0:-100");
  EXPECT_NE(Px(plain, 5, 3), Px(dark, 5, 3));
  EXPECT_EQ(Px(dark, 5, 3) & 0x00FFFFFFu, 0u) << "lightness -100 is black";
  plain->Free();
  dark->Free();
}

TEST(ButtonKeys, BothWays) {
  const auto key = BuildButtonKey(u"Glass", 1, 120, 0, 0, 0);
  EXPECT_EQ(key, u"Button: Glass:1:120:0:0:0");
  TButtonKey k;
  ParseButtonKey(u"Button: Glass:2:64:-30:x:15", k);
  EXPECT_EQ(k.SkinName, u"Glass");
  EXPECT_EQ(k.State, 2);
  EXPECT_EQ(k.Width, 64);
  EXPECT_EQ(k.Hue, -30);
  EXPECT_EQ(k.Saturation, 0);
  EXPECT_EQ(k.Lightness, 15);
  ParseButtonKey(u"Butt", k);
  EXPECT_EQ(k.SkinName, u"");
  EXPECT_EQ(k.Width, 0);
}

}  // namespace
