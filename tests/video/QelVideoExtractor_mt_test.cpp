// The frame extractor against a fake source on its real worker thread: the
// frame of a time, the nearest image, the next wanted frame, seeks, content
// lost, a stop while the worker positions, an empty pool after positioning.
#include "video/QelVideoExtractor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/video/VideoTestEnv.h"

using namespace video;

namespace {

// Writes the frame index into the first luma byte; SetPosition can be held
// at a gate to stand for a long decode.
class FakeSource : public TFrameSource {
 public:
  FakeSource(int32_t frames, double rate) {
    Params.FrameCount = frames;
    Params.FrameRate = rate;
  }
  bool SetPosition(int32_t index) override {
    std::unique_lock<std::mutex> l(mu);
    positions.push_back(index);
    entered.notify_all();
    gateCv.wait(l, [&] { return gateOpen; });
    current = index;
    return true;
  }
  bool GetFrameYUV(TYUVImage* image) override {
    std::lock_guard<std::mutex> l(mu);
    ++decodes;
    auto* m = static_cast<TMemoryYUVImage*>(image);
    m->Row(kPlaneY, 0)[0] = static_cast<uint8_t>(current);
    return true;
  }
  bool GetFrameBitmap(imaging::TSysBitmap*) override { return false; }
  void Close() {
    std::lock_guard<std::mutex> l(mu);
    gateOpen = false;
  }
  void Open() {
    std::lock_guard<std::mutex> l(mu);
    gateOpen = true;
    gateCv.notify_all();
  }
  bool WaitPositioned(int32_t index) {
    std::unique_lock<std::mutex> l(mu);
    return entered.wait_for(l, std::chrono::seconds(10), [&] {
      for (int32_t p : positions)
        if (p == index) return true;
      return false;
    });
  }
  int Decodes() {
    std::lock_guard<std::mutex> l(mu);
    return decodes;
  }

