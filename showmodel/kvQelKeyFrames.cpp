#include "showmodel/kvQelKeyFrames.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

#include "foundation/kpExceptions.h"
#include "foundation/kpTypes.h"
#include "foundation/kvByteString.h"
#include "foundation/kvByteStringUtils.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvIniUtils.h"
#include "showmodel/kvCalc.h"

namespace showmodel {

using foundation::TByteString;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniObject;

const char16_t* const ObjectTypeNames[ObjectTypeCount] = {
    u"",     u"Frame",  u"Box",   u"Splitter", u"Image",       u"",
    u"Text", u"Button", u"Video", u"ViewPort", u"MaskStencil", u"MaskContent",
};

const char* const KeyFrameGroupNames[KeyFrameGroupCount] = {"Opacity", "Pos",  "Scale", "Angle",
                                                            "Center",  "Blur", "Color", "Frame"};

const TKeyFrameParam KeyFrameParams[KeyFrameParamCount] = {
    {0, 0, "Opacity", u"Opacity", 0, 0.01, 100},   {1, 1, "Pos.X", u"Position", 0, 0.01, 0},
    {1, 2, "Pos.Y", nullptr, 1, 0.01, 0},          {1, 3, "Pos.Z", u"ZPos", 0, 0.01, 0},
    {2, 4, "Scale.X", u"ScaleX", 0, 0.01, 100},    {2, 5, "Scale.Y", u"ScaleY", 0, 0.01, 100},
    {3, 6, "Angle", u"Angle", 0, 1.0 / 360, 0},    {3, 7, "Angle.X", u"AngleX", 0, 1.0 / 360, 0},
    {3, 8, "Angle.Y", u"AngleY", 0, 1.0 / 360, 0}, {4, 9, "Center.X", u"CenterPos", 0, 0.01, 0},
    {4, 10, "Center.Y", nullptr, 1, 0.01, 0},      {5, 11, "Blur", u"Blur", 0, 0.01, 0},
    {7, 12, "Frame.S", u"Zoom", 0, 0.01, 100},     {7, 13, "Frame.X", u"OffsX", 0, 0.01, 0},
    {7, 14, "Frame.Y", u"OffsY", 0, 0.01, 0},
};

TByteRange GroupParamRange[KeyFrameGroupCount];
int8_t ParamPair[KeyFrameParamCount];
int8_t PairBaseParam[2];
TCreateModHook CreateModHook = nullptr;

namespace {

bool SameAscii(std::u16string_view a, std::u16string_view b) {
  return foundation::SameText(std::u16string(a), std::u16string(b));
}

// Case-insensitive equality of a UTF-8 range with an ASCII name.
bool SameName(std::string_view a, std::string_view b) {
  return foundation::CompareUtf8NoCase(reinterpret_cast<const uint8_t*>(a.data()), a.size(), 0, int(a.size()),
                                       reinterpret_cast<const uint8_t*>(b.data()), b.size(), 0, int(b.size())) == 0;
}

bool GroupEnabled(const TQelKeyFrame* k, int32_t g) { return (k->Groups >> g) & 1; }

void ExtendRange(TByteRange& r, int32_t index) {
  if (r.First >= r.End) {
    r.First = uint8_t(index);
    r.End = uint8_t(index + 1);
    return;
  }
  r.First = uint8_t(std::min<int32_t>(r.First, index));
  r.End = uint8_t(std::max<int32_t>(r.End, index + 1));
}

void UniteRange(TByteRange& r, const TByteRange& other) {
  if (other.First >= other.End) return;
  ExtendRange(r, other.First);
  ExtendRange(r, other.End - 1);
}

// Object blocks nest at most this deep; a deeper project fails to load
// instead of running the recursive load into the machine stack.
constexpr int32_t kMaxObjectDepth = 256;

}  // namespace

uint8_t ObjectTypeFromName(std::u16string_view TypeWord) {
  if (TypeWord.empty() || TypeWord[0] >= 128) return otUnknown;
  char16_t c = TypeWord[0];
  if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  switch (c) {
    case u'a':
      return SameAscii(TypeWord, u"AniImage") ? otAniImage : otUnknown;
    case u'b':
      if (SameAscii(TypeWord, u"Box")) return otBox;
      return SameAscii(TypeWord, u"Button") ? otButton : otUnknown;
    case u'f':
      return SameAscii(TypeWord, u"Frame") ? otFrame : otUnknown;
    case u'i':
      return SameAscii(TypeWord, u"Image") ? otImage : otUnknown;
    case u'm':
      if (SameAscii(TypeWord, u"MaskStencil")) return otMaskStencil;
      return SameAscii(TypeWord, u"MaskContent") ? otMaskContent : otUnknown;
    case u's':
      return SameAscii(TypeWord, u"Splitter") ? otSplitter : otUnknown;
    case u't':
      return SameAscii(TypeWord, u"Text") ? otText : otUnknown;
    case u'v':
      if (SameAscii(TypeWord, u"Video")) return otVideo;
      return SameAscii(TypeWord, u"Viewport") ? otViewPort : otUnknown;
    default:
      return otUnknown;
  }
}

void InitKeyFrames() {
  for (int32_t id = 1; id < ObjectTypeCount; ++id)
    if (ObjectTypeNames[id][0] && ObjectTypeFromName(ObjectTypeNames[id]) != id)
      foundation::QelAssertFail("Invalid qel object type names");
  for (auto& r : GroupParamRange) r = TByteRange{255, 0};
  int32_t pairs = 0;
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) {
    const TKeyFrameParam& row = KeyFrameParams[p];
    if (row.Index != p) foundation::QelAssertFail("Invalid qel keyframe param index");
    if (row.Multiplier == 0) foundation::QelAssertFail("Invalid keyframe Value multiplier");
    if (row.Group < 0 || row.Group >= KeyFrameGroupCount) foundation::QelAssertFail("Invalid Group Range");
    TByteRange& g = GroupParamRange[row.Group];
    if (g.First > g.End)
      g = TByteRange{uint8_t(p), uint8_t(p + 1)};
    else
      g.End = uint8_t(p + 1);
    ParamPair[p] = -1;
  }
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) {
    const TKeyFrameParam& row = KeyFrameParams[p];
    if (row.Component >= 1) {
      const int32_t base = p - row.Component;
      if (base < 0 || !KeyFrameParams[base].IniKey || row.IniKey) foundation::QelAssertFail("Invalid keyframe pair");
      if (ParamPair[base] < 0) {
        if (pairs >= 2) foundation::QelAssertFail("Invalid keyframe pair");
        PairBaseParam[pairs] = int8_t(base);
        ParamPair[base] = int8_t(pairs++);
      }
      ParamPair[p] = ParamPair[base];
    }
  }
  if (pairs != 2) foundation::QelAssertFail("Invalid keyframe pair");
}

