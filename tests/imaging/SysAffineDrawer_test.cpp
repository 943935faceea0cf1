#include "imaging/SysAffineDrawer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/SysBilinearDrawer.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/winImageUtils.h"
#include "tests/support/AssertionText.h"

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

void Fill(TSysBitmap* b, uint8_t v) {
  for (int y = 0; y < b->Height; ++y) std::memset(b->Row(y), v, size_t(b->Width) * b->BytesPerPixel());
}

std::vector<uint8_t> Bytes(TSysBitmap* b) {
  std::vector<uint8_t> v;
  for (int y = 0; y < b->Height; ++y) v.insert(v.end(), b->Row(y), b->Row(y) + b->Width * b->BytesPerPixel());
  return v;
}

// The bilinear sample written plainly: position (p, q) in source pixel
// units with 16-bit fractions, valid from -0.5 to below size - 0.5, pairs held
// inside the image. Answers false for an invalid position.
bool PlainSample(TSysBitmap* s, int64_t fu, int64_t fv, uint8_t* out) {
  const int n = s->BytesPerPixel(), W = s->Width, H = s->Height;
  if (fu < -32768 || fu >= int64_t(W) * 65536 - 32768 || fv < -32768 || fv >= int64_t(H) * 65536 - 32768) return false;
  int64_t x0 = fu >> 16, y0 = fv >> 16, x1 = x0 + 1, y1 = y0 + 1;
  const int64_t a = fu & 0xFFFF, b = fv & 0xFFFF;
  if (x0 < 0) x0 = x1 = 0;
  if (x1 >= W) x0 = x1 = W - 1;
  if (y0 < 0) y0 = y1 = 0;
  if (y1 >= H) y0 = y1 = H - 1;
  const int64_t w11 = (a * b) >> 16, w10 = a - w11, w01 = b - w11, w00 = 65536 - a - b + w11;
  for (int c = 0; c < n; ++c)
    out[c] = uint8_t((w00 * s->Row(int(y0))[x0 * n + c] + w10 * s->Row(int(y0))[x1 * n + c] +
                      w01 * s->Row(int(y1))[x0 * n + c] + w11 * s->Row(int(y1))[x1 * n + c]) >> 16);
  return true;
}

// What every destination pixel must become, every sample guarded: the pixel's
// 16.16 position is its block's (block corners at multiples of 8 or the draw
// bounds) plus whole steps; only pixels in the draw bounds are touched.
std::vector<uint8_t> Reference(TAffineDrawer* d, TSysBitmap* s, TSysBitmap* dest, TFloatPoint o, TFlatVector u,
                               TFlatVector v) {
  std::vector<uint8_t> out = Bytes(dest);
  foundation::TAffineFrame2D f;
  if (!foundation::InitAffineFrame2D(f, o, u, v)) return out;
  const TRect b = d->DrawBounds();
  const auto cs = d->ColumnStep(), rs = d->RowStep();
  for (int y = b.Top; y < b.Bottom; ++y)
    for (int x = b.Left; x < b.Right; ++x) {
      const int bl = std::max(b.Left, x & ~7), bt = std::max(b.Top, y & ~7);
      const auto p = foundation::PointToAffineFrame2D(f, {float(bl) + 0.5f, float(bt) + 0.5f});
      const int64_t fu = foundation::SingleToFixed(p.X - 0.5f) + int64_t(x - bl) * cs.U + int64_t(y - bt) * rs.U;
      const int64_t fv = foundation::SingleToFixed(p.Y - 0.5f) + int64_t(x - bl) * cs.V + int64_t(y - bt) * rs.V;
      uint8_t px[4];
      if (!PlainSample(s, fu, fv, px)) continue;
      uint8_t* o3 = out.data() + (size_t(y) * dest->Width + x) * 3;
      if (s->BytesPerPixel() == 3) {
        std::memcpy(o3, px, 3);
      } else if (px[3] == 255) {
        std::memcpy(o3, px, 3);
      } else if (px[3] != 0) {
        for (int c = 0; c < 3; ++c) o3[c] = uint8_t(o3[c] + int(std::floor(px[3] * (px[c] - o3[c]) / 256.0)));
      }
    }
  return out;
}

int CountKind(TAffineDrawer* d, int kind) {
  int n = 0;
  for (const auto& band : d->Bands())
    for (const auto& k : band.Blocks) n += k.Kind == kind;
  return n;
}

