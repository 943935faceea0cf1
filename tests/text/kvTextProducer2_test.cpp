// Rendering vector texts: a scripted vector text of square glyphs for exact
// sizes, alignment, bars and backgrounds; the platform's fonts for texts
// built from outlines.
#include "text/kvTextProducer2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "imaging/kvBitmap.h"
#include "imaging/kvImage.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvRasterizerTypes.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

using namespace text;

namespace {

// Lines of square glyphs: each glyph a box of Box pixels on the baseline,
// advance Box + 2 (A = 1, B = Box, C = 1).
class TBoxText : public TVectorText {
 public:
  TBoxText(std::vector<int> glyphsPerLine, int box = 10, int ascent = 12, int descent = 4) : counts(glyphsPerLine), box(box) {
    LineCount = int32_t(counts.size());
    FontMetrics.Ascent = ascent;
    FontMetrics.Descent = descent;
    FontMetrics.UnderlinePosition = -2;
    FontMetrics.UnderlineThickness = 1;
    FontMetrics.StrikeOutPosition = 5;
    FontMetrics.StrikeOutThickness = 1;
  }
  void GetLineMetrics(TVectorLineMetrics& m, int32_t line) override { MetricsFromPlacements(m, line, {}); }
  int32_t GetGlyphCount(int32_t line) override { return counts[size_t(line)]; }
  void GetGlyphPath(TPath& p, int32_t, int32_t) override { AddRectToPath(p, 1, float(-box), float(box), float(box)); }
  void GetGlyphInfo(TGlyphPlacement& g, int32_t, int32_t j) override {
    g = {};
    g.AWidth = 1;
    g.BWidth = box;
    g.CWidth = 1;
    g.Advance = box + 2;
    g.Ascent = FontMetrics.Ascent;
    g.Descent = FontMetrics.Descent;
    g.Height = g.Ascent + g.Descent;
    g.PenX = j * (box + 2);
  }
  std::vector<int> counts;
  int box;
};

struct Picture {
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  uint32_t at(int x, int y) const { return px[size_t(y * w + x)]; }
};

Picture Take(imaging::TImage* image) {
  Picture p;
  imaging::TBitmap* b = image->GetBitmap();
  EXPECT_EQ(b->PixelFormat, imaging::pfA8R8G8B8);
  p.w = b->Width;
  p.h = b->Height;
  std::vector<imaging::TFColorA> row(size_t(p.w));
  for (int y = 0; y < p.h; ++y) {
    b->GetPixels32(row, 0, 0, y, p.w);
    for (auto c : row) p.px.push_back(MakeARGB(c.R, c.G, c.B, c.A));
  }
  image->Free();
  return p;
}

}  // namespace

TEST(TextProducer, OneEmptyLineIsBackgroundOnly) {
  auto* t = new TBoxText({0});
  auto* p = new TTextProducer();
  p->SetVectorText(t, true);
  const Picture pic = Take(p->Render(0xFF000000u, 0xFF00FF00u, 2.0));
  EXPECT_EQ(pic.w, 2);
  EXPECT_EQ(pic.h, int(std::nearbyint((12 + 4) * 2.0)) + 2);
  for (uint32_t v : pic.px) EXPECT_EQ(v, 0xFF00FF00u);
  EXPECT_EQ(p->LineRects.Count, 0);
  p->Free();
}

TEST(TextProducer, GlyphsLandAtTheirPlaces) {
  // Two glyphs of 10 on a line: ink from x = 1 + 1 to 1 + 11 and 13 to 23;
  // the baseline at 1 + ascent 12 = 13, so the ink spans rows 3..12.
  auto* t = new TBoxText({2});
  auto* p = new TTextProducer();
  p->SetVectorText(t, true);
  const Picture pic = Take(p->Render(0xFF000000u, 0xFFFFFFFFu, 1.0));
  EXPECT_EQ(pic.w, 24 + 2);
  EXPECT_EQ(pic.h, 16 + 2);
  for (int y = 0; y < pic.h; ++y)
    for (int x = 0; x < pic.w; ++x) {
      const bool ink = y >= 3 && y < 13 && ((x >= 2 && x < 12) || (x >= 14 && x < 24));
      EXPECT_EQ(pic.at(x, y), ink ? 0xFF000000u : 0xFFFFFFFFu) << x << "," << y;
    }
  ASSERT_EQ(p->LineRects.Count, 1);
  const auto r = p->LineRects.Items[0];
  EXPECT_EQ(r.Left, 1);
  EXPECT_EQ(r.Right, 25);
  EXPECT_EQ(r.Top, 1);
  EXPECT_EQ(r.Bottom, 17);
  EXPECT_TRUE(RectListContains(p->LineRects, 1, 1));
  EXPECT_FALSE(RectListContains(p->LineRects, 25, 5));
  EXPECT_FALSE(RectListContains(p->LineRects, 5, 17));
  p->Free();
}

TEST(TextProducer, AlignmentSharesCentreOrRightEdge) {
  for (uint8_t align : {uint8_t(1), uint8_t(2)}) {
    auto* p = new TTextProducer();
    p->SetVectorText(new TBoxText({1, 3, 2}), true);
    p->Alignment = align;
    Take(p->Render(0xFF000000u, 0xFFFFFFFFu, 1.0));
    ASSERT_EQ(p->LineRects.Count, 3);
    const auto* r = p->LineRects.Items.data();
    for (int i = 1; i < 3; ++i) {
      if (align == 1) EXPECT_NEAR(r[i].Left + r[i].Right, r[0].Left + r[0].Right, 1) << i;
      else EXPECT_EQ(r[i].Right, r[0].Right) << i;
      EXPECT_EQ(r[i].Top, r[i - 1].Bottom);  // lines (ascent + descent) apart
    }
    p->Free();
  }
}

