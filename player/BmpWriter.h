// Writes a bitmap as an uncompressed BMP file (the picture handed to the
// system's print command).
#pragma once

#include <string>

#include "foundation/kvStream.h"
#include "imaging/kvBitmap.h"

namespace player {

// Writes the BMP into the stream: false, writing nothing, for a missing
// bitmap or stream, an empty or oversized bitmap, a pixel format other than
// 16, 24 and 32 bits per pixel, or one that cannot be converted to the
// layout the header declares (16 bits: X1R5G5B5; 24: B, G, R; 32: B, G, R,
// X). False too when the stream refuses a write part-way.
bool WriteBitmapAsBMP(imaging::TBitmap* Bitmap, foundation::TStream* Stream);

// Creates (or replaces) the file and writes the bitmap into it. A bitmap the
// writer refuses creates no file.
bool SaveBitmapToBMPFile(imaging::TBitmap* Bitmap, const std::u16string& FileName);

}  // namespace player
