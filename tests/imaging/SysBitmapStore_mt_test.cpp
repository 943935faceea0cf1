#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "ImagingTestEnv.h"
#include "imaging/SysBitmapStore.h"

using namespace imaging;

// Threads asking one store for the same deep level get one bitmap; the level
// lock is re-entrant, so producing it may ask for the levels above.
TEST(MipStoreThreads, LevelProducedOnce) {
  TSysBitmap* b = CreateSysBitmap(64, 48, pfA8R8G8B8);
  std::mt19937 rng(3);
  for (int y = 0; y < 48; ++y)
    for (int i = 0; i < 256; ++i) b->Row(y)[i] = uint8_t(rng());
  auto* store = new TWrapperBitmapStore(u"t", b, true, {});
  constexpr int kThreads = 6;
  std::vector<TBitmap*> got(kThreads * 2);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      got[size_t(2 * t)] = store->GetBitmap(4, nullptr, nullptr);
      got[size_t(2 * t + 1)] = store->GetBitmap(2, pfA8r8g8b8, nullptr);
    });
  for (auto& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t) {
    EXPECT_EQ(got[size_t(2 * t)], got[0]);
    EXPECT_EQ(got[size_t(2 * t + 1)], got[1]);
  }
  EXPECT_EQ(got[0]->Width, 4);
  store->Free();
}
