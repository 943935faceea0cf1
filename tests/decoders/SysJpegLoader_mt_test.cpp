// Decoders on several threads at once: each store decodes with its own
// decompressor, so stores of the same file on different threads give the same
// pixels, and the LittleCMS table is made once however many threads ask.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "decoders/SysJpegLoader.h"
#include "decoders/LcmsTable.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/JpegMaker.h"

namespace {

using decoders_test::Released;
using decoders_test::StreamOf;

TEST(JpegThreads, StoresOnSeveralThreadsDecodeTheSamePixels) {
  const testsupport::Bytes jpeg = testsupport::MakeJpeg(testsupport::JpegSpec{200, 120, 3, 85, true, 0, true});
  const auto ref = testsupport::DecodeJpegReference(jpeg, 1);
  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      int bad = 0;
      for (int round = 0; round < 5; ++round) {
        Released<foundation::TMemoryStream> s(StreamOf(jpeg));
        imaging::TLevelProvider none;
        Released<imaging::TBitmapStore> store(decoders::LoadJpegBitmapStore(s.get(), u"t.jpg", false, none));
        if (!store.get()) {
          ++bad;
          continue;
        }
        auto* b = dynamic_cast<imaging::TSysBitmap*>(
            store->GetBitmap(1, imaging::pfR8G8B8, imaging::TSysBitmap::StaticClass()));
        if (!b || b->Width != ref.width || b->Height != ref.height) {
          ++bad;
          continue;
        }
        for (int y = 0; y < ref.height; ++y)
          for (int x = 0; x < ref.width; ++x) {
            const uint8_t* p = b->Row(y) + x * 3;
            const uint8_t* r = &ref.pixels[(size_t(y) * ref.width + x) * 3];
            bad += !(p[0] == r[2] && p[1] == r[1] && p[2] == r[0]);
          }
      }
      mismatches[t] = bad;
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << t;
}

TEST(JpegThreads, OneLcmsTableForAllThreads) {
  decoders::DoneLcms2();  // start without a table
  const int32_t before = decoders::LcmsDllInstancesMade();
  std::vector<decoders::TLcmsDll*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&, t] { seen[t] = decoders::GetLcmsDll(false); });
  for (auto& th : threads) th.join();
  EXPECT_EQ(decoders::LcmsDllInstancesMade(), before + 1);
  for (auto* p : seen) EXPECT_EQ(p, seen[0]);
}

}  // namespace
