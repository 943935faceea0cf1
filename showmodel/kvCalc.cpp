#include "showmodel/kvCalc.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace showmodel {

// ---- Command list and stack ----------------------------------------------

void TCalcCmdList::Clear() {
  for (int32_t i = 0; i < Count; ++i) {
    TCalcFunc* f = Items[static_cast<size_t>(i)].Func;
    Items[static_cast<size_t>(i)].Func = nullptr;
    if (f) f->Free();
  }
  Count = 0;
}

void TCalcCmdList::Add(const TCalcCmd& Cmd) {
  if (static_cast<size_t>(Count) >= Items.size()) Items.resize(Items.empty() ? 16 : Items.size() * 2);
  Items[static_cast<size_t>(Count++)] = Cmd;
  everHeld_ = true;
}

void TCalcCmdList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count) return;
  TCalcFunc* f = Items[static_cast<size_t>(Index)].Func;
  std::move(Items.begin() + Index + 1, Items.begin() + Count, Items.begin() + Index);
  --Count;
  Items[static_cast<size_t>(Count)] = TCalcCmd{};
  if (f) f->Free();
}

void TCalcStack::Push(double Value) {
  if (Count == 0) {
    Top = Value;
    Count = 1;
    return;
  }
  if (static_cast<size_t>(Count) > Items.size()) Items.resize(Items.empty() ? 8 : Items.size() * 2);
  Items[static_cast<size_t>(Count - 1)] = Top;
  ++Count;
  Top = Value;
}

double TCalcStack::Pop() {
  const double r = Top;
  if (Count > 0) {
    --Count;
    if (Count > 0) Top = Items[static_cast<size_t>(Count - 1)];
  }
  return r;
}

bool TCalcStack::PopTwoAsSingles(float& a, float& b) {
  if (Count < 2) return false;
  b = static_cast<float>(Pop());
  a = static_cast<float>(Pop());
  return true;
}

std::u16string CalcErrorMessage(int32_t Code) {
  switch (Code) {
    case ceNoError:
      return u"No Error";
    case ceExpected:
      return u"Expected";
    case ceInvalidNumber:
      return u"Invalid Number Format";
    case ceDivisionByZero:
      return u"Division by Zerro";
    case ceUnknownName:
      return u"Unknown Function or Variable";
    case ceFunctionCall:
      return u"Function Call Error";
    default:
      return u"";
  }
}

// ---- Evaluation ----------------------------------------------------------

bool Evaluate(const TCalcCmdList& Commands, TCalcStack& Stack) {
  if (Stack.Count == 0) Stack.Top = 0;
  const TCalcCmd* cmd = Commands.Items.data();
  for (int32_t i = 0; i < Commands.Count; ++i, ++cmd) {
    switch (cmd->Op) {
      case opLoad:
        Stack.Push(cmd->C);
        break;
      case opNeg:
        Stack.Top = -Stack.Top;
        break;
      case opAdd: {
        const double y = Stack.Pop();
        Stack.Top += y;
        break;
      }
      case opSub: {
        const double y = Stack.Pop();
        Stack.Top -= y;
        break;
      }
      case opMul: {
        const double y = Stack.Pop();
        Stack.Top *= y;
        break;
      }
      case opDiv: {
        const double y = Stack.Pop();
        Stack.Top /= y;
        break;
      }
      case opAddC:
        Stack.Top += cmd->C;
        break;
      case opMulC:
        Stack.Top *= cmd->C;
        break;
      case opCSub:
        Stack.Top = cmd->C - Stack.Top;
        break;
      case opCDiv:
        Stack.Top = cmd->C / Stack.Top;
        break;
      default:
        if (cmd->Func) cmd->Func->Execute(Stack);
        break;
    }
  }
  return true;
}

// ---- Compiler ------------------------------------------------------------

namespace {

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

int32_t OperandCount(const TCalcCmd& c) {
  switch (c.Op) {
    case opLoad:
      return 0;
    case opNeg:
    case opAddC:
    case opMulC:
    case opCSub:
    case opCDiv:
      return 1;
    case opAdd:
    case opSub:
    case opMul:
    case opDiv:
      return 2;
    default:
      return c.Op - opCall;
  }
}

// Ends the compiler's descent when an error is recorded.
struct CompileError {};

class Compiler {
 public:
  explicit Compiler(TExpressionParser& p) : p_(p), text_(reinterpret_cast<const uint8_t*>(p.Text.data())) {}

