// The Direct3D implementation of the 3D layer over the platform's graphics
// device: the engine and its adapters, device creation, loss and recovery,
// the per-frame renderer, textures and staging copies, vertex lists and
// shaders, the device store, main-thread requests and the presentation panel.
//
// Start-up: InitDXDev3D() installs the engine factory and the hardware test;
// SetRequestEventList() names the application's posting list, through which
// device creation and full-screen release are handed to the main thread.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "foundation/kvEventList.h"
#include "platform/gpu/api.h"
#include "render3d/Dev3DCore.h"

namespace render3d {

namespace gpu = platform::gpu;

// ---- process-wide settings and unit start ----

// 0 default, 1 immediate, 2 one vertical blank; copied by each new engine.
extern std::atomic<uint8_t> PresentIntervalMode;
extern std::atomic<bool> ExclusiveAllowed;
extern std::atomic<bool> ForceOwnSwapChain;

void InitDXDev3D();
void DoneDXDev3D();

// The application's posting list (bound to the main thread). Until it is
// set, work that must run on the main thread and is asked for elsewhere
// cannot be delivered.
void SetRequestEventList(foundation::TPostEventListEx* list);
foundation::TPostEventListEx* GetRequestEventList();

// The window layer's hooks: whether the session is locked, placing a window
// (SetWindowPlacement with SW_SHOW or SW_SHOWNOACTIVATE), and sending a
// message to a window (for the presentation panel's forwarding).
using TSessionLockedHook = bool (*)();
void SetSessionLockedHook(TSessionLockedHook hook);
using TWindowPlacementHook = std::function<bool(uintptr_t window, const TRect& rect, bool show)>;
void SetWindowPlacementHook(TWindowPlacementHook hook);
using TSendMessageHook = std::function<intptr_t(uintptr_t window, uint32_t message, uintptr_t wParam, intptr_t lParam)>;
void SetSendMessageHook(TSendMessageHook hook);
// The client origin of a window in screen coordinates (ClientToScreen of 0,0).
using TClientOriginHook = std::function<TPoint(uintptr_t window)>;
void SetClientOriginHook(TClientOriginHook hook);

// The re-entrant device lock around every device call.
void EnterDeviceLock();
void LeaveDeviceLock();
class TDeviceLock {
 public:
  TDeviceLock() { EnterDeviceLock(); }
  ~TDeviceLock() { LeaveDeviceLock(); }
  TDeviceLock(const TDeviceLock&) = delete;
  TDeviceLock& operator=(const TDeviceLock&) = delete;
};

// Every device result passes through here: the result class, and Lost = 2
// for a lost device. Failures write one "Dx Error = " log line.
uint8_t CheckDxResult(gpu::HRESULT code, uint8_t& lost);
bool DXIsHardwareAccelerated();
T3DEngine* CreateDXEngine();
// Desktop composition is reported on (the Linux desktop always composes).
bool IsDwmCompositionEnabled();
bool SetWndPosLocal(uintptr_t window, const TRect& rect, bool show);

class TDevStore;
class T3DRenderer9;
class T3DTexture9;

struct TCapsWrapper {
  gpu::Caps Caps;
  gpu::AdapterIdentifier Identifier;
  uint32_t Adapter = 0;
};

class T3DEngine9 : public T3DEngine {
 public:
  QEL_CLASSNAME(T3DEngine9)
  explicit T3DEngine9(gpu::Direct3D* d3d);
  void Dispose() override;

  TRendererDevice* CreateOffscreenDevice(int32_t width, int32_t height) override;
  uint32_t AdapterFromRect(const TRect& rect) override;
  uint32_t GetCapsValue(const std::u16string& name, uint32_t adapter) override;
  std::u16string GetCapsText(const std::u16string& name, uint32_t adapter) override;
  bool GetDisplayMode(TDisplayMode& mode, uint32_t adapter) override;
  T3DRenderer* CreateRenderer(TDrawDevice* device, const TRendererParams& params) override;
  bool CheckDevice() override;
  uint8_t GetShaderLevel(uint32_t adapter) override;

