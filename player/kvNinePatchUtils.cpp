#include "player/kvNinePatchUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/kpExceptions.h"
#include "imaging/kvPixelFormat.h"
#include "text/GraphicsParams.h"

namespace player {

namespace {

uint32_t Pixel(const imaging::TDirectBitmap* b, int32_t x, int32_t y) {
  uint32_t v;
  std::memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}

void Blend(imaging::TDirectBitmap* b, int32_t x, int32_t y, uint32_t colour) {
  uint8_t* p = b->Row(y) + 4 * x;
  uint32_t v;
  std::memcpy(&v, p, 4);
  text::BlendPixelOver(v, colour);
  std::memcpy(p, &v, 4);
}

// c0 + (c1 - c0) x weight / 65536 per channel, the division toward zero.
uint32_t Mix(uint32_t c0, uint32_t c1, int32_t weight) {
  uint32_t r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int64_t a = (c0 >> shift) & 0xFF, b = (c1 >> shift) & 0xFF;
    const int64_t c = a + (b - a) * weight / 65536;
    r |= uint32_t(c) << shift;
  }
  return r;
}

// Columns (or rows) from..to-1 of a destination patch starting at d0, w
// wide, over the source patch starting at s0, sw wide, in an image limit
// pixels long.
std::vector<TMap> BuildMaps(int32_t d0, int64_t w, int32_t from, int32_t to, int32_t s0, int32_t sw,
                            int32_t limit) {
  std::vector<TMap> maps;
  maps.reserve(size_t(std::max(0, to - from)));
  for (int32_t d = from; d < to; ++d) {
    const int64_t t = int64_t(d) - d0;
    const double position = w == 1 ? 0.0 : double(t) * (sw - 1) / double(w - 1);
    const double whole = std::trunc(position);
    TMap m;
    m.First = int32_t(std::clamp<int64_t>(s0 + int64_t(whole), 0, limit - 1));
    m.Second = std::min(m.First + 1, limit - 1);
    m.Weight = int32_t(std::nearbyint((position - whole) * 65536 - 0.5));
    maps.push_back(m);
  }
  return maps;
}

foundation::TRect Intersect(const foundation::TRect& a, const foundation::TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
}

bool IsEmpty(const foundation::TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

}  // namespace

void NinePatchCuts(int32_t a, int32_t b, int32_t m0, int32_t m1, int32_t cuts[4]) {
  const int64_t c0 = std::max(m0, 0), c1 = std::max(m1, 0);
  int64_t mid = (int64_t(a) + c0 + b - c1) / 2;  // toward zero, like div
  mid = std::clamp<int64_t>(mid, a, std::max(a, b));
  cuts[0] = a;
  cuts[1] = int32_t(std::min<int64_t>(a + c0, mid));
  cuts[2] = int32_t(std::max<int64_t>(int64_t(b) - c1, mid));
  cuts[3] = b;
}

void ClearNinePatch(T9Patch& patch) { patch = T9Patch{}; }

void InitNinePatch(T9Patch& patch, imaging::TBitmap* bitmap, const foundation::TRect& sourceRect, int32_t left,
                   int32_t top, int32_t right, int32_t bottom) {
  ClearNinePatch(patch);
  if (!bitmap || !bitmap->PixelFormat) return;
  const foundation::TRect r = Intersect(sourceRect, {0, 0, bitmap->Width, bitmap->Height});
  if (IsEmpty(r)) return;
  const int32_t w = r.Right - r.Left, h = r.Bottom - r.Top;
  patch.Image = foundation::TRef<imaging::TDirectBitmap>::Adopt(new imaging::TDirectBitmap(w, h, imaging::pfA8R8G8B8));
  patch.Image->CopyRect({0, 0, w, h}, bitmap, {r.Left, r.Top});
  patch.ImageRect = {0, 0, w, h};
  patch.Left = std::max(left, 0);
  patch.Top = std::max(top, 0);
  patch.Right = std::max(right, 0);
  patch.Bottom = std::max(bottom, 0);
  int32_t xs[4], ys[4];
  NinePatchCuts(0, w, patch.Left, patch.Right, xs);
  NinePatchCuts(0, h, patch.Top, patch.Bottom, ys);
  if (xs[2] > xs[1] && ys[2] > ys[1]) {
    const uint32_t first = Pixel(patch.Image.Get(), xs[1], ys[1]);
    bool uniform = true;
    for (int32_t y = ys[1]; y < ys[2] && uniform; ++y)
      for (int32_t x = xs[1]; x < xs[2]; ++x)
        if (Pixel(patch.Image.Get(), x, y) != first) {
          uniform = false;
          break;
        }
    if (uniform) patch.Flags |= npUniformCenter;
  }
}

void InitNinePatchWhole(T9Patch& patch, imaging::TBitmap* bitmap, int32_t left, int32_t top, int32_t right,
                        int32_t bottom) {
  const foundation::TRect whole = bitmap ? foundation::TRect{0, 0, bitmap->Width, bitmap->Height} : foundation::TRect{};
  InitNinePatch(patch, bitmap, whole, left, top, right, bottom);
}

void DrawNinePatch(imaging::TDirectBitmap* target, const foundation::TRect& destRect, const T9Patch& patch) {
  if (!target || target->PixelFormat != imaging::pfA8R8G8B8)
    foundation::QelAssertFail("DrawNinePatch: the target is not A8R8G8B8");
  if (!patch.Image) return;
  imaging::TDirectBitmap* image = patch.Image.Get();
  if (image->PixelFormat != imaging::pfA8R8G8B8) foundation::QelAssertFail("DrawNinePatch: the image is not A8R8G8B8");
  const foundation::TRect clip = Intersect(destRect, {0, 0, target->Width, target->Height});
  if (IsEmpty(clip) || IsEmpty(destRect)) return;

  int32_t dx[4], dy[4], sx[4], sy[4];
  NinePatchCuts(destRect.Left, destRect.Right, patch.Left, patch.Right, dx);
  NinePatchCuts(destRect.Top, destRect.Bottom, patch.Top, patch.Bottom, dy);
  NinePatchCuts(0, image->Width, patch.Left, patch.Right, sx);
  NinePatchCuts(0, image->Height, patch.Top, patch.Bottom, sy);

  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      const foundation::TRect d{dx[col], dy[row], dx[col + 1], dy[row + 1]};
      const foundation::TRect s{sx[col], sy[row], sx[col + 1], sy[row + 1]};
      if (IsEmpty(d) || IsEmpty(s)) continue;
      const foundation::TRect c = Intersect(d, clip);
      if (IsEmpty(c)) continue;
      // In 64 bits: a rectangle from the show may span more than int32.
      const int64_t dw = int64_t(d.Right) - d.Left, dh = int64_t(d.Bottom) - d.Top;
      const int32_t sw = s.Right - s.Left, sh = s.Bottom - s.Top;
      if (row == 1 && col == 1 && (patch.Flags & npUniformCenter)) {
        const uint32_t colour = Pixel(image, s.Left, s.Top);
        if ((colour >> 24) == 255) {
          target->FillRect(c, colour);
        } else {
          for (int32_t y = c.Top; y < c.Bottom; ++y)
            for (int32_t x = c.Left; x < c.Right; ++x) Blend(target, x, y, colour);
        }
        continue;
      }
      if (dw == sw && dh == sh) {
        for (int32_t y = c.Top; y < c.Bottom; ++y)
          for (int32_t x = c.Left; x < c.Right; ++x)
            Blend(target, x, y, Pixel(image, s.Left + (x - d.Left), s.Top + (y - d.Top)));
        continue;
      }
      const std::vector<TMap> xm = BuildMaps(d.Left, dw, c.Left, c.Right, s.Left, sw, image->Width);
      const std::vector<TMap> ym = BuildMaps(d.Top, dh, c.Top, c.Bottom, s.Top, sh, image->Height);
      for (int32_t j = 0; j < c.Bottom - c.Top; ++j) {
        const TMap& my = ym[size_t(j)];
        for (int32_t i = 0; i < c.Right - c.Left; ++i) {
          const TMap& mx = xm[size_t(i)];
          const uint32_t upper = Mix(Pixel(image, mx.First, my.First), Pixel(image, mx.Second, my.First), mx.Weight);
          const uint32_t lower =
              Mix(Pixel(image, mx.First, my.Second), Pixel(image, mx.Second, my.Second), mx.Weight);
          Blend(target, c.Left + i, c.Top + j, Mix(upper, lower, my.Weight));
        }
      }
    }
}

}  // namespace player