// ---- Parameter names and calculator variables ---------------------------------------

int32_t ParseParamName(std::string_view Name, int32_t& Param) {
  Param = -1;
  const size_t dotPos = Name.rfind('.');
  const size_t dot = dotPos == std::string_view::npos ? Name.size() : dotPos;
  int32_t group = -1;
  for (int32_t g = 0; g < KeyFrameGroupCount; ++g)
    if (SameName(Name.substr(0, dot), KeyFrameGroupNames[g])) {
      group = g;
      break;
    }
  if (group < 0) return -1;
  if (Name.size() == dot + 2 && (Name.back() == 'T' || Name.back() == 't')) return group;
  const TByteRange r = GroupParamRange[group];
  for (int32_t p = r.First; p < r.End; ++p)
    if (SameName(Name, KeyFrameParams[p].Name)) {
      Param = p;
      break;
    }
  return group;
}

TParamGetter::TParamGetter(std::string_view Name, TQelObjectProps* Owner, int32_t Index)
    : TCalcFunc(Name, 0, false), Owner(Owner), Index(Index) {}

void TParamGetter::Execute(TCalcStack& Stack) { Stack.Push(GetValue()); }

TCalcFunc* ResolveModVariable(TQelObjectProps* Props, std::string_view Text, int32_t Start, int32_t Count,
                              bool IsTime) {
  if (!Props || Start < 0 || Count <= 0 || size_t(Start) + size_t(Count) > Text.size()) return nullptr;
  const std::string_view name = Text.substr(size_t(Start), size_t(Count));
  if (IsTime) {
    for (int32_t g = 0; g < KeyFrameGroupCount; ++g)
      if (SameName(name, KeyFrameGroupNames[g])) return new TTimeGetter(name, Props, g);
    return nullptr;
  }
  int32_t param = -1;
  if (ParseParamName(name, param) < 0 || param < 0) return nullptr;
  return new TFieldGetter(name, Props, param);
}

// ---- Key frames -----------------------------------------------------------------------

namespace {

void FillCache(TQelKeyFrame* k) {
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) {
    const TKeyFrameParam& row = KeyFrameParams[p];
    float v = row.Default;
    const int32_t pair = ParamPair[p];
    if (pair >= 0) {
      const foundation::TCommaList& list = k->PairLists[pair];
      if (row.Component < list.GetCount()) v = static_cast<float>(list.GetFloat(row.Component, 0));
    } else if (k->Node) {
      v = static_cast<float>(TIniItem::GetFloat(TIniList::FindKey(k->Node, row.IniKey), row.Default));
    }
    k->Cached[p] = v;
  }
  k->CacheValid = true;
}

