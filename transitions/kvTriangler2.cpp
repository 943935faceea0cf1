#include "transitions/kvTriangler2.h"

#include "foundation/kpExceptions.h"

namespace transitions {

namespace {
constexpr float kLowSentinel = -3.4e38f;
constexpr float kHighSentinel = 3.4e38f;

template <class T>
void GrowTo(std::vector<T>& v, int32_t needed, int32_t minimum) {
  if (int32_t(v.size()) >= needed) return;
  size_t cap = v.empty() ? size_t(minimum) : v.size();
  while (cap < size_t(needed)) cap *= 2;
  v.resize(cap);
}
}  // namespace

void TPolygonSet::Grow() { GrowTo(Vertices, VertexCount + 1, 32); }

void TPolygonSet::ClosePolygon() {
  int32_t last = PolygonCount == 0 ? 0 : Ends[PolygonCount - 1];
  if (VertexCount <= last) return;
  GrowTo(Ends, PolygonCount + 1, 8);
  Ends[PolygonCount++] = VertexCount;
}

void TPolygonSet::Assign(const TPolygonSet& other) {
  GrowTo(Vertices, other.VertexCount, 32);
  GrowTo(Ends, other.PolygonCount, 8);
  for (int32_t i = 0; i < other.VertexCount; ++i) Vertices[i] = other.Vertices[i];
  for (int32_t i = 0; i < other.PolygonCount; ++i) Ends[i] = other.Ends[i];
  VertexCount = other.VertexCount;
  PolygonCount = other.PolygonCount;
}

TXSeparator::TXSeparator(const float* edges, int32_t high) {
  QEL_ASSERT(high >= 1, "TXSeparator needs at least one interval");
  count_ = high;
  edges_.resize(size_t(high) + 3);
  edges_[0] = kLowSentinel;
  for (int32_t i = 0; i <= high; ++i) edges_[i + 1] = edges[i];
  edges_[high + 2] = kHighSentinel;
  cells_.resize(size_t(high));
}

void TXSeparator::Clear() {
  for (TPolygonSet& c : cells_) c.Clear();
}

inline int32_t TXSeparator::FindZone(float c) {
  // Interval j of edges_ lies between edges_[j] and edges_[j + 1]; j = 0 is
  // before e0 and j = count_ + 1 after eN, so zone 2j is strictly inside it.
  const int32_t top = count_ + 1;
  while (edges_[search_] > c) {
    QEL_ASSERT(search_ > 0, "TXSeparator: coordinate below every edge");
    --search_;
  }
  while (edges_[search_ + 1] < c) {
    QEL_ASSERT(search_ < top, "TXSeparator: coordinate above every edge");
    ++search_;
  }
  const float g = edges_[search_], h = edges_[search_ + 1];
  if (c == g) return 2 * search_ - 1;
  if (c == h) return 2 * search_ + 1;
  QEL_ASSERT(g < c && c < h, "TXSeparator: coordinate is not a number");
  return 2 * search_;
}

inline void TXSeparator::Emit(const TTriVertex& v, int32_t zone) {
  ++emitted_;
  if ((zone & 1) == 0) {
    const int32_t k = zone / 2 - 1;
    if (k >= 0 && k < count_) {
      cells_[k].AddVertex(v);
      Touch(k);
    }
    return;
  }
  // On edge ek: cells k - 1 and k. Zone -1 (exactly on the low sentinel)
  // lies before every cell.
  const int32_t k = (zone - 1) / 2;
  if (k - 1 >= 0 && k - 1 < count_) {
    cells_[k - 1].AddVertex(v);
    Touch(k - 1);
  }
  if (k >= 0 && k < count_) {
    cells_[k].AddVertex(v);
    Touch(k);
  }
}

inline void TXSeparator::MoveTo(const TTriVertex& v, int32_t zone, bool emitVertex) {
  if (emitted_ > 0 && zone != zone_) {
    const int32_t step = zone > zone_ ? 1 : -1;
    if (zone_ & 1) zone_ += step;
    const int32_t goal = (zone & 1) ? zone - step : zone;
    if (zone_ != goal) {
      // Every edge between the two zones cuts the same segment (interpolated
      // from its lower end): its two slopes are worked out once, in one
      // paired division (each lane is the same IEEE division as on its own).
      const TTriVertex& a = current_;
      const TTriVertex& lo = Coord(a) <= Coord(v) ? a : v;
      const TTriVertex& hi = Coord(a) <= Coord(v) ? v : a;
      const double lc = Coord(lo), hc = Coord(hi);
      const double lo2 = alongY_ ? lo.X : lo.Y, hi2 = alongY_ ? hi.X : hi.Y;
      const double loA = lo.A;
      double dOther = 0, dA = 0;
      if (hc != lc) {
        typedef double Pair __attribute__((vector_size(16)));
        const Pair num = {hi2 - lo2, double(hi.A) - lo.A};
        const Pair den = {hc - lc, hc - lc};
        const Pair q = num / den;
        dOther = q[0];
        dA = q[1];
      }
      do {
        zone_ += step;
        const float edge = edges_[(zone_ - 1) / 2 + 1];
        const double run = double(edge) - lc;
        TTriVertex r;
        r.A = float(loA + run * dA);
        const float other = float(lo2 + run * dOther);
        if (alongY_) {
          r.Y = edge;
          r.X = other;
        } else {
          r.X = edge;
          r.Y = other;
        }
        Emit(r, zone_);
        zone_ += step;
      } while (zone_ != goal);
    }
  }
  if (!emitVertex) return;
  current_ = v;
  zone_ = zone;
  Emit(v, zone);
}

void TXSeparator::Walk(const TTriVertex* vertices, int32_t first, int32_t last) {
  if (last < first) return;
  emitted_ = 0;
  touchedLo_ = count_;
  touchedHi_ = -1;
  // search_ stays where the last polygon left it: the zone found does not
  // depend on where the search starts, and neighbouring polygons come one
  // after the other, so the walk to the first vertex's interval is short.
  int32_t firstZone = 0;
  for (int32_t i = first; i <= last; ++i) {
    const int32_t zone = FindZone(Coord(vertices[i]));
    if (i == first) firstZone = zone;
    MoveTo(vertices[i], zone, true);
  }
  // Back to the first vertex: closes the outline with the cut points on the way.
  MoveTo(vertices[first], firstZone, false);
}

bool TXSeparator::SingleCell(const TTriVertex* vertices, int32_t first, int32_t last, int32_t& cell) {
  if (last < first) return false;
  const int32_t zone = FindZone(Coord(vertices[first]));
  if (zone & 1) return false;
  const int32_t k = zone / 2 - 1;
  if (k < 0 || k >= count_) return false;
  const float lo = edges_[k + 1], hi = edges_[k + 2];
  for (int32_t i = first + 1; i <= last; ++i) {
    const float c = Coord(vertices[i]);
    if (!(c > lo && c < hi)) return false;
  }
  cell = k;
  return true;
}

void TXSeparator::AddWhole(int32_t cell, const TTriVertex* vertices, int32_t first, int32_t last) {
  TPolygonSet& s = cells_[cell];
  for (int32_t i = first; i <= last; ++i) s.AddVertex(vertices[i]);
  s.ClosePolygon();
}

void TXSeparator::ClosePolygons() {
  for (int32_t k = touchedLo_; k <= touchedHi_; ++k) cells_[k].ClosePolygon();
}

void TXSeparator::Split(const TTriVertex* vertices, int32_t first, int32_t last) {
  Walk(vertices, first, last);
  ClosePolygons();
}

T2DSeparator::T2DSeparator(const float* columnEdges, int32_t columnHigh, const float* rowEdges, int32_t rowHigh)
    : TXSeparator(rowEdges, rowHigh), columnHigh_(columnHigh), rowHigh_(rowHigh) {
  alongY_ = true;
  rowSplitters_.reserve(size_t(rowHigh));
  try {
    for (int32_t r = 0; r < rowHigh; ++r) rowSplitters_.push_back(new TXSeparator(columnEdges, columnHigh));
  } catch (...) {
    for (TXSeparator* s : rowSplitters_) s->Free();
    throw;
  }
}

void T2DSeparator::Dispose() {
  for (TXSeparator*& s : rowSplitters_) {
    if (s) s->Free();
    s = nullptr;
  }
  rowSplitters_.clear();
  TXSeparator::Dispose();
}

void T2DSeparator::AddPolygon(const TTriVertex* vertices, int32_t high, int32_t first, int32_t last) {
  // Most small triangles lie inside one cell: hand them over unchanged.
  int32_t row = 0, column = 0;
  if (SingleCell(vertices, first, last, row)) {
    TXSeparator* s = rowSplitters_[row];
    if (s->SingleCell(vertices, first, last, column))
      s->AddWhole(column, vertices, first, last);
    else
      s->Split(vertices, first, last);
    return;
  }
  Walk(vertices, first, last);
  // A row strip of a convex polygon is convex: each row cell is one polygon.
  for (int32_t r = TouchedLo(); r <= TouchedHi(); ++r) {
    TPolygonSet& cell = cells_[r];
    if (cell.VertexCount > 0) rowSplitters_[r]->Split(cell.Vertices.data(), 0, cell.VertexCount - 1);
    cell.Clear();
  }
}

void T2DSeparator::Clear() {
  for (TXSeparator* s : rowSplitters_) s->Clear();
}

void T2DSeparator::GetCell(int32_t column, int32_t row, TPolygonSet& pieces) const {
  pieces.Assign(rowSplitters_[row]->Cell(column));
}

}  // namespace transitions
