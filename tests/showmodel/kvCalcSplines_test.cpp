// Easing curves in formulas: the direct solver, the flattened pieces and the
// compiler's substitution of the one-argument form.
#include "showmodel/kvCalcSplines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "showmodel/kvCalc.h"

namespace {

using namespace showmodel;

class SplineTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterSplineGraph(); }
};

class TVarT : public TCalcFunc {
 public:
  explicit TVarT(double* v) : TCalcFunc("t", 0, false), v_(v) {}
  void Execute(TCalcStack& s) override { s.Push(*v_); }
  double* v_;
};

double tValue = 0;
TCalcFunc* ResolveT(void*, std::string_view text, int32_t start, int32_t count) {
  return text.substr(size_t(start), size_t(count)) == "t" ? new TVarT(&tValue) : nullptr;
}

struct Formula {
  TExpressionParser p;
  bool ok;
  explicit Formula(const std::string& text) {
    p.Text = text;
    ok = Compile(p, 0, int32_t(text.size()), TCalcResolver{ResolveT, nullptr});
  }
  double At(double t) {
    tValue = t;
    TCalcStack s;
    Evaluate(p.Commands, s);
    EXPECT_EQ(s.Count, 1);
    return s.Top;
  }
};

// The curve's x and y at parameter u, by the Bernstein form in double.
double Bez(double u, double a, double b) { return 3 * (1 - u) * (1 - u) * u * a + 3 * (1 - u) * u * u * b + u * u * u; }
// y at x, by bisection on u (x grows with u for the curves used here).
double Reference(double x, double x1, double y1, double x2, double y2) {
  double lo = 0, hi = 1;
  for (int i = 0; i < 100; ++i) {
    const double mid = (lo + hi) / 2;
    (Bez(mid, x1, x2) < x ? lo : hi) = mid;
  }
  return Bez((lo + hi) / 2, y1, y2);
}

TEST_F(SplineTest, TheDiagonalMapsEveryTimeToItself) {
  Formula direct("QSplineGraph(t+0, 0.25, 0.25, 0.75, 0.75) + 0*t");
  Formula flat("QSplineGraph(t, 0.25, 0.25, 0.75, 0.75)");
  ASSERT_TRUE(direct.ok);
  ASSERT_TRUE(flat.ok);
  for (double t : {0.0, 0.1, 0.33, 0.5, 0.77, 1.0}) {
    EXPECT_NEAR(flat.At(t), t, 1e-5) << t;
    EXPECT_NEAR(direct.At(t), t, 1e-5) << t;
  }
}

TEST_F(SplineTest, EaseInOutFollowsTheCurveInBothForms) {
  Formula flat("QSplineGraph(t, 0.42, 0, 0.58, 1)");
  ASSERT_TRUE(flat.ok);
  // With a variable first argument and constant control points the call
  // becomes the one-argument curve.
  ASSERT_EQ(flat.p.Commands.Count, 2);
  EXPECT_EQ(flat.p.Commands.Items[1].Op, opCall + 1);
  EXPECT_EQ(flat.p.Commands.Items[1].Func->Name, "QSplineGraph-opt(0.42:0;0.58:1)");
  // A control value from a variable keeps the direct call.
  Formula direct("QSplineGraph(t, 0.42, 0*t, 0.58, 1)");
  ASSERT_TRUE(direct.ok);
  EXPECT_EQ(direct.p.Commands.Items[direct.p.Commands.Count - 1].Func->Name, "QSplineGraph");
  for (double t : {0.0, 0.05, 0.2, 0.35, 0.5, 0.65, 0.8, 0.95, 1.0}) {
    const double want = Reference(t, 0.42, 0, 0.58, 1);
    EXPECT_NEAR(flat.At(t), want, 2e-3) << t;
    EXPECT_NEAR(direct.At(t), want, 2e-3) << t;
  }
  // Back and forth: the cursor finds the piece from either side.
  EXPECT_NEAR(flat.At(0.9), Reference(0.9, 0.42, 0, 0.58, 1), 2e-3);
  EXPECT_NEAR(flat.At(0.1), Reference(0.1, 0.42, 0, 0.58, 1), 2e-3);
}

