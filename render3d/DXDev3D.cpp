#include "render3d/DXDev3D.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvLog.h"
#include "imaging/kvPixelFormat.h"

namespace render3d {

std::atomic<uint8_t> PresentIntervalMode{0};
std::atomic<bool> ExclusiveAllowed{true};
std::atomic<bool> ForceOwnSwapChain{false};

namespace {

std::recursive_mutex* g_deviceLock = new std::recursive_mutex();
std::atomic<uint32_t> g_requestId{0};
std::atomic<foundation::TPostEventListEx*> g_events{nullptr};
std::atomic<TSessionLockedHook> g_sessionLocked{nullptr};
std::mutex g_hookLock;
TWindowPlacementHook* g_placement = new TWindowPlacementHook();
TSendMessageHook* g_sendMessage = new TSendMessageHook();
TClientOriginHook* g_clientOrigin = new TClientOriginHook();
TTexPool* g_texPool = new TTexPool();

constexpr const char* kUnit = "DXDev3D";

[[noreturn]] void Fail() { foundation::QelAssertFail(std::u16string(), kUnit); }
void Check(bool cond) {
  if (!cond) Fail();
}

void Log(const std::u16string& text) { foundation::GetLog()->Add(text); }

std::u16string Hex(uint64_t v, int minDigits) {
  static const char16_t digits[] = u"0123456789ABCDEF";
  std::u16string s;
  while (v) {
    s.insert(s.begin(), digits[v & 15]);
    v >>= 4;
  }
  while (static_cast<int>(s.size()) < minDigits) s.insert(s.begin(), u'0');
  return s;
}

std::u16string Lower(const std::u16string& s) {
  std::u16string r = s;
  for (auto& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return r;
}

bool IsSessionLocked() {
  TSessionLockedHook h = g_sessionLocked.load();
  return h && h();
}

TPoint ClientOrigin(uintptr_t window) {
  TClientOriginHook hook;
  {
    std::lock_guard<std::mutex> g(g_hookLock);
    hook = *g_clientOrigin;
  }
  return hook ? hook(window) : TPoint{};
}

gpu::Rect ToRect(const TRect& r) { return {r.Left, r.Top, r.Right, r.Bottom}; }

// Formats and kinds.
struct KindInfo {
  uint32_t format, usage;
  bool target;
};
KindInfo KindOf(TTextureKind kind, bool wide) {
  switch (kind) {
    case tkArgb: return {gpu::D3DFMT_A8R8G8B8, 0, false};
    case tkTargetXrgb: return {gpu::D3DFMT_X8R8G8B8, gpu::D3DUSAGE_RENDERTARGET, true};
    case tkTargetArgb: return {gpu::D3DFMT_A8R8G8B8, gpu::D3DUSAGE_RENDERTARGET, true};
    case tkLuminance: return {gpu::D3DFMT_L8, 0, false};
    case tkRgb565: return {gpu::D3DFMT_R5G6B5, 0, false};
    case tkTargetWide:
      return {wide ? uint32_t(gpu::D3DFMT_A16B16G16R16) : uint32_t(gpu::D3DFMT_A8R8G8B8), gpu::D3DUSAGE_RENDERTARGET,
              true};
  }
  Fail();
}

imaging::TPixelFormat* PixelFormatOf(uint32_t format) {
  switch (format) {
    case gpu::D3DFMT_A8R8G8B8:
    case gpu::D3DFMT_X8R8G8B8: return imaging::PixelFormatByName(u"A8R8G8B8");
    case gpu::D3DFMT_R5G6B5: return imaging::PixelFormatByName(u"B5G6R5");
    case gpu::D3DFMT_X1R5G5B5:
    case gpu::D3DFMT_A1R5G5B5: return imaging::PixelFormatByName(u"X1R5G5B5");
    case gpu::D3DFMT_A8:
    case gpu::D3DFMT_L8: return imaging::PixelFormatByName(u"A8");
    case gpu::D3DFMT_A16B16G16R16: return imaging::PixelFormatByName(u"A16R16G16B16");
    default: Fail();
  }
}

template <class T>
void EraseFrom(std::vector<T*>& list, T* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

bool OnMainThread() { return foundation::IsMainThread(); }

// Raises a notification from a copy: owners free the notifying object from
// inside it, and with it the stored callback.
void Notify(const TSimpleEvent& event) {
  TSimpleEvent copy = event;
  if (copy) copy();
}

// Takes over the caller's reference of data.
void PostRequest(uint32_t id, TRef<TRefObject> data) {
  foundation::TPostEventListEx* list = g_events.load();
  if (list) list->Post(id, data.Detach());
}

}  // namespace

// ---------------------------------------------------------------- unit

void EnterDeviceLock() { g_deviceLock->lock(); }
void LeaveDeviceLock() { g_deviceLock->unlock(); }

void SetRequestEventList(foundation::TPostEventListEx* list) { g_events.store(list); }
foundation::TPostEventListEx* GetRequestEventList() { return g_events.load(); }
void SetSessionLockedHook(TSessionLockedHook hook) { g_sessionLocked.store(hook); }
void SetWindowPlacementHook(TWindowPlacementHook hook) {
  std::lock_guard<std::mutex> g(g_hookLock);
  *g_placement = std::move(hook);
}
void SetSendMessageHook(TSendMessageHook hook) {
  std::lock_guard<std::mutex> g(g_hookLock);
  *g_sendMessage = std::move(hook);
}
void SetClientOriginHook(TClientOriginHook hook) {
  std::lock_guard<std::mutex> g(g_hookLock);
  *g_clientOrigin = std::move(hook);
}

void InitDXDev3D() {
  SetHardwareAcceleratedHook(&DXIsHardwareAccelerated);
  SetEngineFactory(&CreateDXEngine);
}

void DoneDXDev3D() {
  SetEngineFactory(nullptr);
  SetHardwareAcceleratedHook(nullptr);
  g_texPool->Clear();
}

uint8_t CheckDxResult(gpu::HRESULT code, uint8_t& lost) {
  lost = 0;
  uint8_t cls;
  switch (code) {
    case gpu::S_OK:
    case gpu::S_PRESENT_MODE_CHANGED:
    case gpu::S_PRESENT_OCCLUDED: return 0;
    case gpu::E_NOTIMPL:
    case gpu::D3DERR_INVALIDCALL: cls = 1; break;
    case gpu::D3DERR_OUTOFVIDEOMEMORY: cls = 2; break;
    case gpu::D3DERR_DEVICELOST:
      cls = 3;
      lost = 2;
      break;
    default: cls = 3; break;
  }
  foundation::GetLog()->AddInt(u"Dx Error = ", code,
                               u"  $" + Hex(static_cast<uint64_t>(static_cast<int64_t>(code)), 8));
  return cls;
}

bool DXIsHardwareAccelerated() {
  gpu::Direct3D* d3d = gpu::direct3DCreate9Ex(gpu::D3D_SDK_VERSION | gpu::D3D_SDK_DEBUG_BIT);
  if (!d3d) return false;
  gpu::Caps caps;
  bool hw = d3d->getDeviceCaps(0, gpu::D3DDEVTYPE_HAL, caps) == gpu::S_OK &&
            (caps.devCaps & gpu::D3DDEVCAPS_HWRASTERIZATION) != 0;
  d3d->release();
  return hw;
}

T3DEngine* CreateDXEngine() {
  gpu::Direct3D* d3d = gpu::direct3DCreate9Ex(gpu::D3D_SDK_VERSION);
  if (!d3d) return nullptr;
  auto* engine = new T3DEngine9(d3d);
  d3d->release();
  return engine;
}

bool IsDwmCompositionEnabled() { return true; }

bool SetWndPosLocal(uintptr_t window, const TRect& rect, bool show) {
  foundation::GetLog()->AddRect(u"Setwndposlocal ", rect, u"");
  TWindowPlacementHook hook;
  {
    std::lock_guard<std::mutex> g(g_hookLock);
    hook = *g_placement;
  }
  return hook ? hook(window, rect, show) : false;
}

// ---------------------------------------------------------------- engine

T3DEngine9::T3DEngine9(gpu::Direct3D* d3d) {
  IntervalMode = PresentIntervalMode.load();
  D3D = d3d;
  D3D->addRef();
  FEvents = g_events.load();
  if (FEvents) {
    auto handler = foundation::MethodOf<&T3DEngine9::HandleRequest>(this);
    uint32_t id = FEvents->RegisterHandler(handler);
    uint32_t expected = 0;
    if (!g_requestId.compare_exchange_strong(expected, id)) {
      FEvents->RemoveHandler(id, handler);
      FEvents->AddHandler(expected, handler);
    }
    InitProbeEvent = FEvents->RegisterHandler(handler);
    ResetProbeEvent = FEvents->RegisterHandler(handler);
  }
  if (!OnMainThread()) {
    if (FEvents) FEvents->Post(InitProbeEvent, nullptr);
  } else {
    CreateProbeDevice();
  }
}

void T3DEngine9::Dispose() {
  if (FEvents) {
    auto handler = foundation::MethodOf<&T3DEngine9::HandleRequest>(this);
    FEvents->RemoveHandler(InitProbeEvent, handler);
    FEvents->RemoveHandler(ResetProbeEvent, handler);
    FEvents->RemoveHandler(g_requestId.load(), handler);
  }
  for (TCapsWrapper* w : CapsCache) delete w;
  CapsCache.clear();
  if (ProbeDevice) ProbeDevice->release();
  ProbeDevice = nullptr;
  if (D3D) D3D->release();
  D3D = nullptr;
  T3DEngine::Dispose();
}

bool T3DEngine9::Call(gpu::HRESULT hr) {
  uint8_t lost;
  LastResult = CheckDxResult(hr, lost);
  State = lost;
  return LastResult == 0;
}

void T3DEngine9::CreateProbeDevice() {
  gpu::DisplayMode mode;
  D3D->getAdapterDisplayMode(0, mode);
  ProbeParams = {};
  ProbeParams.backBufferWidth = 16;
  ProbeParams.backBufferHeight = 16;
  ProbeParams.backBufferFormat = mode.format;
  ProbeParams.backBufferCount = 1;
  ProbeParams.swapEffect = gpu::D3DSWAPEFFECT_COPY;
  ProbeParams.windowed = true;
  ProbeParams.presentationInterval = gpu::D3DPRESENT_INTERVAL_DEFAULT;
  ProbeDevice = nullptr;
  Call(D3D->createDeviceEx(0, gpu::D3DDEVTYPE_HAL, 0, 0x26, ProbeParams, nullptr, &ProbeDevice));
  if (LastResult != 0) ProbeDevice = nullptr;
}

bool T3DEngine9::CheckDevice() {
  bool usable = !IsSessionLocked();
  TDeviceLock lock;
  if (usable && ProbeDevice) {
    gpu::HRESULT hr = ProbeDevice->checkDeviceState(0);
    if (hr == gpu::D3DERR_DEVICELOST || hr == gpu::S_PRESENT_MODE_CHANGED || hr == gpu::S_PRESENT_OCCLUDED) {
      usable = false;
    } else if (hr == gpu::D3DERR_DEVICENOTRESET) {
      if (!OnMainThread()) {
        if (FEvents) FEvents->Post(ResetProbeEvent, nullptr);
      } else {
        usable = ProbeDevice->reset(ProbeParams) == gpu::S_OK;
      }
    }
  }
  return usable;
}

TCapsWrapper* T3DEngine9::GetCaps(uint32_t adapter) {
  Check(D3D != nullptr);
  for (TCapsWrapper* w : CapsCache)
    if (w->Adapter == adapter) return w;
  auto* w = new TCapsWrapper();
  if (!Call(D3D->getDeviceCaps(adapter, gpu::D3DDEVTYPE_HAL, w->Caps)) ||
      !Call(D3D->getAdapterIdentifier(adapter, 0, w->Identifier))) {
    delete w;
    return nullptr;
  }
  w->Adapter = adapter;
  CapsCache.push_back(w);
  return w;
}

uint32_t T3DEngine9::GetCapsValue(const std::u16string& name, uint32_t adapter) {
  TCapsWrapper* w = GetCaps(adapter);
  if (!w) return 0;
  std::u16string n = Lower(name);
  if (n == u"pixelshaderversion") return w->Caps.pixelShaderVersion;
  if (n == u"maxtexwidth") return w->Caps.maxTextureWidth;
  if (n == u"maxtexheight") return w->Caps.maxTextureHeight;
  if (n == u"maxanisotropy") return w->Caps.maxAnisotropy;
  if (n == u"raster") return w->Caps.rasterCaps;
  if (n == u"vendor") return w->Identifier.vendorId;
  if (n == u"deviceid") return w->Identifier.deviceId;
  if (n == u"subsysid") return w->Identifier.subSysId;
  if (n == u"revision") return w->Identifier.revision;
  return 0;
}

std::u16string T3DEngine9::GetCapsText(const std::u16string& name, uint32_t adapter) {
  if (Lower(name) != u"vendor") return u"";
  TCapsWrapper* w = GetCaps(adapter);
  if (!w) return u"";
  std::u16string text;
  for (size_t i = 0; i < 511 && w->Identifier.description[i]; ++i)
    text += static_cast<char16_t>(static_cast<unsigned char>(w->Identifier.description[i]));
  return text;
}

uint32_t T3DEngine9::AdapterFromRect(const TRect& rect) {
  Check(D3D != nullptr);
  uint32_t best = 0;
  int64_t bestArea = 0;
  for (uint32_t a = 0; a < D3D->getAdapterCount(); ++a) {
    gpu::Rect m;
    if (D3D->getAdapterMonitorRect(a, m) != gpu::S_OK) continue;
    int64_t w = std::min(m.right, rect.Right) - std::max(m.left, rect.Left);
    int64_t h = std::min(m.bottom, rect.Bottom) - std::max(m.top, rect.Top);
    int64_t area = w > 0 && h > 0 ? w * h : 0;
    if (area > bestArea) {
      bestArea = area;
      best = a;
    }
  }
  return best;
}

bool T3DEngine9::GetDisplayMode(TDisplayMode& mode, uint32_t adapter) {
  Check(D3D != nullptr);
  gpu::DisplayMode m;
  bool ok = Call(D3D->getAdapterDisplayMode(adapter, m));
  gpu::Rect r;
  D3D->getAdapterMonitorRect(adapter, r);
  mode.MonitorRect = {r.left, r.top, r.right, r.bottom};
  mode.RefreshRate = m.refreshRate;
  mode.Format = m.format;
  return ok;
}

uint8_t T3DEngine9::GetShaderLevel(uint32_t adapter) {
  uint32_t vendor = GetCapsValue(u"Vendor", adapter);
  uint32_t ps = GetCapsValue(u"PixelShaderVersion", adapter);
  if (vendor == 0x8086) return ps >= gpu::psVersion(3, 0) ? 2 : ps >= gpu::psVersion(2, 0) ? 1 : 0;
  return ps >= gpu::psVersion(2, 0) ? 2 : 0;
}

TRendererDevice* T3DEngine9::CreateOffscreenDevice(int32_t width, int32_t height) {
  auto* device = new TWinOffscreenDevice();
  device->SetSize(width, height);
  return device;
}

void TWinOffscreenDevice::SetSize(int32_t width, int32_t height) {
  // No window stands behind the target: its back buffer is presented nowhere.
  SetBounds({0, 0, width, height}, {0, 0}, false);
}

T3DRenderer* T3DEngine9::CreateRenderer(TDrawDevice* device, const TRendererParams& params) {
  auto* renderer = new T3DRenderer9(device, this);
  if (!OnMainThread()) {
    TDeviceLock lock;
    renderer->State = rsCreationPending;
    auto data = MakeRef<TInitData>();
    data->Target = device;
    data->Params = params;
    data->Renderer = renderer;
    renderer->PendingRequest = data.Get();
    PostRequest(g_requestId.load(), std::move(data));
    return renderer;
  }
  InternalCreateRenderer(device, params, renderer);
  return renderer;
}

void T3DEngine9::InternalCreateRenderer(TDrawDevice* device, const TRendererParams& params,
                                        T3DRenderer9*& renderer) {
  TDeviceLock lock;
  Check(D3D != nullptr);
  uintptr_t window = device->Handle;
  auto* wrapper = device->FindMessenger<TRectangleWrapper>();
  if (!wrapper) {
    wrapper = new TRectangleWrapper();
    device->Messengers.push_back(wrapper);
  }
  TRect r;
  if (device->FullScreen) {
    wrapper->SavedRect = params.Mode.MonitorRect;
    r = {0, 0, params.Mode.MonitorRect.Right - params.Mode.MonitorRect.Left,
         params.Mode.MonitorRect.Bottom - params.Mode.MonitorRect.Top};
  } else {
    wrapper->SavedRect = device->Bounds;
    r = device->Bounds;
  }
  if (device->FullScreen && !ExclusiveAllowed.load()) SetWndPosLocal(window, wrapper->SavedRect, true);
  bool exclusive = device->FullScreen && ExclusiveAllowed.load() && !wrapper->WindowedOnce;
  wrapper->WindowedOnce = false;
  uint32_t interval;
  if (!exclusive && IsDwmCompositionEnabled()) {
    interval = gpu::D3DPRESENT_INTERVAL_DEFAULT;
  } else {
    switch (IntervalMode) {
      case 0: interval = gpu::D3DPRESENT_INTERVAL_DEFAULT; break;
      case 1: interval = gpu::D3DPRESENT_INTERVAL_IMMEDIATE; break;
      case 2: interval = gpu::D3DPRESENT_INTERVAL_ONE; break;
      default: Fail();
    }
  }
  auto* store = device->FindMessenger<TDevStore>();
  if (!store) store = new TDevStore(this, device);
  auto* panel = device->FindMessenger<TWinPanel>();
  if (panel && panel->ParentWindow != device->Handle) {
    device->RemoveMessenger(panel);
    panel->Free();
    panel = nullptr;
  }
  if (!panel) panel = new TWinPanel(device);

  gpu::PresentParameters pp;
  if (!exclusive) {
    pp.swapEffect = gpu::D3DSWAPEFFECT_COPY;
    pp.backBufferCount = 1;
    foundation::GetLog()->AddRect(u"T3DEngine9.InternalCreateRenderer: init windowed device: ", wrapper->SavedRect,
                                  u"");
    panel->SetBoundsRect(r);
    panel->Visible = r.Right > r.Left && r.Bottom > r.Top;
  } else {
    Log(u"T3DEngine9.InternalCreateRenderer - exclusive");
    pp.swapEffect = gpu::D3DSWAPEFFECT_DISCARD;
    pp.fullScreenRefreshRateInHz = params.Mode.RefreshRate;
    pp.backBufferCount = 0;
  }
  pp.windowed = !exclusive;
  pp.backBufferWidth = static_cast<uint32_t>(std::max(0, r.Right - r.Left));
  pp.backBufferHeight = static_cast<uint32_t>(std::max(0, r.Bottom - r.Top));
  pp.backBufferFormat = params.Mode.Format;
  pp.presentationInterval = interval;
  pp.enableAutoDepthStencil = false;
  const uint32_t behaviour = gpu::D3DCREATE_FPU_PRESERVE | gpu::D3DCREATE_MULTITHREADED |
                             gpu::D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  if (!exclusive) {
    pp.deviceWindow = window;
    if (!store->Device) {
      Call(D3D->createDeviceEx(params.Adapter, gpu::D3DDEVTYPE_HAL, window, behaviour, pp, nullptr, &store->Device));
    } else if (!renderer->OwnSwapChain) {
      Log(u"before reseteX");
      Call(store->Device->resetEx(pp, nullptr));
    }
    if (renderer->OwnSwapChain && LastResult == 0)
      Call(store->Device->createAdditionalSwapChain(pp, &renderer->SwapChain));
  } else {
    store->DropDevice();
    pp.deviceWindow = window;
    gpu::DisplayMode mode{static_cast<uint32_t>(r.Right), static_cast<uint32_t>(r.Bottom), params.Mode.RefreshRate,
                          params.Mode.Format};
    Call(D3D->createDeviceEx(params.Adapter, gpu::D3DDEVTYPE_HAL, window, behaviour, pp, &mode, &store->Device));
    if (renderer->OwnSwapChain && LastResult == 0) Call(store->Device->getSwapChain(0, &renderer->SwapChain));
  }
  foundation::GetLog()->AddInt(u"T3DEngine9.InternalCreateRenderer: create device res= ", LastResult, u"");
  if (LastResult != 0) {
    if (!store->Device) {
      // A store that never got a device serves nobody.
      device->RemoveMessenger(store);
      store->Free();
    }
    if (renderer->OnRendererLost) {
      Notify(renderer->OnRendererLost);
    } else if (renderer->PendingRequest == nullptr) {
      renderer->Free();
    } else {
      // A posted creation: the caller holds the renderer; it stays lost.
      renderer->State = rsLost;
      renderer->PendingRequest = nullptr;
    }
    renderer = nullptr;
    return;
  }
  T3DRenderer9* rr = renderer;
  // Other threads read the renderer without the device lock once it is
  // ready: it is pending while its members are filled in, ready last.
  rr->State = rsCreationPending;
  store->Renderers.push_back(rr);
  rr->Store = store;
  rr->Exclusive = exclusive;
  rr->FullScreen = device->FullScreen;
  rr->Active = exclusive;
  rr->BlendMode = bmNormal;
  T3DSurface* back = nullptr;
  if (rr->GetBackBuffer(back)) rr->BackBuffer = static_cast<T3DSurfaceRT*>(back);
  rr->RenderTarget = rr->BackBuffer;
  rr->LastResult = 0;
  rr->RefreshRate = params.Mode.RefreshRate;
  rr->PendingRequest = nullptr;
  rr->MaxAnisotropy = static_cast<int32_t>(std::min<uint32_t>(GetCapsValue(u"MaxAnisotropy", params.Adapter), 4));
  uint32_t raster = GetCapsValue(u"Raster", params.Adapter);
  store->Anisotropy = (raster & gpu::D3DPRASTERCAPS_ANISOTROPY) != 0;
  if (Call(D3D->checkDeviceFormat(params.Adapter, gpu::D3DDEVTYPE_HAL, params.Mode.Format, gpu::D3DUSAGE_DEPTHSTENCIL,
                                  gpu::D3DRTYPE_SURFACE, gpu::D3DFMT_D24X8)))
    rr->DepthFormat = gpu::D3DFMT_D24X8;
  else if (Call(D3D->checkDeviceFormat(params.Adapter, gpu::D3DDEVTYPE_HAL, params.Mode.Format,
                                       gpu::D3DUSAGE_DEPTHSTENCIL, gpu::D3DRTYPE_SURFACE, gpu::D3DFMT_D16)))
    rr->DepthFormat = gpu::D3DFMT_D16;
  else
    rr->DepthFormat = 0;
  rr->SupportsLodBias = (raster & gpu::D3DPRASTERCAPS_MIPMAPLODBIAS) != 0;
  rr->SupportsL8 = Call(D3D->checkDeviceFormat(params.Adapter, gpu::D3DDEVTYPE_HAL, params.Mode.Format, 0,
                                               gpu::D3DRTYPE_TEXTURE, gpu::D3DFMT_L8));
  WideTargets = Call(D3D->checkDeviceFormat(params.Adapter, gpu::D3DDEVTYPE_HAL, params.Mode.Format, 0,
                                            gpu::D3DRTYPE_TEXTURE, gpu::D3DFMT_A16B16G16R16));
  store->Device->createVertexBuffer(64, 0, gpu::D3DFVF_XYZ | gpu::D3DFVF_DIFFUSE, gpu::D3DPOOL_DEFAULT,
                                    &rr->QuadBuffer);
  if (rr->QuadBuffer) {
    void* p = nullptr;
    if (rr->QuadBuffer->lock(0, 64, &p, 0) == gpu::S_OK && p) {
      const float pos[4][2] = {{-0.05f, -0.05f}, {-0.05f, -0.0f}, {-0.0f, -0.05f}, {-0.0f, -0.0f}};
      auto* bytes = static_cast<uint8_t*>(p);
      for (int i = 0; i < 4; ++i) {
        float v[3] = {pos[i][0], pos[i][1], 0};
        uint32_t color = 0;
        std::memcpy(bytes + i * 16, v, 12);
        std::memcpy(bytes + i * 16 + 12, &color, 4);
      }
      rr->QuadBuffer->unlock();
    }
  }
  if (rr->State == rsCreationPending) rr->State = rsReady;
  if (device->OnPaint) device->OnPaint(this);
}

void T3DEngine9::HandleRequest(TRefObject* sender, uint32_t id, TRefObject* data) {
  if (id == ResetProbeEvent) {
    TDeviceLock lock;
    if (ProbeDevice) ProbeDevice->reset(ProbeParams);
    return;
  }
  if (id == InitProbeEvent) {
    CreateProbeDevice();
    return;
  }
  if (id != g_requestId.load()) return;
  if (auto* init = dynamic_cast<TInitData*>(data)) {
    TDeviceLock lock;
    if (init->Renderer) {
      T3DRenderer9* r = init->Renderer;
      init->Renderer = nullptr;
      InternalCreateRenderer(init->Target, init->Params, r);
    }
  } else if (auto* rel = dynamic_cast<TReleaseData*>(data)) {
    // The device is destroyed here, on the main thread, once every other
    // holder let go of it.
    for (;;) {
      rel->Device->addRef();
      if (rel->Device->release() == 1) break;
      std::this_thread::yield();
    }
    rel->Device->release();
    rel->Device = nullptr;
    if (rel->Window && CheckDevice()) SetWndPosLocal(rel->Window, rel->Rect, false);
  }
}

void TReleaseData::Dispose() {
  if (Device) Device->release();
  Device = nullptr;
  TRefObject::Dispose();
}

// ---------------------------------------------------------------- panel

TWinPanel::TWinPanel(TDrawDevice* target) : Target(target), ParentWindow(target->Handle) {
  target->Messengers.push_back(this);
}

intptr_t TWinPanel::WndProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  constexpr uint32_t WM_PAINT = 0x000F, WM_ERASEBKGND = 0x0014, WM_SETCURSOR = 0x0020, WM_MOUSEWHEEL = 0x020A,
                     WM_MOUSEHWHEEL = 0x020E;
  TSendMessageHook send;
  {
    std::lock_guard<std::mutex> g(g_hookLock);
    send = *g_sendMessage;
  }
  if (message == WM_PAINT) {
    Unpainted = false;
    if (Target->OnPaint) Target->OnPaint(Target);
    return 1;
  }
  if (message == WM_ERASEBKGND) return 1;
  if (message == WM_SETCURSOR) return send ? send(Target->Handle, message, wParam, lParam) : 0;
  if (message >= 0x0200 && message <= 0x020D) {
    // Wheel messages carry screen coordinates: they pass unchanged.
    if (message != WM_MOUSEWHEEL && message != WM_MOUSEHWHEEL) {
      int32_t x = static_cast<int16_t>(lParam & 0xFFFF), y = static_cast<int16_t>((lParam >> 16) & 0xFFFF);
      // The panel is a virtual child: its client origin is the target
      // window's plus the panel's position.
      TPoint parent = ClientOrigin(Target->Handle);
      TPoint own{parent.X + BoundsRect.Left, parent.Y + BoundsRect.Top};
      x += own.X - parent.X;
      y += own.Y - parent.Y;
      lParam = static_cast<intptr_t>((static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF));
    }
    return send ? send(Target->Handle, message, wParam, lParam) : 0;
  }
  return 0;
}

// ---------------------------------------------------------------- texture key table

int32_t TTexPool::FindOrAdd(uint8_t kind, int32_t width, int32_t height, bool mipmaps) {
  if (Buckets.empty()) {
    Count = 0;
    Items.resize(32);
    Buckets.assign(512, 0);
  }
  uint32_t bucket = (uint32_t(kind) * 5 + uint32_t(width) * 2 + uint32_t(height) * 3 + (mipmaps ? 1 : 0)) % 512;
  for (int32_t i = Buckets[bucket]; i != 0; i = Items[static_cast<size_t>(i - 1)].Next) {
    const TTexPoolItem& it = Items[static_cast<size_t>(i - 1)];
    if (it.Kind == kind && it.Width == width && it.Height == height && it.Mipmaps == (mipmaps ? 1 : 0)) return i - 1;
  }
  int32_t index = Count++;
  if (Count > static_cast<int32_t>(Items.size())) Items.resize(Items.size() * 2);
  Items[static_cast<size_t>(index)] = {Buckets[bucket], kind, width, height, static_cast<uint8_t>(mipmaps ? 1 : 0)};
  Buckets[bucket] = index + 1;
  return index;
}

void TTexPool::Clear() {
  Count = 0;
  Items.clear();
  Buckets.clear();
}

TTexPool& TexturePool() { return *g_texPool; }

// ---------------------------------------------------------------- store

TDevStore::TDevStore(T3DEngine9* engine, TDrawDevice* target) : Target(target), Engine(engine) {
  if (Target) Target->Messengers.push_back(this);
}

void TDevStore::DropDevice() {
  if (Device) Device->release();
  Device = nullptr;
}

void TDevStore::Dispose() {
  {
    TDeviceLock lock;
    if (!Renderers.empty() && Renderers.front()->FullScreen && Target) {
      auto* wrapper = Target->FindMessenger<TRectangleWrapper>();
      TRect r = wrapper ? wrapper->SavedRect : Target->Bounds;
      foundation::GetLog()->AddRect(u"Store.Dispose FullScreen, R= ", r, u"");
      if (OnMainThread()) {
        SetWndPosLocal(Target->Handle, r, false);
      } else if (Device) {
        auto rel = MakeRef<TReleaseData>();
        Device->addRef();
        rel->Device = Device;
        rel->Window = Target->Handle;
        rel->Rect = r;
        Log(u"TDevStore.Dispose, not main thread");
        DropDevice();
        PostRequest(g_requestId.load(), std::move(rel));
      }
    }
    std::vector<T3DRenderer9*> renderers;
    renderers.swap(Renderers);
    for (auto it = renderers.rbegin(); it != renderers.rend(); ++it) {
      (*it)->Store = nullptr;
      Notify((*it)->OnRendererLost);
    }
    std::vector<TBaseTexture*> textures;
    textures.swap(Textures);
    for (auto it = textures.rbegin(); it != textures.rend(); ++it) {
      if (auto* t = dynamic_cast<T3DTexture9*>(*it)) {
        {
          std::lock_guard<std::recursive_mutex> g(t->LockGuard);
          // A level locked by a writer keeps its staging copy until the
          // last unlock; otherwise the copy goes back to the pool.
          if (t->LockCount == 0 && t->Staging) ReleaseStaging(t->Staging);
          t->Store = nullptr;
        }
        Notify(t->OnRelease);
      } else if (auto* v = dynamic_cast<TVolumeTexture9*>(*it)) {
        {
          std::lock_guard<std::recursive_mutex> g(v->LockGuard);
          v->Store = nullptr;
        }
        Notify(v->OnRelease);
      }
    }
    std::vector<T3DVertexList9*> lists;
    lists.swap(VertexLists);
    for (auto it = lists.rbegin(); it != lists.rend(); ++it) {
      (*it)->Store = nullptr;
      Notify((*it)->OnRelease);
    }
    std::vector<T3DShader9*> shaders;
    shaders.swap(Shaders);
    for (auto it = shaders.rbegin(); it != shaders.rend(); ++it) {
      (*it)->Store = nullptr;
      Notify((*it)->OnRelease);
    }
  }
  std::vector<T3DTexture9*> pooled;
  {
    std::lock_guard<std::mutex> g(PoolLock);
    for (T3DTexture9* head : StagingHeads)
      for (T3DTexture9* t = head; t;) {
        T3DTexture9* next = t->NextFree;
        t->NextFree = nullptr;
        pooled.push_back(t);
        t = next;
      }
    StagingHeads.clear();
  }
  for (T3DTexture9* t : pooled) t->Free();
  DropDevice();
  TRefObject::Dispose();
}

T3DTexture9* TDevStore::CreateTexture9(TTextureKind kind, int32_t width, int32_t height, bool mipmaps,
                                       bool systemMemory, gpu::HRESULT* hr) {
  TDeviceLock lock;
  if (!Device) {
    if (hr) *hr = gpu::D3DERR_INVALIDCALL;
    return nullptr;
  }
  auto t = MakeRef<T3DTexture9>();
  t->Mipmaps = mipmaps;
  t->Width = width;
  t->Height = height;
  KindInfo info = KindOf(kind, Engine && Engine->WideTargets);
  uint32_t levels = 1;
  uint32_t usage = info.usage;
  uint32_t pool = gpu::D3DPOOL_DEFAULT;
  if (systemMemory) {
    // A staging copy is always a plain system-memory texture of the kind's
    // format, render-target kinds included.
    pool = gpu::D3DPOOL_SYSTEMMEM;
    usage = 0;
  }
  if (!info.target && mipmaps && Anisotropy) levels = 0;
  t->Pool = pool;
  gpu::HRESULT r = Device->createTexture(static_cast<uint32_t>(width), static_cast<uint32_t>(height), levels, usage,
                                         info.format, pool, &t->Texture);
  if (hr) *hr = r;
  t->Call(r);
  if (r != gpu::S_OK) {
    Log(u"create tex fail");
    t->Texture = nullptr;
    return nullptr;
  }
  t->Kind = kind;
  Textures.push_back(t.Get());
  t->Store = this;
  return t.Detach();
}

TVolumeTexture9* TDevStore::CreateVolumeTexture9(int32_t width, int32_t height, int32_t depth, bool systemMemory,
                                                 gpu::HRESULT* hr) {
  TDeviceLock lock;
  if (!Device) {
    if (hr) *hr = gpu::D3DERR_INVALIDCALL;
    return nullptr;
  }
  auto v = MakeRef<TVolumeTexture9>();
  v->Pool = systemMemory ? gpu::D3DPOOL_SYSTEMMEM : gpu::D3DPOOL_DEFAULT;
  gpu::HRESULT r = Device->createVolumeTexture(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                               static_cast<uint32_t>(depth), 1, 0, gpu::D3DFMT_A8R8G8B8, v->Pool,
                                               &v->VolumeTexture);
  if (hr) *hr = r;
  if (r != gpu::S_OK) {
    v->VolumeTexture = nullptr;
    return nullptr;
  }
  v->Width = width;
  v->Height = height;
  v->Depth = depth;
  v->Store = this;
  Textures.push_back(v.Get());
  return v.Detach();
}

T3DTexture9* TDevStore::AcquireStaging(TTextureKind kind, int32_t width, int32_t height, bool mipmaps) {
  {
    std::lock_guard<std::mutex> g(PoolLock);
    int32_t key = g_texPool->FindOrAdd(kind, width, height, mipmaps);
    if (key >= static_cast<int32_t>(StagingHeads.size())) StagingHeads.resize(static_cast<size_t>(g_texPool->Room()));
    T3DTexture9*& head = StagingHeads[static_cast<size_t>(key)];
    if (head) {
      T3DTexture9* t = head;
      head = t->NextFree;
      t->NextFree = nullptr;
      return t;
    }
  }
  return CreateTexture9(kind, width, height, mipmaps, true);
}

void TDevStore::ReleaseStaging(T3DTexture9*& texture) {
  if (!texture) return;
  std::lock_guard<std::mutex> g(PoolLock);
  int32_t key = g_texPool->FindOrAdd(texture->Kind, texture->Width, texture->Height, texture->Mipmaps);
  Check(key < static_cast<int32_t>(StagingHeads.size()));
  texture->NextFree = StagingHeads[static_cast<size_t>(key)];
  StagingHeads[static_cast<size_t>(key)] = texture;
  texture = nullptr;
}

bool TDevStore::ReadRenderTarget(T3DSurface9* source, T3DSurface9*& copy) {
  TDeviceLock lock;
  Check(source != nullptr);
  copy = nullptr;
  if (!Device || !source->Surface) return false;
  auto made = MakeRef<T3DSurface9>();
  gpu::SurfaceDesc desc;
  source->Surface->getDesc(desc);
  uint8_t lost;
  if (CheckDxResult(Device->createOffscreenPlainSurface(desc.width, desc.height, desc.format, gpu::D3DPOOL_SYSTEMMEM,
                                                        &made->Surface),
                    lost) != 0 ||
      CheckDxResult(Device->getRenderTargetData(source->Surface, made->Surface), lost) != 0)
    return false;
  copy = made.Detach();
  return true;
}

// ---------------------------------------------------------------- surfaces

bool T3DSurface9::Call(gpu::HRESULT hr) {
  uint8_t lost;
  LastResult = CheckDxResult(hr, lost);
  State = lost;
  return LastResult == 0;
}

void T3DSurface9::Dispose() {
  if (Surface) Surface->release();
  Surface = nullptr;
  T3DSurface::Dispose();
}

void T3DSurface9::GetSize(int32_t& width, int32_t& height) {
  width = height = 0;
  gpu::SurfaceDesc d;
  if (!Surface || Surface->getDesc(d) != gpu::S_OK) return;
  width = static_cast<int32_t>(d.width);
  height = static_cast<int32_t>(d.height);
}

imaging::TPixelFormat* T3DSurface9::GetPixelFormat() {
  gpu::SurfaceDesc d;
  if (!Surface || Surface->getDesc(d) != gpu::S_OK) return nullptr;
  return PixelFormatOf(d.format);
}

imaging::TBitmap* T3DSurface9::Lock(const TRect& rect, bool readOnly) {
  if (!Surface) return nullptr;
  if (Texture && Texture->Pool == gpu::D3DPOOL_DEFAULT) {
    T3DTexture9* tex = Texture;
    T3DTexture9* staging = nullptr;
    {
      // Lock order: the device lock, then the texture's (a staging copy may
      // have to be made, under the device lock).
      TDeviceLock lock;
      std::lock_guard<std::recursive_mutex> g(tex->LockGuard);
      if (!tex->Staging && tex->Store)
        tex->Staging = tex->Store->AcquireStaging(tex->Kind, tex->Width, tex->Height, tex->Mipmaps);
      staging = tex->Staging;
      if (!staging) return nullptr;
      // The writer holds the texture (and so its surfaces and staging copy)
      // until it unlocks, whoever releases the texture meanwhile.
      ++tex->LockCount;
      tex->_AddRef();
    }
    T3DSurface* s = staging->GetSurface(Level);
    imaging::TBitmap* bmp = s ? s->Lock(rect, readOnly) : nullptr;
    if (!bmp) {
      {
        std::lock_guard<std::recursive_mutex> g(tex->LockGuard);
        --tex->LockCount;
      }
      tex->_Release();
    }
    return bmp;
  }
  gpu::LockedRect lr;
  gpu::Rect r = ToRect(rect);
  uint32_t flags = readOnly ? gpu::D3DLOCK_READONLY | gpu::D3DLOCK_NOSYSLOCK | gpu::D3DLOCK_NO_DIRTY_UPDATE
                            : gpu::D3DLOCK_NOSYSLOCK;
  if (!Call(Surface->lockRect(lr, &r, flags))) return nullptr;
  Check(lr.bits != nullptr);
  int32_t w = rect.Right - rect.Left, h = rect.Bottom - rect.Top;
  imaging::TScanLines rows(static_cast<size_t>(std::max(h, 0)));
  for (int32_t i = 0; i < h; ++i) rows[static_cast<size_t>(i)] = static_cast<uint8_t*>(lr.bits) + size_t(i) * lr.pitch;
  return new imaging::TRefBitmap({w, h}, GetPixelFormat(), std::move(rows), lr.pitch, nullptr, false);
}

bool T3DSurface9::Unlock(imaging::TBitmap*& bitmap) {
  Check(Surface != nullptr && bitmap != nullptr);
  if (Texture && Texture->Pool == gpu::D3DPOOL_DEFAULT) {
    T3DTexture9* tex = Texture;
    bool ok;
    {
      TDeviceLock lock;
      std::lock_guard<std::recursive_mutex> g(tex->LockGuard);
      Check(tex->Staging != nullptr);
      T3DSurface* s = tex->Staging->GetSurface(Level);
      ok = s && s->Unlock(bitmap);
      // After the store is gone the pixels have nowhere to go: no upload.
      if (tex->Store) tex->Dirty = true;
      if (--tex->LockCount == 0 && !tex->Store && tex->Staging) {
        tex->Staging->Free();
        tex->Staging = nullptr;
      }
    }
    tex->_Release();
    return ok;
  }
  bool ok = Call(Surface->unlockRect());
  bitmap->Free();
  bitmap = nullptr;
  return ok;
}

bool T3DSurface9::CopyFrom(T3DSurface9* source, imaging::TBitmap* bitmap) {
  int32_t w, h;
  source->GetSize(w, h);
  imaging::TBitmap* locked = source->Lock({0, 0, w, h}, true);
  if (!locked) return false;
  TRect dest{0, 0, w, h};
  if (auto* sys = dynamic_cast<imaging::TSysBitmap*>(bitmap))
    sys->CopyRect(dest, locked, {0, 0}, 0);
  else if (auto* direct = dynamic_cast<imaging::TDirectBitmap*>(bitmap))
    direct->CopyRect(dest, locked, {0, 0});
  return source->Unlock(locked);
}

bool T3DSurface9::CopyTo(imaging::TBitmap* bitmap) {
  if (!Surface) return false;
  return CopyFrom(this, bitmap);
}

bool T3DSurfaceRT::CopyTo(imaging::TBitmap* bitmap) {
  if (!Surface || !Store) return false;
  T3DSurface9* copy = nullptr;
  if (!Store->ReadRenderTarget(this, copy)) return false;
  const auto held = TRef<T3DSurface9>::Adopt(copy);
  return CopyFrom(held.Get(), bitmap);
}

// ---------------------------------------------------------------- textures

bool T3DTexture9::Call(gpu::HRESULT hr) {
  uint8_t lost;
  LastResult = CheckDxResult(hr, lost);
  State = lost;
  return LastResult == 0;
}

void T3DTexture9::Dispose() {
  {
    TDeviceLock lock;
    std::lock_guard<std::recursive_mutex> g(LockGuard);
    if (Store) {
      EraseFrom(Store->Textures, static_cast<TBaseTexture*>(this));
      Store->ReleaseStaging(Staging);
    } else if (Staging) {
      Staging->Free();
      Staging = nullptr;
    }
    for (auto& [level, s] : Surfaces) s->Free();
    Surfaces.clear();
  }
  if (Texture) Texture->release();
  Texture = nullptr;
  T3DTexture::Dispose();
}

int32_t T3DTexture9::GetLevelCount() { return Texture ? static_cast<int32_t>(Texture->getLevelCount()) : 0; }

T3DSurface* T3DTexture9::GetSurface(int32_t level) {
  std::lock_guard<std::recursive_mutex> g(LockGuard);
  if (!Texture) return nullptr;
  auto it = Surfaces.find(level);
  if (it != Surfaces.end()) return it->second;
  auto s = TRef<T3DSurface9>::Adopt((Kind == tkTargetXrgb || Kind == tkTargetArgb || Kind == tkTargetWide) && Pool == 0
                                        ? new T3DSurfaceRT()
                                        : new T3DSurface9());
  s->Level = level;
  if (!s->Call(Texture->getSurfaceLevel(static_cast<uint32_t>(level), &s->Surface))) {
    s->Surface = nullptr;
    return nullptr;
  }
  s->Store = Store;
  s->Texture = this;
  Surfaces[level] = s.Get();
  return s.Detach();
}

void T3DTexture9::Update() {
  TDeviceLock lock;
  std::lock_guard<std::recursive_mutex> g(LockGuard);
  if (!Store || !Store->Device || !Texture) return;
  if (Pool == gpu::D3DPOOL_SYSTEMMEM) {
    Texture->preLoad();
    return;
  }
  // A level still being written is uploaded after its writer unlocks.
  if (!Dirty || LockCount > 0) return;
  Check(Staging != nullptr);
  if (!Call(Store->Device->updateTexture(Staging->Texture, Texture))) Log(u"update tex fail");
  Store->ReleaseStaging(Staging);
  Dirty = false;
}

bool TVolumeTexture9::Call(gpu::HRESULT hr) {
  uint8_t lost;
  LastResult = CheckDxResult(hr, lost);
  State = lost;
  return LastResult == 0;
}

void TVolumeTexture9::Dispose() {
  {
    TDeviceLock lock;
    if (Store) EraseFrom(Store->Textures, static_cast<TBaseTexture*>(this));
    if (Staging) Staging->Free();
    Staging = nullptr;
  }
  if (VolumeTexture) VolumeTexture->release();
  VolumeTexture = nullptr;
  TVolumeTexture::Dispose();
}

int32_t TVolumeTexture9::GetLevelCount() {
  return VolumeTexture ? static_cast<int32_t>(VolumeTexture->getLevelCount()) : 0;
}

imaging::TBitmap* TVolumeTexture9::Lock(int32_t level, int32_t x1, int32_t y1, int32_t z1, int32_t x2, int32_t y2,
                                        int32_t z2) {
  if (!VolumeTexture) return nullptr;
  TVolumeTexture9* target = this;
  {
    TDeviceLock lock;
    std::lock_guard<std::recursive_mutex> g(LockGuard);
    if (Pool != gpu::D3DPOOL_SYSTEMMEM) {
      if (!Staging && Store) Staging = Store->CreateVolumeTexture9(Width, Height, Depth, true);
      if (!Staging) return nullptr;
      target = Staging;
    }
    ++LockCount;
    _AddRef();
  }
  gpu::LockedBox lb;
  gpu::Box box{static_cast<uint32_t>(x1), static_cast<uint32_t>(y1), static_cast<uint32_t>(x2),
               static_cast<uint32_t>(y2), static_cast<uint32_t>(z1), static_cast<uint32_t>(z2)};
  if (!Call(target->VolumeTexture->lockBox(static_cast<uint32_t>(level), lb, &box, gpu::D3DLOCK_NOSYSLOCK))) {
    {
      std::lock_guard<std::recursive_mutex> g(LockGuard);
      --LockCount;
    }
    _Release();
    return nullptr;
  }
  int32_t w = x2 - x1, rowsPerSlice = y2 - y1, slices = z2 - z1;
  imaging::TScanLines rows(static_cast<size_t>(std::max(0, slices * rowsPerSlice)));
  for (int32_t s = 0; s < slices; ++s)
    for (int32_t r = 0; r < rowsPerSlice; ++r)
      rows[static_cast<size_t>(s * rowsPerSlice + r)] =
          static_cast<uint8_t*>(lb.bits) + size_t(s) * lb.slicePitch + size_t(r) * lb.rowPitch;
  return new imaging::TRefBitmap({w, slices * rowsPerSlice}, imaging::PixelFormatByName(u"A8R8G8B8"), std::move(rows),
                                 lb.rowPitch, nullptr, false);
}

bool TVolumeTexture9::Unlock(int32_t level, imaging::TBitmap* bitmap) {
  Check(bitmap != nullptr);
  bool ok;
  {
    TDeviceLock lock;
    std::lock_guard<std::recursive_mutex> g(LockGuard);
    if (Pool == gpu::D3DPOOL_SYSTEMMEM) {
      ok = Call(VolumeTexture->unlockBox(static_cast<uint32_t>(level)));
    } else {
      Check(Staging != nullptr);
      ok = Call(Staging->VolumeTexture->unlockBox(static_cast<uint32_t>(level)));
      if (Store) Dirty = true;
    }
    --LockCount;
  }
  bitmap->Free();
  _Release();
  return ok;
}

// ---------------------------------------------------------------- vertex lists and shaders

void T3DVertexList9::Dispose() {
  {
    TDeviceLock lock;
    if (Store) EraseFrom(Store->VertexLists, this);
  }
  if (Buffer) Buffer->release();
  Buffer = nullptr;
  T3DVertexList::Dispose();
}

bool T3DVertexList9::SetFormat(int32_t startVertex, int32_t primitiveCount, TPrimitiveKind kind) {
  StartVertex = startVertex;
  PrimitiveCount = primitiveCount;
  Kind = kind;
  return true;
}

bool T3DVertexList9::SetVertices(int32_t destIndex, std::span<const T3DVertex> vertices, int32_t sourceIndex,
                                 int32_t count) {
  if (!Buffer) return false;
  if (count <= 0) return true;
  Check(sourceIndex >= 0 && static_cast<size_t>(sourceIndex) + static_cast<size_t>(count) <= vertices.size());
  void* p = nullptr;
  uint8_t lost;
  LastResult = CheckDxResult(Buffer->lock(static_cast<uint32_t>(destIndex * Stride),
                                          static_cast<uint32_t>(count * Stride), &p, 0),
                             lost);
  State = lost;
  if (LastResult != 0) return false;
  Check(p != nullptr);
  auto* out = static_cast<uint8_t*>(p);
  // Fixed-size copies only: the screen writes every vertex of its batch each
  // frame, so this loop is on the frame's path.
  const int32_t sets = TexSets > 0 && TexSets <= 8 ? TexSets : 0;
  const T3DVertex* src = vertices.data() + sourceIndex;
  for (int32_t i = 0; i < count; ++i, ++src, out += Stride) {
    std::memcpy(out, &src->X, 4);
    std::memcpy(out + 4, &src->Y, 4);
    std::memcpy(out + 8, &src->Z, 4);
    if (HasDiffuse) std::memcpy(out + DiffuseOffset, &src->Diffuse, 4);
    if (HasSpecular) std::memcpy(out + SpecularOffset, &src->Specular, 4);
    if (HasNormal) std::memcpy(out + NormalOffset, src->Normal, 12);
    uint8_t* tex = out + TexOffset;
    for (int32_t k = 0; k < sets; ++k) std::memcpy(tex + 8 * k, src->TexCoords[k], 8);
  }
  LastResult = CheckDxResult(Buffer->unlock(), lost);
  State = lost;
  return LastResult == 0;
}

void T3DShader9::Dispose() {
  {
    TDeviceLock lock;
    if (Store) EraseFrom(Store->Shaders, this);
  }
  if (PixelShader) PixelShader->release();
  if (VertexShader) VertexShader->release();
  PixelShader = VertexShader = nullptr;
  T3DShader::Dispose();
}

// ---------------------------------------------------------------- renderer

T3DRenderer9::T3DRenderer9(TDrawDevice* device, T3DEngine9* engine) : T3DRenderer(device), Engine(engine) {
  OwnSwapChain = ForceOwnSwapChain.load() || dynamic_cast<TWinOffscreenDevice*>(device) != nullptr;
}

void T3DRenderer9::ReleaseDeviceObjects() {
  if (BackBuffer) BackBuffer->Free();
  BackBuffer = nullptr;
  RenderTarget = nullptr;
  if (SwapChain) SwapChain->release();
  SwapChain = nullptr;
  if (QuadBuffer) QuadBuffer->release();
  QuadBuffer = nullptr;
}

void T3DRenderer9::Dispose() {
  {
    TDeviceLock lock;
    ReleaseDeviceObjects();
    if (PendingRequest) PendingRequest->Renderer = nullptr;
    PendingRequest = nullptr;
    if (Store) {
      EraseFrom(Store->Renderers, this);
      if (FullScreen) {
        TDrawDevice* target = Store->Target;
        auto* wrapper = target ? target->FindMessenger<TRectangleWrapper>() : nullptr;
        TRect r = wrapper ? wrapper->SavedRect : (target ? target->Bounds : TRect{});
        foundation::GetLog()->AddRect(u"Dispose FullScreen, R= ", r, u"");
        if (!OnMainThread()) {
          if (Store->Device) {
            auto rel = MakeRef<TReleaseData>();
            Store->Device->addRef();
            rel->Device = Store->Device;
            rel->Window = target ? target->Handle : 0;
            rel->Rect = r;
            Log(u"T3DRenderer9.Dispose: exclusive mode, not main thread");
            Store->DropDevice();
            PostRequest(g_requestId.load(), std::move(rel));
          }
        } else {
          Store->DropDevice();
          if (target) SetWndPosLocal(target->Handle, r, false);
        }
      }
      Store = nullptr;
    }
  }
  T3DRenderer::Dispose();
}

bool T3DRenderer9::Call(gpu::HRESULT hr) {
  uint8_t lost;
  const uint8_t result = CheckDxResult(hr, lost);
  LastResult = result;
  // A renderer still being filled in by the main thread stays pending on
  // success: InternalCreateRenderer makes it ready once it is complete, so a
  // thread that sees it ready sees every member set.
  if (lost != rsReady || State != rsCreationPending) State = lost;
  return result == 0;
}

template <class F>
bool T3DRenderer9::Frame(F&& body) {
  const auto keep = TRef<T3DRenderer9>::AddRef(this);  // a loss may make the screen drop this renderer
  TDeviceLock lock;
  bool ok = false;
  gpu::Device* dev = Store ? Store->Device : nullptr;
  if (!dev)
    State = rsLost;
  else
    ok = body(dev);
  CheckDeviceLost();
  return ok;
}

void T3DRenderer9::CheckDeviceLost() {
  if (State != rsLost || !Store) return;
  TDevStore* store = Store;
  if (store->Target) {
    if (auto* w = store->Target->FindMessenger<TRectangleWrapper>())
      w->WindowedOnce = (Engine && Engine->CheckDevice()) || !Exclusive;
    store->Target->RemoveMessenger(store);
  }
  Log(u"T3DRenderer9: DEVICE LOST!");
  ReleaseDeviceObjects();
  store->Free();
}

void T3DRenderer9::SetBounds() {
  if (!Device) return;
  if (auto* panel = Device->FindMessenger<TWinPanel>()) {
    foundation::GetLog()->AddRect(u"Set DxPanel bounds: ", Device->Bounds, u"");
    panel->SetBoundsRect(Device->Bounds);
  }
}

bool T3DRenderer9::BeginScene() {
  return Frame([&](gpu::Device* dev) {
    if (Store->Target && ExclusiveAllowed.load()) {
      if (FullScreen && !Active) {
        Active = true;
        TDevStore* store = Store;
        store->Target->RemoveMessenger(store);
        ReleaseDeviceObjects();
        store->Free();
        return false;
      }
      Active = Store->Target->IsAvailable();
    }
    Check(!OwnSwapChain || SwapChain != nullptr);
    if (!Call(dev->beginScene())) return false;
    if (RenderTarget) Call(dev->setRenderTarget(0, RenderTarget->Surface));
    return ResetRenderStates() && LastResult == 0;
  });
}

bool T3DRenderer9::ResetRenderStates() {
  return Frame([&](gpu::Device* dev) {
    if (!Call(dev->setFVF(gpu::D3DFVF_XYZ | gpu::D3DFVF_DIFFUSE))) return false;
    if (!Call(dev->setStreamSource(0, QuadBuffer, 0, 16))) return false;
    const std::pair<uint32_t, uint32_t> states[] = {
        {gpu::D3DRS_LIGHTING, 0},
        {gpu::D3DRS_SHADEMODE, gpu::D3DSHADE_GOURAUD},
        {gpu::D3DRS_FILLMODE, gpu::D3DFILL_SOLID},
        {gpu::D3DRS_ALPHABLENDENABLE, 1},
        {gpu::D3DRS_SRCBLEND, gpu::D3DBLEND_SRCALPHA},
        {gpu::D3DRS_DESTBLEND, gpu::D3DBLEND_INVSRCALPHA},
        {gpu::D3DRS_SEPARATEALPHABLENDENABLE, 0},
        {gpu::D3DRS_BLENDOP, gpu::D3DBLENDOP_ADD},
    };
    for (auto [s, v] : states)
      if (!Call(dev->setRenderState(s, v))) return false;
    return Call(dev->drawPrimitive(gpu::D3DPT_TRIANGLESTRIP, 0, 2));
  });
}

bool T3DRenderer9::EndScene() {
  return Frame([&](gpu::Device* dev) { return Call(dev->endScene()); });
}

bool T3DRenderer9::Present(const TRect* sourceRect, const TRect* destRect) {
  const auto keep = TRef<T3DRenderer9>::AddRef(this);
  if (OwnSwapChain && !SwapChain) return false;
  gpu::SwapChain* chain = nullptr;
  gpu::Device* dev = nullptr;
  gpu::Rect src, dst;
  const gpu::Rect* ps = nullptr;
  const gpu::Rect* pd = nullptr;
  {
    TDeviceLock lock;
    if (SwapChain) {
      chain = SwapChain;
      chain->addRef();
    } else if (Store && Store->Device) {
      dev = Store->Device;
      dev->addRef();
    } else {
      State = rsLost;
      CheckDeviceLost();
      return false;
    }
    if (!Exclusive) {
      if (sourceRect) {
        src = ToRect(*sourceRect);
        ps = &src;
      }
      if (destRect) {
        dst = ToRect(*destRect);
        // The panel is a virtual child of the target's window: its origin
        // is where the picture lands.
        if (Device)
          if (auto* panel = Device->FindMessenger<TWinPanel>()) {
            dst.left += panel->BoundsRect.Left;
            dst.right += panel->BoundsRect.Left;
            dst.top += panel->BoundsRect.Top;
            dst.bottom += panel->BoundsRect.Top;
          }
        pd = &dst;
      }
    }
  }
  uintptr_t window = Device ? Device->Handle : 0;
  gpu::HRESULT hr = chain ? chain->present(ps, pd, window, nullptr, 0) : dev->presentEx(ps, pd, window, nullptr, 0);
  if (chain) chain->release();
  if (dev) dev->release();
  TDeviceLock lock;
  bool ok = Call(hr);
  CheckDeviceLost();
  return ok;
}

bool T3DRenderer9::Clear(std::span<const TRect> rects, int32_t count, uint32_t color, float z, uint8_t flags) {
  return Frame([&](gpu::Device* dev) {
    std::vector<gpu::Rect> r;
    for (int32_t i = 0; i < count && static_cast<size_t>(i) < rects.size(); ++i) r.push_back(ToRect(rects[i]));
    uint32_t f = (flags & 1) ? uint32_t(gpu::D3DCLEAR_TARGET) : 0u;  // no depth surface is ever attached
    return Call(dev->clear(static_cast<uint32_t>(r.size()), r.empty() ? nullptr : r.data(), f, color, z, 0));
  });
}

bool T3DRenderer9::SetRenderTarget(T3DSurface* surface) {
  return Frame([&](gpu::Device* dev) {
    if (!surface) return Call(dev->setRenderTarget(0, nullptr));
    auto* s = dynamic_cast<T3DSurface9*>(surface);
    Check(s != nullptr);
    if (!Call(dev->setRenderTarget(0, s->Surface))) return false;
    RenderTarget = s;
    return true;
  });
}

bool T3DRenderer9::GetBackBuffer(T3DSurface*& surface) {
  TDeviceLock lock;
  surface = nullptr;
  if (OwnSwapChain && !SwapChain) return false;
  if (BackBuffer) {
    surface = BackBuffer;
    return true;
  }
  if (!Store || !Store->Device) return false;
  auto s = MakeRef<T3DSurfaceRT>();
  s->Level = 0;
  s->Store = Store;
  gpu::HRESULT hr = SwapChain ? SwapChain->getBackBuffer(0, gpu::D3DBACKBUFFER_TYPE_MONO, &s->Surface)
                              : Store->Device->getBackBuffer(0, 0, gpu::D3DBACKBUFFER_TYPE_MONO, &s->Surface);
  if (!Call(hr)) {
    s->Surface = nullptr;
    return false;
  }
  surface = s.Detach();
  return true;
}

bool T3DRenderer9::SetViewport(const TRect& rect, float minZ, float maxZ) {
  return Frame([&](gpu::Device* dev) {
    gpu::Viewport vp{static_cast<uint32_t>(rect.Left), static_cast<uint32_t>(rect.Top),
                     static_cast<uint32_t>(rect.Right - rect.Left), static_cast<uint32_t>(rect.Bottom - rect.Top),
                     minZ, maxZ};
    return Call(dev->setViewport(vp));
  });
}

bool T3DRenderer9::SetTexture(int32_t stage, TBaseTexture* texture) {
  return Frame([&](gpu::Device* dev) {
    uint32_t st = static_cast<uint32_t>(stage);
    if (auto* v = dynamic_cast<TVolumeTexture9*>(texture)) {
      {
        std::lock_guard<std::recursive_mutex> g(v->LockGuard);
        if (v->Dirty && v->LockCount == 0) {
          Check(v->Staging != nullptr);
          Call(dev->updateTexture(v->Staging->VolumeTexture, v->VolumeTexture));
          v->Dirty = false;
        }
      }
      if (!Call(dev->setTexture(st, v->VolumeTexture))) return false;
      const std::pair<uint32_t, uint32_t> states[] = {{gpu::D3DSAMP_MINFILTER, gpu::D3DTEXF_LINEAR},
                                                      {gpu::D3DSAMP_MAGFILTER, gpu::D3DTEXF_LINEAR},
                                                      {gpu::D3DSAMP_ADDRESSU, gpu::D3DTADDRESS_CLAMP},
                                                      {gpu::D3DSAMP_ADDRESSV, gpu::D3DTADDRESS_CLAMP},
                                                      {gpu::D3DSAMP_ADDRESSW, gpu::D3DTADDRESS_CLAMP}};
      for (auto [s, val] : states)
        if (!Call(dev->setSamplerState(st, s, val))) return false;
      return true;
    }
    if (auto* t = dynamic_cast<T3DTexture9*>(texture)) {
      t->Update();  // uploads only a dirty texture whose writers are done
      if (!Call(dev->setTexture(st, t->Texture))) return false;
      const std::pair<uint32_t, uint32_t> states[] = {{gpu::D3DSAMP_MINFILTER, gpu::D3DTEXF_LINEAR},
                                                      {gpu::D3DSAMP_MAGFILTER, gpu::D3DTEXF_LINEAR},
                                                      {gpu::D3DSAMP_ADDRESSU, gpu::D3DTADDRESS_CLAMP},
                                                      {gpu::D3DSAMP_ADDRESSV, gpu::D3DTADDRESS_CLAMP}};
      for (auto [s, val] : states)
        if (!Call(dev->setSamplerState(st, s, val))) return false;
      return true;
    }
    return Call(dev->setTexture(st, nullptr));
  });
}

bool T3DRenderer9::DrawVertexList(std::span<TBaseTexture* const> textures, int32_t count, T3DVertexList* list,
                                  TDrawFlags flags) {
  Check(static_cast<size_t>(count) == textures.size());
  auto* vl = dynamic_cast<T3DVertexList9*>(list);
  Check(vl != nullptr);
  return Frame([&](gpu::Device* dev) {
    if (!Call(dev->setFVF(vl->FVF))) return false;
    if (!Call(dev->setStreamSource(0, vl->Buffer, 0, static_cast<uint32_t>(vl->Stride)))) return false;
    bool premul = false;
    if (flags & dfTextures) {
      for (int32_t i = 0; i < count; ++i) {
        auto* t = dynamic_cast<T3DTexture9*>(textures[static_cast<size_t>(i)]);
        if (!t) continue;
        uint32_t st = static_cast<uint32_t>(i);
        t->Update();  // uploads only a dirty texture whose writers are done
        if (!Call(dev->setTexture(st, t->Texture))) return false;
        premul = premul || t->Premultiplied;
        std::vector<std::pair<uint32_t, uint32_t>> samp;
        auto address = [](uint8_t a) -> int64_t {
          switch (a) {
            case 0: return gpu::D3DTADDRESS_WRAP;
            case 1: return gpu::D3DTADDRESS_CLAMP;
            case 2: return gpu::D3DTADDRESS_MIRROR;
            default: return -1;
          }
        };
        if (address(t->AddressU) >= 0) samp.push_back({gpu::D3DSAMP_ADDRESSU, uint32_t(address(t->AddressU))});
        if (address(t->AddressV) >= 0) samp.push_back({gpu::D3DSAMP_ADDRESSV, uint32_t(address(t->AddressV))});
        if (t->Filter == 0) {
          samp.push_back({gpu::D3DSAMP_MINFILTER, gpu::D3DTEXF_POINT});
          samp.push_back({gpu::D3DSAMP_MAGFILTER, gpu::D3DTEXF_POINT});
        } else if (t->Filter == 1) {
          samp.push_back({gpu::D3DSAMP_MINFILTER, gpu::D3DTEXF_LINEAR});
          samp.push_back({gpu::D3DSAMP_MAGFILTER, gpu::D3DTEXF_LINEAR});
        }
        if (Store->Anisotropy && t->MipFilter != 0 && t->Filter == 1) {
          samp.push_back({gpu::D3DSAMP_MAXANISOTROPY, static_cast<uint32_t>(MaxAnisotropy)});
          samp.push_back({gpu::D3DSAMP_MIPFILTER, gpu::D3DTEXF_LINEAR});
          samp.push_back({gpu::D3DSAMP_MINFILTER, gpu::D3DTEXF_ANISOTROPIC});
          if (SupportsLodBias) {
            uint32_t bits;
            std::memcpy(&bits, &t->LodBias, 4);
            samp.push_back({gpu::D3DSAMP_MIPMAPLODBIAS, bits});
          }
        } else {
          samp.push_back({gpu::D3DSAMP_MIPFILTER, gpu::D3DTEXF_NONE});
        }
        for (auto [s, v] : samp)
          if (!Call(dev->setSamplerState(st, s, v))) return false;
        std::vector<std::pair<uint32_t, uint32_t>> tss;
        if (flags & dfModulateColor) {
          tss = {{gpu::D3DTSS_COLOROP, gpu::D3DTOP_MODULATE},
                 {gpu::D3DTSS_COLORARG1, gpu::D3DTA_TEXTURE},
                 {gpu::D3DTSS_COLORARG2, gpu::D3DTA_CURRENT}};
        } else {
          tss = {{gpu::D3DTSS_COLOROP, gpu::D3DTOP_SELECTARG1}, {gpu::D3DTSS_COLORARG1, gpu::D3DTA_TEXTURE}};
        }
        if (flags & dfModulateAlpha) {
          bool keepVertexAlpha = t->Kind == tkTargetXrgb || (t->Kind == tkTargetArgb && !t->Premultiplied);
          tss.push_back({gpu::D3DTSS_ALPHAOP, keepVertexAlpha ? gpu::D3DTOP_SELECTARG2 : gpu::D3DTOP_MODULATE});
          tss.push_back({gpu::D3DTSS_ALPHAARG1, gpu::D3DTA_TEXTURE});
          tss.push_back({gpu::D3DTSS_ALPHAARG2, gpu::D3DTA_CURRENT});
        } else {
          tss.push_back({gpu::D3DTSS_ALPHAOP, gpu::D3DTOP_SELECTARG1});
          tss.push_back({gpu::D3DTSS_ALPHAARG1, gpu::D3DTA_TEXTURE});
        }
        for (auto [s, v] : tss)
          if (!Call(dev->setTextureStageState(st, s, v))) return false;
      }
    }
    if (!Call(dev->setRenderState(gpu::D3DRS_LIGHTING, (flags & dfLighting) ? 1 : 0))) return false;
    if (flags & dfModulateColor) {
      if (!Call(dev->setRenderState(gpu::D3DRS_SHADEMODE, gpu::D3DSHADE_GOURAUD))) return false;
      if (!Call(dev->setRenderState(gpu::D3DRS_FILLMODE, gpu::D3DFILL_SOLID))) return false;
    }
    // The blend states are judged together once all are set.
    std::vector<std::pair<uint32_t, uint32_t>> blend = {{gpu::D3DRS_ALPHABLENDENABLE, 1},
                                                        {gpu::D3DRS_SRCBLEND, gpu::D3DBLEND_SRCALPHA},
                                                        {gpu::D3DRS_DESTBLEND, gpu::D3DBLEND_INVSRCALPHA},
                                                        {gpu::D3DRS_SEPARATEALPHABLENDENABLE, 0},
                                                        {gpu::D3DRS_BLENDOP, gpu::D3DBLENDOP_ADD}};
    auto separate = [&] {
      blend.push_back({gpu::D3DRS_SEPARATEALPHABLENDENABLE, 1});
      blend.push_back({gpu::D3DRS_SRCBLENDALPHA, gpu::D3DBLEND_ONE});
      blend.push_back({gpu::D3DRS_DESTBLENDALPHA, gpu::D3DBLEND_INVSRCALPHA});
      blend.push_back({gpu::D3DRS_BLENDOPALPHA, gpu::D3DBLENDOP_ADD});
    };
    switch (BlendMode) {
      case bmMax: blend.push_back({gpu::D3DRS_BLENDOP, gpu::D3DBLENDOP_MAX}); break;
      case bmSeparateAlpha: separate(); break;
      case bmNormal:
        if (premul)
          blend.push_back({gpu::D3DRS_SRCBLEND, gpu::D3DBLEND_ONE});
        else if (RenderTarget && RenderTarget->Texture && RenderTarget->Texture->Premultiplied)
          separate();
        break;
    }
    gpu::HRESULT first = gpu::S_OK;
    for (auto [s, v] : blend) {
      gpu::HRESULT hr = dev->setRenderState(s, v);
      if (first == gpu::S_OK) first = hr;
    }
    if (!Call(first)) return false;
    if (!Call(dev->setRenderState(gpu::D3DRS_ZENABLE, 0))) return false;
    uint32_t type;
    switch (vl->Kind) {
      case pkPointList: type = gpu::D3DPT_POINTLIST; break;
      case pkLineList: type = gpu::D3DPT_LINELIST; break;
      case pkLineStrip: type = gpu::D3DPT_LINESTRIP; break;
      case pkTriangleList: type = gpu::D3DPT_TRIANGLELIST; break;
      case pkTriangleStrip: type = gpu::D3DPT_TRIANGLESTRIP; break;
      case pkTriangleFan: type = gpu::D3DPT_TRIANGLEFAN; break;
      default: Fail();
    }
    bool ok = Call(dev->drawPrimitive(type, static_cast<uint32_t>(vl->StartVertex),
                                      static_cast<uint32_t>(vl->PrimitiveCount)));
    if (flags & dfTextures)
      for (int32_t i = 0; i < count; ++i) dev->setTexture(static_cast<uint32_t>(i), nullptr);
    return ok;
  });
}

T3DTexture* T3DRenderer9::CreateTexture(TTextureKind kind, int32_t width, int32_t height, bool mipmaps) {
  // Creation runs in the operation frame, so an out-of-memory or lost
  // answer reaches LastResult and State, and a loss releases the store.
  T3DTexture9* result = nullptr;
  Frame([&](gpu::Device*) {
    gpu::HRESULT hr = gpu::S_OK;
    result = Store->CreateTexture9(kind, width, height, mipmaps, false, &hr);
    return Call(hr);
  });
  return result;
}

TVolumeTexture* T3DRenderer9::CreateVolumeTexture(int32_t width, int32_t height, int32_t depth) {
  TVolumeTexture9* result = nullptr;
  Frame([&](gpu::Device*) {
    gpu::HRESULT hr = gpu::S_OK;
    result = Store->CreateVolumeTexture9(width, height, depth, false, &hr);
    return Call(hr);
  });
  return result;
}

T3DVertexList* T3DRenderer9::CreateVertexList(int32_t vertexCount, TVertexComponents components,
                                              int32_t texCoordSets) {
  T3DVertexList9* result = nullptr;
  Frame([&](gpu::Device* dev) {
    auto vl = MakeRef<T3DVertexList9>();
    uint32_t fvf = gpu::D3DFVF_XYZ;
    int32_t stride = 12;
    if (components & vcNormal) {
      vl->HasNormal = true;
      vl->NormalOffset = stride;
      fvf |= gpu::D3DFVF_NORMAL;
      stride += 12;
    }
    if (components & vcDiffuse) {
      vl->HasDiffuse = true;
      vl->DiffuseOffset = stride;
      fvf |= gpu::D3DFVF_DIFFUSE;
      stride += 4;
    }
    if (components & vcSpecular) {
      vl->HasSpecular = true;
      vl->SpecularOffset = stride;
      fvf |= gpu::D3DFVF_SPECULAR;
      stride += 4;
    }
    vl->TexOffset = stride;
    if (texCoordSets >= 1 && texCoordSets <= 8) {
      fvf |= static_cast<uint32_t>(texCoordSets) << gpu::D3DFVF_TEXCOUNT_SHIFT;
      stride += 8 * texCoordSets;
    }
    vl->TexSets = texCoordSets;
    vl->FVF = fvf;
    vl->Stride = stride;
    if (!Call(dev->createVertexBuffer(static_cast<uint32_t>(std::max(0, vertexCount) * stride), 0, fvf,
                                      gpu::D3DPOOL_DEFAULT, &vl->Buffer))) {
      vl->Buffer = nullptr;
      return false;
    }
    Store->VertexLists.push_back(vl.Get());
    vl->Store = Store;
    result = vl.Detach();
    return true;
  });
  return result;
}

bool T3DRenderer9::CopySurface(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                               std::span<const TRect> destRects, int32_t count) {
  auto* s = dynamic_cast<T3DSurface9*>(source);
  auto* d = dynamic_cast<T3DSurface9*>(dest);
  Check(s != nullptr && d != nullptr);
  return Frame([&](gpu::Device* dev) {
    bool ok = true;
    for (int32_t i = 0; i < count && ok; ++i) {
      gpu::Rect sr = ToRect(sourceRects[static_cast<size_t>(i)]), dr = ToRect(destRects[static_cast<size_t>(i)]);
      ok = Call(dev->stretchRect(s->Surface, &sr, d->Surface, &dr, gpu::D3DTEXF_NONE));
    }
    return ok;
  });
}

bool T3DRenderer9::SetTransform(uint8_t index, const float* matrix) {
  uint32_t which;
  switch (index) {
    case 0: which = gpu::D3DTS_WORLD; break;
    case 1: which = gpu::D3DTS_VIEW; break;
    case 2: which = gpu::D3DTS_PROJECTION; break;
    default: Fail();
  }
  return Frame([&](gpu::Device* dev) {
    gpu::Matrix m;
    std::memcpy(m.m, matrix, sizeof m.m);
    return Call(dev->setTransform(which, m));
  });
}

bool T3DRenderer9::SetDoubleSided(bool value) {
  return Frame([&](gpu::Device* dev) {
    return Call(dev->setRenderState(gpu::D3DRS_CULLMODE, value ? gpu::D3DCULL_NONE : gpu::D3DCULL_CCW));
  });
}

T3DShader* T3DRenderer9::CreateShader(const std::string& code, bool vertex) {
  T3DShader9* result = nullptr;
  Frame([&](gpu::Device* dev) {
    if (code.size() < 4) return Call(gpu::D3DERR_INVALIDCALL);
    uint32_t length;
    std::memcpy(&length, code.data(), 4);
    length = std::min<uint32_t>(length, static_cast<uint32_t>(code.size() - 4));
    auto sh = MakeRef<T3DShader9>();
    gpu::HRESULT hr = vertex ? dev->createVertexShader(code.data() + 4, length, &sh->VertexShader)
                             : dev->createPixelShader(code.data() + 4, length, &sh->PixelShader);
    if (!Call(hr)) {
      sh->PixelShader = sh->VertexShader = nullptr;
      return false;
    }
    Store->Shaders.push_back(sh.Get());
    sh->Store = Store;
    result = sh.Detach();
    return true;
  });
  return result;
}

bool T3DRenderer9::SetShader(T3DShader* shader) {
  return Frame([&](gpu::Device* dev) {
    auto* s = dynamic_cast<T3DShader9*>(shader);
    if (s && s->PixelShader) return Call(dev->setPixelShader(s->PixelShader));
    if (s && s->VertexShader) return Call(dev->setVertexShader(s->VertexShader));
    if (!Call(dev->setVertexShader(nullptr))) return false;
    return Call(dev->setPixelShader(nullptr));
  });
}

bool T3DRenderer9::SetShaderConstants(int32_t reg, std::span<const float> data, int32_t count, bool vertex) {
  Check(count >= 0 && data.size() >= static_cast<size_t>(count) * 4);
  return Frame([&](gpu::Device* dev) {
    return Call(vertex ? dev->setVertexShaderConstantF(static_cast<uint32_t>(reg), data.data(),
                                                       static_cast<uint32_t>(count))
                       : dev->setPixelShaderConstantF(static_cast<uint32_t>(reg), data.data(),
                                                      static_cast<uint32_t>(count)));
  });
}

}  // namespace render3d
