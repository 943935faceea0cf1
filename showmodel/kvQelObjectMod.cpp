#include "showmodel/kvQelObjectMod.h"

#include <algorithm>

#include "foundation/LocalizationHook.h"
#include "foundation/kvByteString.h"
#include "foundation/kvByteStringUtils.h"
#include "foundation/kvStringUtils.h"
#include "showmodel/kvCalcSplines.h"

namespace showmodel {

using foundation::TByteString;
using foundation::TIniItem;
using foundation::TIniList;

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return foundation::CompareUtf8NoCase(reinterpret_cast<const uint8_t*>(a.data()), a.size(), 0, int(a.size()),
                                       reinterpret_cast<const uint8_t*>(b.data()), b.size(), 0, int(b.size())) == 0;
}

TCalcFunc* ResolveThunk(void* context, std::string_view text, int32_t start, int32_t count) {
  return ResolveFormulaName(static_cast<TQelObjectMod*>(context), text, start, count);
}

std::string_view GroupPart(std::string_view dst) {
  const size_t dot = dst.rfind('.');
  return dot == std::string_view::npos ? dst : dst.substr(0, dot);
}

}  // namespace

TQelObjectMod::TQelObjectMod(TModResolveFn Resolver, TQelObjectProps* Context)
    : Resolver(Resolver), ResolverContext(Context) {}

bool TQelObjectMod::Prepare() {
  TimeGetter = nullptr;
  Parser.Commands.Clear();
  Dst = std::string(TIniItem::GetRawValue(TIniList::FindKey(Node, u"dst")).View());
  const TByteString fn = TIniItem::GetRawValue(TIniList::FindKey(Node, u"fn"));
  if (Dst.empty() || fn.IsEmpty() || fn.GetLength() > ModMaxFormulaBytes) return false;
  Parser.Text = std::string(fn.View());
  return Compile(Parser, 0, int32_t(Parser.Text.size()), TCalcResolver{ResolveThunk, this});
}

double TQelObjectMod::Evaluate() {
  Stack.Clear();
  if (Parser.Commands.Count == 0) return 0;
  if (!showmodel::Evaluate(Parser.Commands, Stack) || Stack.Count != 1) return 0;
  return Stack.Top;
}

TCalcFunc* ResolveFormulaName(TQelObjectMod* Mod, std::string_view Text, int32_t Start, int32_t Count) {
  if (!Mod || Start < 0 || Count <= 0 || size_t(Start) + size_t(Count) > Text.size()) return nullptr;
  const std::string_view name = Text.substr(size_t(Start), size_t(Count));
  // 1. The library wins.
  if (TCalcFunc* f = FindCalcFunc(name)) return f;
  auto timeOf = [&](std::string_view group) -> TCalcFunc* {
    if (!Mod->Resolver) return nullptr;
    TCalcFunc* f = Mod->Resolver(Mod->ResolverContext, group, 0, int32_t(group.size()), true);
    if (f) Mod->TimeGetter = f;
    return f;
  };
  // 2. "T": the destination group's time.
  if (name == "T" || name == "t") return timeOf(GroupPart(Mod->Dst));
  // 3. "<group>.T": that group's time.
  if (name.size() > 2 && name[name.size() - 2] == '.' && (name.back() == 'T' || name.back() == 't'))
    return timeOf(name.substr(0, name.size() - 2));
  // 4. "value": the destination.
  if (SameName(name, "value")) {
    const std::string_view dst = Mod->Dst;
    if (dst.size() > 2 && dst[dst.size() - 2] == '.' && (dst.back() == 'T' || dst.back() == 't'))
      return timeOf(dst.substr(0, dst.size() - 2));
    return Mod->Resolver ? Mod->Resolver(Mod->ResolverContext, dst, 0, int32_t(dst.size()), false) : nullptr;
  }
  // 5. A key of the block: a constant the compiler folds.
  const TByteString bytes = TByteString::FromBytes(name);
  if (TIniItem* key = TIniList::FindKeyRaw(Mod->Node, bytes, 0, bytes.GetLength()))
    return new TMathConst(name, TIniItem::GetFloat(key, 0));
  // 6. A parameter of the object.
  return Mod->Resolver ? Mod->Resolver(Mod->ResolverContext, Text, Start, Count, false) : nullptr;
}

