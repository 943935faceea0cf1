#include "render3d/Dev3DEffects2.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>

#include "foundation/kpExceptions.h"
#include "render3d/Dev3DDrawer.h"
#include "transitions/kvDrawEffects.h"

namespace render3d {

using namespace transitions;

namespace {
std::atomic<TSlideEffectHook> SlideEffectHook{nullptr};

// Directions of the four option flags of the push, slide, flip and swap
// kinds: F0 from the right, F1 from the bottom, F2 from the left, F3 from
// the top.
int32_t DirectionOf(const TEffectRecord& e) {
  static constexpr int32_t kDir[4] = {2, 4, 1, 3};
  for (size_t k = 0; k < 4; ++k)
    if (e.Option(k)) return kDir[k];
  return 0;
}

TDrawFilter* MakeClockOrBroom(int32_t w, int32_t h, const TEffectRecord& e) {
  if (e.Option(6)) return new TClockEffect(0.5f, 0.5f, e.Option(1));
  const int32_t base = e.Option(1) ? 8 : 0;
  static constexpr struct {
    size_t Flag;
    int32_t Add;
  } kCodes[] = {{2, 8}, {3, 1}, {4, 5}, {5, 4}, {7, 2}, {8, 7}, {9, 3}, {10, 6}};
  for (const auto& c : kCodes)
    if (e.Option(c.Flag)) return new TBroomEffect(base + c.Add, float((w + h) * 0.5 * e.Float(0)));
  return nullptr;
}

TDrawFilter* MakeShape(const TEffectRecord& e) {
  const float cx = float(e.Int(0) * 0.01), cy = float(e.Int(1) * 0.01);
  TDrawFilter* f = nullptr;
  if (e.Option(2)) return new TCircleFilter(cx, cy, e.Option(0));
  if (e.Option(3))
    f = new TRhombFilter(cx, cy);
  else if (e.Option(4))
    f = new TSquareFilter(cx, cy);
  else
    return nullptr;
  f->Reverse = e.Option(0);
  return f;
}

TDrawFilter* MakeGates(const TEffectRecord& e) {
  auto lines = [](bool vertical, bool reverse) -> TDrawFilter* {
    TDrawFilter* f = vertical ? static_cast<TDrawFilter*>(new TVLines(0.5f, 0.5f))
                              : static_cast<TDrawFilter*>(new THLines(0.5f, 0.5f));
    f->Reverse = reverse;
    return f;
  };
  if (e.Option(0)) return lines(false, true);
  if (e.Option(1)) return lines(true, true);
  if (e.Option(2)) return new TDiagLines(8, 1);
  if (e.Option(3)) return new TDiagLines(8, 3);
  if (e.Option(4)) return lines(false, false);
  if (e.Option(5)) return lines(true, false);
  if (e.Option(6)) return new TDiagLines(8, 2);
  if (e.Option(7)) return new TDiagLines(8, 4);
  return nullptr;
}

TDrawFilter* MakePage(const TEffectRecord& e) {
  if (e.Option(0)) return new TDiagLines(10, 2);
  if (e.Option(1)) return new TVLines(0.0f, 1.0f);
  if (e.Option(2)) return new TDiagLines(10, 3);
  if (e.Option(3)) return new THLines(1.0f, 0.0f);
  if (e.Option(4)) return new THLines(0.0f, 0.0f);
  if (e.Option(5)) return new TDiagLines(10, 4);
  if (e.Option(6)) return new TVLines(0.0f, 0.0f);
  if (e.Option(7)) return new TDiagLines(10, 1);
  return nullptr;
}

TDrawFilter* MakeRoll(int32_t w, const TEffectRecord& e) {
  const bool diagonal = e.Option(2) || e.Option(4) || e.Option(7) || e.Option(9);
  static constexpr struct {
    size_t Flag;
    int32_t Kind;
  } kKinds[] = {{2, 3}, {3, 4}, {4, 4}, {5, 3}, {6, 1}, {7, 2}, {8, 2}, {9, 1}};
  int32_t kind = 1;
  for (const auto& k : kKinds)
    if (e.Option(k.Flag)) {
      kind = k.Kind;
      break;
    }
  auto* f = new TRollEffect2(diagonal ? 15 : 14, (e.Option(1) ? 4 : 0) + kind);
  f->FullTurn = e.Int(0) == 1;
  f->RollRadius = int32_t(std::trunc(w * double(e.Float(0))));
  f->ColourBack = e.Option(10);
  f->SetBackColour(uint32_t(e.Int(1)));
  f->Lift = e.Option(11);
  f->Perspective = e.Float(1);
  return f;
}
}  // namespace

void SetSlideEffectHook(TSlideEffectHook hook) { SlideEffectHook.store(hook); }
TSlideEffectHook GetSlideEffectHook() { return SlideEffectHook.load(); }

TDrawFilter* CreateTransitionFilter(int32_t w, int32_t h, const TEffectRecord* effect, double /*duration*/,
                                    TDrawItem* incoming) {
  const TEffectRecord& e = *effect;
  switch (e.Kind) {
    case 1:
      return new TAlphaFilter();
    case 2:
      return MakeClockOrBroom(w, h, e);
    case 3:
      return MakeShape(e);
    case 4:
      return MakeGates(e);
    case 5:
      return MakePage(e);
    case 6: {
      auto* f = new TRandomFilter(e.Int(0), e.Int(1), e.Int(3));
      f->Spread = e.Int(2) < 100 ? float(e.Int(2)) : 1000.0f;
      return f;
    }
    case 7: {
      const int32_t d = DirectionOf(e);
      return d ? new TPushFilter(d) : nullptr;
    }
    case 8: {
      const int32_t d = DirectionOf(e);
      return d ? new TSlideFilter(d) : nullptr;
    }
    case 9:
      return MakeRoll(w, e);
    case 10: {
      const int32_t d = DirectionOf(e);
      return d ? new TOverturnEffect(d, e.Float(0), e.Option(4), e.Option(5)) : nullptr;
    }
    case 11: {
      const int32_t d = DirectionOf(e);
      return d ? new TTwoSlidesEffect(d, e.Float(0), e.Float(1), e.Float(2)) : nullptr;
    }
    case 12:
      if (TSlideEffectHook hook = GetSlideEffectHook()) return hook(incoming, e.CustomSlide);
      return new TAlphaFilter();
    default:
      return new TAlphaFilter();
  }
}

TDrawFilter* MakeTransitionFilter(const TRect& rect, const TEffectRecord* effect, double duration, float edgeFactor,
                                  TDrawItem* incoming) {
  if (effect == nullptr) return nullptr;
  const int32_t w = rect.Right - rect.Left, h = rect.Bottom - rect.Top;
  TDrawFilter* f = CreateTransitionFilter(w, h, effect, duration, incoming);
  if (f != nullptr) f->Init(rect, float(duration), float(w) * edgeFactor);
  return f;
}

}  // namespace render3d

