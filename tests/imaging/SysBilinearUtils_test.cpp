#include "imaging/SysBilinearUtils.h"

#include <gtest/gtest.h>

#include <cmath>
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

std::vector<uint8_t> RowBytes(TSysBitmap* b, int y) {
  return {b->Row(y), b->Row(y) + b->Width * b->BytesPerPixel()};
}

// One byte of the packed row blend (bytes 0/2 and 1/3 of a group share a
// signed word; see the alpha utilities' test for the worked rule).
uint8_t BlendByte(const uint8_t* a, const uint8_t* b, size_t i, size_t count, int w) {
  if (i >= count / 4 * 4) return uint8_t(a[i] + (b[i] - a[i]) * w / 256);
  const size_t j = i % 4 < 2 ? i : i - 2;  // the lower byte of the pair
  const int dlo = b[j] - a[j], dhi = b[j + 2] - a[j + 2];
  if (i != j) return uint8_t(a[i] + int(std::floor(dhi * w / 256.0)));
  const auto word = static_cast<int32_t>(static_cast<uint32_t>(((int64_t(dlo) + 65536 * int64_t(dhi)) * w) & 0xFFFFFFFF));
  const double q = dlo * w / 256.0;
  return uint8_t(a[i] + int(word < 0 ? std::ceil(q) : std::floor(q)));
}

// The resampler written out plainly: positions x = i (S - 1) / (D - 1), the
// last column pinned to the last source pixel, rows blended by the packed
// rule, columns by a + floor(w (b - a) / 256).
std::vector<uint8_t> Reference(TSysBitmap* s, int dw, int dh) {
  const int n = s->BytesPerPixel(), sw = s->Width, sh = s->Height;
  std::vector<uint8_t> out;
  for (int y = 0; y < dh; ++y) {
    const double fy = dh < 2 ? 0 : double(sh - 1) / (dh - 1);
    const double py = y * fy;
    const int k = int(py), wy = int(std::nearbyint((py - k) * 256));
    const int k2 = std::min(k + 1, sh - 1);
    std::vector<uint8_t> row(size_t(sw * n) + n, 0);
    for (size_t i = 0; i < size_t(sw * n); ++i) row[i] = BlendByte(s->Row(k), s->Row(k2), i, size_t(sw * n), wy);
    for (int x = 0; x < dw; ++x) {
      const double fx = dw < 2 ? 0 : double(sw - 1) / (dw - 1);
      const double px = x * fx;
      int idx = int(px), wx = int(std::nearbyint((px - idx) * 256));
      if (x == dw - 1 && sw > 1) idx = sw - 2, wx = 256;
      if (sw == 1) wx = 0;
      for (int c = 0; c < n; ++c) {
        const int a = row[idx * n + c], b = row[(idx + 1) * n + c];
        out.push_back(uint8_t(a + ((wx * (b - a)) >> 8)));
      }
    }
  }
  return out;
}

std::vector<uint8_t> Bytes(TSysBitmap* b) {
  std::vector<uint8_t> v;
  for (int y = 0; y < b->Height; ++y) {
    auto r = RowBytes(b, y);
    v.insert(v.end(), r.begin(), r.end());
  }
  return v;
}

TEST(Bilinear, MapOfThreeToFive) {
  std::vector<TMap> map;
  BuildBilinearMap(map, 5, 3);
  const std::pair<int, int> want[] = {{0, 0}, {0, 128}, {1, 0}, {1, 128}, {1, 256}};
  ASSERT_EQ(map.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(int(map[i].Index), want[i].first) << i;
    EXPECT_EQ(int(map[i].Weight), want[i].second) << i;
  }
  BuildBilinearMap(map, 1, 7);  // a single column takes the last source column
  EXPECT_EQ(map[0].Index, 5u);
  EXPECT_EQ(map[0].Weight, 256);
}

