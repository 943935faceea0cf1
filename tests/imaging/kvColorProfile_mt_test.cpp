#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ImagingTestEnv.h"
#include "imaging/kvColorProfile.h"

using namespace imaging;

// Threads converting colours through a fresh profile share one table, built once.
TEST(ColorProfileThreads, TableBuiltOnceUnderLoad) {
  TColorProfile* p = CreateColorProfileFromBytes(AdobeRGBColorProfile->Data, u"copy");
  constexpr int kThreads = 6;
  std::vector<std::vector<TFColor>> results(kThreads);
  std::vector<TSysBitmap*> tables(kThreads);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int v = 0; v < 256; v += 5) {
        TFColor r{};
        p->TransformColor(r, TFColor{uint8_t(v), uint8_t(255 - v), uint8_t(v / 2)});
        results[t].push_back(r);
      }
      tables[t] = p->Table;
    });
  for (auto& th : threads) th.join();
  ASSERT_NE(tables[0], nullptr);
  for (int t = 1; t < kThreads; ++t) {
    EXPECT_EQ(tables[t], tables[0]);
    ASSERT_EQ(results[t].size(), results[0].size());
    for (size_t i = 0; i < results[0].size(); ++i) {
      EXPECT_EQ(results[t][i].B, results[0][i].B);
      EXPECT_EQ(results[t][i].R, results[0][i].R);
    }
  }
  p->Free();
}
