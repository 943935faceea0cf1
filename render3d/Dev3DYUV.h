// Video frames on the device: a frame is written by a video source straight
// into device textures (three 8-bit planes Y, U, V; or one ARGB plane; or,
// on a device without 8-bit luminance textures, one R5G6B5 gray plane) and
// drawn by the draw manager, which converts YUV to RGB in a pixel shader.
//
// The video layer's frame-target contract sits above this layer; its device
// image forwards to a T3DYUV, which has the same plane operations and plane
// numbers (0 Y, 1 U, 2 V, 3 gray, 4 RGBA).
//
// Threads: LockPlane, UnlockPlane, FrameDone and ReleaseTextures run under
// the image's monitor and may come from a decoding thread while the GUI
// thread draws; drawing reads the textures without the monitor.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "foundation/kvMonitors.h"
#include "imaging/SysBitmap.h"
#include "render3d/Dev3DScreen.h"

namespace render3d {

class T3DYUV;

// A plane texture: never painted from a bitmap, its texels come only from
// LockPlane. Losing the device texture marks the owner's content lost.
class TYUVPlaneTexture : public TCustomTexture {
 public:
  QEL_CLASSNAME(TYUVPlaneTexture)
  TYUVPlaneTexture(T3DScreen* screen, T3DYUV* owner, TTextureKind kind, int32_t width, int32_t height);
  void Upload() override;
  void ReleaseTexture() override;
  T3DYUV* Owner = nullptr;
};

// 8-bit luminance (Y, U or V).
class TVideoTexture : public TYUVPlaneTexture {
 public:
  QEL_CLASSNAME(TVideoTexture)
  TVideoTexture(T3DScreen* screen, T3DYUV* owner, int32_t width, int32_t height)
      : TYUVPlaneTexture(screen, owner, tkLuminance, width, height) {}
};

// The frame as one 16-bit R5G6B5 gray plane.
class TGrayScaleTexture : public TYUVPlaneTexture {
 public:
  QEL_CLASSNAME(TGrayScaleTexture)
  TGrayScaleTexture(T3DScreen* screen, T3DYUV* owner, int32_t width, int32_t height)
      : TYUVPlaneTexture(screen, owner, tkRgb565, width, height) {}
};

// The frame as 32-bit ARGB.
class TRGBATexture : public TYUVPlaneTexture {
 public:
  QEL_CLASSNAME(TRGBATexture)
  TRGBATexture(T3DScreen* screen, T3DYUV* owner, int32_t width, int32_t height)
      : TYUVPlaneTexture(screen, owner, tkArgb, width, height) {}
};

constexpr int32_t kYUVPlaneY = 0, kYUVPlaneU = 1, kYUVPlaneV = 2, kYUVPlaneGray = 3, kYUVPlaneRGBA = 4;

// min(n + 8, the next power of two of n): a border of replicated texels
// for bilinear filtering, none when n is already a power of two.
int32_t PaddedPlaneSize(int32_t n);

class T3DYUV : public foundation::TMonitor {
 public:
  QEL_CLASSNAME(T3DYUV)
  // planeMode: the device can draw YUV planes (a pixel shader level and
  // 8-bit luminance textures); the draw manager decides.
  T3DYUV(T3DScreen* screen, bool planeMode, int32_t width, int32_t height, bool rgba);
  void Dispose() override;

  // A bitmap over the plane's texels (the padded size; U and V halved), or
  // null when the plane does not exist or has no device texture.
  imaging::TSysBitmap* LockPlane(int32_t plane);
  // Replicates the last column and row into the padded border (planes 0-2)
  // and unlocks; false when the device refused the unlock.
  bool UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap);
  // Uploads every plane.
  void FrameDone();
  // Frees the plane textures, after any writer has unlocked its planes.
  void ReleaseTextures();
  TYUVPlaneTexture* PlaneTexture(int32_t plane) const;

  bool RGBAMode = false;
  bool GrayMode = false;
  int32_t Width = 0, Height = 0;
  // Set when a plane texture lost its device texture; the frame source
  // refills the image and clears it.
  std::atomic<bool> ContentLost{false};
  std::function<void(T3DYUV*)> OnContentLost;
  TVideoTexture* PlaneY = nullptr;       // owned
  TVideoTexture* PlaneU = nullptr;       // owned
  TVideoTexture* PlaneV = nullptr;       // owned
  TRGBATexture* PlaneRGBA = nullptr;     // owned
  TGrayScaleTexture* PlaneGray = nullptr;  // owned
  int32_t LockCount = 0;
  int32_t PaddedWidth = 0, PaddedHeight = 0;
  // Set by the draw manager: takes the image out of its list.
  std::function<void(T3DYUV*)> OnRemove;
};

}  // namespace render3d
