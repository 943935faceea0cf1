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
  // By Y, then by index: one 64-bit key per edge sorts both at once.
  keys_.resize(size_t(Count));
  for (int32_t i = 0; i < Count; ++i)
    keys_[size_t(i)] = (uint64_t(uint32_t(Items[size_t(i)].Y) ^ 0x80000000u) << 32) | uint32_t(i);
  std::sort(keys_.begin(), keys_.end());
  Order.resize(size_t(Count));
  for (int32_t i = 0; i < Count; ++i) Order[size_t(i)] = int32_t(uint32_t(keys_[size_t(i)]));
  Closed = true;
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

namespace {

// Rounds to the nearest integer, ties to even (the default rounding mode),
// without a library call: adding and removing 1.5 x 2^52 leaves the rounded
// value for any |v| below 2^51 (the build never reassociates floating point).
inline double RoundNearest(double v) {
  constexpr double k = 6755399441055744.0;
  return (v + k) - k;
}

}  // namespace

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
  int16_t* cov = Coverage.data();
  int32_t* runs = Runs.data();
  int32_t next = 0;
  int32_t active = 0;
  if (Active.size() < size_t(count)) Active.resize(size_t(count));
  TActive* act = Active.data();
  int64_t s = std::max<int64_t>(items[order[0]].Y, 0);
  MinTouched = 2147483647;
  MaxTouched = 0;
  const int32_t fillMask = FillMask, xlimit = XLimit;
  while (s < ylimit) {
    while (next < count && items[order[next]].Y <= s) {
      const TOutlineItem& e = items[order[next++]];
      TActive& a = act[active++];
      a.X0 = e.X;
      a.Y = e.Y;
      a.Height = uint32_t(e.DY < 0 ? -int64_t(e.DY) : int64_t(e.DY));
      a.Slope = e.Slope;
      a.Dir = e.DY < 0 ? -1 : 1;
    }
    // Advance the active edges, dropping those that ended; count inversions.
    int32_t kept = 0, inversions = 0;
    int32_t maxX = -2147483647 - 1;
    for (int32_t i = 0; i < active; ++i) {
      const TActive& e = act[i];
      const int64_t dy = s - e.Y;
      if (uint64_t(dy) >= e.Height) continue;
      // x at the middle of the sub-scanline: a single product, rounded.
      const float d = (float(dy) + 0.5f) * e.Slope;
      int64_t x = int64_t(e.X0) + int64_t(RoundNearest(double(d)));
      x = std::clamp<int64_t>(x, -2147483647, 2147483647);
      TActive& a = act[kept++];
      if (&a != &e) a = e;
      a.X = int32_t(x);
      if (a.X < maxX) ++inversions;
      else maxX = a.X;
    }
    active = kept;
    if (active > 0) {
      if (inversions > 0) {
        auto less = [](const TActive& a, const TActive& b) { return a.X < b.X; };
        if (inversions < 5) {
          // Nearly sorted: insertion moves each stray edge a short way.
          for (int32_t i = 1; i < active; ++i) {
            const TActive v = act[i];
            int32_t j = i;
            while (j > 0 && v.X < act[j - 1].X) {
              act[j] = act[j - 1];
              --j;
            }
            act[j] = v;
          }
        } else {
          std::sort(act, act + active, less);
        }
      }
      int32_t cursor = 0, winding = 0, first = 1;
      for (int32_t i = 0; i < active; ++i) {
        const int32_t x = act[i].X;
        const int32_t dir = act[i].Dir;
        const int32_t m = std::min(x, xlimit);
        if (winding == 0) first = dir;
        if (cursor < m) {
          if (((winding * first) & fillMask) > 0) {
            // Sub-pixel columns [cursor, m): partial end pixels directly,
            // whole pixels between as a run in the difference array.
            const int32_t p0 = cursor >> 4, p1 = (m - 1) >> 4;
            if (p0 == p1) {
              cov[p0] = int16_t(cov[p0] + (m - cursor));
            } else {
              cov[p0] = int16_t(cov[p0] + 16 - (cursor & 15));
              cov[p1] = int16_t(cov[p1] + ((m - 1) & 15) + 1);
              if (p1 > p0 + 1) {
                runs[p0 + 1] += 16;
                runs[p1] -= 16;
              }
            }
            if (p0 < MinTouched) MinTouched = p0;
            if (p1 > MaxTouched) MaxTouched = p1;
          }
          cursor = m;
        }
        winding += dir;
        if (x >= xlimit) break;
      }
    } else if (next >= count) {
      break;
    }
    ++s;
    if ((s & 15) == 0 && MinTouched <= MaxTouched) FlushRow(Outline, int32_t((s - 1) >> 4));
  }
  ActiveCount = active;
  if (MinTouched <= MaxTouched) FlushRow(Outline, int32_t(std::min<int64_t>(s, ylimit - 1) >> 4));
}

}  // namespace text
