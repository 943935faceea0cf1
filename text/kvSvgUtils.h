// SVG path data (commands M L H V C S Q T Z and their relative forms, no
// arcs) read into a path; the Bezier evaluators and the curve flattening the
// rasterizer and the show's parameter curves share; the one-pixel 3D frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/FloatGeometry.h"
#include "text/kvRasterizerTypes.h"

namespace imaging {
class TDirectBitmap;
}

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

// Appends the commands of Text to Path; 0 on success, else the 1-based
// position where reading stopped (the items appended up to there stay).
// Chained: each relative point of a command is taken from the previous point
// of the same command; otherwise from the command's starting point.
int32_t ParseSvgPath(const std::string& Text, TPath& Path, bool Chained);

// Fills the one-pixel frame of Rect (light left and top edges, dark right
// and bottom ones), each edge clipped to Clip (rectangles exclusive of their
// right and bottom). Colours are ARGB.
void Draw3DFrame(imaging::TDirectBitmap* Bitmap, const foundation::TRect& Rect, uint32_t Light, uint32_t Dark,
                 const foundation::TRect& Clip);

}  // namespace text
