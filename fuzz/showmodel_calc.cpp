// Compiles arbitrary bytes as a formula, with a resolver that knows two
// variables and a constant, and checks what must hold for any input: a
// failed compilation keeps no commands and names its error, and a compiled
// formula always leaves exactly one value, however often it runs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "showmodel/kvCalc.h"
#include "showmodel/kvCalcSplines.h"

using namespace showmodel;

namespace {

using fuzzing::Check;

double xValue = 0.25;

class TVar : public TCalcFunc {
 public:
  explicit TVar(std::string_view name) : TCalcFunc(name, 0, false) {}
  void Execute(TCalcStack& s) override { s.Push(xValue); }
};

TCalcFunc* Resolve(void*, std::string_view text, int32_t start, int32_t count) {
  const std::string_view name = text.substr(size_t(start), size_t(count));
  if (name == "x" || name == "T") return new TVar(name);
  if (name == "Amp") return new TMathConst(name, 5);
  return nullptr;
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static const bool started = [] {
    RegisterSplineGraph();
    return true;
  }();
  (void)started;
  TExpressionParser p;
  p.Text.assign(reinterpret_cast<const char*>(data), size);
  const bool ok = Compile(p, 0, int32_t(size), TCalcResolver{Resolve, nullptr});
  if (!ok) {
    Check(p.Commands.Count == 0);
    Check(p.ErrorCode >= 1 && p.ErrorCode <= 4);
    Check(p.Pos >= 0 && p.Pos <= int32_t(size));
    return 0;
  }
  Check(p.ErrorCode == 0);
  TCalcStack s;
  for (double x : {0.0, 0.5, 1.0, -3.0}) {
    xValue = x;
    s.Clear();
    Check(Evaluate(p.Commands, s));
    Check(s.Count == 1);
  }
  return 0;
}
