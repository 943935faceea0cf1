#include "transitions/kvDrawEffects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "RecordingController.h"
#include "foundation/kpExceptions.h"

using namespace transitions;
using namespace transitions_test;
using foundation::TRef;

namespace {
constexpr double kPi = 3.14159265358979323846;

TRef<RecordingController> OneCell(float w, float h) {
  auto c = TRef<RecordingController>::Adopt(new RecordingController);
  c->SetEdges({0, w}, {0, h});
  return c;
}

template <class F>
void Start(F* f, const TRect& r, float position, float edge = 20) {
  f->Init(r, 1, edge);
  f->DrawRect = r;
  f->SetPosition(position);
}

float CoverageOf(TArrow& arrow, float x, float y) {
  TTriVertex v{x, y, 0};
  arrow.CoverageAt(v);
  return 255 - v.A;
}
}  // namespace

TEST(ArrowCurve, IntegerSCurve) {
  EXPECT_EQ(ArrowCurve.V[0], 0);
  EXPECT_EQ(ArrowCurve.V[127], 126);
  EXPECT_EQ(ArrowCurve.V[128], 129);
  EXPECT_EQ(ArrowCurve.V[255], 255);
  EXPECT_EQ(BroomCurve.V[64], 32);
  // Positions outside the table take its nearest end instead of reading past it.
  EXPECT_EQ(CurveAt(ArrowCurve, -1e9f), 0);
  EXPECT_EQ(CurveAt(ArrowCurve, 1e9f), 255);
  EXPECT_EQ(CurveAt(ArrowCurve, NAN), 0);
  EXPECT_EQ(CurveAt(ArrowCurve, 127.5f), 129) << "halves round to even (128)";
}

TEST(TArrow, CoverageFieldQuarterTurn) {
  auto arrow = TRef<TArrow>::Adopt(new TArrow({0, 600, 0, 800}, 400, 300, 20));
  arrow->Generate(float(kPi / 2));
  EXPECT_EQ(CoverageOf(*arrow, 600, 100), 255) << "inside the swept quarter";
  EXPECT_EQ(CoverageOf(*arrow, 200, 100), 0) << "left of 12 o'clock";
  EXPECT_EQ(CoverageOf(*arrow, 600, 500), 0) << "past the hand";
  // On the 12 o'clock line: the start band's middle, curve entry 128.
  EXPECT_EQ(CoverageOf(*arrow, 400, 100), 129);
  // Points far outside both bands stay within range (the index is clamped).
  for (float x : {-1e6f, 1e6f})
    for (float y : {-1e6f, 1e6f}) {
      const float c = CoverageOf(*arrow, x, y);
      EXPECT_GE(c, 0);
      EXPECT_LE(c, 255);
    }
}

TEST(TArrow, HandAtNinetyDegreesKeepsTheBandRamp) {
  auto arrow = TRef<TArrow>::Adopt(new TArrow({0, 600, 0, 800}, 400, 300, 20));
  arrow->Generate(1.5707964f);
  EXPECT_GT(std::fabs(arrow->TanAngle), 1e6);
  // Across the hand band (nearly horizontal through the centre, right of the
  // start band) the coverage rises from 0 below to 255 above.
  float last = -1;
  for (float y = 312; y >= 288; y -= 4) {
    const float c = CoverageOf(*arrow, 700, y);
    EXPECT_GE(c, last);
    last = c;
  }
  EXPECT_EQ(CoverageOf(*arrow, 700, 320), 0);
  EXPECT_EQ(CoverageOf(*arrow, 700, 280), 255);
}

