// The drawer that paints with the processor into a 24-bit back bitmap, with
// its own integer blending; how the back bitmap reaches the screen is left to
// a subclass (it makes the bitmap and presents it).
#pragma once

#include <cstdint>

#include "imaging/SysBitmap.h"
#include "render3d/kvDrawForm.h"

namespace render3d {

// The scaled copy of an image, kept in a transform's cached-object slot.
class TSysImageTag : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TSysImageTag)
  void Dispose() override;
  imaging::TImage* Image = nullptr;     // not owned
  imaging::TSysBitmap* Bitmap = nullptr;  // owned
};

class TSysDevDrawer : public TDevDrawer {
 public:
  QEL_CLASSNAME(TSysDevDrawer)
  void Dispose() override;
  void SetBounds(uintptr_t Window, const TRect& Rect) override;
  void FillRect(const TRect& Rect, uint32_t Color) override;
  void DrawImage(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& Transform) override;
  virtual imaging::TSysBitmap* CreateBitmap(int32_t Width, int32_t Height) = 0;

  imaging::TSysBitmap* Back = nullptr;  // owned; null while the size is empty
};

// The 32-bit format with the same channel order as a 24-bit one.
imaging::TPixelFormat* AlphaCounterpart(imaging::TPixelFormat* Format);

// Straight-alpha source (4 bytes, alpha last) over a 3-byte destination.
void BlendAlphaRow24(imaging::TSysBitmap* Dest, const TRect& Target, imaging::TSysBitmap* Source, TPoint Offset,
                     int32_t Opacity);
// A 3-byte source over a 3-byte destination at a constant opacity (0..256).
void BlendOpacity24(imaging::TSysBitmap* Dest, const TRect& Target, imaging::TSysBitmap* Source, TPoint Offset,
                    int32_t Opacity);

}  // namespace render3d
