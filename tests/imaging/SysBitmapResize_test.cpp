#include "imaging/SysBitmapResize.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;
using foundation::TRef;

namespace {

TRef<TSysBitmap> Sys(int w, int h, TPixelFormat* f) { return TRef<TSysBitmap>::Adopt(CreateSysBitmap(w, h, f)); }

uint32_t Px(TSysBitmap* b, int x, int y) {
  uint32_t v;
  std::memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}
void SetPx(TSysBitmap* b, int x, int y, uint32_t v) { std::memcpy(b->Row(y) + 4 * x, &v, 4); }
void Fill(TSysBitmap* b, uint32_t v) {
  for (int y = 0; y < b->Height; ++y)
    for (int x = 0; x < b->Width; ++x) SetPx(b, x, y, v);
}

// The resizer's arithmetic written out for one destination pixel of a
// rectangle wholly inside both bitmaps.
uint32_t Expected(TSysBitmap* s, const TRect& d, const TRect& r, int u, int v) {
  auto axis = [](int i, int dlo, int dhi, int slo, int shi, int last, int& lo, int& hi, int& w) {
    const double step = dhi - dlo - 1 < 1 ? 0.0 : 1.0 / (dhi - dlo - 1);
    const double t = i * step * (shi - slo - 1);
    lo = std::clamp(int(t) + slo, 0, last);
    hi = std::min(lo + 1, last);
    w = int(std::nearbyint((t - std::trunc(t)) * 65536 - 0.5));
  };
  int l, rr, wx, tp, bt, wy;
  axis(u, d.Left, d.Right, r.Left, r.Right, std::min(r.Right, s->Width) - 1, l, rr, wx);
  axis(v, d.Top, d.Bottom, r.Top, r.Bottom, std::min(r.Bottom, s->Height) - 1, tp, bt, wy);
  auto lerp = [](uint32_t a, uint32_t b, int w) {
    uint32_t o = 0;
    for (int sh = 0; sh < 32; sh += 8) {
      const int x = (a >> sh) & 255, y = (b >> sh) & 255;
      o |= uint32_t(x + int((y - x) * int64_t(w) / 65536)) << sh;
    }
    return o;
  };
  return lerp(lerp(Px(s, l, tp), Px(s, rr, tp), wx), lerp(Px(s, l, bt), Px(s, rr, bt), wx), wy);
}

TEST(Resize, HandWorkedHalfWeights) {
  // 2 x 1 to 3 x 1: the middle column is at t = 0.5, weight r(32768 - 0.5) = 32768 (halves to even).
  auto s = Sys(2, 1, pfA8R8G8B8);
  SetPx(s.Get(), 0, 0, 0xFF00FF00);
  SetPx(s.Get(), 1, 0, 0xFFFF0000);
  auto d = Sys(3, 1, pfA8R8G8B8);
  ResizeBitmap32(d.Get(), s.Get(), TRect{0, 0, 3, 1}, TRect{0, 0, 2, 1}, 0);
  EXPECT_EQ(Px(d.Get(), 0, 0), 0xFF00FF00u);
  // red 0 -> 255: 0 + trunc(127.5) = 127; green 255 -> 0: 255 + trunc(-127.5) = 128.
  EXPECT_EQ(Px(d.Get(), 1, 0), 0xFF7F8000u);
  EXPECT_EQ(Px(d.Get(), 2, 0), 0xFFFF0000u);
}

TEST(Resize, MatchesThePlainFormula) {
  std::mt19937 rng(3);
  struct Case {
    int sw, sh;
    TRect d, s;
  };
  const Case cases[] = {{5, 4, {0, 0, 9, 7}, {0, 0, 5, 4}},  {8, 8, {1, 2, 4, 5}, {2, 1, 7, 6}},
                        {6, 3, {0, 0, 13, 2}, {0, 0, 6, 3}}, {4, 4, {0, 0, 1, 1}, {0, 0, 4, 4}},
                        {7, 9, {2, 1, 11, 10}, {1, 1, 6, 9}}};
  for (const auto& c : cases) {
    auto s = Sys(c.sw, c.sh, pfA8R8G8B8);
    for (int y = 0; y < c.sh; ++y)
      for (int x = 0; x < c.sw; ++x) SetPx(s.Get(), x, y, uint32_t(rng()) | 0x01000000u);  // alpha never 0
    auto d = Sys(c.d.Right + 1, c.d.Bottom + 1, pfA8R8G8B8);
    Fill(d.Get(), 0x12345678);
    ResizeBitmap32(d.Get(), s.Get(), c.d, c.s, 0);
    for (int y = 0; y < d->Height; ++y)
      for (int x = 0; x < d->Width; ++x) {
        const bool inside = x >= c.d.Left && x < c.d.Right && y >= c.d.Top && y < c.d.Bottom;
        const uint32_t want = inside ? Expected(s.Get(), c.d, c.s, x - c.d.Left, y - c.d.Top) : 0x12345678u;
        EXPECT_EQ(Px(d.Get(), x, y), want) << x << "," << y;
      }
  }
}

TEST(Resize, TransparentResultsTakeTheBackground) {
  auto s = Sys(2, 2, pfA8R8G8B8);
  Fill(s.Get(), 0x00FFFFFF);  // white at alpha 0
  auto d = Sys(4, 4, pfA8R8G8B8);
  ResizeBitmap32(d.Get(), s.Get(), TRect{0, 0, 4, 4}, TRect{0, 0, 2, 2}, 0x00102030);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(d.Get(), x, y), 0x00102030u);
}

