#include "text/winFontUtils.h"

#include <gtest/gtest.h>

#include "imaging/SysBitmap.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/PinnedFonts.h"

using namespace text;

namespace {

TFontParams Font(std::u16string name, float size, uint8_t style = 0, bool transparent = true) {
  TFontParams p;
  InitFontParams(p, name, size, style, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), transparent);
  return p;
}

class FontUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
  }
  void TearDown() override { DoneTextServices(); }
  testsupport::ScopedFontBackend fonts_;
};

}  // namespace

TEST(MakeLogFont, HeightWeightAndName) {
  struct Case {
    int32_t dpi;
    float size;
    uint8_t style;
    int32_t height, weight;
  } cases[] = {{96, 12, 0, -16, 0}, {120, 9, 0, -15, 0}, {96, 9, fpBold, -12, 700}, {96, 10.5f, fpItalic, -14, 0}};
  for (const auto& c : cases) {
    TLogFont lf;
    EXPECT_TRUE(MakeLogFont(lf, c.dpi, u"Arial", c.size, c.style));
    EXPECT_EQ(lf.lfHeight, c.height);
    EXPECT_EQ(lf.lfWeight, c.weight);
    EXPECT_EQ(lf.lfItalic, (c.style & fpItalic) ? 1 : 0);
    EXPECT_EQ(lf.lfCharSet, 1);
    EXPECT_EQ(lf.lfQuality, 2);
    EXPECT_EQ(std::u16string(lf.lfFaceName), u"Arial");
  }
  TLogFont lf;
  MakeLogFont(lf, 96, u"Underlined Struck", 8, fpUnderline | fpStrikeOut);
  EXPECT_EQ(lf.lfUnderline, 1);
  EXPECT_EQ(lf.lfStrikeOut, 1);
  EXPECT_EQ(std::u16string(lf.lfFaceName), u"Underlined Struck");
  // 31 characters fit; 32 and more become Arial.
  MakeLogFont(lf, 96, std::u16string(31, u'x'), 8, 0);
  EXPECT_EQ(std::u16string(lf.lfFaceName), std::u16string(31, u'x'));
  MakeLogFont(lf, 96, std::u16string(40, u'x'), 8, 0);
  EXPECT_EQ(std::u16string(lf.lfFaceName), u"Arial");
}

TEST_F(FontUtilsTest, LongFaceNamesMakeAnArialFont) {
  auto f = CreateFontHandle(Font(std::u16string(40, u'Q'), 12));
  EXPECT_EQ(f->faceFile(), testsupport::kLiberationSans);
  EXPECT_EQ(f->pixelSize(), 16);
}

TEST_F(FontUtilsTest, OverhangsOfItalicAndRegularText) {
  auto italic = CreateFontHandle(Font(u"Arial", 30, fpItalic));
  int32_t l = 1, r = 1;
  std::u16string f = u"f";
  int32_t w = GetTextExtentOverhang(italic.get(), f, 1, 1, l, r);
  EXPECT_LT(r, 0);
  EXPECT_EQ(w, italic->textExtent(f) - l - r);
  EXPECT_GT(w, italic->textExtent(f));

  auto regular = CreateFontHandle(Font(u"Arial", 12));
  std::u16string abc = u"xabcx";
  w = GetTextExtentOverhang(regular.get(), abc, 2, 3, l, r);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(w, regular->textExtent(u"abc"));
  // Count is cut to the text; a start below 1 or nothing to measure gives 0.
  EXPECT_EQ(GetTextExtentOverhang(regular.get(), abc, 4, 100, l, r), regular->textExtent(u"cx"));
  for (auto [start, count] : {std::pair{0, 2}, {6, 1}, {2, 0}, {-3, 5}}) {
    l = r = 7;
    EXPECT_EQ(GetTextExtentOverhang(regular.get(), abc, start, count, l, r), 0);
    EXPECT_EQ(l, 0);
    EXPECT_EQ(r, 0);
  }
  TTextMeasure m;
  MeasureTextRange(m, italic.get(), f, 1, 1);
  EXPECT_EQ(m.InnerWidth, m.Width - m.LeftOverhang - m.RightOverhang);
  EXPECT_EQ(m.Height, m.Ascent + m.Descent);
}

TEST_F(FontUtilsTest, DefaultFontsAndMetrics) {
  TFontParams p;
  FontUtils()->GetDefaultFont(p);
  EXPECT_EQ(p.Name, u"DejaVu Sans");
  EXPECT_EQ(p.Size, 9.0f);
  EXPECT_TRUE(p.Transparent);
  EXPECT_EQ(p.BgColor.R, 0xF0);
  EXPECT_EQ(p.Color.R, 0);
  // The neutral default.
  struct Plain : TFontUtils {
    void GetFontMetrics(TFontMetrics&, const TFontParams&) override {}
    void GetUnderline(const TFontParams&, int32_t&, int32_t&) override {}
    int32_t GetTextExtent(const TFontParams&, const std::u16string&, int32_t, int32_t, int32_t& l,
                          int32_t& r) override {
      l = -3;
      r = -2;
      return 42;
    }
    imaging::TImage* RenderText(const TFontParams&, const std::u16string&, int32_t, int32_t,
                                foundation::TPoint&) override {
      return nullptr;
    }
  };
  auto* plain = new Plain;
  plain->GetDefaultFont(p);
  EXPECT_EQ(p.Name, u"Arial");
  EXPECT_EQ(p.Size, 9.0f);
  EXPECT_EQ(p.BgColor.G, 255);
  EXPECT_EQ(plain->GetTextWidth(p, u"x", 1, 1), 42);
  plain->Free();

  TFontMetrics m;
  FontUtils()->GetFontMetrics(m, Font(u"Arial", 12));
  EXPECT_EQ(m.Height, m.Ascent + m.Descent);
  EXPECT_GE(m.Height, 16);
  int32_t pos = 0, thick = 0;
  FontUtils()->GetUnderline(Font(u"Arial", 12), pos, thick);
  EXPECT_LT(pos, 0);
  EXPECT_GE(thick, 1);
}

