// Colour filters of key frames ("Filter" blocks) and the base they share with
// the formula modifiers: identity ("id"), revision ("$rev") and enable
// ("Disable") handling, reuse across reloads, and the filter registry.
//
// A filter never touches an object's pixels: it transforms a colour lookup
// table, 4-byte B, G, R, A pixels, which the draw manager applies to the
// object. A volume table is 32 pixels wide and 1024 rows high; a ramp is 256
// pixels wide, every row the same.
//
// Filters are made and loaded on the slide-loader thread and afterwards used
// only on the main thread; they take no locks. The registry is filled once at
// start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "imaging/SysBitmap.h"

namespace showmodel {

enum : uint8_t { fpkString = 0, fpkInt = 1, fpkFloat = 2, fpkColor = 3, fpkCombo = 4 };

struct TFilterParamInfo {
  std::string Key;  // the INI key, UTF-8
  std::u16string Caption;
  uint8_t Kind = fpkString;
  double Min = 0, Max = 0, Default = 0;
  std::vector<std::u16string> Values, Names;  // Combo: stored values and their display names
};

enum : uint8_t { fkNone = 0, fkValue = 1, fkChannel = 2, fkMixing = 3 };

class TObjectFilter : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TObjectFilter)
  // Releases the block and the rest of the chain.
  void Dispose() override;

  // Transforms the first Rows rows of Width pixels in place.
  virtual void Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows);
  virtual double Evaluate();
  // Reads the working fields from Node; false when they could not be read.
  virtual bool Prepare() = 0;
  virtual uint8_t FilterKind() { return fkChannel; }
  virtual int32_t ParamCount() { return 0; }
  virtual void GetParamInfos(std::vector<TFilterParamInfo>& Infos) { Infos.clear(); }
  virtual void GetCaption(std::u16string& Caption) { Caption = DisplayName; }
  virtual void GetParamText(int32_t Index, std::u16string& Text);
  // 0 when nothing changed.
  virtual int32_t SetParamText(int32_t Index, const std::u16string& Text);

  std::string Id;                          // UTF-8, byte-exact identity
  foundation::TIniObject* Node = nullptr;  // holds a reference
  TObjectFilter* Next = nullptr;           // the rest of the chain, owned
  int64_t Revision = 0;
  int64_t PreparedRevision = 0;
  std::u16string DisplayName;
  bool PrepareFailed = false;
  bool Disabled = false;
};

// The name a block's header gives the filter (between "object" and ":").
std::u16string FilterBlockName(const foundation::TIniObject* Block);

// Loads the filter from a block: one with an identity only from a block of
// the same "id" and "$rev"; one without takes any block (creating its "id").
// Prepares it again only when the revision changed.
bool LoadFilter(TObjectFilter* Filter, foundation::TIniObject* Block);
// Revision + 1, written back as the block's "$rev".
void BumpRevision(TObjectFilter* Filter);

// The filter the registry makes for a block's name, loaded from it; nil when
// the name is unknown or the load fails.
TObjectFilter* CreateFilter(foundation::TIniObject* Block);

using TFilterFactory = TObjectFilter* (*)();
// Adds a filter class at the head of the registry.
void RegisterFilterClass(const std::u16string& Name, const std::u16string& Title, TFilterFactory Factory);
// Registers the seven colour filters (once).
void InitObjectFilters();
// Empties the registry.
void DoneObjectFilters();

// ---- Chains: the head is the last "Filter" block; Next leads to earlier ones.

// Applies the rest of the chain first, then the head unless disabled, so the
// filters act in block order.
void ApplyFilterChain(TObjectFilter* Head, imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows);
// The largest kind of the enabled filters (0 for none); a value filter
// followed by a colour filter is an assertion.
uint8_t ChainKind(TObjectFilter* Head);
// The decimal sum of the revisions; empty below 1.
std::u16string ChainRevisionKey(TObjectFilter* Head);
TObjectFilter* ReverseChain(TObjectFilter* Head);
// Detaches and answers the head's Next.
TObjectFilter* DetachNext(TObjectFilter* Head);
// Links Filter in front of Head; the new head.
TObjectFilter* LinkInFront(TObjectFilter* Filter, TObjectFilter* Head);
// Releases a chain (each filter releases its Next), without recursion.
void ReleaseChain(TObjectFilter*& Head);

enum : uint8_t { lutVolume = 1, lutRamp = 2 };
// Grades a lookup table through a chain. A volume table (32 x 1024) is
// filtered row by row over all its rows; a ramp's first row is filtered and
// copied into every other row, so whatever row the shader samples carries
// the grade.
void GradeLookupTable(TObjectFilter* Head, imaging::TSysBitmap* Table, uint8_t Mode);

// ---- The colour filters

// c' = clamp(truncate(c x m + o)) per channel.
class TLinearGenerator : public TObjectFilter {
 public:
  QEL_CLASSNAME(TLinearGenerator)
  void Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) override;
  double M[3] = {1, 1, 1};  // B, G, R
  double O[3] = {0, 0, 0};
};

class TBrightContrastGenerator : public TLinearGenerator {
 public:
  QEL_CLASSNAME(TBrightContrastGenerator)
  bool Prepare() override;
  int32_t ParamCount() override { return 2; }
  void GetParamInfos(std::vector<TFilterParamInfo>& Infos) override;
};

class TInvertColor : public TLinearGenerator {
 public:
  QEL_CLASSNAME(TInvertColor)
  bool Prepare() override;
};

class TLevelsGenerator : public TObjectFilter {
 public:
  QEL_CLASSNAME(TLevelsGenerator)
  bool Prepare() override;
  void Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) override;
  int32_t ParamCount() override { return 3; }
  void GetParamInfos(std::vector<TFilterParamInfo>& Infos) override;
  uint8_t Table[256] = {};
};

class TColorizationGenerator : public TObjectFilter {
 public:
  QEL_CLASSNAME(TColorizationGenerator)
  bool Prepare() override;
  void Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) override;
  uint8_t FilterKind() override { return fkMixing; }
  int32_t ParamCount() override { return 2; }
  void GetParamInfos(std::vector<TFilterParamInfo>& Infos) override;
  void GetCaption(std::u16string& Caption) override;
  int32_t SetParamText(int32_t Index, const std::u16string& Text) override;
  int32_t A = 256;           // the amount in 1/256
  int32_t K[3] = {0, 0, 0};  // the colour's B, G, R
 protected:
  virtual int32_t Channel(int32_t c, int32_t k, int32_t y) const;
};

class TColorMultiply : public TColorizationGenerator {
 public:
  QEL_CLASSNAME(TColorMultiply)
 protected:
  int32_t Channel(int32_t c, int32_t k, int32_t y) const override;
};

class TDoubleColorMultiply : public TColorizationGenerator {
 public:
  QEL_CLASSNAME(TDoubleColorMultiply)
 protected:
  int32_t Channel(int32_t c, int32_t k, int32_t y) const override;
};

class THSLGenerator : public TObjectFilter {
 public:
  QEL_CLASSNAME(THSLGenerator)
  bool Prepare() override;
  void Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) override;
  uint8_t FilterKind() override { return fkMixing; }
  int32_t ParamCount() override { return 3; }
  void GetParamInfos(std::vector<TFilterParamInfo>& Infos) override;
  int32_t HueShift = 0, SatShift = 0, LightShift = 0;
};

}  // namespace showmodel
