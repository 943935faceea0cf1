// Alpha derived from pixels: the alpha of a picture drawn once over black and
// once over white, the test for any alpha at all, and the packed row blend the
// bilinear resampler uses.
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"

namespace imaging {

// Dest[i] = Row[i] + (Next[i] - Row[i]) x Weight / 256 for Count bytes,
// Weight 0..256. The installed blend works on two bytes of a 4-byte group at
// once (see SysBitmapAlphaUtils.cpp); any replacement must give its bytes.
using TBlendRowsProc = void (*)(uint8_t* Dest, const uint8_t* Next, const uint8_t* Row, int32_t Count,
                                int32_t Weight);
extern TBlendRowsProc BlendRows;
void BlendRowsPacked(uint8_t* Dest, const uint8_t* Next, const uint8_t* Row, int32_t Count, int32_t Weight);

// OverBlack (A8R8G8B8 or A8r8g8b8) receives the alpha worked out from the same
// picture drawn over white into OverWhite (R8G8B8); colours stay as drawn over
// black, premultiplied by that alpha. The size is cut to both bitmaps.
void RecoverAlpha(TSysBitmap* OverBlack, TSysBitmap* OverWhite);
void RecoverAlpha(TSysBitmap* OverBlack, TSysBitmap* OverWhite, int32_t Width, int32_t Height);

// True as soon as a pixel has a non-zero alpha byte; AllZero tells, when the
// answer is false, whether every pixel was entirely 0.
bool HasAlphaChannel(TSysBitmap* Bitmap, bool& AllZero);

void InitSysBitmapAlphaUtils();
void DoneSysBitmapAlphaUtils();

}  // namespace imaging
