// The shared music-icon stores under concurrent requests and releases: a
// store being released is never handed out again, and every reference a
// thread gets stays valid until it releases it.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "decoders/SysMusIcoLoader.h"
#include "decoders/SysPngLoader.h"
#include "tests/decoders/DecodersTestEnv.h"

using namespace decoders;

namespace {

bool Registered(imaging::TImageLoaderFunc f) {
  for (const auto& e : imaging::ImageLoaders())
    if (e.Loader == f) return true;
  return false;
}

TEST(MusicIconThreads, RequestsAndReleasesRace) {
  if (!Registered(&LoadPngBitmapStore)) InitSysPngLoader();
  if (!Registered(&LoadMusicIconBitmapStore)) InitSysMusIcoLoader();
  const std::u16string names[] = {u"a.mp3", u"b.MP3", u"c.wav"};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      imaging::TLevelProvider none;
      for (int i = 0; i < 200; ++i) {
        auto* s = new foundation::TMemoryStream();
        imaging::TBitmapStore* store = LoadMusicIconBitmapStore(s, names[(t + i) % 3], true, none);
        if (!store || store->RefCount() < 2) failures++;
        if (i % 16 == 0) {
          imaging::TBitmap* b = store->GetBitmap(0, nullptr, nullptr);
          if (!b || b->Width != 256) failures++;
        }
        store->Free();
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  DoneSysMusIcoLoader();
}

}  // namespace