void SplitPairs(TQelKeyFrame* k) {
  for (int32_t pair = 0; pair < 2; ++pair) {
    TIniItem* item = TIniList::ForceKey(k->Node, KeyFrameParams[PairBaseParam[pair]].IniKey);
    k->PairLists[pair].Split(TIniItem::GetRawValue(item), ',');
  }
}

void ReleaseFilterList(std::vector<TObjectFilter*>& list, size_t from) {
  for (size_t i = from; i < list.size(); ++i) {
    if (list[i]) list[i]->Free();
    list[i] = nullptr;
  }
}

void AddMod(TQelKeyFrame* k, TObjectFilter* mod, int32_t group, int32_t param) {
  k->Mods.push_back(mod);
  if (param < 0) {
    k->GroupMods[size_t(group)].push_back(mod);
    ExtendRange(k->GroupModUse, group);
  } else {
    k->ParamMods[size_t(param)].push_back(mod);
    ExtendRange(k->ParamModUse, param);
  }
}

void LoadKeyFrame(TQelKeyFrame* k, TIniObject* block) {
  TQelObjectProps* owner = k->Owner;
  if (k->Node != block) {
    block->_AddRef();
    foundation::FreeAndNil(k->Node);
    k->Node = block;
  }
  const uint8_t type = owner->ObjectType;
  if (type == otSplitter || type == otMaskStencil || type == otMaskContent) {
    k->Groups = 0;
  } else {
    int32_t g = TIniItem::GetInteger(TIniList::FindKey(block, u"grps"), 255) & 255;
    if (type == otUnknown || type == otFrame || type == otBox || type == otViewPort) g &= ~0xC0;
    if (type == otAniImage || type == otText || type == otButton) g &= ~0x80;
    k->Groups = g;
  }
  static const std::u16string_view origins[] = {u"SlideBegin", u"PrevEffectEnd", u"NextEffectBegin", u"SlideEnd"};
  k->Origin = uint8_t(TIniItem::GetValueIndex(TIniList::FindKey(block, u"Origin"), origins, true, 0));
  const TByteString timeText = TIniItem::GetRawValue(TIniList::FindKey(block, u"Time"));
  int32_t dot = 0;
  while (dot < timeText.GetLength() && timeText.GetByte(dot) != '.') ++dot;
  const int32_t ms = dot > 0 ? timeText.ToIntDef(0, 0, dot) : 0;
  double originTime = 0;
  switch (k->Origin) {
    case koPrevEffectEnd:
      originTime = owner->EffectIn;
      break;
    case koNextEffectBegin:
      originTime = double(owner->SlideSpan) - owner->EffectOut;
      break;
    case koSlideEnd:
      originTime = owner->SlideSpan;
      break;
    default:
      break;
  }
  k->Time = double(ms) + originTime;
  SplitPairs(k);

  // Modifiers and filters: the previous ones are offered to the blocks of
  // the same slot (modifiers) or in block order (filters) before new ones
  // are made.
  std::array<std::vector<TObjectFilter*>, KeyFrameGroupCount> oldGroup;
  std::array<std::vector<TObjectFilter*>, KeyFrameParamCount> oldParam;
  for (int32_t g = 0; g < KeyFrameGroupCount; ++g) oldGroup[size_t(g)].swap(k->GroupMods[size_t(g)]);
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) oldParam[size_t(p)].swap(k->ParamMods[size_t(p)]);
  std::array<size_t, KeyFrameGroupCount> groupNext{};
  std::array<size_t, KeyFrameParamCount> paramNext{};
  k->Mods.clear();  // the references now sit in the slots above
  k->GroupModUse = TByteRange{};
  k->ParamModUse = TByteRange{};
  std::vector<TObjectFilter*> oldFilters;
  for (TObjectFilter* f = ReverseChain(k->Filters); f;) {
    TObjectFilter* next = DetachNext(f);
    oldFilters.push_back(f);
    f = next;
  }
  k->Filters = nullptr;
  size_t filterNext = 0;
  bool filtersFailed = false;

  for (TIniObject* child = TIniList::FirstObject(block); child; child = TIniList::NextObject(block, child)) {
    const std::u16string typeWord = TIniItem::GetValue(child);
    if (foundation::SameText(typeWord, u"Mod")) {
      const TByteString dst = TIniItem::GetRawValue(TIniList::FindKey(child, u"dst"));
      int32_t param = -1;
      const int32_t group = dst.IsEmpty() ? -1 : ParseParamName(dst.View(), param);
      if (group < 0) continue;
      const bool isGroupMod = param < 0;
      if (isGroupMod && !(dst.GetLength() >= 2 && (dst.View().back() == 'T' || dst.View().back() == 't') &&
                          dst.View()[size_t(dst.GetLength() - 2)] == '.'))
        continue;  // a group name alone (or a parameter name that is unknown)
      std::vector<TObjectFilter*>& old = isGroupMod ? oldGroup[size_t(group)] : oldParam[size_t(param)];
      size_t& next = isGroupMod ? groupNext[size_t(group)] : paramNext[size_t(param)];
      TObjectFilter* mod = nullptr;
      if (next < old.size()) {
        TObjectFilter* candidate = old[next];
        if (candidate->FilterKind() == fkValue && LoadFilter(candidate, child)) {
          mod = candidate;
          old[next++] = nullptr;
        } else {
          ReleaseFilterList(old, next);
          next = old.size();
        }
      }
      if (!mod && CreateModHook) mod = CreateModHook(owner, child, group, isGroupMod);
      if (mod) AddMod(k, mod, group, isGroupMod ? -1 : param);
    } else if (foundation::SameText(typeWord, u"Filter")) {
      TObjectFilter* f = nullptr;
      if (!filtersFailed && filterNext < oldFilters.size()) {
        if (LoadFilter(oldFilters[filterNext], child)) {
          f = oldFilters[filterNext];
          oldFilters[filterNext++] = nullptr;
        } else {
          ReleaseFilterList(oldFilters, filterNext);
          filtersFailed = true;
        }
      }
      if (!f) f = CreateFilter(child);
      if (f) k->Filters = LinkInFront(f, k->Filters);
    }
  }
  for (auto& v : oldGroup) ReleaseFilterList(v, 0);
  for (auto& v : oldParam) ReleaseFilterList(v, 0);
  ReleaseFilterList(oldFilters, 0);
  k->CacheValid = false;
}

}  // namespace