TEST(Resize, DestinationPartlyOutsideWritesOnlyInside) {
  auto s = Sys(5, 5, pfA8R8G8B8);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) SetPx(s.Get(), x, y, 0xFF000000u | uint32_t(y * 16 + x));
  auto d = Sys(3, 3, pfA8R8G8B8);
  const TRect dr{-2, -2, 3, 3};  // 5 x 5, the same size as the source
  ResizeBitmap32(d.Get(), s.Get(), dr, TRect{0, 0, 5, 5}, 0);
  // Same size: destination pixel (d.left + u, d.top + v) is source (u, v).
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Px(d.Get(), x, y), 0xFF000000u | uint32_t((y + 2) * 16 + x + 2));
}

TEST(Resize, HostileRectanglesStayInside) {
  auto s = Sys(4, 3, pfA8R8G8B8);
  Fill(s.Get(), 0xFF0000FF);
  SetPx(s.Get(), 3, 2, 0xFF00FF00);
  auto d = Sys(3, 3, pfA8R8G8B8);
  Fill(d.Get(), 0xAAAAAAAA);
  // A source rectangle beyond the source reads its last pixel.
  ResizeBitmap32(d.Get(), s.Get(), TRect{0, 0, 3, 3}, TRect{10, 10, 20, 20}, 0);
  EXPECT_EQ(Px(d.Get(), 1, 1), 0xFF00FF00u);
  // Nothing left of the source, above it, a destination far away, or the
  // whole integer range: nothing written, nothing allocated beyond the bitmap.
  Fill(d.Get(), 0xAAAAAAAA);
  const TRect none[][2] = {{{0, 0, 3, 3}, {-10, 0, 0, 3}},
                           {{0, 0, 3, 3}, {0, -10, 4, 0}},
                           {{100, 100, 200, 200}, {0, 0, 4, 3}},
                           {{-200, -200, -100, -100}, {0, 0, 4, 3}},
                           {{0, 0, 0, 0}, {0, 0, 4, 3}}};
  for (const auto& r : none) ResizeBitmap32(d.Get(), s.Get(), r[0], r[1], 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Px(d.Get(), x, y), 0xAAAAAAAAu);
  ResizeBitmap32(d.Get(), s.Get(), TRect{INT_MIN, INT_MIN, INT_MAX, INT_MAX}, TRect{INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                 0);
  ResizeBitmap32(d.Get(), s.Get(), TRect{0, 0, 3, 3}, TRect{3, 2, 0, 0}, 0);  // inverted source
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(Px(d.Get(), x, y) >> 24, 0xFFu) << "opaque source, opaque result";
}

TEST(Resize, AssertsFormats) {
  auto a = Sys(2, 2, pfA8R8G8B8);
  auto b = Sys(2, 2, pfR8G8B8);
  EXPECT_THROW(ResizeBitmap32(b.Get(), a.Get(), TRect{0, 0, 2, 2}, TRect{0, 0, 2, 2}, 0), foundation::EAssertionFailed);
  EXPECT_THROW(ResizeBitmap32(a.Get(), b.Get(), TRect{0, 0, 2, 2}, TRect{0, 0, 2, 2}, 0), foundation::EAssertionFailed);
}

}  // namespace
