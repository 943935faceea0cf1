#include "showmodel/kvCalcSplines.h"

#include <string>

#include "foundation/kpTypes.h"
#include "showmodel/kvCalc.h"

namespace showmodel {

namespace {

constexpr double kTolerance = 1e-6;

// Fixed point with 5 decimals, trimmed; the text is ASCII.
std::string Num(double v) {
  const std::u16string u = foundation::FloatToStrTrimmed(v, 5);
  return std::string(u.begin(), u.end());
}

}  // namespace

TQSplineGraph::TQSplineGraph() : TMathFunc("QSplineGraph", 5, true) {}

void TQSplineGraph::Execute(TCalcStack& Stack) {
  TBezierPoints c;
  c.P3 = TFloatPoint{1, 1};
  Stack.PopTwoAsSingles(c.P2.X, c.P2.Y);
  Stack.PopTwoAsSingles(c.P1.X, c.P1.Y);
  Stack.Top = SolveCurve(c, 0, 1, Stack.Top, kTolerance);
}

bool TQSplineGraph::Optimize(TCalcStack& Constants, TCalcFunc*& Replacement) {
  Replacement = nullptr;
  if (Constants.Count < 4) return false;
  TCalcStack s;
  s.Items = Constants.Items;
  s.Count = Constants.Count;
  s.Top = Constants.Top;
  auto* curve = new TCubicBezier();
  curve->Points.P3 = TFloatPoint{1, 1};
  s.PopTwoAsSingles(curve->Points.P2.X, curve->Points.P2.Y);
  s.PopTwoAsSingles(curve->Points.P1.X, curve->Points.P1.Y);
  Flatten(curve, 0, 1, kTolerance);
  Replacement = new TQSplineGraph_opt(curve);
  return true;
}

TQSplineGraph_opt::TQSplineGraph_opt(TCubicBezier* Curve) : TCalcFunc("", 1, true), Curve(Curve) {
  const TBezierPoints& p = Curve->Points;
  Name = "QSplineGraph-opt(" + Num(p.P1.X) + ":" + Num(p.P1.Y) + ";" + Num(p.P2.X) + ":" + Num(p.P2.Y) + ")";
}

void TQSplineGraph_opt::Dispose() {
  foundation::FreeAndNil(Curve);
  TCalcFunc::Dispose();
}

void TQSplineGraph_opt::Execute(TCalcStack& Stack) { Stack.Top = LookupPiece(Curve, Stack.Top); }

void RegisterSplineGraph() {
  if (TCalcFunc* f = FindCalcFunc("QSplineGraph")) {
    f->Free();
    return;
  }
  RegisterCalcFunc(new TQSplineGraph());
}

}  // namespace showmodel
