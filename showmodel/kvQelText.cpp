#include "showmodel/kvQelText.h"

#include <cmath>

#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlideHost.h"

namespace showmodel {

double MaxKeyFrameScale(TQelObjectProps* Props) {
  if (!Props) return 100;
  bool any = false;
  double m = 0;
  for (TQelKeyFrame* k : Props->KeyFrames.Items) {
    if (!((k->Groups >> kgScale) & 1)) continue;
    any = true;
    for (int32_t p : {kpScaleX, kpScaleY}) {
      float v = 0;
      if (GetParamValue(k, p, v) && std::isfinite(v)) m = std::max(m, std::fabs(double(v)));
    }
  }
  return any ? m : KeyFrameParams[kpScaleY].Default;
}

double LimitRasterScale(double Scale, double W, double H) {
  if (!std::isfinite(Scale) || !(Scale > 0)) Scale = 1;
  // A double halves to below any limit in fewer than 2200 steps; sizes that
  // are not finite stop there instead of looping.
  for (int i = 0; i < 2200; ++i) {
    const bool tooLarge = Scale * W > 30000 || Scale * H > 30000 || Scale * Scale * W * H > 10000000.0;
    if (!tooLarge) break;
    Scale /= 2;
  }
  return Scale;
}

double TextRasterScale(double MaxScale, double ParentScreenHeight, double TextWidth, double TextHeight) {
  const double scale = MaxScale * ParentScreenHeight / 100 / TextHeight;
  return LimitRasterScale(scale, TextWidth, TextHeight);
}

TMacroContext MakeMacroContext(TQelObject* Object) {
  TMacroContext c;
  TQelSlideBase* slide = Object->GetSlide();
  c.SlideIndex = slide->SlideIndex();
  if (TQelSlideHost* host = Object->GetSlideHost()) {
    c.SlideCount = host->SlideCount;
    c.Accessor = host->Accessor;
  }
  std::u16string name;
  TFloatPoint size;
  TQelObject* main = FindMainImageHook ? FindMainImageHook(slide, name, size) : nullptr;
  if (main) {
    c.HasMainImage = true;
    c.MainIsImage = std::string_view(main->ClassName()) == "TQelImage";
    c.MainName = name;
    c.MainWidth = static_cast<int32_t>(size.X);
    c.MainHeight = static_cast<int32_t>(size.Y);
  }
  return c;
}

}  // namespace showmodel
