// The device-independent bitmap a native image window shows: a show image
// scaled to fit a box, keeping its aspect.
#pragma once

#include <cstdint>

#include "imaging/kvFastDIB.h"
#include "imaging/kvImage.h"

namespace imaging {

// The largest size of the source's aspect inside the box (rounded, halves to even).
TSize FitSizeKeepAspect(int32_t SourceWidth, int32_t SourceHeight, int32_t BoxWidth, int32_t BoxHeight);

// A new DIB of the image fitted into Width x Height (keep-small: never
// enlarged), 24-bit over Background when the image has no alpha or Opaque is
// set, else 32-bit with Background at alpha 0 where the image is transparent.
// Nil for a nil image or when the level cannot be had.
TFastDIB* CreateImageDIB(TImage* Image, int32_t Width, int32_t Height, TFColor Background, bool KeepSmall,
                         bool Opaque);

}  // namespace imaging