TEST(Bilinear, MatchesThePlainFormula) {
  struct Case {
    int sw, sh, dw, dh;
  };
  const Case cases[] = {{3, 3, 5, 5},  {5, 4, 3, 2},  {7, 5, 13, 9},  {16, 16, 5, 7}, {2, 2, 9, 9},
                        {9, 3, 4, 11}, {1, 5, 4, 3},  {6, 1, 3, 4},   {1, 1, 3, 2},   {10, 10, 1, 1},
                        {4, 6, 1, 3},  {5, 7, 5, 3},  {33, 21, 17, 40}};
  unsigned seed = 1;
  for (TPixelFormat* f : {pfY8, pfR8G8B8, pfA8R8G8B8}) {
    for (const auto& c : cases) {
      auto s = Random(c.sw, c.sh, f, seed++);
      auto d = Sys(c.dw, c.dh, f);
      ASSERT_TRUE(ResampleBitmapBilinear(d.Get(), s.Get()));
      EXPECT_EQ(Bytes(d.Get()), Reference(s.Get(), c.dw, c.dh))
          << f->BitsPerPixel << " bits " << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh;
    }
  }
}

TEST(Bilinear, HandWorkedRowAndColumn) {
  // One 8-bit row 0, 100, 200 to five columns: 0, 50, 100, 150, 200.
  auto s = Sys(3, 1, pfY8);
  const uint8_t px[] = {0, 100, 200};
  std::copy_n(px, 3, s->Row(0));
  auto d = Sys(5, 2, pfY8);
  ASSERT_TRUE(ResampleBitmapBilinear(d.Get(), s.Get()));
  const std::vector<uint8_t> want{0, 50, 100, 150, 200};
  EXPECT_EQ(RowBytes(d.Get(), 0), want);
  EXPECT_EQ(RowBytes(d.Get(), 1), want) << "a one-row source gives identical rows";
  // A falling pair: 200 -> 0 at weight 128 is 200 + floor(-100) = 100; 201 -> 0 gives 201 + floor(-100.5) = 100.
  const uint8_t px2[] = {201, 0, 0};
  std::copy_n(px2, 3, s->Row(0));
  ASSERT_TRUE(ResampleBitmapBilinear(d.Get(), s.Get()));
  EXPECT_EQ(d->Row(0)[1], 100);
  // One column 0 / 255 over two rows into 3 x 3: the middle row is the blend at weight 128 = 127.
  auto c = Sys(1, 2, pfY8);
  c->Row(0)[0] = 0;
  c->Row(1)[0] = 255;
  auto e = Sys(3, 3, pfY8);
  ASSERT_TRUE(ResampleBitmapBilinear(e.Get(), c.Get()));
  EXPECT_EQ(RowBytes(e.Get(), 0), (std::vector<uint8_t>{0, 0, 0}));
  EXPECT_EQ(RowBytes(e.Get(), 1), (std::vector<uint8_t>{127, 127, 127}));
  EXPECT_EQ(RowBytes(e.Get(), 2), (std::vector<uint8_t>{255, 255, 255}));
}

TEST(Bilinear, SameSizeCopiesAndEdgesPickCorners) {
  for (TPixelFormat* f : {pfY8, pfR8G8B8, pfA8R8G8B8}) {
    auto s = Random(7, 5, f, 99);
    auto d = Sys(7, 5, f);
    ASSERT_TRUE(ResampleBitmapBilinear(d.Get(), s.Get()));
    EXPECT_EQ(Bytes(d.Get()), Bytes(s.Get()));
    const int n = f->BytesPerPixel;
    auto col = Sys(1, 5, f);  // one pixel wide: the last source column
    ASSERT_TRUE(ResampleBitmapBilinear(col.Get(), s.Get()));
    for (int y = 0; y < 5; ++y)
      EXPECT_EQ(RowBytes(col.Get(), y), std::vector<uint8_t>(s->Row(y) + 6 * n, s->Row(y) + 7 * n));
    auto row = Sys(7, 1, f);  // one pixel high: the first source row
    ASSERT_TRUE(ResampleBitmapBilinear(row.Get(), s.Get()));
    EXPECT_EQ(RowBytes(row.Get(), 0), RowBytes(s.Get(), 0));
  }
}