  std::mutex mu;
  std::condition_variable entered, gateCv;
  bool gateOpen = true;
  std::vector<int32_t> positions;
  int32_t current = -1;
  int decodes = 0;
};

template <class F>
bool WaitUntil(F pred) {
  for (int i = 0; i < 2000; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

struct Fixture {
  FakeSource* source;
  TQelVideoExtractor* ext;
  explicit Fixture(int32_t frames = 100, double rate = 25) : source(new FakeSource(frames, rate)) {
    ext = new TQelVideoExtractor(source, true);
  }
  ~Fixture() {
    source->Open();
    ext->Stop();
    ext->WaitFinished();
    ext->Free();
  }
  TMemoryYUVImage* Image() { return new TMemoryYUVImage(4, 4); }
  void Put(int32_t frame, TMemoryYUVImage* img = nullptr) {
    TVideoItem it{img ? img : Image(), kNoFrame, frame};
    ext->PutBack(it);
  }
  int32_t HeldBy(int32_t frame) {
    for (int32_t i = 0; i < ext->GetItemCount(); ++i)
      if (ext->GetItemFrame(i) == frame) return i;
    return -1;
  }
};

TEST(VideoExtractor, FrameOfATimeAndItsTimeRange) {
  Fixture f;
  struct Case {
    double ms;
    int32_t frame;
  } cases[] = {{1000, 25}, {20, 0}, {60, 2}, {-500, 0}, {5200, 99}, {3979, 99}};
  for (auto c : cases) EXPECT_EQ(f.ext->FrameIndexAt(c.ms), c.frame) << c.ms;
  f.ext->Loop = true;
  EXPECT_EQ(f.ext->FrameIndexAt(5200), 30);  // frame 130 of 100
  auto range = f.ext->GetFrameTimeRange(10);
  EXPECT_DOUBLE_EQ(range.first, 380);
  EXPECT_DOUBLE_EQ(range.second, 420);
  Fixture none(0, 25);
  EXPECT_EQ(none.ext->FrameIndexAt(100), -1);
}

TEST(VideoExtractor, TakeFrameChoosesTheNearestAndTheEarlierOfEqualDistances) {
  for (bool eightFirst : {true, false}) {
    Fixture f;
    f.source->Close();  // the worker waits at its first positioning
    f.Put(eightFirst ? 8 : 12);
    f.Put(eightFirst ? 12 : 8);
    TVideoItem item;
    EXPECT_FALSE(f.ext->TakeFrame(item, 400, 0));  // frame 10
    ASSERT_NE(item.Image, nullptr);
    EXPECT_EQ(item.Frame, 8);
    EXPECT_EQ(item.Requested, 10);
    EXPECT_EQ(f.ext->GetItemCount(), 1);
    f.ext->PutBack(item);
    EXPECT_EQ(item.Image, nullptr);
    EXPECT_EQ(f.ext->GetItemCount(), 2);
  }
  Fixture empty;
  TVideoItem item;
  EXPECT_FALSE(empty.ext->TakeFrame(item, 400, 25));
  EXPECT_EQ(item.Image, nullptr);
}

TEST(VideoExtractor, TheNextWantedFrameFollowsTheCallersRate) {
  struct Case {
    double rate;
    int32_t next;
  } cases[] = {{25, 11}, {5, 15}, {0, 11}, {100, 11}};
  for (auto c : cases) {
    Fixture f;
    f.Put(10);
    f.Put(30);
    TVideoItem item;
    EXPECT_TRUE(f.ext->TakeFrame(item, 400, c.rate));
    EXPECT_EQ(item.Frame, 10);
    ASSERT_TRUE(f.source->WaitPositioned(c.next)) << c.rate;
    // The worker fills the image farthest from the wanted frame (30).
    ASSERT_TRUE(WaitUntil([&] { return f.HeldBy(c.next) >= 0; }));
    EXPECT_EQ(f.HeldBy(30), -1);
    f.ext->PutBack(item);
  }
}

TEST(VideoExtractor, ASeekWaitsForTheFrameAndTheImageHoldsIt) {
  Fixture f;
  auto* a = f.Image();
  auto* b = f.Image();
  a->_AddRef();
  b->_AddRef();
  f.ext->AddImage(a);
  f.ext->AddImage(b);
  a->Free();
  b->Free();
  f.ext->Seek(800, true);
  int32_t i = f.HeldBy(20);
  ASSERT_GE(i, 0);
  TVideoItem item;
  EXPECT_TRUE(f.ext->TakeFrame(item, 800, 25));
  EXPECT_EQ(static_cast<TMemoryYUVImage*>(item.Image)->Row(kPlaneY, 0)[0], 20);
  f.ext->PutBack(item);
  a->Free();
  b->Free();
}

TEST(VideoExtractor, ALostImageRequestsItsFrameAgain) {
  Fixture f;
  auto* img = f.Image();
  img->_AddRef();
  f.ext->AddImage(img);
  img->Free();
  f.ext->Seek(200, true);  // frame 5
  ASSERT_EQ(f.ext->GetItemFrame(0), 5);
  int decodes = f.source->Decodes();
  img->Row(kPlaneY, 0)[0] = 0;
  img->ContentLost.store(true);
  img->OnContentLost(img);
  ASSERT_TRUE(WaitUntil([&] { return f.source->Decodes() > decodes && f.ext->GetItemFrame(0) == 5; }));
  EXPECT_FALSE(img->ContentLost.load());
  EXPECT_EQ(img->Row(kPlaneY, 0)[0], 5);
  img->Free();
}

TEST(VideoExtractor, LostImagesAreReusedFirstWhateverTheirDistance) {
  Fixture f;
  auto* lost = f.Image();
  lost->ContentLost.store(true);
  f.Put(50);
  f.Put(kNoFrame, lost);
  f.ext->Seek(400, true);  // frame 10: the lost image is the farthest
  EXPECT_GE(f.HeldBy(50), 0);
  EXPECT_GE(f.HeldBy(10), 0);
  EXPECT_EQ(f.HeldBy(kLostFrame), -1);
  EXPECT_FALSE(lost->ContentLost.load());
}

TEST(VideoExtractor, StopWhileTheWorkerPositions) {
  Fixture f;
  f.Put(kNoFrame);
  f.source->Close();
  f.ext->Seek(400, false);
  ASSERT_TRUE(f.source->WaitPositioned(10));
  f.ext->Stop();
  EXPECT_EQ(f.ext->GetItemCount(), 0);
  f.source->Open();
  f.ext->WaitFinished();
  EXPECT_TRUE(WaitUntil([&] { return f.ext->WorkerDone; }));
  EXPECT_EQ(f.source->Decodes(), 0);
}

TEST(VideoExtractor, AnEmptyPoolAfterPositioningWaitsForAnImage) {
  Fixture f;
  f.Put(kNoFrame);
  f.source->Close();
  f.ext->Seek(800, false);  // frame 20
  ASSERT_TRUE(f.source->WaitPositioned(20));
  TVideoItem item;
  f.ext->TakeFrame(item, 800, 25);  // the render side holds the only image; wants 21 next
  ASSERT_NE(item.Image, nullptr);
  // The worker finishes positioning with no image to fill, and waits.
  f.source->Open();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(f.ext->WorkerDone);
  EXPECT_EQ(f.source->Decodes(), 0);
  f.ext->PutBack(item);
  ASSERT_TRUE(WaitUntil([&] { return f.HeldBy(21) >= 0; }));
  EXPECT_FALSE(f.ext->WorkerDone);
}

}  // namespace
