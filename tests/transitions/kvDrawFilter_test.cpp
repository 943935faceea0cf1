#include "transitions/kvDrawFilter.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "RecordingController.h"
#include "transitions/kvRandom.h"

using namespace transitions;
using namespace transitions_test;
using foundation::TRef;

namespace {

TRef<RecordingController> Grid(float w, float h) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, w / 2 + 0.3f, w}, {0, h / 3 + 0.6f, h});
  return c;
}

template <class F>
void Start(F* f, const TRect& r, float duration = 1, float edge = 20) {
  f->Init(r, duration, edge);
  f->DrawRect = r;
}

}  // namespace

TEST(TDrawFilter, InitAndClampedPosition) {
  auto f = TRef<TAlphaFilter>::Adopt(new TAlphaFilter);
  EXPECT_TRUE(f->CrossFade);
  f->Init({0, 0, 10, 10}, 0, 5);
  EXPECT_EQ(f->InvDuration, 0);
  f->SetPosition(3);
  EXPECT_EQ(f->Position, 0);
  EXPECT_EQ(f->Progress(), 0) << "a zero duration draws the start state";
  f->Init({0, 0, 10, 10}, 2, 5);
  EXPECT_EQ(f->InvDuration, 0.5);
  f->SetPosition(-1);
  EXPECT_EQ(f->Position, 0);
  f->SetPosition(7);
  EXPECT_EQ(f->Position, 2);
  f->Draw(nullptr);  // returns at once
  EXPECT_EQ(SafeReciprocal(0), 0);
  EXPECT_EQ(SqrDistance({1, 2}, {4, 6}), 25);
}

TEST(SoftEdge, CurveAndTable) {
  EXPECT_EQ(SoftEdgeCurve(0), 0);
  EXPECT_EQ(SoftEdgeCurve(255), 255);
  EXPECT_NEAR(SoftEdgeCurve(127.4f), 126.8f, 0.05);
  EXPECT_NEAR(SoftEdgeCurve(127.5f), 128.0f, 0.01);
  EXPECT_FLOAT_EQ(SoftEdgeX[14], 254.99998f);
  EXPECT_LT(SoftEdgeX[14], 255.0f);
  EXPECT_FLOAT_EQ(SoftEdgeX[7], 127.49999f);
  EXPECT_NEAR(SoftEdgeY[7], 127.00194f, 1e-4);
  for (int i = 1; i < 15; ++i) EXPECT_GT(SoftEdgeY[i], SoftEdgeY[i - 1]);
}

TEST(TAlphaFilter, HalfWayDrawsTwoTrianglesAtHalfAlpha) {
  auto c = Grid(800, 600);
  auto f = TRef<TAlphaFilter>::Adopt(new TAlphaFilter);
  Start(f.Get(), {0, 0, 800, 600}, 2);
  f->SetPosition(1);
  f->Reverse = true;  // no effect on the cross-fade
  f->Draw(c.Get());
  double area = 0;
  for (const RecOp* op : c->AllOps(OpKind::Tri)) {
    for (const TTriVertex& v : op->v) EXPECT_FLOAT_EQ(v.A, 127.5f);
    area += std::fabs(TriArea(op->v[0].X, op->v[0].Y, op->v[1].X, op->v[1].Y, op->v[2].X, op->v[2].Y));
  }
  EXPECT_NEAR(area, 800.0 * 600, 1e-3);
  EXPECT_EQ(c->Batches.size(), 4u) << "every cell gets its batch";
}

TEST(TCircleFilter, RadiusAndSegments) {
  auto f = TRef<TCircleFilter>::Adopt(new TCircleFilter(0.5f, 0.5f, false));
  f->Init({0, 0, 800, 600}, 1, 20);
  EXPECT_FLOAT_EQ(f->FarDistance, 500);
  EXPECT_EQ(f->Offset, 0);
  EXPECT_EQ(f->SegmentCount, 128);
  EXPECT_FLOAT_EQ(f->Radius, 520);

  auto g = TRef<TCircleFilter>::Adopt(new TCircleFilter(-0.5f, 0.5f, false));
  g->Init({0, 0, 800, 600}, 1, 20);
  EXPECT_FLOAT_EQ(g->Offset, 400);
  EXPECT_EQ(g->SegmentCount, 256);
  EXPECT_NEAR(g->FarDistance, std::sqrt(1200.0 * 1200 + 300 * 300), 1e-3);
}

