#include "showmodel/CurveLinearInterpolation.h"

#include <algorithm>

namespace showmodel {

void TCurveSeparator::ClearPieces() {
  for (TKusochek* k : Pieces) k->Free();
  Pieces.clear();
}

void TCurveSeparator::Dispose() {
  ClearPieces();
  TRefObject::Dispose();
}

TFloatPoint TBezierPoints::PointAt(double t) const {
  const double s = 1 - t;
  const double a = s * s * s, b = 3 * s * s * t, c = 3 * s * t * t, d = t * t * t;
  return TFloatPoint{static_cast<float>(a * P0.X + b * P1.X + c * P2.X + d * P3.X),
                     static_cast<float>(a * P0.Y + b * P1.Y + c * P2.Y + d * P3.Y)};
}

namespace {

struct FlatTest {
  TFloatPoint A, B, M;
  bool Flat;
};

template <class Curve>
FlatTest TestFlat(const Curve& c, double t0, double t1, double tol) {
  FlatTest r;
  r.A = c.PointAt(t0);
  r.B = c.PointAt(t1);
  r.M = c.PointAt((t0 + t1) * 0.5);
  const TFloatPoint q1 = c.PointAt(0.75 * t0 + 0.25 * t1);
  const TFloatPoint q3 = c.PointAt(0.25 * t0 + 0.75 * t1);
  auto dist2 = [&](const TFloatPoint& p, double f) {
    const double kx = r.A.X + (double(r.B.X) - r.A.X) * f, ky = r.A.Y + (double(r.B.Y) - r.A.Y) * f;
    const double dx = p.X - kx, dy = p.Y - ky;
    return dx * dx + dy * dy;
  };
  r.Flat = dist2(r.M, 0.5) <= tol && dist2(q1, 0.25) <= tol && dist2(q3, 0.75) <= tol;
  return r;
}

void FlattenRange(TCurveSeparator* c, double t0, double t1, double tol, int depth) {
  const FlatTest f = TestFlat(*c, t0, t1, tol);
  if (f.Flat || depth >= CurveMaxFlattenDepth) {
    auto* k = new TKusochek();
    k->X0 = f.A.X;
    k->X1 = f.B.X;
    const float dx = f.B.X - f.A.X;
    k->Slope = dx != 0 ? static_cast<float>((f.B.Y - f.A.Y) / dx) : 0.0;
    k->Y0 = f.A.Y;
    c->Pieces.push_back(k);
    return;
  }
  const double mid = (t0 + t1) * 0.5;
  FlattenRange(c, t0, mid, tol, depth + 1);
  FlattenRange(c, mid, t1, tol, depth + 1);
}

}  // namespace

double SolveCurve(const TBezierPoints& Curve, double t0, double t1, double x, double Tolerance) {
  for (int depth = 0;; ++depth) {
    const FlatTest f = TestFlat(Curve, t0, t1, Tolerance);
    if (f.Flat || depth >= CurveMaxSolveDepth) {
      const double dx = double(f.B.X) - f.A.X;
      if (dx == 0) return f.A.Y;
      return f.A.Y + (double(f.B.Y) - f.A.Y) * (x - f.A.X) / dx;
    }
    const double mid = (t0 + t1) * 0.5;
    if (x <= f.M.X)
      t1 = mid;
    else
      t0 = mid;
  }
}

void Flatten(TCurveSeparator* Curve, double t0, double t1, double Tolerance) {
  Curve->ClearPieces();
  Curve->Cursor = 0;
  FlattenRange(Curve, t0, t1, Tolerance, 0);
}

double LookupPiece(TCurveSeparator* Curve, double x) {
  const int32_t n = static_cast<int32_t>(Curve->Pieces.size());
  if (n == 0) return x;
  int32_t i = std::clamp(Curve->Cursor, 0, n - 1);
  if (x > Curve->Pieces[size_t(i)]->X1) {
    while (x > Curve->Pieces[size_t(i)]->X1 && i + 1 < n) ++i;
  } else if (x < Curve->Pieces[size_t(i)]->X0) {
    while (x < Curve->Pieces[size_t(i)]->X0 && i > 0) --i;
  }
  Curve->Cursor = i;
  const TKusochek* k = Curve->Pieces[size_t(i)];
  return k->Y0 + (x - k->X0) * k->Slope;
}

}  // namespace showmodel
