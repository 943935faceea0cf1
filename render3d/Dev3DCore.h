// The device-independent 3D layer: the engine, one renderer per drawing
// target, the targets themselves and the device resources a renderer makes.
// Everything above the graphics device (the screen, screen textures, the
// draw manager) calls only these operations.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvBitmap.h"
#include "render3d/OnExit.h"

namespace render3d {

using foundation::TFloatPoint;
using foundation::TPoint;
using foundation::TRect;
using foundation::MakeRef;
using foundation::TRef;
using foundation::TRefObject;

struct TDisplayMode {
  TRect MonitorRect;
  uint32_t RefreshRate = 0;
  uint32_t Format = 0;
};

struct TRendererParams {
  TDisplayMode Mode;
  uint32_t Adapter = 0;
};

struct T3DVertex {
  float X = 0, Y = 0, Z = 0;
  float TexCoords[8][2] = {};
  uint32_t Diffuse = 0;
  uint32_t Specular = 0;
  float Normal[3] = {};
};

enum TTextureKind : uint8_t { tkArgb, tkTargetXrgb, tkTargetArgb, tkLuminance, tkRgb565, tkTargetWide };
enum TPrimitiveKind : uint8_t { pkPointList, pkLineList, pkLineStrip, pkTriangleList, pkTriangleStrip, pkTriangleFan };
enum : uint8_t { dfTextures = 1, dfModulateColor = 2, dfModulateAlpha = 4, dfLighting = 8 };
using TDrawFlags = uint8_t;
enum : uint8_t { vcDiffuse = 1, vcNormal = 2, vcSpecular = 4 };
using TVertexComponents = uint8_t;
enum TBlendMode : uint8_t { bmNormal, bmMax, bmSeparateAlpha };

// Renderer states.
enum : uint8_t { rsReady = 0, rsCreationPending = 1, rsLost = 2 };
// Result classes of the last device call.
enum : uint8_t { rcSuccess = 0, rcInvalidCall = 1, rcOutOfVideoMemory = 2, rcLostOrOther = 3 };

using TSimpleEvent = std::function<void()>;
using TNotifyEvent = std::function<void(TRefObject* sender)>;

class T3DRenderer;

// A drawing target: a visible window or a hidden one.
class TDrawDevice : public TRefObject {
 public:
  QEL_CLASSNAME(TDrawDevice)
  explicit TDrawDevice(uint32_t handle);
  void Dispose() override;

  std::vector<T3DRenderer*> Renderers;  // not owned
  bool FullScreen = false;
  TRect Bounds;
  TPoint ScreenPos;
  uintptr_t Handle = 0;
  TNotifyEvent OnPaint;
  std::vector<TRefObject*> Messengers;  // owned

  virtual void SetBounds(const TRect& rect, const TPoint& pos, bool fullScreen);
  virtual bool IsAvailable() { return true; }

  // The first messenger of class T, or null.
  template <class T>
  T* FindMessenger() const {
    for (TRefObject* m : Messengers)
      if (auto* t = dynamic_cast<T*>(m)) return t;
    return nullptr;
  }
  // Takes the messenger out of the list without releasing it.
  void RemoveMessenger(TRefObject* messenger);
};

TRect GetDeviceScreenRect(TDrawDevice* device);

class TRendererDevice : public TDrawDevice {
 public:
  QEL_CLASSNAME(TRendererDevice)
  using TDrawDevice::TDrawDevice;
  virtual void SetSize(int32_t width, int32_t height) = 0;
};

class T3DEngine : public TRefObject {
 public:
  QEL_CLASSNAME(T3DEngine)
  uint8_t LastResult = 0;
  uint8_t State = 0;

  virtual TRendererDevice* CreateOffscreenDevice(int32_t width, int32_t height) = 0;
  virtual uint32_t AdapterFromRect(const TRect& rect) = 0;
  virtual uint32_t GetCapsValue(const std::u16string& name, uint32_t adapter) = 0;
  virtual std::u16string GetCapsText(const std::u16string& name, uint32_t adapter) = 0;
  virtual bool GetDisplayMode(TDisplayMode& mode, uint32_t adapter) = 0;
  virtual T3DRenderer* CreateRenderer(TDrawDevice* device, const TRendererParams& params) = 0;
  virtual bool CheckDevice() { return true; }
  virtual uint8_t GetShaderLevel(uint32_t adapter) = 0;
};

class T3DSurface;
class TBaseTexture;
class T3DTexture;
class TVolumeTexture;
class T3DVertexList;
class T3DShader;

class T3DRenderer : public TRefObject {
 public:
  QEL_CLASSNAME(T3DRenderer)
  explicit T3DRenderer(TDrawDevice* device);
  void Dispose() override;

  TDrawDevice* Device = nullptr;  // cleared by the device's Dispose
  // State and LastResult are written under the device lock by the thread
  // that called the device, and read without it by other threads (the
  // screen's readiness check, the texture and vertex-list paths of the slide
  // loader), hence atomics. A renderer created through the main thread stays
  // rsCreationPending until every member below is filled in.
  std::atomic<uint8_t> State{0};
  std::atomic<uint8_t> LastResult{0};
  bool SupportsL8 = false;  // set once before the renderer becomes ready
  TSimpleEvent OnRendererLost;