  void Run() {
    Next();
    Expression();
    if (p_.TokenKind != tkEnd) Fail(ceExpected, u"Operator");
  }

 private:
  TExpressionParser& p_;
  const uint8_t* text_;
  TCalcCmdList& cmds() { return p_.Commands; }

  [[noreturn]] void Fail(int32_t code, const char16_t* what) {
    p_.ErrorCode = code;
    p_.ErrorText = what;
    throw CompileError{};
  }

  bool IsOp(char c) const { return p_.TokenKind == tkOperator && text_[p_.TokenStart] == static_cast<uint8_t>(c); }

  void Next() {
    int32_t i = p_.Pos;
    while (i < p_.End && text_[i] <= 32) ++i;
    p_.TokenStart = i;
    if (i >= p_.End) {
      p_.Pos = i;
      p_.TokenKind = tkEnd;
      return;
    }
    const uint8_t c = text_[i];
    switch (c) {
      case '(':
      case ')':
      case '*':
      case '+':
      case ',':
      case '-':
      case '/':
        p_.Pos = i + 1;
        p_.TokenKind = tkOperator;
        return;
      default:
        break;
    }
    if (IsDigit(c)) {
      while (i < p_.End && IsDigit(text_[i])) ++i;
      if (i < p_.End && text_[i] == '.') {
        ++i;
        while (i < p_.End && IsDigit(text_[i])) ++i;
      }
      if (i < p_.End && (text_[i] == 'E' || text_[i] == 'e')) {
        ++i;
        if (i < p_.End && (text_[i] == '+' || text_[i] == '-')) ++i;
        if (i >= p_.End || !IsDigit(text_[i])) {
          p_.Pos = i;
          Fail(ceInvalidNumber, u"");
        }
        while (i < p_.End && IsDigit(text_[i])) ++i;
      }
      p_.Pos = i;
      p_.TokenKind = tkNumber;
      return;
    }
    if (IsLetter(c)) {
      while (i < p_.End && (IsLetter(text_[i]) || IsDigit(text_[i]) || text_[i] == '.')) ++i;
      p_.Pos = i;
      p_.TokenKind = tkIdentifier;
      return;
    }
    p_.Pos = i + 1;
    p_.TokenKind = tkOther;
  }

  // The decimal value of the current number token. A value too large for a
  // double is an invalid number; one too small is 0.
  double NumberValue() {
    const char* first = p_.Text.data() + p_.TokenStart;
    const char* last = p_.Text.data() + p_.Pos;
    double v = 0;
    const auto r = std::from_chars(first, last, v, std::chars_format::general);
    if (r.ec == std::errc()) return v;
    // Out of range: the decimal magnitude decides between overflow and underflow.
    int64_t magnitude = 0;
    bool seenNonZero = false, afterPoint = false;
    const char* q = first;
    for (; q < last && *q != 'e' && *q != 'E'; ++q) {
      if (*q == '.') {
        afterPoint = true;
        continue;
      }
      if (!seenNonZero) {
        if (*q != '0') {
          seenNonZero = true;
          if (!afterPoint) ++magnitude;
        } else if (afterPoint)
          --magnitude;
      } else if (!afterPoint) {
        ++magnitude;
      }
    }
    if (q < last) {
      ++q;
      bool neg = false;
      if (*q == '+' || *q == '-') neg = *q++ == '-';
      int64_t e = 0;
      for (; q < last; ++q) e = std::min<int64_t>(e * 10 + (*q - '0'), 100000);
      magnitude += neg ? -e : e;
    }
    if (magnitude > 0) Fail(ceInvalidNumber, u"");
    return 0.0;
  }

  // ---- emission with folding

  void Emit(int32_t op, double c, TCalcFunc* f = nullptr) { cmds().Add(TCalcCmd{op, c, f}); }
  TCalcCmd& Last() { return cmds().Items[static_cast<size_t>(cmds().Count - 1)]; }
  bool LastIsLoad() { return cmds().Count > 0 && Last().Op == opLoad; }