TEST(ImageDrawer, FitSizeKeepAspect) {
  struct Case {
    int sw, sh, bw, bh, w, h;
  };
  const Case cases[] = {{100, 50, 40, 40, 40, 20}, {100, 50, 40, 10, 20, 10}, {16, 16, 64, 64, 64, 64},
                        {3, 2, 5, 5, 5, 3} /* 2 x 5/3 = 3.33 */, {2, 3, 5, 5, 3, 5}, {4, 1, 10, 10, 10, 2}};
  for (const auto& c : cases) {
    const TSize s = FitSizeKeepAspect(c.sw, c.sh, c.bw, c.bh);
    EXPECT_EQ(s.cx, c.w) << c.sw << "x" << c.sh;
    EXPECT_EQ(s.cy, c.h) << c.sw << "x" << c.sh;
  }
  // r(2.5) = 2: halves go to even (5 x 1 into 5 x 2.5 -> e = 0.5 ... 10 x 5 into 5 x 5 gives 5 x 2.5 -> 2).
  EXPECT_EQ(FitSizeKeepAspect(10, 5, 5, 5).cy, 2);
}

TEST(ImageDrawer, IdentityCopiesAndLeavesTheRestAlone) {
  auto s = Random(35, 29, pfR8G8B8, 5);
  auto d = Sys(50, 40, pfR8G8B8);
  Fill(d.Get(), 0x33);
  auto dr = TRef<TBilinearDrawer>::Adopt(new TBilinearDrawer(8, 8));
  dr->SetImage(s.Get(), false);
  dr->SetTransform(TRect{0, 0, 50, 40}, {0, 0}, {1, 0}, {0, 1});
  dr->Draw(d.Get());
  EXPECT_GT(CountKind(dr.Get(), bkOpaqueInterior), 0) << "interior blocks read without tests";
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x)
      for (int c = 0; c < 3; ++c) {
        const uint8_t want = (x < 35 && y < 29) ? s->Row(y)[x * 3 + c] : 0x33;
        ASSERT_EQ(d->Row(y)[x * 3 + c], want) << x << "," << y;
      }
}

TEST(ImageDrawer, DoubleSizeHandWorked) {
  // Enlarging 2 x: destination column x samples source (x - 0.5) / 2, exact in
  // 16.16. Columns 0 and 1: -0.25 (held at pixel 0) and 0.25 (a quarter of the way).
  auto s = Sys(2, 1, pfR8G8B8);
  const uint8_t px[] = {0, 0, 0, 200, 100, 40};
  std::memcpy(s->Row(0), px, 6);
  auto d = Sys(4, 2, pfR8G8B8);
  Fill(d.Get(), 7);
  auto dr = TRef<TBilinearDrawer>::Adopt(new TBilinearDrawer(8, 8));
  dr->SetImage(s.Get(), false);
  dr->SetTransform(TRect{0, 0, 4, 2}, {0, 0}, {2, 0}, {0, 2});
  dr->Draw(d.Get());
  const uint8_t want[] = {0, 0, 0, 50, 25, 10, 150, 75, 30, 200, 100, 40};
  for (int y = 0; y < 2; ++y) EXPECT_EQ(std::vector<uint8_t>(d->Row(y), d->Row(y) + 12), std::vector<uint8_t>(want, want + 12)) << y;
}

