#include "transitions/ArrowGenerator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace transitions {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kLow = 0.9 * kPi;   // 2.827433388230814
constexpr double kHigh = 1.1 * kPi;  // 3.455751918948773
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

float CurveAt(const TCurve256& curve, float position) {
  float r = std::nearbyintf(position);  // halves to even
  if (!(r >= 0)) r = 0;                 // also a NaN
  if (r > 255) r = 255;
  return curve.V[size_t(r)];
}

TArrow::TArrow(const TArrowArea& area, float cx, float cy, float edgeWidth)
    : Area(area), CX(cx), CY(cy), EdgeWidth(edgeWidth == 0 ? 0.001f : edgeWidth) {}

void TArrow::CoverageAt(TTriVertex& v) const {
  const float half = EdgeWidth / 2;
  const float b = CurveAt(ArrowCurve, (v.X - CX + half) * 255 / EdgeWidth);
  const float xb = v.X - (Area.Top + Area.Height - v.Y) * TanAngle;
  float d;
  if (Angle > kPi / 2 && Angle < 3 * kPi / 2)
    d = CurveAt(ArrowCurve, (xb - HandLeft) * 255 / (HandRight - HandLeft));
  else
    d = CurveAt(ArrowCurve, (xb - HandRight) * 255 / (HandLeft - HandRight));
  const float lo = std::min(b, d), hi = std::max(b, d);
  double value;
  const double a = Angle;
  if (a >= kLow && a <= kHigh) {
    value = a < kPi ? lo : hi;
  } else if (a < kLow) {
    // Intersection of the half-planes, blended towards the union near the centre.
    const double k = (kLow - a) / 0.9 / kPi;
    value = lo + k * k * (double(hi) - 255);
  } else {
    const double k = (a - kHigh) / 0.9 / kPi;
    value = hi + k * k * double(lo);
  }
  value = std::clamp(value, 0.0, 255.0);
  v.A = float(255 - value);
}

void TArrow::EmitPolygon(const double* xs, const double* ys, int n) {
  if (n < 3 || !OnTriangle) return;
  TTriVertex p[16];
  for (int i = 0; i < n; ++i) {
    p[i] = TTriVertex{float(xs[i]), float(ys[i]), 0};
    CoverageAt(p[i]);
  }
  for (int i = 2; i < n; ++i) OnTriangle(p[0], p[i - 1], p[i]);
}

// The part of Area with u = x - CX in [u0, u1] and v = the signed distance
// from the hand line in [v0, v1]: a convex polygon, clipped half-plane by
// half-plane from the area's rectangle.
void TArrow::EmitRegion(double u0, double u1, double v0, double v1) {
  double xs[16], ys[16], nx[16], ny[16];
  const double l = Area.Left, t = Area.Top, r = double(Area.Left) + Area.Width, b = double(Area.Top) + Area.Height;
  int n = 4;
  xs[0] = l, ys[0] = t, xs[1] = r, ys[1] = t, xs[2] = r, ys[2] = b, xs[3] = l, ys[3] = b;
  // Half-plane f(x, y) = ax x + ay y + c >= 0.
  auto clip = [&](double ax, double ay, double c) {
    int m = 0;
    for (int i = 0; i < n && m < 15; ++i) {
      const int j = (i + 1) % n;
      const double fi = ax * xs[i] + ay * ys[i] + c, fj = ax * xs[j] + ay * ys[j] + c;
      if (fi >= 0) nx[m] = xs[i], ny[m++] = ys[i];
      if ((fi >= 0) != (fj >= 0) && m < 16) {
        const double s = fi / (fi - fj);
        nx[m] = xs[i] + (xs[j] - xs[i]) * s, ny[m++] = ys[i] + (ys[j] - ys[i]) * s;
      }
    }
    n = m;
    std::copy(nx, nx + m, xs);
    std::copy(ny, ny + m, ys);
  };
  const double cx = CX, cy = CY;
  if (u0 > -kInf) clip(1, 0, -(cx + u0));
  if (n >= 3 && u1 < kInf) clip(-1, 0, cx + u1);
  // v = (x - cx) cos a + (y - cy) sin a.
  if (n >= 3 && v0 > -kInf) clip(cosA_, sinA_, -(cx * cosA_ + cy * sinA_) - v0);
  if (n >= 3 && v1 < kInf) clip(-cosA_, -sinA_, cx * cosA_ + cy * sinA_ + v1);
  EmitPolygon(xs, ys, n);
}

void TArrow::Generate(float angle) {
  Angle = angle;
  if (std::fabs(angle) < 1e-6f) return;
  if (std::fabs(double(angle) - kPi) < 1e-6) Angle = 3.1415915f;
  if (std::fabs(double(Angle) - 2 * kPi) < 1e-6) {
    if (!OnTriangle) return;
    const float l = Area.Left, t = Area.Top, r = Area.Left + Area.Width, b = Area.Top + Area.Height;
    OnTriangle({l, t, 0}, {r, t, 0}, {l, b, 0});
    OnTriangle({r, t, 0}, {l, b, 0}, {r, b, 0});
    return;
  }
  const float a = Angle;
  const float ca = std::cos(a), sa = std::sin(a);
  TanAngle = std::tan(a);
  const float half = EdgeWidth / 2;
  const float p = CX + half * ca - TanAngle * (Area.Top + Area.Height - CY - half * sa);
  const float q = p - EdgeWidth / ca;
  HandRight = std::max(p, q);
  HandLeft = std::min(p, q);
  cosA_ = std::cos(double(a));
  sinA_ = std::sin(double(a));

  // The plane is cut into 12 x 12 regions by the slice lines of both bands
  // (10 slices each, plus the outside on either side); the region where
  // the bands cross is cut twice as finely, because the two ramps meet there.
  const double h = double(EdgeWidth) / 2, w = double(EdgeWidth) / kSlices;
  double cuts[kSlices + 1];
  for (int i = 0; i <= kSlices; ++i) cuts[i] = -h + w * i;
  cuts[kSlices] = h;  // the last slice ends exactly on the far edge
  double fine[kCrossSteps + 1];
  for (int i = 0; i <= kCrossSteps; ++i) fine[i] = -h + double(EdgeWidth) * i / kCrossSteps;
  fine[kCrossSteps] = h;

  // Crossing region.
  for (int i = 0; i < kCrossSteps; ++i)
    for (int j = 0; j < kCrossSteps; ++j) EmitRegion(fine[i], fine[i + 1], fine[j], fine[j + 1]);
  // Start-band slices beyond the hand band on both sides, and hand-band
  // slices beyond the start band on both sides.
  for (int i = 0; i < kSlices; ++i) {
    EmitRegion(cuts[i], cuts[i + 1], -kInf, -h);
    EmitRegion(cuts[i], cuts[i + 1], h, kInf);
    EmitRegion(-kInf, -h, cuts[i], cuts[i + 1]);
    EmitRegion(h, kInf, cuts[i], cuts[i + 1]);
  }
  // The four regions outside both bands.
  EmitRegion(-kInf, -h, -kInf, -h);
  EmitRegion(-kInf, -h, h, kInf);
  EmitRegion(h, kInf, -kInf, -h);
  EmitRegion(h, kInf, h, kInf);
}

}  // namespace transitions
