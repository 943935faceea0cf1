// Scaling a rectangle of an A8R8G8B8 system bitmap into a rectangle of
// another with 16.16 fixed-point weights; results that come out fully
// transparent take a background colour instead.
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"

namespace imaging {

// Per byte channel a + trunc((b - a) x Weight / 65536), Weight 0..65535.
uint32_t InterpolatePixel32(uint32_t A, uint32_t B, int32_t Weight);

// Rectangles are left, top, right, bottom (exclusive); Background is an
// A8R8G8B8 value. Only destination pixels inside Dest are written, and source
// positions are held inside Source.
void ResizeBitmap32(TSysBitmap* Dest, TSysBitmap* Source, const TRect& DestRect, const TRect& SourceRect,
                    uint32_t Background);

}  // namespace imaging
