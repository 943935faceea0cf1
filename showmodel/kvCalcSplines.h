// The calculator's easing curve: QSplineGraph(t, x1, y1, x2, y2) reads the
// cubic Bezier curve from (0, 0) to (1, 1) with control points (x1, y1) and
// (x2, y2) as a graph y(x) at x = t. With constant control points the
// compiler substitutes a one-argument function over the flattened curve.
#pragma once

#include "showmodel/CurveLinearInterpolation.h"
#include "showmodel/kvCalcUtils.h"

namespace showmodel {

class TQSplineGraph : public TMathFunc {
 public:
  QEL_CLASSNAME(TQSplineGraph)
  TQSplineGraph();
  // Solves on a curve of its own per call: the library's one instance is
  // shared by every thread that compiles or evaluates formulas.
  void Execute(TCalcStack& Stack) override;
  bool Optimize(TCalcStack& Constants, TCalcFunc*& Replacement) override;
};

class TQSplineGraph_opt : public TCalcFunc {
 public:
  QEL_CLASSNAME(TQSplineGraph_opt)
  // Takes over the flattened curve.
  TQSplineGraph_opt(TCubicBezier* Curve);
  void Dispose() override;
  void Execute(TCalcStack& Stack) override;
  TCubicBezier* Curve = nullptr;
};

// Adds "QSplineGraph" to the calculator library unless it is there already.
void RegisterSplineGraph();

}  // namespace showmodel
