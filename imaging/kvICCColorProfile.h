// The ICC colour transform behind CreateColorTransformHook: the pixels of a
// 24- or 32-bit bitmap converted in place from the source profile's ICC
// bytes to the destination profile's through LittleCMS, or left exactly as
// they are when a profile cannot be used.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/kvColorProfile.h"

namespace imaging {

class TICCColorTransform : public TColorTransform {
 public:
  QEL_CLASSNAME(TICCColorTransform)
  using TColorTransform::TColorTransform;
  bool TransformBitmap(TSysBitmap* Bitmap) override;
};

TColorTransform* CreateICCColorTransform(TColorProfile* Source, TColorProfile* Destination);

// Transforms (or, without a usable transform, copies) a rectangle of Source
// into Dest; true only when a LittleCMS transform was applied.
bool TransformBitmapRect(TSysBitmap* Dest, TSysBitmap* Source, const TRect& DestRect, const TPoint& SourcePoint,
                         const std::vector<uint8_t>& DestICC, const std::vector<uint8_t>& SourceICC,
                         uint8_t Precalculation);

uint32_t LcmsTransformFlags(bool BlackPointCompensation, uint8_t Precalculation, bool NullTransform);

// Installs CreateICCColorTransform into the hook, keeping the previous value for DoneICCColorProfile.
void InitICCColorProfile();
void DoneICCColorProfile();

}  // namespace imaging