TEST(TArrow, SpecialAngles) {
  auto arrow = TRef<TArrow>::Adopt(new TArrow({0, 100, 0, 100}, 50, 50, 0));
  EXPECT_FLOAT_EQ(arrow->EdgeWidth, 0.001f);
  int count = 0;
  arrow->OnTriangle = [&](const TTriVertex& a, const TTriVertex& b, const TTriVertex& c) {
    ++count;
    for (const TTriVertex* v : {&a, &b, &c}) EXPECT_EQ(v->A, 0);
  };
  arrow->Generate(0);
  EXPECT_EQ(count, 0);
  arrow->Generate(float(2 * kPi));
  EXPECT_EQ(count, 2);
  arrow->OnTriangle = nullptr;
  arrow->Generate(float(kPi));
  EXPECT_EQ(arrow->Angle, 3.1415915f);
}

TEST(TClockEffect, MirrorReflectsAboutTheMiddle) {
  auto normal = OneCell(800, 600), mirrored = OneCell(800, 600);
  auto a = TRef<TClockEffect>::Adopt(new TClockEffect(0.5f, 0.5f, false));
  auto b = TRef<TClockEffect>::Adopt(new TClockEffect(0.5f, 0.5f, true));
  Start(a.Get(), {0, 0, 800, 600}, 0.3f);
  Start(b.Get(), {0, 0, 800, 600}, 0.3f);
  a->Draw(normal.Get());
  b->Draw(mirrored.Get());
  auto na = normal->AllOps(OpKind::Tri), mb = mirrored->AllOps(OpKind::Tri);
  ASSERT_EQ(na.size(), mb.size());
  ASSERT_GT(na.size(), 800u) << "the crossing region alone has 800 triangles";
  for (size_t i = 0; i < na.size(); ++i) {
    // The separator may start a piece at another vertex; compare as sets.
    for (int k = 0; k < 3; ++k) {
      bool found = false;
      for (int m = 0; m < 3; ++m)
        found |= std::fabs(mb[i]->v[m].X - (800 - na[i]->v[k].X)) < 1e-3 && mb[i]->v[m].Y == na[i]->v[k].Y &&
                 mb[i]->v[m].A == na[i]->v[k].A;
      EXPECT_TRUE(found) << i;
    }
  }
}

TEST(TClockEffect, RestartWithAnotherRectangleRebuildsTheArrow) {
  auto c = OneCell(400, 400);
  auto f = TRef<TClockEffect>::Adopt(new TClockEffect(0.5f, 0.5f, false));
  Start(f.Get(), {0, 0, 800, 600}, 0.5f);
  f->Draw(c.Get());
  EXPECT_EQ(f->Arrow->CX, 400);
  Start(f.Get(), {0, 0, 400, 400}, 0.5f);
  f->Draw(c.Get());
  EXPECT_EQ(f->Arrow->CX, 200);
  EXPECT_EQ(f->Arrow->Area.Width, 400);
}

TEST(TBroomEffect, CodesAndPivots) {
  auto f = TRef<TBroomEffect>::Adopt(new TBroomEffect(11, 10));
  EXPECT_EQ(f->Direction, 3);
  EXPECT_TRUE(f->Reverse);
  auto right = TRef<TBroom>::Adopt(CreateBroom(2, {0, 600, 0, 800}, 0, 20));
  EXPECT_EQ(right->PivotX, 800);
  EXPECT_EQ(right->PivotY, 300);
  EXPECT_FLOAT_EQ(right->StartAngle, float(kPi - right->SoftAngle));
  EXPECT_FLOAT_EQ(right->SoftAngle, float(2 * std::atan(10.0 / 400)));
  EXPECT_EQ(CreateBroom(9, {0, 1, 0, 1}, 0, 1), nullptr);
}

TEST(TBroom, FanHasCoarseAndFineTriangles) {
  auto b = TRef<TBroom>::Adopt(CreateBroom(4, {0, 600, 0, 800}, 50, 20));
  int n = 0;
  b->OnTriangle = [&](const TTriVertex& p, const TTriVertex& q, const TTriVertex& r) {
    ++n;
    EXPECT_EQ(p.X, b->PivotX);
    EXPECT_FLOAT_EQ(p.A, (q.A + r.A) / 2);
  };
  b->Generate(1.0f);
  const int fine = int(b->SoftAngle / TBroom::kStep) + 10;
  EXPECT_GE(n, 100);
  EXPECT_LE(n, 100 + fine + 2);
}