  // The first command of the operand that ends at index last.
  int32_t OperandStart(int32_t last) {
    int32_t need = 1, i = last;
    while (need > 0 && i >= 0) {
      need += OperandCount(cmds().Items[static_cast<size_t>(i)]) - 1;
      --i;
    }
    return i + 1;
  }

  void AddConst(double c) {
    int32_t op = opAddC;
    double v = c;
    if (cmds().Count > 0 && (Last().Op == opAddC || Last().Op == opCSub)) {
      op = Last().Op;
      v = Last().C + c;
      cmds().Delete(cmds().Count - 1);
    } else if (cmds().Count > 0 && Last().Op == opNeg) {
      cmds().Delete(cmds().Count - 1);
      op = opCSub;
    }
    if (std::fabs(v) < 1e-8) {
      if (op == opAddC) return;
      Emit(opNeg, 0);
      return;
    }
    Emit(op, v);
  }

  void MulConst(double c) {
    int32_t op = opMulC;
    double v = c;
    if (cmds().Count > 0 && (Last().Op == opMulC || Last().Op == opCDiv)) {
      op = Last().Op;
      v = Last().C * c;
      cmds().Delete(cmds().Count - 1);
    } else if (cmds().Count > 0 && Last().Op == opNeg) {
      cmds().Delete(cmds().Count - 1);
      v = -c;
    }
    if (op == opMulC) {
      if (std::fabs(v - 1) < 1e-8) return;
      if (std::fabs(v + 1) < 1e-8) {
        Emit(opNeg, 0);
        return;
      }
    }
    Emit(op, v);
  }

  void Binary(char op) {
    const int32_t last = cmds().Count - 1;
    const int32_t rightStart = OperandStart(last);
    const bool yConst = Last().Op == opLoad;
    const bool xConst = rightStart > 0 && cmds().Items[static_cast<size_t>(rightStart - 1)].Op == opLoad;
    if (op == '/' && yConst && Last().C == 0) Fail(ceDivisionByZero, u"");
    if (xConst && yConst) {
      const double c = Last().C;
      cmds().Delete(last);
      TCalcCmd& x = Last();
      switch (op) {
        case '+':
          x.C = x.C + c;
          break;
        case '-':
          x.C = x.C - c;
          break;
        case '*':
          x.C = x.C * c;
          break;
        default:
          x.C = x.C / c;
          break;
      }
      return;
    }
    if (yConst) {
      const double c = Last().C;
      cmds().Delete(last);
      switch (op) {
        case '+':
          AddConst(c);
          break;
        case '-':
          AddConst(-c);
          break;
        case '*':
          MulConst(c);
          break;
        default:
          MulConst(1.0 / c);
          break;
      }
      return;
    }
    if (xConst) {
      const double d = cmds().Items[static_cast<size_t>(rightStart - 1)].C;
      cmds().Delete(rightStart - 1);
      switch (op) {
        case '+':
          AddConst(d);
          break;
        case '*':
          MulConst(d);
          break;
        case '-':
          Emit(opCSub, d);
          break;
        default:
          Emit(opCDiv, d);
          break;
      }
      return;
    }
    switch (op) {
      case '+':
        Emit(opAdd, 0);
        break;
      case '-':
        Emit(opSub, 0);
        break;
      case '*':
        Emit(opMul, 0);
        break;
      default:
        Emit(opDiv, 0);
        break;
    }
  }

  void Call(TCalcFunc* f) {
    const int32_t n = f->ArgCount;
    if (!f->Foldable) {
      Emit(opCall + n, 0, f);
      return;
    }
    // How many trailing arguments are single constants.
    int32_t k = 0;
    int32_t end = cmds().Count - 1;
    for (int32_t a = 0; a < n; ++a) {
      if (end < 0 || cmds().Items[static_cast<size_t>(end)].Op != opLoad) break;
      ++k;
      --end;
    }
    if (k == n) {
      TCalcStack s;
      for (int32_t i = cmds().Count - n; i < cmds().Count; ++i) s.Push(cmds().Items[static_cast<size_t>(i)].C);
      f->Execute(s);
      const double v = s.Top;
      for (int32_t i = 0; i < n; ++i) cmds().Delete(cmds().Count - 1);
      f->Free();
      Emit(opLoad, v);
      return;
    }
    if (k > 0) {
      TCalcStack s;
      for (int32_t i = cmds().Count - k; i < cmds().Count; ++i) s.Push(cmds().Items[static_cast<size_t>(i)].C);
      TCalcFunc* r = nullptr;
      if (f->Optimize(s, r) && r) {
        const int32_t absorbed = n - r->ArgCount;
        if (r->ArgCount < n && absorbed <= k) {
          for (int32_t i = 0; i < absorbed; ++i) cmds().Delete(cmds().Count - 1);
          f->Free();
          Emit(opCall + r->ArgCount, 0, r);
          return;
        }
        r->Free();
      }
    }
    Emit(opCall + n, 0, f);
  }

