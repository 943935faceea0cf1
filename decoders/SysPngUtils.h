// Conversion of a decoded PNG picture into a bitmap of the program.
#pragma once

#include "decoders/SysPng.h"
#include "imaging/SysBitmap.h"

namespace decoders {

// 0 none (no tRNS), 1 single (one fully transparent value or colour key),
// 2 partial (indexed alpha values; always for greyscale and truecolour with alpha).
int32_t PngTransparencyMode(const TPNGObject* Png);

// "R8G8B8" or "A8R8G8B8" for the picture; none without a header.
imaging::TPixelFormat* GetPngPixelFormat(const TPNGObject* Png, bool ForceAlpha);

// Converts the picture into Bitmap, which must have the picture's size and
// the format GetPngPixelFormat gives for its bits per pixel; false (nothing
// done) otherwise. A palette index beyond the palette raises EPngError.
bool PngToBitmap(TPNGObject* Png, imaging::TSysBitmap* Bitmap);

}  // namespace decoders
