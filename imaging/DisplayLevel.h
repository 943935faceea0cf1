// The level of a picture that is drawn, and that level's pixels in the
// display's colours. Each level halves the one above it (the sides rounded
// up, as the decoders scale), so a reduced picture is decoded and colour
// converted at its own size: the full-size level of a large photo is never
// touched when a smaller one is drawn.
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvImage.h"

namespace imaging {

// The side of level Level of a side of Size pixels.
int32_t LevelSide(int32_t Size, int32_t Level);

// The level to draw a Width x Height picture at TargetWidth x TargetHeight:
// the smallest one, at most MaxLevel, still at least as large as the target
// on both sides (0 when the picture itself is not larger).
int32_t DisplayLevelFor(int32_t Width, int32_t Height, int32_t TargetWidth, int32_t TargetHeight,
                        int32_t MaxLevel = 3);

// A new 24-bit bitmap (the caller's) of the store's level, converted from the
// store's profile to Destination (the display profile when none) when a
// colour transform exists between them. Only this level is decoded and only
// its pixels are transformed; the store's own level stays as decoded. None
// when the store gives no bitmap for the level.
TSysBitmap* DisplayBitmapOfLevel(TBitmapStore* Store, int32_t Level, TColorProfile* Destination = nullptr);

}  // namespace imaging
