#include "imaging/SysBitmapUtils.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;
using foundation::TRef;

namespace {

TRef<TSysBitmap> Sys(int w, int h, TPixelFormat* f) { return TRef<TSysBitmap>::Adopt(CreateSysBitmap(w, h, f)); }

TRef<TSysBitmap> Random(int w, int h, TPixelFormat* f, unsigned seed) {
  auto b = Sys(w, h, f);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w * f->BytesPerPixel; ++i) b->Row(y)[i] = uint8_t(rng());
  return b;
}

// The filter written out plainly: every destination pixel, every fetch clamped.
std::vector<uint8_t> ReferenceHalve(TSysBitmap* s, int dw, int dh) {
  const int n = s->BytesPerPixel();
  std::vector<uint8_t> out;
  const int k[3] = {1, 2, 1};
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < n; ++c) {
        int sum = 0;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) {
            const int sx = std::clamp(2 * x + i, 0, s->Width - 1), sy = std::clamp(2 * y + j, 0, s->Height - 1);
            sum += k[i + 1] * k[j + 1] * s->Row(sy)[sx * n + c];
          }
        out.push_back(uint8_t(sum / 16));
      }
  return out;
}

std::vector<uint8_t> Bytes(TSysBitmap* b) {
  std::vector<uint8_t> v;
  for (int y = 0; y < b->Height; ++y) v.insert(v.end(), b->Row(y), b->Row(y) + b->Width * b->BytesPerPixel());
  return v;
}

TEST(BitmapUtils, HalveMatchesTheFilterEverywhere) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case cases[] = {{5, 3, 3, 2}, {5, 3, 2, 1}, {8, 8, 4, 4}, {1, 1, 1, 1}, {7, 1, 4, 3},
                        {1, 6, 1, 3}, {9, 5, 5, 3}, {2, 2, 1, 1}, {16, 9, 8, 5},
                        {67, 41, 34, 21}, {130, 7, 65, 4}, {64, 64, 40, 40}};
  unsigned seed = 1;
  for (TPixelFormat* f : {pfR8G8B8, pfA8R8G8B8}) {
    for (const auto& c : cases) {
      auto s = Random(c.sw, c.sh, f, seed++);
      auto d = Sys(c.dw, c.dh, f);
      if (f == pfR8G8B8)
        HalveBitmap24(s.Get(), d.Get());
      else
        HalveBitmap32(s.Get(), d.Get());
      EXPECT_EQ(Bytes(d.Get()), ReferenceHalve(s.Get(), c.dw, c.dh)) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
    }
  }
  // By hand: a 3 x 1 row 0, 16, 32 halves to 4 x (0 + 2 x 0 + 16) / 16 = 4.
  auto s = Sys(3, 1, pfR8G8B8);
  s->Row(0)[3] = 16;
  s->Row(0)[6] = 32;
  auto d = Sys(1, 1, pfR8G8B8);
  HalveBitmap24(s.Get(), d.Get());
  EXPECT_EQ(d->Row(0)[0], 4);
  EXPECT_THROW(HalveBitmap32(s.Get(), d.Get()), foundation::EAssertionFailed);
}

TEST(BitmapUtils, HalveProgressAndRefusal) {
  auto s = Random(10, 10, pfR8G8B8, 7);
  auto d = Sys(5, 6, pfR8G8B8);  // h = 5 interior-capable rows, one extra row
  std::vector<float> calls;
  s->Progress = [&](float f) {
    calls.push_back(f);
    return true;
  };
  HalveBitmap24(s.Get(), d.Get());
  ASSERT_EQ(calls.size(), size_t(6 + 5 + 1));  // destination height + h reports, then 1
  EXPECT_EQ(calls.back(), 1.0f);
  EXPECT_FLOAT_EQ(calls[1], 1.0f / 11);
  // Refused at once: the interior stays untouched.
  auto d2 = Sys(5, 6, pfR8G8B8);
  s->Progress = [](float) { return false; };
  HalveBitmap24(s.Get(), d2.Get());
  EXPECT_EQ(Bytes(d2.Get()), std::vector<uint8_t>(5 * 6 * 3, 0));
}

