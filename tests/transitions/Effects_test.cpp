// Invariants every transition keeps, one table over all of them: the start
// shows only the outgoing picture and the end only the incoming one, values
// stay in range, every triangle stays in its tile, and where the effect is
// flat the triangles cover the picture without gaps or overlaps.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "RecordingController.h"
#include "transitions/kvDrawEffects.h"

using namespace transitions;
using namespace transitions_test;
using foundation::TRef;

namespace {

constexpr TRect kPicture{0, 0, 320, 240};
const std::vector<float> kCols{0, 100.5f, 213.7f, 320}, kRows{0, 90.25f, 240};
const double kProgress[] = {0, 0.02, 0.1, 0.25, 0.4999, 0.5, 0.73, 0.9, 0.98, 1};

enum class Family {
  Mask,       // alpha triangles over part of the picture, no overlaps
  FullMask,   // alpha triangles over all of the picture once (for t > 0)
  Slide,      // mapped tiles moved in the plane
  Push,       // as Slide, plus the outgoing picture through ApplyReverse
  Card,       // 3-D mapped tiles, flat at both ends (overturn)
  TwoSlides,  // two draws per frame; the second is flat at both ends
  Roll,       // 3-D sheet, flat where unrolled
};

struct EffectCase {
  std::string name;
  Family family;
  std::function<TDrawFilter*()> make;
  float endTolerance = 0.5f;  // alpha shortfall allowed at the end
};

TTriVertex AsVertex(const T3DPoint& p) { return {p.X, p.Y, 0}; }

std::vector<EffectCase> Cases() {
  std::vector<EffectCase> c;
  c.push_back({"crossfade", Family::FullMask, [] { return new TAlphaFilter; }});
  c.push_back({"circle", Family::Mask, [] { return new TCircleFilter(0.5f, 0.5f, false); }});
  c.push_back({"circle_outside", Family::Mask, [] { return new TCircleFilter(1.3f, -0.2f, false); }});
  c.push_back({"circle_reverse", Family::Mask, [] { return new TCircleFilter(0.3f, 0.6f, true); }});
  c.push_back({"hlines", Family::Mask, [] { return new THLines(0.5f, 0.5f); }});
  c.push_back({"vlines_reverse", Family::Mask, [] {
                 auto* f = new TVLines(0.2f, 0.5f);
                 f->Reverse = true;
                 return f;
               }});
  for (int kind : {8, 10})
    for (int dir = 1; dir <= 4; ++dir)
      c.push_back({"diag" + std::to_string(kind) + "_" + std::to_string(dir), Family::Mask,
                   [kind, dir] { return new TDiagLines(kind, dir); }});
  c.push_back({"rhomb", Family::Mask, [] { return new TRhombFilter(0.5f, 0.5f); }});
  c.push_back({"rhomb_outside", Family::Mask, [] { return new TRhombFilter(-0.5f, 1.5f); }});
  c.push_back({"square", Family::Mask, [] { return new TSquareFilter(0.5f, 0.5f); }});
  c.push_back({"square_corner", Family::Mask, [] { return new TSquareFilter(1.2f, 1.4f); }});
  c.push_back({"random", Family::Mask, [] {
                 auto* f = new TRandomFilter(7, 5, 4242);
                 f->Spread = 3;
                 return f;
               }});
  for (int dir = 1; dir <= 4; ++dir) {
    c.push_back({"slide" + std::to_string(dir), Family::Slide, [dir] { return new TSlideFilter(dir); }});
    c.push_back({"push" + std::to_string(dir), Family::Push, [dir] { return new TPushFilter(dir); }});
  }
  c.push_back({"clock", Family::FullMask, [] { return new TClockEffect(0.5f, 0.5f, false); }});
  c.push_back({"clock_mirror_offcentre", Family::FullMask, [] { return new TClockEffect(0.3f, 0.7f, true); }});
  for (int code : {1, 2, 3, 4, 5, 6, 7, 8, 11, 14})
    c.push_back({"broom" + std::to_string(code), Family::FullMask,
                 [code] { return new TBroomEffect(code, code == 2 ? 0.0f : 40.0f); }, 1.5f});
  for (int dir = 1; dir <= 4; ++dir)
    for (bool second : {false, true})
      c.push_back({"overturn" + std::to_string(dir) + (second ? "c" : ""), Family::Card,
                   [dir, second] { return new TOverturnEffect(dir, 0.8f, second, dir == 2); }});
  for (int dir = 1; dir <= 4; ++dir)
    c.push_back({"twoslides" + std::to_string(dir), Family::TwoSlides,
                 [dir] { return new TTwoSlidesEffect(dir, 0.5f, 0.3f, 20); }});
  for (int shape : {14, 15})
    for (int kind = 1; kind <= 8; ++kind)
      for (bool lift : {false, true})
        c.push_back({"roll" + std::to_string(shape) + "_" + std::to_string(kind) + (lift ? "L" : ""), Family::Roll,
                     [shape, kind, lift] {
                       auto* f = new TRollEffect2(shape, kind);
                       f->RollRadius = 30;
                       f->Lift = lift;
                       f->Perspective = 1;
                       f->FullTurn = kind % 2 == 0;
                       return f;
                     }});
  return c;
}

class Effects : public ::testing::TestWithParam<EffectCase> {};

// Every recorded triangle lies within its tile's cell (the tiles receive
// pieces cut at the grid lines, or their own clipped rectangle).
void ExpectInsideCells(const RecordingController& c) {
  for (const RecBatch& b : c.Batches) {
    ASSERT_TRUE(b.closed);
    const float l = kCols[b.cell.X], r = kCols[b.cell.X + 1], t = kRows[b.cell.Y], bt = kRows[b.cell.Y + 1];
    for (const RecOp& op : b.ops) {
      if (op.kind == OpKind::Colored3D) continue;
      for (const TTriVertex& v : op.v) {
        EXPECT_GE(v.X, std::floor(l) - 1e-3) << "cell " << b.cell.X << "," << b.cell.Y;
        EXPECT_LE(v.X, r + 1e-3);
        EXPECT_GE(v.Y, std::floor(t) - 1e-3);
        EXPECT_LE(v.Y, bt + 1e-3);
        EXPECT_GE(v.A, -1e-3);
        EXPECT_LE(v.A, 255 + 1e-3);
      }
    }
  }
}

Coverage Raster(const std::vector<const RecOp*>& ops, bool target) {
  Coverage cov(kPicture, 2);
  for (const RecOp* op : ops) {
    if (op->kind == OpKind::Mapped3D) {
      if (target) {
        cov.AddTri({AsVertex(op->p3[0]), AsVertex(op->p3[1]), AsVertex(op->p3[2])});
      } else {
        cov.AddTri(op->v);
      }
    } else if (op->kind == OpKind::Mapped && target) {
      cov.AddTri(op->target);
    } else {
      cov.AddTri(op->v);
    }
  }
  return cov;
}

int CountHits(const Coverage& cov, int n) {
  int k = 0;
  for (int h : cov.hits) k += h == n;
  return k;
}

void ExpectIdentity(const std::vector<const RecOp*>& ops, float brightness) {
  for (const RecOp* op : ops)
    for (int i = 0; i < 3; ++i) {
      const T3DPoint& q = op->p3[i];
      EXPECT_NEAR(q.X, op->v[i].X, 0.05);
      EXPECT_NEAR(q.Y, op->v[i].Y, 0.05);
      EXPECT_NEAR(q.Z, 0, 0.05);
      EXPECT_NEAR(op->v[i].A, brightness, 0.5);
    }
}

TEST_P(Effects, KeepTheInvariants) {
  const EffectCase& ec = GetParam();
  for (double t : kProgress) {
    SCOPED_TRACE("progress " + std::to_string(t));
    auto c = TRef<RecordingController>::Adopt(new RecordingController);
    c->SetEdges(kCols, kRows);
    auto f = TRef<TDrawFilter>::Adopt(ec.make());
    f->Init(kPicture, 2, 12);
    f->DrawRect = kPicture;
    f->SetPosition(float(t * 2));
    f->Draw(c.Get());
    ExpectInsideCells(*c);
    const int samples = int(Coverage(kPicture, 2).hits.size());

    switch (ec.family) {
      case Family::Mask:
      case Family::FullMask: {
        auto ops = c->AllOps(OpKind::Tri);
        Coverage cov = Raster(ops, false);
        EXPECT_EQ(CountHits(cov, 0) + CountHits(cov, 1), samples) << "overlapping triangles";
        if (ec.family == Family::FullMask && t > 0) {
          EXPECT_EQ(CountHits(cov, 1), samples) << "gaps";
        }
        float lowest = 255, highest = 0;
        for (size_t k = 0; k < cov.hits.size(); ++k) {
          const float a = cov.hits[k] ? cov.value[k] : 0;
          lowest = std::min(lowest, a);
          highest = std::max(highest, a);
        }
        // A reversed mask carries the outgoing picture, which it hides.
        const bool reversed = f->Reverse && !f->CrossFade;
        const double shownEnd = reversed ? 0 : 1, hiddenEnd = reversed ? 1 : 0;
        if (t == hiddenEnd) {
          EXPECT_LE(highest, ec.endTolerance) << "the mask is not empty where it must be";
        }
        if (t == shownEnd) {
          EXPECT_GE(lowest, 255 - ec.endTolerance) << "the mask is not full where it must be";
        }
        break;
      }
      case Family::Slide:
      case Family::Push: {
        auto ops = c->AllOps(OpKind::Mapped);
        Coverage src = Raster(ops, false);
        EXPECT_EQ(CountHits(src, 1), samples) << "the tiles' pieces cover the picture once";
        Coverage dst = Raster(ops, true);
        EXPECT_EQ(CountHits(dst, 2), 0);
        if (t == 0) {
          EXPECT_EQ(CountHits(dst, 0), samples) << "incoming visible at the start";
        }
        if (t == 1) {
          EXPECT_EQ(CountHits(dst, 1), samples) << "incoming not in place at the end";
        }
        if (ec.family == Family::Push) {
          auto* p = static_cast<TPushFilter*>(f.Get());
          auto out = TRef<RecordingController>::Adopt(new RecordingController);
          out->SetEdges(kCols, kRows);
          p->ApplyReverse();
          p->Draw(out.Get());
          p->ApplyReverse();
          Coverage both = Raster(out->AllOps(OpKind::Mapped), true);
          for (const RecOp* op : ops) both.AddTri(op->target);
          EXPECT_EQ(CountHits(both, 1), samples) << "the two pictures abut without gap or overlap";
          if (t == 0) {
            for (const RecOp* op : out->AllOps(OpKind::Mapped))
              for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(op->target[i].X, op->v[i].X) << "the outgoing picture stands still at the start";
                EXPECT_EQ(op->target[i].Y, op->v[i].Y);
              }
          }
        }
        break;
      }
      case Family::Card: {
        auto ops = c->AllOps(OpKind::Mapped3D);
        EXPECT_EQ(c->AllOps(OpKind::Colored).size(), 12u) << "the black background, two per tile";
        Coverage src = Raster(ops, false);
        EXPECT_EQ(CountHits(src, 1), samples);
        if (t == 0 || t == 1) ExpectIdentity(ops, 255);
        break;
      }
      case Family::TwoSlides: {
        auto first = c->AllOps(OpKind::Mapped3D);
        auto second = TRef<RecordingController>::Adopt(new RecordingController);
        second->SetEdges(kCols, kRows);
        f->Draw(second.Get());
        EXPECT_TRUE(second->AllOps(OpKind::Colored).empty()) << "black only before the first picture";
        auto ops = second->AllOps(OpKind::Mapped3D);
        std::vector<const RecOp*> main;
        for (const RecOp* op : ops)
          if (op->v[0].A == 255) main.push_back(op);
        Coverage src = Raster(main, false);
        EXPECT_EQ(CountHits(src, 1), samples);
        if (t == 0 || t == 1) {
          ExpectIdentity(main, 255);
          for (const RecOp* op : first)
            if (op->v[0].A == 255) {
              EXPECT_GT(op->p3[0].Z, 1) << "the other picture lies further back";
            }
        }
        break;
      }
      case Family::Roll: {
        auto ops = c->AllOps(OpKind::Mapped3D);
        Coverage src = Raster(ops, false);
        EXPECT_EQ(CountHits(src, 1), samples) << "front and back pieces cover the sheet once";
        const bool reversed = static_cast<TRollEffect2*>(f.Get())->Reverse;
        const bool flatEnd = reversed ? t == 0 : t == 1;
        const bool goneEnd = reversed ? t == 1 : t == 0;
        if (flatEnd) ExpectIdentity(ops, 255);
        if (goneEnd) {
          Coverage dst = Raster(ops, true);
          EXPECT_EQ(CountHits(dst, 0), samples) << "the sheet is rolled away";
        }
        break;
      }
    }
  }
}

