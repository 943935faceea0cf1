// Colour-grade lookup tables: a 32 x 32 x 32 table (held as a bitmap 32 wide
// and 1024 high: entry (i, j, k) is column k of row 32 i + j, blue = L(i),
// green = L(j), red = L(k) in the identity) that maps a colour or a YUV
// triple to the colour shown, and the 256-entry ramp. The two cached tables
// (RGB and video) carry the display's colour profile.
//
// Threads: GetColorGradeLUT runs under one lock, held while a table is
// built; the tables it answers are shared and read-only.
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"
#include "imaging/kvColorProfile.h"

namespace imaging {

// L(n) = 8 n + n div 4: the 32 table levels 0, 8, ..., 247, 255.
inline int32_t GradeLevel(int32_t n) { return 8 * n + n / 4; }

// The identity table without alpha (3 bytes per pixel, 32 x 1024).
void InitColorGradeLUT(TSysBitmap* bitmap);
// The identity table with alpha 255 (4 bytes per pixel, 32 x 1024).
void FillIdentityColorLUT(TSysBitmap* bitmap);
// The BT.601 video-range YUV to RGB table (4 bytes per pixel, 32 x 1024):
// slice Y, row U, column V.
void FillYuvToRgbLUT(TSysBitmap* bitmap);
// Every row (i, i, i, 255) for i = 0 .. 255 (4 bytes per pixel).
void FillIdentityRamp(TSysBitmap* bitmap);
// Adds the identity to a stored difference table (3 bytes, modulo 256).
void AddIdentityToColorLUT(TSysBitmap* bitmap);

// The cached table of the kind (rgb: the RGB table; else the video table)
// for the profile (none: the display's), rebuilt when the profile changed.
// Owned by the cache: the caller must not free it.
TSysBitmap* GetColorGradeLUT(bool rgb, TColorProfile* profile);
// Program end: frees both tables.
void DoneColorGradeLUTs();

}  // namespace imaging
