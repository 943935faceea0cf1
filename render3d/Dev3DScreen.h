// The screen: the device-independent drawing target of one window (or an
// offscreen device). It (re)creates the renderer when the target changes,
// keeps the frame bracket and its pacing, the current view and the matrices
// made from it, a stack of render targets, and the list of every
// device-dependent resource made for it, so that all of them drop their
// device objects together when the device goes away.
//
// Also here: the resources themselves (textures that fill themselves,
// colour-lookup textures, shaders), the quad batch through which all
// geometry is drawn, the edge mesh and the projection routines.
//
// Threads: drawing runs on the GUI thread. Textures may be built on loader
// threads as well: the resource list has its own lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/SysBitmap.h"
#include "render3d/Dev3DCore.h"

namespace render3d {

using foundation::T3DPoint;
using foundation::TAffineFrame3D;
using foundation::TFloatRect;

// tan 30 degrees: the depth factor of the view matrices and projections.
inline constexpr double CameraFactor = 0.5773502691896257;

// The single engine of the process, made on first use through the engine
// factory (a null answer is asked for again next time).
T3DEngine* Get3DEngine();
// Unit end: frees the engine.
void Free3DEngine();

// 0 Intel, 1 NVIDIA, 2 AMD, 3 anything else (from the "Vendor" capability of
// adapter 0).
uint8_t GetGpuVendor();

// Milliseconds between two presents for a display refresh rate.
int32_t FrameIntervalForRate(int32_t rate);

struct TViewState {
  TRect Viewport;
  TFloatRect Area;
  TFloatPoint Scale;
  TFloatPoint Origin;
  double OffsetX = 0;
  double OffsetY = 0;
};

class T3DScreen;
class TVertexBuffer;
class TCustomTexture;

using TScreenEventMethod = std::function<void(T3DScreen* screen, int32_t code, intptr_t param)>;
enum : int32_t { seRendererDropped = 1 };

class TScreenEvent : public TRefObject {
 public:
  QEL_CLASSNAME(TScreenEvent)
  // Links the event at the head of the screen's chain.
  TScreenEvent(T3DScreen* screen, TScreenEventMethod method);
  void Dispose() override;
  virtual void Notify(int32_t code, intptr_t param);

  T3DScreen* Screen = nullptr;
  TScreenEvent* Next = nullptr;
  TScreenEventMethod Method;
};

// One entry of the render-target stack. An inert entry stands for a target
// whose device texture could not be made: nothing is drawn while it is on
// top, and popping it restores the target below.
class TRenderTargetWrapper : public TRefObject {
 public:
  QEL_CLASSNAME(TRenderTargetWrapper)
  TPoint Origin;
  T3DSurface* Surface = nullptr;  // not owned
  bool Inert = false;
};

// Sits in the draw device's messenger list; the device frees it when it is
// destroyed, which tells the screen.
class TDeviceKilledMessenger : public TRefObject {
 public:
  QEL_CLASSNAME(TDeviceKilledMessenger)
  void Dispose() override;
  T3DScreen* Screen = nullptr;
};

class T3DScreen : public TRefObject {
 public:
  QEL_CLASSNAME(T3DScreen)
  T3DScreen();
  void Dispose() override;

  void AssignDevice(TDrawDevice* device);
  void InitRenderer();
  bool BeginScene();
  bool EndScene(bool present);
  bool Present(const TRect& rect);
  bool IsReady() const;
  // Ready, and the top of the render-target stack is a real target.
  bool CanDraw() const;
  TViewState GetViewState() const;
  void SetViewState(const TViewState& view);
  // A device texture's level 0 becomes the render target at screen pixel
  // (x, y); null pops back to the previous target.
  void SetRenderTarget(T3DTexture* texture, int32_t x, int32_t y);
  // Pushes a screen texture as render target: one whose device texture
  // cannot be made pushes an inert entry (draws and clears do nothing under
  // it), so pushes and pops stay balanced.
  void PushRenderTarget(TCustomTexture* target, int32_t x, int32_t y);
  void PopRenderTarget();
  int32_t RenderTargetDepth() const { return static_cast<int32_t>(Targets.size()); }
  TRect GetRenderTargetRect();
  void Clear(uint32_t color, bool clearDepth);
  void FillRect(uint32_t color, const TRect& rect);
  void ReleaseResources();
  void DropRenderer();
  void DeviceKilled();
  void NotifyScreenEvents(int32_t code, intptr_t param);

