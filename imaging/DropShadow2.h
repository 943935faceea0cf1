// The blur of a shadow: the caster's alpha, padded by 2.5 radii, shrunk by
// the radius with a cubic B-spline filter and enlarged again, optionally
// through a contour curve.
#pragma once

#include <array>
#include <functional>

#include "imaging/CurvesUnit.h"
#include "imaging/SysBitmap.h"

namespace imaging {

class TDropShadow : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDropShadow)
  using TProgress = std::function<void(void* Sender, bool& Abort)>;
  explicit TDropShadow(TProgress Progress);
  void Dispose() override;
  void SetSize(double Value) { Radius = Value + 1; }
  // Fills Mask from the alpha of a one- or four-byte-per-pixel Source.
  void Make(TSysBitmap* Source);

  TSysBitmap* Reduced = nullptr;
  double Radius = 0;
  TCurvesData* Curves = nullptr;
  TSysBitmap* Mask = nullptr;
  TProgress Progress;
};

// The 4,096-entry output table of a curve: its 256-entry table interpolated linearly.
std::array<uint8_t, 4096> MakeContourOutputTable(const std::array<uint8_t, 256>& Curve);

// The largest radius whose padded bitmap (size + 2 x ceil(2.5 r) per side)
// stays within the bitmap pixel cap.
double CapShadowRadius(double Radius, int32_t Width, int32_t Height);

}  // namespace imaging
