#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ImagingTestEnv.h"
#include "imaging/SysPixelFormat.h"

using namespace imaging;

// Threads racing for the same new names and converters all receive one object each.
TEST(PixelFormatThreads, SameNewNameGivesOneObject) {
  constexpr int kThreads = 8, kNames = 32;
  std::vector<std::vector<TPixelFormat*>> seen(kThreads, std::vector<TPixelFormat*>(kNames));
  std::vector<std::vector<TPixelConverter*>> convs(kThreads, std::vector<TPixelConverter*>(kNames));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kNames; ++i) {
        std::u16string name = u"Y";
        for (char c : std::to_string(i + 1)) name += char16_t(c);
        seen[t][i] = PixelFormatByName(name);
        convs[t][i] = PixelConverter(pfA8R8G8B8, seen[t][i]);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t)
    for (int i = 0; i < kNames; ++i) {
      EXPECT_EQ(seen[t][i], seen[0][i]);
      EXPECT_EQ(convs[t][i], convs[0][i]);
    }
}
