// Key frames and animated parameters: every show object's tree of animated
// properties, loaded from its project block, and the evaluation of its
// fifteen parameters at a time of the slide, with the modifiers and colour
// filters its key frames carry.
//
// Property trees, key frames, modifiers and filters are built on the
// slide-loader thread and afterwards used only on the main thread; they take
// no locks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvByteStringLists.h"
#include "foundation/kvIni.h"
#include "showmodel/kvCalcUtils.h"
#include "showmodel/kvObjectFilters.h"

namespace showmodel {

// ---- Object types --------------------------------------------------------------

enum : uint8_t {
  otUnknown = 0,
  otFrame = 1,
  otBox = 2,
  otSplitter = 3,
  otImage = 4,
  otAniImage = 5,
  otText = 6,
  otButton = 7,
  otVideo = 8,
  otViewPort = 9,
  otMaskStencil = 10,
  otMaskContent = 11,
};
constexpr int32_t ObjectTypeCount = 12;
// Names by id; ids 0 and 5 have none.
extern const char16_t* const ObjectTypeNames[ObjectTypeCount];
uint8_t ObjectTypeFromName(std::u16string_view TypeWord);

// ---- Groups and parameters -------------------------------------------------------

constexpr int32_t KeyFrameGroupCount = 8;
constexpr int32_t KeyFrameParamCount = 15;
enum : int32_t {
  kgOpacity = 0,
  kgPos = 1,
  kgScale = 2,
  kgAngle = 3,
  kgCenter = 4,
  kgBlur = 5,
  kgColor = 6,
  kgFrame = 7,
};
enum : int32_t {
  kpOpacity = 0,
  kpPosX,
  kpPosY,
  kpPosZ,
  kpScaleX,
  kpScaleY,
  kpAngle,
  kpAngleX,
  kpAngleY,
  kpCenterX,
  kpCenterY,
  kpBlur,
  kpFrameS,
  kpFrameX,
  kpFrameY,
};
extern const char* const KeyFrameGroupNames[KeyFrameGroupCount];

struct TKeyFrameParam {
  int32_t Group;
  int32_t Index;
  const char* Name;
  const char16_t* IniKey;  // nullptr: the second component of a pair
  int32_t Component;
  double Multiplier;
  float Default;
};
extern const TKeyFrameParam KeyFrameParams[KeyFrameParamCount];

struct TByteRange {
  uint8_t First = 0, End = 0;
};
// Derived at start-up: each group's parameter range (the Color group's is
// empty: first 255, end 0), each parameter's pair (or -1) and each pair's
// base row.
extern TByteRange GroupParamRange[KeyFrameGroupCount];
extern int8_t ParamPair[KeyFrameParamCount];
extern int8_t PairBaseParam[2];
// Runs the table self-checks and derives the tables above.
void InitKeyFrames();

// ---- Key frames -------------------------------------------------------------------

class TQelObjectProps;

enum : uint8_t { koSlideBegin = 0, koPrevEffectEnd = 1, koNextEffectBegin = 2, koSlideEnd = 3 };

class TQelKeyFrame : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelKeyFrame)
  // Leaves the owner's list (its slot must hold this key frame), marks the
  // list changed and releases the modifiers and filters.
  void Dispose() override;

  TQelObjectProps* Owner = nullptr;
  int32_t Index = 0;
  foundation::TIniObject* Node = nullptr;  // holds a reference
  double Time = 0;
  uint8_t Origin = koSlideBegin;
  foundation::TCommaList PairLists[2];
  int32_t Groups = 0;
  // Every modifier, in load order (one reference each).
  std::vector<TObjectFilter*> Mods;
  // The modifiers of each group time and each parameter, in load order.
  std::array<std::vector<TObjectFilter*>, KeyFrameGroupCount> GroupMods;
  std::array<std::vector<TObjectFilter*>, KeyFrameParamCount> ParamMods;
  TByteRange GroupModUse, ParamModUse;
  // The colour filters: the head is the last "Filter" block.
  TObjectFilter* Filters = nullptr;

  // The single parameter values, parsed from Node once per load or write.
  float Cached[KeyFrameParamCount] = {};
  uint16_t CachedPresent = 0;
  bool CacheValid = false;

  void ReleaseMods();
};

struct TQelKeyFrameArray {
  std::vector<TQelKeyFrame*> Items;  // one reference each
  int32_t ChangeCounter = 0;
  int32_t SeenMark = 0;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
};

struct TGroupCursor {
  int32_t First = 0, Last = -1, Prev = 0, Next = 0;
  double InvSpan = 0, Fraction = 0;
};

