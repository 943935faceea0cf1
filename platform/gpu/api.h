// The graphics device the 3D layer programs against: an engine, devices, swap
// chains, textures, volume textures, surfaces, vertex buffers and shaders in
// the shape of a Direct3D 9Ex device, with its result codes, format numbers
// and state numbers as our own constants. The Linux backend draws with
// OpenGL 3.3 core (linux/); the 3D layer above includes only this header.
//
// Conventions kept by every backend:
// - memory row 0 of every texture, render target and back buffer is the top
//   row; locks, copies, uploads and read-back never turn rows over; Present
//   is the one place where the picture meets the window's own orientation;
// - pixel centres at integer coordinates, projection depth in [0, w],
//   row-vector matrices (v * World * View * Projection);
// - the context belongs to the thread that made the first engine (the main
//   thread). Objects made, filled or released on other threads answer at once
//   from their CPU side; the backend's GL work is queued and drained on the
//   main thread (drainRequests), and no thread ever waits for it.
#pragma once

#include <cstdint>
#include <functional>

namespace platform::gpu {

using HRESULT = int32_t;

// ---- result codes ----
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_PRESENT_MODE_CHANGED = 0x0876017C;
constexpr HRESULT S_PRESENT_OCCLUDED = 0x08760168;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);

constexpr uint32_t D3D_SDK_VERSION = 32;
constexpr uint32_t D3D_SDK_DEBUG_BIT = 0x80000000u;

// ---- formats ----
enum : uint32_t {
  D3DFMT_UNKNOWN = 0,
  D3DFMT_A8R8G8B8 = 21,
  D3DFMT_X8R8G8B8 = 22,
  D3DFMT_R5G6B5 = 23,
  D3DFMT_X1R5G5B5 = 24,
  D3DFMT_A1R5G5B5 = 25,
  D3DFMT_A8 = 28,
  D3DFMT_A16B16G16R16 = 36,
  D3DFMT_L8 = 50,
  D3DFMT_D24X8 = 77,
  D3DFMT_D16 = 80,
};
// Bytes per pixel of a colour format; 0 for formats the layer cannot hold.
uint32_t formatBytes(uint32_t format);

enum : uint32_t { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2 };
enum : uint32_t { D3DUSAGE_RENDERTARGET = 0x1, D3DUSAGE_DEPTHSTENCIL = 0x2 };
enum : uint32_t { D3DRTYPE_SURFACE = 1, D3DRTYPE_VOLUME = 2, D3DRTYPE_TEXTURE = 3, D3DRTYPE_VOLUMETEXTURE = 4 };
enum : uint32_t { D3DDEVTYPE_HAL = 1 };
enum : uint32_t { D3DLOCK_READONLY = 0x10, D3DLOCK_NOSYSLOCK = 0x800, D3DLOCK_NO_DIRTY_UPDATE = 0x8000 };
enum : uint32_t { D3DCLEAR_TARGET = 1, D3DCLEAR_ZBUFFER = 2, D3DCLEAR_STENCIL = 4 };
enum : uint32_t { D3DBACKBUFFER_TYPE_MONO = 0 };
enum : uint32_t { D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_FLIP = 2, D3DSWAPEFFECT_COPY = 3 };
enum : uint32_t {
  D3DPRESENT_INTERVAL_DEFAULT = 0,
  D3DPRESENT_INTERVAL_ONE = 1,
  D3DPRESENT_INTERVAL_IMMEDIATE = 0x80000000u,
};
enum : uint32_t {
  D3DCREATE_FPU_PRESERVE = 0x2,
  D3DCREATE_MULTITHREADED = 0x4,
  D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20,
};
enum : uint32_t { D3DDEVCAPS_HWRASTERIZATION = 0x80000 };
enum : uint32_t { D3DPRASTERCAPS_MIPMAPLODBIAS = 0x2000, D3DPRASTERCAPS_ANISOTROPY = 0x20000 };
// Shader versions as the caps report them: 0xFFFF0000 | major << 8 | minor.
constexpr uint32_t psVersion(uint32_t major, uint32_t minor) { return 0xFFFF0000u | (major << 8) | minor; }

// ---- vertex formats ----
enum : uint32_t {
  D3DFVF_XYZ = 0x002,
  D3DFVF_NORMAL = 0x010,
  D3DFVF_DIFFUSE = 0x040,
  D3DFVF_SPECULAR = 0x080,
  D3DFVF_TEXCOUNT_MASK = 0xF00,
  D3DFVF_TEXCOUNT_SHIFT = 8,
};

