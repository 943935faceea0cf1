// The show objects drawn on the screen's draw manager (llvmpipe) and read
// back: one slide with a box, an image, a mask picture, a button and a text.
// Where each lands follows from the placement rules alone: an object is
// fitted into its parent, scaled by its scale percent and centred on its
// position (percent of half the parent from the parent's centre); at a
// 1:1 view, world (x, y) is pixel (x, y). The record translation is
// checked on its own.
#include "showmodel/kvQel3DDrawer.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/render3d/DrawerRig.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/TextServicesTest.h"
#include "tests/support/PinnedFonts.h"
#include "render3d/ColorGradeTexture.h"
#include "showmodel/kvQelText.h"
#include "showmodel/kvQelViewPort.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace {

using namespace objtest;

constexpr int32_t kW = 160, kH = 120;
constexpr uint32_t kBackground = 0xFF0000FFu;  // blue

int R(uint32_t c) { return int(c >> 16 & 255); }
int G(uint32_t c) { return int(c >> 8 & 255); }
int B(uint32_t c) { return int(c & 255); }

TEST(DrawRecords, ObjectRecordsBecomeTheDrawManagersRecords) {
  TObjectDrawParams p;
  p.Antialiased = true;
  p.Premultiplied = true;
  p.Opacity = 40;
  p.Filtering = flNearest;
  p.HasCrop = true;
  p.Crop = {1, 2, 3, 4};
  p.Tint = 0xFF102030u;
  p.TintValid = 1;
  p.MipLevel = 2;
  p.MipBias = -0.5f;
  p.Animated = true;
  p.GridColumns = 4;
  p.GridRows = 3;
  p.BorderColor = 0xFF00FF00u;
  const render3d::TImageDrawParams r = ToImageDrawParams(p);
  EXPECT_EQ(r.Perspective, 1);
  EXPECT_EQ(r.Premultiplied, 1);
  EXPECT_FLOAT_EQ(r.Opacity, 40);
  EXPECT_EQ(r.Filter, 0);
  EXPECT_FLOAT_EQ(r.Crop.Left, 1);
  EXPECT_FLOAT_EQ(r.Crop.Bottom, 4);
  EXPECT_EQ(r.Tinted, 1);
  EXPECT_EQ(r.TintRed, 0x10);
  EXPECT_EQ(r.TintGreen, 0x20);
  EXPECT_EQ(r.TintBlue, 0x30);
  EXPECT_EQ(r.Level, 2);
  EXPECT_FLOAT_EQ(r.LodBias, -0.5f);
  EXPECT_EQ(r.Atlas, 1);
  EXPECT_EQ(r.AtlasColumns, 4);
  EXPECT_EQ(r.AtlasRows, 3);
  EXPECT_EQ(r.EdgeColor, 0xFF00FF00u);
  // Grading without device tables is left off; a white tint and no crop change nothing.
  p.Grade.Mode = gmLookup;
  p.Tint = 0xFFFFFFFFu;
  p.HasCrop = false;
  const render3d::TImageDrawParams plain = ToImageDrawParams(p);
  EXPECT_EQ(plain.GradeMode, 0);
  EXPECT_EQ(plain.Tinted, 0);
  EXPECT_FLOAT_EQ(plain.Crop.Right - plain.Crop.Left, 0);

  TBoxDrawParams b;
  b.EdgeAntialias[1] = b.EdgeAntialias[3] = true;
  b.FillMode = 6;
  b.Color1 = 0xFF112233u;
  b.Color2 = 0x80445566u;
  b.Opacity = 70;
  const render3d::TBoxParams box = ToBoxParams(b);
  EXPECT_EQ(box.EdgeLeft, 0);
  EXPECT_EQ(box.EdgeTop, 1);
  EXPECT_EQ(box.EdgeRight, 0);
  EXPECT_EQ(box.EdgeBottom, 1);
  EXPECT_EQ(box.FillMode, 6);
  EXPECT_EQ(box.Color1, 0xFF112233u);
  EXPECT_EQ(box.Color2, 0x80445566u);
  // The box's edges are whole vectors: one unit each way.
  EXPECT_FLOAT_EQ(box.Width, 1);
  EXPECT_FLOAT_EQ(box.Height, 1);
  EXPECT_FLOAT_EQ(box.Opacity, 70);
}

class SlideOnTheScreen : public TextServicesTest, protected render3d_test::TDrawerRig {
 protected:
  void SetUp() override {
    TextServicesTest::SetUp();
    if (HasFatalFailure()) return;
    Open(kW, kH);
  }
  void TearDown() override {
    Close();
    TextServicesTest::TearDown();
  }
};

std::string Block(const std::string& name, const std::string& kind, const std::string& keys,
                  const std::string& keyPoint) {
  return "object " + name + ": " + kind + "\nGUID={" + name + "}\n" + keys + "object K: KeyPoint\nTime=0\n" + keyPoint +
         "end\nend\n";
}