struct TObjectTimes {
  int32_t SlideSpan = 0, EffectIn = 0, EffectOut = 0;
};

class TQelObjectProps : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelObjectProps)
  TQelObjectProps();
  void Dispose() override;

  std::vector<TQelObjectProps*> Children;  // one reference each
  foundation::TIniObject* Node = nullptr;  // holds a reference
  std::u16string Guid;
  std::u16string BlockName;
  uint8_t ObjectType = otUnknown;
  TQelObjectProps* Parent = nullptr;
  int32_t IndexInParent = 0;
  TQelKeyFrameArray KeyFrames;
  bool OrderChanged = false;
  int32_t SeenCounter = 0;
  TGroupCursor Cursors[KeyFrameGroupCount];
  float Values[KeyFrameParamCount] = {};
  double EvalTime = 0;
  int32_t SlideSpan = 0, EffectIn = 0, EffectOut = 0;
  TByteRange GroupModRange, ParamModRange;
  float UnitScaleX = 0.01f, UnitScaleY = 0.01f;
  double TimeScale = 1.0;
  double DeltaTimes[2] = {0, 0};
  // The show object drawn from these properties (not counted: the object
  // holds the properties and clears this when it goes).
  foundation::TRefObject* Owner = nullptr;

  void ResetCursors();
  // Marks the key frames changed, so the next evaluation rebuilds its cursors.
  void MarkKeyFramesChanged() { ++KeyFrames.ChangeCounter; }
};

// Raised (as an assertion) for a child object block without a "GUID".
inline constexpr const char* GuidNotAssignedText = "QelObject GUID not Assigned";

void LoadObjectProps(TQelObjectProps* Props, foundation::TIniObject* Block, const TObjectTimes& Times);
void ScaleObjectTimes(TQelObjectProps* Props, const TObjectTimes& Times, float Scale);
void EvaluateObjectProps(TQelObjectProps* Props, double T, bool Recurse);

bool GetParamValue(TQelKeyFrame* KeyFrame, int32_t Param, float& Value);
void SetParamValue(TQelKeyFrame* KeyFrame, int32_t Param, float Value);
void SetCurrentValue(TQelObjectProps* Props, int32_t Param, float Value);
double GetDeltaTime(TQelObjectProps* Props, int32_t I);
void ApplyAspect(TQelObjectProps* Props, float Width, float Height);
foundation::TIniItem* FindNodeKey(TQelObjectProps* Props, std::u16string_view Name);
foundation::TIniItem* ForceNodeKey(TQelObjectProps* Props, std::u16string_view Name);
std::u16string GetNodeValue(TQelObjectProps* Props, std::u16string_view Name, std::u16string_view Def);
int32_t KeyFrameModCount(TQelKeyFrame* KeyFrame);

// The group of a parameter name ("Pos.X"), or of a group time ("Pos.T",
// parameter -1); -1 when unknown.
int32_t ParseParamName(std::string_view Name, int32_t& Param);
// A new time variable (is-time: the name is a group's) or parameter
// variable bound to Props; nil when the name denotes neither.
TCalcFunc* ResolveModVariable(TQelObjectProps* Props, std::string_view Text, int32_t Start, int32_t Count, bool IsTime);

// Calculator variables bound to one property tree (not owned: the tree owns
// the formulas that hold them).
class TParamGetter : public TCalcFunc {
 public:
  QEL_CLASSNAME(TParamGetter)
  TParamGetter(std::string_view Name, TQelObjectProps* Owner, int32_t Index);
  void Execute(TCalcStack& Stack) override;
  virtual double GetValue() = 0;
  virtual void SetValue(double Value) = 0;
  TQelObjectProps* Owner;
  int32_t Index;
};

class TTimeGetter : public TParamGetter {
 public:
  QEL_CLASSNAME(TTimeGetter)
  using TParamGetter::TParamGetter;
  double GetValue() override { return Owner->Cursors[Index].Fraction; }
  void SetValue(double Value) override { Owner->Cursors[Index].Fraction = Value; }
};

class TFieldGetter : public TParamGetter {
 public:
  QEL_CLASSNAME(TFieldGetter)
  using TParamGetter::TParamGetter;
  double GetValue() override { return Owner->Values[Index]; }
  void SetValue(double Value) override { Owner->Values[Index] = static_cast<float>(Value); }
};

// Makes a loaded modifier for a "Mod" block, or nil; filled by InitObjectMods.
using TCreateModHook = TObjectFilter* (*)(TQelObjectProps* Owner, foundation::TIniObject* Block, int32_t GroupIndex,
                                          bool IsGroupMod);
extern TCreateModHook CreateModHook;

}  // namespace showmodel