TEST_F(FontUtilsTest, RenderTextRecoversAlpha) {
  foundation::TPoint off{5, 5};
  EXPECT_EQ(FontUtils()->RenderText(Font(u"Arial", 20), u"abc", 2, 0, off), nullptr);
  EXPECT_EQ(off.X, 0);
  EXPECT_EQ(FontUtils()->RenderText(Font(u"Arial", 20), u"", 1, 5, off), nullptr);

  int32_t liveBefore = TCountDib::LiveCount();
  imaging::TImage* img = FontUtils()->RenderText(Font(u"Arial", 20), u"Hello", 0, 100, off);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(TCountDib::LiveCount(), liveBefore + 1);
  auto* bmp = dynamic_cast<imaging::TSysBitmap*>(img->GetBitmap());
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->PixelFormat->BitsPerPixel, 32);
  auto f = CreateFontHandle(Font(u"Arial", 20));
  EXPECT_EQ(bmp->Height, f->textMetrics().height);
  EXPECT_EQ(bmp->Width, f->textExtent(u"Hello") + 1 - off.X) << "from the left overhang to the advance, plus one";
  int opaque = 0, clear = 0, edge = 0;
  for (int32_t y = 0; y < bmp->Height; ++y) {
    const imaging::TFColorA* row = bmp->Rows32(y);
    for (int32_t x = 0; x < bmp->Width; ++x) {
      const auto& p = row[x];
      if (p.A == 255) {
        ++opaque;
        EXPECT_EQ(p.R + p.G + p.B, 0);
      } else if (p.A == 0) {
        ++clear;
      } else {
        ++edge;
        EXPECT_LE(p.R + p.G + p.B, 3) << "edge colour restored to black";
      }
    }
  }
  EXPECT_GT(opaque, 10);
  EXPECT_GT(clear, opaque);
  EXPECT_GT(edge, 10);
  img->Free();
  EXPECT_EQ(TCountDib::LiveCount(), liveBefore);
}

TEST_F(FontUtilsTest, OpaqueAndUnderlinedRenderings) {
  foundation::TPoint off;
  TFontParams p = Font(u"Arial", 20, fpUnderline, false);
  p.BgColor = MakeFColor(0, 0, 255);
  imaging::TImage* img = FontUtils()->RenderText(p, u"ab", 1, 2, off);
  ASSERT_NE(img, nullptr);
  auto* bmp = dynamic_cast<imaging::TSysBitmap*>(img->GetBitmap());
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->PixelFormat->BitsPerPixel, 24);
  const imaging::TFColor corner = bmp->Rows24(0)[0];
  EXPECT_EQ(corner.B, 255);
  EXPECT_EQ(corner.R, 0);
  int32_t pos = 0, thick = 0;
  FontUtils()->GetUnderline(p, pos, thick);
  auto f = CreateFontHandle(p);
  EXPECT_EQ(bmp->Height, std::max(f->textMetrics().height, f->textMetrics().ascent - pos + thick));
  img->Free();
}

TEST_F(FontUtilsTest, ManyLiveImagesFallBackToMemoryBitmaps) {
  std::vector<imaging::TImage*> images;
  foundation::TPoint off;
  while (TCountDib::LiveCount() < 200) {
    images.push_back(FontUtils()->RenderText(Font(u"Arial", 10), u"x", 1, 1, off));
    ASSERT_NE(images.back(), nullptr);
  }
  const int32_t live = TCountDib::LiveCount();
  ASSERT_EQ(live, 200);
  // The 201st DIB is one too many.
  imaging::TImage* more = FontUtils()->RenderText(Font(u"Arial", 10), u"xy", 1, 2, off);
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(TCountDib::LiveCount(), live) << "the DIB was copied and freed";
  EXPECT_EQ(dynamic_cast<imaging::TDibBitmap*>(more->GetBitmap()), nullptr);
  auto* copy = dynamic_cast<imaging::TSysBitmap*>(more->GetBitmap());
  ASSERT_NE(copy, nullptr);
  bool ink = false;
  for (int32_t y = 0; y < copy->Height; ++y)
    for (int32_t x = 0; x < copy->Width; ++x) ink |= copy->Rows32(y)[x].A > 128;
  EXPECT_TRUE(ink) << "the pixels came along";
  more->Free();
  for (auto* i : images) i->Free();
  EXPECT_EQ(TCountDib::LiveCount(), 0);
}