TEST(ImageDrawer, TransformsMatchTheGuardedSampler) {
  struct Case {
    int sw, sh;
    TFloatPoint o;
    TFlatVector u, v;
    TRect b;
  };
  const float c = std::cos(0.5f), s = std::sin(0.5f);
  const Case cases[] = {
      {20, 15, {0, 0}, {2, 0}, {0, 2}, {0, 0, 50, 40}},
      {33, 21, {3, 2}, {0.37f, 0}, {0, 0.45f}, {0, 0, 20, 15}},
      {25, 17, {40, 3}, {0, 1}, {-1, 0}, {0, 0, 50, 40}},  // quarter turn
      {25, 17, {20, 1}, {1.7f * c, 1.7f * s}, {-1.7f * s, 1.7f * c}, {0, 0, 64, 60}},
      {25, 17, {45, 50}, {-1.3f, 0.2f}, {0.1f, -1.9f}, {5, 7, 60, 55}},  // mirrored both ways
      {9, 40, {2, 2}, {3.3f, 0}, {0.5f, 0.9f}, {0, 0, 40, 45}},          // sheared
      {40, 30, {-10, -7}, {1, 0}, {0, 1}, {0, 0, 25, 20}},              // partly off the top left
  };
  unsigned seed = 11;
  for (TPixelFormat* f : {pfR8G8B8, pfA8R8G8B8}) {
    for (const auto& k : cases) {
      auto src = Random(k.sw, k.sh, f, seed++);
      auto d = Random(k.b.Right + 3, k.b.Bottom + 2, pfR8G8B8, seed++);
      auto dr = TRef<TBilinearDrawer>::Adopt(new TBilinearDrawer(8, 8));
      dr->SetImage(src.Get(), false);
      dr->SetTransform(k.b, k.o, k.u, k.v);
      const auto want = Reference(dr.Get(), src.Get(), d.Get(), k.o, k.u, k.v);
      dr->Draw(d.Get());
      EXPECT_EQ(Bytes(d.Get()), want) << f->BitsPerPixel << " bits, " << k.sw << "x" << k.sh << " at " << k.o.X;
    }
  }
}

TEST(ImageDrawer, AlphaZeroKeepsTheBackground) {
  auto s = Sys(6, 6, pfA8R8G8B8);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      uint8_t* p = s->Row(y) + 4 * x;
      p[0] = 200, p[1] = 100, p[2] = 50;
      p[3] = x < 2 ? 0 : (x < 4 ? 128 : 255);
    }
  auto d = Sys(6, 6, pfR8G8B8);
  Fill(d.Get(), 40);
  auto dr = TRef<TBilinearDrawer>::Adopt(new TBilinearDrawer(8, 8));
  dr->SetImage(s.Get(), false);
  dr->SetTransform(TRect{0, 0, 6, 6}, {0, 0}, {1, 0}, {0, 1});
  dr->Draw(d.Get());
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(d->Row(y)[0], 40);
    EXPECT_EQ(d->Row(y)[3 * 1 + 2], 40);
    // 40 + floor(128 x (200 - 40) / 256) = 120; 40 + floor(128 x 10 / 256) = 45.
    EXPECT_EQ(d->Row(y)[3 * 2 + 0], 120);
    EXPECT_EQ(d->Row(y)[3 * 3 + 2], 45);
    EXPECT_EQ(d->Row(y)[3 * 5 + 0], 200);
  }
}

TEST(ImageDrawer, DegenerateAndHostileTransforms) {
  auto s = Random(40, 3, pfR8G8B8, 3);
  auto d = Sys(64, 64, pfR8G8B8);
  auto dr = TRef<TBilinearDrawer>::Adopt(new TBilinearDrawer(8, 8));
  dr->SetImage(s.Get(), false);
  Fill(d.Get(), 9);
  dr->SetTransform(TRect{0, 0, 64, 64}, {0, 0}, {0, 0}, {0, 1});  // no area
  dr->Draw(d.Get());
  dr->SetTransform(TRect{0, 0, 64, 64}, {0, 0}, {2, 4}, {1, 2});  // parallel axes
  dr->Draw(d.Get());
  EXPECT_EQ(Bytes(d.Get()), std::vector<uint8_t>(64 * 64 * 3, 9));
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const TFlatVector axes[][2] = {{{1e6f, 0}, {0, 1e6f}}, {{1e-6f, 0}, {0, 1e-6f}}, {{nan, 0}, {0, 1}},
                                 {{inf, 0}, {0, 1}},     {{3e4f, 1}, {-1, 2e4f}},  {{1e-3f, 0}, {0, 50}}};
  const TFloatPoint origins[] = {{0, 0}, {-1e9f, 5}, {1e9f, 1e9f}, {-3, -900}};
  for (const auto& a : axes)
    for (const auto& o : origins) {
      dr->SetTransform(TRect{0, 0, 64, 64}, o, a[0], a[1]);
      dr->Draw(d.Get());
    }
  // A 40000-pixel-wide image: positions up to 32767 are exact; beyond, the
  // 16.16 positions leave their range, and the blocks fall back to guarded
  // sampling (no read outside the image, which AddressSanitizer checks).
  auto wide = Random(40000, 20, pfR8G8B8, 4);
  dr->SetImage(wide.Get(), false);
  dr->SetTransform(TRect{0, 0, 64, 64}, {-32700, 0}, {1, 0}, {0, 1});
  Fill(d.Get(), 9);
  const auto want = Reference(dr.Get(), wide.Get(), d.Get(), {-32700, 0}, {1, 0}, {0, 1});
  dr->Draw(d.Get());
  EXPECT_EQ(Bytes(d.Get()), want);
  for (float x : {-39990.0f, -32767.5f, -20000.0f}) {
    dr->SetTransform(TRect{0, 0, 64, 64}, {x, 0}, {1, 0}, {0, 1});
    EXPECT_EQ(CountKind(dr.Get(), bkInterior) + CountKind(dr.Get(), bkOpaqueInterior) > 0, x == -20000.0f) << x;
    dr->Draw(d.Get());
  }
}

