#include "platform/gpu/api.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace platform::gpu {

namespace {
std::atomic<GpuBackend*> g_backend{nullptr};
std::mutex g_hookLock;
NativeWindowHook* g_windowHook = new NativeWindowHook();
RequestWakeupHook* g_wakeupHook = new RequestWakeupHook();
}  // namespace

uint32_t formatBytes(uint32_t format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      return 2;
    case D3DFMT_A8:
    case D3DFMT_L8:
      return 1;
    case D3DFMT_A16B16G16R16:
      return 8;
    default:
      return 0;
  }
}

GpuBackend* setGpuBackend(GpuBackend* backend) { return g_backend.exchange(backend); }

GpuBackend* currentGpuBackend() {
  GpuBackend* b = g_backend.load(std::memory_order_acquire);
  return b ? b : linuxGpuBackend();
}

Direct3D* direct3DCreate9Ex(uint32_t sdkVersion) {
  const char* no3d = std::getenv("QEL_NO_3D");
  if (no3d && *no3d && *no3d != '0') return nullptr;
  return currentGpuBackend()->createDirect3D(sdkVersion);
}

void drainRequests() { currentGpuBackend()->drainRequests(); }

void setNativeWindowHook(NativeWindowHook hook) {
  std::lock_guard<std::mutex> guard(g_hookLock);
  *g_windowHook = std::move(hook);
}

void* nativeWindowFor(uintptr_t handle) {
  NativeWindowHook hook;
  {
    std::lock_guard<std::mutex> guard(g_hookLock);
    hook = *g_windowHook;
  }
  return hook && handle ? hook(handle) : nullptr;
}

void setRequestWakeupHook(RequestWakeupHook hook) {
  std::lock_guard<std::mutex> guard(g_hookLock);
  *g_wakeupHook = std::move(hook);
}

// Used by the backends when they queue work for the main thread.
void requestWakeup() {
  RequestWakeupHook hook;
  {
    std::lock_guard<std::mutex> guard(g_hookLock);
    hook = *g_wakeupHook;
  }
  if (hook) hook();
}

}  // namespace platform::gpu
