// The calculator: its function library, the compiler's folding and errors,
// and evaluation, including the hostile formulas a show may carry.
#include "showmodel/kvCalc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "showmodel/kvCalcUtils.h"

namespace {

using namespace showmodel;

// A variable "x" (and "y") whose value the test sets; never folded.
class TestVar : public TCalcFunc {
 public:
  TestVar(std::string_view name, double* value) : TCalcFunc(name, 0, false), value_(value) {}
  void Execute(TCalcStack& s) override { s.Push(*value_); }

 private:
  double* value_;
};

struct Vars {
  double x = 0, y = 0;
};

TCalcFunc* ResolveXY(void* ctx, std::string_view text, int32_t start, int32_t count) {
  auto* v = static_cast<Vars*>(ctx);
  const std::string_view name = text.substr(size_t(start), size_t(count));
  if (name == "x") return new TestVar("x", &v->x);
  if (name == "y") return new TestVar("y", &v->y);
  return nullptr;
}

struct Compiled {
  TExpressionParser p;
  Vars vars;
  bool ok = false;
  explicit Compiled(const std::string& text) {
    p.Text = text;
    ok = Compile(p, 0, int32_t(text.size()), TCalcResolver{ResolveXY, &vars});
  }
  double Eval(double x = 0, double y = 0) {
    vars.x = x;
    vars.y = y;
    TCalcStack s;
    EXPECT_TRUE(Evaluate(p.Commands, s));
    EXPECT_EQ(s.Count, 1);
    return s.Top;
  }
  // The commands as text: "load 14", "call x", "csub 1", ...
  std::string Listing() const {
    static const char* names[] = {"load", "neg", "add", "sub", "mul", "div", "addc", "mulc", "csub", "cdiv"};
    std::string out;
    for (int32_t i = 0; i < p.Commands.Count; ++i) {
      const TCalcCmd& c = p.Commands.Items[size_t(i)];
      if (!out.empty()) out += "; ";
      if (c.Op >= opCall) {
        out += "call " + c.Func->Name;
        continue;
      }
      out += names[c.Op];
      if (c.Op == opLoad || c.Op >= opAddC) {
        char buf[64];
        snprintf(buf, sizeof buf, " %.10g", c.C);
        out += buf;
      }
    }
    return out;
  }
};

double Value(const std::string& text) {
  Compiled c(text);
  EXPECT_TRUE(c.ok) << text << ": " << c.p.ErrorCode;
  return c.Eval();
}

TEST(CalcLibrary, NamesAreCaseInsensitiveAndEachLookupTakesAReference) {
  TCalcFunc* a = FindCalcFunc("sin");
  TCalcFunc* b = FindCalcFunc("SIN");
  TCalcFunc* c = FindCalcFunc("Sin");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(b, c);
  EXPECT_EQ(a->ArgCount, 1);
  EXPECT_GE(a->RefCount(), 4);  // the library's own and three callers'
  a->Free();
  b->Free();
  c->Free();
  EXPECT_EQ(FindCalcFunc("NoSuchFunction"), nullptr);
  EXPECT_EQ(FindCalcFunc(""), nullptr);
}

TEST(CalcLibrary, ValuesOfTheFunctions) {
  struct Row {
    const char* text;
    double expected;
  } rows[] = {
      {"Pi", 3.141592653589793},
      {"Power(0, 0)", 1},
      {"Power(2, 0.5)", std::exp(0.5 * std::log(2.0))},
      {"Power(2, -2)", 0.25},
      {"Pow(3, 3)", 27},
      {"Power(0, 3)", 0},
      {"Round(2.5)", 2},
      {"Round(3.5)", 4},
      {"Round(-2.5)", -2},
      {"Trunc(-1.7)", -1},
      {"Ceil(-1.2)", -1},
      {"Ceil(1.2)", 2},
      {"Ceil(3)", 3},
      {"Frac(-1.25)", -0.25},
      {"Lerp(10, 20, 0.25)", 12.5},
      {"Abs(-3)", 3},
      {"Sqr(-3)", 9},
      {"Sqrt(16)", 4},
      {"Hypot(3, 4)", 5},
      {"ArcTan2(1, -1)", 3 * 3.141592653589793 / 4},
      {"Cotan(0.5)", 1 / std::tan(0.5)},
      {"Cos(Pi)", -1},
      {"ArcSin(1)", 3.141592653589793 / 2},
  };
  for (const Row& r : rows) EXPECT_DOUBLE_EQ(Value(r.text), r.expected) << r.text;
}

TEST(CalcLibrary, TruncAndCeilOfValuesNoIntegerHolds) {
  Compiled big("Trunc(x)");
  ASSERT_TRUE(big.ok);
  EXPECT_EQ(big.Eval(1e300), 1e300);
  EXPECT_TRUE(std::isnan(big.Eval(std::nan(""))));
  Compiled ceil("Ceil(x)");
  ASSERT_TRUE(ceil.ok);
  EXPECT_EQ(ceil.Eval(1e12), 2147483647.0);
  EXPECT_EQ(ceil.Eval(-1e12), -2147483648.0);
  EXPECT_EQ(ceil.Eval(std::nan("")), 0.0);
}

TEST(CalcLibrary, RndStaysACallAndVaries) {
  Compiled c("Rnd");
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.Listing(), "call Rnd");
  std::set<double> seen;
  for (int i = 0; i < 50; ++i) {
    const double v = c.Eval();
    EXPECT_GE(v, 0.0);
    EXPECT_LE(v, 1.0);
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 40u);
  Compiled mixed("Rnd*2+1");
  ASSERT_TRUE(mixed.ok);
  EXPECT_EQ(mixed.Listing(), "call Rnd; mulc 2; addc 1");
}

