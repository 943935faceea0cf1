#include "player/QelDrawController.h"

#include <algorithm>
#include <cmath>

#include "foundation/kpLog.h"
#include "foundation/kvLog.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelEffect.h"
#include "windowing/kpScreen.h"

namespace player {

using render3d::TDrawItem;
using render3d::TViewState;
using showmodel::TDrawContainer;

// ---- the messenger ----

void TDeviceKilledMessenger2::Dispose() {
  if (TQelDrawController* c = Controller) {
    Controller = nullptr;
    c->Messenger = nullptr;
    // The device is going. The reference on the screen is released only
    // with the controller: the device is still freeing its messengers, and
    // the screen's own one may be among them.
    if (c->Screen && !c->DroppedScreen)
      c->DroppedScreen = std::move(c->Screen);
    else
      c->Screen.Reset();
  }
  TRefObject::Dispose();
}

// ---- the draw controller ----

TQelDrawController::TQelDrawController(render3d::T3DScreen* screen)
    : Screen(foundation::TRef<render3d::T3DScreen>::AddRef(screen)) {
  Messenger = new TDeviceKilledMessenger2();
  Messenger->Controller = this;
  // The device's list owns the messenger; without a device the controller
  // does.
  if (Screen && Screen->Device) Screen->Device->Messengers.push_back(Messenger);
  ViewportLock = foundation::MakeRef<foundation::TCriticalSection>();
}

void TQelDrawController::Dispose() {
  ViewportLock.Reset();
  Listener.Reset();
  if (Messenger) {
    TDeviceKilledMessenger2* m = Messenger;
    m->Controller = nullptr;
    Messenger = nullptr;
    if (Screen && Screen->Device) {
      auto& list = Screen->Device->Messengers;
      if (std::find(list.begin(), list.end(), m) != list.end()) Screen->Device->RemoveMessenger(m);
    }
    m->Free();
  }
  Drawer.Reset();
  Screen.Reset();
  DroppedScreen.Reset();
  TRefObject::Dispose();
}

void TQelDrawController::InitDrawer() {
  if (!Drawer) {
    if (!Screen) return;
    Drawer = foundation::MakeRef<render3d::T3DDrawer>(Screen.Get());
    Listener.Reset();
    Listener = foundation::MakeRef<render3d::TScreenEvent>(
        Drawer->Screen, [this](render3d::T3DScreen*, int32_t code, intptr_t) { RndLost(code); });
  }
  Drawer->CreateShaders();
}

void TQelDrawController::SetViewport(const showmodel::TViewportRect& rect) {
  std::lock_guard<foundation::TCriticalSection> g(*ViewportLock);
  Viewport = rect;
}

showmodel::TViewportRect TQelDrawController::GetViewport() {
  std::lock_guard<foundation::TCriticalSection> g(*ViewportLock);
  return Viewport;
}

uint8_t TQelDrawController::GetState() {
  uint8_t r = 0;
  if (Screen && Screen->IsReady()) r |= dsScreenReady;
  if (ResetWanted || (Screen && Drawer)) r |= dsRedraw;
  ResetWanted = 0;
  if (DeviceLost) r |= dsDeviceLost;
  if (Drawer && Drawer->Screen && Drawer->Screen->IsReady()) {
    r |= dsDrawerReady;
    if (DeviceLost) foundation::GetLog()->Add(u"TQelDrawController.GetState: Inited, not Reinited");
    DeviceLost = 0;
  }
  return r;
}

void TQelDrawController::RndLost(int32_t kind) {
  if (kind != render3d::seRendererDropped) return;
  DeviceLost = 1;
  foundation::GetLog()->Add(u"TQelDrawController.RndLost");
}

bool TQelDrawController::DrawRoot(TDrawItem* item, const TViewState& view) {
  if (!Drawer) return false;
  return Drawer->DrawItemInView(item, view);
}

// ---- a prepared slide as an item ----

TSlideItem::TSlideItem(TDrawContainer* slide)
    : TQelObjectItem(slide ? slide->Slide : nullptr, nullptr),
      Slide(foundation::TRef<TDrawContainer>::AddRef(slide)) {}

void TSlideItem::Dispose() {
  Slide.Reset();
  TQelObjectItem::Dispose();
}

bool TSlideItem::IsChanged() { return TDrawItem::IsChanged() || (Object && Object->IsChanged()); }

void TSlideItem::Draw(render3d::T3DDrawer* drawer) {
  if (Object) TQelObjectItem::Draw(drawer);
}

void TSlideItem::SetTime(double t) {
  if (Slide) Slide->SetShowTime(t);
}

// ---- the root item ----

TRootItem::TRootItem(bool fillOutside) : FillOutside(fillOutside ? 1 : 0) {}

void TRootItem::Dispose() {
  Items.clear();
  PreviousItems.clear();
  FSlideItems.clear();
  FState.reset();
  TDrawItem::Dispose();
}

TSlideItem* TRootItem::ItemFor(TDrawContainer* slide) {
  for (auto& i : FSlideItems)
    if (i->Slide.Get() == slide) return i.Get();
  FSlideItems.push_back(foundation::TRef<TSlideItem>::Adopt(new TSlideItem(slide)));
  return FSlideItems.back().Get();
}

void TRootItem::SetItem(size_t index, TDrawItem* item) {
  if (Items.size() <= index) Items.resize(index + 1, nullptr);
  Items[index] = item;
  if (index >= PreviousItems.size() || PreviousItems[index] != item) Changed = 1;
}

void TRootItem::SetTransition(showmodel::TQelFilter* transition, double progress) {
  Transition = transition;
  const double p = transition ? progress : 0;
  if (p != TransitionProgress) Changed = 1;
  TransitionProgress = p;
}

bool TRootItem::SelectSlides(TDrawContainer* const* slides, int32_t count, TDrawItem* overlay) {
  PreviousItems.swap(Items);
  Items.clear();
  Transition = nullptr;
  Changed = 0;
  TransitionRunning = 0;
  if (!slides || count <= 0) return false;
  auto timeOf = [&](int32_t k) {
    TDrawContainer* s = slides[k];
    return (s->Timing ? s->Timing->GetTime() : 0.0) + TimeOffset;
  };
  // The current slide: the one whose span holds its time (at a boundary the
  // earlier one, as everywhere else in the show), else the last one started.
  int32_t cur = -1;
  for (int32_t k = 0; k < count && cur < 0; ++k) {
    const double t = timeOf(k);
    if (t >= slides[k]->Times.Start && t <= slides[k]->Times.End) cur = k;
  }
  if (cur < 0)
    for (int32_t k = count - 1; k >= 0 && cur < 0; --k)
      if (timeOf(k) >= slides[k]->Times.Start) cur = k;
  if (cur < 0) return false;
  int32_t first = cur;
  if (cur > 0 && slides[cur]->Transition) {
    const int32_t j = cur - 1;
    const double tj = timeOf(j);
    if (tj >= slides[j]->Times.Start && tj <= showmodel::GetSlideOutEnd(slides[j]->Times)) first = j;
  }
  for (int32_t k = first; k <= cur; ++k) {
    double t = timeOf(k);
    if (k == cur) t = std::min(t, showmodel::GetSlideOutEnd(slides[k]->Times));
    slides[k]->SetShowTime(t);
    CurrentTime = t;
  }
  showmodel::TQelFilter* tr = slides[cur]->Transition;
  // Without an effect the previous slide simply stays on screen until it
  // has left.
  if (first < cur && tr && tr->Effect) {
    SetItem(0, ItemFor(slides[first]));
    SetItem(1, ItemFor(slides[cur]));
    SetItem(2, overlay);
    SetTransition(tr, timeOf(cur) - slides[cur]->Times.Start);
    TransitionRunning = 1;
  } else {
    SetItem(0, ItemFor(slides[first]));
    SetItem(1, overlay);
    SetTransition(nullptr, 0);
    // The next transition starts with a state (and filter) of its own.
    FState.reset();
    FStateFilter = nullptr;
  }
  // Items of older frames are no longer needed.
  std::erase_if(FSlideItems, [&](const foundation::TRef<TSlideItem>& i) {
    TDrawItem* p = i.Get();
    return std::find(Items.begin(), Items.end(), p) == Items.end() &&
           std::find(PreviousItems.begin(), PreviousItems.end(), p) == PreviousItems.end();
  });
  return true;
}

bool TRootItem::IsChanged() {
  if (Changed) return true;
  for (TDrawItem* i : Items)
    if (i && i->IsChanged()) return true;
  return false;
}

void TRootItem::Prepare() {
  for (TDrawItem* i : Items)
    if (i) i->Prepare();
  // The filter drawn this frame: the transition's own (an effect slide's)
  // or the one the drawer made into the state.
  transitions::TDrawFilter* own = Transition ? Transition->DrawFilter : nullptr;
  if (own) own->FrameNotify();
  if (TransitionRunning && FState && FState->Filter && FState->Filter != own) FState->Filter->FrameNotify();
}

TViewState TRootItem::ItemView(TDrawItem* item) const {
  TViewState v = View;
  auto* slide = dynamic_cast<TSlideItem*>(item);
  if (slide && slide->Slide) {
    const float w = slide->Slide->SlideSize.X, h = slide->Slide->SlideSize.Y;
    v.Scale = {w, h};
    v.Origin = {(float(View.Viewport.Right - View.Viewport.Left) - w) / 2 + float(View.Viewport.Left),
                (float(View.Viewport.Bottom - View.Viewport.Top) - h) / 2 + float(View.Viewport.Top)};
  }
  return v;
}

void TRootItem::SetSubFrame(double p0, double offset) {
  if (TransitionRunning && FState) FState->Position = p0 + offset;
  for (size_t k = 0; k + 1 < Items.size(); ++k) {
    auto* s = dynamic_cast<TSlideItem*>(Items[k]);
    if (s && s->Slide) s->SetTime(std::min(showmodel::GetSlideOutEnd(s->Slide->Times), CurrentTime + offset));
  }
}

void TRootItem::Draw(render3d::T3DDrawer* drawer) {
  const bool level2 = drawer->GetShaderLevel() == 2;
  const bool sharpen = level2 && SharpenAmount > 0;
  if (TransitionRunning && Transition) {
    if (!FState || FStateFilter != Transition) {
      FState = std::make_unique<render3d::TTransitionState>();
      FStateFilter = Transition;
    }
    showmodel::FillTransitionState(*Transition, TransitionProgress, FEffectRecord, *FState);
  }
  // Motion blur only with a step of at least one millisecond and a fade:
  // a smaller span would never advance the loop, a zero fade divide by 0.
  const int32_t step = MotionBlurFrames > 1 ? MotionBlurSpan / MotionBlurFrames : 0;
  if (MotionBlurFrames > 1 && level2 && step >= 1 && MotionBlurFade > 0) {
    const double w = 1 / MotionBlurFade;
    drawer->BeginMotionBlurFrame();
    const double p0 = TransitionRunning && FState ? FState->Position : 0;
    int32_t offset = 0;
    for (; MotionBlurSpan - step > offset; offset += step) {
      SetSubFrame(p0, offset);
      DrawScene(drawer, sharpen);
      drawer->AddMotionBlurFrame(w, 1.0);
    }
    SetSubFrame(p0, offset);
    DrawScene(drawer, sharpen);
    drawer->AddMotionBlurFrame(w, MotionBlurFade / MotionBlurFrames);
    drawer->EndMotionBlur();
  } else {
    DrawScene(drawer, sharpen);
  }
}

void TRootItem::DrawScene(render3d::T3DDrawer* drawer, bool sharpen) {
  if (sharpen) sharpen = drawer->BeginSharpenLayer();
  size_t start = 0;
  if (TransitionRunning && Items.size() >= 2 && FState) {
    TViewState v = ItemView(Items[0]);
    if (sharpen) drawer->MakeTargetView(v, TViewState(v));
    foundation::TFloatPoint size{0, 0};
    if (auto* in = dynamic_cast<TSlideItem*>(Items[1]); in && in->Slide) size = in->Slide->SlideSize;
    drawer->DrawTransition(Items[0], Items[1], FState.get(), v, size);
    start = 2;
  }
  for (size_t k = start; k + 1 < Items.size(); ++k) {
    if (!Items[k]) continue;
    TViewState v = ItemView(Items[k]);
    if (sharpen) drawer->MakeTargetView(v, TViewState(v));
    drawer->DrawItemInView(Items[k], v);
  }
  if (sharpen) drawer->EndSharpenLayer(SharpenAmount);
  TDrawItem* overlay = Items.empty() ? nullptr : Items.back();
  if (!overlay) {
    if (FillOutside) drawer->FillOutsideView(imaging::TFColor{HiderColor[2], HiderColor[1], HiderColor[0]});
  } else {
    drawer->DrawItemInView(overlay, ItemView(overlay));
  }
}

// ---- monitor choice ----

int32_t MonitorIndexFor(foundation::TCommandsStorage* commands, int32_t monitorCount,
                        const std::function<bool(int32_t)>& isPrimary) {
  int32_t n = -1;
  if (foundation::TCommand* c = commands ? commands->FindCommand(u"display") : nullptr; c && c->GetCount() >= 1)
    n = c->GetItem(0)->AsIntegerDef(0) - 1;
  if (n < 0 || n >= monitorCount) {
    n = monitorCount - 1;
    while (n > 0 && !isPrimary(n)) --n;
  }
  return std::max(n, 0);
}

int32_t MonitorIndex() {
  windowing::TScreen* s = windowing::GetScreen();
  const int32_t count = s ? s->GetMonitorCount() : 0;
  return MonitorIndexFor(foundation::CommandLineCommands(), count, [s](int32_t i) {
    return windowing::kpScreen::TMonitor::IsPrimary(s->GetMonitor(i));
  });
}

bool DesktopAlignFor(foundation::TCommandsStorage* commands) {
  return commands && commands->FindCommand(u"desktopalign") != nullptr;
}

bool DesktopAlign() { return DesktopAlignFor(foundation::CommandLineCommands()); }

}  // namespace player
