// Formula modifiers ("Mod" blocks of key frames): each replaces one animated
// value of its object, a parameter or a group's time fraction, by the result
// of a formula compiled once with the calculator. Names in the formula are
// library functions, the group times ("T", "Pos.T"), "value" (the
// destination itself), the block's own keys (constants) and the object's
// parameters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "showmodel/kvCalc.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"

namespace showmodel {

// The longest formula a modifier compiles, in UTF-8 bytes.
constexpr int32_t ModMaxFormulaBytes = 256;

using TModResolveFn = TCalcFunc* (*)(TQelObjectProps* Props, std::string_view Text, int32_t Start, int32_t Count,
                                     bool IsTime);

class TQelObjectMod : public TObjectFilter {
 public:
  QEL_CLASSNAME(TQelObjectMod)
  TQelObjectMod(TModResolveFn Resolver, TQelObjectProps* Context);

  // The stack is emptied and the formula run; its single result, else 0.
  double Evaluate() override;
  bool Prepare() override;
  uint8_t FilterKind() override { return fkValue; }
  int32_t ParamCount() override;
  void GetParamInfos(std::vector<TFilterParamInfo>& Infos) override;
  void GetCaption(std::u16string& Caption) override;
  int32_t SetParamText(int32_t Index, const std::u16string& Text) override;

  TExpressionParser Parser;  // holds the compiled Commands
  TCalcCmdList& Commands() { return Parser.Commands; }
  TCalcStack Stack;
  std::vector<TFilterParamInfo> ParamInfos;
  bool ParamInfosLoaded = false;
  std::string Dst;  // UTF-8
  int32_t GroupIndex = -1;
  TModResolveFn Resolver;
  TQelObjectProps* ResolverContext;  // the owner, not held
  bool IsGroupMod = false;
  TCalcFunc* TimeGetter = nullptr;  // the last time variable made, not held
};

// A name of the formula, resolved as the modifier sees it.
TCalcFunc* ResolveFormulaName(TQelObjectMod* Mod, std::string_view Text, int32_t Start, int32_t Count);

// Fills the key frames' modifier hook and adds the spline graph to the
// calculator library.
void InitObjectMods();

}  // namespace showmodel
