#include "video/DeviceYUVImage.h"

namespace video {

TDeviceYUVImage::TDeviceYUVImage(render3d::T3DYUV* device)
    : TYUVImage(device ? device->Width : 0, device ? device->Height : 0), Device(device) {
  if (!Device) return;
  RGBAMode = Device->RGBAMode;
  GrayMode = Device->GrayMode;
  // The device image marks its own content lost when the device drops its
  // textures; the frame source watches this image.
  Device->OnContentLost = [this](render3d::T3DYUV*) {
    ContentLost = true;
    if (OnContentLost) OnContentLost(this);
  };
}

void TDeviceYUVImage::Dispose() {
  if (Device) {
    Device->OnContentLost = nullptr;
    Device->Free();
  }
  Device = nullptr;
  TYUVImage::Dispose();
}

imaging::TSysBitmap* TDeviceYUVImage::LockPlane(int32_t plane) { return Device ? Device->LockPlane(plane) : nullptr; }

bool TDeviceYUVImage::UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap) {
  return Device && Device->UnlockPlane(plane, bitmap);
}

void TDeviceYUVImage::FrameDone() {
  if (Device) Device->FrameDone();
}

TDeviceYUVImage* CreateDeviceYUVImage(render3d::T3DDrawer* drawer, int32_t width, int32_t height, bool rgba) {
  return new TDeviceYUVImage(drawer->CreateYUVImage(width, height, rgba));
}

}  // namespace video