  // ---- grammar

  struct DepthGuard {
    Compiler& c;
    explicit DepthGuard(Compiler& c) : c(c) {
      if (++c.p_.Depth > CalcMaxNesting) c.Fail(ceExpected, u"Expression");
    }
    ~DepthGuard() { --c.p_.Depth; }
  };

  void Expression() {
    DepthGuard guard(*this);
    Term();
    while (IsOp('+') || IsOp('-')) {
      const char op = static_cast<char>(text_[p_.TokenStart]);
      Next();
      Term();
      Binary(op);
    }
  }

  void Term() {
    Factor();
    while (IsOp('*') || IsOp('/')) {
      const char op = static_cast<char>(text_[p_.TokenStart]);
      Next();
      Factor();
      Binary(op);
    }
  }

  void Factor() {
    bool negate = false;
    while (IsOp('+') || IsOp('-')) {
      if (IsOp('-')) negate = !negate;
      Next();
    }
    if (IsOp('(')) {
      Next();
      Expression();
      if (!IsOp(')')) Fail(ceExpected, u"Operator or \")\"");
      Next();
    } else {
      Primary();
    }
    if (negate) {
      if (LastIsLoad())
        Last().C = -Last().C;
      else
        Emit(opNeg, 0);
    }
  }

  void Primary() {
    if (p_.TokenKind == tkNumber) {
      Emit(opLoad, NumberValue());
      Next();
      return;
    }
    if (p_.TokenKind != tkIdentifier) Fail(ceExpected, u"Expression");
    const int32_t start = p_.TokenStart, count = p_.Pos - p_.TokenStart;
    TCalcFunc* f = nullptr;
    if (p_.Resolver.Fn) f = p_.Resolver.Fn(p_.Resolver.Context, p_.Text, start, count);
    if (!f) f = FindCalcFunc(std::string_view(p_.Text).substr(static_cast<size_t>(start), static_cast<size_t>(count)));
    if (!f) Fail(ceUnknownName, u"");
    // The function is ours until Call takes it: any failure from here on,
    // the token after its name included, frees it.
    try {
      Next();
      if (f->ArgCount > 0) {
        if (!IsOp('(')) Fail(ceExpected, u"(");
        Next();
        for (int32_t a = 0; a < f->ArgCount; ++a) {
          if (a > 0) {
            if (!IsOp(',')) Fail(ceExpected, u",");
            Next();
          }
          Expression();
        }
        if (!IsOp(')')) Fail(ceExpected, u")");
        Next();
      }
    } catch (...) {
      f->Free();
      throw;
    }
    Call(f);
  }
};

}  // namespace

bool Compile(TExpressionParser& Parser, int32_t Start, int32_t Count, const TCalcResolver& Resolver) {
  const int32_t length = static_cast<int32_t>(Parser.Text.size());
  Start = std::clamp(Start, 0, length);
  if (Count < 0) Count = 0;
  Parser.Resolver = Resolver;
  Parser.Pos = Start;
  Parser.TokenStart = Start;
  Parser.End = Count > length - Start ? length : Start + Count;
  Parser.TokenKind = tkEnd;
  Parser.ErrorCode = ceNoError;
  Parser.ErrorText.clear();
  Parser.Depth = 0;
  Parser.Commands.Clear();
  Compiler c(Parser);
  try {
    c.Run();
  } catch (const CompileError&) {
    Parser.Commands.Clear();
    Parser.Depth = 0;
    return false;
  }
  return true;
}

}  // namespace showmodel