enum : uint32_t {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

// ---- render states and their values ----
enum : uint32_t {
  D3DRS_ZENABLE = 7,
  D3DRS_FILLMODE = 8,
  D3DRS_SHADEMODE = 9,
  D3DRS_SRCBLEND = 19,
  D3DRS_DESTBLEND = 20,
  D3DRS_CULLMODE = 22,
  D3DRS_ALPHABLENDENABLE = 27,
  D3DRS_LIGHTING = 137,
  D3DRS_BLENDOP = 171,
  D3DRS_SEPARATEALPHABLENDENABLE = 206,
  D3DRS_SRCBLENDALPHA = 207,
  D3DRS_DESTBLENDALPHA = 208,
  D3DRS_BLENDOPALPHA = 209,
  D3DRS_COUNT = 256,
};
enum : uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum : uint32_t { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2 };
enum : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum : uint32_t {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTALPHA = 7,
  D3DBLEND_INVDESTALPHA = 8,
};
enum : uint32_t {
  D3DBLENDOP_ADD = 1,
  D3DBLENDOP_SUBTRACT = 2,
  D3DBLENDOP_REVSUBTRACT = 3,
  D3DBLENDOP_MIN = 4,
  D3DBLENDOP_MAX = 5,
};

// ---- sampler states ----
enum : uint32_t {
  D3DSAMP_ADDRESSU = 1,
  D3DSAMP_ADDRESSV = 2,
  D3DSAMP_ADDRESSW = 3,
  D3DSAMP_MAGFILTER = 5,
  D3DSAMP_MINFILTER = 6,
  D3DSAMP_MIPFILTER = 7,
  D3DSAMP_MIPMAPLODBIAS = 8,
  D3DSAMP_MAXANISOTROPY = 10,
  D3DSAMP_COUNT = 14,
};
enum : uint32_t { D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR = 2, D3DTADDRESS_CLAMP = 3 };
enum : uint32_t { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2, D3DTEXF_ANISOTROPIC = 3 };

// ---- texture-stage states ----
enum : uint32_t {
  D3DTSS_COLOROP = 1,
  D3DTSS_COLORARG1 = 2,
  D3DTSS_COLORARG2 = 3,
  D3DTSS_ALPHAOP = 4,
  D3DTSS_ALPHAARG1 = 5,
  D3DTSS_ALPHAARG2 = 6,
  D3DTSS_COUNT = 33,
};
enum : uint32_t { D3DTOP_DISABLE = 1, D3DTOP_SELECTARG1 = 2, D3DTOP_SELECTARG2 = 3, D3DTOP_MODULATE = 4 };
enum : uint32_t { D3DTA_DIFFUSE = 0, D3DTA_CURRENT = 1, D3DTA_TEXTURE = 2 };

enum : uint32_t { D3DTS_VIEW = 2, D3DTS_PROJECTION = 3, D3DTS_WORLD = 256 };

constexpr int kMaxStages = 8;
constexpr int kMaxShaderConstants = 32;

// ---- records ----
struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct Box {
  uint32_t left = 0, top = 0, right = 0, bottom = 0, front = 0, back = 0;
};
struct LockedRect {
  int32_t pitch = 0;
  void* bits = nullptr;
};
struct LockedBox {
  int32_t rowPitch = 0;
  int32_t slicePitch = 0;
  void* bits = nullptr;
};
struct SurfaceDesc {
  uint32_t format = 0, type = 0, usage = 0, pool = 0;
  uint32_t width = 0, height = 0;
};
struct DisplayMode {
  uint32_t width = 0, height = 0, refreshRate = 0, format = 0;
};
struct Viewport {
  uint32_t x = 0, y = 0, width = 0, height = 0;
  float minZ = 0, maxZ = 1;
};
struct Matrix {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};
struct Caps {
  uint32_t devCaps = 0;
  uint32_t rasterCaps = 0;
  uint32_t maxTextureWidth = 0;
  uint32_t maxTextureHeight = 0;
  uint32_t maxAnisotropy = 0;
  uint32_t vertexShaderVersion = 0;
  uint32_t pixelShaderVersion = 0;
};
struct AdapterIdentifier {
  char description[512] = {};
  uint32_t vendorId = 0, deviceId = 0, subSysId = 0, revision = 0;
};
// The presentation parameters of a device or swap chain. deviceWindow is the
// window handle of the window layer (0: none, the back buffer is off screen).
struct PresentParameters {
  uint32_t backBufferWidth = 0;
  uint32_t backBufferHeight = 0;
  uint32_t backBufferFormat = 0;
  uint32_t backBufferCount = 0;
  uint32_t swapEffect = 0;
  uintptr_t deviceWindow = 0;
  bool windowed = false;
  bool enableAutoDepthStencil = false;
  uint32_t fullScreenRefreshRateInHz = 0;
  uint32_t presentationInterval = 0;
};

// ---- objects ----

// A reference-counted device object: created with one reference; release
// answers the remaining count and destroys the object at 0.
class GpuObject {
 public:
  GpuObject() = default;
  GpuObject(const GpuObject&) = delete;
  GpuObject& operator=(const GpuObject&) = delete;
  virtual uint32_t addRef() = 0;
  virtual uint32_t release() = 0;

