// A cubic Bezier curve read as a graph y(x), and its approximation by
// straight pieces so that a lookup is a short search and one multiplication.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"

namespace showmodel {

using foundation::TFloatPoint;

// One straight piece: y = Y0 + (x - X0) x Slope over X0..X1.
class TKusochek : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKusochek)
  double X0 = 0, X1 = 0, Slope = 0, Y0 = 0;
};

// Intervals are halved at most this often; deeper intervals count as flat,
// so curves whose points overflow single precision (NaN never tests flat)
// still end.
constexpr int32_t CurveMaxSolveDepth = 24;
constexpr int32_t CurveMaxFlattenDepth = 12;

class TCurveSeparator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCurveSeparator)
  void Dispose() override;
  virtual TFloatPoint PointAt(double t) const = 0;
  // Owned pieces in the order of t.
  std::vector<TKusochek*> Pieces;
  int32_t Cursor = 0;
  void ClearPieces();
};

// The four control points of a cubic Bezier curve, as a value.
struct TBezierPoints {
  TFloatPoint P0, P1, P2, P3;
  TFloatPoint PointAt(double t) const;
};

class TCubicBezier : public TCurveSeparator {
 public:
  QEL_CLASSNAME(TCubicBezier)
  TFloatPoint PointAt(double t) const override { return Points.PointAt(t); }
  TBezierPoints Points;
};

// y at x, by halving [t0, t1] towards x until the interval is flat. A flat
// interval whose ends share their x (a vertical piece) answers its start y.
double SolveCurve(const TBezierPoints& Curve, double t0, double t1, double x, double Tolerance);
// Empties Pieces and fills them with the flat intervals of [t0, t1].
void Flatten(TCurveSeparator* Curve, double t0, double t1, double Tolerance);
// y at x on the pieces, moving the cursor from the piece found last; values
// beyond the ends extend the first or last piece; x itself without pieces.
double LookupPiece(TCurveSeparator* Curve, double x);

}  // namespace showmodel
