#include "render3d/Dev3DScreen.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "foundation/SysLock.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "foundation/kvLog.h"
#include "windowing/kpScreen.h"

namespace render3d {

namespace {

std::mutex* g_engineLock = new std::mutex();
T3DEngine* g_engine = nullptr;

void Log(const std::u16string& text) { foundation::GetLog()->Add(text); }

bool EmptyRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }
bool SameRect(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TRect PickMonitorRect(const TRect& r) {
  windowing::TScreen* screen = windowing::GetScreen();
  int32_t n = screen ? screen->GetMonitorCount() : 0;
  int64_t best = 0;
  int32_t bestIndex = 0;
  for (int32_t i = 0; i < n; ++i) {
    auto b = windowing::kpScreen::TMonitor::GetBounds(screen->GetMonitor(i));
    int64_t w = std::min<int64_t>(b.right, r.Right) - std::max<int64_t>(b.left, r.Left);
    int64_t h = std::min<int64_t>(b.bottom, r.Bottom) - std::max<int64_t>(b.top, r.Top);
    int64_t area = (w > 0 && h > 0) ? w * h : 0;
    if (area > best) {
      best = area;
      bestIndex = i;
    }
  }
  if (n == 0) return r;
  auto b = windowing::kpScreen::TMonitor::GetBounds(screen->GetMonitor(bestIndex));
  return {b.left, b.top, b.right, b.bottom};
}

}  // namespace

T3DEngine* Get3DEngine() {
  std::lock_guard<std::mutex> g(*g_engineLock);
  if (!g_engine) {
    TEngineFactory f = GetEngineFactory();
    if (f) g_engine = f();
  }
  return g_engine;
}

void Free3DEngine() {
  T3DEngine* e;
  {
    std::lock_guard<std::mutex> g(*g_engineLock);
    e = g_engine;
    g_engine = nullptr;
  }
  if (e) e->Free();
}

uint8_t GetGpuVendor() {
  T3DEngine* e = Get3DEngine();
  if (!e) return 3;
  switch (e->GetCapsValue(u"Vendor", 0)) {
    case 32902: return 0;
    case 4318: return 1;
    case 4098: return 2;
    default: return 3;
  }
}

int32_t FrameIntervalForRate(int32_t rate) {
  if (rate <= 0) rate = 60;
  if (rate <= 60) return 15;
  return std::max(1, 1000 / rate - 1);
}

uint32_t MakeARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

// ---- events and messenger ----

TScreenEvent::TScreenEvent(T3DScreen* screen, TScreenEventMethod method) : Screen(screen), Method(std::move(method)) {
  if (Screen) {
    Next = Screen->Events;
    Screen->Events = this;
  }
}

void TScreenEvent::Dispose() {
  if (Screen) {
    TScreenEvent** link = &Screen->Events;
    while (*link && *link != this) link = &(*link)->Next;
    if (*link == this) *link = Next;
  }
  Screen = nullptr;
  Next = nullptr;
  TRefObject::Dispose();
}

void TScreenEvent::Notify(int32_t code, intptr_t param) {
  if (Method) Method(Screen, code, param);
}

void TDeviceKilledMessenger::Dispose() {
  if (Screen) Screen->DeviceKilled();
  Screen = nullptr;
  TRefObject::Dispose();
}

// ---- the screen ----

T3DScreen::T3DScreen() {
  QuadBatch = MakeRef<TVertexBuffer>(this);
  windowing::TScreen* s = windowing::GetScreen();
  FrameInterval = FrameIntervalForRate(s ? s->GetRefreshRate() : 0);
}

void T3DScreen::Dispose() {
  for (TScreenEvent* e = Events; e;) {
    TScreenEvent* next = e->Next;
    e->Screen = nullptr;
    e->Next = nullptr;
    e = next;
  }
  Events = nullptr;
  if (Messenger) {
    if (Device) Device->RemoveMessenger(Messenger);
    Messenger->Screen = nullptr;
    Messenger->Free();
    Messenger = nullptr;
  }
  if (Renderer) Renderer->Free();
  Renderer = nullptr;
  QuadBatch.Reset();
  Targets.clear();
  std::vector<TRefObject*> rest;
  {
    std::lock_guard<std::recursive_mutex> g(FResourceLock);
    rest.swap(FResources);
  }
  for (TRefObject* r : rest) {
    if (auto* t = dynamic_cast<TCustomTexture*>(r)) t->Screen = nullptr;
    if (auto* s = dynamic_cast<TShader*>(r)) s->Screen = nullptr;
    if (auto* c = dynamic_cast<TCustomColoringTexture*>(r)) c->Screen = nullptr;
    if (auto* v = dynamic_cast<TVertexBuffer*>(r)) v->Screen = nullptr;
  }
  TRefObject::Dispose();
}

void T3DScreen::AddResource(TRefObject* resource) {
  std::lock_guard<std::recursive_mutex> g(FResourceLock);
  FResources.push_back(resource);
}

void T3DScreen::RemoveResource(TRefObject* resource) {
  std::lock_guard<std::recursive_mutex> g(FResourceLock);
  auto it = std::find(FResources.begin(), FResources.end(), resource);
  if (it != FResources.end()) FResources.erase(it);
}

std::vector<TRefObject*> T3DScreen::ResourcesSnapshot() const {
  std::lock_guard<std::recursive_mutex> g(FResourceLock);
  return FResources;
}

TRect T3DScreen::TargetRectOf(TDrawDevice* device) const {
  if (device->FullScreen) return PickMonitorRect(GetDeviceScreenRect(device));
  return device->Bounds;
}

void T3DScreen::AssignDevice(TDrawDevice* device) {
  QEL_ASSERT(device != nullptr, u"DrawDevice=nil");
  TRect r = TargetRectOf(device);
  bool mode = device->FullScreen;
  foundation::GetLog()->AddRect(u"T3DScreen.AssignDevice, bounds= ", r, u"");
  if (device == Device && mode == FullScreen && (SameRect(r, Bounds) || (EmptyRect(r) && EmptyRect(Bounds)))) return;
  if (device != Device) {
    if (!Messenger) {
      Messenger = new TDeviceKilledMessenger();
      Messenger->Screen = this;
    } else if (Device) {
      Device->RemoveMessenger(Messenger);
    }
    device->Messengers.push_back(Messenger);
  }
  if (device != Device || FullScreen || mode) ReleaseResources();
  Bounds = r;
  Device = device;
  FullScreen = mode;
  Window = device->Handle;
  InitRenderer();
}

void T3DScreen::InitRenderer() {
  if (EmptyRect(Bounds)) return;
  int32_t w = Bounds.Right - Bounds.Left, h = Bounds.Bottom - Bounds.Top;
  View.Viewport = {0, 0, w, h};
  // The area is the viewport's own pixels: with the bounds' position in it,
  // a target placed away from (0, 0) would draw every world point that far
  // off its pixel.
  View.Area = {0, 0, float(w), float(h)};
  View.Scale = {float(w), float(h)};
  DropRenderer();
  if (!Device) {
    Log(u"No window to draw");
    return;
  }
  T3DEngine* engine = Get3DEngine();
  if (!engine || !engine->CheckDevice()) {
    Log(u"Can't init");
    return;
  }
  TRendererParams params;
  params.Adapter = engine->AdapterFromRect(GetDeviceScreenRect(Device));
  if (!engine->GetDisplayMode(params.Mode, params.Adapter)) {
    Log(u"Can't GetDisplayMode");
    return;
  }
  Adapter = params.Adapter;
  Renderer = engine->CreateRenderer(Device, params);
  if (Renderer) Renderer->OnRendererLost = [this] { DropRenderer(); };
}

bool T3DScreen::IsReady() const { return Renderer != nullptr && Renderer->State != rsCreationPending; }

bool T3DScreen::CanDraw() const { return IsReady() && (Targets.empty() || !Targets.back()->Inert); }

bool T3DScreen::BeginScene() {
  if (++SceneDepth > 1) return true;
  if (Device) {
    TRect r = TargetRectOf(Device);
    bool same = Renderer && (SameRect(r, Bounds) || (EmptyRect(r) && EmptyRect(Bounds))) &&
                Device->Handle == Window && Device->FullScreen == FullScreen;
    if (!same) {
      foundation::GetLog()->AddRect(u"T3DScreen.BeginScene, R= ", r, u"");
      if (FullScreen || Device->FullScreen) ReleaseResources();
      FullScreen = Device->FullScreen;
      Bounds = r;
      Window = Device->Handle;
      InitRenderer();
    }
  }
  bool ready = IsReady();
  if (ready && !ShadersMade) {
    for (TRefObject* r : ResourcesSnapshot())
      if (auto* s = dynamic_cast<TShader*>(r))
        if (!s->DeviceShader) s->MakeDeviceShader();
  }
  ShadersMade = ready;
  if (!ready) return false;
  Renderer->SetDoubleSided(true);
  QuadBatch->Reserve(32, 2);
  if (Targets.empty()) {
    auto* w = Targets.emplace_back(MakeRef<TRenderTargetWrapper>()).Get();
    w->Surface = Renderer->GetRenderTarget();
    TViewState v = View;
    v.OffsetX = v.OffsetY = 0;
    SetViewState(v);
  }
  return Renderer->BeginScene();
}

bool T3DScreen::EndScene(bool present) {
  QEL_ASSERT(SceneDepth >= 1, u"T3DScreen.EndScene without BeginScene");
  --SceneDepth;
  if (SceneDepth > 0) return true;
  if (!IsReady()) return false;
  bool result = Renderer->EndScene();
  if (present) result = Present({0, 0, Bounds.Right - Bounds.Left, Bounds.Bottom - Bounds.Top});
  return result;
}

bool T3DScreen::Present(const TRect& rect) {
  uint32_t elapsed = foundation::SysTickMs() - LastPresent;
  if (static_cast<int64_t>(FrameInterval) > static_cast<int64_t>(elapsed))
    foundation::SysSleep(static_cast<uint32_t>(FrameInterval - static_cast<int32_t>(elapsed) - 1));
  bool result = false;
  if (Renderer) result = Renderer->Present(&rect, &rect);
  LastPresent = foundation::SysTickMs();
  return result;
}

TViewState T3DScreen::GetViewState() const { return View; }

void T3DScreen::SetViewState(const TViewState& view) {
  if (!IsReady() || EmptyRect(view.Viewport)) return;
  double vw = view.Viewport.Right - view.Viewport.Left, vh = view.Viewport.Bottom - view.Viewport.Top;
  double aw = double(view.Area.Right) - view.Area.Left, ah = double(view.Area.Bottom) - view.Area.Top;
  const double K = CameraFactor;
  TFloatPoint off = Renderer->GetTexelOffset();
  double tx = off.X, ty = off.Y;
  Renderer->SetViewport(view.Viewport, 0.0f, 1.0f);
  View = view;
  InvViewWidth = 1 / vw;
  InvViewHeight = 1 / vh;
  ZoomX = aw / view.Scale.X;
  ZoomY = ah / view.Scale.Y;
  InvZoomX = 1 / ZoomX;
  InvZoomY = 1 / ZoomY;
  ViewLeft = view.Area.Left + 0.5 * aw - 0.5 * ZoomX * vw;
  ViewTop = view.Area.Top + 0.5 * ah - 0.5 * ZoomY * vh;
  double D = vh * K / view.Scale.Y;
  double world[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  auto at = [](double* m, int row, int col) -> double& { return m[(row - 1) * 4 + (col - 1)]; };
  at(world, 1, 1) = 2 * InvViewWidth;
  at(world, 2, 2) = -2 * InvViewHeight;
  at(world, 3, 1) = -2 * tx * InvViewWidth * InvViewHeight;
  at(world, 3, 2) = 2 * ty * InvViewHeight * InvViewHeight;
  at(world, 3, 3) = D * InvViewHeight;
  at(world, 4, 1) = -2 * tx * InvViewWidth - 2 * (view.Viewport.Left - view.Origin.X) * InvViewWidth - 1;
  at(world, 4, 2) = 2 * (view.Viewport.Top - view.Origin.Y) * InvViewHeight + 2 * ty * InvViewHeight + 1;
  at(world, 4, 3) = 1;
  double viewM[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  at(viewM, 3, 1) = 2 * ViewLeft * InvViewWidth * InvZoomX + (1 - InvZoomX);
  at(viewM, 3, 2) = (InvZoomY - 1) - 2 * ViewTop * InvViewHeight * InvZoomY;
  at(viewM, 4, 1) = view.OffsetX;
  at(viewM, 4, 2) = -view.OffsetY;
  double proj[16] = {};
  const double Q = 1000000.0 / (1000000.0 - 0.01);
  at(proj, 1, 1) = ZoomX;
  at(proj, 2, 2) = ZoomY;
  at(proj, 3, 3) = Q;
  at(proj, 3, 4) = 1;
  at(proj, 4, 3) = -0.01 * Q;
  float f[16];
  for (int i = 0; i < 16; ++i) f[i] = static_cast<float>(world[i]);
  Renderer->SetTransform(0, f);
  for (int i = 0; i < 16; ++i) f[i] = static_cast<float>(viewM[i]);
  Renderer->SetTransform(1, f);
  for (int i = 0; i < 16; ++i) f[i] = static_cast<float>(proj[i]);
  Renderer->SetTransform(2, f);
}

void T3DScreen::ResetTargetView() {
  TViewState v = View;
  TRect r = GetRenderTargetRect();
  v.Viewport = {0, 0, r.Right - r.Left, r.Bottom - r.Top};
  v.OffsetX = v.OffsetY = 0;
  SetViewState(v);
}

namespace {
// The view of a new top target: the area and scale of the view before, and
// an origin chosen so that every world point lands at the same screen pixel
// as before, that is at its screen pixel minus the target's position (the
// offsets, which a target view drops, are folded into the origin as well).
TViewState TargetView(const TViewState& before, TPoint beforeOrigin, const TRect& target) {
  TViewState v = before;
  const double vw = before.Viewport.Right - before.Viewport.Left, vh = before.Viewport.Bottom - before.Viewport.Top;
  const double tw = target.Right - target.Left, th = target.Bottom - target.Top;
  const double aw = double(before.Area.Right) - before.Area.Left, ah = double(before.Area.Bottom) - before.Area.Top;
  const double zx = before.Scale.X > 0 && aw > 0 ? aw / before.Scale.X : 1;
  const double zy = before.Scale.Y > 0 && ah > 0 ? ah / before.Scale.Y : 1;
  const double L = before.Viewport.Left, T = before.Viewport.Top;
  v.Origin.X = float(before.Origin.X - L + (tw - vw) / 2 + (L + beforeOrigin.X - target.Left) / zx +
                     before.OffsetX * vw / 2);
  v.Origin.Y = float(before.Origin.Y - T + (th - vh) / 2 + (T + beforeOrigin.Y - target.Top) / zy +
                     before.OffsetY * vh / 2);
  v.Viewport = {0, 0, target.Right - target.Left, target.Bottom - target.Top};
  v.OffsetX = v.OffsetY = 0;
  return v;
}
}  // namespace

void T3DScreen::SetRenderTarget(T3DTexture* texture, int32_t x, int32_t y) {
  if (!IsReady()) return;
  // The current view maps into the topmost real target (an inert entry
  // never changed it).
  const TViewState before = View;
  TPoint beforeOrigin = TargetOrigin;
  for (auto it = Targets.rbegin(); it != Targets.rend(); ++it)
    if (!(*it)->Inert) {
      beforeOrigin = (*it)->Origin;
      break;
    }
  if (Targets.empty()) {
    auto* w = Targets.emplace_back(MakeRef<TRenderTargetWrapper>()).Get();
    w->Surface = Renderer->GetRenderTarget();
  }
  if (texture) {
    TargetOrigin = {x, y};
    auto* w = Targets.emplace_back(MakeRef<TRenderTargetWrapper>()).Get();
    w->Origin = {x, y};
    w->Surface = texture->GetSurface(0);
    w->Inert = w->Surface == nullptr;
    if (w->Inert) return;
    Renderer->SetRenderTarget(w->Surface);
  } else {
    if (Targets.size() > 1) {
      Targets.pop_back();
    }
    TRenderTargetWrapper* top = Targets.back().Get();
    TargetOrigin = top->Origin;
    if (top->Inert) return;
    Renderer->SetRenderTarget(top->Surface);
  }
  if (!EmptyRect(before.Viewport)) {
    SetViewState(TargetView(before, beforeOrigin, GetRenderTargetRect()));
    return;
  }
  ResetTargetView();
}

void T3DScreen::PushRenderTarget(TCustomTexture* target, int32_t x, int32_t y) {
  if (!IsReady()) return;
  T3DTexture* tex = target ? target->GetTexture() : nullptr;
  if (tex && tex->GetSurface(0)) {
    SetRenderTarget(tex, x, y);
    return;
  }
  if (Targets.empty()) {
    auto* w = Targets.emplace_back(MakeRef<TRenderTargetWrapper>()).Get();
    w->Surface = Renderer->GetRenderTarget();
  }
  auto* w = Targets.emplace_back(MakeRef<TRenderTargetWrapper>()).Get();
  w->Origin = {x, y};
  w->Inert = true;
  TargetOrigin = {x, y};
}

void T3DScreen::PopRenderTarget() { SetRenderTarget(nullptr, 0, 0); }

TRect T3DScreen::GetRenderTargetRect() {
  T3DSurface* s = IsReady() ? Renderer->GetRenderTarget() : nullptr;
  if (!s) return {0, 0, Bounds.Right - Bounds.Left, Bounds.Bottom - Bounds.Top};
  int32_t w = 0, h = 0;
  s->GetSize(w, h);
  return {TargetOrigin.X, TargetOrigin.Y, TargetOrigin.X + w, TargetOrigin.Y + h};
}

void T3DScreen::Clear(uint32_t color, bool clearDepth) {
  if (!CanDraw()) return;
  TRect r{-1, -1, Bounds.Right - Bounds.Left + 1, Bounds.Bottom - Bounds.Top + 1};
  Renderer->Clear({&r, 1}, 1, color, 1.0f, clearDepth ? 3 : 1);
}

void T3DScreen::FillRect(uint32_t color, const TRect& rect) {
  if (!CanDraw()) return;
  Renderer->Clear({&rect, 1}, 1, color, 0.0f, 1);
}

void T3DScreen::ReleaseResources() {
  for (TRefObject* r : ResourcesSnapshot()) {
    if (auto* v = dynamic_cast<TVertexBuffer*>(r))
      v->ReleaseList();
    else if (auto* t = dynamic_cast<TCustomTexture*>(r))
      t->ReleaseTexture();
    else if (auto* c = dynamic_cast<TCustomColoringTexture*>(r))
      c->FreeTexture();
    else if (auto* s = dynamic_cast<TShader*>(r))
      s->FreeDeviceShader();
  }
}

void T3DScreen::DropRenderer() {
  if (Renderer) {
    T3DRenderer* r = Renderer;
    Renderer = nullptr;
    r->OnRendererLost = nullptr;
    r->Free();
  }
  ShadersMade = false;
  Targets.clear();
  NotifyScreenEvents(seRendererDropped, 0);
}

void T3DScreen::DeviceKilled() {
  Device = nullptr;
  Messenger = nullptr;
}

void T3DScreen::NotifyScreenEvents(int32_t code, intptr_t param) {
  for (TScreenEvent* e = Events; e && e->Screen;) {
    TScreenEvent* next = e->Next;
    e->Notify(code, param);
    e = next;
  }
}

}  // namespace render3d