TEST(TBroom, TwoLiveBroomsKeepTheirOwnWrap) {
  // The downward broom wraps past 2 pi; creating another broom afterwards
  // must not change how it sweeps.
  auto down = TRef<TBroom>::Adopt(CreateBroom(3, {0, 600, 0, 800}, 30, 20));
  std::vector<float> before, after;
  auto record = [](std::vector<float>& out) {
    return [&out](const TTriVertex& p, const TTriVertex& q, const TTriVertex& r) {
      out.insert(out.end(), {p.A, q.X, q.Y, q.A, r.A});
    };
  };
  const float angle = down->StartAngle + (down->EndAngle - down->StartAngle) * 0.6f;
  down->OnTriangle = record(before);
  down->Generate(angle);
  auto up = TRef<TBroom>::Adopt(CreateBroom(1, {0, 600, 0, 800}, 30, 20));
  EXPECT_FALSE(up->Wraps);
  down->OnTriangle = record(after);
  down->Generate(angle);
  EXPECT_TRUE(down->Wraps);
  EXPECT_EQ(before, after);
  // The wrap matters: samples below pi are taken a turn later, so at 60 % of
  // the sweep the right half of the circle is still unswept (without the
  // wrap every sample would lie behind the edge).
  size_t swept = 0, unswept = 0;
  for (size_t i = 0; i < after.size(); i += 5) {
    swept += after[i + 3] == 0;
    unswept += after[i + 3] == 255;
  }
  EXPECT_GT(swept, 10u);
  EXPECT_GT(unswept, 10u);
}

TEST(TRoller3, RangeAndFlatProjection) {
  auto r = TRef<TRoller3>::Adopt(new TRoller3(0, 0, 800, 600, 1, false, 1));
  r->SetRadius(10);
  float s, e;
  r->GetRange(s, e);
  EXPECT_FLOAT_EQ(s, -10);
  EXPECT_FLOAT_EQ(e, 800);
  r->Generate(100);
  struct Case {
    float x, want;
  } cases[] = {{50, 50}, {100, 100}, {float(100 + 5 * kPi), 110}, {float(100 + 10 * kPi), 100},
               {float(100 + 10 * kPi + 20), 80}};
  for (const Case& c : cases) {
    const foundation::T3DPoint p = r->Project(c.x, 33);
    EXPECT_NEAR(p.X, c.want, 1e-3) << c.x;
    EXPECT_EQ(p.Y, 33);
    EXPECT_EQ(p.Z, 0);
  }
  auto left = TRef<TRoller3>::Adopt(new TRoller3(0, 0, 800, 600, 2, true, 1));
  left->SetRadius(10);
  left->GetRange(s, e);
  EXPECT_FLOAT_EQ(s, float(800 + 10 * kPi / 2));
  EXPECT_FLOAT_EQ(e, 0);
  EXPECT_DOUBLE_EQ(TRoller3::LiftAngle(10, 1, 0), kPi / 2) << "no solution";
}

TEST(TRollEffect2, SetUpFromTheFactoryValues) {
  struct Case {
    int radius, step;
  } cases[] = {{0, 3}, {150, 8}, {45, 4}, {20, 3}};
  for (const Case& c : cases) {
    auto ctl = OneCell(800, 600);
    auto f = TRef<TRollEffect2>::Adopt(new TRollEffect2(14, 1));
    f->RollRadius = c.radius;
    Start(f.Get(), {0, 0, 800, 600}, 0.5f);
    f->Draw(ctl.Get());
    EXPECT_EQ(f->RollRadius, std::max(c.radius, 2));
    EXPECT_EQ(f->Roller->FineStep, c.step);
  }
}

