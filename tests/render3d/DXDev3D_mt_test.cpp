// The 3D layer with real threads (also run under ThreadSanitizer): a texture
// created and filled on a worker while the main thread draws is drawn with
// its new texels, never stale ones; renderers made off the main thread are
// served by the posted request; a full-screen device released off the main
// thread is destroyed on it.
#include "Render3DTestEnv.h"

#include <atomic>
#include <mutex>
#include <thread>

using namespace render3d;
using namespace render3d_test;
namespace gpu = platform::gpu;

namespace {

TEST(DXDev3DThreads, WorkerFilledTextureIsDrawnWithItsNewTexels) {
  TTarget t;
  t.Open(16, 16);
  T3DRenderer* r = t.Renderer;
  T3DVertexList* quad = Quad(r, 0, 0, 16, 16, 0xFFFFFFFF);
  ASSERT_NE(quad, nullptr);
  constexpr int kRounds = 6;
  std::mutex m;
  T3DTexture* published = nullptr;
  uint32_t publishedColor = 0;
  std::atomic<int> step{0};  // the worker's next step: even = fill, odd = wait for the main thread
  std::atomic<bool> failed{false};

  std::thread worker([&] {
    T3DTexture* tex = nullptr;
    for (int i = 0; i < kRounds * 2; ++i) {
      while (step.load() != 2 * i) std::this_thread::yield();
      uint32_t color = 0xFF000000u | uint32_t(i * 40 + 10) << 16 | uint32_t(255 - i * 20) << 8 | uint32_t(i * 7);
      if (i % 2 == 0) {
        tex = r->CreateTexture(tkArgb, 16, 16, false);  // a new texture every other round
        if (!tex) failed = true;
      }
      if (tex && !Fill(tex, 16, 16, std::vector<uint32_t>(256, color))) failed = true;
      {
        std::lock_guard<std::mutex> g(m);
        published = tex;
        publishedColor = color;
      }
      step.store(2 * i + 1);
    }
  });

  int frames = 0;
  for (int i = 0; i < kRounds * 2 && !failed; ++i) {
    // Frames go on while the worker fills.
    while (step.load() != 2 * i + 1) {
      ASSERT_TRUE(r->BeginScene());
      ASSERT_TRUE(r->Clear({}, 0, 0xFF000000, 0, 1));
      ASSERT_TRUE(r->EndScene());
      ++frames;
      std::this_thread::yield();
    }
    T3DTexture* tex;
    uint32_t color;
    {
      std::lock_guard<std::mutex> g(m);
      tex = published;
      color = publishedColor;
    }
    ASSERT_NE(tex, nullptr);
    TBaseTexture* arr[] = {tex};
    ASSERT_TRUE(r->BeginScene());
    ASSERT_TRUE(r->DrawVertexList(arr, 1, quad, dfTextures | dfModulateColor | dfModulateAlpha));
    ASSERT_TRUE(r->EndScene());
    auto px = ReadBack(t.Back());
    EXPECT_EQ(px[0], color) << "round " << i;
    EXPECT_EQ(px[255], color) << "round " << i;
    if (i % 2 == 1) tex->Free();  // the worker moves on to a new texture
    step.store(2 * i + 2);
  }
  worker.join();
  EXPECT_FALSE(failed);
  EXPECT_GT(frames, 0);
  quad->Free();
  t.Close();
}

TEST(DXDev3DThreads, RendererMadeOffTheMainThreadIsServedByTheRequest) {
  TTarget T;
  T.Open(16, 16);
  T3DRenderer* made = nullptr;
  std::thread worker([&] { made = T.Engine->CreateRenderer(T.Device, T.Params); });
  worker.join();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->State, rsCreationPending);
  EXPECT_FALSE(made->BeginScene());
  Events()->ProcessAllPosted();
  EXPECT_EQ(made->State, rsReady);
  EXPECT_TRUE(made->BeginScene());
  EXPECT_TRUE(made->EndScene());
  made->Free();
  // Disposed before the main thread came to it: nothing is created.
  std::thread second([&] { made = T.Engine->CreateRenderer(T.Device, T.Params); });
  second.join();
  made->Free();
  size_t renderers = T.Device->FindMessenger<TDevStore>()->Renderers.size();
  Events()->ProcessAllPosted();
  EXPECT_EQ(T.Device->FindMessenger<TDevStore>()->Renderers.size(), renderers);
  T.Close();
}


