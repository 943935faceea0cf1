#include "text/kvIniColorUtils.h"

namespace text {

using foundation::TIniItem;

TARGB IniItemGetColor(const TIniItem* item, TARGB def) {
  return ByteStrToColorDef(TIniItem::GetRawValue(item), def);
}

TFColor IniItemGetRgb(const TIniItem* item, TFColor def) {
  return ARGBToFColor(IniItemGetColor(item, FColorToARGB(def, 255)));
}

TFColor IntToRgb(int32_t value) { return ColorRefToFColor(static_cast<TColorRef>(value)); }

}  // namespace text
