// Nine-patch images: a small skin stretched to any rectangle while keeping
// its borders. The image is cut into three columns and three rows by four
// caps; corners are copied unscaled, edges stretched along one axis and the
// centre along both. Everything works on A8R8G8B8 bitmaps (not
// premultiplied), each pixel composited over the destination.
#pragma once

#include <cstdint>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/kvBitmap.h"

namespace player {

enum : uint32_t { npUniformCenter = 1 };

struct T9Patch {
  foundation::TRef<imaging::TDirectBitmap> Image;  // own A8R8G8B8 copy of the source rectangle
  foundation::TRect ImageRect;                     // (0, 0, width, height) of the copy
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  uint32_t Flags = 0;
};

// One destination column or row of a stretched patch.
struct TMap {
  int32_t First = 0;
  int32_t Second = 0;
  int32_t Weight = 0;  // 16.16 fixed point
};

// The four cut positions of a span a..b with caps m0 (start) and m1 (end):
// when the span is shorter than both caps, they shrink to meet in the
// middle. Negative caps count as 0.
void NinePatchCuts(int32_t a, int32_t b, int32_t m0, int32_t m1, int32_t cuts[4]);

// Copies the source rectangle (clipped to the bitmap) into a new image and
// stores the caps (negative caps count as 0). Without a bitmap, or with
// nothing of the rectangle inside it: an empty patch.
void InitNinePatch(T9Patch& patch, imaging::TBitmap* bitmap, const foundation::TRect& sourceRect, int32_t left,
                   int32_t top, int32_t right, int32_t bottom);
void InitNinePatchWhole(T9Patch& patch, imaging::TBitmap* bitmap, int32_t left, int32_t top, int32_t right,
                        int32_t bottom);
void ClearNinePatch(T9Patch& patch);

// Draws the patch into destRect of the target, clipped to the target. The
// target must be A8R8G8B8 (internal error otherwise); an empty patch or an
// empty rectangle draws nothing.
void DrawNinePatch(imaging::TDirectBitmap* target, const foundation::TRect& destRect, const T9Patch& patch);

}  // namespace player
