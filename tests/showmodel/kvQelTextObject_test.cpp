// Text objects: lines with macros expanded, rendered through the "Text: "
// generator at the largest on-screen size, drawn tinted with the state
// colour; texts without a Scale key frame; button captions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "imaging/kvCompoundBitmap.h"
#include "showmodel/kvQelText.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/TextServicesTest.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace {

using namespace objtest;

class TextObjects : public TextServicesTest {};

std::string TextBlock(const std::string& name, const std::string& keys, const std::string& keyPoint = "") {
  return "object " + name + ": Text\nGUID={" + name + "}\nFontName=DejaVu Sans\n" + keys +
         "object K: KeyPoint\nTime=0\n" + keyPoint + "end\nend\n";
}

TEST_F(TextObjects, LinesWithMacrosAreRenderedAtTheLargestOnScreenSize) {
  SlideFixture f(TextBlock("T", "Text=\"Slide<%SlideIndex%>/<%SlidesCount%>\"\nTextColor=#FF0000\n",
                           "ScaleX=20\nScaleY=20\n"));
  f.Slide->Host->SlideCount = 9;
  f.Slide->MaxScreenSize = {800, 600};
  f.Build();
  f.At(0);
  auto* t = f.Get<TQelText>("T");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->ExpandedLines.size(), 1u);
  EXPECT_EQ(t->ExpandedLines[0], u"Slide1/9");
  ASSERT_NE(t->Image, nullptr);
  EXPECT_EQ(t->TextKey.rfind(u"Text: ", 0), 0u);
  ASSERT_GT(t->RasterSize.Y, 0);
  // 20 % of a parent up to 600 pixels high: 120 pixels of text, unless the limits halve it.
  const double wanted = 20.0 * 600 / 100 / t->RasterSize.Y;
  EXPECT_TRUE(t->RasterScale == float(wanted) || t->RasterScale == float(wanted / 2)) << t->RasterScale;
  EXPECT_NEAR(t->Image->Params.Height, t->RasterSize.Y * t->RasterScale, 3);
  // On screen: 20 % of the slide's 600 pixels.
  EXPECT_NEAR(t->ScaleYEff * (t->TextBounds.Bottom - t->TextBounds.Top), 120, 1e-3);
  RecordingDrawer d;
  f.Slide->Draw(&d);
  EXPECT_EQ(d.Kinds(), (std::vector<std::string>{"item T", "shadow", "image"}));
  EXPECT_EQ(d.Of("image")[0].Params.Tint, 0xFFFF0000u);
  EXPECT_EQ(d.Of("image")[0].Image, t->Image);
  // Two texts of the same key share one picture.
  SlideFixture g(TextBlock("A", "Text=Same\n") + TextBlock("B", "Text=Same\n"));
  g.Build();
  g.At(0);
  EXPECT_EQ(g.Get<TQelText>("A")->Image->Store, g.Get<TQelText>("B")->Image->Store);
}

// Where pixel (x, y) of a drawn picture lands on the slide.
T3DPoint Lands(const DrawCall& c, float x, float y) {
  return {c.Frame.Origin.X + c.A.X * (x - c.Offset.X) + c.B.X * (y - c.Offset.Y),
          c.Frame.Origin.Y + c.A.Y * (x - c.Offset.X) + c.B.Y * (y - c.Offset.Y),
          c.Frame.Origin.Z + c.A.Z * (x - c.Offset.X) + c.B.Z * (y - c.Offset.Y)};
}

TEST_F(TextObjects, ACompoundPictureIsDrawnPartByPartWhereThePictureWouldBe) {
  SlideFixture f(TextBlock("T", "Text=Parts\nTextColor=#00FF00\nShadowEnable=1\n", "ScaleX=30\nScaleY=30\nOpacity=40\n"));
  f.Slide->MaxScreenSize = {800, 600};
  f.Build();
  f.At(0);
  auto* t = f.Get<TQelText>("T");
  ASSERT_NE(t->Image, nullptr);
  RecordingDrawer plain;
  f.Slide->Draw(&plain);
  ASSERT_EQ(plain.Of("image").size(), 1u);
  const DrawCall whole = plain.Of("image")[0];
  // Two parts of the same picture, at (0, 0) and (20, 5).
  auto* compound = new imaging::TCompoundBitmap(t->Image->Params.Width, t->Image->Params.Height, imaging::pfA8R8G8B8);
  struct Part {
    int x, y, w, h;
  } parts[] = {{0, 0, 10, 8}, {20, 5, 6, 4}};
  for (const Part& p : parts) {
    imaging::TCompoundItem item;
    item.Bitmap = imaging::CreateSysBitmap(p.w, p.h, imaging::pfA8R8G8B8);
    item.Owns = true;
    item.X = p.x;
    item.Y = p.y;
    compound->Items.push_back(item);
  }
  t->Image->Store->AddAttachment(compound);
  RecordingDrawer d;
  f.Slide->Draw(&d);
  // No shadow: the parts alone.
  EXPECT_EQ(d.Kinds(), (std::vector<std::string>{"item T", "image", "image"}));
  const float unit = std::hypot(whole.A.X, whole.A.Y);
  ASSERT_GT(unit, 0);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const DrawCall c = d.Of("image")[i];
    const Part& p = parts[i];
    EXPECT_EQ(c.Image->Params.Width, p.w);
    // The part's corners land where the picture's pixels would, up to the
    // jitter of -5 .. +4 pixels.
    for (auto [qx, qy] : {std::pair{0, 0}, {p.w, p.h}}) {
      const T3DPoint got = Lands(c, float(qx), float(qy));
      const T3DPoint want = Lands(whole, float(p.x + qx), float(p.y + qy));
      EXPECT_LE(std::fabs(got.X - want.X), 5 * unit + 1e-3);
      EXPECT_LE(std::fabs(got.Y - want.Y), 5 * unit + 1e-3);
    }
    // The part keeps the picture's scale and direction.
    EXPECT_NEAR(c.A.X, whole.A.X, 1e-5);
    EXPECT_NEAR(c.B.Y, whole.B.Y, 1e-5);
    EXPECT_FLOAT_EQ(c.Params.Opacity, 40);
    EXPECT_EQ(c.Params.Tint, 0xFF00FF00u);
  }
  // The jitter moves the two corners of one part together.
  const DrawCall c = d.Of("image")[1];
  const T3DPoint a = Lands(c, 0, 0), b = Lands(c, 6, 4);
  EXPECT_NEAR(b.X - a.X, 6 * whole.A.X, 1e-3);
  EXPECT_NEAR(b.Y - a.Y, 4 * whole.B.Y, 1e-3);
}