TEST(TRollEffect2, ColouredBackAndCellOrder) {
  auto ctl = TRef<RecordingController>::Adopt(new RecordingController);
  ctl->SetEdges({0, 200, 400, 800}, {0, 600});
  auto f = TRef<TRollEffect2>::Adopt(new TRollEffect2(14, 3));  // towards -x
  EXPECT_TRUE(f->MovingImage);
  f->RollRadius = 40;
  f->ColourBack = true;
  f->SetBackColour(0x000064C8);  // red 200, green 100, blue 0
  Start(f.Get(), {0, 0, 800, 600}, 0.5f);
  f->Draw(ctl.Get());
  ASSERT_EQ(ctl->Batches.size(), 6u);
  EXPECT_EQ(ctl->Batches[0].cell.X, 2) << "the rightmost column comes first";
  EXPECT_EQ(ctl->Batches[2].cell.X, 0);
  EXPECT_TRUE(ctl->Batches[0].threeD);
  EXPECT_FALSE(ctl->Batches[3].textured) << "the back side is a flat colour";
  auto coloured = ctl->AllOps(OpKind::Colored3D);
  ASSERT_FALSE(coloured.empty());
  // The colour of vertex brightness k is (R k >> 8, G k >> 8, B k >> 8) at
  // full alpha, k between 50 and 255: every colour drawn is one of those
  // (red 200 and green 100 at k 128 give 100 and 50).
  std::set<uint32_t> allowed;
  for (uint32_t k = 50; k <= 255; ++k) allowed.insert(0xFF000000u | (((200 * k) >> 8) << 16) | (((100 * k) >> 8) << 8));
  ASSERT_TRUE(allowed.count(0xFF643200u));
  std::set<uint32_t> seen;
  for (const RecOp* op : coloured)
    for (uint32_t col : op->colors) {
      EXPECT_TRUE(allowed.count(col)) << std::hex << col;
      seen.insert(col);
    }
  EXPECT_GT(seen.size(), 5u) << "the back side is shaded along the roll";
}

TEST(TRollEffect2, NewGridRebuildsTheCellMaps) {
  auto ctl = TRef<RecordingController>::Adopt(new RecordingController);
  ctl->SetEdges({0, 200, 400, 600, 800}, {0, 300, 600});
  auto f = TRef<TRollEffect2>::Adopt(new TRollEffect2(15, 2));
  f->RollRadius = 20;
  Start(f.Get(), {0, 0, 800, 600}, 0.4f);
  f->Draw(ctl.Get());
  EXPECT_EQ(f->ColumnMap.size(), 4u);
  ctl->SetEdges({0, 800}, {0, 600});
  ctl->Batches.clear();
  f->Draw(ctl.Get());  // would ask for column 3 of a one-column grid
  EXPECT_EQ(f->ColumnMap.size(), 1u);
  EXPECT_EQ(ctl->Batches.size(), 2u);
}

TEST(TOverturnEffect, CornersAndShade) {
  auto f = TRef<TOverturnEffect>::Adopt(new TOverturnEffect(2, 1, true, false));
  EXPECT_EQ(f->Kind, 6);
  foundation::T3DPoint p[4];
  f->PageCorners(kPi / 4, TRect{0, 0, 800, 600}, p);
  EXPECT_NEAR(p[0].X, 682.84, 0.01);
  EXPECT_NEAR(p[0].Z, -282.84, 0.01);
  EXPECT_NEAR(p[2].X, 117.16, 0.01);
  EXPECT_NEAR(p[2].Z, 282.84, 0.01);
  EXPECT_EQ(p[1].Y, 600);

  auto c = OneCell(800, 600);
  Start(f.Get(), {0, 0, 800, 600}, 0.5f);
  f->Draw(c.Get());
  auto ops = c->AllOps(OpKind::Mapped3D);
  ASSERT_EQ(ops.size(), 2u);
  for (const RecOp* op : ops)
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(op->v[i].A, 100) << "edge-on";
      EXPECT_NEAR(op->p3[i].X, 400, 1e-3);
    }
  auto bad = TRef<TOverturnEffect>::Adopt(new TOverturnEffect(5, 1, true, false));
  EXPECT_THROW(bad->Draw(c.Get()), foundation::EAssertionFailed);
}