TEST_F(SlideOnTheScreen, EveryObjectKindLandsWhereItsPlacementSays) {
  SlideFixture files("");
  const std::string photo = Utf8(files.FakePicture("photo.fake", 40, 30, 200));
  const std::string mask = Utf8(files.FakePicture("mask.fake", 40, 30, 128));
  std::string skin;
  for (const char* state : {"NormalState", "HoverState", "ClickState"})
    skin += std::string("[") + state + "]\nLeftTop=skin.fake,0,0,3,2\nTop=skin.fake,3,0,9,2\nRightTop=skin.fake,9,0,12,2\n"
            "Right=skin.fake,9,2,12,4\nRightBottom=skin.fake,9,4,12,6\nBottom=skin.fake,3,4,9,6\n"
            "LeftBottom=skin.fake,0,4,3,6\nLeft=skin.fake,0,2,3,4\nCenter=skin.fake,3,2,9,4\n";
  // A 160 x 120 slide. The box (as large as the slide, at half scale) fills
  // the top-left quarter; the 40 x 30 photo, fitted (x 4) at half scale, the
  // top-right one; the mask picture at quarter scale (40 x 30) is centred on
  // (20, 75); the button, 20 % of the slide high (24 pixels), on (60, 105);
  // the text, 20 % high, on (120, 90).
  SlideFixture f(Block("Box", "Box", "Size=160,120\nColor1=#FF0000\n", "ScaleX=50\nScaleY=50\nPosition=-50,-50\n") +
                     Block("Photo", "Image", "ImageName=" + photo + "\nFiltering=Nearest\n",
                           "ScaleX=50\nScaleY=50\nPosition=50,-50\n") +
                     Block("Mask", "Image", "ImageName=" + mask + "\nRestoreAlpha=1\nFiltering=Nearest\n",
                           "ScaleX=25\nScaleY=25\nPosition=-75,25\n") +
                     Block("Btn", "Button", "Theme=blue\n", "ScaleX=20\nScaleY=20\nPosition=-25,75\n") +
                     Block("Txt", "Text", "Text=Hi\nFontName=DejaVu Sans\nTextColor=#00FF00\nShadowEnable=0\n",
                           "ScaleX=20\nScaleY=20\nPosition=50,50\n"),
                 kW, kH);
  f.Tree.write("buttons/skin.fake", "FAKE 12 6 120");
  f.Tree.write("buttons/blue/btn.ini", skin);
  f.Slide->Host->ButtonPath = f.Tree.internal("buttons") + u"\\";
  f.Slide->MaxScreenSize = {float(kW), float(kH)};
  f.Build();
  f.At(0);
  f.At(0);  // the text's raster size is known after the first frame
  ASSERT_NE(f.Get<TQelImage>("Photo")->Image, nullptr);
  ASSERT_NE(f.Get<TQelText>("Txt")->Image, nullptr);
  ASSERT_NE(f.Get<TQelButton>("Btn")->Image, nullptr);

  TQel3DDrawer drawer(D);
  ASSERT_TRUE(drawer.DrawTree(f.Slide.Get(), Full(), kBackground));
  const std::vector<uint32_t> px = Back();
  auto at = [&](int x, int y) { return px[size_t(y) * kW + size_t(x)]; };
  auto rgb = [&](int x, int y, int r, int g, int b) {
    const uint32_t c = at(x, y);
    return std::abs(R(c) - r) <= 3 && std::abs(G(c) - g) <= 3 && std::abs(B(c) - b) <= 3;
  };

  // The box: red on (0, 0) .. (80, 60), the photo's grey 200 beside it.
  for (auto [x, y] : {std::pair{2, 2}, {40, 30}, {77, 57}}) EXPECT_TRUE(rgb(x, y, 255, 0, 0)) << x << "," << y;
  for (auto [x, y] : {std::pair{82, 2}, {120, 30}, {157, 57}}) EXPECT_TRUE(rgb(x, y, 200, 200, 200)) << x << "," << y;
  // The mask: grey 128 whose alpha is its brightness, drawn premultiplied
  // over the blue: 128 + 255 x (1 - 128 / 255) = 255 in blue.
  for (auto [x, y] : {std::pair{3, 63}, {20, 75}, {37, 87}}) EXPECT_TRUE(rgb(x, y, 128, 128, 255)) << x << "," << y;
  EXPECT_TRUE(rgb(20, 93, 0, 0, 255));  // below it
  // The button: its skin's grey 120, 24 pixels high about row 105.
  EXPECT_TRUE(rgb(60, 105, 120, 120, 120)) << std::hex << at(60, 105);
  int top = -1, bottom = -1;
  for (int y = 60; y < kH; ++y)
    if (rgb(60, y, 120, 120, 120)) {
      if (top < 0) top = y;
      bottom = y;
    }
  EXPECT_NEAR(top, 93, 1);
  EXPECT_NEAR(bottom, 116, 1);
  // The text: green ink within its 24-pixel line about row 90, right half.
  int ink = 0, stray = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint32_t c = at(x, y);
      if (G(c) > 128 && R(c) < 100) {
        if (x >= 80 && y >= 78 && y <= 102)
          ++ink;
        else
          ++stray;
      }
    }
  EXPECT_GT(ink, 20);
  EXPECT_EQ(stray, 0);
  // Where nothing is drawn the background stays.
  for (auto [x, y] : {std::pair{100, 70}, {150, 115}, {5, 115}, {45, 65}})
    EXPECT_TRUE(rgb(x, y, 0, 0, 255)) << x << "," << y << " " << std::hex << at(x, y);
}