TEST(CalcCompiler, FoldsConstantsAsItEmits) {
  struct Row {
    const char* text;
    const char* listing;
  } rows[] = {
      {"2*(3+4)", "load 14"},
      {"--x", "call x"},
      {"-(-x)", "call x; neg; neg"},
      {"x*1", "call x"},
      {"x*-1", "call x; neg"},
      {"1-x", "call x; csub 1"},
      {"x/4", "call x; mulc 0.25"},
      {"(x+1)+2", "call x; addc 3"},
      {"0/x", "call x; cdiv 0"},
      {"x+1-1", "call x"},
      {"-x+3", "call x; csub 3"},
      {"(1-x)+2", "call x; csub 3"},
      {"-x*2", "call x; mulc -2"},
      {"x*2*3", "call x; mulc 6"},
      {"2/x*3", "call x; cdiv 6"},
      {"-x*-1", "call x"},
      {"x+y", "call x; call y; add"},
      {"x-y*2", "call x; call y; mulc 2; sub"},
      {"x/y", "call x; call y; div"},
      {"Pi", "load 3.141592654"},
      {"Power(x, 2)", "call x; call Sqr"},
      {"Power(2, 3)", "load 8"},
      {"Sin(0)+x", "call x"},
      {"+-+x", "call x; neg"},
      {"-3", "load -3"},
      {"Lerp(x, 10, 0.5)", "call x; load 10; load 0.5; call Lerp"},
  };
  for (const Row& r : rows) {
    Compiled c(r.text);
    ASSERT_TRUE(c.ok) << r.text << ": " << c.p.ErrorCode;
    EXPECT_EQ(c.Listing(), r.listing) << r.text;
  }
}

TEST(CalcCompiler, PrecedenceAndAssociativity) {
  struct Row {
    const char* text;
    double x, y, expected;
  } rows[] = {
      {"x-y-1", 10, 3, 6},    {"x/y/2", 12, 3, 2},          {"x+y*2", 1, 3, 7},    {"(x+y)*2", 1, 3, 8},
      {"-x*y", 2, 3, -6},     {"x*-y", 2, 3, -6},           {"1-x*2+y", 2, 3, 0},  {"x-(y-1)", 10, 3, 8},
      {"-(x+y)/2", 1, 3, -2}, {" x  *\t2 ", 4, 0, 8},       {"1.5e1+x", 0, 0, 15}, {"2E-1*x", 10, 0, 2},
      {"x*y*x", 2, 3, 12},    {"Lerp(x, y, 0.5)", 2, 4, 3},
  };
  for (const Row& r : rows) {
    Compiled c(r.text);
    ASSERT_TRUE(c.ok) << r.text;
    EXPECT_DOUBLE_EQ(c.Eval(r.x, r.y), r.expected) << r.text;
  }
}

