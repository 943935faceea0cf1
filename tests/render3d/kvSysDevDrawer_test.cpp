// The software drawer on generated 24-bit back bitmaps with 24- and 32-bit
// images: opaque and translucent fills, exact copies, alpha and opacity
// blending (expected bytes worked out by hand below), scaling without
// mirroring, and the dirty area limiting what is drawn.
#include <gtest/gtest.h>

#include "imaging/Startup.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "render3d/kvSysDevDrawer.h"
#include "tests/support/AssertionText.h"

using namespace render3d;
using foundation::TRect;

namespace {

class Env : public ::testing::Environment {
 public:
  void SetUp() override { imaging::StartImaging(); }
  void TearDown() override { imaging::StopImaging(); }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new Env);

class TMemDrawer : public TSysDevDrawer {
 public:
  imaging::TPixelFormat* Format = imaging::pfR8G8B8;
  imaging::TSysBitmap* CreateBitmap(int32_t w, int32_t h) override {
    auto* b = imaging::CreateSysBitmap(w, h, Format);
    for (int32_t y = 0; y < h; ++y) std::fill(b->Row(y), b->Row(y) + size_t(w) * 3, uint8_t(0));
    return b;
  }
  const uint8_t* Px(int32_t x, int32_t y) const { return Back->Row(y) + size_t(x) * 3; }
};

// A drawer of w x h, fully dirty, background filled with one byte value.
TMemDrawer* MakeDrawer(int32_t w, int32_t h, uint8_t bg = 0) {
  auto* d = new TMemDrawer;
  d->SetBounds(1, TRect{0, 0, w, h});
  for (int32_t y = 0; y < h; ++y) std::fill(d->Back->Row(y), d->Back->Row(y) + size_t(w) * 3, bg);
  d->AddDirtyRect(TRect{0, 0, w, h});
  return d;
}

// An image whose every pixel is (b, g, r[, a]) in memory order.
imaging::TImage* FlatImage(int32_t w, int32_t h, uint8_t b, uint8_t g, uint8_t r, int alpha = -1) {
  auto* bm = imaging::CreateSysBitmap(w, h, alpha < 0 ? imaging::pfR8G8B8 : imaging::pfA8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = bm->Row(y) + size_t(x) * size_t(bm->BytesPerPixel());
      p[0] = b;
      p[1] = g;
      p[2] = r;
      if (alpha >= 0) p[3] = uint8_t(alpha);
    }
  return imaging::WrapBitmapAsImage(bm, true, u"flat");
}

TSurfaceTransform At(float x, float y, float opacity = 1.0f) {
  TSurfaceTransform t;
  InitSurfaceTransform(t);
  t.OriginX = x;
  t.OriginY = y;
  t.Opacity = opacity;
  return t;
}

TEST(SysDrawer, FillsOpaqueTranslucentAndInvisible) {
  auto* d = MakeDrawer(8, 4);
  d->FillRect(TRect{0, 0, 4, 4}, 0xFFFFFFFF);
  d->FillRect(TRect{4, 0, 8, 4}, 0x80FFFFFF);  // white at 128 over black: (128 * 255) / 256 = 127
  d->FillRect(TRect{0, 0, 8, 4}, 0x00123456);  // alpha 0 leaves everything
  EXPECT_EQ(d->Px(0, 0)[0], 255);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(d->Px(5, 2)[i], 127);
  // a colour over a non-black background, per channel in memory order B, G, R:
  // B: 200 + (100 * (10 - 200)) / 256 = 200 - 74 = 126
  // G: 200 + (100 * (200 - 200)) / 256 = 200
  // R: 200 + (100 * (250 - 200)) / 256 = 200 + 19 = 219
  auto* e = MakeDrawer(3, 3, 200);
  e->FillRect(TRect{-5, -5, 2, 2}, 0x64FAC80A);  // clipped to the bitmap
  EXPECT_EQ(e->Px(1, 1)[0], 126);
  EXPECT_EQ(e->Px(1, 1)[1], 200);
  EXPECT_EQ(e->Px(1, 1)[2], 219);
  EXPECT_EQ(e->Px(2, 2)[0], 200);
  d->Free();
  e->Free();
}

TEST(SysDrawer, OpaqueImageWithoutAlphaIsCopiedExactly) {
  auto* d = MakeDrawer(6, 6, 9);
  auto* bm = imaging::CreateSysBitmap(3, 2, imaging::pfR8G8B8);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t i = 0; i < 9; ++i) bm->Row(y)[i] = uint8_t(10 * y + i + 1);
  auto* img = imaging::WrapBitmapAsImage(bm, true, u"p");
  auto t = At(2, 3);
  d->DrawImage(img, TRect{0, 0, 6, 6}, t);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t i = 0; i < 9; ++i) EXPECT_EQ(d->Px(2, 3 + y)[i], 10 * y + i + 1);
  EXPECT_EQ(d->Px(1, 3)[0], 9);
  EXPECT_EQ(d->Px(5, 3)[0], 9);
  img->Free();
  d->Free();
}

