// Vector icons of the control style sheet: a design size, a colour and
// layers of SVG path data, rendered at any pixel size and in quarter turns.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "text/kvRasterizerTypes.h"

namespace imaging {
class TImage;
}

namespace text {

class TRasterHelper;

class TIconLayer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TIconLayer)
  std::u16string Color;
  foundation::TFloatPoint Pos{0, 0};
  foundation::TFloatPoint Scale{1, 1};
  TPath Path;
};

// (colour text, default ARGB) -> ARGB; the style sheet resolves names of its
// colour list through it.
using TColorResolver = std::function<uint32_t(const std::u16string& Text, uint32_t Default)>;

class TVectorIcon : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVectorIcon)
  TVectorIcon();
  void Dispose() override;
  // True when at least one layer was read.
  bool LoadFromNode(const foundation::TIniList* Node);
  // A new image of the icon's aspect inside W x H, turned by Angle degrees in
  // quarter turns; the caller owns it. None when the icon has no layers.
  imaging::TImage* Render(int32_t W, int32_t H, uint32_t DefaultColor, int32_t Angle);

  TRasterHelper* RasterHelper = nullptr;
  std::vector<TIconLayer*> Layers;
  int32_t LayerCount = 0;
  foundation::TFloatPoint Size{0, 0};
  std::u16string Color;
  TColorResolver ColorResolver;
  float LayerScaleX = 1, LayerScaleY = 1, LayerOffsetX = 0, LayerOffsetY = 0;

 private:
  uint32_t Resolve(const std::u16string& Text, uint32_t Default) const;
};

}  // namespace text
