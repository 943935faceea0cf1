// The show description every timed part of the player reads: the authored
// screen size, the repeat mode, the renderer's options of Main, the slide time
// table (start, end and the transitions into and out of every slide), the end
// actions, and the choice of each slide's transition.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "showmodel/QelEffManager.h"
#include "showmodel/kvQelEffect.h"

namespace showmodel {

// One row of the slide table.
struct TSlideInfo : TSlideTimes {
  std::u16string SlideId;
};

enum : uint8_t { rmRepeat = 0, rmClose = 1, rmStop = 2 };

// A random integer in 0 .. range - 1 (range >= 1).
using TRandomBelow = std::function<int32_t(int32_t range)>;

// The default random source: a generator seeded from the clock.
TRandomBelow ClockSeededRandom();

// Times of the pseudo-slides before the first slide.
constexpr double kBeforeShowStart = -1073741823.0;
constexpr double kFarBeforeShowStart = -2147483647.0;

class TQelSource : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelSource)
  // Keeps both (which must be given: assertion) without taking references;
  // OwnsAccessor starts false. A decreasing sync position fails the
  // assertion "Incorrect time". Random picks of transitions draw from the
  // given source (the clock-seeded generator when none is given).
  TQelSource(container::TFileAccessor* Accessor, foundation::TIniFile* Ini, bool OwnsIni,
             TRandomBelow Random = nullptr);
  // Releases the INI and the accessor only when the source owns them.
  void Dispose() override;

  // Why the show cannot play (no slides, or a length of 0), else empty. The
  // openers refuse such a show once the player's play check is installed
  // (player::InstallShowPlayCheck); every operation below still answers
  // soundly, and the slide producer asserts on a show without slides.
  std::u16string PlayError() const;

  // The times of slide Index (past the last slide: later passes, shifted by
  // whole show lengths) and its repetition; -1 for the pseudo-slides before
  // the first slide (and for any index when the show has no slides).
  int32_t GetSlideTimes(int32_t Index, TSlideTimes& Times) const;
  // The slide current at show time t: the first slide whose span
  // [Start, End] holds t, so on a boundary the earlier slide; -1 at or before
  // 0 (and for times that are not numbers).
  int32_t SlideIndexAt(double t) const;
  // The length of the transition into slide Index (the last slide of a show
  // that does not repeat has no outgoing one).
  double GetTransitionDuration(int32_t Index);
  // True when the slide stops the show at its end (pause, or loop with its
  // loop length).
  bool GetSlideEndAction(int32_t Index, double& LoopDuration);
  bool GetSlideRunApp(int32_t Index, std::u16string& FileName);
  // The transition into slide Index, nil for none; Duration is the length
  // the time table schedules for it.
  TQelEffect* GetSlideTransition(int32_t Index, double& Duration, double& SmoothLine);

  // Replaces the random source (tests).
  void SetRandom(TRandomBelow Random) { FRandom = std::move(Random); }

  TQELEffectManager* EffectManager = nullptr;
  container::TFileAccessor* Accessor = nullptr;
  foundation::TIniFile* Ini = nullptr;
  bool OwnsIni = false;
  bool OwnsAccessor = false;
  foundation::TIniSection* MainSection = nullptr;
  foundation::TIniSection* TimesSection = nullptr;
  std::vector<TSlideInfo> Slides;
  int32_t SlideCount = 0;
  uint8_t RepeatMode = rmRepeat;
  double ShowLength = 0;
  int32_t ScreenWidth = 1920;
  int32_t ScreenHeight = 1080;
  bool FixedEffects = false;
  bool EffectParity = false;
  int32_t EffectCounter = 0;
  uint32_t HiderColor = 0;  // 0x00RRGGBB
  float UnsharpAmount = 0;
  int32_t MotionBlurFrames = 0;
  int32_t MotionBlurFade = 0;
  double DefaultEffectTime = 0;
  std::vector<foundation::TRef<TQelEffect>> DefaultEffects;
  std::vector<int32_t> EffectOrder;
  bool IsScreenSaver = false;
  bool PauseWhenInactive = true;

 private:
  void Build();
  void BuildDefaultEffects();
  void ShuffleOrder();
  TQelEffect* PickDefault(int32_t Index);
  TRandomBelow FRandom;
};

// The transition kind of a setting name (1 dissolve .. 11 swap), 12 for any
// other (custom) name, 0 for the names that are not kinds ("quick",
// "default", "defowntime", empty).
int32_t TransitionKindOf(std::u16string_view name);
// An effect of a built-in kind from a definition's values, nil when no
// variant is enabled.
TQelEffect* MakeKindEffect(int32_t kind, TEffectProp* prop);
// A copy of the template reduced to variant v (0 .. VariantCount - 1).
TQelEffect* ReduceToVariant(const TQelEffect* effect, int32_t v);

// Start-up: lets show locators make their description.
void InitQelSource();

}  // namespace showmodel