TEST(TDiagLines, ModesAndMeasures) {
  struct Case {
    int kind, dir;
    uint8_t mode;
    bool flip, reverse;
    float topX, bottomX, radius;
  } cases[] = {
      {8, 1, 1, false, true, 700, 100, 720},   {8, 2, 1, false, false, 700, 100, 720},
      {8, 3, 1, true, true, 100, 700, 720},    {10, 1, 0, false, false, 0, -600, 1420},
      {10, 2, 2, false, false, 1400, 800, 1420}, {10, 4, 2, true, false, 800, 1400, 1420},
  };
  for (const Case& c : cases) {
    auto f = TRef<TDiagLines>::Adopt(new TDiagLines(c.kind, c.dir));
    f->Init({0, 0, 800, 600}, 1, 20);
    EXPECT_EQ(f->Mode, c.mode);
    EXPECT_EQ(f->Flip, c.flip);
    EXPECT_EQ(f->Reverse, c.reverse);
    EXPECT_FLOAT_EQ(f->TopX, c.topX);
    EXPECT_FLOAT_EQ(f->BottomX, c.bottomX);
    EXPECT_FLOAT_EQ(f->Radius, c.radius);
  }
}

TEST(TSquareAndRhomb, CentreInsideAndOutside) {
  auto s = TRef<TSquareFilter>::Adopt(new TSquareFilter(0.25f, 0.5f));
  s->Init({0, 0, 800, 400}, 1, 10);
  EXPECT_EQ(s->Offset, 0);
  EXPECT_FLOAT_EQ(s->Radius, 610);  // max(200, 600, 200 * 2, 200 * 2) + 10
  EXPECT_DOUBLE_EQ(s->Aspect, 0.5);
  auto corner = TRef<TSquareFilter>::Adopt(new TSquareFilter(-0.25f, -0.5f));
  corner->Init({0, 0, 800, 400}, 1, 10);
  EXPECT_FLOAT_EQ(corner->Offset, 200);  // min(200, 200 * 2)
  auto r = TRef<TRhombFilter>::Adopt(new TRhombFilter(1.5f, 0.5f));
  r->Init({0, 0, 800, 400}, 1, 10);
  EXPECT_FLOAT_EQ(r->Offset, 400);
  EXPECT_FLOAT_EQ(r->Radius, 10 + 1200 + 200 - 400);
}

namespace {
struct Band {
  float inner, outer, aIn, aOut;
  int index;
};
class BandProbe : public THLines {
 public:
  using THLines::THLines;
  void DrawBand(float inner, float outer, float aIn, float aOut, int32_t index) override {
    bands.push_back({inner, outer, aIn, aOut, index});
    THLines::DrawBand(inner, outer, aIn, aOut, index);
  }
  std::vector<Band> bands;
};
}  // namespace

TEST(TCommonFilter, BandsAreMergedToAtLeastTwoPixels) {
  auto c = Grid(800, 600);
  auto f = TRef<BandProbe>::Adopt(new BandProbe(0.5f, 0.5f));
  Start(f.Get(), {0, 0, 800, 600}, 1, 20);
  f->SetPosition(0.5f);
  f->Draw(c.Get());
  ASSERT_GE(f->bands.size(), 3u);
  EXPECT_EQ(f->bands[0].index, -1);
  EXPECT_EQ(f->bands[0].inner, 0);
  EXPECT_EQ(f->bands[0].aIn, 255);
  for (size_t i = 1; i < f->bands.size(); ++i) {
    EXPECT_EQ(f->bands[i].index, int(i) - 1);
    EXPECT_FLOAT_EQ(f->bands[i].inner, f->bands[i - 1].outer) << "bands are contiguous";
    if (i + 1 < f->bands.size()) {
      EXPECT_GT(f->bands[i].outer - f->bands[i].inner, 2);
    }
  }
  EXPECT_NEAR(f->bands.back().aOut, 0, 1e-3);
  EXPECT_LT(f->bands.size(), 15u);
}

