#include "imaging/HslIniHelpers.h"

#include <algorithm>
#include <cmath>

#include "imaging/SysBitmap.h"
#include "imaging/kvLoadCallBack.h"
#include "foundation/Rounding.h"

namespace imaging {

namespace {

// Rounding to the nearest integer, halves to even.
using foundation::RoundEvenSaturated;

}  // namespace

void RgbToHsl(int32_t& r, int32_t& g, int32_t& b) {
  const double R = r, G = g, B = b;
  const double mx = std::max({R, G, B}), mn = std::min({R, G, B});
  const double l = (mx + mn) * 0.5;
  double h = 0, s = 0;
  if (mx != mn) {
    const double d = mx - mn;
    s = l < 128 ? d * 255 / (mx + mn) : d * 255 / (511 - mx - mn);
    if (R == mx) {
      h = (G - B) / d;
    } else if (G == mx) {
      h = (B - R) / d + 2;
    } else {
      h = (R - G) / d + 4;
    }
    h *= 42.5;
    if (h < 0) h += 255;
    if (h > 255) h -= 255;
  }
  r = RoundEvenSaturated(h);
  g = RoundEvenSaturated(s);
  b = RoundEvenSaturated(l);
}

int32_t HslComponent(double m1, double m2, double hue) {
  if (hue > 255) hue -= 255;
  if (hue < 0) hue += 255;
  double v;
  if (hue < 42.5) {
    v = m1 + (m2 - m1) * hue / 42.5;
  } else if (hue < 127.5) {
    v = m2;
  } else if (hue < 170) {
    v = m1 + (m2 - m1) * (170 - hue) / 42.5;
  } else {
    v = m1;
  }
  return RoundEvenSaturated(v * 255);
}

void HslToRgb(int32_t& h, int32_t& s, int32_t& l) {
  const double H = h, S = s, L = l;
  if (s == 0) {
    h = s = l = RoundEvenSaturated(L);
    return;
  }
  const double m2 = L >= 128 ? (L + S - L * S / 255) / 255 : (255 + S) * L / 65025;
  const double m1 = 2 * L / 255 - m2;
  const int32_t r = HslComponent(m1, m2, H + 85);
  const int32_t g = HslComponent(m1, m2, H);
  const int32_t b = HslComponent(m1, m2, H - 85);
  h = r;
  s = g;
  l = b;
}

void AdjustBitmapHsl(TSysBitmap* bitmap, const foundation::TRect& rect, float progressData, int32_t hueShift,
                     int32_t saturationShift, int32_t lightnessShift) {
  if (hueShift == 0 && saturationShift == 0 && lightnessShift == 0) return;
  TSysBitmap* sys = bitmap;
  if (!sys || sys->PixelFormat != pfA8R8G8B8) return;
  // The rectangle is cut to the bitmap, so a rectangle beyond its edges never
  // touches memory outside the rows.
  const int32_t left = std::max(rect.Left, 0), right = std::min(rect.Right, sys->Width);
  const int32_t top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, sys->Height);
  // Shifts come from show data: the products are taken in 64 bits so that no
  // value overflows. Beyond +-255 a saturation or lightness step clamps alike.
  const int32_t dh = static_cast<int32_t>(int64_t{hueShift} * 256 / 360);
  const int32_t ds = static_cast<int32_t>(std::clamp<int64_t>(int64_t{saturationShift} * 256 / 100, -256, 256));
  const int32_t dl = static_cast<int32_t>(std::clamp<int64_t>(int64_t{lightnessShift} * 256 / 100, -256, 256));
  for (int32_t y = top; y < bottom; ++y) {
    TFColorA* row = sys->Rows32(y);
    for (int32_t x = left; row && x < right; ++x) {
      TFColorA& p = row[x];
      int32_t h = p.R, s = p.G, l = p.B;
      RgbToHsl(h, s, l);
      h += dh;
      if (h < 0) h += 256;
      if (h > 255) h -= 256;
      s = std::clamp(s + ds, 0, 255);
      l = std::clamp(l + dl, 0, 255);
      HslToRgb(h, s, l);
      p.R = static_cast<uint8_t>(h);
      p.G = static_cast<uint8_t>(s);
      p.B = static_cast<uint8_t>(l);
    }
    if (!LoadCallBack(progressData)) break;
  }
}

}  // namespace imaging