TEST(BitmapUtils, QuarterAndHalfTurns) {
  for (TPixelFormat* f : {pfR8G8B8, pfA8R8G8B8}) {
    const int n = f->BytesPerPixel;
    auto s = Random(4, 2, f, 3);
    auto cw = Sys(2, 4, f);
    auto ccw = Sys(2, 4, f);
    if (n == 3) {
      Rotate90Bitmap24(s.Get(), cw.Get());
      Rotate270Bitmap24(s.Get(), ccw.Get());
    } else {
      Rotate90Bitmap32(s.Get(), cw.Get());
      Rotate270Bitmap32(s.Get(), ccw.Get());
    }
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x)
        for (int c = 0; c < n; ++c) {
          EXPECT_EQ(cw->Row(x)[(2 - 1 - y) * n + c], s->Row(y)[x * n + c]);
          EXPECT_EQ(ccw->Row(4 - 1 - x)[y * n + c], s->Row(y)[x * n + c]);
        }
    // Half turn in place, odd height: the middle row is mirrored.
    auto h = Random(3, 3, f, 9);
    const auto before = Bytes(h.Get());
    if (n == 3)
      Rotate180Bitmap24(h.Get());
    else
      Rotate180Bitmap32(h.Get());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x)
        for (int c = 0; c < n; ++c) EXPECT_EQ(h->Row(2 - y)[(2 - x) * n + c], before[size_t((y * 3 + x) * n + c)]);
    auto wrong = Sys(3, 3, f);
    EXPECT_THROW(n == 3 ? Rotate90Bitmap24(s.Get(), wrong.Get()) : Rotate90Bitmap32(s.Get(), wrong.Get()),
                 foundation::EAssertionFailed);
  }
  auto one = Sys(1, 1, pfA8R8G8B8);
  StoreU32(one->Row(0), 0x11223344);
  Rotate180Bitmap32(one.Get());
  EXPECT_EQ(LoadU32(one->Row(0)), 0x11223344u);
}

TEST(BitmapUtils, GreyDisableBrightnessAndOpacity) {
  auto b = Sys(2, 1, pfA8R8G8B8);
  const uint8_t px[8] = {10, 20, 33, 200, 255, 255, 255, 3};
  std::memcpy(b->Row(0), px, 8);
  DisableBitmap32(b.Get());
  EXPECT_EQ((std::vector<uint8_t>(b->Row(0), b->Row(0) + 4)), (std::vector<uint8_t>{21, 21, 21, 50}));
  GrayscaleBitmap32(nullptr);
  auto rgb = Sys(1, 1, pfR8G8B8);
  rgb->Row(0)[0] = 9;
  GrayscaleBitmap32(rgb.Get());  // not 4 bytes per pixel: left alone
  EXPECT_EQ(rgb->Row(0)[0], 9);

  struct Case {
    uint8_t in[4];
    uint8_t out[4];
  };
  const Case cases[] = {{{0, 0, 255, 0}, {0, 0, 255, 255}},
                        {{128, 128, 128, 7}, {255, 255, 255, 128}},
                        {{100, 150, 200, 0}, {160, 191, 221, 200}}};
  for (const auto& c : cases) {
    auto p = Sys(1, 1, pfA8R8G8B8);
    std::memcpy(p->Row(0), c.in, 4);
    BrightnessToAlpha32(p.Get());
    EXPECT_EQ((std::vector<uint8_t>(p->Row(0), p->Row(0) + 4)), (std::vector<uint8_t>(c.out, c.out + 4)));
  }
  EXPECT_THROW(BrightnessToAlpha32(Sys(1, 1, pfA8r8g8b8).Get()), foundation::EAssertionFailed);

  EXPECT_FALSE(IsBitmapOpaque(nullptr));
  EXPECT_TRUE(IsBitmapOpaque(rgb.Get()));
  auto a = Sys(2, 2, pfA8R8G8B8);
  SetBitmapAlpha(a.Get(), TRect{0, 0, 2, 2}, 255);
  EXPECT_TRUE(IsBitmapOpaque(a.Get()));
  SetBitmapAlpha(a.Get(), TRect{1, 1, 5, 5}, 254);
  EXPECT_FALSE(IsBitmapOpaque(a.Get()));
  EXPECT_EQ(a->Row(1)[7], 254);
  EXPECT_EQ(a->Row(1)[3], 255);
  int calls = 0;
  a->Progress = [&](float) {
    ++calls;
    return true;
  };
  SetBitmapAlpha(a.Get(), TRect{5, 5, 9, 9}, 0);
  EXPECT_EQ(calls, 0);
}