TEST(TCommonFilter, EdgeBelowZeroStartsAtCentreWithCarriedCurve) {
  auto c = Grid(800, 600);
  auto f = TRef<BandProbe>::Adopt(new BandProbe(0.5f, 0.5f));
  Start(f.Get(), {0, 0, 800, 600}, 1, 100);
  // x = Radius x t = 10: the edge runs from -90 to 10.
  f->SetPosition(10 / f->Radius);
  f->Draw(c.Get());
  ASSERT_FALSE(f->bands.empty());
  EXPECT_EQ(f->bands[0].inner, 0);
  EXPECT_EQ(f->bands[0].index, 0);
  const float x = float(double(f->Radius) * (double(f->Position) * f->InvDuration));
  const float a = x - 100;
  EXPECT_FLOAT_EQ(f->bands[0].aIn, 255 - SoftEdgeCurve(-a * 255 / (x - a)));
}

TEST(TRandomFilter, CellsDelaysAndReproducibility) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 1000}, {0, 600});
  auto f = TRef<TRandomFilter>::Adopt(new TRandomFilter(4, 3, 99));
  f->Spread = 5;
  Start(f.Get(), {0, 0, 1000, 600});
  // Delays are the seeded stream, row by row, worked out here in exact
  // integer arithmetic: raw <- raw x 1664525 + 1013904223 (mod 2^32) from the
  // seed, delay = trunc(low 23 bits / 2^23 x limit), limit = Spread x 100.
  uint32_t raw = 99;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) {
      raw = raw * 1664525u + 1013904223u;
      const int32_t want = int32_t((uint64_t(raw & 0x7FFFFFu) * 500u) >> 23);
      EXPECT_EQ(f->Delays[j][i], want) << "cell " << j << "," << i;
    }
  // From seed 0 the first unit value is 1013904223 mod 2^23 / 2^23 =
  // 0.8668021, so a spread of 5 gives the first cell 433.
  auto first = TRef<TRandomFilter>::Adopt(new TRandomFilter(1, 1, 0));
  first->Spread = 5;
  Start(first.Get(), {0, 0, 1000, 600});
  EXPECT_EQ(first->Delays[0][0], 433);
  auto g = TRef<TRandomFilter>::Adopt(new TRandomFilter(4, 3, 99));
  g->Spread = 5;
  SetGlobalSeed(1);
  NextGlobalRandom();  // earlier draws do not leak into the pattern
  Start(g.Get(), {0, 0, 1000, 600});
  EXPECT_EQ(f->Delays, g->Delays);

  f->SetPosition(0);
  f->Draw(c.Get());
  EXPECT_EQ(c->CountOps(), 0u);
  f->SetPosition(1);
  f->Draw(c.Get());
  auto ops = c->AllOps(OpKind::Tri);
  ASSERT_EQ(ops.size(), 24u);
  EXPECT_FLOAT_EQ(ops[0]->v[1].X - ops[0]->v[0].X, 250);
  EXPECT_FLOAT_EQ(ops[0]->v[2].Y - ops[0]->v[0].Y, 200);
  for (const RecOp* op : ops)
    for (const TTriVertex& v : op->v) EXPECT_EQ(v.A, 255);
}

TEST(TRandomFilter, GridIsBoundedByTheTargetsPixelsAndACeiling) {
  // Grids a damaged show may ask for: no cell narrower than a pixel of the
  // target, never more than 256 cells a side, and the whole grid drawn at
  // the end (two triangles a cell).
  struct Row {
    int32_t cols, rows;
    TRect rect;
    int32_t wantCols, wantRows;
  } rows[] = {
      {2000000000, 2000000000, {0, 0, 640, 480}, 256, 256},
      {3000, 3000, {0, 0, 1920, 1080}, 256, 256},
      {2000000000, 7, {0, 0, 100, 50}, 100, 7},
      {5, 2000000000, {10, 20, 110, 60}, 5, 40},
      {4, 3, {0, 0, 2, 1}, 2, 1},
      {9, 9, {0, 0, 0, 0}, 1, 1},
      {-5, INT32_MIN, {0, 0, 640, 480}, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.cols) + "x" + std::to_string(r.rows));
    auto f = TRef<TRandomFilter>::Adopt(new TRandomFilter(r.cols, r.rows, 5));
    f->Spread = 0;
    Start(f.Get(), r.rect);
    EXPECT_EQ(f->Columns, r.wantCols);
    EXPECT_EQ(f->Rows, r.wantRows);
    ASSERT_EQ(f->Delays.size(), size_t(r.wantCols));
    for (const auto& column : f->Delays) EXPECT_EQ(column.size(), size_t(r.wantRows));
    auto c = TRef<RecordingController>::Adopt(new RecordingController);
    c->SetEdges({float(r.rect.Left), float(r.rect.Right)}, {float(r.rect.Top), float(r.rect.Bottom)});
    f->SetPosition(1);
    f->Draw(c.Get());
    EXPECT_EQ(c->AllOps(OpKind::Tri).size(), size_t(2 * r.wantCols * r.wantRows));
  }
}

