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

// The colour set-up replaces the display profile while loader threads ask for
// it and make transforms to it: each reader holds a reference of its own, so
// a profile replaced under a reader stays whole until the reader lets go,
// and every replaced profile is released in the end.
TEST(ColorProfileThreads, DisplayProfileSwappedWhileLoadersReadIt) {
  constexpr int kReaders = 4;
  constexpr int kSwaps = 300;
  const int before = foundation::LiveObjectCount();
  const std::vector<uint8_t> bytes = AdobeRGBColorProfile->Data;
  std::atomic<bool> done{false};
  std::atomic<int> started{0};
  std::atomic<long> reads{0}, transforms{0}, bad{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t)
    readers.emplace_back([&, t] {
      started.fetch_add(1);
      // Until the swaps end, then 50 more reads of the last profile.
      for (int i = 0, after = 0; after < 50; ++i) {
        if (done.load()) ++after;
        foundation::TRef<TColorProfile> p = GetDisplayColorProfile();
        // A freed profile would have lost its bytes and name.
        if (!p || p->Data != bytes || p->Name.rfind(u"display ", 0) != 0) {
          if (p.Get() != SRGBColorProfile) bad.fetch_add(1);
        }
        reads.fetch_add(1);
        if ((i + t) % 8 == 0) {
          TColorTransform* tr = GetColorTransform(SRGBColorProfile, nullptr);
          if (tr) {
            if (!tr->Destination || tr->Destination->Data.empty()) bad.fetch_add(1);
            tr->Free();
            transforms.fetch_add(1);
          }
        }
      }
    });
  while (started.load() < kReaders) std::this_thread::yield();
  for (int i = 0; i < kSwaps; ++i) {
    auto* fresh = CreateColorProfileFromBytes(bytes, u"display " + std::u16string(1, char16_t(u'0' + i % 10)));
    ASSERT_NE(fresh, nullptr);
    SetDisplayColorProfile(fresh, true);  // the only reference now belongs to the setting
  }
  done.store(true);
  for (auto& th : readers) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GE(reads.load(), kReaders * 50L);
  EXPECT_GT(transforms.load(), 0);
  SetDisplayColorProfile(nullptr, false);
  EXPECT_EQ(foundation::LiveObjectCount(), before);
}
