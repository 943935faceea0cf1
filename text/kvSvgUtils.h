// SVG path data (commands M L H V C S Q T Z and their relative forms, no
// arcs) read into a path; the Bezier evaluators and the curve flattening the
// rasterizer and the show's parameter curves share; the one-pixel 3D frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/FloatGeometry.h"
#include "text/kvRasterizerTypes.h"

namespace text {

using foundation::TFloatPoint;

double EvalQuadraticBezier(double a, double b, double c, double t);
double EvalCubicBezierD(double a, double b, double c, double d, double t);
double EvalCubicBezier(float a, float b, float c, float d, double t);

// Where flattening may take shortcuts: a piece of curve whose control points
// all lie on one side outside this rectangle becomes its chord, which leaves
// the coverage inside unchanged (a piece left of it adds the same winding as
// its chord, pieces above, below or right add nothing) and keeps curves with
// huge coordinates from splitting into millions of lines.
struct TFlattenClip {
  float Left = -3.4e38f, Top = -3.4e38f, Right = 3.4e38f, Bottom = 3.4e38f;
};

using TFlattenEmit = std::function<void(TFloatPoint)>;

// Recursive subdivision in the curve parameter with a depth budget of 32: a
// piece whose chord is shorter than 2 pixels in both directions becomes a
// line to its end; pieces at depth below 2 are dropped. The start point is
// not emitted.
void FlattenQuadratic(TFloatPoint P0, TFloatPoint P1, TFloatPoint P2, const TFlattenEmit& Emit,
                      const TFlattenClip& Clip = {});
void FlattenCubic(TFloatPoint P0, TFloatPoint P1, TFloatPoint P2, TFloatPoint P3, const TFlattenEmit& Emit,
                  const TFlattenClip& Clip = {});

}  // namespace text
