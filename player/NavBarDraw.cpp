#include "player/NavBarDraw.h"

#include <algorithm>
#include <cstring>

#include "foundation/SysObj.h"
#include "imaging/HslIniHelpers.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/kvPixelFormat.h"

namespace player {

using foundation::TRect;
using imaging::TDirectBitmap;

namespace {

// A system-bitmap view of the same rows, for the imaging utilities.
foundation::TRef<imaging::TSysBitmap> SysView(TDirectBitmap* b) {
  imaging::TScanLines lines;
  for (int32_t y = 0; y < b->Height; ++y) lines.push_back(b->Row(y));
  return foundation::MakeRef<imaging::TSysBitmap>(imaging::TSize{b->Width, b->Height}, imaging::pfA8R8G8B8,
                                                  std::move(lines), b->RowBytes());
}

}  // namespace

uint32_t NavOver(uint32_t dest, uint32_t source) {
  const uint32_t sa = source >> 24, da = dest >> 24;
  if (sa == 0) return dest;
  if (sa == 255 || da == 0) return source;
  // Weights in units of 1/65025: the source's, then what shows through of the destination.
  const uint32_t ws = sa * 255, wd = da * (255 - sa), total = ws + wd;
  uint32_t out = ((total + 127) / 255) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    const uint32_t s = (source >> shift) & 0xFF, d = (dest >> shift) & 0xFF;
    out |= ((s * ws + d * wd + total / 2) / total) << shift;
  }
  return out;
}

void NavComposite(TDirectBitmap* dest, const TRect& destRect, TDirectBitmap* source, int32_t sx, int32_t sy,
                  const TRect& clip, bool copy) {
  if (!dest || !source) return;
  int64_t l = std::max<int64_t>({destRect.Left, clip.Left, 0}), t = std::max<int64_t>({destRect.Top, clip.Top, 0});
  int64_t r = std::min<int64_t>({destRect.Right, clip.Right, dest->Width});
  int64_t b = std::min<int64_t>({destRect.Bottom, clip.Bottom, dest->Height});
  // Cut to the source as well.
  l = std::max<int64_t>(l, int64_t(destRect.Left) - sx);
  t = std::max<int64_t>(t, int64_t(destRect.Top) - sy);
  r = std::min<int64_t>(r, int64_t(destRect.Left) - sx + source->Width);
  b = std::min<int64_t>(b, int64_t(destRect.Top) - sy + source->Height);
  for (int64_t y = t; y < b; ++y) {
    uint8_t* d = dest->Row(int32_t(y));
    const uint8_t* s = source->Row(int32_t(y - destRect.Top + sy));
    for (int64_t x = l; x < r; ++x) {
      uint32_t sv, dv;
      std::memcpy(&sv, s + 4 * (x - destRect.Left + sx), 4);
      if (copy) {
        dv = sv;
      } else {
        std::memcpy(&dv, d + 4 * x, 4);
        dv = NavOver(dv, sv);
      }
      std::memcpy(d + 4 * x, &dv, 4);
    }
  }
}

void NavTile(TDirectBitmap* dest, const TRect& destRect, TDirectBitmap* source, const TRect& sourceRect,
             const TRect& clip) {
  if (!dest || !source) return;
  // Only the part of the source rectangle inside the source repeats.
  const TRect s{std::max(sourceRect.Left, 0), std::max(sourceRect.Top, 0), std::min(sourceRect.Right, source->Width),
                std::min(sourceRect.Bottom, source->Height)};
  const int32_t tw = s.Right - s.Left, th = s.Bottom - s.Top;
  if (tw <= 0 || th <= 0) return;
  const TRect cut{std::max(destRect.Left, clip.Left), std::max(destRect.Top, clip.Top),
                  std::min(destRect.Right, clip.Right), std::min(destRect.Bottom, clip.Bottom)};
  for (int32_t y = std::max(cut.Top, 0); y < std::min(cut.Bottom, dest->Height); ++y) {
    const uint8_t* src = source->Row(s.Top + (y - destRect.Top) % th);
    uint8_t* d = dest->Row(y);
    for (int32_t x = std::max(cut.Left, 0); x < std::min(cut.Right, dest->Width); ++x)
      std::memcpy(d + 4 * x, src + 4 * (s.Left + (x - destRect.Left) % tw), 4);
  }
}

void NavGray(TDirectBitmap* bitmap) {
  if (!bitmap || bitmap->BytesPerPixel() != 4 || bitmap->Height <= 0) return;
  imaging::GrayscaleBitmap32(SysView(bitmap).Get());
}

void NavShiftHue(TDirectBitmap* bitmap, const TRect& rect, int32_t hueDegrees) {
  if (!bitmap || bitmap->BytesPerPixel() != 4 || bitmap->Height <= 0) return;
  imaging::AdjustBitmapHsl(SysView(bitmap).Get(), rect, 0.0f, hueDegrees, 0, 0);
}

}  // namespace player