TEST(ImageDrawer, Assertions) {
  auto s = Random(4, 4, pfR8G8B8, 1);
  auto dr = TRef<TBilinearDrawer>::Adopt(new TBilinearDrawer(8, 8));
  auto grey = Sys(4, 4, pfY8);
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { dr->SetImage(grey.Get(), false); }), u"Unsupported PixelFormat");
  dr->SetImage(s.Get(), false);
  EXPECT_THROW(dr->SetTransform(TRect{-1, 0, 4, 4}, {0, 0}, {1, 0}, {0, 1}), foundation::EAssertionFailed);
  dr->SetTransform(TRect{0, 0, 4, 4}, {0, 0}, {1, 0}, {0, 1});
  auto small = Sys(3, 4, pfR8G8B8);
  EXPECT_THROW(dr->Draw(small.Get()), foundation::EAssertionFailed);
  auto rgba = Sys(4, 4, pfA8R8G8B8);
  EXPECT_THROW(dr->Draw(rgba.Get()), foundation::EAssertionFailed);
  // An owned image is released with the drawer (the leak check at exit notices otherwise).
  dr->SetImage(CreateSysBitmap(2, 2, pfR8G8B8), true);
  dr->SetImage(CreateSysBitmap(2, 2, pfR8G8B8), true);
}

TEST(ImageDrawer, CreateImageDIB) {
  EXPECT_EQ(CreateImageDIB(nullptr, 10, 10, {1, 2, 3}, false, false), nullptr);
  // 24-bit: fitted and drawn; keep-small keeps 16 x 16 in a 64 x 64 box.
  auto* img = WrapBitmapAsImage(Random(16, 16, pfR8G8B8, 2).Get()->Clone(), true, u"a");
  ASSERT_NE(img, nullptr);
  TFastDIB* dib = CreateImageDIB(img, 64, 64, {1, 2, 3}, true, false);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->Width(), 16);
  EXPECT_EQ(std::abs(dib->Height()), 16);
  EXPECT_EQ(dib->BitCount(), 24);
  dib->Free();
  dib = CreateImageDIB(img, 64, 32, {1, 2, 3}, false, false);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->Width(), 32);
  EXPECT_EQ(std::abs(dib->Height()), 32);
  dib->Free();
  img->Free();
  // 32-bit with transparency: resized with the background at alpha 0 where transparent.
  auto a = Sys(4, 2, pfA8R8G8B8);
  for (int y = 0; y < 2; ++y) std::memset(a->Row(y), 0, 16);
  img = WrapBitmapAsImage(a.Get()->Clone(), true, u"b");
  dib = CreateImageDIB(img, 8, 8, {10, 20, 30}, false, false);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->BitCount(), 32);
  EXPECT_EQ(dib->Width(), 8);
  EXPECT_EQ(std::abs(dib->Height()), 4);
  EXPECT_EQ(dib->Row(0)[0], 10);
  EXPECT_EQ(dib->Row(0)[2], 30);
  EXPECT_EQ(dib->Row(0)[3], 0);
  dib->Free();
  // Opaque: 24-bit over the background.
  dib = CreateImageDIB(img, 8, 8, {10, 20, 30}, false, true);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(dib->BitCount(), 24);
  EXPECT_EQ(dib->Row(1)[4], 20);
  dib->Free();
  img->Free();
  EXPECT_THROW(CreateImageDIB(nullptr, 0, 5, {}, false, false), foundation::EAssertionFailed);
}

}  // namespace