int32_t TQelObjectMod::ParamCount() { return std::max(0, TIniItem::GetInteger(TIniList::FindKey(Node, u"pcount"), 0)); }

void TQelObjectMod::GetParamInfos(std::vector<TFilterParamInfo>& Infos) {
  if (!ParamInfosLoaded) {
    ParamInfosLoaded = true;
    ParamInfos.clear();
    const int32_t n = std::min(ParamCount(), 1024);
    for (int32_t i = 0; i < n; ++i) {
      const TByteString desc = TIniItem::GetRawValue(TIniList::FindKeyIndexed(Node, u"pinfo", i));
      TFilterParamInfo info;
      info.Min = 0;
      info.Max = 100;
      info.Default = 0;
      bool typed = false;
      std::string_view rest = desc.View();
      while (!rest.empty()) {
        const size_t semi = rest.find(';');
        std::string_view item = rest.substr(0, semi);
        rest = semi == std::string_view::npos ? std::string_view() : rest.substr(semi + 1);
        const size_t colon = item.find(':');
        if (colon == std::string_view::npos) continue;
        auto trim = [](std::string_view s) {
          while (!s.empty() && uint8_t(s.front()) <= 32) s.remove_prefix(1);
          while (!s.empty() && uint8_t(s.back()) <= 32) s.remove_suffix(1);
          return s;
        };
        const std::string_view key = trim(item.substr(0, colon)), value = trim(item.substr(colon + 1));
        if (SameName(key, "name")) {
          info.Caption = TByteString::FromBytes(value).ToUnicode();
        } else if (SameName(key, "id")) {
          info.Key = std::string(value);
        } else if (SameName(key, "type")) {
          static const char* kinds[] = {"String", "Int", "Float", "Color", "Combo"};
          for (uint8_t k = 0; k < 5; ++k)
            if (SameName(value, kinds[k])) {
              info.Kind = k;
              typed = true;
            }
        } else if (SameName(key, "range")) {
          foundation::TCommaList list;
          list.Split(TByteString::FromBytes(value), ',');
          info.Min = list.GetFloat(0, 0);
          info.Max = list.GetFloat(1, 100);
          info.Default = list.GetFloat(2, 0);
        }
      }
      if (!typed) continue;
      if (info.Kind != fpkInt && info.Kind != fpkFloat) info.Min = info.Max = info.Default = 0;
      info.Caption = foundation::Translate(u"Objects", u"filteropt_" + info.Caption, info.Caption);
      ParamInfos.push_back(std::move(info));
    }
  }
  Infos = ParamInfos;
}

void TQelObjectMod::GetCaption(std::u16string& Caption) {
  const std::string_view dst = Dst;
  const size_t dot = dst.rfind('.');
  const std::u16string part =
      TByteString::FromBytes(dot == std::string_view::npos ? dst : dst.substr(dot + 1)).ToUnicode();
  Caption = foundation::Translate(u"Objects", DisplayName, DisplayName) + u": " +
            foundation::Translate(u"Objects", part, part);
  if (IsGroupMod) {
    const std::u16string preset = TIniItem::GetValue(TIniList::FindKey(Node, u"Preset"));
    if (!preset.empty()) Caption += u" (" + foundation::Translate(u"Objects", preset, preset) + u")";
  }
}

int32_t TQelObjectMod::SetParamText(int32_t Index, const std::u16string& Text) {
  const int32_t changed = TObjectFilter::SetParamText(Index, Text);
  if (!changed || !Node) return changed;
  if (TIniItem* p = TIniList::FindKey(Node, u"Preset")) {
    p->Detach();
    p->Free();
  }
  return changed + 1;
}

namespace {

TObjectFilter* CreateMod(TQelObjectProps* owner, foundation::TIniObject* block, int32_t group, bool isGroupMod) {
  auto* mod = new TQelObjectMod(ResolveModVariable, owner);
  mod->GroupIndex = group;
  mod->IsGroupMod = isGroupMod;
  if (!LoadFilter(mod, block)) {
    mod->Free();
    return nullptr;
  }
  return mod;
}

}  // namespace

void InitObjectMods() {
  CreateModHook = CreateMod;
  RegisterSplineGraph();
}

}  // namespace showmodel