TEST(BitmapUtils, BlendTableAndRows) {
  const TBlendEntry* t = AlphaBlendTable();
  EXPECT_EQ(t[255 * 256 + 128].R, 4113);
  EXPECT_EQ(t[255 * 256 + 128].A, 255);
  EXPECT_EQ(t[255 * 256 + 128].W, 127);
  EXPECT_EQ(t[100 * 256 + 50].A, 255 - (205 * 155) / 255);
  struct Case {
    uint8_t d[4], s[4], out[4];
  };
  const Case cases[] = {
      {{1, 2, 3, 90}, {9, 9, 9, 0}, {1, 2, 3, 90}},              // transparent source keeps
      {{1, 2, 3, 90}, {9, 8, 7, 255}, {9, 8, 7, 255}},           // opaque source copies its alpha
      {{1, 2, 3, 0}, {9, 8, 7, 128}, {9, 8, 7, 128}},            // empty destination takes the source
      {{100, 100, 100, 255}, {200, 200, 200, 128}, {150, 150, 150, 255}},
      {{255, 255, 255, 255}, {255, 255, 255, 200}, {255, 255, 255, 255}},  // white stays 255
  };
  for (const auto& c : cases) {
    uint8_t d[4];
    std::memcpy(d, c.d, 4);
    BlendRowOver32(d, c.s, 1);
    EXPECT_EQ((std::vector<uint8_t>(d, d + 4)), (std::vector<uint8_t>(c.out, c.out + 4)));
  }
  auto dst = Sys(4, 4, pfA8R8G8B8);
  auto src = Sys(2, 2, pfA8R8G8B8);
  SetBitmapAlpha(src.Get(), TRect{0, 0, 2, 2}, 255);
  EXPECT_FALSE(AlphaBlendBitmap32(dst.Get(), 4, 0, 2, 2, src.Get(), 0, 0));
  EXPECT_TRUE(AlphaBlendBitmap32(dst.Get(), 3, 3, 2, 2, src.Get(), 0, 0));
  EXPECT_EQ(dst->Row(3)[15], 255);
  EXPECT_EQ(dst->Row(2)[15], 0);
}

TEST(BitmapUtils, TilesStayAnchored) {
  auto src = Sys(2, 2, pfA8R8G8B8);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) StoreU32(src->Row(y) + 4 * x, uint32_t(1 + x + 2 * y));
  auto full = Sys(7, 5, pfA8R8G8B8);
  TileBitmap(full.Get(), src.Get(), TRect{1, 1, 7, 5}, TRect{0, 0, 2, 2}, TPoint{0, 0});
  EXPECT_EQ(LoadU32(full->Row(0) + 4), 0u);
  EXPECT_EQ(LoadU32(full->Row(1) + 4), 1u);
  EXPECT_EQ(LoadU32(full->Row(2) + 8), 4u);
  EXPECT_EQ(LoadU32(full->Row(4) + 24), 4u);
  EXPECT_EQ(LoadU32(full->Row(3) + 20), 1u);
  // Clipping away the left half keeps every remaining tile where it was.
  auto clipped = Sys(7, 5, pfA8R8G8B8);
  TileBitmapClipped(clipped.Get(), src.Get(), TRect{1, 1, 7, 5}, TRect{0, 0, 2, 2}, TRect{4, 0, 7, 5});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const uint32_t want = x >= 4 ? LoadU32(full->Row(y) + 4 * x) : 0u;
      EXPECT_EQ(LoadU32(clipped->Row(y) + 4 * x), want) << x << "," << y;
    }
  // An empty source rectangle repeats nothing (and does not loop).
  TileBitmap(clipped.Get(), src.Get(), TRect{0, 0, 7, 5}, TRect{1, 1, 1, 2}, TPoint{-3, 0});
  EXPECT_EQ(LoadU32(clipped->Row(0)), 0u);
}

}  // namespace
