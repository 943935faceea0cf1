#include "transitions/BroomGenerator.h"

#include <cmath>

namespace transitions {

namespace {
constexpr double kPi = 3.14159265358979323846;
double Diagonal(const TArrowArea& a, double x) {
  return std::sqrt((a.Height / 2.0 + x) * (a.Height / 2.0 + x) + (a.Width / 2.0 + x) * (a.Width / 2.0 + x));
}
}  // namespace

void TBroom::SetSoft(float edgeWidth, double d) { SoftAngle = float(2 * std::atan(edgeWidth / 2.0 / d)); }

TBroomUp::TBroomUp(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left + a.Width / 2;
  PivotY = a.Top - x;
  SetSoft(ew, a.Height / 2.0 + x);
  StartAngle = float(std::atan(2.0 * x / a.Width) + kPi / 2 - SoftAngle);
  EndAngle = float(3 * kPi / 2 - std::atan(2.0 * x / a.Width));
}

TBroomRight::TBroomRight(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left + a.Width + x;
  PivotY = a.Top + a.Height / 2;
  SetSoft(ew, a.Width / 2.0 + x);
  StartAngle = float(std::atan(2.0 * x / a.Height) + kPi - SoftAngle);
  EndAngle = float(2 * kPi - std::atan(2.0 * x / a.Height));
}

TBroomDown::TBroomDown(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left + a.Width / 2;
  PivotY = a.Top + a.Height + x;
  SetSoft(ew, a.Height / 2.0 + x);
  StartAngle = float(std::atan(2.0 * x / a.Width) + 3 * kPi / 2 - SoftAngle);
  EndAngle = float(5 * kPi / 2 - std::atan(2.0 * x / a.Width));
  Wraps = true;
}

TBroomLeft::TBroomLeft(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left - x;
  PivotY = a.Top + a.Height / 2;
  SetSoft(ew, a.Width / 2.0 + x);
  StartAngle = float(std::atan(2.0 * x / a.Height) - SoftAngle);
  EndAngle = float(kPi - std::atan(2.0 * x / a.Height));
}

TBroomUpRight::TBroomUpRight(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left + a.Width + x;
  PivotY = a.Top - x;
  SetSoft(ew, Diagonal(a, x));
  StartAngle = float(std::atan(x / (a.Height + double(x))) + kPi - SoftAngle);
  EndAngle = float(3 * kPi / 2 - std::atan(x / (a.Width + double(x))));
}

TBroomDownRight::TBroomDownRight(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left + a.Width + x;
  PivotY = a.Top + a.Height + x;
  SetSoft(ew, Diagonal(a, x));
  StartAngle = float(std::atan(x / (a.Width + double(x))) + 3 * kPi / 2 - SoftAngle);
  EndAngle = float(2 * kPi - std::atan(x / (a.Height + double(x))));
}

TBroomDownLeft::TBroomDownLeft(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left - x;
  PivotY = a.Top + a.Height + x;
  SetSoft(ew, Diagonal(a, x));
  StartAngle = float(std::atan(x / (a.Height + double(x))) - SoftAngle);
  EndAngle = float(kPi / 2 - std::atan(x / (a.Width + double(x))));
}

TBroomUpLeft::TBroomUpLeft(const TArrowArea& a, float x, float ew) : TBroom(a, x) {
  PivotX = a.Left - x;
  PivotY = a.Top - x;
  SetSoft(ew, Diagonal(a, x));
  StartAngle = float(std::atan(x / (a.Width + double(x))) + kPi / 2 - SoftAngle);
  EndAngle = float(kPi - std::atan(x / (a.Height + double(x))));
}

TBroom* CreateBroom(int32_t direction, const TArrowArea& area, float offset, float edgeWidth) {
  switch (direction) {
    case 1: return new TBroomUp(area, offset, edgeWidth);
    case 2: return new TBroomRight(area, offset, edgeWidth);
    case 3: return new TBroomDown(area, offset, edgeWidth);
    case 4: return new TBroomLeft(area, offset, edgeWidth);
    case 5: return new TBroomUpRight(area, offset, edgeWidth);
    case 6: return new TBroomDownRight(area, offset, edgeWidth);
    case 7: return new TBroomDownLeft(area, offset, edgeWidth);
    case 8: return new TBroomUpLeft(area, offset, edgeWidth);
    default: return nullptr;
  }
}

void TBroom::Generate(float angle) {
  Current = angle;
  constexpr int kSamples = 1000;
  const float twoPi = float(2 * kPi);
  auto angleOf = [this, twoPi](int k) {
    float g = float(k) * kStep;
    if (Wraps && g < float(kPi)) g += twoPi;
    return g;
  };
  float v[kSamples + 1];
  for (int k = 0; k <= kSamples; ++k) {
    const float g = angleOf(k);
    if (g < Current)
      v[k] = 0;
    else if (g < Current + SoftAngle)
      v[k] = CurveAt(BroomCurve, (g - Current) * 255 / SoftAngle);
    else
      v[k] = 255;
  }
  if (!OnTriangle) return;
  const double r = double(Area.Width) + Area.Height + Offset;
  auto point = [&](int k, float a) {
    const double g = double(float(k) * kStep);
    return TTriVertex{float(PivotX + r * std::sin(g)), float(PivotY - r * std::cos(g)), a};
  };
  int k = 0;
  while (k < kSamples) {
    const float g = angleOf(k);
    int stride = (g + 10 * kStep >= Current && g <= Current + SoftAngle) ? 1 : 10;
    if (k + stride > kSamples) stride = kSamples - k;
    const TTriVertex pivot{PivotX, PivotY, (v[k] + v[k + stride]) / 2};
    OnTriangle(pivot, point(k + stride, v[k + stride]), point(k, v[k]));
    k += stride;
  }
}

}  // namespace transitions
