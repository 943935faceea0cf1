// Row-level utilities over 24- and 32-bit system bitmaps: alpha fills,
// 2:1 reduction, opacity tests, brightness to alpha, quarter and half turns,
// greying, tiling and compositing through a precomputed blend table.
// Colours are never premultiplied here. Long loops ask DoProgress and stop
// when refused, leaving the rest of the target as it was.
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"

namespace imaging {

void SetBitmapAlpha(TSysBitmap* Bitmap, const TRect& Rect, uint8_t Alpha);
void HalveBitmap24(TSysBitmap* Source, TSysBitmap* Dest);
void HalveBitmap32(TSysBitmap* Source, TSysBitmap* Dest);
// HalveBitmap32 of Source converted to 4-byte pixels by Converter (and then,
// in place, by Then when given), without a converted copy of the whole
// source; reports no progress.
void HalveBitmap32Converted(TSysBitmap* Source, TPixelConverter* Converter, TPixelConverter* Then,
                            TSysBitmap* Dest);
bool IsBitmapOpaque(TBitmap* Bitmap);
void BrightnessToAlpha32(TSysBitmap* Bitmap);
void Rotate180Bitmap32(TSysBitmap* Bitmap);
void Rotate180Bitmap24(TSysBitmap* Bitmap);
void Rotate90Bitmap24(TSysBitmap* Source, TSysBitmap* Dest);
void Rotate90Bitmap32(TSysBitmap* Source, TSysBitmap* Dest);
void Rotate270Bitmap24(TSysBitmap* Source, TSysBitmap* Dest);
void Rotate270Bitmap32(TSysBitmap* Source, TSysBitmap* Dest);
void GrayscaleBitmap32(TSysBitmap* Bitmap);
void DisableBitmap32(TSysBitmap* Bitmap);
void TileBitmap(TSysBitmap* Dest, TBitmap* Source, const TRect& DestRect, const TRect& SourceRect,
                const TPoint& Offset);
void TileBitmapClipped(TSysBitmap* Dest, TBitmap* Source, const TRect& DestRect, const TRect& SourceRect,
                       const TRect& Clip);
bool AlphaBlendBitmap32(TSysBitmap* Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, TSysBitmap* Source,
                        int32_t SourceX, int32_t SourceY);
void BlendRowOver32(uint8_t* Dest, const uint8_t* Source, int32_t Count);

// One blend-table entry (destination alpha x 256 + source alpha).
struct TBlendEntry {
  int32_t A, W, R;
};
// The table, built on first use; freed by FreeAlphaBlendTable when it exists.
const TBlendEntry* AlphaBlendTable();
void FreeAlphaBlendTable();

}  // namespace imaging