  // Creates or resets the device for the renderer (main thread); clears the
  // renderer on failure.
  void InternalCreateRenderer(TDrawDevice* device, const TRendererParams& params, T3DRenderer9*& renderer);
  void HandleRequest(TRefObject* sender, uint32_t id, TRefObject* data);
  void CreateProbeDevice();

  gpu::Direct3D* D3D = nullptr;
  std::vector<TCapsWrapper*> CapsCache;
  gpu::Device* ProbeDevice = nullptr;
  gpu::PresentParameters ProbeParams;
  uint32_t ResetProbeEvent = 0, InitProbeEvent = 0;
  bool WideTargets = false;
  uint8_t IntervalMode = 0;

  // Stores the result of a device call made by the engine.
  bool Call(gpu::HRESULT hr);

 private:
  TCapsWrapper* GetCaps(uint32_t adapter);
  foundation::TPostEventListEx* FEvents = nullptr;
};

class TWinOffscreenDevice : public TRendererDevice {
 public:
  QEL_CLASSNAME(TWinOffscreenDevice)
  TWinOffscreenDevice() : TRendererDevice(0) {}
  void SetSize(int32_t width, int32_t height) override;
};

// One per target, in its Messengers.
class TRectangleWrapper : public TRefObject {
 public:
  QEL_CLASSNAME(TRectangleWrapper)
  TRect SavedRect;
  bool WindowedOnce = false;
};

// The child window a windowed device presents into; on our window layer a
// virtual child whose rectangle is where the back buffer lands.
class TWinPanel : public TRefObject {
 public:
  QEL_CLASSNAME(TWinPanel)
  explicit TWinPanel(TDrawDevice* target);
  TDrawDevice* Target = nullptr;
  uintptr_t ParentWindow = 0;
  bool Unpainted = true;
  TRect BoundsRect;
  bool Visible = false;
  void SetBoundsRect(const TRect& rect) { BoundsRect = rect; }
  // The panel's message handling: paint, erase, cursor and mouse forwarding.
  intptr_t WndProc(uint32_t message, uintptr_t wParam, intptr_t lParam);
};

class T3DSurface9 : public T3DSurface {
 public:
  QEL_CLASSNAME(T3DSurface9)
  void Dispose() override;
  bool CopyTo(imaging::TBitmap* bitmap) override;
  void GetSize(int32_t& width, int32_t& height) override;
  imaging::TPixelFormat* GetPixelFormat() override;
  imaging::TBitmap* Lock(const TRect& rect, bool readOnly) override;
  bool Unlock(imaging::TBitmap*& bitmap) override;

  int32_t Level = 0;
  gpu::Surface* Surface = nullptr;
  TDevStore* Store = nullptr;
  T3DTexture9* Texture = nullptr;  // the owner, or null

  bool Call(gpu::HRESULT hr);

 protected:
  bool CopyFrom(T3DSurface9* source, imaging::TBitmap* bitmap);
};

class T3DSurfaceRT : public T3DSurface9 {
 public:
  QEL_CLASSNAME(T3DSurfaceRT)
  bool CopyTo(imaging::TBitmap* bitmap) override;
};

class T3DTexture9 : public T3DTexture {
 public:
  QEL_CLASSNAME(T3DTexture9)
  void Dispose() override;
  int32_t GetLevelCount() override;
  T3DSurface* GetSurface(int32_t level) override;
  void Update() override;
  void SetAddressMode(uint8_t u, uint8_t v) override {
    AddressU = u;
    AddressV = v;
  }
  void GetAddressMode(uint8_t& u, uint8_t& v) override {
    u = AddressU;
    v = AddressV;
  }
  void SetFilter(uint8_t filter) override { Filter = filter; }
  void GetFilter(uint8_t& filter) override { filter = Filter; }
  void SetMipFilter(uint8_t value) override { MipFilter = value; }
  void SetMipLodBias(float bias) override { LodBias = bias; }

  gpu::Texture* Texture = nullptr;
  uint8_t AddressU = 0, AddressV = 0, Filter = 0, MipFilter = 0;
  float LodBias = 0;
  std::map<int32_t, T3DSurface9*> Surfaces;
  TDevStore* Store = nullptr;
  bool Mipmaps = false;
  int32_t Width = 0, Height = 0;
  uint32_t Pool = 0;
  T3DTexture9* Staging = nullptr;
  bool Dirty = false;
  T3DTexture9* NextFree = nullptr;

