// Starts what the 3D layer needs once per test program: the main thread, the
// bitmap library, the Direct3D layer on the platform's offscreen GL backend
// (SDL's offscreen video driver, EGL on llvmpipe, where no driver is chosen)
// and a posting list standing in for the application's, drained by the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/kvEventList.h"
#include "imaging/Startup.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvPixelFormat.h"
#include "platform/gpu/api.h"
#include "platform/gpu/testing/GpuFaults.h"
#include "render3d/DXDev3D.h"
#include "render3d/Startup.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#if defined(__SANITIZE_THREAD__)
// Mesa's software rasteriser runs its own threads and JIT inside libraries
// the sanitizer does not instrument; their internal locking is not ours to
// check.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:swrast_dri.so\n"
         "called_from_lib:libLLVM-15.so.1\n"
         "race:swrast_dri.so\n"
         "race:libLLVM\n"
         "deadlock:swrast_dri.so\n"
         "deadlock:libLLVM\n"
         // The JIT registers its code's unwind tables under libgcc's lock.
         "called_from_lib:libgcc_s.so.1\n"
         "deadlock:__register_frame_info_bases\n"
         "deadlock:__deregister_frame_info_bases\n";
}
#endif

namespace render3d_test {

// The application's list, run by the test on the main thread.
class TTestEvents : public foundation::TPostEventListEx {
 public:
  TTestEvents() : TPostEventListEx(64, 1) {}
  bool WakeUp(int32_t) override { return true; }
};

inline TTestEvents*& Events() {
  static TTestEvents* events = nullptr;
  return events;
}

class Render3DEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    platform::gpu::setGpuBackend(platform::gpu::offscreenGpuBackend());
    // The bitmap library outlives the engine: the posted requests drained
    // below still release textures.
    imaging::StartImaging();
    Events() = new TTestEvents();
    render3d::SetRequestEventList(Events());
    render3d::StartRender3D();
  }
  void TearDown() override {
    render3d::StopRender3D();
    render3d::SetRequestEventList(nullptr);
    Events()->ProcessAllPosted();
    Events()->Free();
    Events() = nullptr;
    imaging::StopImaging();
#if defined(__SANITIZE_ADDRESS__)
    // The leak check runs here, once, while the GL driver's worker threads
    // sit idle: at exit the driver's own teardown ends them while the check
    // stops the world, and the check's tracer then crashes now and then.
    __lsan_do_leak_check();
#endif
  }
};

inline const ::testing::Environment* const kRender3DEnv =
    ::testing::AddGlobalTestEnvironment(new Render3DEnvironment);

// Maps pixel coordinates (x right, y down) to Direct3D's device coordinates.
inline std::vector<float> PixelProjection(float w, float h) {
  return {2 / w, 0, 0, 0, 0, -2 / h, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
}

inline render3d::T3DVertex Vertex(float x, float y, uint32_t color, float u, float v) {
  render3d::T3DVertex r;
  r.X = x;
  r.Y = y;
  r.Diffuse = color;
  r.TexCoords[0][0] = u;
  r.TexCoords[0][1] = v;
  return r;
}

// The surface's pixels as 0xAARRGGBB, rows from the top (read with CopyTo).
inline std::vector<uint32_t> ReadBack(render3d::T3DSurface* surface) {
  int32_t w = 0, h = 0;
  surface->GetSize(w, h);
  imaging::TSysBitmap* bmp = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(u"A8R8G8B8"));
  EXPECT_TRUE(surface->CopyTo(bmp));
  std::vector<uint32_t> px(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y) std::memcpy(&px[size_t(y) * w], bmp->Row(y), size_t(w) * 4);
  bmp->Free();
  return px;
}

// Writes 0xAARRGGBB pixels into level 0 of a texture through a lock.
inline bool Fill(render3d::T3DTexture* tex, int32_t w, int32_t h, const std::vector<uint32_t>& px) {
  render3d::T3DSurface* s = tex->GetSurface(0);
  if (!s) return false;
  imaging::TBitmap* bmp = s->Lock({0, 0, w, h}, false);
  if (!bmp) return false;
  auto* sys = static_cast<imaging::TSysBitmap*>(bmp);
  for (int32_t y = 0; y < h; ++y) std::memcpy(sys->Row(y), &px[size_t(y) * w], size_t(w) * 4);
  return s->Unlock(bmp);
}

// A renderer on an offscreen target of w x h.
struct TTarget {
  render3d::T3DEngine9* Engine = nullptr;
  render3d::TRendererDevice* Device = nullptr;
  render3d::T3DRenderer9* Renderer = nullptr;
  render3d::TRendererParams Params;
  int32_t Width = 0, Height = 0;

  void Open(int32_t w, int32_t h) {
    Width = w;
    Height = h;
    Engine = static_cast<render3d::T3DEngine9*>(render3d::CreateDXEngine());
    ASSERT_NE(Engine, nullptr);
    Device = Engine->CreateOffscreenDevice(w, h);
    ASSERT_TRUE(Engine->GetDisplayMode(Params.Mode, 0));
    MakeRenderer();
  }
  void MakeRenderer() {
    Renderer = static_cast<render3d::T3DRenderer9*>(Engine->CreateRenderer(Device, Params));
    ASSERT_NE(Renderer, nullptr);
    ASSERT_EQ(Renderer->State, render3d::rsReady);
    auto proj = PixelProjection(static_cast<float>(Width), static_cast<float>(Height));
    ASSERT_TRUE(Renderer->SetTransform(2, proj.data()));
  }
  void Close() {
    if (Renderer) Renderer->Free();
    Renderer = nullptr;
    if (Device) Device->Free();
    Device = nullptr;
    if (Engine) Engine->Free();
    Engine = nullptr;
    platform::gpu::clearGpuFaults();
  }
  render3d::T3DSurface* Back() {
    render3d::T3DSurface* s = nullptr;
    EXPECT_TRUE(Renderer->GetBackBuffer(s));
    return s;
  }
};

// A quad over pixels [x0, x1) x [y0, y1), texture coordinates 0..1,
// vertices half a pixel before the centres (the texel offset).
inline render3d::T3DVertexList* Quad(render3d::T3DRenderer* r, float x0, float y0, float x1, float y1,
                                     uint32_t color) {
  render3d::T3DVertexList* vl = r->CreateVertexList(4, render3d::vcDiffuse, 1);
  if (!vl) return nullptr;
  auto off = r->GetTexelOffset();
  std::vector<render3d::T3DVertex> v = {Vertex(x0 - off.X, y0 - off.Y, color, 0, 0),
                                        Vertex(x1 - off.X, y0 - off.Y, color, 1, 0),
                                        Vertex(x0 - off.X, y1 - off.Y, color, 0, 1),
                                        Vertex(x1 - off.X, y1 - off.Y, color, 1, 1)};
  vl->SetVertices(0, v, 0, 4);
  vl->SetFormat(0, 2, render3d::pkTriangleStrip);
  return vl;
}

}  // namespace render3d_test
