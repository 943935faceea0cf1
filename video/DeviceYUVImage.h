// A frame target on the 3D device: the video sources write into the device
// image's textures through the frame-target contract, and the show draws it
// with the draw manager's DrawVideoFrame.
#pragma once

#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DYUV.h"
#include "video/kvVideoSource.h"

namespace video {

class TDeviceYUVImage : public TYUVImage {
 public:
  QEL_CLASSNAME(TDeviceYUVImage)
  // Takes over the device image and frees it with itself.
  explicit TDeviceYUVImage(render3d::T3DYUV* device);
  void Dispose() override;
  imaging::TSysBitmap* LockPlane(int32_t plane) override;
  bool UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap) override;
  void FrameDone() override;

  render3d::T3DYUV* Device = nullptr;  // owned
};

// A device frame of the drawer's screen (planes, RGBA or gray as the device
// allows), listed with the drawer.
TDeviceYUVImage* CreateDeviceYUVImage(render3d::T3DDrawer* drawer, int32_t width, int32_t height, bool rgba);

}  // namespace video
