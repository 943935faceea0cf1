// The calculator's names: every constant, function and variable a formula can
// mention is a TCalcFunc. The process-wide library holds the mathematical
// ones in 16 hash buckets, built on first use; other units add their own
// (the spline graph) through RegisterCalcFunc.
//
// Threads: lookups walk bucket chains that are only ever prepended to, so
// they take no lock; building and registration are serialised by the
// library's own lock. A function is immutable once registered, except the
// spline graph's scratch curve, which is only touched by compile-time folding
// and by evaluation on the thread that owns the compiled formula.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/SysObj.h"

namespace showmodel {

struct TCalcStack;

class TCalcFunc : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCalcFunc)
  // Name is UTF-8; names are compared without regard to case.
  TCalcFunc(std::string_view Name, int32_t ArgCount, bool Foldable);

  // Consumes ArgCount values of the stack and leaves the result as its top.
  virtual void Execute(TCalcStack& Stack) = 0;
  // Offered the trailing constant arguments (in order, the last on top):
  // may answer a function of fewer arguments that absorbs them. The
  // replacement is handed over with one reference for the caller.
  virtual bool Optimize(TCalcStack& Constants, TCalcFunc*& Replacement);

  std::string Name;
  int32_t ArgCount = 0;
  bool Foldable = false;
};

class TMathFunc : public TCalcFunc {
 public:
  QEL_CLASSNAME(TMathFunc)
  using TCalcFunc::TCalcFunc;
  // The next function of the library bucket; owned by the library.
  TMathFunc* NextInBucket = nullptr;
};

class TMathConst : public TMathFunc {
 public:
  QEL_CLASSNAME(TMathConst)
  TMathConst(std::string_view Name, double Value);
  void Execute(TCalcStack& Stack) override;
  double Value = 0;
};

using TMathFn0 = double (*)();
using TMathFn1 = double (*)(double);
using TMathFn2 = double (*)(double, double);
using TMathFn3 = double (*)(double, double, double);

class TMathWrapper0 : public TMathFunc {
 public:
  QEL_CLASSNAME(TMathWrapper0)
  TMathWrapper0(std::string_view Name, TMathFn0 Fn, bool Foldable);
  void Execute(TCalcStack& Stack) override;
  TMathFn0 Fn;
};

class TMathWrapper1 : public TMathFunc {
 public:
  QEL_CLASSNAME(TMathWrapper1)
  TMathWrapper1(std::string_view Name, TMathFn1 Fn, bool Foldable);
  void Execute(TCalcStack& Stack) override;
  TMathFn1 Fn;
};

// The same as TMathWrapper1, for functions of the platform's math library.
class TMathWrapper1Ext : public TMathWrapper1 {
 public:
  QEL_CLASSNAME(TMathWrapper1Ext)
  using TMathWrapper1::TMathWrapper1;
};

class TMathWrapper2Ext : public TMathFunc {
 public:
  QEL_CLASSNAME(TMathWrapper2Ext)
  TMathWrapper2Ext(std::string_view Name, TMathFn2 Fn, bool Foldable);
  void Execute(TCalcStack& Stack) override;
  TMathFn2 Fn;
};

class TMathWrapper3 : public TMathFunc {
 public:
  QEL_CLASSNAME(TMathWrapper3)
  TMathWrapper3(std::string_view Name, TMathFn3 Fn, bool Foldable);
  void Execute(TCalcStack& Stack) override;
  TMathFn3 Fn;
};

// Power(a, b); a constant exponent of 2 is compiled as Sqr.
class TPowerOptFunc : public TMathFunc {
 public:
  QEL_CLASSNAME(TPowerOptFunc)
  explicit TPowerOptFunc(std::string_view Name);
  void Execute(TCalcStack& Stack) override;
  bool Optimize(TCalcStack& Constants, TCalcFunc*& Replacement) override;
};

// a raised to b: 1 for b = 0, 0 for a = 0 and b > 0, repeated multiplication
// for whole exponents up to 2147483647 in size, else exp(b ln a).
double CalcPower(double a, double b);

// The library function of that name (case-insensitive), with a reference for
// the caller; nil when unknown.
TCalcFunc* FindCalcFunc(std::string_view Name);
// Adds a function at the head of its bucket, taking over the caller's
// reference.
void RegisterCalcFunc(TMathFunc* Function);
// Empties every bucket and releases the functions; the next lookup builds
// the library again.
void DoneCalcUtils();

}  // namespace showmodel
