#include "showmodel/kvCalcUtils.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>

#include "foundation/SysLock.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvByteString.h"
#include "foundation/kvByteStringUtils.h"
#include "showmodel/kvCalc.h"

namespace showmodel {

TCalcFunc::TCalcFunc(std::string_view Name, int32_t ArgCount, bool Foldable)
    : Name(Name), ArgCount(ArgCount), Foldable(Foldable) {}

bool TCalcFunc::Optimize(TCalcStack&, TCalcFunc*& Replacement) {
  Replacement = nullptr;
  return false;
}

TMathConst::TMathConst(std::string_view Name, double Value) : TMathFunc(Name, 0, true), Value(Value) {}
void TMathConst::Execute(TCalcStack& Stack) { Stack.Push(Value); }

TMathWrapper0::TMathWrapper0(std::string_view Name, TMathFn0 Fn, bool Foldable) : TMathFunc(Name, 0, Foldable), Fn(Fn) {
  QEL_ASSERT(Fn != nullptr, "TMathWrapper0: no function");
}
void TMathWrapper0::Execute(TCalcStack& Stack) { Stack.Push(Fn()); }

TMathWrapper1::TMathWrapper1(std::string_view Name, TMathFn1 Fn, bool Foldable) : TMathFunc(Name, 1, Foldable), Fn(Fn) {
  QEL_ASSERT(Fn != nullptr, "TMathWrapper1: no function");
}
void TMathWrapper1::Execute(TCalcStack& Stack) { Stack.Top = Fn(Stack.Top); }

TMathWrapper2Ext::TMathWrapper2Ext(std::string_view Name, TMathFn2 Fn, bool Foldable)
    : TMathFunc(Name, 2, Foldable), Fn(Fn) {
  QEL_ASSERT(Fn != nullptr, "TMathWrapper2Ext: no function");
}
void TMathWrapper2Ext::Execute(TCalcStack& Stack) {
  const double b = Stack.Pop();
  Stack.Top = Fn(Stack.Top, b);
}

TMathWrapper3::TMathWrapper3(std::string_view Name, TMathFn3 Fn, bool Foldable) : TMathFunc(Name, 3, Foldable), Fn(Fn) {
  QEL_ASSERT(Fn != nullptr, "TMathWrapper3: no function");
}
void TMathWrapper3::Execute(TCalcStack& Stack) {
  const double c = Stack.Pop();
  const double b = Stack.Pop();
  Stack.Top = Fn(Stack.Top, b, c);
}

double CalcPower(double a, double b) {
  if (b == 0) return 1.0;
  if (a == 0 && b > 0) return 0.0;
  if (std::fabs(b) <= 2147483647.0 && b == std::trunc(b)) return foundation::FloatIntPower(a, static_cast<int64_t>(b));
  return std::exp(b * std::log(a));
}

TPowerOptFunc::TPowerOptFunc(std::string_view Name) : TMathFunc(Name, 2, true) {}

void TPowerOptFunc::Execute(TCalcStack& Stack) {
  const double b = Stack.Pop();
  Stack.Top = CalcPower(Stack.Top, b);
}

bool TPowerOptFunc::Optimize(TCalcStack& Constants, TCalcFunc*& Replacement) {
  Replacement = nullptr;
  if (Constants.Count < 1 || !(std::fabs(Constants.Top - 2.0) < 1e-6)) return false;
  Replacement = FindCalcFunc("Sqr");
  return Replacement != nullptr;
}

namespace {

double FnSin(double x) { return std::sin(x); }
double FnCos(double x) { return std::cos(x); }
double FnTan(double x) { return std::tan(x); }
double FnCotan(double x) { return 1.0 / std::tan(x); }
double FnArcSin(double x) { return std::asin(x); }
double FnArcCos(double x) { return std::acos(x); }
double FnArcTan(double x) { return std::atan(x); }
double FnArcTan2(double y, double x) { return std::atan2(y, x); }
double FnHypot(double a, double b) { return std::sqrt(a * a + b * b); }
double FnSqrt(double x) { return std::sqrt(x); }
double FnSqr(double x) { return x * x; }
double FnAbs(double x) { return std::fabs(x); }
double FnFrac(double x) { return x - std::trunc(x); }
double FnRound(double x) { return std::nearbyint(x); }
// The 64-bit truncation; values no integer holds (and NaN) stay as they are
// rather than going through an undefined conversion.
double FnTrunc(double x) {
  if (!(std::fabs(x) < 9223372036854775808.0)) return x;
  return static_cast<double>(static_cast<int64_t>(x));
}
// A 32-bit result: out-of-range values saturate and NaN gives 0, since no
// 32-bit integer holds them.
double FnCeil(double x) {
  if (std::isnan(x)) return 0.0;
  double t = std::trunc(x);
  if (x - t > 0) t += 1;
  if (t > 2147483647.0) return 2147483647.0;
  if (t < -2147483648.0) return -2147483648.0;
  return static_cast<double>(static_cast<int32_t>(t));
}
double FnLerp(double a, double b, double t) { return (b - a) * t + a; }

// The process-wide random stream of "Rnd": a 32-bit linear congruential
// generator shared by all threads.
std::atomic<uint32_t> rndSeed{0x2545F491u};
double FnRnd() {
  uint32_t seed = rndSeed.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = seed * 134775813u + 1u;
  } while (!rndSeed.compare_exchange_weak(seed, next, std::memory_order_relaxed));
  const uint32_t v = static_cast<uint32_t>((static_cast<uint64_t>(next) * 2147483647u) >> 32);
  return static_cast<double>(v) * (1.0 / 2147483646.0);
}

constexpr int kBuckets = 16;
std::atomic<TMathFunc*> buckets[kBuckets];
std::atomic<bool> built{false};
std::mutex& LibraryLock() {
  static std::mutex* m = new std::mutex;  // never destroyed: threads may still look up at exit
  return *m;
}

uint32_t BucketOf(std::string_view name) {
  return foundation::HashUtf8NoCase(reinterpret_cast<const uint8_t*>(name.data()), name.size(), 0,
                                    static_cast<int>(name.size())) &
         (kBuckets - 1);
}

void Insert(TMathFunc* f) {
  std::atomic<TMathFunc*>& head = buckets[BucketOf(f->Name)];
  TMathFunc* old = head.load(std::memory_order_acquire);
  for (;;) {
    f->NextInBucket = old;
    if (head.compare_exchange_weak(old, f, std::memory_order_release, std::memory_order_acquire)) return;
    foundation::SysSleep(0);
  }
}

void BuildLocked() {
  if (built.load(std::memory_order_acquire)) return;
  Insert(new TMathConst("Pi", 3.141592653589793));
  Insert(new TMathWrapper1Ext("Sin", FnSin, true));
  Insert(new TMathWrapper1Ext("Cos", FnCos, true));
  Insert(new TMathWrapper1Ext("Tan", FnTan, true));
  Insert(new TMathWrapper1Ext("Cotan", FnCotan, true));
  Insert(new TMathWrapper1Ext("ArcSin", FnArcSin, true));
  Insert(new TMathWrapper1Ext("ArcCos", FnArcCos, true));
  Insert(new TMathWrapper1Ext("ArcTan", FnArcTan, true));
  Insert(new TMathWrapper2Ext("ArcTan2", FnArcTan2, true));
  Insert(new TMathWrapper2Ext("Hypot", FnHypot, true));
  Insert(new TMathWrapper1Ext("Sqrt", FnSqrt, true));
  Insert(new TPowerOptFunc("Power"));
  Insert(new TPowerOptFunc("Pow"));
  Insert(new TMathWrapper1("Sqr", FnSqr, true));
  Insert(new TMathWrapper1("Abs", FnAbs, true));
  Insert(new TMathWrapper1Ext("Frac", FnFrac, true));
  Insert(new TMathWrapper1("Round", FnRound, true));
  Insert(new TMathWrapper1("Trunc", FnTrunc, true));
  Insert(new TMathWrapper1("Ceil", FnCeil, true));
  Insert(new TMathWrapper3("Lerp", FnLerp, true));
  Insert(new TMathWrapper0("Rnd", FnRnd, false));
  built.store(true, std::memory_order_release);
}

void EnsureBuilt() {
  if (built.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> g(LibraryLock());
  BuildLocked();
}

}  // namespace

TCalcFunc* FindCalcFunc(std::string_view Name) {
  EnsureBuilt();
  const auto* bytes = reinterpret_cast<const uint8_t*>(Name.data());
  const int n = static_cast<int>(Name.size());
  for (TMathFunc* f = buckets[BucketOf(Name)].load(std::memory_order_acquire); f; f = f->NextInBucket) {
    if (foundation::CompareUtf8NoCase(reinterpret_cast<const uint8_t*>(f->Name.data()), f->Name.size(), 0,
                                      static_cast<int>(f->Name.size()), bytes, Name.size(), 0, n) == 0) {
      f->_AddRef();
      return f;
    }
  }
  return nullptr;
}

void RegisterCalcFunc(TMathFunc* Function) {
  if (!Function) return;
  std::lock_guard<std::mutex> g(LibraryLock());
  BuildLocked();
  Insert(Function);
}

void DoneCalcUtils() {
  std::lock_guard<std::mutex> g(LibraryLock());
  for (auto& b : buckets) {
    TMathFunc* f = b.exchange(nullptr);
    while (f) {
      TMathFunc* next = f->NextInBucket;
      f->NextInBucket = nullptr;
      f->Free();
      f = next;
    }
  }
  built.store(false, std::memory_order_release);
}

}  // namespace showmodel
