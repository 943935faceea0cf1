// The root of one slide's object tree: its place on the show's time line,
// the time origins its key frames count from, its background record, the
// time scaling of its key frames, and the mouse processing that turns clicks
// on its objects into actions.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "foundation/kvIni.h"
#include "showmodel/kvQelActions.h"
#include "showmodel/kvQelEffect.h"
#include "showmodel/kvQelObject.h"
#include "text/GraphicsParams.h"

namespace showmodel {

// Background styles: solid colour, the two gradients, a tiled picture.
enum : uint8_t { bsSolid = 0, bsGradientBox6 = 1, bsGradientBox5 = 2, bsPicture = 3 };

class TQelDialog;

struct TSlideBackground {
  uint8_t Style = bsSolid;
  std::u16string FileName;
  float Size = 100;  // percent
  text::TFColor Color1{}, Color2{};
};

class TQelSlide : public TQelSlideBase {
 public:
  QEL_CLASSNAME(TQelSlide)
  // A slide of the host (which must be given: assertion) over a new
  // properties record of its own.
  static TQelSlide* CreateSlide(TQelSlideHost* Host, int32_t RepeatPass, foundation::TRefObject* Producer);
  static TQelDialog* CreateDialog(TQelSlideHost* Host, foundation::TRefObject* Producer);
  void Dispose() override;

  // Reads the slide: its times (unless NoSync), the transition lengths, the
  // time scaling, the background, then builds the object tree from the
  // slide's "Container" block.
  void LoadSlide(foundation::TIniSection* Main, foundation::TIniList* SlideNode, foundation::TIniSection* Options,
                 int32_t Index, double EffectIn, double EffectOut, bool NoSync);

  // Only the background: the slide's own keys, or Main's with "opt_".
  void LoadBackground(foundation::TIniSection* Main, foundation::TIniList* SlideNode);

  double SlideStart() override { return Start; }
  int32_t SlideIndex() override { return FSlideIndex; }
  double GetOriginTime(uint8_t Origin) override;
  TFloatPoint GetSize() override { return Size; }
  bool ProjectBounds(TFloatPoint Screen, float& X, float& Y) override;
  void EvaluateAt(double T, bool Recurse) override;
  void SetTime(double T, bool Recurse) override;
  void UpdateTransform(bool Recurse) override;

  // Shift: 1 Windows key, 2 Shift, 4 Alt, 8 Ctrl, 16/32/64 the mouse
  // buttons; Kind 0 move, 1 down, 2 up. Answers the hit object (or nil) and
  // the action a completed click asks for.
  TQelObject* ProcessMouse(uint32_t Shift, float X, float Y, int32_t Button, int32_t Kind,
                           TQelActionInfo& Action, bool Enabled);

  foundation::TRefObject* Producer = nullptr;  // not referenced
  double LocalTime = 0;
  TSlideBackground Background;
  double LastSetTime = std::nan("");
  int32_t RepeatPass = 0;
  double Start = 0, End = 0, EffectIn = 0, EffectOut = 0;
  TQelFilter* Transition = nullptr;  // one reference
  // The key-frame times were scaled by this factor (1 when not).
  float TimeScale = 1;

 private:
  void ReadBackground(foundation::TIniList* Node, const std::u16string& Prefix);
  foundation::TRef<TQelObjectProps> FOwnProps;
  int32_t FSlideIndex = 0;
};

// A help screen or an author's dialog, built from a "dialog_<n>_" section
// and shown over the show; its objects fade with FadePercent.
class TQelDialog : public TQelSlide {
 public:
  QEL_CLASSNAME(TQelDialog)
  double GetOpacityPercent() override { return FadePercent; }

  std::u16string DialogName;  // as asked for ("help", a dialog's name, or its number and "_")
  float FadePercent = 0;
  bool DialogPause = true;
};

}  // namespace showmodel