  // The resource list (every texture, colouring texture, shader and vertex
  // buffer of this screen); resources add and remove themselves.
  void AddResource(TRefObject* resource);
  void RemoveResource(TRefObject* resource);
  std::vector<TRefObject*> ResourcesSnapshot() const;

  // Drawing (the quad batch).
  void DrawColorQuad(T3DPoint tl, T3DPoint tr, T3DPoint bl, T3DPoint br, uint32_t cTL, uint32_t cTR, uint32_t cBL,
                     uint32_t cBR);
  void DrawTextureQuad(std::span<TCustomTexture* const> textures, T3DPoint origin, TFloatPoint anchor, T3DPoint axisX,
                       T3DPoint axisY, std::span<const TFloatRect> rects, uint32_t c0, uint32_t c1, uint32_t c2,
                       uint32_t c3);
  void DrawTextureRect(TCustomTexture* texture, T3DPoint origin, TFloatPoint anchor, T3DPoint axisX, T3DPoint axisY,
                       const TFloatRect& rect);
  struct TEdgeMesh {
    T3DPoint Vertices[16];
    TFloatPoint TexPoints[16];
  };
  void BuildEdgeMesh(TEdgeMesh& mesh, const TAffineFrame3D& plane, TFloatPoint anchor, T3DPoint camera,
                     const TFloatRect& rect, uint8_t edgeFlags);
  void DrawEdgeMesh(std::span<TCustomTexture* const> textures, const TEdgeMesh& mesh, uint32_t cTL, uint32_t cTR,
                    uint32_t cBL, uint32_t cBR, uint8_t edgeFlags);

  T3DRenderer* Renderer = nullptr;  // owned
  TDrawDevice* Device = nullptr;    // not owned
  TRect Bounds;
  double InvViewWidth = 0, InvViewHeight = 0;
  bool FullScreen = false;
  uint32_t Adapter = 0;
  uintptr_t Window = 0;
  TPoint TargetOrigin;
  TRef<TVertexBuffer> QuadBatch;
  std::vector<TRef<TRenderTargetWrapper>> Targets;  // the target stack, the back buffer first
  TDeviceKilledMessenger* Messenger = nullptr;     // owned
  TViewState View;
  double ViewLeft = 0, ViewTop = 0;
  double ZoomX = 1, ZoomY = 1, InvZoomX = 1, InvZoomY = 1;
  bool ShadersMade = false;
  TScreenEvent* Events = nullptr;
  int32_t SceneDepth = 0;
  int32_t FrameInterval = 15;
  uint32_t LastPresent = 0;

 private:
  TRect TargetRectOf(TDrawDevice* device) const;
  void ResetTargetView();
  mutable std::recursive_mutex FResourceLock;  // guards FResources
  std::vector<TRefObject*> FResources;
};

// ---- resources ----

// The extent of a device texture for n pixels (a power of two, at least 32)
// and its reciprocal.
int32_t GetTextureExtent(int32_t n, double& reciprocal);

// Halves src into dst (2 x 2 averages when dst is exactly half, else
// bilinear resampling); both 32-bit in one of the two ARGB formats.
void HalveBitmap(imaging::TSysBitmap* src, imaging::TSysBitmap* dst);

// A bitmap whose pixels are premultiplied by alpha.
class TSysBitmapPrem : public imaging::TSysBitmap {
 public:
  using TBitmapClass = imaging::TBitmapClass;
  using TBitmapClassInfo = imaging::TBitmapClassInfo;
  QEL_BITMAP_CLASS(TSysBitmapPrem, imaging::TSysBitmap)
  using TSysBitmap::TSysBitmap;
};

// A texture of a screen whose device object is made on demand and filled by
// the texture itself (Paint); kinds 1, 2 and 5 are render targets.
class TCustomTexture : public TRefObject {
 public:
  QEL_CLASSNAME(TCustomTexture)
  explicit TCustomTexture(T3DScreen* screen);
  void Dispose() override;

