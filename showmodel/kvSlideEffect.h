// A transition drawn by a small slide of its own: an effect section of an
// effect file describes a slide whose objects animate over the transition's
// length and show the outgoing and incoming slides through images marked as
// effect buffers. TRealSlideFilter carries that effect slide for the draw
// manager's transition drawing.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/kvIni.h"
#include "render3d/Dev3DEffects2.h"
#include "showmodel/kvQelSlide.h"

namespace showmodel {

class TSlideProducer;

// Where the effect slide's background comes from ("CustomEffBg").
enum : int32_t { ebOwn = 0, ebOutgoing = 1, ebIncoming = 2, ebBlend = 3 };

class TRealSlideFilter : public render3d::TSlideEffFilter {
 public:
  QEL_CLASSNAME(TRealSlideFilter)
  // Reads "TransparentBg" and "CustomEffBg" of the section.
  explicit TRealSlideFilter(foundation::TIniList* Section);
  void Dispose() override;
  void Draw(transitions::TEffController*) override {}

  // The operations the transition drawing calls, under its names.
  void BeginDraw(render3d::TCustomD3DEffecter* Effecter) override;
  void EndDraw() override { DetachSlideTargets(); }
  void Preload(render3d::T3DDrawer* Drawer) override;
  void SetProgress(double Fraction) override;
  void SetSlides(render3d::TDrawItem* Outgoing, render3d::TDrawItem* Incoming) override;

  // Images of buffer kind 1 show the outgoing slide's target, kind 2 the
  // incoming one's (added to their picture's attachment list, not counted).
  void AttachSlideTargets(foundation::TRefObject* Outgoing, foundation::TRefObject* Incoming);
  // Every image of the effect slide loses the first render target attached.
  void DetachSlideTargets();
  void ApplyBackground(TQelSlide* Outgoing, TQelSlide* Incoming);
  void PreloadSlide(TQelDrawer* Drawer);

  TQelSlide* EffSlide = nullptr;  // one reference
  int32_t BackgroundMode = ebOwn;
  double EffectProgress = 0;
  TSlideProducer* Producer = nullptr;  // one reference

  // The show model's slide behind a draw item of the draw manager (filled
  // with the adapter between the two); nil answers leave the backgrounds.
  using TSlideOfItem = TQelSlide* (*)(render3d::TDrawItem* Item);
  static TSlideOfItem SlideOfItem;
  // A new draw item (one reference, which the filter keeps in EffectSlide
  // and releases) that draws the effect slide; filled with the same adapter.
  // Without one the transition factory answers a cross-fade, since the
  // transition drawing draws that item.
  using TItemOfSlide = render3d::TDrawItem* (*)(TQelSlide* Slide);
  static TItemOfSlide ItemOfSlide;

 private:
  std::vector<std::pair<imaging::TImage*, foundation::TRefObject*>> FAttached;
};

// The filter of a transition drawn from an effect section for the slide
// (which must have been made by a slide producer: assertion); a cross-fade
// without a section.
transitions::TDrawFilter* CreateSlideEffectFilter(TQelSlide* Slide, foundation::TIniSection* Section);

// Start-up: the slides' preload makes and preloads these filters, and the
// transition factory asks this unit for the filters of slide effects.
void InitSlideEffects();

}  // namespace showmodel