void TQelKeyFrame::ReleaseMods() {
  for (auto& v : GroupMods) v.clear();
  for (auto& v : ParamMods) v.clear();
  GroupModUse = ParamModUse = TByteRange{};
  std::vector<TObjectFilter*> mods;
  mods.swap(Mods);
  for (TObjectFilter* m : mods) m->Free();
}

void TQelKeyFrame::Dispose() {
  if (TQelObjectProps* owner = Owner) {
    Owner = nullptr;
    auto& items = owner->KeyFrames.Items;
    if (Index < 0 || Index >= int32_t(items.size()) || items[size_t(Index)] != this)
      foundation::QelAssertFail(std::string(ClassName()) + " Index mismatch");
    items.erase(items.begin() + Index);
    for (size_t i = size_t(Index); i < items.size(); ++i) items[i]->Index = int32_t(i);
    owner->MarkKeyFramesChanged();
    if (items.size() < 2) owner->ResetCursors();
  }
  ReleaseMods();
  ReleaseChain(Filters);
  foundation::FreeAndNil(Node);
  TRefObject::Dispose();
}

int32_t KeyFrameModCount(TQelKeyFrame* KeyFrame) { return KeyFrame ? int32_t(KeyFrame->Mods.size()) : 0; }

bool GetParamValue(TQelKeyFrame* KeyFrame, int32_t Param, float& Value) {
  QEL_ASSERT(Param >= 0 && Param < KeyFrameParamCount, "GetParamValue: parameter index out of range");
  const TKeyFrameParam& row = KeyFrameParams[Param];
  if (!KeyFrame || !GroupEnabled(KeyFrame, row.Group)) {
    Value = row.Default;
    return false;
  }
  if (!KeyFrame->CacheValid) FillCache(KeyFrame);
  Value = KeyFrame->Cached[Param];
  return true;
}

void SetParamValue(TQelKeyFrame* KeyFrame, int32_t Param, float Value) {
  QEL_ASSERT(Param >= 0 && Param < KeyFrameParamCount, "SetParamValue: parameter index out of range");
  if (!KeyFrame || !KeyFrame->Node) return;
  TQelObjectProps* owner = KeyFrame->Owner;
  if (owner &&
      (owner->ObjectType == otSplitter || owner->ObjectType == otMaskStencil || owner->ObjectType == otMaskContent))
    return;
  const TKeyFrameParam& row = KeyFrameParams[Param];
  const int32_t pair = ParamPair[Param];
  if (pair < 0) {
    TIniItem::SetValue(TIniList::ForceKey(KeyFrame->Node, row.IniKey), foundation::FloatToText6(Value));
  } else {
    foundation::TCommaList& list = KeyFrame->PairLists[pair];
    const int32_t n = std::max(list.GetCount(), row.Component + 1);
    std::u16string text;
    for (int32_t i = 0; i < n; ++i) {
      if (i > 0) text += u",";
      if (i == row.Component)
        text += foundation::FloatToStrTrimmed(Value, 16);
      else
        text += list.GetString(i);
    }
    TIniItem* item = TIniList::ForceKey(KeyFrame->Node, KeyFrameParams[PairBaseParam[pair]].IniKey);
    TIniItem::SetValue(item, text);
    list.Split(TIniItem::GetRawValue(item), ',');
  }
  KeyFrame->Groups |= 1 << row.Group;
  TIniItem::SetInteger(TIniList::ForceKey(KeyFrame->Node, u"grps"), KeyFrame->Groups);
  KeyFrame->CacheValid = false;
  if (owner) owner->MarkKeyFramesChanged();
}

