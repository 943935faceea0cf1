#include "transitions/kvTriController.h"

#include <gtest/gtest.h>

#include "RecordingController.h"
#include "foundation/kpExceptions.h"

using namespace transitions;
using namespace transitions_test;
using foundation::TRef;

TEST(TEffController, TileRectanglesTruncateTheEdges) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 511.7f, 1024}, {0, 300});
  TEffTile* a = c->GetTile(0, 0);
  TEffTile* b = c->GetTile(1, 0);
  EXPECT_EQ(a->Rect.Right, 511);
  EXPECT_EQ(b->Rect.Left, 511);
  EXPECT_EQ(b->Rect.Right, 1024);
  EXPECT_EQ(b->Cell.X, 1);
  EXPECT_EQ(c->GetTile(1, 0), b) << "tiles are created once";
  TRect g;
  c->GetGridBounds(g);
  EXPECT_EQ(g.Right, 1024);
  EXPECT_EQ(g.Bottom, 300);
  EXPECT_THROW(c->GetTile(2, 0), foundation::EAssertionFailed);
  EXPECT_THROW(c->GetTile(0, 1), foundation::EAssertionFailed);
  EXPECT_THROW(c->GetTile(-1, 0), foundation::EAssertionFailed);
}

TEST(TEffController, EmptyGridHasEmptyBounds) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetGrid(nullptr, 0, nullptr, 0);
  TRect g{1, 2, 3, 4};
  c->GetGridBounds(g);
  EXPECT_EQ(g.Left, 0);
  EXPECT_EQ(g.Right, 0);
  EXPECT_THROW(c->GetWholeTile(), foundation::EAssertionFailed);
}

TEST(TMultiTile, CutsAtExactEdgeAndVisitsEveryCellRowMajor) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 511.7f, 1024}, {0, 100, 200});
  TMultiTile* w = c->GetWholeTile();
  w->BeginDraw(false, true);  // both arguments are ignored
  w->DrawTriangle({TTriVertex{400, 10, 0}, {600, 10, 200}, {400, 60, 0}});
  w->EndDraw();
  ASSERT_EQ(c->Batches.size(), 4u);
  const int order[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(c->Batches[i].cell.X, order[i][0]);
    EXPECT_EQ(c->Batches[i].cell.Y, order[i][1]);
    EXPECT_TRUE(c->Batches[i].textured);
    EXPECT_FALSE(c->Batches[i].threeD);
    EXPECT_TRUE(c->Batches[i].closed);
  }
  // Left piece is a quad (2 fan triangles), right a triangle; row 1 is empty.
  ASSERT_EQ(c->Batches[0].ops.size(), 2u);
  ASSERT_EQ(c->Batches[1].ops.size(), 1u);
  EXPECT_TRUE(c->Batches[2].ops.empty());
  // The shared cut point sits at exactly 511.7 with the same A on both sides.
  const TTriangle& right = c->Batches[1].ops[0].v;
  EXPECT_FLOAT_EQ(right[0].X, 511.7f);
  EXPECT_NEAR(right[0].A, 111.7f, 1e-3);
  bool found = false;
  for (const RecOp& op : c->Batches[0].ops)
    for (const TTriVertex& v : op.v)
      if (v.X == right[0].X && v.Y == right[0].Y) found = v.A == right[0].A;
  EXPECT_TRUE(found);
  // Fan anchored at the first vertex of the piece.
  EXPECT_EQ(c->Batches[0].ops[0].v[0].X, c->Batches[0].ops[1].v[0].X);
}

TEST(TMultiTile, SameTriangleTwiceGivesTwoFansAndGridChangeRebuildsIt) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 100}, {0, 100});
  TMultiTile* w = c->GetWholeTile();
  const TTriangle t{TTriVertex{10, 10, 1}, {50, 10, 1}, {10, 50, 1}};
  w->BeginDraw(true, false);
  w->DrawTriangle(t);
  w->DrawTriangle(t);
  w->EndDraw();
  ASSERT_EQ(c->Batches.size(), 1u);
  EXPECT_EQ(c->Batches[0].ops.size(), 2u);

  c->SetEdges({0, 50, 100}, {0, 100});
  TMultiTile* w2 = c->GetWholeTile();
  EXPECT_EQ(w2->Separator->ColumnHigh(), 2);
  c->Batches.clear();
  w2->BeginDraw(true, false);
  w2->DrawTriangle(t);
  w2->EndDraw();
  EXPECT_EQ(c->Batches.size(), 2u);
}

TEST(TMultiTile, UnsupportedFormsAreAssertions) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 100}, {0, 100});
  TMultiTile* w = c->GetWholeTile();
  TTriangle t{};
  EXPECT_THROW(w->DrawMappedTriangle(t, t), foundation::EAssertionFailed);
  EXPECT_THROW(w->DrawColoredTriangle(t, TColors3{}), foundation::EAssertionFailed);
  EXPECT_THROW(w->DrawColoredTriangle3D(TTriangle3D{}, TColors3{}), foundation::EAssertionFailed);
  EXPECT_THROW(w->DrawMappedTriangle3D(t, TTriangle3D{}), foundation::EAssertionFailed);
  EXPECT_THROW(new TMultiTile(nullptr), foundation::EAssertionFailed);
}
