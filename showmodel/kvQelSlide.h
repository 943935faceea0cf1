// The root of one slide's object tree: its place on the show's time line,
// the time origins its key frames count from, its background record, the
// time scaling of its key frames, and the mouse processing that turns clicks
// on its objects into actions.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvImage.h"
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
  // The two colours in the display profile (copies without colour
  // management; colour 2 is colour 1's when the style is solid or the two
  // are equal).
  text::TFColor Color1Display{}, Color2Display{};
};

// Tiles of a picture background are capped at this many across and down (a
// background size of 0.1 % would otherwise ask for hundreds of thousands of
// draws per frame).
constexpr int32_t kMaxBackgroundTiles = 255;

// What a slide needs of a drawer beyond the objects' drawer to blend a
// second background made of objects: an off-screen layer. A drawer without
// it draws the second background's colours and picture only.
class TSlideLayerDrawer {
 public:
  virtual ~TSlideLayerDrawer() = default;
  // Starts drawing into a cleared off-screen layer of the view's size; false
  // when none can be had.
  virtual bool BeginOffscreen() = 0;
  virtual void EndOffscreen() = 0;
  // Draws the layer over the view at the alpha (0..255).
  virtual void DrawOffscreen(uint8_t Alpha) = 0;
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
  bool IsMeasuring() override { return Measuring; }
  void EnsureMeasured() override { MeasureExtents(false); }
  bool IsEffectSlide() override { return EffectSlide; }
  void Draw(TQelDrawer* Drawer) override;
  void Preload(TQelDrawer* Drawer) override;

  // The largest on-screen size of every object over the slide's key-frame
  // times, once per load (a later call does nothing until the next load).
  void MeasureExtents(bool Incremental);

  // The picture of a picture background (one reference for the caller; nil
  // when the record has no picture or it would show at no size), its shown
  // size, and the lookup table that grades it into the display profile (nil
  // when none is needed; owned by the slide's cache).
  imaging::TImage* GetBackgroundPicture(const TSlideBackground& Bg, float& Width, float& Height,
                                        imaging::TSysBitmap** Lut = nullptr);
  // Draws one background over the slide's screen quad at the alpha.
  void DrawBackground(TQelDrawer* Drawer, const TSlideBackground& Bg, uint8_t Alpha);

  // Setters for slide effects; each marks the slide changed when the value
  // changes. Colours are converted to the display profile here.
  void SetBackgroundFile(const std::u16string& FileName);
  void SetBackgroundSize(float Size);
  void SetBackgroundColor1(text::TFColor Color);
  void SetBackgroundColor2(text::TFColor Color);
  void SetBackgroundStyle(uint8_t Style);
  void SetBlendBackground(float Mix, uint8_t Style, text::TFColor Color1, text::TFColor Color2,
                          const std::u16string& FileName, float Size);
  // The objects before the first splitter of each slide (none without a
  // splitter) become this slide's background objects; nil clears.
  void SetBackgroundObjects(TQelSlide* A, TQelSlide* B);
  // Makes and preloads the draw filter of a transition drawn from an
  // effect file (filled by the slide-effect unit; nothing without it).
  using TPreloadTransitionHook = void (*)(TQelSlide* Slide, TQelDrawer* Drawer);
  static TPreloadTransitionHook PreloadTransitionHook;
  // Computes the two display-profile colours of a record.
  void ConvertBackgroundColors(TSlideBackground& Bg);

  // Shift: 1 Windows key, 2 Shift, 4 Alt, 8 Ctrl, 16/32/64 the mouse
  // buttons; Kind 0 move, 1 down, 2 up. Answers the hit object (or nil) and
  // the action a completed click asks for.
  TQelObject* ProcessMouse(uint32_t Shift, float X, float Y, int32_t Button, int32_t Kind,
                           TQelActionInfo& Action, bool Enabled);

  foundation::TRefObject* Producer = nullptr;  // not referenced
  double LocalTime = 0;
  TSlideBackground Background;
  TSlideBackground Background2;  // blended over the first by BgMix
  float BgMix = 0;
  std::vector<TQelObject*> BgObjects, BgObjects2;  // borrowed from BgSlides
  bool EffectSlide = false;
  bool ExtentsMeasured = false;
  bool Measuring = false;
  double SavedTime = 0;
  std::vector<double> KeyFrameTimes;
  TFloatPoint RenderSize{};
  TQelDrawer* LastPreloadDrawer = nullptr;  // compared only
  double LastSetTime = std::nan("");
  int32_t RepeatPass = 0;
  double Start = 0, End = 0, EffectIn = 0, EffectOut = 0;
  TQelFilter* Transition = nullptr;  // one reference
  // The key-frame times were scaled by this factor (1 when not).
  float TimeScale = 1;

 private:
  void ReadBackground(foundation::TIniList* Node, const std::u16string& Prefix);
  // One picture as it is drawn: reduced to about twice its shown size, with
  // the lookup table of its own colour profile.
  struct TBgCacheEntry {
    std::u16string Key;
    foundation::TRef<imaging::TImage> Image;
    foundation::TRef<imaging::TSysBitmap> Lut;
    foundation::TRef<TColorGradeWrapper> Grade;
    float Width = 0, Height = 0;  // shown size
  };
  TBgCacheEntry* BackgroundEntry(const TSlideBackground& Bg);
  std::vector<TBgCacheEntry> FBgCache;  // at most two
  foundation::TRef<TQelSlide> FBgSlides[2];  // keep the borrowed objects alive
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
