// Scan conversion of straight edges into anti-aliased coverage. TOutline
// collects the edges of closed figures in fixed point (1/16 pixel);
// TRasterizer samples them 16 x 16 times per pixel and hands each pixel row
// to the outline's span callback as runs of coverage 1..256.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"

namespace text {

using foundation::TFloatPoint;

struct TOutlineItem {
  int32_t X = 0;      // x at the upper end, 1/16 pixel
  int32_t Y = 0;      // first sub-scanline (upper end)
  int32_t DY = 0;     // signed height; negative for an edge given upward
  float Slope = 0;    // x change per sub-scanline
};

// (row, first column, last column, coverage of every column of the row).
using TSpanEvent = std::function<void(int32_t Row, int32_t First, int32_t Last, const int16_t* Coverage)>;

// Coordinates in 1/16 pixel are held within +-(2^30 - 1), so that the height
// of any edge fits 31 bits (the raster helper clamps to +-2^26 pixels, which
// is 2^30 in 1/16 pixel; an edge from one clamp to the other would otherwise
// be 2^31 high).
inline constexpr int32_t MaxOutlineCoord = (1 << 30) - 1;
int32_t OutlineCoord(float v);

class TOutline : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TOutline)
  void Reset();
  // Closes an open figure back to its start, then starts a figure at Point.
  void MoveTo(TFloatPoint Point);
  // An edge from the last point; horizontal edges are not kept.
  void AddPoint(TFloatPoint Point);
  // Closes an open figure and sorts the edges by their upper end.
  void Finish();

  std::vector<TOutlineItem> Items;
  int32_t Count = 0;
  bool Closed = true;
  TFloatPoint StartPoint;
  int32_t LastX = 0, LastY = 0;
  std::vector<int32_t> Order;
  bool EvenOdd = false;
  TSpanEvent OnSpan;

 private:
  void AddEdge(int32_t X0, int32_t Y0, int32_t X1, int32_t Y1);
};

class TRasterizer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TRasterizer)
  // Converts the outline's edges into spans inside [0, Width) x [0, Height).
  void Rasterize(TOutline* Outline, int32_t Width, int32_t Height);

 private:
  struct TActive {
    int32_t X;
    int32_t Edge;
  };
  void AddCoverage(int32_t From, int32_t To);
  void FlushRow(TOutline* Outline, int32_t Row);

  std::vector<TActive> Active;
  int32_t ActiveCount = 0;
  int32_t FillMask = -1;
  // Per pixel: the partial coverage of the row, and the running sum of whole
  // pixels (a difference array: +16 where a covered run starts, -16 after it
  // ends), so a sub-scanline costs the same for wide and narrow spans.
  std::vector<int16_t> Coverage;
  std::vector<int32_t> Runs;
  int32_t MinTouched = 2147483647;
  int32_t MaxTouched = 0;
  int32_t XLimit = 0;
};

}  // namespace text
