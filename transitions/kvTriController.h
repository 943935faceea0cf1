// The effect controller: a grid of tiles laid over the transition area, each
// tile one batch of triangles for one piece of the image. Filters hand their
// triangles to tiles; the drawing side derives the controller and the tile.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "transitions/kvTriangler2.h"

namespace transitions {

using foundation::T3DPoint;
using foundation::TPoint;
using foundation::TRect;

using TTriangle = std::array<TTriVertex, 3>;
using TTriangle3D = std::array<T3DPoint, 3>;
using TColors3 = std::array<uint32_t, 3>;

class TEffController;
class TMultiTile;

class TEffTile : public foundation::TRefObject {
 public:
  TEffTile(TEffController* controller, const TRect& rect, TPoint cell)
      : Controller(controller), Rect(rect), Cell(cell) {}

  // Textured: the triangles sample the image handed to the tiles; ThreeD: a
  // textured 3-D batch (roll, overturn, two slides).
  virtual void BeginDraw(bool textured, bool threeD) = 0;
  // The image at the vertices' own positions, white, with the vertices' alpha.
  virtual void DrawTriangle(const TTriangle& vertices) = 0;
  virtual void DrawColoredTriangle(const TTriangle& vertices, const TColors3& colors) = 0;
  // The image triangle at the source positions onto the target triangle; each
  // source A is a grey level with full opacity.
  virtual void DrawMappedTriangle(const TTriangle& source, const TTriangle& target) = 0;
  virtual void DrawColoredTriangle3D(const TTriangle3D& points, const TColors3& colors) = 0;
  virtual void DrawMappedTriangle3D(const TTriangle& source, const TTriangle3D& target) = 0;
  virtual void EndDraw() = 0;

  TEffController* Controller;
  TRect Rect;
  TPoint Cell;
};

class TEffController : public foundation::TRefObject {
 public:
  void Dispose() override;
  virtual TEffTile* CreateTile(const TRect& rect, TPoint cell) = 0;
  // The rectangle all drawing is clipped to.
  virtual void GetViewRect(TRect& r) = 0;

  void SetGrid(const float* columnEdges, int32_t columnCount, const float* rowEdges, int32_t rowCount);
  TEffTile* GetTile(int32_t column, int32_t row);
  void GetGridBounds(TRect& r) const;
  TMultiTile* GetWholeTile();
  void ClearTiles();

  TMultiTile* WholeTile = nullptr;
  std::vector<float> ColumnEdges;
  std::vector<float> RowEdges;
  int32_t ColumnCount = 0;
  int32_t RowCount = 0;
  std::vector<std::vector<TEffTile*>> Tiles;  // [column][row]
};

// One tile over the whole grid: triangles in picture coordinates are cut at
// the grid lines and handed to the cell tiles when the batch ends.
class TMultiTile : public TEffTile {
 public:
  explicit TMultiTile(TEffController* controller);
  void Dispose() override;

  void BeginDraw(bool textured, bool threeD) override;
  void DrawTriangle(const TTriangle& vertices) override;
  void DrawColoredTriangle(const TTriangle& vertices, const TColors3& colors) override;
  void DrawMappedTriangle(const TTriangle& source, const TTriangle& target) override;
  void DrawColoredTriangle3D(const TTriangle3D& points, const TColors3& colors) override;
  void DrawMappedTriangle3D(const TTriangle& source, const TTriangle3D& target) override;
  void EndDraw() override;

  TEffController* Grid;
  T2DSeparator* Separator = nullptr;
};

// Hands every piece of a cell to a tile as a triangle fan anchored at the
// piece's first vertex (P0, Pk-1, Pk).
template <class Fn>
void ForEachFanTriangle(const TPolygonSet& pieces, Fn&& fn) {
  for (int32_t p = 0; p < pieces.PolygonCount; ++p) {
    const int32_t start = pieces.PolygonStart(p), end = pieces.Ends[p];
    for (int32_t k = start + 2; k < end; ++k)
      fn(TTriangle{pieces.Vertices[start], pieces.Vertices[k - 1], pieces.Vertices[k]});
  }
}

}  // namespace transitions