// ---- Object properties ------------------------------------------------------------------

TQelObjectProps::TQelObjectProps() {
  ResetCursors();
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) Values[p] = KeyFrameParams[p].Default;
}

void TQelObjectProps::ResetCursors() {
  for (TGroupCursor& c : Cursors) c = TGroupCursor{};
}

void TQelObjectProps::Dispose() {
  foundation::FreeAndNil(Node);
  std::vector<TQelObjectProps*> children;
  children.swap(Children);
  for (TQelObjectProps* c : children) {
    c->Parent = nullptr;
    c->Free();
  }
  std::vector<TQelKeyFrame*> frames;
  frames.swap(KeyFrames.Items);
  for (TQelKeyFrame* k : frames) {
    k->Owner = nullptr;
    k->Free();
  }
  TRefObject::Dispose();
}

namespace {

void RecomputeModRanges(TQelObjectProps* p) {
  p->GroupModRange = TByteRange{};
  p->ParamModRange = TByteRange{};
  for (TQelKeyFrame* k : p->KeyFrames.Items) {
    UniteRange(p->GroupModRange, k->GroupModUse);
    UniteRange(p->ParamModRange, k->ParamModUse);
  }
}

// Orders key frames by time, equal times by their previous order.
void SortKeyFrames(TQelObjectProps* p) {
  auto& items = p->KeyFrames.Items;
  if (items.size() < 2) return;
  std::stable_sort(items.begin(), items.end(),
                   [](const TQelKeyFrame* a, const TQelKeyFrame* b) { return a->Time < b->Time; });
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i]->Index != int32_t(i)) {
      items[i]->Index = int32_t(i);
      p->OrderChanged = true;
    }
}

void ReleaseKeyFramesFrom(TQelObjectProps* p, size_t from) {
  auto& items = p->KeyFrames.Items;
  while (items.size() > from) {
    TQelKeyFrame* k = items.back();
    items.pop_back();
    k->Owner = nullptr;
    k->Free();
  }
}