TEST_F(TextObjects, TextWithoutScaleKeyFramesIsRenderedAtItsShownSize) {
  SlideFixture f(TextBlock("T", "Text=Hello\n", "Opacity=100\n"));
  f.Slide->MaxScreenSize = {800, 600};
  f.Build();
  f.At(0);
  auto* t = f.Get<TQelText>("T");
  ASSERT_NE(t->Image, nullptr);
  // Shown at scale 100 (the whole slide height), so rasterised large, never as a 2 x 2 picture.
  EXPECT_GT(t->RasterScale, 1);
  EXPECT_GT(t->Image->Params.Height, 100);
}

TEST_F(TextObjects, EmptyItemsGetABlankLineAndACaptionKeepsItsFirstLine) {
  SlideFixture f(TextBlock("Empty", "Text=\n") +
                 "object Btn: Button\nGUID={Btn}\n" + TextBlock("Cap", "Text=\"One\r\nTwo\"\n") + "end\n");
  // Loading alone (no raster: the blank glyph's empty outline is not drawn here).
  f.Build();
  auto* empty = f.Get<TQelText>("Empty");
  ASSERT_FALSE(empty->Lines.empty());
  EXPECT_EQ(empty->Lines.back(), u" ");
  auto* cap = f.Get<TQelText>("Cap");
  ASSERT_NE(cap, nullptr);
  EXPECT_EQ(cap->Lines, (std::vector<std::u16string>{u"One"}));
  EXPECT_TRUE(cap->TranspForClick);
  EXPECT_FALSE(cap->ShadowEnable);
  EXPECT_EQ(f.Get<TQelButton>("Btn")->Caption, cap);
}

}  // namespace

namespace {

TEST_F(TextObjects, ButtonWidthFollowsItsCaption) {
  SlideFixture f("object Btn: Button\nGUID={Btn}\nTheme=blue\nBtnOffsetX=50\n" +
                 TextBlock("Cap", "Text=\"A-rather-long-caption\"\n", "ScaleX=80\nScaleY=80\n") + "end\n");
  f.Tree.write("buttons/skin.fake", "FAKE 12 6 120");
  std::string ini;
  for (const char* state : {"NormalState", "HoverState", "ClickState"})
    ini += std::string("[") + state + "]\nLeftTop=skin.fake,0,0,3,2\nTop=skin.fake,3,0,9,2\nRightTop=skin.fake,9,0,12,2\n"
           "Right=skin.fake,9,2,12,4\nRightBottom=skin.fake,9,4,12,6\nBottom=skin.fake,3,4,9,6\n"
           "LeftBottom=skin.fake,0,4,3,6\nLeft=skin.fake,0,2,3,4\nCenter=skin.fake,3,2,9,4\n";
  f.Tree.write("buttons/blue/btn.ini", ini);
  f.Slide->Host->ButtonPath = f.Tree.internal("buttons") + u"\\";
  f.Build();
  f.At(0);
  f.At(0);  // the caption's raster size is known after the first frame
  auto* btn = f.Get<TQelButton>("Btn");
  auto* cap = f.Get<TQelText>("Cap");
  ASSERT_TRUE(btn && cap && cap->RasterSize.Y > 0);
  // H = 6: round(6 x 50 % + (6 - round(6 x 20 %)) x aspect), at least the height.
  const double aspect = cap->RasterSize.X / cap->RasterSize.Y;
  const double want = std::nearbyint(3 + (6 - 1) * aspect);
  EXPECT_EQ(btn->ButtonWidth, int32_t(std::max(want, 6.0)));
  ASSERT_NE(btn->Image, nullptr);
  EXPECT_EQ(btn->Image->Params.Width, btn->ButtonWidth);
}

// A text's shadow is cast by its glyphs: the shadow names the text's own
// picture as its source (a shadow without a source is a filled rectangle).
TEST_F(TextObjects, TheShadowIsCastByTheTextsOwnPicture) {
  SlideFixture f(TextBlock("T", "Text=Shade\nShadowEnable=1\n", "ScaleX=20\nScaleY=20\n"));
  f.Slide->MaxScreenSize = {800, 600};
  f.Build();
  f.At(0);
  auto* t = f.Get<TQelText>("T");
  ASSERT_TRUE(t && t->Image);
  ASSERT_NE(t->Shadow, nullptr);
  const std::u16string source = t->Shadow->Params.SourceKey;
  EXPECT_EQ(source.rfind(u"Text: ", 0), 0u);
  // The name leads back to the very picture that is drawn.
  foundation::TRef<imaging::TImage> again =
      foundation::TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(f.Accessor.Get(), source));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Store, t->Image->Store);
}

}  // namespace