TEST(TRandomFilter, SpreadZeroFadesAllCellsTogether) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 100}, {0, 100});
  auto f = TRef<TRandomFilter>::Adopt(new TRandomFilter(2, 2, 5));
  f->Spread = 0;
  Start(f.Get(), {0, 0, 100, 100});
  f->SetPosition(0.75f);  // p = Trunc(256 x 0.75 - 256) = -64
  f->Draw(c.Get());
  auto ops = c->AllOps(OpKind::Tri);
  ASSERT_EQ(ops.size(), 8u);
  for (const RecOp* op : ops) EXPECT_EQ(op->v[0].A, 255 - 64);
}

TEST(TRandomFilter, SpreadOutsideItsRangeIsHeldInside) {
  // A negative spread draws like 0 (no delay is negative); a huge one stays
  // within the integer delays and still ends with every cell opaque.
  struct Case {
    float spread, position;
    size_t triangles;  // on 2 x 2 cells
    float alpha;
  } cases[] = {{-5, 0.75f, 8, 255 - 64}, {-1e30f, 0.75f, 8, 255 - 64}, {NAN, 0.75f, 8, 255 - 64},
               {1e30f, 0, 0, 0},         {1e30f, 1, 8, 255}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.spread);
    auto c = TRef<RecordingController>::Adopt(new RecordingController);
    c->SetEdges({0, 100}, {0, 100});
    auto f = TRef<TRandomFilter>::Adopt(new TRandomFilter(2, 2, 5));
    f->Spread = k.spread;
    Start(f.Get(), {0, 0, 100, 100});
    for (const auto& column : f->Delays)
      for (int32_t d : column) EXPECT_GE(d, 0);
    f->SetPosition(k.position);
    f->Draw(c.Get());
    auto ops = c->AllOps(OpKind::Tri);
    ASSERT_EQ(ops.size(), k.triangles);
    for (const RecOp* op : ops) EXPECT_EQ(op->v[0].A, k.alpha);
  }
}

TEST(TRandomFilter, DrawsNothingWithoutDelaysForItsGrid) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 100}, {0, 100});
  auto f = TRef<TRandomFilter>::Adopt(new TRandomFilter(2, 2, 5));
  f->DrawRect = TRect{0, 0, 100, 100};
  f->Draw(c.Get());  // never initialised
  EXPECT_EQ(c->CountOps(), 0u);
  Start(f.Get(), {0, 0, 100, 100});
  f->SetPosition(1);
  f->Rows = 5;  // a grid the delays were not made for
  f->Draw(c.Get());
  EXPECT_EQ(c->CountOps(), 0u);
  f->Rows = 2;
  f->Draw(c.Get());
  EXPECT_EQ(c->AllOps(OpKind::Tri).size(), 8u);
}

