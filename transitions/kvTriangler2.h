// Polygon separators: cut convex polygons along a sorted list of edges (one
// axis), or along row edges and then column edges (a tile grid), collecting
// the pieces per cell. Every cut interpolates the other coordinate and the
// vertex value A linearly, so ramps continue seamlessly across cell borders.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/SysObj.h"

namespace transitions {

// A vertex of an effect triangle: position in pixels of the transition area
// and a value A (0..255) that is an alpha or a brightness.
struct TTriVertex {
  float X = 0, Y = 0, A = 0;
};

// The pieces collected for one cell: polygon i runs from the previous end (0
// for the first) up to but excluding Ends[i].
struct TPolygonSet {
  std::vector<TTriVertex> Vertices;
  int32_t VertexCount = 0;
  std::vector<int32_t> Ends;
  int32_t PolygonCount = 0;

  void AddVertex(const TTriVertex& v) {
    if (VertexCount >= int32_t(Vertices.size())) Grow();
    Vertices[VertexCount++] = v;
  }
  // Ends a polygon when vertices were added since the last end.
  void ClosePolygon();
  // Keeps the capacity, so that steady drawing never allocates.
  void Clear() {
    VertexCount = 0;
    PolygonCount = 0;
  }
  int32_t PolygonStart(int32_t i) const { return i == 0 ? 0 : Ends[i - 1]; }
  // Copies the used part into this set, reusing its capacity.
  void Assign(const TPolygonSet& other);

 private:
  void Grow();
};

class TXSeparator : public foundation::TRefObject {
 public:
  // Edges: High + 1 ascending values; High (the number of intervals) >= 1.
  TXSeparator(const float* edges, int32_t high);

  void Split(const TTriVertex* vertices, int32_t first, int32_t last);
  void Clear();
  // True, with the cell, when every vertex lies strictly inside one interval:
  // the walk would then hand that cell the polygon unchanged.
  bool SingleCell(const TTriVertex* vertices, int32_t first, int32_t last, int32_t& cell);
  // Adds a polygon known to lie inside one cell as one piece.
  void AddWhole(int32_t cell, const TTriVertex* vertices, int32_t first, int32_t last);

  int32_t Count() const { return count_; }
  const TPolygonSet& Cell(int32_t k) const { return cells_[k]; }

 protected:
  // Splits along Y instead of X (the row level of the 2-D separator).
  bool alongY_ = false;
  // Walks one closed polygon, adding its pieces to the cells without ending them.
  void Walk(const TTriVertex* vertices, int32_t first, int32_t last);
  std::vector<TPolygonSet> cells_;
  int32_t TouchedLo() const { return touchedLo_; }
  int32_t TouchedHi() const { return touchedHi_; }

 private:
  float Coord(const TTriVertex& v) const { return alongY_ ? v.Y : v.X; }
  int32_t FindZone(float c);
  void MoveTo(const TTriVertex& v, int32_t zone, bool emitVertex);
  void Emit(const TTriVertex& v, int32_t zone);
  void ClosePolygons();
  void Touch(int32_t k) {
    if (k < touchedLo_) touchedLo_ = k;
    if (k > touchedHi_) touchedHi_ = k;
  }

  std::vector<float> edges_;  // sentinel, e0..eN, sentinel
  int32_t count_ = 0;
  TTriVertex current_;
  // The cells the walk under way reached, lowest and highest: a convex
  // polygon's pieces lie in one run of cells, so only those need closing.
  int32_t touchedLo_ = 0, touchedHi_ = -1;
  int32_t zone_ = 0;
  int32_t emitted_ = 0;
  int32_t search_ = 0;  // interval index into edges_ (between edges_[j] and edges_[j+1]), kept between walks
};

class T2DSeparator : public TXSeparator {
 public:
  T2DSeparator(const float* columnEdges, int32_t columnHigh, const float* rowEdges, int32_t rowHigh);
  void Dispose() override;

  void AddPolygon(const TTriVertex* vertices, int32_t high, int32_t first, int32_t last);
  void Clear();
  void GetCell(int32_t column, int32_t row, TPolygonSet& pieces) const;
  // The pieces of a cell without copying them.
  const TPolygonSet& CellPieces(int32_t column, int32_t row) const { return rowSplitters_[row]->Cell(column); }
  int32_t ColumnHigh() const { return columnHigh_; }
  int32_t RowHigh() const { return rowHigh_; }

 private:
  std::vector<TXSeparator*> rowSplitters_;
  int32_t columnHigh_ = 0;
  int32_t rowHigh_ = 0;
};

}  // namespace transitions
