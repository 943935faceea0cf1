#include "controls/kvControlStylesUtils.h"

#include <gtest/gtest.h>

#include "controls/kvControlStyles.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvImage.h"
#include "tests/controls/ControlsTestEnv.h"

namespace {

using controls::TBoxGenerator;
using controls::TStageView;
using foundation::TRef;

TRef<TBoxGenerator> Box(float scale, uint32_t fill, uint32_t frame, float width, float radius) {
  auto g = foundation::MakeRef<TBoxGenerator>(scale);
  g->FillColor = fill;
  g->FrameColor = frame;
  g->FrameWidth = width;
  g->Radius = radius;
  return g;
}

imaging::TSysBitmap* BitmapOf(TStageView* v) {
  imaging::TImage* image = v->GetImage();
  return image ? dynamic_cast<imaging::TSysBitmap*>(image->GetBitmap()) : nullptr;
}

// B, G, R (and A) of a pixel.
uint32_t Pixel(imaging::TSysBitmap* b, int x, int y) {
  const int bpp = b->BytesPerPixel();
  const uint8_t* p = b->Row(y) + x * bpp;
  return uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0] | (bpp == 4 ? uint32_t(p[3]) << 24 : 0xFF000000u);
}

TEST(BoxPictures, OnePixelFrameIsSharpAndOpaque) {
  auto g = Box(1.0f, 0xFF202020, 0xFFE0C0A0, 1, 0);
  TStageView* v = g->GetView(6, 5);
  imaging::TSysBitmap* b = BitmapOf(v);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->BytesPerPixel(), 3);
  EXPECT_TRUE(v->RectHit);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool edge = x == 0 || y == 0 || x == 5 || y == 4;
      EXPECT_EQ(Pixel(b, x, y), edge ? 0xFFE0C0A0u : 0xFF202020u) << x << "," << y;
    }
  v->Free();
}

TEST(BoxPictures, TranslucentFillAndFrameBlendByTheRule) {
  // Fill alpha 128: a 32-bit picture. Frame alpha 64 over it at scale 2:
  // two-pixel strips. Channel: c * (255 - 64) div 256 + c' * 64 div 255.
  auto g = Box(2.0f, 0x80102030, 0x40FF8000, 1, 0);
  TStageView* v = g->GetView(8, 8);
  imaging::TSysBitmap* b = BitmapOf(v);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->BytesPerPixel(), 4);
  EXPECT_EQ(Pixel(b, 4, 4), 0x80102030u);
  // R: 0x10 * 191 / 256 = 11, + 255 * 64 / 255 = 64 -> 75 (0x4B)
  // G: 0x20 * 191 / 256 = 23, + 128 * 64 / 255 = 32 -> 55 (0x37)
  // B: 0x30 * 191 / 256 = 35, + 0 -> 35 (0x23); A: 128 * 191 / 256 + 64 = 159 (0x9F)
  for (auto [x, y] : {std::pair{0, 0}, {1, 1}, {7, 7}, {6, 3}, {3, 1}})
    EXPECT_EQ(Pixel(b, x, y), 0x9F4B3723u) << x << "," << y;
  EXPECT_EQ(Pixel(b, 2, 2), 0x80102030u);
  v->Free();
}

TEST(BoxPictures, RoundedBoxIsClippedToAHalfHeightRadius) {
  // Radio button: round 100 at height 13 with frame 1.2: radius (13 - 1.2) / 2.
  auto g = Box(1.0f, 0xFF383838, 0xFF0078D7, 1.2f, 100);
  TStageView* v = g->GetView(13, 13);
  EXPECT_FALSE(v->RectHit);
  imaging::TSysBitmap* b = BitmapOf(v);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->BytesPerPixel(), 4);
  // The corners lie outside the circle; the centre is filled; the middle of
  // the left edge is covered by the ring.
  EXPECT_EQ(Pixel(b, 0, 0) >> 24, 0u);
  EXPECT_EQ(Pixel(b, 12, 12) >> 24, 0u);
  EXPECT_EQ(Pixel(b, 6, 6), 0xFF383838u);
  const uint32_t edge = Pixel(b, 0, 6);
  EXPECT_GE(edge >> 24, 200u);
  EXPECT_GT(edge & 0xFF, 0x80u);  // mostly the frame's blue
  EXPECT_FALSE(v->HitTest(0, 0));
  EXPECT_TRUE(v->HitTest(6, 6));
  EXPECT_FALSE(v->HitTest(13, 6));
  v->Free();
}