TEST(TextProducer, TransparentCanvasAndBars) {
  // White text on transparent white keeps the canvas: no background pass.
  auto* p = new TTextProducer();
  p->SetVectorText(new TBoxText({1}), true);
  Picture pic = Take(p->RenderEx(0xFFFFFFFFu, 0x00FFFFFFu, 1.0, true, true, {0, 0}, u"x"));
  EXPECT_EQ(pic.at(0, 0), 0x00FFFFFFu);
  EXPECT_EQ(pic.at(5, 5), 0xFFFFFFFFu);
  // The underline covers the rows from nearest(2) to nearest(1 + 2) below the baseline at 13: row 15.
  EXPECT_EQ(pic.at(6, 15), 0xFFFFFFFFu);
  EXPECT_EQ(pic.at(6, 16), 0x00FFFFFFu);
  // The strike-out: one row 5 above the baseline.
  EXPECT_EQ(pic.at(1, 8), 0xFFFFFFFFu);  // left of the glyph's ink, on the bar
  EXPECT_EQ(pic.at(1, 9), 0x00FFFFFFu);
  p->Free();
}

TEST(TextProducer, NegativeLineSpacingHoldsTheImageAtOnePixel) {
  auto* t = new TBoxText({1, 1, 1});
  const auto size = GetVectorTextSize(t, 1.0, -1000);
  EXPECT_GE(size.X, 1);
  EXPECT_EQ(size.Y, 1);
  auto* p = new TTextProducer();
  p->SetVectorText(t, true);
  p->LineSpacing = -1000;
  const Picture pic = Take(p->Render(0xFF000000u, 0xFFFFFFFFu, 1.0));
  EXPECT_EQ(pic.h, 1);
  EXPECT_EQ(pic.w, int(size.X));
  p->Free();
}

TEST(TextProducer, CancelStopsAfterTheFirstLine) {
  auto* p = new TTextProducer();
  p->SetVectorText(new TBoxText({1, 1}), true);
  int calls = 0;
  p->OnProgress = [&](TTextProducer*, bool& cancel) {
    ++calls;
    cancel = true;
  };
  const Picture pic = Take(p->Render(0xFF000000u, 0x00000000u, 1.0));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(pic.h, 2 * 16 + 2);  // full size, second line left empty
  EXPECT_EQ(pic.at(5, 16 + 8), 0u);
  p->Free();
}

TEST(RectList, EmptyRectanglesAndGrowth) {
  TRectList l;
  EXPECT_EQ(AddRectToList(l, {0, 0, 0, 5}), -1);
  EXPECT_EQ(AddRectToList(l, {0, 5, 3, 5}), -1);
  EXPECT_EQ(l.Count, 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(AddRectToList(l, {i, 0, i + 1, 1}), i);
  EXPECT_EQ(l.Items.size(), 8u);
  ClearRectList(l);
  EXPECT_EQ(l.Count, 0);
  EXPECT_TRUE(l.Items.empty());
}

class VectorTextFontsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
    InitGdiDynamicFunctions();
    InitFontSubstitute();
    InitWinTextVectorizer();
  }
  void TearDown() override {
    DoneWinTextVectorizer();
    DoneFontSubstitute();
    DoneGdiDynamicFunctions();
    DoneDWTextUtils();
    DoneTextServices();
  }
};

TEST_F(VectorTextFontsTest, TextRendersFromOutlines) {
  auto* lines = new foundation::TStringList();
  lines->Add(u"Hi");
  lines->Add(u"");
  TFontParams f = DefaultFontParams();
  f.Size = 36;
  TVectorText* t = CreateVectorText(f, lines);
  lines->Free();
  ASSERT_EQ(t->LineCount, 2);
  TVectorLineMetrics m0, m1;
  t->GetLineMetrics(m0, 0);
  t->GetLineMetrics(m1, 1);
  EXPECT_GT(m0.Width, 20);
  EXPECT_EQ(m0.Width, m0.LeftOverhang + m0.FullWidth + m0.RightOverhang);
  EXPECT_EQ(m1.Width, 0);
  EXPECT_EQ(m1.Ascent, t->FontMetrics.Ascent);
  auto* p = new TTextProducer();
  p->SetVectorText(t, true);
  const Picture pic = Take(p->Render(0xFF0000FFu, 0xFFFFFFFFu, 1.0));
  // Ink: the columns and rows holding blue pixels lie inside the first line's
  // rectangle and fill most of the "H" cap height.
  int minX = pic.w, maxX = -1, minY = pic.h, maxY = -1, blue = 0;
  for (int y = 0; y < pic.h; ++y)
    for (int x = 0; x < pic.w; ++x)
      if (pic.at(x, y) != 0xFFFFFFFFu) {
        ++blue;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
  ASSERT_GT(blue, 100);
  ASSERT_EQ(p->LineRects.Count, 1);
  const auto r = p->LineRects.Items[0];
  EXPECT_GE(minX, r.Left);
  EXPECT_LE(maxX, r.Right);
  EXPECT_GE(minY, r.Top);
  EXPECT_LE(maxY, r.Bottom);
  const int baseline = r.Top + t->FontMetrics.Ascent;
  EXPECT_LE(maxY, baseline);
  EXPECT_GT(baseline - minY, 30);  // the cap height of 48 pixels (36 points) is about 34
  EXPECT_EQ(pic.at(minX + 2, baseline - 10), 0xFF0000FFu);  // inside the left stem of "H"
  p->Free();
}
