// Loader threads asking for the same files at once: each file decodes once
// and every thread gets an image on the one store.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "AccessTestEnv.h"
#include "tests/support/TempTree.h"

namespace {

using foundation::TRef;

TEST(ImageHandlesThreads, ConcurrentRequestsShareOneDecodePerFile) {
  qeltest::TempTree t;
  const int kFiles = 5, kThreads = 8;
  for (int f = 0; f < kFiles; ++f) t.write("p" + std::to_string(f) + ".fake", "FAKE 64 64 " + std::to_string(f));
  TRef<container::TRealFileSource> source = TRef<container::TRealFileSource>::Adopt(new container::TRealFileSource());
  TRef<container::TFileAccessor> accessor =
      TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(source.Get()));
  const int before = accesstest::gFakeDecodes.load();
  std::vector<std::vector<imaging::TImage*>> got(kThreads);
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k)
    threads.emplace_back([&, k] {
      for (int round = 0; round < 20; ++round)
        for (int f = 0; f < kFiles; ++f) {
          const int file = (f + k) % kFiles;
          imaging::TImage* image = container::TFileAccessor::LoadImage(
              accessor.Get(), t.internal("p" + std::to_string(file) + ".fake"));
          if (round == 0)
            got[k].push_back(image);
          else
            image->Free();  // released at once: the handle stays alive through round 0's images
        }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(accesstest::gFakeDecodes.load(), before + kFiles);
  for (int k = 0; k < kThreads; ++k) {
    ASSERT_EQ(got[k].size(), static_cast<size_t>(kFiles));
    for (imaging::TImage* image : got[k]) {
      // Every thread's image of a file shares the store of thread 0's image of it.
      bool found = false;
      for (imaging::TImage* mine : got[0]) found = found || mine->Store == image->Store;
      EXPECT_TRUE(found);
    }
  }
  for (auto& list : got)
    for (imaging::TImage* image : list) image->Free();
  EXPECT_EQ(container::LiveImageHandleCount(), 0);
}

}  // namespace
