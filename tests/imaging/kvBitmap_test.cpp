#include "imaging/kvBitmap.h"

#include <gtest/gtest.h>

#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/SysBitmap.h"

using namespace imaging;
using foundation::EAssertionFailed;
using foundation::TRef;

namespace {

TRef<TDirectBitmap> MakeDirect(int w, int h, TPixelFormat* f) {
  return TRef<TDirectBitmap>::Adopt(new TDirectBitmap(w, h, f));
}

// Fills every byte of a 1-byte bitmap with 10 * x + y (a source of known pixels).
TRef<TDirectBitmap> Numbered(int w, int h) {
  auto b = MakeDirect(w, h, pfY8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Row(y)[x] = uint8_t(10 * x + y);
  return b;
}

std::string AssertMessage(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EAssertionFailed& e) {
    return e.what();
  }
  return "<no assertion>";
}

TEST(DirectBitmap, NewBitmapIsZeroAndSizeChecked) {
  auto b = MakeDirect(3, 2, pfA8R8G8B8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(b->Row(y)[x], 0);
  EXPECT_THROW(new TDirectBitmap(0, 1, pfY8), EAssertionFailed);
  EXPECT_THROW(new TDirectBitmap(1, 0, pfY8), EAssertionFailed);
  EXPECT_THROW(new TDirectBitmap(1, 1, nullptr), EAssertionFailed);
  // Sizes beyond the pixel cap are refused before anything is allocated.
  EXPECT_THROW(new TDirectBitmap(0x7FFFFFFF, 0x7FFFFFFF, pfA8R8G8B8), EAssertionFailed);
  EXPECT_THROW(new TDirectBitmap(1 << 15, 1 << 14, pfY8), EAssertionFailed);
  EXPECT_FALSE(BitmapSizeAllowed(int64_t(1) << 31, 1, 32));
  EXPECT_FALSE(BitmapSizeAllowed(-5, 3, 32));
  EXPECT_TRUE(BitmapSizeAllowed(6000, 4000, 32));
}

TEST(DirectBitmap, GetPixelsClipsAndChecks) {
  auto b = Numbered(5, 2);
  std::vector<uint8_t> buf(8, 0xAA);
  // Count beyond the row end copies up to the end and answers the bytes copied.
  EXPECT_EQ(b->GetPixels(buf, 1, 3, 1, 10), 2);
  EXPECT_EQ(buf[1], 31);
  EXPECT_EQ(buf[2], 41);
  EXPECT_EQ(buf[3], 0xAA);
  EXPECT_EQ(b->GetPixels(std::span<uint8_t>(), 0, 0, 0, 0), 0);  // no buffer check for 0
  EXPECT_EQ(AssertMessage([&] { b->GetPixels(buf, 0, 5, 0, 1); }), "TDirectBitmap.GetPixels (X,Y) out of Bitmap.Size");
  EXPECT_EQ(AssertMessage([&] { b->GetPixels(buf, -1, 0, 0, 1); }), "TDirectBitmap.GetPixels - Offset out of Bounds");
  EXPECT_EQ(AssertMessage([&] { b->GetPixels(buf, 6, 0, 0, 5); }),
            "TDirectBitmap.GetPixels - Not Enought Pixel Buffer Space");
  // The typed reads do not clip.
  EXPECT_EQ(AssertMessage([&] { b->GetPixels8(buf, 0, 1, 0, 5); }), "TDirectBitmap.GetPixels8 out of Bitmap.Size");
  EXPECT_EQ(AssertMessage([&] { b->GetPixels8(buf, 4, 0, 0, 5); }),
            "TDirectBitmap.GetPixels8 - Out of Pixel Buffer Bounds");
  std::vector<TFColorA> wrong(4);
  EXPECT_THROW(b->GetPixels32(wrong, 0, 0, 0, 1), EAssertionFailed);
}

TEST(DirectBitmap, ClipBitmapRects) {
  struct Case {
    int x, y, w, h, sx, sy;
    bool ok;
    int ex, ey, ew, eh, esx, esy;
  };
  // Destination 10 x 8, source 6 x 5.
  const Case cases[] = {
      {-3, -2, 5, 5, 0, 0, true, 0, 0, 2, 3, 3, 2},
      {2, 1, 4, 4, -2, -1, true, 4, 2, 2, 3, 0, 0},
      {-5, 0, 5, 5, 0, 0, false, 0, 0, 0, 0, 0, 0},
      {0, 0, 4, 4, 6, 0, false, 0, 0, 0, 0, 0, 0},
      {8, 6, 10, 10, 1, 1, true, 8, 6, 2, 2, 1, 1},
      {0, 0, 10, 8, 4, 3, true, 0, 0, 2, 2, 4, 3},
  };
  for (const auto& c : cases) {
    int x = c.x, y = c.y, w = c.w, h = c.h, sx = c.sx, sy = c.sy;
    const bool ok = ClipBitmapRects(x, y, w, h, sx, sy, 10, 8, 6, 5);
    EXPECT_EQ(ok, c.ok) << c.x << "," << c.y;
    if (ok && c.ok) {
      EXPECT_EQ((std::vector<int>{x, y, w, h, sx, sy}), (std::vector<int>{c.ex, c.ey, c.ew, c.eh, c.esx, c.esy}));
    }
  }
  int x = 0x7FFFFFF0, y = 0, w = 0x7FFFFFF0, h = 1, sx = 0, sy = 0;
  EXPECT_FALSE(ClipBitmapRects(x, y, w, h, sx, sy, 10, 8, 6, 5));
}

TEST(DirectBitmap, CopyRectSameFormatAndConverted) {
  auto src = Numbered(6, 5);
  auto dst = MakeDirect(4, 4, pfY8);
  dst->CopyRect(TRect{-3, -2, 4, 4}, src.Get(), TPoint{1, 1});
  EXPECT_EQ(dst->Row(0)[0], 10 * 4 + 3);  // source point + (3, 2)
  EXPECT_EQ(dst->Row(1)[1], 10 * 5 + 4);
  // Entirely outside: nothing changes.
  auto before = std::vector<uint8_t>(dst->Row(3), dst->Row(3) + 4);
  dst->CopyRect(TRect{-10, 0, -1, 4}, src.Get(), TPoint{0, 0});
  dst->CopyRect(TRect{0, 0, 4, 4}, src.Get(), TPoint{6, 0});
  EXPECT_EQ(std::vector<uint8_t>(dst->Row(3), dst->Row(3) + 4), before);
  // A different format goes through the converter (grey to BGR).
  auto rgb = MakeDirect(3, 2, pfR8G8B8);
  rgb->CopyFrom(src.Get());
  EXPECT_EQ(rgb->Row24(1)[2].B, 21);
  EXPECT_EQ(rgb->Row24(1)[2].R, 21);
}

TEST(DirectBitmap, FillRectPixelRules) {
  const uint32_t color = 0xFF102030;  // alpha 255, red 16, green 32, blue 48
  auto g = MakeDirect(2, 2, pfY8);
  g->FillRect(TRect{0, 0, 9, 9}, color);
  EXPECT_EQ(g->Row(1)[1], 32);
  auto w = MakeDirect(2, 1, pfR5G6B5);
  w->FillRect(TRect{1, 0, 2, 1}, color);
  EXPECT_EQ(LoadU16(w->Row(0) + 2), (2 << 11) | (8 << 5) | 6);
  EXPECT_EQ(LoadU16(w->Row(0)), 0);
  auto w5 = MakeDirect(1, 1, pfX1R5G5B5);
  w5->FillRect(TRect{0, 0, 1, 1}, color);
  EXPECT_EQ(LoadU16(w5->Row(0)), (2 << 10) | (4 << 5) | 6);
  auto c = MakeDirect(1, 1, pfR8G8B8);
  c->FillRect(TRect{0, 0, 1, 1}, color);
  EXPECT_EQ((std::vector<uint8_t>(c->Row(0), c->Row(0) + 3)), (std::vector<uint8_t>{48, 32, 16}));
  auto a = MakeDirect(1, 1, pfA8R8G8B8);
  a->FillRect(TRect{0, 0, 1, 1}, 0x80102030);
  EXPECT_EQ(LoadU32(a->Row(0)), 0x80102030u);
  a->FillRect(TRect{1, 0, 0, 1}, 0xFFFFFFFF);  // empty: nothing written
  a->FillRect(TRect{-5, -5, 0, 0}, 0xFFFFFFFF);
  EXPECT_EQ(LoadU32(a->Row(0)), 0x80102030u);
}

TEST(DirectBitmap, FactoryChainAndClone) {
  EXPECT_EQ(CreateDefDirectBitmap(2, 2, pfY8, nullptr, nullptr, {}), nullptr);
  TRef<TBitmap> b = TRef<TBitmap>::Adopt(CreateDefDirectBitmap(2, 2, pfY8, TBitmap::StaticClass(), nullptr, {}));
  ASSERT_TRUE(b);
  EXPECT_STREQ(b->ClassName(), "TDirectBitmap");
  auto src = Numbered(3, 2);
  TRef<TBitmap> clone = TRef<TBitmap>::Adopt(src->Clone());
  ASSERT_TRUE(clone);
  EXPECT_STREQ(clone->ClassName(), "TDirectBitmap");
  EXPECT_EQ(static_cast<TDirectBitmap*>(clone.Get())->Row(1)[2], 21);
  EXPECT_NE(static_cast<TDirectBitmap*>(clone.Get())->Row(1), src->Row(1));
  TRef<TBitmap> asRgb = TRef<TBitmap>::Adopt(src->CloneAs(pfA8R8G8B8, nullptr));
  ASSERT_TRUE(asRgb);
  EXPECT_TRUE(asRgb->IsCompatible(pfA8R8G8B8, TSysBitmap::StaticClass()));
  EXPECT_FALSE(asRgb->IsCompatible(pfY8, nullptr));
  EXPECT_FALSE(src->IsCompatible(nullptr, TSysBitmap::StaticClass()));
  EXPECT_TRUE(src->IsCompatible(nullptr, TBitmap::StaticClass()));
}

TEST(DirectBitmap, DoProgressAndAbstractReads) {
  struct Bare : TBitmap {};
  auto* bare = new Bare;
  EXPECT_TRUE(bare->DoProgress(0.5f));
  float seen = -1;
  bare->Progress = [&](float f) {
    seen = f;
    return false;
  };
  EXPECT_FALSE(bare->DoProgress(0.25f));
  EXPECT_FLOAT_EQ(seen, 0.25f);
  std::vector<uint8_t> buf(4);
  EXPECT_THROW(bare->GetPixels(buf, 0, 0, 0, 1), EAbstractError);
  bare->Free();
}

}  // namespace
