// The calculator library from several threads at once: the slide loader
// compiles formulas while the main thread evaluates others. The first
// lookups race to build the library; the shared spline graph is solved by
// every thread at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "showmodel/kvCalc.h"
#include "showmodel/kvCalcSplines.h"

namespace {

using namespace showmodel;

class TArg : public TCalcFunc {
 public:
  explicit TArg(double* v) : TCalcFunc("x", 0, false), v_(v) {}
  void Execute(TCalcStack& s) override { s.Push(*v_); }
  double* v_;
};

TCalcFunc* Resolve(void* ctx, std::string_view text, int32_t start, int32_t count) {
  return text.substr(size_t(start), size_t(count)) == "x" ? new TArg(static_cast<double*>(ctx)) : nullptr;
}

TEST(CalcThreads, CompilingAndEvaluatingOnSeveralThreadsAgrees) {
  DoneCalcUtils();  // the threads below build the library again
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < 4; ++n)
    threads.emplace_back([n, &failures] {
      if (n == 0) RegisterSplineGraph();
      for (int i = 0; i < 200; ++i) {
        double x = (i % 10) / 10.0;
        TExpressionParser p;
        p.Text = "Sqr(x)+Power(x, 3)*Cos(0)+Lerp(0, 1, x)";
        if (!Compile(p, 0, int32_t(p.Text.size()), TCalcResolver{Resolve, &x})) {
          ++failures;
          continue;
        }
        TCalcStack s;
        Evaluate(p.Commands, s);
        if (std::fabs(s.Top - (x * x + x * x * x + x)) > 1e-12) ++failures;
        // The direct spline form on the library's shared instance.
        TExpressionParser q;
        q.Text = "QSplineGraph(x+0*x, 0.25, 0.25, 0.75, 0.75)";
        if (Compile(q, 0, int32_t(q.Text.size()), TCalcResolver{Resolve, &x})) {
          TCalcStack t;
          Evaluate(q.Commands, t);
          if (std::fabs(t.Top - x) > 1e-5) ++failures;
        }
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  TCalcFunc* f = FindCalcFunc("QSplineGraph");
  ASSERT_NE(f, nullptr);
  f->Free();
}

}  // namespace
