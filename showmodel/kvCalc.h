// The expression calculator: a formula is compiled once into a short list of
// stack commands, constants folded as they are emitted, and the list is run
// each frame on a stack of doubles whose storage is kept between runs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "showmodel/kvCalcUtils.h"

namespace showmodel {

enum : int32_t {
  opLoad = 0,
  opNeg = 1,
  opAdd = 2,
  opSub = 3,
  opMul = 4,
  opDiv = 5,
  opAddC = 6,
  opMulC = 7,
  opCSub = 8,
  opCDiv = 9,
  opCall = 10,  // + the function's argument count
};

struct TCalcCmd {
  int32_t Op = opLoad;
  double C = 0;               // the constant of load, addc, mulc, csub, cdiv
  TCalcFunc* Func = nullptr;  // the function of a call (the list holds a reference)
};

// Owns a reference to the function of every call command.
class TCalcCmdList {
 public:
  TCalcCmdList() = default;
  TCalcCmdList(const TCalcCmdList&) = delete;
  TCalcCmdList& operator=(const TCalcCmdList&) = delete;
  ~TCalcCmdList() { Clear(); }

  void Clear();
  void Add(const TCalcCmd& Cmd);
  // Removes the command at index, releasing its function.
  void Delete(int32_t Index);
  // True once a command was ever added (Clear keeps the answer).
  bool EverHeld() const { return everHeld_; }

  std::vector<TCalcCmd> Items;  // its size is the capacity (16, then doubling)
  int32_t Count = 0;

 private:
  bool everHeld_ = false;
};

// The top value lives in Top; the Count - 1 values below it in Items.
struct TCalcStack {
  std::vector<double> Items;
  int32_t Count = 0;
  double Top = 0;

  void Push(double Value);
  // The top; at Count 0 nothing changes and Top is answered again.
  double Pop();
  // Pops the top (b) and the value below it (a) as singles; false, popping
  // nothing, when fewer than two values are on the stack.
  bool PopTwoAsSingles(float& a, float& b);
  void Clear() { Count = 0; }
};

enum : int32_t {
  ceNoError = 0,
  ceExpected = 1,
  ceInvalidNumber = 2,
  ceDivisionByZero = 3,
  ceUnknownName = 4,
  ceFunctionCall = 5,
};
// The texts of the error codes ("No Error" ... "Function Call Error").
std::u16string CalcErrorMessage(int32_t Code);

// Given its context, the whole text and a name range, a new function (one
// reference for the caller) or nil.
using TCalcResolveFn = TCalcFunc* (*)(void* Context, std::string_view Text, int32_t Start, int32_t Count);
struct TCalcResolver {
  TCalcResolveFn Fn = nullptr;
  void* Context = nullptr;
};

enum : int32_t { tkEnd = -1, tkOther = 0, tkOperator = 1, tkNumber = 2, tkIdentifier = 3 };

// Parentheses, unary signs of nested factors and function arguments deeper
// than this fail the compilation (error 1, "Expression") instead of running
// the compiler's recursion into the machine stack.
constexpr int32_t CalcMaxNesting = 256;

struct TExpressionParser {
  TCalcResolver Resolver;
  int32_t TokenStart = 0;
  int32_t Pos = 0;
  int32_t End = 0;
  int32_t TokenKind = tkEnd;
  std::string Text;  // the expression, UTF-8
  TCalcCmdList Commands;
  int32_t ErrorCode = ceNoError;
  std::u16string ErrorText;
  int32_t Depth = 0;
};

// Compiles Text from Start (clamped to 0..length) for Count bytes (cut at
// the end). On failure the commands are emptied and ErrorCode, ErrorText,
// TokenStart and Pos tell what went wrong; nothing raises for bad input.
bool Compile(TExpressionParser& Parser, int32_t Start, int32_t Count, const TCalcResolver& Resolver);
// Runs the commands; an empty stack starts with Top 0. The result is Top
// when Count is 1 afterwards.
bool Evaluate(const TCalcCmdList& Commands, TCalcStack& Stack);

}  // namespace showmodel