// ---- the triangle controller and its tiles ----

namespace render3d {

using transitions::TColors3;
using transitions::TTriangle;
using transitions::TTriangle3D;

TEffTile* TD3DTriController::CreateTile(const TRect& rect, TPoint cell) { return new TD3DTriTile(this, rect, cell); }

void TD3DTriController::GetViewRect(TRect& r) { r = Effecter->ClipRect; }

TD3DTriTile::TD3DTriTile(TD3DTriController* controller, const TRect& rect, TPoint cell)
    : TEffTile(controller, rect, cell), Effecter(controller->Effecter) {}

void TD3DTriTile::BeginDraw(bool textured, bool threeD) {
  QEL_ASSERT(Batch == nullptr, u"Dev3DEffects2: BeginDraw without EndDraw");
  Batch = Effecter->GetBatch(textured);
  Batch->Blend = threeD;
}

void TD3DTriTile::EndDraw() {
  QEL_ASSERT(Batch != nullptr, u"Dev3DEffects2: EndDraw without BeginDraw");
  Effecter->FlushBatch(Batch);
  Batch = nullptr;
}

namespace {
uint32_t WhiteWithAlpha(float a) { return (uint32_t(uint8_t(int32_t(std::trunc(a)))) << 24) | 0x00FFFFFFu; }
uint32_t Grey(float a) {
  const uint32_t v = uint8_t(int32_t(std::trunc(a)));
  return 0xFF000000u | (v << 16) | (v << 8) | v;
}
}  // namespace

void TD3DTriTile::DrawTriangle(const transitions::TTriangle& v) {
  if (!Batch) return;
  const TRect& vr = Effecter->ViewRect;
  T3DPoint p[3];
  TFloatPoint t[3];
  for (int k = 0; k < 3; ++k) {
    // Geometry on the area's left and top border overshoots by two pixels,
    // so no unfilled seam remains there after rasterisation.
    float x = v[size_t(k)].X, y = v[size_t(k)].Y;
    if (x == float(vr.Left)) x -= 2;
    if (y == float(vr.Top)) y -= 2;
    p[k] = {x, y, 0};
    t[k] = {x, y};
  }
  Batch->AddTriangle(p[0], p[1], p[2], {&t[0], 1}, {&t[1], 1}, {&t[2], 1}, WhiteWithAlpha(v[0].A),
                     WhiteWithAlpha(v[1].A), WhiteWithAlpha(v[2].A));
}

void TD3DTriTile::DrawColoredTriangle(const transitions::TTriangle& v, const TColors3& c) {
  if (!Batch) return;
  Batch->AddTriangle({v[0].X, v[0].Y, 0}, {v[1].X, v[1].Y, 0}, {v[2].X, v[2].Y, 0}, {}, {}, {}, c[0], c[1], c[2]);
}

void TD3DTriTile::DrawColoredTriangle3D(const TTriangle3D& p, const TColors3& c) {
  if (!Batch) return;
  Batch->AddTriangle(p[0], p[1], p[2], {}, {}, {}, c[0], c[1], c[2]);
}

void TD3DTriTile::DrawMappedTriangle(const transitions::TTriangle& s, const transitions::TTriangle& d) {
  DrawMappedTriangle3D(s, TTriangle3D{T3DPoint{d[0].X, d[0].Y, 0}, T3DPoint{d[1].X, d[1].Y, 0},
                                      T3DPoint{d[2].X, d[2].Y, 0}});
}

void TD3DTriTile::DrawMappedTriangle3D(const transitions::TTriangle& s, const TTriangle3D& d) {
  if (!Batch) return;
  const TFloatPoint t[3] = {{s[0].X, s[0].Y}, {s[1].X, s[1].Y}, {s[2].X, s[2].Y}};
  Batch->AddTriangle(d[0], d[1], d[2], {&t[0], 1}, {&t[1], 1}, {&t[2], 1}, Grey(s[0].A), Grey(s[1].A), Grey(s[2].A));
}

// ---- the effecter ----

TCustomD3DEffecter::TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* sharedPool)
    : Screen(screen), SharedPool(sharedPool) {
  QEL_ASSERT(screen != nullptr, u"Dev3DEffects2: effecter without a screen");
  OwnPool = MakeRef<TRenderTargetManager>(false, false);
  OwnPool->SetSize(screen->Bounds.Right - screen->Bounds.Left, screen->Bounds.Bottom - screen->Bounds.Top);
  TexturedBatch = MakeRef<TVertexBuffer>(screen);
  PlainBatch = MakeRef<TVertexBuffer>(screen);
  Controller = MakeRef<TD3DTriController>(this);
}

