#include "transitions/kvTriangler2.h"

#include <gtest/gtest.h>

#include <cmath>

#include "foundation/kpExceptions.h"
#include "foundation/SysObj.h"

using namespace transitions;
using foundation::TRef;

namespace {

std::vector<TTriVertex> Piece(const TPolygonSet& s, int32_t p) {
  return {s.Vertices.begin() + s.PolygonStart(p), s.Vertices.begin() + s.Ends[p]};
}

void ExpectVertices(const std::vector<TTriVertex>& got, const std::vector<TTriVertex>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_FLOAT_EQ(got[i].X, want[i].X) << i;
    EXPECT_FLOAT_EQ(got[i].Y, want[i].Y) << i;
    EXPECT_FLOAT_EQ(got[i].A, want[i].A) << i;
  }
}

double PolyArea(const std::vector<TTriVertex>& p) {
  double a = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const TTriVertex &u = p[i], &v = p[(i + 1) % p.size()];
    a += double(u.X) * v.Y - double(v.X) * u.Y;
  }
  return std::fabs(a) / 2;
}

}  // namespace

TEST(TXSeparator, CutsTriangleAtEdgeWithInterpolatedValues) {
  const float edges[] = {0, 100, 200};
  auto sep = TRef<TXSeparator>::Adopt(new TXSeparator(edges, 2));
  const TTriVertex tri[] = {{50, 10, 0}, {150, 10, 255}, {50, 60, 0}};
  sep->Split(tri, 0, 2);
  ASSERT_EQ(sep->Cell(0).PolygonCount, 1);
  ASSERT_EQ(sep->Cell(1).PolygonCount, 1);
  ExpectVertices(Piece(sep->Cell(0), 0), {{50, 10, 0}, {100, 10, 127.5f}, {100, 35, 127.5f}, {50, 60, 0}});
  ExpectVertices(Piece(sep->Cell(1), 0), {{100, 10, 127.5f}, {150, 10, 255}, {100, 35, 127.5f}});
}

TEST(TXSeparator, VertexOnEdgeGoesToBothCellsUncut) {
  const float edges[] = {0, 100, 200};
  auto sep = TRef<TXSeparator>::Adopt(new TXSeparator(edges, 2));
  const TTriVertex tri[] = {{100, 0, 9}, {150, 50, 0}, {50, 50, 0}};
  sep->Split(tri, 0, 2);
  // Left piece: the edge vertex, the cut on the bottom side; right likewise.
  ExpectVertices(Piece(sep->Cell(0), 0), {{100, 0, 9}, {100, 50, 0}, {50, 50, 0}});
  ExpectVertices(Piece(sep->Cell(1), 0), {{100, 0, 9}, {150, 50, 0}, {100, 50, 0}});
}

TEST(TXSeparator, ClipsAtOuterEdgesAndDropsOutside) {
  const float edges[] = {0, 100, 200};
  auto sep = TRef<TXSeparator>::Adopt(new TXSeparator(edges, 2));
  const TTriVertex outside[] = {{-50, 0, 0}, {-10, 0, 0}, {-30, 40, 0}};
  sep->Split(outside, 0, 2);
  const TTriVertex beyond[] = {{250, 0, 0}, {300, 0, 0}, {260, 40, 0}};
  sep->Split(beyond, 0, 2);
  EXPECT_EQ(sep->Cell(0).VertexCount, 0);
  EXPECT_EQ(sep->Cell(1).VertexCount, 0);

  // A quad spanning all cells: pieces add up to the clipped area 200 x 10.
  const TTriVertex wide[] = {{-50, 0, 0}, {250, 0, 0}, {250, 10, 0}, {-50, 10, 0}};
  sep->Split(wide, 0, 3);
  double area = 0;
  for (int c = 0; c < 2; ++c) {
    ASSERT_EQ(sep->Cell(c).PolygonCount, 1);
    area += PolyArea(Piece(sep->Cell(c), 0));
  }
  EXPECT_DOUBLE_EQ(area, 2000);
}

