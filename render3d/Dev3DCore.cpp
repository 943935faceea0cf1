#include "render3d/Dev3DCore.h"

#include <algorithm>
#include <atomic>

namespace render3d {

namespace {
std::atomic<TEngineFactory> g_factory{nullptr};
bool NotAccelerated() { return false; }
std::atomic<THardwareTest> g_hardware{&NotAccelerated};
}  // namespace

TDrawDevice::TDrawDevice(uint32_t handle) : Handle(handle) {}

void TDrawDevice::Dispose() {
  // Messengers may remove themselves while they go: take the list first.
  std::vector<TRefObject*> messengers;
  messengers.swap(Messengers);
  for (auto it = messengers.rbegin(); it != messengers.rend(); ++it) (*it)->Free();
  for (T3DRenderer* r : Renderers) r->Device = nullptr;
  Renderers.clear();
  TRefObject::Dispose();
}

void TDrawDevice::SetBounds(const TRect& rect, const TPoint& pos, bool fullScreen) {
  auto empty = [](const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; };
  bool sameRect = (rect.Left == Bounds.Left && rect.Top == Bounds.Top && rect.Right == Bounds.Right &&
                   rect.Bottom == Bounds.Bottom) ||
                  (empty(rect) && empty(Bounds));
  if (sameRect && pos.X == ScreenPos.X && pos.Y == ScreenPos.Y && fullScreen == FullScreen) return;
  Bounds = rect;
  ScreenPos = pos;
  FullScreen = fullScreen;
  std::vector<T3DRenderer*> renderers = Renderers;
  for (T3DRenderer* r : renderers) r->SetBounds();
}

void TDrawDevice::RemoveMessenger(TRefObject* messenger) {
  auto it = std::find(Messengers.begin(), Messengers.end(), messenger);
  if (it != Messengers.end()) Messengers.erase(it);
}

TRect GetDeviceScreenRect(TDrawDevice* device) {
  return {device->ScreenPos.X, device->ScreenPos.Y,
          device->ScreenPos.X + (device->Bounds.Right - device->Bounds.Left),
          device->ScreenPos.Y + (device->Bounds.Bottom - device->Bounds.Top)};
}

T3DRenderer::T3DRenderer(TDrawDevice* device) : Device(device) {
  if (Device) Device->Renderers.push_back(this);
}

void T3DRenderer::Dispose() {
  if (Device) {
    auto& list = Device->Renderers;
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end()) list.erase(it);
    Device = nullptr;
  }
  TRefObject::Dispose();
}

void SetEngineFactory(TEngineFactory factory) { g_factory.store(factory); }
TEngineFactory GetEngineFactory() { return g_factory.load(); }
void SetHardwareAcceleratedHook(THardwareTest test) { g_hardware.store(test ? test : &NotAccelerated); }
bool IsHardwareAccelerated() { return g_hardware.load()(); }

}  // namespace render3d