void TCustomD3DEffecter::Dispose() {
  ReleaseSlots();
  TexturedBatch.Reset();
  PlainBatch.Reset();
  Scratch.Reset();
  Controller.Reset();
  OwnPool.Reset();
  TRefObject::Dispose();
}

void TCustomD3DEffecter::SetViewRect(const TRect& r) {
  OwnPool->SetSize(r.Right - r.Left, r.Bottom - r.Top);
  ViewRect = r;
  const float cols[2] = {float(r.Left), float(r.Right)}, rows[2] = {float(r.Top), float(r.Bottom)};
  Controller->SetGrid(cols, 1, rows, 1);  // one cell: two edges each way
}

void TCustomD3DEffecter::PrepareSlots(uint8_t mode) {
  if (mode == 1) {
    if (!Slot0) Slot0 = SharedPool->Get(Screen);
    if (!Slot1) Slot1 = SharedPool->Get(Screen);
  } else if (!Slot0) {
    Slot0 = OwnPool->Get(Screen);
  }
}

void TCustomD3DEffecter::ReleaseSlots() {
  for (TRenderTargetTexture** s : {&Slot0, &Slot1}) {
    // Freeing a pooled target's last reference puts it back into its pool.
    if (*s) (*s)->Free();
    *s = nullptr;
  }
  CurrentSlot = false;
}