TEST(CalcCompiler, ErrorsCarryTheirCodeAndWhatWasExpected) {
  struct Row {
    const char* text;
    int32_t code;
    const char16_t* what;
  } rows[] = {
      {"x/0", ceDivisionByZero, u""},
      {"x/(2-2)", ceDivisionByZero, u""},
      {"1/0", ceDivisionByZero, u""},
      {"Pi()", ceExpected, u"Operator"},
      {"Sin 1", ceExpected, u"("},
      {"2^3", ceExpected, u"Operator"},
      {".5", ceExpected, u"Expression"},
      {"1e", ceInvalidNumber, u""},
      {"1e+", ceInvalidNumber, u""},
      {"(x+1", ceExpected, u"Operator or \")\""},
      {"(Pi())", ceExpected, u"Operator or \")\""},
      {"Lerp(1, 2 3)", ceExpected, u","},
      {"Lerp(1, 2, 3", ceExpected, u")"},
      {"Sin(1, 2)", ceExpected, u")"},
      {"x +", ceExpected, u"Expression"},
      {"", ceExpected, u"Expression"},
      {"foo+1", ceUnknownName, u""},
      {"Sin(bar)", ceUnknownName, u""},
      {"x y", ceExpected, u"Operator"},
      {"1e999", ceInvalidNumber, u""},
      {"\xC3\xA9", ceExpected, u"Expression"},
  };
  for (const Row& r : rows) {
    Compiled c(r.text);
    EXPECT_FALSE(c.ok) << r.text;
    EXPECT_EQ(c.p.ErrorCode, r.code) << r.text;
    EXPECT_EQ(c.p.ErrorText, r.what) << r.text;
    EXPECT_EQ(c.p.Commands.Count, 0) << r.text;
  }
  EXPECT_EQ(CalcErrorMessage(ceDivisionByZero), u"Division by Zerro");
  EXPECT_EQ(CalcErrorMessage(ceUnknownName), u"Unknown Function or Variable");
}

TEST(CalcCompiler, ErrorPositionPointsAtTheFault) {
  Compiled c("1+2e+x");
  EXPECT_FALSE(c.ok);
  EXPECT_EQ(c.p.ErrorCode, ceInvalidNumber);
  EXPECT_EQ(c.p.Pos, 5);  // where the exponent's digit is missing
  Compiled d("1 + foo");
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.p.TokenStart, 4);
}

TEST(CalcCompiler, CompilesAPartOfTheText) {
  TExpressionParser p;
  p.Text = "junk(1+2)*3junk";
  ASSERT_TRUE(Compile(p, 4, 7, TCalcResolver{}));
  TCalcStack s;
  Evaluate(p.Commands, s);
  EXPECT_EQ(s.Top, 9);
  // A start beyond the text is clamped to its end: nothing to compile.
  EXPECT_FALSE(Compile(p, 1000, 5, TCalcResolver{}));
  EXPECT_EQ(p.ErrorText, u"Expression");
  // A count beyond the end is cut there: ")" after "1+2" is left over.
  EXPECT_FALSE(Compile(p, 5, 1000000, TCalcResolver{}));
  EXPECT_EQ(p.ErrorText, u"Operator");
  p.Text = "7*6";
  ASSERT_TRUE(Compile(p, -5, 1000000, TCalcResolver{}));
  s.Clear();
  Evaluate(p.Commands, s);
  EXPECT_EQ(s.Top, 42);
}

