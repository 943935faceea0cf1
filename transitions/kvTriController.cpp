#include "transitions/kvTriController.h"

#include "foundation/kpExceptions.h"

namespace transitions {

void TEffController::Dispose() {
  ClearTiles();
  TRefObject::Dispose();
}

void TEffController::ClearTiles() {
  for (auto& column : Tiles)
    for (TEffTile*& t : column) {
      if (t) t->Free();
      t = nullptr;
    }
  if (WholeTile) {
    TMultiTile* w = WholeTile;
    WholeTile = nullptr;
    w->Free();
  }
}

void TEffController::SetGrid(const float* columnEdges, int32_t columnCount, const float* rowEdges,
                             int32_t rowCount) {
  ClearTiles();
  if (columnCount < 0) columnCount = 0;
  if (rowCount < 0) rowCount = 0;
  ColumnCount = columnCount;
  RowCount = rowCount;
  if (columnEdges)
    ColumnEdges.assign(columnEdges, columnEdges + columnCount + 1);
  else
    ColumnEdges.assign(size_t(columnCount) + 1, 0.0f);
  if (rowEdges)
    RowEdges.assign(rowEdges, rowEdges + rowCount + 1);
  else
    RowEdges.assign(size_t(rowCount) + 1, 0.0f);
  Tiles.assign(size_t(columnCount), std::vector<TEffTile*>(size_t(rowCount), nullptr));
}

TEffTile* TEffController::GetTile(int32_t column, int32_t row) {
  QEL_ASSERT(column >= 0 && column < ColumnCount && row >= 0 && row < RowCount,
             "TEffController.GetTile: cell outside the grid");
  TEffTile*& t = Tiles[column][row];
  if (!t) {
    TRect r{int32_t(ColumnEdges[column]), int32_t(RowEdges[row]), int32_t(ColumnEdges[column + 1]),
            int32_t(RowEdges[row + 1])};
    t = CreateTile(r, TPoint{column, row});
  }
  return t;
}

void TEffController::GetGridBounds(TRect& r) const {
  if (ColumnCount == 0 || RowCount == 0) {
    r = TRect{};
    return;
  }
  r = TRect{int32_t(ColumnEdges.front()), int32_t(RowEdges.front()), int32_t(ColumnEdges.back()),
            int32_t(RowEdges.back())};
}

TMultiTile* TEffController::GetWholeTile() {
  if (!WholeTile) WholeTile = new TMultiTile(this);
  return WholeTile;
}

namespace {
TRect BoundsOf(TEffController* c) {
  QEL_ASSERT(c != nullptr, "TMultiTile needs a controller");
  TRect r;
  c->GetGridBounds(r);
  return r;
}
}  // namespace

TMultiTile::TMultiTile(TEffController* controller)
    : TEffTile(controller, BoundsOf(controller), TPoint{0, 0}), Grid(controller) {
  Separator = new T2DSeparator(controller->ColumnEdges.data(), controller->ColumnCount,
                               controller->RowEdges.data(), controller->RowCount);
}

void TMultiTile::Dispose() {
  if (Separator) Separator->Free();
  Separator = nullptr;
  TEffTile::Dispose();
}

void TMultiTile::BeginDraw(bool, bool) { Separator->Clear(); }

void TMultiTile::DrawTriangle(const TTriangle& vertices) { Separator->AddPolygon(vertices.data(), 2, 0, 2); }

void TMultiTile::DrawColoredTriangle(const TTriangle&, const TColors3&) { QEL_ASSERT(false, "Not Supported Yet"); }
void TMultiTile::DrawMappedTriangle(const TTriangle&, const TTriangle&) { QEL_ASSERT(false, "Not Supported Yet"); }
void TMultiTile::DrawColoredTriangle3D(const TTriangle3D&, const TColors3&) {
  QEL_ASSERT(false, "Not Supported Yet");
}
void TMultiTile::DrawMappedTriangle3D(const TTriangle&, const TTriangle3D&) {
  QEL_ASSERT(false, "Not Supported Yet");
}

void TMultiTile::EndDraw() {
  const int32_t rows = Separator->RowHigh(), columns = Separator->ColumnHigh();
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      const TPolygonSet& pieces = Separator->CellPieces(c, r);
      TEffTile* tile = Grid->GetTile(c, r);
      tile->BeginDraw(true, false);
      ForEachFanTriangle(pieces, [tile](const TTriangle& t) { tile->DrawTriangle(t); });
      tile->EndDraw();
    }
  Separator->Clear();
}

}  // namespace transitions
