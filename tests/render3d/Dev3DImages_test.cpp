// Image, box, border and bar drawing of the draw manager on the GL device
// (llvmpipe), read back. Expected pixels come from the geometry itself: the
// centre of pixel (i, j) is world (i + 0.5, j + 0.5); with point filtering
// it shows the texel under the inverse of the drawing's affine map.
#include "DrawerRig.h"

#include <cmath>
#include <functional>

#include "imaging/ColorGradeGenerator.h"
#include "imaging/SysBitmapStore.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DImages.h"

using namespace render3d;
using namespace render3d_test;

namespace {

constexpr int32_t kW = 80, kH = 60;

imaging::TImage* MakeImage(int32_t w, int32_t h, const std::vector<uint32_t>& px) {
  imaging::TSysBitmap* b = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(u"A8R8G8B8"));
  for (int32_t y = 0; y < h; ++y) std::memcpy(b->Row(y), &px[size_t(y) * w], size_t(w) * 4);
  return imaging::WrapBitmapAsImage(b, true, u"");
}

// Every texel different: red from x, green from y, blue from both.
std::vector<uint32_t> Picture(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      p[size_t(y) * w + x] = 0xFF000000u | uint32_t(20 + x * 13) << 16 | uint32_t(30 + y * 17) << 8 | uint32_t((x * 7 + y * 11) & 255);
  return p;
}

class ImagesGL : public ::testing::Test, protected TDrawerRig {
 protected:
  void SetUp() override { Open(kW, kH); }
  void TearDown() override { Close(); }
};

uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x]; }

// The drawing's map: image point (u, v) lands at origin + ax (u - ox) + ay (v - oy).
struct TPlacement {
  const char* Name;
  T3DPoint Origin;
  TFloatPoint Offset;
  T3DPoint AxisX, AxisY;
};

// Which texel the centre of pixel (i, j) shows, or false outside the image.
bool TexelUnder(const TPlacement& p, int i, int j, int32_t w, int32_t h, int& u, int& v) {
  double px = i + 0.5 - p.Origin.X, py = j + 0.5 - p.Origin.Y;
  double det = double(p.AxisX.X) * p.AxisY.Y - double(p.AxisX.Y) * p.AxisY.X;
  double a = (px * p.AxisY.Y - py * p.AxisY.X) / det + p.Offset.X;
  double b = (py * p.AxisX.X - px * p.AxisX.Y) / det + p.Offset.Y;
  if (a < 0 || b < 0 || a >= w || b >= h) return false;
  // Centres too close to a texel edge are left out: point sampling may pick either side.
  if (std::fabs(a - std::round(a)) < 1e-3 || std::fabs(b - std::round(b)) < 1e-3) return false;
  u = int(std::floor(a));
  v = int(std::floor(b));
  return true;
}

TEST_F(ImagesGL, CachedImageLandsWhereItsPlacementSays) {
  const int32_t w = 16, h = 12;
  auto pic = Picture(w, h);
  auto* image = Own(MakeImage(w, h, pic));
  const TPlacement cases[] = {
      {"one to one", {10, 8, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}},
      {"anchored at its centre", {40, 30, 0}, {8, 6}, {1, 0, 0}, {0, 1, 0}},
      {"doubled", {5, 4, 0}, {0, 0}, {2, 0, 0}, {0, 3, 0}},
      {"turned a quarter", {50, 10, 0}, {0, 0}, {0, 1, 0}, {-1, 0, 0}},
      {"turned 30 degrees and enlarged", {40, 8, 0}, {0, 0}, {1.5f * 0.8660254f, 1.5f * 0.5f, 0},
       {-1.5f * 0.5f, 1.5f * 0.8660254f, 0}},
  };
  for (const TPlacement& c : cases) {
    SCOPED_TRACE(c.Name);
    TImageDrawParams p = DefaultImageDrawParams;
    p.Filter = 0;
    auto px = Frame([&](T3DDrawer* d) { d->DrawImage(image, c.Origin, c.Offset, c.AxisX, c.AxisY, p); });
    int inside = 0, bad = 0, outsideBad = 0;
    for (int j = 0; j < kH; ++j)
      for (int i = 0; i < kW; ++i) {
        int u, v;
        uint32_t got = At(px, i, j) & 0xFFFFFF;
        if (TexelUnder(c, i, j, w, h, u, v)) {
          ++inside;
          if (got != (pic[size_t(v) * w + u] & 0xFFFFFF)) ++bad;
        } else {
          // Pixels clearly away from the picture stay background.
          TPlacement grown = c;
          int uu, vv;
          bool near = false;
          for (int dj = -1; dj <= 1 && !near; ++dj)
            for (int di = -1; di <= 1 && !near; ++di)
              near = TexelUnder(grown, i + di, j + dj, w, h, uu, vv) || i + di < 0 || j + dj < 0;
          if (!near && got != 0) ++outsideBad;
        }
      }
    EXPECT_GT(inside, 100);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(outsideBad, 0);
  }
}