TEST(TTwoSlidesEffect, HalfWayOffsetsAndReflection) {
  for (int dir : {1, 3}) {
    auto c = OneCell(800, 600);
    auto f = TRef<TTwoSlidesEffect>::Adopt(new TTwoSlidesEffect(dir, 0.5f, 0.25f, 0));
    Start(f.Get(), {0, 0, 800, 600}, 0.5f);
    f->Draw(c.Get());
    auto back = c->AllOps(OpKind::Mapped3D);
    auto front = OneCell(800, 600);
    f->Draw(front.Get());
    auto ops = front->AllOps(OpKind::Mapped3D);
    ASSERT_EQ(ops.size(), dir == 1 ? 4u : 2u) << "the reflection only for sideways movement";
    ASSERT_EQ(back.size(), ops.size());
    // Both pictures at their widest sideways offset, in opposite senses.
    const float along = dir == 1 ? 800 * 0.25f : 600 * 0.25f;
    const float d1 = dir == 1 ? ops[0]->p3[0].X - ops[0]->v[0].X : ops[0]->p3[0].Y - ops[0]->v[0].Y;
    const float d2 = dir == 1 ? back[0]->p3[0].X - back[0]->v[0].X : back[0]->p3[0].Y - back[0]->v[0].Y;
    EXPECT_NEAR(std::fabs(d1), along, 1e-3);
    EXPECT_NEAR(d1, -d2, 1e-3);
    if (dir == 1) {
      // Reflection: sources from 0.33 of the height down, mirrored below the bottom.
      EXPECT_NEAR(ops[2]->v[0].Y, 198, 1e-3);
      EXPECT_NEAR(ops[2]->p3[0].Y, 1002, 1e-3);
      EXPECT_NEAR(ops[2]->v[1].A, 128, 1e-3) << "half bright at the bottom edge";
      EXPECT_GE(ops[2]->v[0].A, 0) << "never below black";
    }
  }
  auto bad = TRef<TTwoSlidesEffect>::Adopt(new TTwoSlidesEffect(5, 0, 0, 0));
  auto c = OneCell(10, 10);
  Start(bad.Get(), {0, 0, 10, 10}, 0.5f);
  EXPECT_THROW(bad->Draw(c.Get()), foundation::EAssertionFailed);
}

TEST(TClockEffect, TessellationFollowsTheCoverageField) {
  // Interpolated alpha across the triangles against the field itself.
  for (float turn : {0.1f, 0.3f, 0.45f, 0.5f, 0.55f, 0.8f, 0.97f}) {
    SCOPED_TRACE(turn);
    auto c = OneCell(320, 240);
    auto f = TRef<TClockEffect>::Adopt(new TClockEffect(0.45f, 0.55f, false));
    Start(f.Get(), {0, 0, 320, 240}, turn, 24);
    f->Draw(c.Get());
    Coverage cov({0, 0, 320, 240}, 1);
    for (const RecOp* op : c->AllOps(OpKind::Tri)) cov.AddTri(op->v);
    double sum = 0, worst = 0;
    for (int j = 0; j < cov.h; ++j)
      for (int i = 0; i < cov.w; ++i) {
        const size_t k = size_t(j) * cov.w + i;
        ASSERT_EQ(cov.hits[k], 1);
        const double err = std::fabs(cov.value[k] - CoverageOf(*f->Arrow, cov.SX(i), cov.SY(j)));
        sum += err;
        worst = std::max(worst, err);
      }
    // Linear interpolation of the curve across a slice stays within a few
    // levels of the exact field.
    EXPECT_LT(sum / cov.hits.size(), 0.25);
    EXPECT_LT(worst, 16);
  }
}

