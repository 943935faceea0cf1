#include "text/kvRasterizer.h"

#include <algorithm>
#include <cmath>

#include "foundation/kpExceptions.h"

namespace text {

namespace {

// The band buffer holds about this many cells (128 KiB); a glyph fits one band.
constexpr int32_t kBandCells = 32768;
constexpr int32_t kMaxSide = 1 << 24;  // float keeps every column and row exact up to here

}  // namespace

float OutlineCoord(float v) {
  if (!(v > -MaxOutlineCoord)) return -MaxOutlineCoord;  // also NaN
  if (v > MaxOutlineCoord) return MaxOutlineCoord;
  return v;
}

void TOutline::Reset() {
  Count = 0;
  Closed = true;
}

void TOutline::AddEdge(float X0, float Y0, float X1, float Y1) {
  if (Y0 == Y1) return;
  if (Count >= int32_t(Items.size())) Items.resize(Items.empty() ? 64 : Items.size() * 2);
  Items[size_t(Count++)] = TOutlineItem{X0, Y0, X1, Y1};
}

void TOutline::MoveTo(TFloatPoint Point) {
  if (!Closed) AddEdge(LastX, LastY, OutlineCoord(StartPoint.X), OutlineCoord(StartPoint.Y));
  StartPoint = Point;
  LastX = OutlineCoord(Point.X);
  LastY = OutlineCoord(Point.Y);
  Closed = false;
}

void TOutline::AddPoint(TFloatPoint Point) {
  QEL_ASSERT(!Closed, "TOutline.AddPoint Error: No Start Point or Closed Outline");
  const float x = OutlineCoord(Point.X), y = OutlineCoord(Point.Y);
  AddEdge(LastX, LastY, x, y);
  LastX = x;
  LastY = y;
}

void TOutline::Finish() {
  if (Closed) return;
  AddEdge(LastX, LastY, OutlineCoord(StartPoint.X), OutlineCoord(StartPoint.Y));
  Closed = true;
}

// A piece inside [0, W] x [0, H], downward.
void TRasterizer::Emit(double X0, double Y0, double X1, double Y1, float Dir, double W) {
  X0 = std::clamp(X0, 0.0, W);
  X1 = std::clamp(X1, 0.0, W);
  const float x0 = float(X0), y0 = float(Y0), x1 = float(X1), y1 = float(Y1);
  if (!(y0 < y1)) return;
  if (EdgeCount >= int32_t(Edges.size())) Edges.resize(Edges.empty() ? 64 : Edges.size() * 2);
  Edges[size_t(EdgeCount++)] = TEdge{x0, y0, x1, y1, Dir};
  MinX = std::min(MinX, std::min(x0, x1));
  MaxX = std::max(MaxX, std::max(x0, x1));
  MinY = std::min(MinY, y0);
  MaxY = std::max(MaxY, y1);
}

// Clips a downward edge to the target. Above and below it nothing counts;
// a part left of column 0 covers every pixel of its rows to its right, as a
// vertical edge at x = 0 does; a part right of the target becomes a
// vertical edge at x = W, which keeps the rows' sums for the columns before it.
void TRasterizer::AddClipped(double X0, double Y0, double X1, double Y1, float Dir, double W, double H) {
  if (Y1 <= 0 || Y0 >= H) return;
  if (X0 >= W && X1 >= W) {
    Emit(W, std::max(Y0, 0.0), W, std::min(Y1, H), Dir, W);
    return;
  }
  const double dxdy = (X1 - X0) / (Y1 - Y0);
  double ax = X0, ay = Y0, bx = X1, by = Y1;
  if (ay < 0) {
    ax = X0 + (0 - Y0) * dxdy;
    ay = 0;
  }
  if (by > H) {
    bx = X0 + (H - Y0) * dxdy;
    by = H;
  }
  if (ax >= 0 && ax <= W && bx >= 0 && bx <= W) {
    Emit(ax, ay, bx, by, Dir, W);
    return;
  }
  if (bx == ax) {  // vertical and outside: clamped onto the border
    Emit(ax, ay, bx, by, Dir, W);
    return;
  }
  // Split where the edge crosses x = 0 and x = W (at most two points), in y order.
  struct Cut {
    double y, x;
  } cuts[2];
  int n = 0;
  const double dydx = (by - ay) / (bx - ax);
  for (double c : {0.0, W}) {
    const double y = ay + (c - ax) * dydx;
    if (y > ay && y < by) cuts[n++] = Cut{y, c};
  }
  if (n == 2 && cuts[0].y > cuts[1].y) std::swap(cuts[0], cuts[1]);
  double px = ax, py = ay;
  for (int i = 0; i < n; ++i) {
    Emit(px, py, cuts[i].x, cuts[i].y, Dir, W);
    px = cuts[i].x;
    py = cuts[i].y;
  }
  Emit(px, py, bx, by, Dir, W);
}

// Adds the edge's rows [Row0, Row1) of the band starting at Row0 to the
// cells. Within one row the edge covers, of each cell, the share of the
// row's height times the mean fraction of the cell right of the edge; the
// cells hold differences, so a cell right of the edge (the whole cover)
// needs no write and the row's sum restores it.
void TRasterizer::AccumulateEdge(const TEdge& E, int32_t Row0, int32_t Row1, int32_t Ox, int32_t Stride) {
  const int32_t first = std::max(Row0, int32_t(E.Y0));
  const int32_t last = std::min(Row1, int32_t(std::ceil(E.Y1)));
  const float dxdy = (E.X1 - E.X0) / (E.Y1 - E.Y0);
  const float ox = float(Ox);
  const float right = float(Stride - 2);
  float* cells = Cells.data() + size_t(first - Row0) * size_t(Stride);
  for (int32_t y = first; y < last; ++y, cells += Stride) {
    const float top = std::max(float(y), E.Y0), bottom = std::min(float(y + 1), E.Y1);
    const float dy = bottom - top;
    if (!(dy > 0)) continue;
    // x where the edge enters and leaves the row: one expression per row
    // boundary, so the rows on either side agree.
    const float xt = (top == E.Y0 ? E.X0 : E.X0 + (top - E.Y0) * dxdy) - ox;
    const float xb = (bottom == E.Y1 ? E.X1 : E.X0 + (bottom - E.Y0) * dxdy) - ox;
    const float x0 = std::clamp(std::min(xt, xb), 0.0f, right);
    const float x1 = std::clamp(std::max(xt, xb), 0.0f, right);
    const float d = dy * E.Dir;
    const int32_t i0 = int32_t(x0);
    const int32_t i1 = int32_t(std::ceil(x1));
    if (i1 <= i0 + 1) {
      // Within one cell: the part right of the edge's mean x.
      const float f = 0.5f * (x0 + x1) - float(i0);
      cells[i0] += d - d * f;
      cells[i0 + 1] += d * f;
      continue;
    }
    // Across cells: x runs evenly over [x0, x1] as y runs over the row, so
    // the fraction of cell i right of the edge is the mean over x of
    // clamp(i + 1 - x, 0, 1): quadratic in the end cells, linear between.
    const float s = 1.0f / (x1 - x0);
    const float f0 = x0 - float(i0);
    const float a0 = 0.5f * s * (1 - f0) * (1 - f0);
    const float f1 = x1 - float(i1) + 1;
    const float am = 0.5f * s * f1 * f1;
    cells[i0] += d * a0;
    if (i1 == i0 + 2) {
      cells[i0 + 1] += d * (1 - a0 - am);
    } else {
      const float a1 = s * (1.5f - f0);
      cells[i0 + 1] += d * (a1 - a0);
      const float ds = d * s;
      for (int32_t i = i0 + 2; i < i1 - 1; ++i) cells[i] += ds;
      const float a2 = a1 + float(i1 - i0 - 3) * s;
      cells[i1 - 1] += d * (1 - a2 - am);
    }
    cells[i1] += d * am;
  }
}

// Sums the row's cells into coverage under the fill rule (the signed area
// folded: non-zero saturates at 1, even-odd folds modulo 2), clears them
// and hands out the runs of non-zero coverage.
void TRasterizer::SweepRow(TOutline* Outline, int32_t Row, float* Cells, int32_t Ox, int32_t Count) {
  int16_t* cov = Coverage.data() + Ox;
  float acc = 0;
  if (EvenOdd) {
    for (int32_t i = 0; i < Count; ++i) {
      acc += Cells[i];
      Cells[i] = 0;
      float a = std::fabs(acc);
      a -= 2.0f * std::floor(a * 0.5f);
      if (a > 1) a = 2 - a;
      cov[i] = int16_t(a * 256.0f + 0.5f);
    }
  } else {
    for (int32_t i = 0; i < Count; ++i) {
      acc += Cells[i];
      Cells[i] = 0;
      const float a = std::min(std::fabs(acc), 1.0f);
      cov[i] = int16_t(a * 256.0f + 0.5f);
    }
  }
  Cells[Count] = 0;
  Cells[Count + 1] = 0;
  int32_t i = 0;
  while (i < Count) {
    if (cov[i] == 0) {
      ++i;
      continue;
    }
    const int32_t first = i;
    while (i < Count && cov[i] != 0) ++i;
    Outline->OnSpan(Row, Ox + first, Ox + i - 1, Coverage.data());
  }
}

void TRasterizer::Rasterize(TOutline* Outline, int32_t Width, int32_t Height) {
  if (!Outline || !Outline->OnSpan || Width <= 0 || Height <= 0) return;
  Outline->Finish();
  if (Outline->Count == 0) return;
  const int32_t w = std::min(Width, kMaxSide), h = std::min(Height, kMaxSide);
  EvenOdd = Outline->EvenOdd;
  EdgeCount = 0;
  MinX = MinY = 3.4e38f;
  MaxX = MaxY = -3.4e38f;
  for (int32_t i = 0; i < Outline->Count; ++i) {
    const TOutlineItem& e = Outline->Items[size_t(i)];
    if (e.Y0 < e.Y1) AddClipped(e.X0, e.Y0, e.X1, e.Y1, 1.0f, w, h);
    else AddClipped(e.X1, e.Y1, e.X0, e.Y0, -1.0f, w, h);
  }
  if (EdgeCount == 0) return;
  const int32_t ox = int32_t(MinX);
  const int32_t xEnd = std::min(w, int32_t(MaxX) + 1);
  if (xEnd <= ox) return;  // only edges on the right border
  const int32_t count = xEnd - ox, stride = count + 2;
  const int32_t rowBegin = int32_t(MinY), rowEnd = std::min(h, int32_t(std::ceil(MaxY)));
  const int32_t rows = rowEnd - rowBegin;
  if (rows <= 0) return;
  const int32_t bandRows = std::min(rows, std::max(1, kBandCells / stride));
  const size_t cells = size_t(stride) * size_t(bandRows);
  if (Cells.size() < cells) Cells.assign(std::max(cells, Cells.size() * 2), 0.0f);
  if (Coverage.size() < size_t(w)) {
    size_t n = Coverage.empty() ? size_t(w) : Coverage.size();
    while (n < size_t(w)) n *= 2;
    Coverage.assign(n, 0);
  }
  const TEdge* edges = Edges.data();
  if (bandRows == rows) {
    for (int32_t i = 0; i < EdgeCount; ++i) AccumulateEdge(edges[i], rowBegin, rowEnd, ox, stride);
    for (int32_t y = rowBegin; y < rowEnd; ++y)
      SweepRow(Outline, y, Cells.data() + size_t(y - rowBegin) * size_t(stride), ox, count);
    return;
  }
  // Bands of rows: edges bucketed by the band of their upper end join the
  // active list there and leave it after the band holding their lower end.
  const int32_t bands = (rows + bandRows - 1) / bandRows;
  BandStart.assign(size_t(bands) + 1, 0);
  for (int32_t i = 0; i < EdgeCount; ++i) ++BandStart[size_t((int32_t(edges[i].Y0) - rowBegin) / bandRows) + 1];
  for (int32_t b = 0; b < bands; ++b) BandStart[size_t(b) + 1] += BandStart[size_t(b)];
  BandOrder.resize(size_t(EdgeCount));
  Active.resize(size_t(EdgeCount));
  {
    std::vector<int32_t>& fill = Active;  // scratch: next free slot per band
    fill.assign(BandStart.begin(), BandStart.end() - 1);
    for (int32_t i = 0; i < EdgeCount; ++i) {
      const size_t b = size_t((int32_t(edges[i].Y0) - rowBegin) / bandRows);
      BandOrder[size_t(fill[b]++)] = i;
    }
  }
  Active.resize(size_t(EdgeCount));
  int32_t active = 0;
  for (int32_t b = 0; b < bands; ++b) {
    const int32_t r0 = rowBegin + b * bandRows, r1 = std::min(rowEnd, r0 + bandRows);
    for (int32_t k = BandStart[size_t(b)]; k < BandStart[size_t(b) + 1]; ++k) Active[size_t(active++)] = BandOrder[size_t(k)];
    int32_t kept = 0;
    for (int32_t k = 0; k < active; ++k) {
      const TEdge& e = edges[Active[size_t(k)]];
      AccumulateEdge(e, r0, r1, ox, stride);
      if (e.Y1 > float(r1)) Active[size_t(kept++)] = Active[size_t(k)];
    }
    active = kept;
    for (int32_t y = r0; y < r1; ++y) SweepRow(Outline, y, Cells.data() + size_t(y - r0) * size_t(stride), ox, count);
  }
}

}  // namespace text
