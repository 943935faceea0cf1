// Font substitution: a text is split into runs, each with a font that can
// draw it: the requested font where it covers the characters, otherwise the
// next font of an ordered fallback list that covers them, at a size whose
// ascent lines up with the requested font. One process-wide replacer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <functional>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvHashLists.h"
#include "foundation/kvLists.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"

namespace text {

class TFontItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFontItem)
  void Dispose() override;

  bool Proportional = false;
  TFontUnicodeChars* Coverage[4] = {};  // by style index: bold 1 | italic 2
  TFontParams Params;
  char16_t DefaultChar = 0;
  uint16_t DefaultGlyph = 0;
  // The last size match: the requested metrics and style it was made for.
  TFontMetrics MatchMetrics;
  uint8_t MatchStyle = 0;
  double MatchSize = 0;
  bool HasMatch = false;
  // Earlier matches by (ascent, descent, height, style), so that requests
  // that alternate between sizes do not measure again.
  std::map<std::array<int32_t, 4>, double> Matches;
  bool Initialised = false;
};

// Receives each run: the 1-based start and count in Text, the run's font and
// whether that font covers the run (false: no font covers it, the requested
// font is handed over as the last resort). Handled arrives true; a handler
// that refuses the font sets it false, and the run is then tried with the
// fallback fonts.
using TFontRunHandler = std::function<void(const std::u16string& Text, int32_t Start, int32_t Count,
                                           const TFontParams& Params, bool Covered, bool& Handled)>;

class TFontReplacer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFontReplacer)
  TFontReplacer();
  void Dispose() override;

  TFontItem* FindFont(const TFontParams& Params);
  TFontItem* AddFont(const TFontParams& Params, bool ToFallbackList);
  TFontItem* GetFont(const TFontParams& Params, bool ToFallbackList);
  // Splits Count code units of Text from the 1-based Start.
  void SplitText(const std::u16string& Text, int32_t Start, int32_t Count, const TFontParams& Params,
                 const TFontRunHandler& RunHandler);

  int32_t FallbackCount() const { return FFallbackList->Count(); }
  TFontItem* FallbackAt(int32_t Index) const { return FFallbackList->Get<TFontItem>(Index); }
  int32_t Resolution = 96;
  TFontCoverageFiller CoverageSource = nullptr;

 private:
  void Lock();
  void Unlock();
  void InitItem(TFontItem* Item);
  int32_t CoveredLength(TFontItem* Item, int32_t StyleIndex, const std::u16string& Text, int32_t Pos, int32_t Limit);
  bool ClusterCovered(TFontItem* Item, int32_t StyleIndex, const std::u16string& Text, int32_t Pos, int32_t Len);
  void ProcessRun(const std::u16string& Text, int32_t From, int32_t To, TFontItem* Item, int32_t ListPos,
                  bool SwitchedFlag, TFontItem* Requested, const TFontParams& RequestParams,
                  const TFontParams& RunParams);
  double MatchSize(TFontItem* Item, const TFontParams& RequestParams);

  foundation::THashList* FFontIndex = nullptr;
  foundation::TList* FFallbackList = nullptr;
  // Taken by Lock/Unlock: guards the font index and the fallback list while
  // a lookup or a rebuild runs.
  foundation::TSafeCriticalSection* FLock = nullptr;
  TFontRunHandler FRunHandler;
};

// 0-based Position: 1 unit, 2 for a surrogate pair, then every following
// combining mark, never beyond Limit (exclusive end).
int32_t ClusterLength(const std::u16string& Text, int32_t Position, int32_t Limit);

// The fallback family names of this system, in order: the installed faces
// that add coverage to the default family, closest first.
std::vector<std::u16string> DefaultFallbackFonts();

// The process-wide replacer, made by InitFontSubstitute.
TFontReplacer* FontReplacer();
// Makes the replacer with the default fallback list (the platform's fonts
// and coverage source must be set up).
void InitFontSubstitute();
void DoneFontSubstitute();

}  // namespace text