// A full-screen renderer disposed on a worker: the device travels to the main
// thread in a release request, which destroys it once nobody else holds it
// and puts the window back where it was.
TEST(FullScreenRelease, DeviceIsReleasedAndWindowPlacedOnTheMainThread) {
  struct Placement {
    uintptr_t window;
    TRect rect;
    bool show;
  };
  std::vector<Placement> placed;
  SetWindowPlacementHook([&](uintptr_t w, const TRect& r, bool show) {
    placed.push_back({w, r, show});
    return true;
  });
  bool savedExclusive = ExclusiveAllowed.load();
  ExclusiveAllowed = false;  // full screen then means a window over the monitor
  auto* engine = static_cast<T3DEngine9*>(CreateDXEngine());
  auto* target = new TDrawDevice(5);
  target->SetBounds({0, 0, 32, 16}, {0, 0}, true);
  TRendererParams params;
  ASSERT_TRUE(engine->GetDisplayMode(params.Mode, 0));
  params.Mode.MonitorRect = {0, 0, 40, 30};
  auto* renderer = static_cast<T3DRenderer9*>(engine->CreateRenderer(target, params));
  ASSERT_NE(renderer, nullptr);
  ASSERT_EQ(placed.size(), 1u);  // placed over the monitor, shown
  EXPECT_TRUE(placed[0].show);
  EXPECT_EQ(placed[0].rect.Right, 40);
  EXPECT_FALSE(renderer->Exclusive);
  int32_t w = 0, h = 0;
  renderer->BackBuffer->GetSize(w, h);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  TDevStore* store = target->FindMessenger<TDevStore>();
  gpu::Device* device = store->Device;
  device->addRef();  // another holder: the release waits for it
  std::thread worker([&] { renderer->Free(); });
  worker.join();
  EXPECT_EQ(store->Device, nullptr);
  EXPECT_EQ(placed.size(), 1u);  // nothing placed off the main thread
  std::thread holder([&] {
    std::this_thread::yield();
    device->release();  // the last other holder lets go while the main thread waits
  });
  Events()->ProcessAllPosted();
  holder.join();
  ASSERT_EQ(placed.size(), 2u);
  EXPECT_EQ(placed[1].window, 5u);
  EXPECT_FALSE(placed[1].show);
  EXPECT_EQ(placed[1].rect.Right, 40);
  target->Free();
  engine->Free();
  SetWindowPlacementHook(nullptr);
  ExclusiveAllowed = savedExclusive;
}

}  // namespace

namespace {

// The probe asks for a reset: a worker posts it to the main thread and counts
// the display as usable for now; on the main thread the reset's answer decides.
TEST(DXDev3DThreads, ProbeResetRunsOnTheMainThread) {
  TTarget t;
  t.Open(8, 8);
  gpu::injectGpuFault(gpu::GpuCall::CheckDeviceState, gpu::D3DERR_DEVICENOTRESET);
  bool usable = false;
  std::thread worker([&] { usable = t.Engine->CheckDevice(); });
  worker.join();
  EXPECT_TRUE(usable);
  EXPECT_EQ(Events()->QueuedCount(), 1);
  gpu::injectGpuFault(gpu::GpuCall::Reset, gpu::E_FAIL);  // used up only by a reset
  Events()->ProcessAllPosted();
  EXPECT_EQ(gpu::pendingGpuFaults(), 0);
  gpu::injectGpuFault(gpu::GpuCall::CheckDeviceState, gpu::D3DERR_DEVICENOTRESET);
  gpu::injectGpuFault(gpu::GpuCall::Reset, gpu::E_FAIL);
  EXPECT_FALSE(t.Engine->CheckDevice());
  EXPECT_TRUE(t.Engine->CheckDevice());
  t.Close();
}

}  // namespace