// Degenerate set-ups (an empty rectangle, a position that is not a number, a
// grid without rows) never throw and never hand over a coordinate that is
// not finite.
TEST_P(Effects, DegenerateInputStaysFinite) {
  const EffectCase& ec = GetParam();
  struct Setup {
    const char* what;
    TRect rect;
    float position;
    std::vector<float> rows;
  } setups[] = {
      {"zero width", TRect{100, 0, 100, 240}, 1.0f, kRows},
      {"zero height", TRect{0, 120, 320, 120}, 1.0f, kRows},
      {"empty at the origin", TRect{0, 0, 0, 0}, 0.7f, kRows},
      {"position not a number", kPicture, std::nanf(""), kRows},
      {"grid without rows", kPicture, 1.0f, {0}},
  };
  for (const Setup& s : setups) {
    SCOPED_TRACE(s.what);
    auto c = TRef<RecordingController>::Adopt(new RecordingController);
    c->SetEdges(kCols, s.rows);
    auto f = TRef<TDrawFilter>::Adopt(ec.make());
    f->Init(s.rect, 2, 12);
    f->DrawRect = s.rect;
    f->SetPosition(s.position);
    EXPECT_TRUE(f->Position >= 0 && f->Position <= 2) << f->Position;
    for (int frame = 0; frame < 2; ++frame) {
      if (s.rows.size() < 2 && ec.family != Family::Roll) break;  // the whole-area tile needs a row
      ASSERT_NO_THROW(f->Draw(c.Get()));
      for (const RecBatch& b : c->Batches)
        for (const RecOp& op : b.ops)
          for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(std::isfinite(op.v[i].X) && std::isfinite(op.v[i].Y) && std::isfinite(op.v[i].A));
            ASSERT_TRUE(std::isfinite(op.target[i].X) && std::isfinite(op.target[i].Y));
            ASSERT_TRUE(std::isfinite(op.p3[i].X) && std::isfinite(op.p3[i].Y) && std::isfinite(op.p3[i].Z));
          }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllTransitions, Effects, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<EffectCase>& i) { return i.param.name; });

}  // namespace
