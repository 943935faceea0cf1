// Typed INI readers of colour values: the colour texts of the project file and
// of the button and navigation-bar descriptions. A missing item reads as an
// empty value, which gives the default.
#pragma once

#include <cstdint>

#include "foundation/kvIni.h"
#include "text/GraphicsParams.h"

namespace text {

// The item's value read as a colour text (ByteStrToColorDef), 0xAARRGGBB.
TARGB IniItemGetColor(const foundation::TIniItem* item, TARGB def);
// As IniItemGetColor with the default made opaque; the alpha of the result is
// dropped.
TFColor IniItemGetRgb(const foundation::TIniItem* item, TFColor def);
// A Windows colour reference (red in the low byte) as a pixel colour.
TFColor IntToRgb(int32_t value);

}  // namespace text
