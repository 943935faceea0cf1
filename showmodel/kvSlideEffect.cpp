#include "showmodel/kvSlideEffect.h"

#include <cmath>
#include <utility>
#include <vector>

#include "foundation/kpExceptions.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DRTPool.h"
#include "showmodel/QelEffManager.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvSlideProducer.h"

namespace showmodel {

using foundation::TIniItem;
using foundation::TIniList;

TRealSlideFilter::TSlideOfItem TRealSlideFilter::SlideOfItem = nullptr;
TRealSlideFilter::TItemOfSlide TRealSlideFilter::ItemOfSlide = nullptr;

namespace {

// Every image of the tree (the effect slide's pictures are images of any depth).
void CollectImages(TQelObject* o, std::vector<TQelImage*>& out) {
  if (auto* image = dynamic_cast<TQelImage*>(o)) out.push_back(image);
  for (TQelObject* c : o->Children) CollectImages(c, out);
}

}  // namespace

TRealSlideFilter::TRealSlideFilter(TIniList* Section) {
  TransparentBg = TIniItem::GetBool(TIniList::FindKey(Section, u"TransparentBg"), false) ? 1 : 0;
  BackgroundMode = TIniItem::GetInteger(TIniList::FindKey(Section, u"CustomEffBg"), ebOwn);
}

void TRealSlideFilter::Dispose() {
  DetachSlideTargets();
  if (EffectSlide) {
    EffectSlide->Free();
    EffectSlide = nullptr;
  }
  foundation::FreeAndNil(EffSlide);
  foundation::FreeAndNil(Producer);
  TSlideEffFilter::Dispose();
}

void TRealSlideFilter::SetProgress(double Fraction) {
  if (!std::isfinite(Fraction)) Fraction = 0;
  EffectProgress = Fraction;
  if (EffSlide)
    EffSlide->SetTime(EffSlide->Start + Fraction * (EffSlide->End - EffSlide->Start), true);
}

void TRealSlideFilter::ApplyBackground(TQelSlide* Outgoing, TQelSlide* Incoming) {
  QEL_ASSERT(EffSlide && Outgoing && Incoming, "TRealSlideFilter.ApplyBackground: no slide");
  auto copy = [this](TQelSlide* from) {
    EffSlide->SetBackgroundFile(from->Background.FileName);
    EffSlide->SetBackgroundSize(from->Background.Size);
    EffSlide->SetBackgroundColor1(from->Background.Color1);
    EffSlide->SetBackgroundColor2(from->Background.Color2);
    EffSlide->SetBackgroundStyle(from->Background.Style);
  };
  switch (BackgroundMode) {
    case ebOutgoing:
      copy(Outgoing);
      EffSlide->SetBackgroundObjects(Outgoing, nullptr);
      break;
    case ebIncoming:
      copy(Incoming);
      EffSlide->SetBackgroundObjects(Incoming, nullptr);
      break;
    case ebBlend: {
      copy(Outgoing);
      const TSlideBackground& b = Incoming->Background;
      EffSlide->SetBlendBackground(float(EffectProgress), b.Style, b.Color1, b.Color2, b.FileName, b.Size);
      EffSlide->SetBackgroundObjects(Outgoing, Incoming);
      break;
    }
    default:
      break;
  }
}

void TRealSlideFilter::SetSlides(render3d::TDrawItem* Outgoing, render3d::TDrawItem* Incoming) {
  if (!SlideOfItem) return;
  TQelSlide* out = SlideOfItem(Outgoing);
  TQelSlide* in = SlideOfItem(Incoming);
  if (out && in) ApplyBackground(out, in);
}

void TRealSlideFilter::AttachSlideTargets(foundation::TRefObject* Outgoing, foundation::TRefObject* Incoming) {
  if (!EffSlide) return;
  std::vector<TQelImage*> images;
  CollectImages(EffSlide, images);
  for (TQelImage* image : images) {
    foundation::TRefObject* target =
        image->EffectBufferNo == 1 ? Outgoing : image->EffectBufferNo == 2 ? Incoming : nullptr;
    if (!target || !image->Image) continue;
    image->Image->GetAttachments()->Add(target);
    FAttached.push_back({image->Image, target});
  }
}

void TRealSlideFilter::BeginDraw(render3d::TCustomD3DEffecter* Effecter) {
  if (!Effecter) return;
  AttachSlideTargets(Effecter->GetSlideTarget(0), Effecter->GetSlideTarget(1));
}

void TRealSlideFilter::DetachSlideTargets() {
  // The targets belong to the effecter: none may stay behind a frame.
  for (auto& [image, target] : FAttached)
    if (image->Attachments) image->Attachments->Remove(target);
  FAttached.clear();
}

void TRealSlideFilter::PreloadSlide(TQelDrawer* Drawer) {
  if (EffSlide) EffSlide->Preload(Drawer);
}

void TRealSlideFilter::Preload(render3d::T3DDrawer* Drawer) {
  // The draw manager's drawer serves the objects through its adapter.
  if (auto* objects = dynamic_cast<TQelDrawer*>(Drawer)) PreloadSlide(objects);
}

transitions::TDrawFilter* CreateSlideEffectFilter(TQelSlide* Slide, foundation::TIniSection* Section) {
  QEL_ASSERT(Slide, "CreateSlideEffectFilter: no slide");
  auto* creator = dynamic_cast<TSlideProducer*>(Slide->Producer);
  QEL_ASSERT(creator, "CreateSlideEffectFilter: the slide has no producer");
  if (!Section) return new transitions::TAlphaFilter;
  auto producer = foundation::TRef<TSlideProducer>::Adopt(
      new TSlideProducer(creator->Source, false, TQelSlideHost::TEffectResourceQuery(), creator->Host));
  producer->SetScreenSize(TIniItem::GetInteger(TIniList::FindKey(Section, u"opt_scr_width"), 1920),
                          TIniItem::GetInteger(TIniList::FindKey(Section, u"opt_scr_height"), 1080));
  const double sx = Slide->ParamScaleX(), sy = Slide->ParamScaleY();
  producer->SetRenderSize(int32_t(std::nearbyint(Slide->Size.X * sx * 0.01)),
                          int32_t(std::nearbyint(Slide->Size.Y * sy * 0.01)), sx, sy, creator->IsCoverMode());
  auto filter = foundation::TRef<TRealSlideFilter>::Adopt(new TRealSlideFilter(Section));
  filter->EffSlide = producer->CreateSlideFromSection(Section);
  if (filter->EffSlide) {
    filter->EffSlide->EffectSlide = true;
    if (TRealSlideFilter::ItemOfSlide) filter->EffectSlide = TRealSlideFilter::ItemOfSlide(filter->EffSlide);
  }
  filter->Producer = producer.Detach();
  return filter.Detach();
}

namespace {

// The effect-slide section of the definition variant whose project section
// is Raw (the slide's own effect first: a reference may override user
// properties), or nil when no definition names it.
foundation::TIniSection* BuildSectionFor(TQELEffectManager* M, int32_t SlideIndex, foundation::TIniSection* Raw) {
  std::vector<TEffectProp*> candidates;
  if (TEffectProp* own = M->GetSlideEffect(SlideIndex)) candidates.push_back(own);
  for (int32_t k = 0, n = M->GetDefinitionCount(); k < n && k < 1000; ++k)
    if (TEffectProp* d = M->GetDefinition(k)) candidates.push_back(d);
  for (TEffectProp* p : candidates) {
    const int32_t variants = p->GetVariantCount();
    for (int32_t v = 0; v < variants && v < 1000; ++v)
      if (p->GetVariantSection(v) == Raw) return M->BuildEffectSlideSection(p, v);
  }
  return nullptr;
}

// The effect slide is built from the section with the definition's user
// properties and background options applied (nil when no definition names
// the section: the section as it stands is used).
foundation::TRef<foundation::TIniSection> BuiltSection(TQelSlide* Slide, foundation::TIniSection* Raw) {
  auto* producer = dynamic_cast<TSlideProducer*>(Slide->Producer);
  if (!Raw || !producer || !producer->Source || !producer->Source->EffectManager) return {};
  return foundation::TRef<foundation::TIniSection>::Adopt(
      BuildSectionFor(producer->Source->EffectManager, Slide->SlideIndex(), Raw));
}

// A slide's transition drawn from an effect file is made once, at preload,
// and its effect slide preloaded with the same drawer.
void PreloadTransition(TQelSlide* Slide, TQelDrawer* Drawer) {
  TQelFilter* t = Slide->Transition;
  if (!t || !t->Effect || t->Effect->Kind != 12) return;
  if (!t->DrawFilter) {
    auto* producer = dynamic_cast<TSlideProducer*>(Slide->Producer);
    if (!producer) return;
    auto* raw = dynamic_cast<foundation::TIniSection*>(t->Effect->Description);
    foundation::TRef<foundation::TIniSection> built = BuiltSection(Slide, raw);
    transitions::TDrawFilter* filter = CreateSlideEffectFilter(Slide, built ? built.Get() : raw);
    const foundation::TRect view{0, 0, int32_t(std::nearbyint(Slide->Size.X)), int32_t(std::nearbyint(Slide->Size.Y))};
    filter->Init(view, float(t->Duration), 0);
    t->SetDrawFilter(filter);
  }
  if (auto* f = dynamic_cast<TRealSlideFilter*>(t->DrawFilter)) {
    f->SetProgress(f->transitions::TDrawFilter::Progress());
    f->PreloadSlide(Drawer);
  }
}

transitions::TDrawFilter* SlideEffectHook(render3d::TDrawItem* Incoming, foundation::TRefObject* Custom) {
  TQelSlide* slide = TRealSlideFilter::SlideOfItem ? TRealSlideFilter::SlideOfItem(Incoming) : nullptr;
  if (!slide || !dynamic_cast<TSlideProducer*>(slide->Producer)) return new transitions::TAlphaFilter;
  // The same section the preload builds from, so the drawn transition has
  // the definition's background mode and options too.
  auto* raw = dynamic_cast<foundation::TIniSection*>(Custom);
  foundation::TRef<foundation::TIniSection> built = BuiltSection(slide, raw);
  transitions::TDrawFilter* filter = CreateSlideEffectFilter(slide, built ? built.Get() : raw);
  // The transition drawing draws the effect slide's item: without one, fade.
  auto* real = dynamic_cast<TRealSlideFilter*>(filter);
  if (real && !real->EffectSlide) {
    filter->Free();
    return new transitions::TAlphaFilter;
  }
  return filter;
}

}  // namespace

void InitSlideEffects() {
  TQelSlide::PreloadTransitionHook = &PreloadTransition;
  render3d::SetSlideEffectHook(&SlideEffectHook);
}

}  // namespace showmodel
