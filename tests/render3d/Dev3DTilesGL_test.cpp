// Tiled textures on the GL device (llvmpipe), read back: pictures of 1 x 1,
// 1000 x 1000 (tiles of 512 and 492) and 9000 x 6000 drawn through the
// texture store show no seams, and atlas cells do not bleed into each other.
#include "Render3DTestEnv.h"

#include <cmath>

#include "imaging/SysBitmapStore.h"
#include "render3d/Dev3DTexStore.h"

using namespace render3d;
using namespace render3d_test;

namespace {

class TilesGL : public ::testing::Test {
 protected:
  void Open(int32_t w, int32_t h) {
    W = w;
    H = h;
    Device = Get3DEngine()->CreateOffscreenDevice(w, h);
    ASSERT_NE(Device, nullptr);
    S = new T3DScreen();
    S->AssignDevice(Device);
    ASSERT_TRUE(S->IsReady());
    Source = new TTextureSource(S);
  }
  void TearDown() override {
    if (Image) Image->Free();
    if (Source) Source->Free();
    if (S) S->Free();
    if (Device) Device->Free();
  }
  // Draws the texture with its top-left corner at (x, y), scaled by k.
  std::vector<uint32_t> DrawAt(TMultiTexture6* t, float x, float y, float k, const TFloatRect& rect) {
    EXPECT_TRUE(S->BeginScene());
    S->Clear(0xFF000000, false);
    TAffineFrame3D plane;
    foundation::InitAffineFrame3D(plane, {x, y, 0}, {k, 0, 0}, {0, k, 0}, {0, 0, 1});
    t->Draw(plane, {rect.Left, rect.Top}, {W / 2.0f, H / 2.0f, -float(H)}, rect);
    EXPECT_TRUE(S->EndScene(false));
    T3DSurface* s = nullptr;
    EXPECT_TRUE(S->Renderer->GetBackBuffer(s));
    return ReadBack(s);
  }
  int32_t W = 0, H = 0;
  TRendererDevice* Device = nullptr;
  T3DScreen* S = nullptr;
  TTextureSource* Source = nullptr;
  imaging::TImage* Image = nullptr;
};

imaging::TSysBitmap* Picture(int32_t w, int32_t h, uint32_t (*f)(int32_t x, int32_t y)) {
  auto* b = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(u"A8R8G8B8"));
  for (int32_t y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(b->Row(y));
    for (int32_t x = 0; x < w; ++x) row[x] = f(x, y);
  }
  return b;
}

uint32_t Noise(int32_t x, int32_t y) {
  uint32_t v = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u;
  return 0xFF000000u | (v & 0xFFFFFF);
}

TEST_F(TilesGL, OnePixelPicture) {
  Open(16, 16);
  Image = imaging::WrapBitmapAsImage(Picture(1, 1, [](int32_t, int32_t) { return 0xFF3366CCu; }), true, u"dot");
  TMultiTexture6* t = Source->GetTexture(Image, {});
  ASSERT_NE(t, nullptr);
  t->EdgeAntialiasing = false;
  auto px = DrawAt(t, 5, 6, 1, {0, 0, 1, 1});
  EXPECT_EQ(px[6 * 16 + 5] & 0xFFFFFF, 0x3366CCu);
  EXPECT_EQ(px[6 * 16 + 6] & 0xFFFFFF, 0u);
  EXPECT_EQ(px[5 * 16 + 5] & 0xFFFFFF, 0u);
}

// Every pixel of the picture lands exactly on its own: tile seams (at 510
// in both directions) would show as wrong pixels.
TEST_F(TilesGL, ThousandSquarePictureAtOneToOneHasNoSeams) {
  Open(1016, 1010);
  Image = imaging::WrapBitmapAsImage(Picture(1000, 1000, Noise), true, u"noise");
  TMultiTexture6* t = Source->GetTexture(Image, {});
  ASSERT_NE(t, nullptr);
  auto px = DrawAt(t, 8, 5, 1, {0, 0, 1000, 1000});
  ASSERT_EQ(t->Tiles.size(), 4u);
  EXPECT_EQ(t->Tiles[1]->UsedSize.X, 492);
  int bad = 0;
  for (int32_t y = 0; y < 1000; ++y)
    for (int32_t x = 0; x < 1000; ++x)
      if ((px[size_t(y + 5) * W + x + 8] & 0xFFFFFF) != (Noise(x, y) & 0xFFFFFF)) ++bad;
  EXPECT_EQ(bad, 0);
  // The feathered ring outside the picture's edge: partly covered, then nothing.
  EXPECT_EQ(px[size_t(500 + 5) * W + 8 - 2] & 0xFFFFFF, 0u);
}

