// The geometry of the clock wipe: two soft bands crossing at the centre, the
// fixed one from 12 o'clock and the moving hand, and the coverage field they
// define. Knows nothing of tiles; reports each triangle through OnTriangle.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "foundation/SysObj.h"
#include "transitions/kvTriangler2.h"

namespace transitions {

// Integer S-curve: entry i = i x i >> 7 for i = 0..127, mirrored above.
struct TCurve256 {
  std::array<float, 256> V{};
};
constexpr TCurve256 BuildIntSCurve() {
  TCurve256 c;
  for (int i = 0; i < 128; ++i) {
    c.V[i] = float((i * i) >> 7);
    c.V[255 - i] = 255.0f - c.V[i];
  }
  return c;
}
inline constexpr TCurve256 ArrowCurve = BuildIntSCurve();

// The curve at a rounded position; positions outside 0..255 take the nearest end.
float CurveAt(const TCurve256& curve, float position);

struct TArrowArea {
  float Top = 0, Height = 0, Left = 0, Width = 0;
};

using TTriangleEvent = std::function<void(const TTriVertex&, const TTriVertex&, const TTriVertex&)>;

class TArrow : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TArrow)
  TArrow(const TArrowArea& area, float cx, float cy, float edgeWidth);

  // Emits one frame for the hand at Angle (radians, clockwise from 12 o'clock).
  void Generate(float angle);
  // V.A <- 255 - coverage at (V.X, V.Y).
  void CoverageAt(TTriVertex& v) const;

  TArrowArea Area;
  float CX, CY;
  float EdgeWidth;
  float Angle = 0, TanAngle = 0, HandRight = 0, HandLeft = 0;
  TTriangleEvent OnTriangle;

  // Number of steps across the crossing region of the two bands, per side.
  static constexpr int kCrossSteps = 20;
  static constexpr int kSlices = 10;

 private:
  void EmitRegion(double u0, double u1, double v0, double v1);
  void EmitPolygon(const double* xs, const double* ys, int n);
  double cosA_ = 1, sinA_ = 0;
};

}  // namespace transitions
