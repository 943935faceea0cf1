// Scan conversion of straight edges into anti-aliased coverage. TOutline
// collects the edges of closed figures; TRasterizer computes, for every
// pixel, the exact area the figures cover (signed area and cover of each
// edge accumulated per cell, then summed along the row under the fill
// rule) and hands each pixel row to the outline's span callback as runs of
// coverage 1..256.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"

namespace text {

using foundation::TFloatPoint;

// One edge as given (its direction is from (X0, Y0) to (X1, Y1)); pixels.
struct TOutlineItem {
  float X0 = 0, Y0 = 0;
  float X1 = 0, Y1 = 0;
};

// (row, first column, last column, coverage of every column of the row).
using TSpanEvent = std::function<void(int32_t Row, int32_t First, int32_t Last, const int16_t* Coverage)>;

// Coordinates are held within +-2^26 pixels (the raster helper's clamp;
// NaN becomes the lower bound), so every difference and product the
// clipping takes stays finite and exact enough in double.
inline constexpr float MaxOutlineCoord = 67108864.0f;
float OutlineCoord(float v);

class TOutline : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TOutline)
  void Reset();
  // Closes an open figure back to its start, then starts a figure at Point.
  void MoveTo(TFloatPoint Point);
  // An edge from the last point; horizontal edges are not kept.
  void AddPoint(TFloatPoint Point);
  // Closes an open figure.
  void Finish();

  std::vector<TOutlineItem> Items;
  int32_t Count = 0;
  bool Closed = true;
  TFloatPoint StartPoint;
  float LastX = 0, LastY = 0;
  bool EvenOdd = false;
  TSpanEvent OnSpan;

 private:
  void AddEdge(float X0, float Y0, float X1, float Y1);
};

class TRasterizer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TRasterizer)
  // Converts the outline's edges into spans inside [0, Width) x [0, Height)
  // (at most 2^24 columns and rows are painted).
  void Rasterize(TOutline* Outline, int32_t Width, int32_t Height);

 private:
  // An edge clipped to the target, downward, in target pixels; Dir is the
  // winding (+1 for an edge given downward).
  struct TEdge {
    float X0, Y0, X1, Y1;
    float Dir;
  };
  void AddClipped(double X0, double Y0, double X1, double Y1, float Dir, double W, double H);
  void Emit(double X0, double Y0, double X1, double Y1, float Dir, double W);
  void AccumulateEdge(const TEdge& E, int32_t Row0, int32_t Row1, int32_t Ox, int32_t Stride);
  void SweepRow(TOutline* Outline, int32_t Row, float* Cells, int32_t Ox, int32_t Count);

  std::vector<TEdge> Edges;
  int32_t EdgeCount = 0;
  // Band buffer: per row of the band, one cell per column from the left of
  // the edges' box, holding the difference of the accumulated coverage
  // from the cell before; zero between bands.
  std::vector<float> Cells;
  // Edges bucketed by the band of their upper end, and the active list.
  std::vector<int32_t> BandStart;
  std::vector<int32_t> BandOrder;
  std::vector<int32_t> Active;
  // Per pixel column: the coverage (0..256) of the row being handed out.
  std::vector<int16_t> Coverage;
  bool EvenOdd = false;
  float MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
};

}  // namespace text