void LoadProps(TQelObjectProps* props, TIniObject* block, const TObjectTimes& times, int32_t depth) {
  if (depth > kMaxObjectDepth) foundation::QelAssertFail("QelObject nesting too deep");
  if (props->Node != block) {
    block->_AddRef();
    foundation::FreeAndNil(props->Node);
    props->Node = block;
  }
  props->SlideSpan = times.SlideSpan;
  props->EffectIn = times.EffectIn;
  props->EffectOut = times.EffectOut;
  props->BlockName = TIniItem::GetName(block);
  props->ObjectType = ObjectTypeFromName(TIniItem::GetValue(block));
  if (props->ObjectType == otImage && TIniItem::GetValue(TIniList::FindKey(block, u"AnimEnable")) == u"1")
    props->ObjectType = otAniImage;
  props->TimeScale = 1.0;
  props->DeltaTimes[0] = TIniItem::GetFloat(TIniList::FindKey(block, u"DeltaTime1"), 0);
  props->DeltaTimes[1] = TIniItem::GetFloat(TIniList::FindKey(block, u"DeltaTime2"), 0);

  auto& frames = props->KeyFrames.Items;
  size_t frameCount = 0;
  bool unsorted = false;
  size_t childCount = 0;
  bool mismatch = false;
  std::vector<TQelObjectProps*> spare;  // children not yet claimed after the first mismatch
  std::unordered_map<std::u16string, size_t> spareIndex;
  auto releaseSpare = [&spare] {
    for (TQelObjectProps*& s : spare)
      if (s) {
        s->Parent = nullptr;
        foundation::FreeAndNil(s);
      }
  };
  try {
    for (TIniObject* child = TIniList::FirstObject(block); child; child = TIniList::NextObject(block, child)) {
      if (foundation::SameText(TIniItem::GetValue(child), u"KeyPoint")) {
        TQelKeyFrame* k;
        if (frameCount < frames.size()) {
          k = frames[frameCount];
        } else {
          k = new TQelKeyFrame();
          k->Owner = props;
          k->Index = int32_t(frames.size());
          frames.push_back(k);
        }
        LoadKeyFrame(k, child);
        if (frameCount > 0 && k->Time < frames[frameCount - 1]->Time) unsorted = true;
        ++frameCount;
        continue;
      }
      const std::u16string guid = TIniItem::GetValue(TIniList::FindKey(child, u"GUID"));
      if (guid.empty()) foundation::QelAssertFail(GuidNotAssignedText);
      TQelObjectProps* c = nullptr;
      if (!mismatch && childCount < props->Children.size() && props->Children[childCount]->Guid == guid) {
        c = props->Children[childCount];
      } else {
        if (!mismatch) {
          mismatch = true;
          spare.assign(props->Children.begin() + std::ptrdiff_t(childCount), props->Children.end());
          props->Children.resize(childCount);
          for (size_t i = 0; i < spare.size(); ++i) spareIndex.emplace(spare[i]->Guid, i);
        }
        auto it = spareIndex.find(guid);
        if (it != spareIndex.end()) {
          c = spare[it->second];
          spare[it->second] = nullptr;
          spareIndex.erase(it);
        } else {
          c = new TQelObjectProps();
          c->Guid = guid;
        }
        c->Parent = props;
        props->Children.push_back(c);
      }
      c->IndexInParent = int32_t(childCount);
      ++childCount;
      LoadProps(c, child, times, depth + 1);
    }
  } catch (...) {
    // A failed load (a child without "GUID") keeps what it loaded so far;
    // the children no block claimed are released, not lost.
    releaseSpare();
    throw;
  }
  releaseSpare();
  while (props->Children.size() > childCount) {
    TQelObjectProps* s = props->Children.back();
    props->Children.pop_back();
    s->Parent = nullptr;
    s->Free();
  }
  ReleaseKeyFramesFrom(props, frameCount);
  if (unsorted) SortKeyFrames(props);

  props->MarkKeyFramesChanged();
  props->ResetCursors();
  props->SeenCounter = 0;
  RecomputeModRanges(props);
  TQelKeyFrame* first = frames.empty() ? nullptr : frames[0];
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) GetParamValue(first, p, props->Values[p]);
  EvaluateObjectProps(props, 0, false);
}

void ScaleProps(TQelObjectProps* props, const TObjectTimes& times, float scale, int32_t depth) {
  if (depth > kMaxObjectDepth) return;
  props->SlideSpan = times.SlideSpan;
  props->EffectIn = times.EffectIn;
  props->EffectOut = times.EffectOut;
  props->TimeScale = scale;
  auto& frames = props->KeyFrames.Items;
  bool unsorted = false;
  for (size_t i = 0; i < frames.size(); ++i) {
    frames[i]->Time = std::nearbyint(double(scale) * frames[i]->Time);
    if (i > 0 && frames[i]->Time < frames[i - 1]->Time) unsorted = true;
  }
  if (unsorted) SortKeyFrames(props);
  props->ResetCursors();
  // The cursors are rebuilt only for a changed list: without this the next
  // evaluation would keep the reset cursors and show default values.
  props->MarkKeyFramesChanged();
  for (TQelObjectProps* c : props->Children) ScaleProps(c, times, scale, depth + 1);
}

// ---- Evaluation ----------------------------------------------------------------

double TailFactor(const TQelObjectProps* p, const TQelKeyFrame* k) {
  const double d = double(p->SlideSpan) - k->Time;
  return d <= 0.0001 ? 0.0 : 1.0 / d;
}

double SpanFactor(double a, double b) {
  const double d = b - a;
  return d <= 0.0001 ? 0.0 : 1.0 / d;
}

void RebuildCursor(TQelObjectProps* p, int32_t g) {
  TGroupCursor& c = p->Cursors[g];
  c = TGroupCursor{};
  const auto& frames = p->KeyFrames.Items;
  for (size_t i = 0; i < frames.size(); ++i)
    if (GroupEnabled(frames[i], g)) {
      if (c.Last < 0) c.First = int32_t(i);
      c.Last = int32_t(i);
    }
  c.Prev = c.Next = c.First;
}

