// An image described as part bitmaps at integer positions. Attached to an
// image store, it lets the show draw the parts one by one, each slightly
// jittered, instead of the image itself.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvImage.h"

namespace imaging {

struct TCompoundItem {
  TSysBitmap* Bitmap = nullptr;
  bool Owns = false;
  int32_t X = 0, Y = 0;
  TImage* Image = nullptr;  // made from the bitmap on first use, owned
};

struct TCompoundPlacement {
  foundation::T3DPoint Position;
  foundation::TFloatPoint HalfSize;
  foundation::T3DPoint XAxis, YAxis;
};

class TCompoundBitmap : public TBitmap {
 public:
  QEL_BITMAP_CLASS(TCompoundBitmap, TBitmap)
  TCompoundBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat);
  void Dispose() override;

  // Composes the span of row Y from the parts, later parts over earlier
  // ones; bytes no part covers stay as they were. Answers Count x bytes per
  // pixel (cut to the buffer).
  int32_t GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels8(std::span<uint8_t>, int32_t, int32_t, int32_t, int32_t) override {}
  void GetPixels16(std::span<uint16_t>, int32_t, int32_t, int32_t, int32_t) override {}
  void GetPixels24(std::span<TFColor>, int32_t, int32_t, int32_t, int32_t) override {}
  void GetPixels32(std::span<TFColorA>, int32_t, int32_t, int32_t, int32_t) override {}

  // The item's image and its placement jittered by -5..+4 pixels each way;
  // nil for an index outside the items or an item without bitmap.
  TImage* GetItemImage(int32_t Index, TCompoundPlacement& Placement);
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }

  std::vector<TCompoundItem> Items;
};

}  // namespace imaging
