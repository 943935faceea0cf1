// Bilinear scaling of whole bitmaps of 1, 3 or 4 bytes per pixel with 8-bit
// weights, in integer arithmetic. The corners of the source map onto the
// corners of the destination (no half-pixel shift). Rows are reached through
// row tables, so a rectangle of a bitmap can be scaled without a copy.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/SysBitmap.h"

namespace imaging {

using TByteDynArray = std::vector<uint8_t>;

// What the resampler needs of a bitmap; never owns the pixels.
struct TBitmapParams {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitsPerPixel = 0;
  TScanLines ScanLines;
};

// One destination column: the source column and the weight (0..256) of the
// column to its right. The index is kept in 32 bits so sources wider than
// 65,536 columns still read inside their rows.
struct TMap {
  uint32_t Index = 0;
  uint16_t Weight = 0;
};

using TRowKernel = void (*)(uint8_t* Dest, const uint8_t* Source, const TMap* Map, int32_t Width);

// The state of one resampling run; starts empty for every entry-point call.
struct TBilinearParams {
  TRowKernel Kernel = nullptr;
  TByteDynArray Buffer;
  std::vector<TMap> Map;
  int32_t SourceWidth = -1;
  int32_t DestWidth = -1;
};

inline int32_t BytesPerPixelOfBits(int32_t Bits) { return (Bits - 1) / 8 + 1; }

// The column map for DestWidth columns over SourceWidth source columns.
void BuildBilinearMap(std::vector<TMap>& Map, int32_t DestWidth, int32_t SourceWidth);

bool GetBitmapParams(TBitmapParams& Params, TBitmap* Bitmap);
bool GetSysBitmapParams(TBitmapParams& Params, TSysBitmap* Bitmap);
bool GetDirectBitmapParams(TBitmapParams& Params, TDirectBitmap* Bitmap);
bool GetDirectBitmapRectParams(TBitmapParams& Params, TDirectBitmap* Bitmap, const TRect& Rect);
// Params over a new packed buffer (rows without gaps) owned by the caller.
void AllocBitmapParams(TBitmapParams& Params, int32_t Width, int32_t Height, int32_t BitsPerPixel,
                       TByteDynArray& Buffer);

void ResampleBilinear8(const TBitmapParams& Dest, const TBitmapParams& Source);
void ResampleBilinear24(const TBitmapParams& Dest, const TBitmapParams& Source);
void ResampleBilinear32(const TBitmapParams& Dest, const TBitmapParams& Source);

// Scales the whole Source into the whole Dest; false (nothing drawn) unless
// both share one pixel-format object of 8, 24 or 32 bits and both are system
// or direct bitmaps.
bool ResampleBitmapBilinear(TBitmap* Dest, TBitmap* Source);

}  // namespace imaging