  virtual bool IsFlipEx() { return true; }
  virtual void SetBounds() = 0;
  virtual bool BeginScene() = 0;
  virtual bool EndScene() = 0;
  virtual bool Present(const TRect* sourceRect, const TRect* destRect) = 0;
  virtual bool Clear(std::span<const TRect> rects, int32_t count, uint32_t color, float z, uint8_t flags) = 0;
  virtual bool ResetRenderStates() = 0;
  virtual bool SetRenderTarget(T3DSurface* surface) = 0;
  virtual T3DSurface* GetRenderTarget() = 0;
  virtual bool GetBackBuffer(T3DSurface*& surface) = 0;
  virtual bool SetViewport(const TRect& rect, float minZ, float maxZ) = 0;
  virtual bool DrawVertexList(std::span<TBaseTexture* const> textures, int32_t count, T3DVertexList* list,
                              TDrawFlags flags) = 0;
  virtual bool SetTexture(int32_t stage, TBaseTexture* texture) = 0;
  virtual T3DTexture* CreateTexture(TTextureKind kind, int32_t width, int32_t height, bool mipmaps) = 0;
  virtual TVolumeTexture* CreateVolumeTexture(int32_t width, int32_t height, int32_t depth) = 0;
  virtual T3DVertexList* CreateVertexList(int32_t vertexCount, TVertexComponents components, int32_t texCoordSets) = 0;
  virtual bool CopySurface(T3DSurface* source, T3DSurface* dest, std::span<const TRect> sourceRects,
                           std::span<const TRect> destRects, int32_t count) = 0;
  virtual bool SetBlendMode(TBlendMode mode) = 0;
  virtual bool SetTransform(uint8_t index, const float* matrix) = 0;
  virtual bool SetDoubleSided(bool value) = 0;
  virtual TFloatPoint GetTexelOffset() = 0;
  virtual T3DShader* CreateShader(const std::string& code, bool vertex) = 0;
  virtual bool SetShader(T3DShader* shader) = 0;
  virtual bool SetShaderConstants(int32_t reg, std::span<const float> data, int32_t count, bool vertex) = 0;
};

class TBaseTexture : public TRefObject {
 public:
  QEL_CLASSNAME(TBaseTexture)
  uint8_t LastResult = 0;
  uint8_t State = 0;
  TSimpleEvent OnRelease;
  virtual int32_t GetLevelCount() = 0;
};

class T3DTexture : public TBaseTexture {
 public:
  QEL_CLASSNAME(T3DTexture)
  TTextureKind Kind = tkArgb;
  bool Premultiplied = false;

  virtual T3DSurface* GetSurface(int32_t level) = 0;
  virtual void Update() = 0;
  virtual void SetAddressMode(uint8_t u, uint8_t v) = 0;
  virtual void GetAddressMode(uint8_t& u, uint8_t& v) = 0;
  virtual void SetFilter(uint8_t filter) = 0;
  virtual void GetFilter(uint8_t& filter) = 0;
  virtual void SetMipFilter(uint8_t value) = 0;
  virtual void SetMipLodBias(float bias) = 0;
};

class TVolumeTexture : public TBaseTexture {
 public:
  QEL_CLASSNAME(TVolumeTexture)
  // The box as a bitmap of width x2 - x1 and (z2 - z1) x (y2 - y1) rows, the
  // slices one after the other; null on failure.
  virtual imaging::TBitmap* Lock(int32_t level, int32_t x1, int32_t y1, int32_t z1, int32_t x2, int32_t y2,
                                 int32_t z2) = 0;
  // Releases the bitmap.
  virtual bool Unlock(int32_t level, imaging::TBitmap* bitmap) = 0;
};

class T3DSurface : public TRefObject {
 public:
  QEL_CLASSNAME(T3DSurface)
  uint8_t LastResult = 0;
  uint8_t State = 0;
  // Copies the whole surface into the bitmap at 0,0.
  virtual bool CopyTo(imaging::TBitmap* bitmap) = 0;
  virtual void GetSize(int32_t& width, int32_t& height) = 0;
  virtual imaging::TPixelFormat* GetPixelFormat() = 0;
  // A bitmap whose rows are the locked memory, or null.
  virtual imaging::TBitmap* Lock(const TRect& rect, bool readOnly) = 0;
  // Releases the bitmap and clears the variable.
  virtual bool Unlock(imaging::TBitmap*& bitmap) = 0;
};

class T3DVertexList : public TRefObject {
 public:
  QEL_CLASSNAME(T3DVertexList)
  uint8_t LastResult = 0;
  uint8_t State = 0;
  TSimpleEvent OnRelease;
  virtual bool SetFormat(int32_t startVertex, int32_t primitiveCount, TPrimitiveKind kind) = 0;
  virtual bool SetVertices(int32_t destIndex, std::span<const T3DVertex> vertices, int32_t sourceIndex,
                           int32_t count) = 0;
};

class T3DShader : public TRefObject {
 public:
  QEL_CLASSNAME(T3DShader)
  TSimpleEvent OnRelease;
};

// The engine factory: a new engine or null; filled by the Direct3D layer's
// start (InitDXDev3D) and asked by the screen.
using TEngineFactory = T3DEngine* (*)();
void SetEngineFactory(TEngineFactory factory);
TEngineFactory GetEngineFactory();

// IsHardwareAccelerated: False until the Direct3D layer installs its test.
using THardwareTest = bool (*)();
void SetHardwareAcceleratedHook(THardwareTest test);
bool IsHardwareAccelerated();

}  // namespace render3d