// The cached path rounds the opacity (100 -> 255; 50 x 2.55 is just below
// 127.5 in double precision, so 127), the attached device texture
// truncates it (100 -> 254, 50 -> 127).
TEST_F(ImagesGL, OpacityRoundsOnTheCachedPathAndTruncatesOnTheAttachedOne) {
  const int32_t w = 8, h = 8;
  std::vector<uint32_t> white(size_t(w) * h, 0xFFFFFFFFu);
  auto* cachedImage = Own(MakeImage(w, h, white));
  auto* attachedImage = Own(MakeImage(w, h, white));
  // The attachment list holds the texture's one reference and frees it with the image.
  attachedImage->GetAttachments()->Add(new TPixelTexture(S, w, h, white));
  struct Case {
    float Opacity;
    bool Attached;
    int Expected;
  } cases[] = {{100, false, 255}, {50, false, 127}, {100, true, 254}, {50, true, 127}, {0, false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Opacity << (c.Attached ? " attached" : " cached"));
    TImageDrawParams p = DefaultImageDrawParams;
    p.Opacity = c.Opacity;
    auto px = Frame([&](T3DDrawer* d) {
      d->DrawImage(c.Attached ? attachedImage : cachedImage, {20, 20, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, p);
    });
    EXPECT_EQ(Channel(At(px, 23, 23), 1), c.Expected);
    EXPECT_EQ(Channel(At(px, 19, 23), 1), 0);
  }
  EXPECT_EQ(TruncatedOpacityAlpha(100.0f), 254);
  EXPECT_EQ(RoundedOpacityAlpha(100.0f), 255);
}

// A crop of (10, 10, 20, 20) at level 1 samples (5, 5, 10, 10) of the halved
// texture with doubled axes: the crop keeps its size and place, each texel
// of the reduced level covering 2 x 2 pixels.
TEST_F(ImagesGL, CropAtAReducedLevelKeepsItsSizeAndPlace) {
  const int32_t w = 32, h = 32;
  auto pic = Picture(w, h);
  auto* image = Own(MakeImage(w, h, pic));
  for (int32_t level : {0, 1}) {
    SCOPED_TRACE(level);
    // The texels of the level as the image's store reduces them.
    auto* bmp = dynamic_cast<imaging::TSysBitmap*>(image->Store->GetBitmap(level, nullptr, imaging::TSysBitmap::StaticClass()));
    ASSERT_NE(bmp, nullptr);
    ASSERT_EQ(bmp->Width, w >> level);
    auto texel = [&](int x, int y) {
      uint32_t c;
      std::memcpy(&c, bmp->Row(y) + x * 4, 4);
      return c & 0xFFFFFF;
    };
    TImageDrawParams p = DefaultImageDrawParams;
    p.Filter = 0;
    p.Level = level;
    p.Crop = {10, 10, 20, 20};
    auto px = Frame([&](T3DDrawer* d) { d->DrawImage(image, {5, 6, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, p); });
    // Full-size pixel (X, Y) of the crop lands at (5 + X, 6 + Y).
    int bad = 0;
    for (int j = 16; j < 26; ++j)
      for (int i = 15; i < 25; ++i) {
        int X = i - 5, Y = j - 6;
        if ((At(px, i, j) & 0xFFFFFF) != texel(X >> level, Y >> level)) ++bad;
      }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(At(px, 14, 20) & 0xFFFFFF, 0u);
    EXPECT_EQ(At(px, 25, 20) & 0xFFFFFF, 0u);
    EXPECT_EQ(At(px, 20, 15) & 0xFFFFFF, 0u);
    EXPECT_EQ(At(px, 20, 26) & 0xFFFFFF, 0u);
  }
}

TEST_F(ImagesGL, TintMultipliesTheTexels) {
  const int32_t w = 8, h = 8;
  std::vector<uint32_t> pic(size_t(w) * h, 0xFFFFFFFFu);
  for (int32_t x = 0; x < w; ++x) pic[size_t(4) * w + x] = 0xFF808080u;
  auto* image = Own(MakeImage(w, h, pic));
  TImageDrawParams p = DefaultImageDrawParams;
  p.Filter = 0;
  p.Tinted = 1;
  p.TintRed = 200;
  p.TintGreen = 100;
  p.TintBlue = 50;
  auto px = Frame([&](T3DDrawer* d) { d->DrawImage(image, {10, 10, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, p); });
  const int white[3] = {50, 100, 200}, grey[3] = {50 * 128 / 255, 100 * 128 / 255, 200 * 128 / 255};
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(Channel(At(px, 12, 12), k), white[k], 1) << k;
    EXPECT_NEAR(Channel(At(px, 12, 14), k), grey[k], 1) << k;
  }
}

// Per-channel grade tables: the first inverts, the second halves; the mix
// blends them as t1 + (t2 - t1) * mix.
TEST_F(ImagesGL, PerChannelGradeTablesAreMixed) {
  auto ramp = [](std::function<int(int)> f) {
    imaging::TSysBitmap* b = imaging::CreateSysBitmap(256, 16, imaging::PixelFormatByName(u"A8R8G8B8"));
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 256; ++x) {
        uint32_t v = uint32_t(f(x));
        uint32_t c = 0xFF000000u | v << 16 | v << 8 | v;
        std::memcpy(b->Row(y) + x * 4, &c, 4);
      }
    return b;
  };
  auto* invert = Own(new TCustomColorGradeTexture(S, 0));
  invert->SetBitmap(ramp([](int i) { return 255 - i; }), true);
  auto* half = Own(new TCustomColorGradeTexture(S, 0));
  half->SetBitmap(ramp([](int i) { return i / 2; }), true);
  const int32_t w = 8, h = 8;
  const uint32_t colour = 0xFF40A0F0u;  // r 64, g 160, b 240
  std::vector<uint32_t> pic(size_t(w) * h, colour);
  auto* image = Own(MakeImage(w, h, pic));
  for (float mix : {0.0f, 1.0f, 0.25f}) {
    SCOPED_TRACE(mix);
    TImageDrawParams p = DefaultImageDrawParams;
    p.GradeMode = 2;
    p.GradeTable1 = invert;
    p.GradeTable2 = half;
    p.GradeMix = mix;
    auto px = Frame([&](T3DDrawer* d) { d->DrawImage(image, {10, 10, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, p); });
    for (int k = 0; k < 3; ++k) {
      int in = Channel(colour, k);
      double expected = (255 - in) + ((in / 2) - (255 - in)) * double(mix);
      EXPECT_NEAR(Channel(At(px, 13, 13), k), expected, 2) << k;
    }
    // Stages 1 and 2 are unbound again: a plain image afterwards is ungraded.
    TImageDrawParams plain = DefaultImageDrawParams;
    auto after = Frame([&](T3DDrawer* d) { d->DrawImage(image, {10, 10, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, plain); });
    EXPECT_EQ(At(after, 13, 13) & 0xFFFFFF, colour & 0xFFFFFF);
  }
}

// The corner colours of each fill mode, read one pixel inside each corner of
// a 60 x 40 box (the gradient moves them by under 1/40 of the difference).
TEST_F(ImagesGL, BoxFillModesPutTheirColoursInTheCorners) {
  const uint32_t c1 = 0xFFFF0000u, c2 = 0xFF0000FFu;
  const uint32_t m = 0xFF7F007Fu;
  const uint32_t table[9][4] = {{c1, m, m, c2},   {m, c1, c2, m},   {c2, m, m, c1},   {m, c2, c1, m},  {c2, c2, c1, c1},
                                {c1, c1, c2, c2}, {c1, c2, c1, c2}, {c2, c1, c2, c1}, {c1, c1, c1, c1}};
  for (uint8_t mode = 0; mode <= 8; ++mode) {
    SCOPED_TRACE(int(mode));
    TBoxParams b = DefaultBoxParams;
    b.FillMode = mode;
    b.Color1 = c1;
    b.Color2 = c2;
    b.Width = 60;
    b.Height = 40;
    // Anchored at its centre (30, 20): the box covers pixels 10..69 x 10..49.
    auto px = Frame([&](T3DDrawer* d) { d->DrawBox({40, 30, 0}, {30, 20}, {1, 0, 0}, {0, 1, 0}, b); });
    const int corners[4][2] = {{10, 10}, {69, 10}, {10, 49}, {69, 49}};
    for (int k = 0; k < 4; ++k)
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_NEAR(Channel(At(px, corners[k][0], corners[k][1]), ch), Channel(table[mode][k], ch), 8)
            << "corner " << k << " channel " << ch;
    EXPECT_EQ(At(px, 9, 30) & 0xFFFFFF, 0u);
    EXPECT_EQ(At(px, 70, 30) & 0xFFFFFF, 0u);
    EXPECT_EQ(At(px, 40, 9) & 0xFFFFFF, 0u);
    EXPECT_EQ(At(px, 40, 50) & 0xFFFFFF, 0u);
  }
}

TEST_F(ImagesGL, BoxOpacityScalesTheAlphaAndZeroDrawsNothing) {
  struct Case {
    float Opacity;
    uint32_t Colour;
    int Expected;  // green over black
  } cases[] = {{100, 0xFFFFFFFFu, 255}, {50, 0xFFFFFFFFu, 127}, {50, 0x80FFFFFFu, 64}, {0, 0xFFFFFFFFu, 0},
               {-5, 0xFFFFFFFFu, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Opacity);
    TBoxParams b = DefaultBoxParams;
    b.Color1 = c.Colour;
    b.Opacity = c.Opacity;
    b.Width = 10;
    b.Height = 10;
    auto px = Frame([&](T3DDrawer* d) { d->DrawBox({5, 5, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, b); });
    EXPECT_EQ(Channel(At(px, 9, 9), 1), c.Expected);
  }
}

// A colour rectangle keeps the colour's alpha and takes it once more as its
// opacity: alpha 128 draws with alpha 64.
TEST_F(ImagesGL, ColorRectSquaresItsAlpha) {
  for (uint32_t a : {255u, 128u}) {
    auto px = Frame([&](T3DDrawer* d) { d->DrawColorRect({10, 10}, {30, 10}, {10, 25}, a << 24 | 0xFFFFFFu); });
    EXPECT_EQ(Channel(At(px, 20, 20), 1), int(a * a / 255)) << a;
    EXPECT_EQ(Channel(At(px, 30, 20), 1), 0);
    EXPECT_EQ(Channel(At(px, 20, 25), 1), 0);
  }
}

TEST_F(ImagesGL, BoxEdgeFlagsFadeOnlyThoseEdges) {
  TBoxParams b = DefaultBoxParams;
  b.Color1 = 0xFFFFFFFFu;
  b.Width = 20;
  b.Height = 20;
  b.EdgeLeft = 1;
  auto px = Frame([&](T3DDrawer* d) { d->DrawBox({10, 10, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, b); });
  EXPECT_EQ(Channel(At(px, 20, 20), 1), 255);
  EXPECT_GT(Channel(At(px, 9, 20), 1), 60);  // faded, half covered
  EXPECT_LT(Channel(At(px, 9, 20), 1), 200);
  EXPECT_EQ(Channel(At(px, 30, 20), 1), 0);  // the right edge ends hard
  EXPECT_EQ(Channel(At(px, 29, 20), 1), 255);
}

// A border of (3, 2) around a 20 x 14 rectangle: every pixel of the four
// strips has the colour, the inside and the outside keep the background.
TEST_F(ImagesGL, FrameBorderCoversExactlyItsFourStrips) {
  const int ox = 12, oy = 9, w = 20, h = 14, bw = 3, bh = 2;
  auto px = Frame([&](T3DDrawer* d) {
    d->DrawFrameBorder({float(ox + 5), float(oy + 4), 0}, {5, 4}, {1, 0, 0}, {0, 1, 0}, {float(bw), float(bh)},
                       {float(w), float(h)}, 0xFF00FF00u, 100, false);
  });
  int bad = 0;
  for (int j = 0; j < kH; ++j)
    for (int i = 0; i < kW; ++i) {
      int x = i - ox, y = j - oy;
      bool inRect = x >= 0 && y >= 0 && x < w && y < h;
      bool strip = inRect && (x < bw || x >= w - bw || y < bh || y >= h - bh);
      if ((At(px, i, j) & 0xFFFFFF) != (strip ? 0x00FF00u : 0u)) ++bad;
    }
  EXPECT_EQ(bad, 0);
  auto none = Frame([&](T3DDrawer* d) {
    d->DrawFrameBorder({float(ox), float(oy), 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, float(bh)}, {float(w), float(h)},
                       0xFF00FF00u, 100, false);
  });
  for (uint32_t c : none) ASSERT_EQ(c & 0xFFFFFF, 0u);
}

// The bars fill everything of the viewport outside the view's area, opaque,
// and leave the area alone.
TEST_F(ImagesGL, BarsFillOutsideTheViewArea) {
  TViewState v = Full();
  v.Area = {10, 5, 70, 50};
  v.Scale = {60, 45};
  auto px = Frame([&](T3DDrawer* d) { d->FillOutsideView({0x30, 0x20, 0x10}); }, 0xFF000000u, v);
  int bad = 0;
  for (int j = 0; j < kH; ++j)
    for (int i = 0; i < kW; ++i) {
      bool inside = i >= 10 && i < 70 && j >= 5 && j < 50;
      if (At(px, i, j) != (inside ? 0xFF000000u : 0xFF102030u)) ++bad;
    }
  EXPECT_EQ(bad, 0);
}

}  // namespace

namespace {

struct TBox {
  int L = 1 << 30, T = 1 << 30, R = -1, B = -1;  // inclusive pixel bounds of the green pixels
  bool operator==(const TBox&) const = default;
};

TBox GreenBox(const std::vector<uint32_t>& px, int w) {
  TBox b;
  for (size_t i = 0; i < px.size(); ++i)
    if ((px[i] >> 8 & 255) > 128) {
      int x = int(i % size_t(w)), y = int(i / size_t(w));
      b.L = std::min(b.L, x);
      b.T = std::min(b.T, y);
      b.R = std::max(b.R, x);
      b.B = std::max(b.B, y);
    }
  return b;
}

// A render target pushed at a screen position shows what the screen would
// show there: every world point lands at its screen pixel minus the
// target's position, whatever the view's area, scale, origin and viewport;
// popping brings the screen's mapping back.
TEST_F(ImagesGL, TargetsKeepTheScreenMappingOfTheView) {
  struct ViewCase {
    const char* Name;
    TViewState View;
  };
  TViewState full = Full();
  TViewState zoomed = full;
  zoomed.Scale = {40, 30};  // two pixels per world unit, world 0..40 over the area
  zoomed.Origin = {20, 15};
  TViewState inner = full;
  inner.Viewport = {10, 5, 70, 55};
  inner.Area = {0, 0, 60, 50};
  inner.Scale = {60, 50};
  inner.Origin = {10, 5};
  const ViewCase views[] = {{"full", full}, {"zoomed", zoomed}, {"inner viewport", inner}};
  const TPoint positions[] = {{0, 0}, {4, 2}};
  auto* rt = Own(new TCustomTexture(S));
  rt->SetKind(tkTargetArgb);
  rt->SetSize(64, 64);
  auto quad = [&] {
    S->DrawColorQuad({7, 5, 0}, {11, 5, 0}, {7, 8, 0}, {11, 8, 0}, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00);
  };
  auto back = [&] {
    T3DSurface* s = nullptr;
    EXPECT_TRUE(S->Renderer->GetBackBuffer(s));
    return ReadBack(s);
  };
  for (const ViewCase& vc : views) {
    for (TPoint pos : positions) {
      SCOPED_TRACE(testing::Message() << vc.Name << " at " << pos.X << "," << pos.Y);
      ASSERT_TRUE(S->BeginScene());
      S->SetViewState(vc.View);
      S->Clear(0xFF000000, false);
      quad();
      ASSERT_TRUE(S->EndScene(false));
      TBox screen = GreenBox(back(), kW);
      ASSERT_GE(screen.R, screen.L);
      if (vc.View.Scale.X == kW && vc.View.Viewport.Left == 0) {
        EXPECT_EQ(screen, (TBox{7, 5, 10, 7}));
      }

      ASSERT_TRUE(S->BeginScene());
      S->SetViewState(vc.View);
      S->Clear(0xFF000000, false);
      S->PushRenderTarget(rt, pos.X, pos.Y);
      S->Clear(0xFF000000, false);
      quad();
      S->PopRenderTarget();
      ASSERT_TRUE(S->EndScene(false));
      EXPECT_EQ(GreenBox(back(), kW), TBox{}) << "nothing reached the screen";
      TBox target = GreenBox(ReadBack(rt->Texture->GetSurface(0)), 64);
      EXPECT_EQ(target, (TBox{screen.L - pos.X, screen.T - pos.Y, screen.R - pos.X, screen.B - pos.Y}));

      // After the pop the screen's mapping is back.
      ASSERT_TRUE(S->BeginScene());
      S->Clear(0xFF000000, false);
      quad();
      ASSERT_TRUE(S->EndScene(false));
      EXPECT_EQ(GreenBox(back(), kW), screen);
    }
  }
}

}  // namespace

namespace {

// Volume grade tables: the first inverts every channel, the second is the
// identity; mix 0 gives the inverse, mix 1 the colour itself (within the
// 32-cube table's grid error).
TEST_F(ImagesGL, VolumeGradeTablesAreMixed) {
  auto* invert = Own(new TCustomColorGradeTexture(S, 1));
  imaging::TSysBitmap* b = imaging::CreateSysBitmap(32, 1024, imaging::PixelFormatByName(u"A8R8G8B8"));
  for (int32_t i = 0; i < 32; ++i)  // blue
    for (int32_t j = 0; j < 32; ++j)  // green
      for (int32_t k = 0; k < 32; ++k) {  // red
        uint32_t c = 0xFF000000u | uint32_t(255 - imaging::GradeLevel(k)) << 16 |
                     uint32_t(255 - imaging::GradeLevel(j)) << 8 | uint32_t(255 - imaging::GradeLevel(i));
        std::memcpy(b->Row(32 * i + j) + 4 * k, &c, 4);
      }
  invert->SetBitmap(b, true);
  auto* identity = Own(new TCustomColorGradeTexture(S, 1));  // no bitmap: the identity table
  const uint32_t colour = 0xFF40A0F0u;
  std::vector<uint32_t> pic(64, colour);
  auto* image = Own(MakeImage(8, 8, pic));
  for (float mix : {0.0f, 1.0f}) {
    SCOPED_TRACE(mix);
    TImageDrawParams p = DefaultImageDrawParams;
    p.GradeMode = 1;
    p.GradeTable1 = invert;
    p.GradeTable2 = identity;
    p.GradeMix = mix;
    auto px = Frame([&](T3DDrawer* d) { d->DrawImage(image, {10, 10, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, p); });
    for (int k = 0; k < 3; ++k) {
      int in = Channel(colour, k);
      EXPECT_NEAR(Channel(At(px, 13, 13), k), mix == 0 ? 255 - in : in, 3) << k;
    }
  }
}

// With the perspective flag an attached texture is drawn through the edge
// mesh: its edges fade over one pixel outside; without it they end hard.
TEST_F(ImagesGL, PerspectiveDrawsTheAttachedTextureWithSoftEdges) {
  std::vector<uint32_t> white(size_t(16) * 16, 0xFFFFFFFFu);
  auto* image = Own(MakeImage(16, 16, white));
  image->GetAttachments()->Add(new TPixelTexture(S, 16, 16, white));
  for (uint8_t perspective : {0, 1}) {
    SCOPED_TRACE(int(perspective));
    TImageDrawParams p = DefaultImageDrawParams;
    p.Perspective = perspective;
    auto px = Frame([&](T3DDrawer* d) { d->DrawImage(image, {20, 20, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, p); });
    EXPECT_EQ(Channel(At(px, 28, 28), 1), 254);
    int outside = Channel(At(px, 19, 28), 1);
    if (perspective) {
      EXPECT_GT(outside, 40);
      EXPECT_LT(outside, 220);
    } else {
      EXPECT_EQ(outside, 0);
    }
    EXPECT_EQ(Channel(At(px, 17, 28), 1), 0);
  }
}

}  // namespace

namespace {

// The default view of a target whose bounds lie away from (0, 0) puts a
// world point at its own pixel.
TEST(DefaultView, AWorldPointLandsAtItsOwnPixel) {
  TRendererDevice* device = Get3DEngine()->CreateOffscreenDevice(kW, kH);
  ASSERT_NE(device, nullptr);
  device->SetBounds({100, 50, 100 + kW, 50 + kH}, {100, 50}, false);
  auto* s = new T3DScreen();
  s->AssignDevice(device);
  ASSERT_TRUE(s->IsReady());
  ASSERT_TRUE(s->BeginScene());
  s->Clear(0xFF000000, false);
  s->DrawColorQuad({5, 5, 0}, {9, 5, 0}, {5, 8, 0}, {9, 8, 0}, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00);
  ASSERT_TRUE(s->EndScene(false));
  T3DSurface* b = nullptr;
  ASSERT_TRUE(s->Renderer->GetBackBuffer(b));
  EXPECT_EQ(GreenBox(ReadBack(b), kW), (TBox{5, 5, 8, 7}));
  s->Free();
  device->Free();
}

}  // namespace