TEST_F(SplineTest, SymmetryAndFullFolding) {
  Formula folded("QSplineGraph(0.5, 0.42, 0, 0.58, 1)");
  ASSERT_TRUE(folded.ok);
  ASSERT_EQ(folded.p.Commands.Count, 1);
  EXPECT_EQ(folded.p.Commands.Items[0].Op, opLoad);
  EXPECT_NEAR(folded.p.Commands.Items[0].C, 0.5, 1e-4);
}

TEST_F(SplineTest, BeyondTheEndsTheFlatFormExtendsItsLastPiece) {
  Formula flat("QSplineGraph(t, 0.42, 0, 0.58, 1)");
  ASSERT_TRUE(flat.ok);
  const double y1 = flat.At(1.0), y099 = flat.At(0.999);
  const double beyond = flat.At(1.2);
  // The last piece's slope carried on by 0.2.
  EXPECT_NEAR(beyond, y1 + (y1 - y099) / 0.001 * 0.2, 1e-3);
  EXPECT_GT(beyond, 1.0);
  EXPECT_NEAR(flat.At(-0.2), flat.At(0.0) - (flat.At(0.001) - flat.At(0.0)) / 0.001 * 0.2, 1e-3);
}

TEST_F(SplineTest, VerticalAndHostileCurvesGiveNumbersAndEnd) {
  // Control points with x outside 0..1 fold the curve back on itself; values
  // at a vertical piece are finite, and hostile values never hang.
  struct Row {
    const char* text;
    bool finite;  // overflowing single-precision points may give NaN, but the call must end
  } rows[] = {{"QSplineGraph(t, 2, 0, -1, 1)", true},          {"QSplineGraph(t+0*t, 2, 0, -1, 1)", true},
              {"QSplineGraph(t, 1e30, 1e30, -1e30, 1)", true}, {"QSplineGraph(t, 0, 0, 0, 1)", true},
              {"QSplineGraph(t+0*t, 0, 0, 0, 1)", true},       {"QSplineGraph(t+0*t, 1e38, 0, 1e38, 1)", false},
              {"QSplineGraph(t, 1e38, 0, 1e38, 1)", false}};
  for (const Row& r : rows) {
    Formula f(r.text);
    ASSERT_TRUE(f.ok) << r.text;
    for (double t : {0.0, 0.5, 1.0}) {
      const double v = f.At(t);
      if (r.finite) {
        EXPECT_TRUE(std::isfinite(v)) << r.text << " at " << t;
      }
    }
  }
  // x1 = x2 = 0 puts a vertical run at x = 0: the start of the curve is 0.
  Formula v("QSplineGraph(t, 0, 0, 0, 1)");
  EXPECT_NEAR(v.At(0.0), 0.0, 1e-6);
}

TEST(CurvePieces, LookupWithoutPiecesAnswersXAndPiecesCoverTheCurveInOrder) {
  auto* c = new TCubicBezier();
  EXPECT_EQ(LookupPiece(c, 0.3), 0.3);
  c->Points.P1 = {0.42f, 0.0f};
  c->Points.P2 = {0.58f, 1.0f};
  c->Points.P3 = {1.0f, 1.0f};
  Flatten(c, 0, 1, 1e-6);
  ASSERT_GT(c->Pieces.size(), 4u);
  EXPECT_EQ(c->Pieces.front()->X0, 0.0);
  EXPECT_EQ(c->Pieces.back()->X1, 1.0);
  for (size_t i = 1; i < c->Pieces.size(); ++i) EXPECT_EQ(c->Pieces[i]->X0, c->Pieces[i - 1]->X1);
  Flatten(c, 0, 1, 1e-6);  // again: the old pieces are released, not kept
  const size_t n = c->Pieces.size();
  Flatten(c, 0, 1, 1e-6);
  EXPECT_EQ(c->Pieces.size(), n);
  c->Free();
}

}  // namespace
