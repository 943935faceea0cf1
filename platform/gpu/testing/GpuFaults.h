// Fault injection for the graphics device: "the next n calls of this kind
// answer this code". OpenGL never loses its device and rarely runs out of
// memory, so the loss, reset and out-of-memory paths of the 3D layer run only
// through this hook. Process-wide; a test clears it when it ends.
#pragma once

#include <cstdint>

#include "platform/gpu/api.h"

namespace platform::gpu {

enum class GpuCall : uint8_t {
  Any,  // matches every call below
  CreateDevice,
  Reset,
  CheckDeviceState,
  GetDeviceCaps,
  GetAdapterIdentifier,
  GetAdapterDisplayMode,
  CheckDeviceFormat,
  CreateSwapChain,
  GetBackBuffer,
  Present,
  BeginScene,
  EndScene,
  Clear,
  SetRenderTarget,
  SetViewport,
  SetState,  // render, sampler and texture-stage states, FVF, stream source
  SetTexture,
  SetTransform,
  DrawPrimitive,
  UpdateTexture,
  StretchRect,
  GetRenderTargetData,
  CreateSurface,
  CreateTexture,
  CreateVolumeTexture,
  CreateVertexBuffer,
  CreateShader,
  SetShader,
  SetShaderConstants,
  GetSurfaceLevel,
  LockRect,
  UnlockRect,
  LockBox,
  UnlockBox,
  LockVertexBuffer,
  UnlockVertexBuffer,
};

// The next `count` calls of that kind answer `code` without doing anything.
void injectGpuFault(GpuCall call, HRESULT code, int count = 1);
void clearGpuFaults();
// How many injected answers are still waiting.
int pendingGpuFaults();

// Used by the backends: the injected answer for this call, or S_OK.
HRESULT takeGpuFault(GpuCall call);

}  // namespace platform::gpu