  // Level locks handed out and not yet unlocked; while any is out the
  // staging copy stays with the texture (guarded by LockGuard).
  int32_t LockCount = 0;
  std::recursive_mutex LockGuard;

  bool Call(gpu::HRESULT hr);
};

class TVolumeTexture9 : public TVolumeTexture {
 public:
  QEL_CLASSNAME(TVolumeTexture9)
  void Dispose() override;
  int32_t GetLevelCount() override;
  imaging::TBitmap* Lock(int32_t level, int32_t x1, int32_t y1, int32_t z1, int32_t x2, int32_t y2,
                         int32_t z2) override;
  bool Unlock(int32_t level, imaging::TBitmap* bitmap) override;

  gpu::VolumeTexture* VolumeTexture = nullptr;
  TDevStore* Store = nullptr;
  int32_t Width = 0, Height = 0, Depth = 0;
  uint32_t Pool = 0;
  TVolumeTexture9* Staging = nullptr;
  bool Dirty = false;
  // Level locks handed out and not yet unlocked, and the staging copy while
  // any is out (guarded by LockGuard).
  int32_t LockCount = 0;
  std::recursive_mutex LockGuard;

  bool Call(gpu::HRESULT hr);
};

class T3DVertexList9 : public T3DVertexList {
 public:
  QEL_CLASSNAME(T3DVertexList9)
  void Dispose() override;
  bool SetFormat(int32_t startVertex, int32_t primitiveCount, TPrimitiveKind kind) override;
  bool SetVertices(int32_t destIndex, std::span<const T3DVertex> vertices, int32_t sourceIndex, int32_t count) override;

  gpu::VertexBuffer* Buffer = nullptr;
  TPrimitiveKind Kind = pkTriangleList;
  int32_t StartVertex = 0, PrimitiveCount = 0;
  uint32_t FVF = 0;
  int32_t Stride = 0;
  int32_t NormalOffset = 0, DiffuseOffset = 0, SpecularOffset = 0, TexOffset = 0;
  int32_t TexSets = 0;
  bool HasDiffuse = false, HasSpecular = false, HasNormal = false;
  TDevStore* Store = nullptr;
};

class T3DShader9 : public T3DShader {
 public:
  QEL_CLASSNAME(T3DShader9)
  void Dispose() override;
  TDevStore* Store = nullptr;
  gpu::Shader* PixelShader = nullptr;
  gpu::Shader* VertexShader = nullptr;
};

// The process-wide key table of staging textures: (kind, width, height,
// mipmaps) -> key.
class TTexPool {
 public:
  int32_t FindOrAdd(uint8_t kind, int32_t width, int32_t height, bool mipmaps);
  int32_t Room() const { return static_cast<int32_t>(Items.size()); }
  void Clear();
  struct TTexPoolItem {
    int32_t Next = 0;
    uint8_t Kind = 0;
    int32_t Width = 0, Height = 0;
    uint8_t Mipmaps = 0;
  };
  int32_t Count = 0;
  std::vector<TTexPoolItem> Items;
  std::vector<int32_t> Buckets;
};
TTexPool& TexturePool();

class TDevStore : public TRefObject {
 public:
  QEL_CLASSNAME(TDevStore)
  TDevStore(T3DEngine9* engine, TDrawDevice* target);
  void Dispose() override;

  // hr (when given) receives the device's answer of the creation.
  T3DTexture9* CreateTexture9(TTextureKind kind, int32_t width, int32_t height, bool mipmaps, bool systemMemory,
                              gpu::HRESULT* hr = nullptr);
  TVolumeTexture9* CreateVolumeTexture9(int32_t width, int32_t height, int32_t depth, bool systemMemory,
                                        gpu::HRESULT* hr = nullptr);
  T3DTexture9* AcquireStaging(TTextureKind kind, int32_t width, int32_t height, bool mipmaps);
  void ReleaseStaging(T3DTexture9*& texture);
  bool ReadRenderTarget(T3DSurface9* source, T3DSurface9*& copy);
  // Drops the store's own device reference.
  void DropDevice();