TEST(SysDrawer, BlendingArithmeticOfAlphaAndOpacity) {
  struct Case {
    int alpha;        // -1: image without alpha
    float opacity;
    uint8_t bg, src;  // background and source byte (all channels)
    uint8_t want;
  };
  const Case cases[] = {
      // with alpha, opacity 1.0 (256): 100 + (64 * (20 - 100)) / 256 = 100 - 20 = 80
      {64, 1.0f, 100, 20, 80},
      // with alpha, opacity 0.5 (128): k = (200 * 128) / 256 = 100; 0 + (100 * 255) / 256 = 99
      {200, 0.5f, 0, 255, 99},
      // k = (1 * 128) / 256 = 0: the pixel stays
      {1, 0.5f, 50, 255, 50},
      // alpha 0 at full opacity: stays
      {0, 1.0f, 50, 255, 50},
      // no alpha, opacity 0.5: 10 + (128 * 240) / 256 = 130
      {-1, 0.5f, 10, 250, 130},
      // no alpha, opacity 0.25 (64), darker source: 250 + (64 * (10 - 250)) / 256 = 250 - 60 = 190
      {-1, 0.25f, 250, 10, 190},
  };
  for (const Case& c : cases) {
    auto* d = MakeDrawer(4, 4, c.bg);
    auto* img = FlatImage(2, 2, c.src, c.src, c.src, c.alpha);
    auto t = At(1, 1, c.opacity);
    d->DrawImage(img, TRect{0, 0, 4, 4}, t);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(d->Px(2, 2)[i], c.want) << "alpha " << c.alpha << " opacity " << c.opacity;
    EXPECT_EQ(d->Px(0, 0)[0], c.bg);
    img->Free();
    d->Free();
  }
}

TEST(SysDrawer, MirroredAxisDrawsLeftOfTheOriginWithoutMirroring) {
  auto* d = MakeDrawer(10, 2);
  auto* bm = imaging::CreateSysBitmap(2, 1, imaging::pfR8G8B8);
  std::fill(bm->Row(0), bm->Row(0) + 3, uint8_t(50));       // left pixel
  std::fill(bm->Row(0) + 3, bm->Row(0) + 6, uint8_t(200));  // right pixel
  auto* img = imaging::WrapBitmapAsImage(bm, true, u"lr");
  auto t = At(6, 0);
  SetSurfaceTransformAxes(t, {-1, 0}, {0, 1});
  d->DrawImage(img, TRect{0, 0, 10, 2}, t);
  EXPECT_EQ(d->Px(4, 0)[0], 50);
  EXPECT_EQ(d->Px(5, 0)[0], 200);
  EXPECT_EQ(d->Px(6, 0)[0], 0);
  FreeSurfaceTransformCache(t);
  img->Free();
  d->Free();
}

TEST(SysDrawer, ScaledImagesAreResampledOnceAndCachedInTheTransform) {
  auto* d = MakeDrawer(10, 10);
  auto* img = FlatImage(2, 2, 40, 80, 120);
  auto t = At(0, 0);
  SetSurfaceTransformAxes(t, {2, 0}, {0, 2});
  d->DrawImage(img, TRect{0, 0, 10, 10}, t);
  auto* tag = dynamic_cast<TSysImageTag*>(t.Cached);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->Bitmap->Width, 4);
  auto* first = tag->Bitmap;
  d->DrawImage(img, TRect{0, 0, 10, 10}, t);
  EXPECT_EQ(static_cast<TSysImageTag*>(t.Cached)->Bitmap, first);
  EXPECT_EQ(d->Px(3, 3)[0], 40);
  EXPECT_EQ(d->Px(3, 3)[2], 120);
  EXPECT_EQ(d->Px(4, 4)[0], 0);
  FreeSurfaceTransformCache(t);
  img->Free();
  d->Free();
}

TEST(SysDrawer, OutsideTheDirtyAreaNothingChanges) {
  auto* d = MakeDrawer(6, 6);
  TRect dirty;
  d->EndPaint(dirty);
  d->AddDirtyRect(TRect{0, 0, 2, 6});
  auto* img = FlatImage(6, 6, 99, 99, 99);
  auto t = At(0, 0);
  d->DrawImage(img, TRect{0, 0, 6, 6}, t);
  EXPECT_EQ(d->Px(1, 5)[0], 99);
  EXPECT_EQ(d->Px(2, 0)[0], 0);
  img->Free();
  d->Free();
}

TEST(SysDrawer, BackBitmapFollowsTheSizeAndRejectsOtherFormats) {
  auto* d = new TMemDrawer;
  d->SetBounds(1, TRect{0, 0, 0, 5});
  EXPECT_EQ(d->Back, nullptr);
  d->SetBounds(1, TRect{0, 0, 4, 5});
  auto* back = d->Back;
  ASSERT_NE(back, nullptr);
  d->SetBounds(2, TRect{0, 0, 4, 5});  // same bounds: the bitmap stays, the window changes
  EXPECT_EQ(d->Back, back);
  EXPECT_EQ(d->Window, 2u);
  d->Format = imaging::pfA8R8G8B8;
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { d->SetBounds(2, TRect{0, 0, 5, 5}); }), u"Usupported Pixel Format");
  d->Free();
  EXPECT_EQ(AlphaCounterpart(imaging::pfB8G8R8), imaging::pfA8B8G8R8);
}

TEST(SysDrawer, TranslucentFillOnRedFirstBitmapFollowsItsChannelOrder) {
  auto* d = new TMemDrawer;
  d->Format = imaging::pfB8G8R8;
  d->SetBounds(1, TRect{0, 0, 2, 2});
  d->FillRect(TRect{0, 0, 2, 2}, 0x80FF0000);  // red at 128 over black
  // memory order R, G, B: red byte first
  EXPECT_EQ(d->Px(0, 0)[0], 127);
  EXPECT_EQ(d->Px(0, 0)[2], 0);
  d->Free();
}

}  // namespace
