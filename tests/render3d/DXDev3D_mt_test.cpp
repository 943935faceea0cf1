// A texture created and filled on a worker thread while the main thread
// draws frames: the main thread's next draw of it shows its new texels,
// never stale ones (also run under ThreadSanitizer).
#include "Render3DTestEnv.h"

#include <atomic>
#include <mutex>
#include <thread>

using namespace render3d;
using namespace render3d_test;

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

}  // namespace