  TDrawDevice* Target = nullptr;
  T3DEngine9* Engine = nullptr;
  bool Anisotropy = false;
  std::vector<T3DTexture9*> StagingHeads;
  std::mutex PoolLock;  // guards StagingHeads, the free lists of staging textures
  gpu::Device* Device = nullptr;
  std::vector<T3DRenderer9*> Renderers;
  std::vector<TBaseTexture*> Textures;
  std::vector<T3DVertexList9*> VertexLists;
  std::vector<T3DShader9*> Shaders;
};

class TInitData : public TRefObject {
 public:
  QEL_CLASSNAME(TInitData)
  TDrawDevice* Target = nullptr;
  T3DRenderer9* Renderer = nullptr;  // cleared when the renderer goes first
  TRendererParams Params;
};

class TReleaseData : public TRefObject {
 public:
  QEL_CLASSNAME(TReleaseData)
  void Dispose() override;
  gpu::Device* Device = nullptr;  // one reference
  uintptr_t Window = 0;
  TRect Rect;
};

class T3DRenderer9 : public T3DRenderer {
 public:
  QEL_CLASSNAME(T3DRenderer9)
  T3DRenderer9(TDrawDevice* device, T3DEngine9* engine);
  void Dispose() override;

  bool IsFlipEx() override { return false; }
  void SetBounds() override;
  bool BeginScene() override;
  bool EndScene() override;
  bool Present(const TRect* sourceRect, const TRect* destRect) override;
  bool Clear(std::span<const TRect> rects, int32_t count, uint32_t color, float z, uint8_t flags) override;
  bool ResetRenderStates() override;
  bool SetRenderTarget(T3DSurface* surface) override;
  T3DSurface* GetRenderTarget() override { return RenderTarget; }
  bool GetBackBuffer(T3DSurface*& surface) override;
  bool SetViewport(const TRect& rect, float minZ, float maxZ) override;
  bool DrawVertexList(std::span<TBaseTexture* const> textures, int32_t count, T3DVertexList* list,
                      TDrawFlags flags) override;
  bool SetTexture(int32_t stage, TBaseTexture* texture) override;
  T3DTexture* CreateTexture(TTextureKind kind, int32_t width, int32_t height, bool mipmaps) override;
  TVolumeTexture* CreateVolumeTexture(int32_t width, int32_t height, int32_t depth) override;
  T3DVertexList* CreateVertexList(int32_t vertexCount, TVertexComponents components, int32_t texCoordSets) override;
  bool CopySurface(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                   std::span<const TRect> destRects, int32_t count) override;
  bool SetBlendMode(TBlendMode mode) override {
    BlendMode = mode;
    return true;
  }
  bool SetTransform(uint8_t index, const float* matrix) override;
  bool SetDoubleSided(bool value) override;
  TFloatPoint GetTexelOffset() override { return {0.5f, 0.5f}; }
  T3DShader* CreateShader(const std::string& code, bool vertex) override;
  bool SetShader(T3DShader* shader) override;
  bool SetShaderConstants(int32_t reg, std::span<const float> data, int32_t count, bool vertex) override;

  // The loss step that ends every operation touching the device.
  void CheckDeviceLost();
  // Stores the class of a device result in LastResult and the loss in State.
  bool Call(gpu::HRESULT hr);

  T3DEngine9* Engine = nullptr;
  bool OwnSwapChain = false;
  gpu::SwapChain* SwapChain = nullptr;
  bool Exclusive = false;
  int32_t MaxAnisotropy = 0;
  T3DSurface9* RenderTarget = nullptr;
  T3DSurfaceRT* BackBuffer = nullptr;
  TBlendMode BlendMode = bmNormal;
  bool SupportsLodBias = false;
  gpu::VertexBuffer* QuadBuffer = nullptr;
  uint32_t DepthFormat = 0;
  TDevStore* Store = nullptr;
  uint32_t RefreshRate = 0;
  TInitData* PendingRequest = nullptr;
  bool Active = false;
  bool FullScreen = false;

 private:
  template <class F>
  bool Frame(F&& body);
  void ReleaseDeviceObjects();
};

}  // namespace render3d