TEST(BoxPictures, AFrameWiderThanThePictureFillsIt) {
  auto g = Box(1.0f, 0xFF000000, 0xFF123456, 1e9f, 0);
  TStageView* v = g->GetView(4, 3);
  imaging::TSysBitmap* b = BitmapOf(v);
  ASSERT_NE(b, nullptr);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(b, x, y), 0xFF123456u) << x << "," << y;
  v->Free();
  // A negative frame draws none.
  auto none = Box(1.0f, 0xFF000000, 0xFF123456, -3, 0);
  TStageView* w = none->GetView(4, 3);
  ASSERT_NE(BitmapOf(w), nullptr);
  EXPECT_EQ(Pixel(BitmapOf(w), 0, 0), 0xFF000000u);
  w->Free();
}

TEST(BoxPictures, TransparentBoxHasNoPicture) {
  auto g = Box(1.0f, 0x00FFFFFF, 0x00000000, 1, 0);
  TStageView* v = g->GetView(4, 4);
  EXPECT_EQ(v->GetImage(), nullptr);
  EXPECT_TRUE(v->HitTest(1, 1));  // a square box hits by its rectangle
  EXPECT_FALSE(v->HitTest(4, 1));
  v->Free();
}

TEST(BoxPictures, ViewsAreCachedBySizeAndLeaveWithTheirLastRelease) {
  auto g = Box(1.0f, 0xFF000000, 0xFFFFFFFF, 1, 0);
  EXPECT_EQ(TBoxGenerator::BucketOf(20, 30), TBoxGenerator::BucketOf(30, 20));
  TStageView* a = g->GetView(20, 30);
  TStageView* b = g->GetView(30, 20);
  EXPECT_NE(a, b);
  EXPECT_EQ(b->Width, 30);
  TStageView* again = g->GetView(20, 30);
  EXPECT_EQ(again, a);
  EXPECT_EQ(a->RefCount(), 2);
  EXPECT_EQ(g->ViewCount(), 2);
  again->Free();
  a->Free();
  EXPECT_EQ(g->ViewCount(), 1);
  TStageView* c = g->GetView(20, 30);
  EXPECT_EQ(c->RefCount(), 1);
  EXPECT_EQ(g->ViewCount(), 2);
  c->Free();
  b->Free();
  EXPECT_EQ(g->ViewCount(), 0);
}

TEST(BoxPictures, StylesStatesMakeTheirPicturesAtTheirScale) {
  auto stream = foundation::MakeRef<foundation::TStringStream>(controls::BuiltInStylesText());
  auto store = TRef<controls::TStylesStore>::Adopt(new controls::TStylesStore(stream.Get(), u"lightcolors"));
  // light_btn.def: frame 1, round 0, opaque: a sharp 24-bit picture at 1.0,
  // two-pixel strips at 2.0.
  controls::TStyleState* s1 = store->GetStateByName(foundation::TByteString::FromBytes("btn"), u"def", 1.0f);
  controls::TStyleState* s2 = store->GetStateByName(foundation::TByteString::FromBytes("btn"), u"def", 2.0f);
  TStageView* v1 = s1->GetView(10, 8);
  TStageView* v2 = s2->GetView(10, 8);
  imaging::TSysBitmap* b1 = BitmapOf(v1);
  imaging::TSysBitmap* b2 = BitmapOf(v2);
  ASSERT_TRUE(b1 && b2);
  EXPECT_EQ(b1->BytesPerPixel(), 3);
  EXPECT_EQ(Pixel(b1, 0, 3), 0xFFADADADu);
  EXPECT_EQ(Pixel(b1, 1, 3), 0xFFE1E1E1u);
  EXPECT_EQ(Pixel(b2, 1, 3), 0xFFADADADu);
  EXPECT_EQ(Pixel(b2, 2, 3), 0xFFE1E1E1u);
  // UpdateView: the same size keeps the view; another size replaces it.
  TStageView* held = v1;
  EXPECT_FALSE(controls::TStyleState::UpdateView(s1, held, 10, 8));
  EXPECT_EQ(held, v1);
  EXPECT_TRUE(controls::TStyleState::UpdateView(s1, held, 12, 8));
  EXPECT_EQ(held->Width, 12);
  EXPECT_TRUE(controls::TStyleState::UpdateView(nullptr, held, 12, 8));
  EXPECT_EQ(held, nullptr);
  v2->Free();
  // An unscaled state has no picture.
  controls::TStyleState* s0 = store->GetStateByName(foundation::TByteString::FromBytes("txt"), u"sel", 0.0f);
  EXPECT_THROW(s0->GetView(4, 4), foundation::EAssertionFailed);
}

}  // namespace
