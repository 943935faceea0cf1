#include "imaging/SysBitmapResize.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/ImagingAssert.h"
#include "foundation/Rounding.h"

namespace imaging {

namespace {

struct TColumn {
  int32_t Left, Right, Weight;
};

using foundation::RoundEvenSaturated;

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Source position and weight of table index i of an axis: t = i x step x
// (source extent - 1), the near index clamped into 0..last.
inline TColumn AxisEntry(int64_t i, double step, int64_t sourceLo, int64_t sourceHi, int32_t last) {
  const double t = double(i) * step * double(sourceHi - sourceLo - 1);
  const double whole = std::trunc(t);
  const int64_t nearest = std::clamp<int64_t>(static_cast<int64_t>(whole) + sourceLo, 0, last);
  const int32_t left = static_cast<int32_t>(nearest);
  // An inverted source rectangle gives negative positions; the weight stays a
  // 16-bit fraction so no channel leaves its byte.
  return {left, std::min(left + 1, last), std::clamp(RoundEvenSaturated((t - whole) * 65536.0 - 0.5), 0, 65535)};
}

}  // namespace

uint32_t InterpolatePixel32(uint32_t A, uint32_t B, int32_t Weight) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int32_t a = (A >> shift) & 0xFF, b = (B >> shift) & 0xFF;
    out |= static_cast<uint32_t>(a + (b - a) * Weight / 65536) << shift;
  }
  return out;
}

void ResizeBitmap32(TSysBitmap* Dest, TSysBitmap* Source, const TRect& d, const TRect& s, uint32_t Background) {
  IMG_ASSERT(Dest && Dest->PixelFormat == pfA8R8G8B8, "");
  IMG_ASSERT(Source && Source->PixelFormat == pfA8R8G8B8, "");
  // 64-bit extents: rectangles from far outside must not wrap.
  const int64_t n = int64_t(d.Right) - d.Left - 1;
  const double c = n < 1 ? 0.0 : 1.0 / double(n);
  const int32_t lastCol = std::min(s.Right, Source->Width) - 1;
  if (lastCol < 0) return;
  const int64_t m = int64_t(d.Bottom) - d.Top - 1;
  const double e = m < 1 ? 0.0 : 1.0 / double(m);
  const int32_t lastRow = std::min(s.Bottom, Source->Height) - 1;
  if (lastRow < 0) return;

  // Only the columns that land inside the destination get a map entry, so a
  // huge destination rectangle costs no more than the bitmap's width.
  const int64_t u0 = std::max<int64_t>(0, -int64_t(d.Left));
  const int64_t u1 = std::min<int64_t>(n, int64_t(Dest->Width) - d.Left - 1);
  const int64_t v0 = std::max<int64_t>(0, -int64_t(d.Top));
  const int64_t v1 = std::min<int64_t>(m, int64_t(Dest->Height) - d.Top - 1);
  if (u1 < u0 || v1 < v0) return;
  std::vector<TColumn> columns(static_cast<size_t>(u1 - u0 + 1));
  for (int64_t u = u0; u <= u1; ++u) columns[static_cast<size_t>(u - u0)] = AxisEntry(u, c, s.Left, s.Right, lastCol);

  for (int64_t v = v0; v <= v1; ++v) {
    const TColumn row = AxisEntry(v, e, s.Top, s.Bottom, lastRow);
    const uint8_t* top = Source->Row(row.Left);
    const uint8_t* bottom = Source->Row(row.Right);
    uint8_t* out = Dest->Row(static_cast<int32_t>(d.Top + v)) + (d.Left + u0) * 4;
    for (const TColumn& col : columns) {
      const uint32_t t = InterpolatePixel32(Load32(top + col.Left * 4), Load32(top + col.Right * 4), col.Weight);
      const uint32_t b =
          InterpolatePixel32(Load32(bottom + col.Left * 4), Load32(bottom + col.Right * 4), col.Weight);
      uint32_t p = InterpolatePixel32(t, b, row.Weight);
      if ((p >> 24) == 0) p = Background;
      std::memcpy(out, &p, 4);
      out += 4;
    }
  }
}

}  // namespace imaging