void SeekCursor(TQelObjectProps* p, int32_t g, double t) {
  TGroupCursor& c = p->Cursors[g];
  if (c.Last < 0) return;
  const auto& frames = p->KeyFrames.Items;
  auto time = [&](int32_t i) { return frames[size_t(i)]->Time; };
  if (c.First == c.Last) {
    c.Prev = c.Next = c.First;
    const TQelKeyFrame* k = frames[size_t(c.First)];
    if (t < k->Time) {
      c.InvSpan = c.Fraction = 0;
    } else {
      c.InvSpan = TailFactor(p, k);
      c.Fraction = (t - k->Time) * c.InvSpan;
    }
    return;
  }
  if (time(c.Prev) <= t && time(c.Next) <= t) {
    if (c.Next < c.Last) {
      c.Prev = c.Next;
      for (int32_t i = c.Next + 1; i <= c.Last; ++i) {
        if (!GroupEnabled(frames[size_t(i)], g)) continue;
        c.Next = i;
        if (t < time(i)) break;
        c.Prev = i;
      }
      c.InvSpan = c.Prev < c.Next ? SpanFactor(time(c.Prev), time(c.Next)) : TailFactor(p, frames[size_t(c.Prev)]);
    } else if (c.Prev != c.Next) {
      c.Prev = c.Next;
      c.InvSpan = TailFactor(p, frames[size_t(c.Prev)]);
    }
  } else if (time(c.Prev) > t) {
    if (c.Prev > c.First) {
      c.Next = c.Prev;
      for (int32_t i = c.Prev - 1; i >= c.First; --i) {
        if (!GroupEnabled(frames[size_t(i)], g)) continue;
        c.Prev = i;
        if (time(i) <= t) break;
        c.Next = i;
      }
      c.InvSpan = c.Prev < c.Next ? SpanFactor(time(c.Prev), time(c.Next)) : 0.0;
    } else {
      c.Next = c.Prev;
      c.InvSpan = 0;
    }
  }
  c.Fraction = (t - time(c.Prev)) * c.InvSpan;
}

float InterpolateParam(TQelObjectProps* p, int32_t param) {
  const int32_t g = KeyFrameParams[param].Group;
  const TGroupCursor& c = p->Cursors[g];
  if (c.Last < 0) return KeyFrameParams[param].Default;
  const auto& frames = p->KeyFrames.Items;
  float va = 0, vb = 0;
  GetParamValue(frames[size_t(c.Prev)], param, va);
  if (c.Prev >= c.Next) return va;
  GetParamValue(frames[size_t(c.Next)], param, vb);
  if ((param == kpFrameX || param == kpFrameY) && std::fabs(double(va) - vb) > 0.0001) {
    float za = 0, zb = 0;
    GetParamValue(frames[size_t(c.Prev)], kpFrameS, za);
    GetParamValue(frames[size_t(c.Next)], kpFrameS, zb);
    if (std::fabs(double(za) - zb) > 0.0001) {
      const double u = param == kpFrameX ? p->UnitScaleX : p->UnitScaleY;
      const double d = double(p->Values[kpFrameS]) * u - 1;
      if (d > 0) {
        const double a = (double(za) * u - 1) * va, b = (double(zb) * u - 1) * vb;
        return static_cast<float>(((b - a) * c.Fraction + a) / d);
      }
    }
  }
  return static_cast<float>(va + (double(vb) - va) * c.Fraction);
}

// Each enabled modifier of the slot, in load order, replaces the value with
// its result; the next one reads that through its variables.
void ApplyModChain(const std::vector<TObjectFilter*>& mods, double* target, float* targetF) {
  for (TObjectFilter* m : mods) {
    if (m->Disabled) continue;
    const double value = m->Evaluate();
    if (target) *target = value;
    if (targetF) *targetF = static_cast<float>(value);
  }
}

}  // namespace

void LoadObjectProps(TQelObjectProps* Props, TIniObject* Block, const TObjectTimes& Times) {
  if (!Props || !Block) return;
  LoadProps(Props, Block, Times, 0);
}

void ScaleObjectTimes(TQelObjectProps* Props, const TObjectTimes& Times, float Scale) {
  if (!Props) return;
  if (!(Scale >= 0.0001f)) Scale = 1.0f;
  ScaleProps(Props, Times, Scale, 0);
}