TRenderTargetTexture* TCustomD3DEffecter::GetSlideTarget(int32_t index) const {
  QEL_ASSERT(index == 0 || index == 1, u"Dev3DEffects2: slide target index");
  return index == 0 ? Slot0 : Slot1;
}

TRect TCustomD3DEffecter::DrawingRect(const TCustomTexture* t) const {
  TRect r{std::max(ViewRect.Left, ClipRect.Left), std::max(ViewRect.Top, ClipRect.Top),
          std::min(ViewRect.Left + t->Width, ClipRect.Right), std::min(ViewRect.Top + t->Height, ClipRect.Bottom)};
  if (r.Left >= r.Right || r.Top >= r.Bottom) r = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  return r;
}

void TCustomD3DEffecter::RenderSlot(const TRenderCallback& callback) {
  TRenderTargetTexture* t = CurrentSlot ? Slot1 : Slot0;
  if (!t) return;
  Screen->PushRenderTarget(t, ViewRect.Left, ViewRect.Top);
  const TOnExit pop([this] { Screen->PopRenderTarget(); });
  Screen->Clear(0x00000000u, true);
  callback(DrawingRect(t));
}

TD3DTriController* TCustomD3DEffecter::RenderToTexture(const TRenderCallback& callback, bool replicate) {
  TRenderTargetTexture* t = Slot0;
  if (!t) return Controller.Get();
  Screen->PushRenderTarget(t, ViewRect.Left, ViewRect.Top);
  // Grey with alpha 0: filtered edges fade to grey rather than black.
  Screen->Clear(0x00808080u, true);
  const TRect r = DrawingRect(t);
  {
    const TOnExit pop([this] { Screen->PopRenderTarget(); });
    callback(r);
  }
  if (replicate && r.Left < r.Right)
    ReplicateEdges({r.Left - ViewRect.Left, r.Top - ViewRect.Top, r.Right - ViewRect.Left, r.Bottom - ViewRect.Top});
  return Controller.Get();
}

TVertexBuffer* TCustomD3DEffecter::GetBatch(bool textured) {
  if (textured) {
    TCustomTexture* tex[1] = {Slot0};
    TexturedBatch->SetTextures(tex);
    return TexturedBatch.Get();
  }
  PlainBatch->SetTextures({});
  return PlainBatch.Get();
}

void TCustomD3DEffecter::ReplicateEdges(const TRect& r) {
  if (!Slot0) return;
  const int32_t tw = Slot0->Width, th = Slot0->Height;
  bool column = false;
  if (r.Right < tw) {
    CopyRegion({r.Right - 1, r.Top}, {1, r.Bottom - r.Top}, {r.Right, r.Top});
    column = true;
    // The row copy below reads the corner the column copy writes.
    FlushCopies();
  }
  if (r.Bottom < th) CopyRegion({r.Left, r.Bottom - 1}, {r.Right - r.Left + (column ? 1 : 0), 1}, {r.Left, r.Bottom});
  FlushCopies();
}

void TCustomD3DEffecter::CopyRegion(TPoint source, TPoint size, TPoint dest) {
  for (int32_t y = 0; y < size.Y; y += 256) {
    const int32_t bh = std::min(256, size.Y - y);
    for (int32_t x = 0; x < size.X; x += 256) {
      const int32_t pw = std::min(256, size.X - x);
      if (FFreeW < pw || FFreeH < bh) FlushCopies();
      const TPoint at{256 - FFreeW, 256 - FFreeH};
      if (pw < bh)
        FFreeW -= pw;
      else
        FFreeH -= bh;
      FCopies.push_back({{source.X + x, source.Y + y, source.X + x + pw, source.Y + y + bh},
                         {at.X, at.Y, at.X + pw, at.Y + bh},
                         {dest.X + x, dest.Y + y, dest.X + x + pw, dest.Y + y + bh}});
      if (FCopies.size() >= 20) FlushCopies();
    }
  }
}