 protected:
  virtual ~GpuObject() = default;
};

class Surface : public GpuObject {
 public:
  virtual HRESULT getDesc(SurfaceDesc& desc) = 0;
  // rect null: the whole surface.
  virtual HRESULT lockRect(LockedRect& locked, const Rect* rect, uint32_t flags) = 0;
  virtual HRESULT unlockRect() = 0;
};

class Texture : public GpuObject {
 public:
  virtual uint32_t getLevelCount() = 0;
  // The level's surface with one reference for the caller.
  virtual HRESULT getSurfaceLevel(uint32_t level, Surface** surface) = 0;
  virtual void preLoad() = 0;
};

class VolumeTexture : public GpuObject {
 public:
  virtual uint32_t getLevelCount() = 0;
  virtual HRESULT lockBox(uint32_t level, LockedBox& locked, const Box* box, uint32_t flags) = 0;
  virtual HRESULT unlockBox(uint32_t level) = 0;
};

class VertexBuffer : public GpuObject {
 public:
  virtual HRESULT lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) = 0;
  virtual HRESULT unlock() = 0;
};

// A pixel or vertex shader. The code handed to its creation is GLSL source
// (see Device::createPixelShader).
class Shader : public GpuObject {};

class SwapChain : public GpuObject {
 public:
  virtual HRESULT present(const Rect* source, const Rect* dest, uintptr_t window, const void* dirty, uint32_t flags) = 0;
  virtual HRESULT getBackBuffer(uint32_t index, uint32_t type, Surface** surface) = 0;
};

class Device : public GpuObject {
 public:
  virtual HRESULT checkDeviceState(uintptr_t window) = 0;
  virtual HRESULT reset(PresentParameters& params) = 0;
  virtual HRESULT resetEx(PresentParameters& params, const DisplayMode* fullScreenMode) = 0;
  virtual HRESULT createAdditionalSwapChain(PresentParameters& params, SwapChain** chain) = 0;
  virtual HRESULT getSwapChain(uint32_t index, SwapChain** chain) = 0;
  virtual HRESULT getBackBuffer(uint32_t chain, uint32_t index, uint32_t type, Surface** surface) = 0;
  virtual HRESULT presentEx(const Rect* source, const Rect* dest, uintptr_t window, const void* dirty, uint32_t flags) = 0;

  virtual HRESULT beginScene() = 0;
  virtual HRESULT endScene() = 0;
  virtual HRESULT clear(uint32_t count, const Rect* rects, uint32_t flags, uint32_t color, float z, uint32_t stencil) = 0;
  virtual HRESULT setRenderTarget(uint32_t index, Surface* surface) = 0;
  virtual HRESULT setViewport(const Viewport& viewport) = 0;
  virtual HRESULT setFVF(uint32_t fvf) = 0;
  virtual HRESULT setStreamSource(uint32_t stream, VertexBuffer* buffer, uint32_t offset, uint32_t stride) = 0;
  virtual HRESULT drawPrimitive(uint32_t type, uint32_t startVertex, uint32_t primitiveCount) = 0;
  virtual HRESULT setRenderState(uint32_t state, uint32_t value) = 0;
  virtual HRESULT setSamplerState(uint32_t stage, uint32_t state, uint32_t value) = 0;
  virtual HRESULT setTextureStageState(uint32_t stage, uint32_t state, uint32_t value) = 0;
  // A texture, a volume texture or null.
  virtual HRESULT setTexture(uint32_t stage, GpuObject* texture) = 0;
  virtual HRESULT setTransform(uint32_t which, const Matrix& matrix) = 0;

  virtual HRESULT updateTexture(GpuObject* source, GpuObject* dest) = 0;
  virtual HRESULT stretchRect(Surface* source, const Rect* sourceRect, Surface* dest, const Rect* destRect, uint32_t filter) = 0;
  virtual HRESULT getRenderTargetData(Surface* renderTarget, Surface* dest) = 0;