  virtual T3DTexture* GetTexture();
  virtual void SetSize(int32_t width, int32_t height);
  virtual void Paint(imaging::TSysBitmap* bitmap) {}
  virtual void Upload();
  virtual void ReleaseTexture();
  virtual T3DTexture* GetReadyTexture();

  void SetKind(TTextureKind kind);
  void SetPremultiplied(bool value);
  void SetMipmapped(bool value);
  void SetTexCoord(T3DVertex& vertex, double u, double v, int32_t i) const;
  // The locked level as a bitmap (rows top-down), or null.
  imaging::TBitmap* LockLevel(const TRect& rect, int32_t level);
  bool IsRenderTarget() const { return Kind == tkTargetXrgb || Kind == tkTargetArgb || Kind == tkTargetWide; }

  T3DScreen* Screen = nullptr;
  T3DTexture* Texture = nullptr;  // owned
  TTextureKind Kind = tkArgb;
  int32_t Width = 0, Height = 0;
  int32_t TexWidth = 0, TexHeight = 0;
  double ScaleU = 0, ScaleV = 0;
  bool Mipmapped = false;
  double LodBias = 0;
  bool MipRequested = false;
  bool Premultiplied = false;
  bool Filled = false;
  bool PointFilter = false;
  uint8_t Alpha = 255;

 private:
  void RetryRenderTarget();
};

class TShader : public TRefObject {
 public:
  QEL_CLASSNAME(TShader)
  // The code is the length-prefixed program text the renderer takes.
  TShader(T3DScreen* screen, const std::string& code, bool vertex);
  void Dispose() override;
  void FreeDeviceShader();
  void MakeDeviceShader();

  T3DScreen* Screen = nullptr;
  std::string Code;
  bool Vertex = false;
  T3DShader* DeviceShader = nullptr;  // owned
};

class TCustomColoringTexture : public TRefObject {
 public:
  QEL_CLASSNAME(TCustomColoringTexture)
  explicit TCustomColoringTexture(T3DScreen* screen);
  void Dispose() override;
  virtual TBaseTexture* GetTexture() = 0;
  void FreeTexture();

  T3DScreen* Screen = nullptr;
  TBaseTexture* Texture = nullptr;  // owned
};

// ---- the quad batch ----

struct TTriangle {
  T3DVertex V[3];
};

class TVertexBuffer : public TRefObject {
 public:
  QEL_CLASSNAME(TVertexBuffer)
  explicit TVertexBuffer(T3DScreen* screen);
  void Dispose() override;

  void Reserve(int32_t triangles, int32_t textureSets);
  void SetTextures(std::span<TCustomTexture* const> textures);
  // Coordinates are image pixels of each batch texture (n pairs per vertex).
  void AddTriangle(T3DPoint p0, T3DPoint p1, T3DPoint p2, std::span<const TFloatPoint> t0,
                   std::span<const TFloatPoint> t1, std::span<const TFloatPoint> t2, uint32_t c0, uint32_t c1,
                   uint32_t c2);
  void Flush();
  void ReleaseList();

  T3DScreen* Screen = nullptr;
  T3DVertexList* List = nullptr;  // owned
  int32_t Capacity = 0;
  int32_t Limit = 0;
  int32_t Count = 0;
  std::vector<TCustomTexture*> Textures;
  std::vector<T3DVertex> Vertices;
  bool Translucent = true;
  bool Blend = false;

 private:
  void PutTriangle(const TTriangle& t);
};

// ---- projection routines ----

TFloatPoint ProjectPoint(T3DPoint p, T3DPoint camera, double k);
T3DPoint ScreenPointToPlane(TFloatPoint s, const TAffineFrame3D& plane, T3DPoint camera, double k);
bool IsBehindPlane(const TAffineFrame3D& plane, T3DPoint camera);
bool IsDegenerateEdgePair(foundation::TFlatVector a, foundation::TFlatVector b);

uint32_t MakeARGB(uint8_t a, uint8_t r, uint8_t g, uint8_t b);

}  // namespace render3d
