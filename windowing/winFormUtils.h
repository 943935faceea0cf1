// Three small window services the form controller uses: the cursor of a
// form's cursor id, a layered window filled from a 32-bit bitmap with an
// overall opacity, and the dark title bar. Main thread only.
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"
#include "windowing/kvWndAPI.h"

namespace windowing {

// Cursor ids of forms: -1 hidden, 0 arrow, 1 size west-east, 2 size
// north-south, 3 I-beam, 4 hand, 5 cross, 6 size north-east/south-west, 7
// size north-west/south-east, 8 size all, 9 wait; any other id the arrow.
platform::window::HCURSOR CursorForId(int32_t id);
bool SetCursorById(int32_t id);
void RefreshCursorUnderMouse();
// Opacity 0..256 (256 opaque).
bool UpdateLayeredFromBitmap(HWND wnd, imaging::TSysBitmap* bitmap, int32_t opacity, bool clickThrough);
// The layered pixels the window gets: alpha scaled by opacity / 256, colours
// premultiplied by the scaled alpha where it is below 255 (in place, 32-bit
// BGRA).
void PremultiplyLayeredPixel(uint8_t* bgra, int32_t opacity);
bool SetDarkTitleBar(HWND wnd, bool dark);

}  // namespace windowing