  virtual HRESULT createOffscreenPlainSurface(uint32_t width, uint32_t height, uint32_t format, uint32_t pool,
                                              Surface** surface) = 0;
  virtual HRESULT createTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, uint32_t format,
                                uint32_t pool, Texture** texture) = 0;
  virtual HRESULT createVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels, uint32_t usage,
                                      uint32_t format, uint32_t pool, VolumeTexture** texture) = 0;
  virtual HRESULT createVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                     VertexBuffer** buffer) = 0;
  // The code is the text of a GLSL 3.30 fragment shader without its #version
  // line. The layer puts in front of it: the varyings `vDiffuse` (vec4) and
  // `vTex[8]` (vec4, .xy the texture coordinates of each set), the output
  // `fragColor`, the constant registers `uniform vec4 c[32]`, and the
  // samplers `s0` .. `s7` (sampler2D) and `v0` .. `v7` (sampler3D), bound to
  // the stages of the same number. The code defines main().
  virtual HRESULT createPixelShader(const void* code, uint32_t length, Shader** shader) = 0;
  virtual HRESULT createVertexShader(const void* code, uint32_t length, Shader** shader) = 0;
  virtual HRESULT setPixelShader(Shader* shader) = 0;
  virtual HRESULT setVertexShader(Shader* shader) = 0;
  virtual HRESULT setPixelShaderConstantF(uint32_t reg, const float* data, uint32_t count) = 0;
  virtual HRESULT setVertexShaderConstantF(uint32_t reg, const float* data, uint32_t count) = 0;
};

// The engine object: adapters, capabilities and device creation.
class Direct3D : public GpuObject {
 public:
  virtual uint32_t getAdapterCount() = 0;
  virtual HRESULT getAdapterDisplayMode(uint32_t adapter, DisplayMode& mode) = 0;
  // The adapter's monitor in desktop coordinates.
  virtual HRESULT getAdapterMonitorRect(uint32_t adapter, Rect& rect) = 0;
  virtual HRESULT getDeviceCaps(uint32_t adapter, uint32_t deviceType, Caps& caps) = 0;
  virtual HRESULT getAdapterIdentifier(uint32_t adapter, uint32_t flags, AdapterIdentifier& id) = 0;
  virtual HRESULT checkDeviceFormat(uint32_t adapter, uint32_t deviceType, uint32_t adapterFormat, uint32_t usage,
                                    uint32_t resourceType, uint32_t format) = 0;
  virtual HRESULT createDeviceEx(uint32_t adapter, uint32_t deviceType, uintptr_t focusWindow, uint32_t behaviour,
                                 PresentParameters& params, const DisplayMode* fullScreenMode, Device** device) = 0;
};

// ---- backends ----

class GpuBackend {
 public:
  virtual ~GpuBackend() = default;
  // Direct3DCreate9Ex: the engine object or null (no usable 3D).
  virtual Direct3D* createDirect3D(uint32_t sdkVersion) = 0;
  // Runs the queued GPU work (creation, uploads, frees requested off the
  // context's thread). Called on the main thread; the backend also drains at
  // every scene start, draw, copy, read-back and present.
  virtual void drainRequests() = 0;
  // Requests waiting for the main thread.
  virtual int pendingRequests() = 0;
};

// Installs a backend (nullptr: the default, the GL backend presenting into
// the window layer's windows) and answers the previous one. Called by the
// platform's start-up (QEL_GPU=window or offscreen) before any engine exists.
GpuBackend* setGpuBackend(GpuBackend* backend);
GpuBackend* currentGpuBackend();
// The OpenGL 3.3 core backend on SDL2: its context lives on a hidden SDL
// window made by the backend; Present blits into the native window the
// window hook answers for the device's window handle.
GpuBackend* linuxGpuBackend();
// The same backend without windows: Present only counts (QEL_GPU=offscreen,
// and the tests under SDL_VIDEODRIVER=offscreen).
GpuBackend* offscreenGpuBackend();

// Direct3DCreate9Ex through the installed backend: null when no GL 3.3 core
// context can be made, or when QEL_NO_3D is set.
Direct3D* direct3DCreate9Ex(uint32_t sdkVersion);
void drainRequests();

// The window layer's hook: the native SDL window (SDL_Window*) behind one of
// its window handles, or null. The window must have been made with
// SDL_WINDOW_OPENGL. Without a hook, or for a null answer, a device presents
// nowhere (its back buffer stays readable).
using NativeWindowHook = std::function<void*(uintptr_t handle)>;
void setNativeWindowHook(NativeWindowHook hook);
void* nativeWindowFor(uintptr_t handle);

// Called (from any thread) when GPU work was queued for the main thread while
// no frame may be drawn soon: the window layer posts one wake-up to its
// message loop, which then calls drainRequests().
using RequestWakeupHook = std::function<void()>;
void setRequestWakeupHook(RequestWakeupHook hook);

}  // namespace platform::gpu