TEST(TSlideAndPush, OffsetsAndReverse) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 400, 800}, {0, 600});
  auto s = TRef<TSlideFilter>::Adopt(new TSlideFilter(1));
  EXPECT_TRUE(s->MovingImage);
  Start(s.Get(), {0, 0, 800, 600});
  s->SetPosition(0.25f);
  s->Draw(c.Get());
  auto ops = c->AllOps(OpKind::Mapped);
  ASSERT_EQ(ops.size(), 4u);
  for (const RecOp* op : ops)
    for (int k = 0; k < 3; ++k) {
      EXPECT_FLOAT_EQ(op->target[k].X - op->v[k].X, -600);
      EXPECT_EQ(op->target[k].Y, op->v[k].Y);
      EXPECT_EQ(op->v[k].A, 255);
    }

  auto p = TRef<TPushFilter>::Adopt(new TPushFilter(1));
  Start(p.Get(), {0, 0, 800, 600});
  p->SetPosition(0.25f);
  p->ApplyReverse();
  EXPECT_EQ(p->Direction, 2);
  EXPECT_FLOAT_EQ(p->Position, 0.75f);
  c->Batches.clear();
  p->Draw(c.Get());
  ops = c->AllOps(OpKind::Mapped);
  ASSERT_FALSE(ops.empty());
  EXPECT_FLOAT_EQ(ops[0]->target[0].X - ops[0]->v[0].X, 200);
  p->ApplyReverse();
  EXPECT_EQ(p->Direction, 1);
  EXPECT_FLOAT_EQ(p->Position, 0.25f);
  auto q = TRef<TPushFilter>::Adopt(new TPushFilter(7));
  q->ApplyReverse();
  EXPECT_EQ(q->Direction, 7);
}

TEST(TSlideFilter, TilesOutsideTheViewAreSkipped) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 400, 800}, {0, 600});
  c->View = TRect{0, 0, 400, 600};
  auto s = TRef<TSlideFilter>::Adopt(new TSlideFilter(4));
  Start(s.Get(), {0, 0, 800, 600});
  s->SetPosition(0.5f);
  s->Draw(c.Get());
  ASSERT_EQ(c->Batches.size(), 1u);
  EXPECT_FLOAT_EQ(c->Batches[0].ops[0].target[0].Y, 300);
}

TEST(TSquareFilter, CentreBeyondACornerStillRevealsEverything) {
  // Beyond the bottom-right corner: horizontal distance 64, vertical 96 x 4/3
  // = 128. The offset is the smaller one, so the radius must grow by the
  // difference for the shape to reach the top edge at the end.
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 320}, {0, 240});
  auto f = TRef<TSquareFilter>::Adopt(new TSquareFilter(1.2f, 1.4f));
  Start(f.Get(), {0, 0, 320, 240}, 1, 12);
  EXPECT_FLOAT_EQ(f->Offset, 64);
  EXPECT_FLOAT_EQ(f->Radius, 12 + 448 - 64);
  f->SetPosition(1);
  f->Draw(c.Get());
  Coverage cov({0, 0, 320, 240}, 4);
  for (const RecOp* op : c->AllOps(OpKind::Tri)) cov.AddTri(op->v);
  for (size_t k = 0; k < cov.hits.size(); ++k) {
    ASSERT_EQ(cov.hits[k], 1) << k;
    ASSERT_GE(cov.value[k], 254.5f) << k;
  }
}

TEST(TCommonFilter, GeometryIsMappedFromRectToDrawRect) {
  // Computed in an 800 x 600 rectangle, drawn into 400 x 300 at (100, 50):
  // at the end the shape fills exactly the drawing rectangle.
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, 333.3f, 800}, {0, 600});
  auto f = TRef<THLines>::Adopt(new THLines(0.25f, 0.5f));
  f->Init({0, 0, 800, 600}, 1, 20);
  f->DrawRect = TRect{100, 50, 500, 350};
  f->SetPosition(1);
  f->Draw(c.Get());
  Coverage cov({0, 0, 800, 600}, 5);
  for (const RecOp* op : c->AllOps(OpKind::Tri)) cov.AddTri(op->v);
  for (int j = 0; j < cov.h; ++j)
    for (int i = 0; i < cov.w; ++i) {
      const float x = cov.SX(i), y = cov.SY(j);
      const size_t k = size_t(j) * cov.w + i;
      if (x > 100 && x < 500 && y > 50 && y < 350) {
        ASSERT_EQ(cov.hits[k], 1) << x << "," << y;
        ASSERT_FLOAT_EQ(cov.value[k], 255);
      }
      // The strips span the drawing rectangle's height only (sideways they
      // run on past it, as far as the farther side needs).
      if (y < 50 || y > 350) {
        ASSERT_EQ(cov.hits[k], 0) << x << "," << y;
      }
    }
}