TEST(Bilinear, RefusesMismatchedFormats) {
  auto a = Random(4, 4, pfR8G8B8, 1);
  auto b = Sys(2, 2, pfB8G8R8);
  auto before = Bytes(b.Get());
  EXPECT_FALSE(ResampleBitmapBilinear(b.Get(), a.Get()));
  EXPECT_EQ(Bytes(b.Get()), before);
  auto c = Random(4, 4, pfR5G6B5, 2);
  auto d = Sys(2, 2, pfR5G6B5);
  EXPECT_FALSE(ResampleBitmapBilinear(d.Get(), c.Get()));
  EXPECT_FALSE(ResampleBitmapBilinear(nullptr, c.Get()));
}

TEST(Bilinear, DirectBitmapsAndTheirRectangles) {
  auto* src = new TDirectBitmap(4, 3, pfR8G8B8);
  auto* dst = new TDirectBitmap(2, 2, pfR8G8B8);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 12; ++i) src->Row(y)[i] = uint8_t(y * 12 + i);
  ASSERT_TRUE(ResampleBitmapBilinear(dst, src));
  // Corners: (0, 0) and (3, 2) of the source.
  EXPECT_EQ(dst->Row(0)[0], 0);
  EXPECT_EQ(dst->Row(1)[3], 2 * 12 + 9);

  TBitmapParams p;
  ASSERT_TRUE(GetDirectBitmapRectParams(p, src, TRect{1, -5, 10, 2}));
  EXPECT_EQ(p.Width, 3);
  EXPECT_EQ(p.Height, 2);
  EXPECT_EQ(p.ScanLines[0], src->Row(0) + 3);
  EXPECT_EQ(p.ScanLines[1], src->Row(1) + 3);
  ASSERT_TRUE(GetDirectBitmapRectParams(p, src, TRect{3, 0, 3, 2}));
  EXPECT_EQ(p.Width, 0);
  EXPECT_EQ(p.Height, 0);
  src->Free();
  dst->Free();
}

TEST(Bilinear, AllocBitmapParamsPacksRows) {
  TBitmapParams p;
  TByteDynArray buf;
  AllocBitmapParams(p, 3, 2, 24, buf);
  EXPECT_EQ(buf.size(), 18u);
  EXPECT_EQ(p.ScanLines[1], buf.data() + 9);
  AllocBitmapParams(p, -4, -1, 0, buf);
  EXPECT_EQ(p.Width, 0);
  EXPECT_EQ(p.Height, 0);
  EXPECT_EQ(p.BitsPerPixel, 1);
  EXPECT_TRUE(buf.empty());
}

TEST(Bilinear, EntryPointsAssertTheirBitCounts) {
  TBitmapParams a, b;
  TByteDynArray ba, bb;
  AllocBitmapParams(a, 2, 2, 24, ba);
  AllocBitmapParams(b, 2, 2, 32, bb);
  EXPECT_THROW(ResampleBilinear8(a, a), foundation::EAssertionFailed);
  EXPECT_THROW(ResampleBilinear24(a, b), foundation::EAssertionFailed);
  EXPECT_THROW(ResampleBilinear32(a, b), foundation::EAssertionFailed);
  EXPECT_NO_THROW(ResampleBilinear32(b, b));
}

TEST(Bilinear, EmptyParamsDrawNothing) {
  TBitmapParams d, s, e;
  TByteDynArray bd, bs, be;
  AllocBitmapParams(d, 3, 3, 8, bd);
  AllocBitmapParams(s, 2, 2, 8, bs);
  std::fill(bd.begin(), bd.end(), 0x77);
  std::fill(bs.begin(), bs.end(), 0x11);
  AllocBitmapParams(e, 0, 5, 8, be);
  ResampleBilinear8(d, e);
  ResampleBilinear8(e, s);
  EXPECT_EQ(bd, std::vector<uint8_t>(9, 0x77));
}

}  // namespace