TEST_F(SlideOnTheScreen, KeyFrameFiltersGradeThePictureOnTheDevice) {
  InitQel3DDrawer();
  SlideFixture files("");
  const std::string photo = Utf8(files.FakePicture("photo.fake", 40, 30, 200));
  // The left photo is inverted by its key frame's filter, the right one is not.
  SlideFixture f("object Inverted: Image\nGUID={I}\nImageName=" + photo +
                     "\nobject K: KeyPoint\nTime=0\nScaleX=50\nScaleY=50\nPosition=-50,0\n"
                     "object Invert: Filter\nend\nend\nend\n" +
                     Block("Plain", "Image", "ImageName=" + photo + "\n", "ScaleX=50\nScaleY=50\nPosition=50,0\n"),
                 kW, kH);
  f.Build();
  f.At(0);
  TQel3DDrawer drawer(D);
  ASSERT_TRUE(drawer.DrawTree(f.Slide.Get(), Full(), kBackground));
  const std::vector<uint32_t> px = Back();
  const uint32_t inverted = px[size_t(60) * kW + 40], plain = px[size_t(60) * kW + 120];
  for (int v : {R(inverted), G(inverted), B(inverted)}) EXPECT_NEAR(v, 255 - 200, 3) << std::hex << inverted;
  for (int v : {R(plain), G(plain), B(plain)}) EXPECT_NEAR(v, 200, 3) << std::hex << plain;
  render3d::SetFilterChainApplier(nullptr);
}

}  // namespace

namespace {

// A viewport that follows the slide: its stencil is a white box over the
// left half, its content the grey 200 photo fitted to the whole slide. The
// photo shows through the left half only; on the right the stencil has
// drawn nothing and the blue background stays.
TEST_F(SlideOnTheScreen, AViewportShowsItsContentOnlyInsideTheMask) {
  InitQel3DDrawer();
  InitViewPorts();
  SlideFixture files("");
  const std::string photo = Utf8(files.FakePicture("photo.fake", 40, 30, 200));
  const std::string key = "object K: KeyPoint\nTime=0\nend\n";
  SlideFixture f("object V: ViewPort\nGUID={V}\nSize=1280,720\n" + key +
                     "object S: MaskStencil\nGUID={S}\n" + key +
                     Block("Shape", "Box", "Size=160,120\nColor1=#FFFFFF\n", "ScaleX=50\nScaleY=100\nPosition=-50,0\n") +
                     "end\nobject C: MaskContent\nGUID={C}\n" + key +
                     Block("Photo", "Image", "ImageName=" + photo + "\nFiltering=Nearest\n", "") + "end\nend\n",
                 kW, kH);
  f.Build();
  f.At(0);
  auto* v = dynamic_cast<TQelViewPort*>(f.Find("V"));
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(v->FollowsSlide);
  ASSERT_NE(f.Get<TQelImage>("Photo")->Image, nullptr);

  TQel3DDrawer drawer(D);
  render3d::TViewState view;
  view.Viewport = {0, 0, kW, kH};
  view.Area = {0, 0, float(kW), float(kH)};
  view.Scale = {float(kW), float(kH)};
  ASSERT_TRUE(drawer.DrawTree(f.Slide.Get(), view, kBackground));
  render3d::T3DSurface* back = nullptr;
  ASSERT_TRUE(S->Renderer->GetBackBuffer(back));
  const std::vector<uint32_t> px = render3d_test::ReadBack(back);
  int inside = 0, outside = 0;
  for (int y = 2; y < kH - 2; ++y)
    for (int x = 2; x < kW - 2; ++x) {
      if (x >= 78 && x <= 82) continue;  // the mask's edge
      const uint32_t c = px[size_t(y) * kW + size_t(x)];
      const bool grey = std::abs(R(c) - 200) <= 3 && std::abs(G(c) - 200) <= 3 && std::abs(B(c) - 200) <= 3;
      const bool blue = R(c) <= 3 && G(c) <= 3 && B(c) >= 252;
      if (x < 80 ? !grey : !blue) {
        if (x < 80)
          ++inside;
        else
          ++outside;
        if (inside + outside < 5) ADD_FAILURE() << x << "," << y << " " << std::hex << c;
      }
    }
  EXPECT_EQ(inside, 0);
  EXPECT_EQ(outside, 0);
  DoneQel3DDrawer();
}

}  // namespace