TEST(TRollEffect2, EachFrameDependsOnlyOnItsPosition) {
  // A filter that has drawn other frames draws exactly what a fresh one
  // draws at the same position (nothing of an earlier frame is reused).
  auto record = [](TRollEffect2* f, const std::vector<float>& positions) {
    auto c = TRef<RecordingController>::Adopt(new RecordingController);
    c->SetEdges({0, 130.5f, 260, 400}, {0, 170.25f, 300});
    f->Init({0, 0, 400, 300}, 1, 10);
    f->DrawRect = TRect{0, 0, 400, 300};
    std::vector<float> out;
    for (float p : positions) {
      c->Batches.clear();
      f->SetPosition(p);
      f->Draw(c.Get());
    }
    for (const RecBatch& b : c->Batches)
      for (const RecOp& op : b.ops)
        for (int i = 0; i < 3; ++i) out.insert(out.end(), {op.v[i].X, op.v[i].Y, op.v[i].A, op.p3[i].X, op.p3[i].Y, op.p3[i].Z});
    return out;
  };
  for (int shape : {14, 15})
    for (bool lift : {false, true}) {
      auto make = [&] {
        auto* f = new TRollEffect2(shape, 2);
        f->RollRadius = 25;
        f->Lift = lift;
        return TRef<TRollEffect2>::Adopt(f);
      };
      auto fresh = make(), used = make();
      const std::vector<float> once = record(fresh.Get(), {0.6f});
      const std::vector<float> after = record(used.Get(), {0.2f, 0.35f, 0.6f});
      ASSERT_GT(once.size(), 100u);
      EXPECT_EQ(once, after) << shape << (lift ? " lifted" : "");
    }
}

TEST(TRoller3, LiftedRollMovesOnWithoutAJumpWhenItReachesTheSheet) {
  // Before the roll line reaches the sheet the lifted roll is turned about
  // the start edge by the remaining distance over the radius; as that
  // distance shrinks to 0 the roll must arrive where the unturned form has
  // it, not at its mirror image. At the start the turned roll lies beyond
  // the start edge, out of the picture.
  struct Case {
    int mode;
    float x, y;  // a sheet point a little past the start edge (or corner)
  } cases[] = {{1, 40, 100}, {2, 280, 100}, {3, 100, 200}, {4, 100, 40}, {5, 30, 30}, {8, 290, 210}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    auto r = TRef<TRoller3>::Adopt(new TRoller3(0, 0, 320, 240, c.mode, true, 1));
    r->SetRadius(30);
    r->MaxAngle = float(kPi);
    float rs, re;
    r->GetRange(rs, re);
    const double sx = r->DirX > 0 ? 1 : (r->DirX < 0 ? -1 : 0), sy = r->DirY > 0 ? 1 : (r->DirY < 0 ? -1 : 0);
    // Distance of a point past the start edge (or the start corner's line).
    auto past = [&](const foundation::T3DPoint& p) {
      if (!r->Diagonal()) return sx != 0 ? (p.X - r->StartX) * sx : (p.Y - r->StartY) * sy;
      return ((p.X - r->StartX) * sx + (p.Y - r->StartY) * sy) / std::sqrt(2.0);
    };
    // The roll line at which it reaches the sheet (the diagonal line is
    // named by its x, shifted by half the difference of the sides).
    const double s = sx != 0 ? sx : sy;
    const double reach = !r->Diagonal() ? (sx != 0 ? r->StartX : r->StartY) : r->StartX + sx * (320.0 - 240) / 2;
    r->Generate(float(reach - s * 0.01));
    const foundation::T3DPoint before = r->Project(c.x, c.y);
    r->Generate(float(reach + s * 0.01));
    const foundation::T3DPoint after = r->Project(c.x, c.y);
    EXPECT_GT(past(after), 1) << "the test point is on the roll";
    EXPECT_NEAR(before.X, after.X, 0.1);
    EXPECT_NEAR(before.Y, after.Y, 0.1);
    EXPECT_NEAR(before.Z, after.Z, 0.1);
    r->Generate(rs);
    EXPECT_LE(past(r->Project(c.x, c.y)), 0.01) << "the roll starts outside the sheet";
  }
}