void TCustomD3DEffecter::FlushCopies() {
  if (!FCopies.empty()) {
    ++ScratchFlushes;
    if (!Scratch) Scratch = MakeRef<TRenderTargetTexture>(Screen, TPoint{256, 256}, true, false);
    T3DTexture* st = Scratch->GetTexture();
    T3DTexture* tt = Slot0 ? Slot0->GetTexture() : nullptr;
    if (st && tt && Screen->Renderer) {
      std::vector<TRect> src, mid, dst;
      for (const TCopyRecord& c : FCopies) {
        src.push_back(c.Source);
        mid.push_back(c.ScratchRect);
        dst.push_back(c.Dest);
      }
      const auto n = int32_t(FCopies.size());
      Screen->Renderer->CopySurface(tt->GetSurface(0), st->GetSurface(0), src, mid, n);
      Screen->Renderer->CopySurface(st->GetSurface(0), tt->GetSurface(0), mid, dst, n);
    }
  }
  FCopies.clear();
  FFreeW = FFreeH = 256;
}

}  // namespace render3d

// ---- transition rendering ----

namespace render3d {

namespace {
int32_t RoundHalfEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

// The view the effect item is drawn in: the view's area, centred in the
// viewport, at one world unit per pixel.
TViewState MakeEffectView(const TViewState& view) {
  TViewState v = view;
  const float w = view.Area.Right - view.Area.Left, h = view.Area.Bottom - view.Area.Top;
  const float vw = float(view.Viewport.Right - view.Viewport.Left), vh = float(view.Viewport.Bottom - view.Viewport.Top);
  v.Origin = {float(view.Viewport.Left), float(view.Viewport.Top)};
  const float l = (vw - w) / 2, t = (vh - h) / 2;
  v.Area = {l, t, l + w, t + h};
  v.Scale = {w, h};
  return v;
}

}  // namespace

TCustomD3DEffecter* T3DDrawer::GetEffecter() {
  if (!Effecter) {
    if (!TargetPool) PrepareRenderTargets();
    Effecter = MakeRef<TCustomD3DEffecter>(Screen, TargetPool.Get());
    Effecter->SetViewRect(TargetRect);
  }
  return Effecter.Get();
}

void T3DDrawer::DrawEffectSubject(const TRect&) { DrawItemInView(EffectSubject, EffectView); }

transitions::TEffController* T3DDrawer::RenderForEffect(TDrawItem* item, bool replicate, const TViewState& view) {
  EffectSubject = item;
  MakeTargetView(EffectView, view);
  const TOnExit clear([this] { EffectSubject = nullptr; });
  return GetEffecter()->RenderToTexture([this](const TRect& r) { DrawEffectSubject(r); }, replicate);
}

void T3DDrawer::DrawTransition(TDrawItem* outgoing, TDrawItem* incoming, TTransitionState* state,
                               const TViewState& view, TFloatPoint size) {
  const TRect& vp = view.Viewport;
  TViewState inView = view;
  inView.Scale = size;
  inView.Origin = {float(vp.Left + ((vp.Right - vp.Left) - size.X) / 2),
                   float(vp.Top + ((vp.Bottom - vp.Top) - size.Y) / 2)};
  if (state == nullptr) {
    DrawItemInView(outgoing, view);
    return;
  }
  const TRect rect{RoundHalfEven(view.Area.Left), RoundHalfEven(view.Area.Top), RoundHalfEven(view.Area.Right),
                   RoundHalfEven(view.Area.Bottom)};
  TDrawFilter* f = state->Filter;
  const bool reuse = f != nullptr && (dynamic_cast<TSlideEffFilter*>(f) != nullptr || SameRect(f->DrawRect, rect) ||
                                      (EmptyIntRect(f->DrawRect) && EmptyIntRect(rect)));
  // A factory that gave no filter for this rectangle is not asked again
  // until the rectangle changes.
  const bool knownNull = f == nullptr && state->HasNullAnswer &&
                         (SameRect(state->NullRect, rect) || (EmptyIntRect(state->NullRect) && EmptyIntRect(rect)));
  if (!reuse && !knownNull) {
    if (f) f->Free();
    state->Filter = nullptr;
    f = MakeTransitionFilter(rect, state->Effect, state->Duration, state->EdgeFactor, incoming);
    if (f) {
      f->DrawRect = rect;
      state->HasNullAnswer = false;
    } else {
      state->HasNullAnswer = true;
      state->NullRect = rect;
    }
    state->Filter = f;
  }
  if (f) f->SetPosition(float(state->Position));
  if (f == nullptr || state->Position < 0 || state->Position >= f->Duration) {
    DrawItemInView(incoming, inView);
    return;
  }
  TCustomD3DEffecter* eff = GetEffecter();
  eff->SetClipRect(rect);
  struct TSlotsGuard {
    TCustomD3DEffecter* E;
    ~TSlotsGuard() { E->ReleaseSlots(); }
  } slots{eff};

  if (auto* se = dynamic_cast<TSlideEffFilter*>(f)) {
    outgoing->TransparentBg = incoming->TransparentBg = se->TransparentBg;
    InTransition = true;
    eff->PrepareSlots(1);
    TDrawItem* slides[2] = {outgoing, incoming};
    const TViewState* views[2] = {&view, &inView};
    {
      const TOnExit reset([&] {
        EffectSubject = nullptr;
        InTransition = false;
        outgoing->TransparentBg = incoming->TransparentBg = 0;
      });
      for (int k = 0; k < 2; ++k) {
        EffectSubject = slides[k];
        MakeTargetView(EffectView, *views[k]);
        EffectView.Area = {0, 0, float(rect.Right - rect.Left), float(rect.Bottom - rect.Top)};
        eff->RenderSlot([this](const TRect& r) { DrawEffectSubject(r); });
        eff->NextSlot();
      }
    }
    se->SetProgress(state->Position * f->InvDuration);
    se->SetSlides(outgoing, incoming);
    Screen->FillRect(0xFF000000u, view.Viewport);
    se->BeginDraw(eff);
    TextureScaleX = size.X / double(rect.Right - rect.Left);
    TextureScaleY = size.Y / double(rect.Bottom - rect.Top);
    const TOnExit end([se] { se->EndDraw(); });
    DrawItemInView(se->EffectSlide, inView);
    return;
  }

  const auto item = MakeRef<TEffectItem>();
  item->Filter = f;
  eff->PrepareSlots(0);
  auto throughEffect = [&](TDrawItem* slide, const TViewState& v) {
    item->Controller = RenderForEffect(slide, f->MovingImage, v);
    DrawItemInView(item.Get(), MakeEffectView(v));
  };
  const double p = state->Position * f->InvDuration;
  if (dynamic_cast<TOverturnEffect*>(f)) {
    const bool incomingFirst = f->Reverse ? p < 0.5 : !(p < 0.5);
    if (incomingFirst)
      throughEffect(incoming, inView);
    else
      throughEffect(outgoing, view);
  } else if (dynamic_cast<TTwoSlidesEffect*>(f)) {
    const bool outgoingFirst = f->Reverse ? p < 0.5 : !(p < 0.5);
    if (outgoingFirst) {
      throughEffect(outgoing, view);
      throughEffect(incoming, inView);
    } else {
      throughEffect(incoming, inView);
      throughEffect(outgoing, view);
    }
  } else if (auto* push = dynamic_cast<TPushFilter*>(f); push != nullptr && !f->Reverse) {
    push->ApplyReverse();
    {
      const TOnExit back([push] { push->ApplyReverse(); });
      throughEffect(outgoing, view);
    }
    throughEffect(incoming, inView);
  } else if (f->Reverse) {
    DrawItemInView(incoming, inView);
    throughEffect(outgoing, view);
  } else {
    DrawItemInView(outgoing, view);
    throughEffect(incoming, inView);
  }
}

}  // namespace render3d
