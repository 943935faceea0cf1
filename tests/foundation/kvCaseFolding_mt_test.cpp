#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "foundation/kvCaseFolding.h"

using namespace foundation;

// The table fills on first use; threads that race for that first use all see
// it complete.
TEST(CaseFoldingThreads, FirstUseFromManyThreads) {
  DoneCaseFolding();
  std::atomic<int> go{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      ++go;
      while (go.load() < 8) std::this_thread::yield();
      for (int i = 0; i < 200; ++i) {
        if (!SameText(u"STRA\u1E9EE \U00010400", u"stra\u00DFe \U00010428")) ++wrong;
        if (FoldCodePoint(0x212A) != u'k') ++wrong;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}
