#include "text/kvRasterizer.h"

#include <algorithm>
#include <cmath>

#include "foundation/kpExceptions.h"

namespace text {

int32_t OutlineCoord(float v) {
  const double f = std::nearbyint(double(v) * 16.0);  // ties to even in the default rounding mode
  if (!(f > -double(MaxOutlineCoord))) return -MaxOutlineCoord;  // also NaN
  if (f > double(MaxOutlineCoord)) return MaxOutlineCoord;
  return int32_t(f);
}

void TOutline::Reset() {
  Count = 0;
  Closed = true;
}

void TOutline::AddEdge(int32_t X0, int32_t Y0, int32_t X1, int32_t Y1) {
  const int32_t dy = Y1 - Y0;  // within 2^31 - 2 by OutlineCoord
  if (dy == 0) return;
  if (Count >= int32_t(Items.size())) Items.resize(Items.empty() ? 64 : Items.size() * 2);
  TOutlineItem& e = Items[size_t(Count++)];
  e.DY = dy;
  if (dy > 0) {
    e.X = X0;
    e.Y = Y0;
    e.Slope = float((double(X1) - double(X0)) / double(dy));
  } else {
    e.X = X1;
    e.Y = Y1;
    e.Slope = float((double(X0) - double(X1)) / -double(dy));
  }
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
  const int32_t x = OutlineCoord(Point.X), y = OutlineCoord(Point.Y);
  AddEdge(LastX, LastY, x, y);
  LastX = x;
  LastY = y;
}

void TOutline::Finish() {
  if (Closed) return;
  AddEdge(LastX, LastY, OutlineCoord(StartPoint.X), OutlineCoord(StartPoint.Y));
  Order.resize(size_t(Count));
  for (int32_t i = 0; i < Count; ++i) Order[size_t(i)] = i;
  std::sort(Order.begin(), Order.end(), [this](int32_t a, int32_t b) {
    const int32_t ya = Items[size_t(a)].Y, yb = Items[size_t(b)].Y;
    return ya != yb ? ya < yb : a < b;
  });
  Closed = true;
}

void TRasterizer::AddCoverage(int32_t From, int32_t To) {
  const int32_t p0 = From >> 4, p1 = (To - 1) >> 4;
  if (p0 == p1) {
    Coverage[size_t(p0)] = int16_t(Coverage[size_t(p0)] + (To - From));
  } else {
    Coverage[size_t(p0)] = int16_t(Coverage[size_t(p0)] + 16 - (From & 15));
    Coverage[size_t(p1)] = int16_t(Coverage[size_t(p1)] + ((To - 1) & 15) + 1);
    if (p1 > p0 + 1) {
      Runs[size_t(p0 + 1)] += 16;
      Runs[size_t(p1)] -= 16;
    }
  }
  MinTouched = std::min(MinTouched, p0);
  MaxTouched = std::max(MaxTouched, p1);
}

void TRasterizer::FlushRow(TOutline* Outline, int32_t Row) {
  int32_t run = 0;
  for (int32_t p = MinTouched; p <= MaxTouched; ++p) {
    run += Runs[size_t(p)];
    Runs[size_t(p)] = 0;
    Coverage[size_t(p)] = int16_t(Coverage[size_t(p)] + run);
  }
  int32_t p = MinTouched;
  while (p <= MaxTouched) {
    if (Coverage[size_t(p)] == 0) {
      ++p;
      continue;
    }
    const int32_t first = p;
    while (p <= MaxTouched && Coverage[size_t(p)] != 0) ++p;
    Outline->OnSpan(Row, first, p - 1, Coverage.data());
    std::fill(Coverage.begin() + first, Coverage.begin() + p, int16_t(0));
  }
  MinTouched = 2147483647;
  MaxTouched = 0;
}

void TRasterizer::Rasterize(TOutline* Outline, int32_t Width, int32_t Height) {
  if (!Outline || !Outline->OnSpan || Width <= 0 || Height <= 0) return;
  Outline->Finish();
  const int32_t count = Outline->Count;
  if (count == 0) return;
  FillMask = Outline->EvenOdd ? 1 : -1;
  const int64_t ylimit = int64_t(Height) * 16;
  XLimit = int32_t(std::min<int64_t>(int64_t(Width) * 16, 2147483647));
  if (Coverage.size() < size_t(Width)) {
    size_t n = Coverage.empty() ? size_t(Width) : Coverage.size();
    while (n < size_t(Width)) n *= 2;
    Coverage.assign(n, 0);
    Runs.assign(n + 1, 0);
  }
  const TOutlineItem* items = Outline->Items.data();
  const int32_t* order = Outline->Order.data();
  int32_t next = 0;
  ActiveCount = 0;
  if (Active.size() < size_t(count)) Active.resize(size_t(count));
  int64_t s = std::max<int64_t>(items[order[0]].Y, 0);
  MinTouched = 2147483647;
  MaxTouched = 0;
  while (s < ylimit) {
    while (next < count && items[order[next]].Y <= s) Active[size_t(ActiveCount++)].Edge = order[next++];
    // Advance the active edges, dropping those that ended; count inversions.
    int32_t kept = 0, inversions = 0;
    int32_t maxX = -2147483647 - 1;
    for (int32_t i = 0; i < ActiveCount; ++i) {
      const TOutlineItem& e = items[Active[size_t(i)].Edge];
      const int64_t dy = s - e.Y;
      if (dy >= int64_t(std::abs(int64_t(e.DY)))) continue;
      const float d = float((double(dy) + 0.5) * double(e.Slope));
      int64_t x = int64_t(e.X) + int64_t(std::nearbyint(d));
      x = std::clamp<int64_t>(x, -2147483647, 2147483647);
      TActive& a = Active[size_t(kept++)];
      a.Edge = Active[size_t(i)].Edge;
      a.X = int32_t(x);
      if (a.X < maxX) ++inversions;
      else maxX = a.X;
    }
    ActiveCount = kept;
    if (ActiveCount > 0) {
      if (inversions > 0) {
        auto less = [](const TActive& a, const TActive& b) { return a.X < b.X; };
        if (inversions < 5) {
          // Nearly sorted: insertion moves each stray edge a short way.
          for (int32_t i = 1; i < ActiveCount; ++i) {
            TActive v = Active[size_t(i)];
            int32_t j = i;
            while (j > 0 && less(v, Active[size_t(j - 1)])) {
              Active[size_t(j)] = Active[size_t(j - 1)];
              --j;
            }
            Active[size_t(j)] = v;
          }
        } else {
          std::sort(Active.begin(), Active.begin() + ActiveCount, less);
        }
      }
      int32_t cursor = 0, winding = 0, first = 1;
      for (int32_t i = 0; i < ActiveCount; ++i) {
        const int32_t x = Active[size_t(i)].X;
        const int32_t dir = items[Active[size_t(i)].Edge].DY < 0 ? -1 : 1;
        const int32_t m = std::min(x, XLimit);
        if (winding == 0) first = dir;
        if (cursor < m) {
          if (((winding * first) & FillMask) > 0) AddCoverage(cursor, m);
          cursor = m;
        }
        winding += dir;
        if (x >= XLimit) break;
      }
    } else if (next >= count) {
      break;
    }
    ++s;
    if ((s & 15) == 0 && MinTouched <= MaxTouched) FlushRow(Outline, int32_t((s - 1) >> 4));
  }
  if (MinTouched <= MaxTouched) FlushRow(Outline, int32_t(std::min<int64_t>(s, ylimit - 1) >> 4));
}

}  // namespace text
