// Slides made ahead of the show time: the producer builds slide i (also of a
// later pass of a repeating show, and the pseudo-slide before the first),
// fits the show's picture area into the render target, and the cache keeps
// the window of prepared slides around the show time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "foundation/SysObj.h"
#include "showmodel/kvQelSlide.h"
#include "showmodel/kvQelSlideHost.h"
#include "showmodel/kvQelSource2.h"

namespace showmodel {

// A time source every prepared slide can refer to (the slide loader's time).
class ITiming : public foundation::TRefObject {
 public:
  virtual double GetTime() = 0;
};

class TTiming : public ITiming {
 public:
  QEL_CLASSNAME(TTiming)
  explicit TTiming(double Time) : Time(Time) {}
  double GetTime() override { return Time; }
  double Time = 0;
};

struct TViewportRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const TViewportRect&) const = default;
};

// One prepared slide.
class TDrawContainer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDrawContainer)
  void Dispose() override;
  // The slide's time is t less the whole passes before it; the transition's
  // position is t - Start.
  void SetShowTime(double t);

  TFloatPoint SlideSize{};
  ITiming* Timing = nullptr;  // one reference
  TQelSlide* Slide = nullptr;  // one reference
  TSlideTimes Times;
  double TimeShift = 0;
  TQelFilter* Transition = nullptr;  // the slide's, not referenced
  int32_t Index = 0;
};

class TSlideProducer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TSlideProducer)
  // The source must be given (assertion); without a host one is made over
  // the source's accessor.
  TSlideProducer(TQelSource* Source, bool OwnsSource, TQelSlideHost::TEffectResourceQuery ResourceCallback,
                 TQelSlideHost* Host);
  void Dispose() override;

  void SetRenderSize(int32_t Width, int32_t Height, double RelWidth, double RelHeight, bool Cover);
  void SetScreenSize(int32_t Width, int32_t Height);
  // The picture rectangle inside a target of that size, with the aspect the
  // render size set (every caller sees the same picture area).
  TViewportRect GetViewportRect(int32_t Width, int32_t Height);
  // The picture rectangle of the current render target.
  TViewportRect CurrentViewportRect();
  bool IsCoverMode();
  // The slide's size and whether it is usable (at least 32 pixels wide).
  TFloatPoint GetSlideSize(bool* Usable = nullptr);
  int32_t ViewportWidth();
  int32_t ViewportHeight();
  double Aspect();

  TDrawContainer* PrepareSlide(int32_t Index);
  TQelSlide* CreateSlide(int32_t Index, int32_t Repetition);
  // A slide built from any section (an effect slide): from 0 to the
  // section's "CustomEffTime" (2000), without sync times or transitions.
  // Nil for a nil section.
  TQelSlide* CreateSlideFromSection(foundation::TIniSection* Section);
  // "help": the first "dialog_<n>_" section whose "help" is set; another
  // name: the custom dialog of that name (case ignored), else the section
  // "dialog_" + name. Nil when no section matches.
  TQelDialog* CreateDialog(const std::u16string& Name);
  // The lowest slide that has not completely left the screen at t, and the
  // last slide visible then (the next one while it comes in).
  int32_t FindSlides(double t, int32_t* Last = nullptr);

  TQelSource* Source = nullptr;
  bool OwnsSource = false;
  TQelSlideHost* Host = nullptr;  // one reference
  int32_t ScreenWidth = 1920, ScreenHeight = 1080;
  bool FullFixedSize = false;
  int32_t Cursor = 0;
  ITiming* CurrentTiming = nullptr;  // one reference; set with SetTiming
  void SetTiming(ITiming* Timing);

 private:
  struct View {
    int32_t RenderWidth = 0, RenderHeight = 0;
    double RelWidth = 100, RelHeight = 100;
    double Aspect = 16.0 / 9.0;
    bool Cover = false;
    int32_t ViewportWidth = 0, ViewportHeight = 0;
  };
  double AspectFor(int32_t RenderWidth, int32_t RenderHeight);
  void ComputeViewport(View& v);
  double RoundedOutEnd(int32_t Index);
  std::mutex FViewLock;  // guards FView: the engine reads it on the main thread
  View FView;
};

class TSlideCache : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TSlideCache)
  // LookAhead outside 1..3 fails an assertion.
  TSlideCache(TSlideProducer* Producer, bool OwnsProducer, int32_t LookAhead);
  void Dispose() override;
  // One pass: drops slides outside the window (one always stays), prepares
  // at most one missing slide of the window, or rebuilds slides made at
  // another size. True when the prepared set changed.
  bool Update(double t);
  void Clear();
  int32_t Count() const { return int32_t(FItems.size()); }
  TDrawContainer* Item(int32_t k) const { return FItems[size_t(k)].Get(); }

  TSlideProducer* Producer = nullptr;
  bool OwnsProducer = false;
  int32_t LookAhead = 1;
  int64_t LastRefresh = -1000000;
  std::function<void(TSlideCache*, TDrawContainer*)> OnNewSlide;
  std::function<void(TSlideCache*)> OnChanged;
  // The millisecond clock and the pause between rebuilt slides (tests
  // replace them).
  std::function<int64_t()> Clock;
  std::function<void(uint32_t)> Sleep;

 private:
  std::vector<foundation::TRef<TDrawContainer>> FItems;  // by Index, ascending
};

}  // namespace showmodel
