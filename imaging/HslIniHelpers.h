// Hue, saturation and lightness on a 0..255 scale (hue 255 is a full turn),
// and the in-place adjustment of a rectangle of a 32-bit A8R8G8B8 bitmap.
// The unit belongs to the foundation's helpers but needs system bitmaps and
// the load callback, so it lives with them.
#pragma once

#include <cstdint>

#include "foundation/FloatGeometry.h"  // TRect
#include "imaging/SysBitmap.h"

namespace imaging {

// Replaces r, g, b (0..255) by hue, saturation and lightness (0..255).
void RgbToHsl(int32_t& r, int32_t& g, int32_t& b);
// Replaces hue, saturation and lightness by red, green and blue.
void HslToRgb(int32_t& h, int32_t& s, int32_t& l);
// One channel 0..255 from the two intermediate values and a hue position.
int32_t HslComponent(double m1, double m2, double hue);

// Shifts the hue (degrees), saturation and lightness (percent) of the pixels
// of rect (rows Top..Bottom-1, columns Left..Right-1, cut to the bitmap) in
// place; alpha is kept. Nothing happens when all shifts are 0 or the bitmap
// (a system bitmap) is not A8R8G8B8. After each row the global load
// callback is asked with progressData (its fraction); a refusal stops the
// work there.
void AdjustBitmapHsl(TSysBitmap* bitmap, const foundation::TRect& rect, float progressData, int32_t hueShift,
                     int32_t saturationShift, int32_t lightnessShift);

}  // namespace imaging