TEST(TXSeparator, TwoPolygonsBetweenClearsAndCapacityKept) {
  const float edges[] = {0, 100, 200};
  auto sep = TRef<TXSeparator>::Adopt(new TXSeparator(edges, 2));
  const TTriVertex a[] = {{50, 10, 0}, {150, 10, 255}, {50, 60, 0}};
  const TTriVertex b[] = {{10, 10, 0}, {20, 10, 0}, {10, 20, 0}};
  sep->Split(a, 0, 2);
  sep->Split(b, 0, 2);
  EXPECT_EQ(sep->Cell(0).PolygonCount, 2);
  EXPECT_EQ(sep->Cell(1).PolygonCount, 1);
  EXPECT_EQ(sep->Cell(0).Ends[1] - sep->Cell(0).Ends[0], 3);
  const size_t cap = sep->Cell(0).Vertices.size();
  sep->Clear();
  EXPECT_EQ(sep->Cell(0).PolygonCount, 0);
  EXPECT_EQ(sep->Cell(0).VertexCount, 0);
  EXPECT_EQ(sep->Cell(0).Vertices.size(), cap);
}

TEST(TXSeparator, ZeroIntervalsIsAnAssertion) {
  const float edges[] = {0};
  EXPECT_THROW(new TXSeparator(edges, 0), foundation::EAssertionFailed);
}

TEST(T2DSeparator, SplitsByRowsThenColumns) {
  const float cols[] = {0, 100, 200}, rows[] = {0, 50, 100};
  auto sep = TRef<T2DSeparator>::Adopt(new T2DSeparator(cols, 2, rows, 2));
  // A square 40..160 x 20..80 with A rising along x: four pieces, 60 x 30 each.
  const TTriVertex quad[] = {{40, 20, 40}, {160, 20, 160}, {160, 80, 160}, {40, 80, 40}};
  sep->AddPolygon(quad, 3, 0, 3);
  double total = 0;
  TPolygonSet cell;
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 2; ++c) {
      sep->GetCell(c, r, cell);
      ASSERT_EQ(cell.PolygonCount, 1) << c << "," << r;
      auto piece = Piece(cell, 0);
      EXPECT_DOUBLE_EQ(PolyArea(piece), 60 * 30);
      total += PolyArea(piece);
      for (const TTriVertex& v : piece) {
        EXPECT_FLOAT_EQ(v.A, v.X) << "A follows x across both cuts";
        EXPECT_GE(v.X, c * 100);
        EXPECT_LE(v.X, c * 100 + 100);
        EXPECT_GE(v.Y, r * 50);
        EXPECT_LE(v.Y, r * 50 + 50);
      }
    }
  EXPECT_DOUBLE_EQ(total, 120 * 60);
  sep->Clear();
  sep->GetCell(1, 1, cell);
  EXPECT_EQ(cell.PolygonCount, 0);
}

TEST(TXSeparator, ExtremeCoordinatesStayInsideTheCells) {
  // A vertex exactly on the low sentinel lies "on the edge before e0": it
  // belongs to no cell, and the piece inside is clipped at e0 as usual.
  const float edges[] = {0, 100, 200};
  auto sep = TRef<TXSeparator>::Adopt(new TXSeparator(edges, 2));
  const TTriVertex tri[] = {{-3.4e38f, 0, 0}, {150, 0, 0}, {150, 40, 0}};
  sep->Split(tri, 0, 2);
  for (int c = 0; c < 2; ++c) {
    ASSERT_EQ(sep->Cell(c).PolygonCount, 1) << c;
    for (const TTriVertex& v : Piece(sep->Cell(c), 0)) {
      EXPECT_GE(v.X, c * 100.0f);
      EXPECT_LE(v.X, c * 100.0f + 100);
    }
  }
}