void EvaluateObjectProps(TQelObjectProps* Props, double T, bool Recurse) {
  TQelObjectProps* p = Props;
  p->EvalTime = T;
  const bool changed = p->KeyFrames.ChangeCounter != p->SeenCounter;
  p->SeenCounter = p->KeyFrames.ChangeCounter;
  const auto& frames = p->KeyFrames.Items;
  if (frames.size() == 1) {
    TQelKeyFrame* k = frames[0];
    const double tk = k->Time;
    const bool active = KeyFrameModCount(k) > 0 && double(p->SlideSpan) - tk > 0.0001;
    if (changed || active) {
      p->Cursors[kgColor].Last = GroupEnabled(k, kgColor) ? 0 : -1;
      for (int32_t q = 0; q < KeyFrameParamCount; ++q) GetParamValue(k, q, p->Values[q]);
      if (active && T > tk) {
        // Values first, so that group modifiers reading other parameters see
        // this evaluation's values.
        const double f = (T - tk) / (double(p->SlideSpan) - tk);
        for (int32_t g = 0; g < KeyFrameGroupCount; ++g)
          if (GroupEnabled(k, g)) p->Cursors[g].Fraction = f;
        for (int32_t g = 0; g < KeyFrameGroupCount; ++g)
          if (GroupEnabled(k, g) && !k->GroupMods[size_t(g)].empty())
            ApplyModChain(k->GroupMods[size_t(g)], &p->Cursors[g].Fraction, nullptr);
        for (int32_t q = 0; q < KeyFrameParamCount; ++q)
          if (GroupEnabled(k, KeyFrameParams[q].Group) && !k->ParamMods[size_t(q)].empty())
            ApplyModChain(k->ParamMods[size_t(q)], nullptr, &p->Values[q]);
      }
    }
  } else if (frames.size() >= 2) {
    if (changed) {
      RecomputeModRanges(p);
      for (int32_t g = 0; g < KeyFrameGroupCount; ++g) RebuildCursor(p, g);
    }
    for (int32_t g = 0; g < KeyFrameGroupCount; ++g) SeekCursor(p, g, T);
    for (int32_t q = 0; q < KeyFrameParamCount; ++q) p->Values[q] = InterpolateParam(p, q);
    // Group modifiers see this evaluation's values; a group whose time they
    // bend is interpolated again with the bent time.
    uint32_t bent = 0;
    for (int32_t g = p->GroupModRange.First; g < p->GroupModRange.End; ++g) {
      const TGroupCursor& c = p->Cursors[g];
      const auto& mods = frames[size_t(c.Prev)]->GroupMods[size_t(g)];
      if (mods.empty()) continue;
      const double before = c.Fraction;
      ApplyModChain(mods, &p->Cursors[g].Fraction, nullptr);
      if (!(p->Cursors[g].Fraction == before)) bent |= 1u << g;
    }
    if (bent)
      for (int32_t q = 0; q < KeyFrameParamCount; ++q)
        if ((bent >> KeyFrameParams[q].Group) & 1) p->Values[q] = InterpolateParam(p, q);
    for (int32_t q = p->ParamModRange.First; q < p->ParamModRange.End; ++q) {
      const TGroupCursor& c = p->Cursors[KeyFrameParams[q].Group];
      const auto& mods = frames[size_t(c.Prev)]->ParamMods[size_t(q)];
      if (!mods.empty()) ApplyModChain(mods, nullptr, &p->Values[q]);
    }
  }
  if (Recurse)
    for (TQelObjectProps* c : p->Children) EvaluateObjectProps(c, T, true);
}

void SetCurrentValue(TQelObjectProps* Props, int32_t Param, float Value) {
  if (Props && Param >= 0 && Param < KeyFrameParamCount) Props->Values[Param] = Value;
}

double GetDeltaTime(TQelObjectProps* Props, int32_t I) {
  if (!Props || I < 0 || I > 1) return 0;
  return Props->DeltaTimes[I] * Props->TimeScale;
}

void ApplyAspect(TQelObjectProps* Props, float Width, float Height) {
  if (!Props) return;
  Props->UnitScaleX = Props->UnitScaleY = 0.01f;
  if (TIniItem::GetValue(FindNodeKey(Props, u"EnableAspect")) != u"1") return;
  const double a = TIniItem::GetFloat(FindNodeKey(Props, u"Aspect"), 0);
  if (!(a > 0) || !(Width > 0) || !(Height > 0)) return;
  if (Width / Height <= a)
    Props->UnitScaleY = static_cast<float>(Height * (a / Width) * Props->UnitScaleY);
  else
    Props->UnitScaleX = static_cast<float>((Width / (Height * a)) * Props->UnitScaleX);
}

foundation::TIniItem* FindNodeKey(TQelObjectProps* Props, std::u16string_view Name) {
  return Props ? TIniList::FindKey(Props->Node, Name) : nullptr;
}

foundation::TIniItem* ForceNodeKey(TQelObjectProps* Props, std::u16string_view Name) {
  return Props && Props->Node ? TIniList::ForceKey(Props->Node, Name) : nullptr;
}

std::u16string GetNodeValue(TQelObjectProps* Props, std::u16string_view Name, std::u16string_view Def) {
  TIniItem* item = FindNodeKey(Props, Name);
  return item ? TIniItem::GetValue(item) : std::u16string(Def);
}

}  // namespace showmodel