TEST(CalcCompiler, RuntimeDivisionByZeroAndHugeValuesGiveIeeeResults) {
  Compiled div("1/x");
  ASSERT_TRUE(div.ok);
  EXPECT_EQ(div.Eval(0), std::numeric_limits<double>::infinity());
  Compiled nan("x/y");
  ASSERT_TRUE(nan.ok);
  EXPECT_TRUE(std::isnan(nan.Eval(0, 0)));
  Compiled sq("Sqrt(x)");
  ASSERT_TRUE(sq.ok);
  EXPECT_TRUE(std::isnan(sq.Eval(-1)));
  // Folding at compile time keeps IEEE results too.
  EXPECT_EQ(Value("1e308*10"), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(Value("Sqrt(-1)")));
  EXPECT_EQ(Value("1e-999"), 0.0);
  EXPECT_EQ(Value("0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                  "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                  "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                  "000000000000000000000000000000000000000000000000000000000001"),
            0.0);
}

TEST(CalcCompiler, DeepNestingFailsCleanly) {
  for (const char* open : {"(", "-(", "Sin("}) {
    std::string text;
    for (int i = 0; i < 10000; ++i) text += open;
    text += "1";
    for (int i = 0; i < 10000; ++i) text += ")";
    Compiled c(text);
    EXPECT_FALSE(c.ok) << open;
    EXPECT_EQ(c.p.ErrorCode, ceExpected);
    EXPECT_EQ(c.p.Commands.Count, 0);
  }
  // Within the limit nesting is fine.
  std::string text;
  for (int i = 0; i < 100; ++i) text += "(";
  text += "x";
  for (int i = 0; i < 100; ++i) text += "+1)";
  Compiled c(text);
  ASSERT_TRUE(c.ok);
  EXPECT_EQ(c.Listing(), "call x; addc 100");
  EXPECT_EQ(c.Eval(1), 101);
}

TEST(CalcCompiler, FailedArgumentsReleaseTheFunction) {
  FindCalcFunc("Lerp")->Free();  // the library is built before counting
  const int live = foundation::LiveObjectCount();
  // A bad number right after a name fails while the name is still unplaced.
  for (const char* text : {"Lerp(x, 1", "Lerp(x, foo, 1)", "x+Lerp(1,2)", "x 1e", "Lerp 1e+", "-(-x 2e)"}) {
    Compiled c(text);
    EXPECT_FALSE(c.ok);
  }
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

TEST(CalcStack, PushPopKeepTheTopApart) {
  TCalcStack s;
  EXPECT_EQ(s.Pop(), 0);
  EXPECT_EQ(s.Count, 0);
  for (int i = 1; i <= 20; ++i) s.Push(i);
  EXPECT_EQ(s.Count, 20);
  EXPECT_EQ(s.Top, 20);
  float a = 0, b = 0;
  ASSERT_TRUE(s.PopTwoAsSingles(a, b));
  EXPECT_EQ(a, 19.0f);
  EXPECT_EQ(b, 20.0f);
  for (int i = 18; i >= 1; --i) EXPECT_EQ(s.Pop(), i);
  EXPECT_EQ(s.Count, 0);
  EXPECT_EQ(s.Pop(), 1);  // at count 0 the top stays
  s.Push(5);
  EXPECT_FALSE(s.PopTwoAsSingles(a, b));
  EXPECT_EQ(s.Count, 1);
}

TEST(CalcEvaluate, AnEmptyListLeavesTheStackAndAnEmptyStackStartsAtZero) {
  TCalcCmdList none;
  TCalcStack s;
  s.Push(3);
  EXPECT_TRUE(Evaluate(none, s));
  EXPECT_EQ(s.Count, 1);
  EXPECT_EQ(s.Top, 3);
  TCalcStack e;
  e.Top = 99;
  EXPECT_TRUE(Evaluate(none, e));
  EXPECT_EQ(e.Top, 0);
}

TEST(CalcLibrary, RegisteredFunctionsAreFoundAndReleasedAtShutdown) {
  DoneCalcUtils();
  auto* own = new TMathConst("Answer", 42);
  own->_AddRef();  // kept by the test to watch the library release its reference
  RegisterCalcFunc(own);
  EXPECT_EQ(Value("answer+Pi*0"), 42);
  EXPECT_EQ(own->RefCount(), 2);
  DoneCalcUtils();
  EXPECT_EQ(own->RefCount(), 1);
  own->Free();
  EXPECT_EQ(Value("Sqr(3)"), 9);  // rebuilt on the next lookup
  EXPECT_EQ(FindCalcFunc("Answer"), nullptr);
}

}  // namespace