// A 24-bit-sized picture of 9000 x 6000 drawn at 1/30: every pixel matches
// the smooth picture sampled once at that point.
TEST_F(TilesGL, LargePictureFittedHasNoSeams) {
  Open(300, 200);
  auto f = [](int32_t x, int32_t y) -> uint32_t {
    return 0xFF000000u | uint32_t(x * 255 / 8999) << 16 | uint32_t(y * 255 / 5999) << 8 | 0x80u;
  };
  Image = imaging::WrapBitmapAsImage(Picture(9000, 6000, f), true, u"large");
  TMultiTexture6* t = Source->GetTexture(Image, {});
  ASSERT_NE(t, nullptr);
  t->EdgeAntialiasing = false;
  auto px = DrawAt(t, 0, 0, 1.0f / 30, {0, 0, 9000, 6000});
  int bad = 0;
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 300; ++x) {
      uint32_t p = px[size_t(y) * W + x];
      double sx = (x + 0.5) * 30 - 0.5, sy = (y + 0.5) * 30 - 0.5;
      int er = int(std::lround(sx * 255 / 8999)), eg = int(std::lround(sy * 255 / 5999));
      if (std::abs(int(p >> 16 & 255) - er) > 2 || std::abs(int(p >> 8 & 255) - eg) > 2 || (p & 255) != 0x80) ++bad;
    }
  EXPECT_EQ(bad, 0);
}

// An atlas of a red and a blue cell: cell 0 drawn four times magnified shows
// no blue anywhere (its border repeats its own edge, not the neighbour).
TEST_F(TilesGL, AtlasCellsDoNotBleed) {
  Open(64, 64);
  Image = imaging::WrapBitmapAsImage(
      Picture(20, 10, [](int32_t x, int32_t) { return x < 10 ? 0xFFFF0000u : 0xFF0000FFu; }), true, u"atlas");
  TTextureOptions o;
  o.Atlas = true;
  o.AtlasColumns = 2;
  o.AtlasRows = 1;
  TMultiTexture6* t = Source->GetTexture(Image, o);
  ASSERT_NE(t, nullptr);
  t->EdgeAntialiasing = false;
  auto px = DrawAt(t, 8, 8, 4, {1, 1, 11, 11});  // cell 0 in the atlas with borders
  int blue = 0, red = 0;
  for (uint32_t p : px) {
    if ((p & 0xFF) != 0) ++blue;
    if ((p >> 16 & 0xFF) == 0xFF) ++red;
  }
  EXPECT_EQ(blue, 0);
  EXPECT_GE(red, 36 * 36);
  // The same cell from a plain (unbordered) texture picks up blue at its edge.
  TMultiTexture6* plain = Source->GetTexture(Image, {});
  plain->EdgeAntialiasing = false;
  auto px2 = DrawAt(plain, 8, 8, 4, {0, 0, 10, 10});
  int blue2 = 0;
  for (uint32_t p : px2)
    if ((p & 0xFF) != 0) ++blue2;
  EXPECT_GT(blue2, 0);
}

}  // namespace

// With mip levels on, a picture drawn 1:1 still lands texel for pixel, over
// the tile seams too: the anisotropic minification filter the device asks
// for must not blur where nothing shrinks. The noise gives every
// neighbouring pixel a different colour, so any mixing shows. Cases: the
// four-tile picture at whole and at shifted positions, and a one-tile
// picture whose used part is smaller than its texture.
TEST_F(TilesGL, MipmappedPictureAtOneToOneIsExact) {
  struct Case {
    int32_t w, h;
    float x, y;
  };
  for (const Case c : {Case{1000, 1000, 8, 5}, Case{1000, 1000, 3, 9}, Case{97, 61, 10, 4}}) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " at " << c.x << ", " << c.y);
    TearDown();
    Image = nullptr;
    Source = nullptr;
    S = nullptr;
    Device = nullptr;
    Open(1016, 1010);
    Image = imaging::WrapBitmapAsImage(Picture(c.w, c.h, Noise), true, u"noise");
    TMultiTexture6* t = Source->GetTexture(Image, {});
    ASSERT_NE(t, nullptr);
    t->Mipmapped = true;
    t->EdgeAntialiasing = false;
    auto px = DrawAt(t, c.x, c.y, 1, {0, 0, float(c.w), float(c.h)});
    ASSERT_GT(t->Tiles[0]->GetTexture()->GetLevelCount(), 1) << "the tiles really have mip levels";
    int bad = 0, worst = 0;
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = 0; x < c.w; ++x) {
        const uint32_t p = px[size_t(y + int32_t(c.y)) * W + x + int32_t(c.x)], e = Noise(x, y);
        int d = 0;
        for (int sh : {0, 8, 16}) d = std::max(d, std::abs(int(p >> sh & 255) - int(e >> sh & 255)));
        if (d != 0) ++bad;
        worst = std::max(worst, d);
      }
    EXPECT_EQ(bad, 0) << "largest channel difference " << worst;
  }
}
