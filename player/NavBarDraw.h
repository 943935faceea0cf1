// Pixel work shared by the navigation bars, on A8R8G8B8 bitmaps whose
// colours are not premultiplied.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/FloatGeometry.h"
#include "imaging/kvBitmap.h"

namespace player {

// "Source over destination" of one pixel, rounded to the nearest level.
uint32_t NavOver(uint32_t dest, uint32_t source);

// Draws source (from sx, sy on) into destRect of dest, cut to clip, to dest
// and to source. Composites over the destination, or copies with copy.
void NavComposite(imaging::TDirectBitmap* dest, const foundation::TRect& destRect, imaging::TDirectBitmap* source,
                  int32_t sx, int32_t sy, const foundation::TRect& clip, bool copy);
// Repeats sourceRect of source over destRect (copied, not composited), cut to clip.
void NavTile(imaging::TDirectBitmap* dest, const foundation::TRect& destRect, imaging::TDirectBitmap* source,
             const foundation::TRect& sourceRect, const foundation::TRect& clip);
void NavGray(imaging::TDirectBitmap* bitmap);
void NavShiftHue(imaging::TDirectBitmap* bitmap, const foundation::TRect& rect, int32_t hueDegrees);

// An integer from text (spaces trimmed, optional sign); def when not a
// number; saturated to 32 bits.
int32_t NavParseInt(const std::u16string& text, int32_t def);

}  // namespace player
