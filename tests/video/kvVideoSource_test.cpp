// The frame-source contract: the factory and filter hooks with stream
// ownership, the base source's answers, the planes of a YUV image.
#include "video/kvVideoSource.h"

#include <gtest/gtest.h>

#include "tests/video/VideoTestEnv.h"

using namespace video;

namespace {

int g_streamsAlive = 0;
class CountedStream : public foundation::TMemoryStream {
 public:
  CountedStream() { ++g_streamsAlive; }
  void Dispose() override {
    --g_streamsAlive;
    foundation::TMemoryStream::Dispose();
  }
};

class NullSource : public TFrameSource {
 public:
  bool SetPosition(int32_t) override { return true; }
  bool GetFrameYUV(TYUVImage*) override { return false; }
  bool GetFrameBitmap(imaging::TSysBitmap*) override { return false; }
};

TFrameSource* g_made = nullptr;
std::u16string g_lastName;
TFrameSource* RecordingFactory(foundation::TStream* s, bool owns, const std::u16string& name, bool, bool) {
  g_lastName = name;
  if (owns) foundation::FreeObj(s);
  g_made = new NullSource();
  return g_made;
}
bool RejectAll(const std::u16string&) { return false; }

struct HookGuard {
  TVideoSourceFactory f = VideoSourceFactory;
  TVideoFileFilter v = VideoFileFilter;
  ~HookGuard() {
    VideoSourceFactory = f;
    VideoFileFilter = v;
  }
};

TEST(VideoSourceHooks, NoFactoryFreesAnOwnedStreamAndKeepsAnUnownedOne) {
  HookGuard g;
  VideoSourceFactory = nullptr;
  VideoFileFilter = nullptr;
  EXPECT_EQ(CreateVideoSource(new CountedStream(), true, u"a.mp4", false, false), nullptr);
  EXPECT_EQ(g_streamsAlive, 0);
  auto* kept = new CountedStream();
  EXPECT_EQ(CreateVideoSource(kept, false, u"a.mp4", false, false), nullptr);
  EXPECT_EQ(g_streamsAlive, 1);
  kept->Free();
  EXPECT_EQ(g_streamsAlive, 0);
}

TEST(VideoSourceHooks, ARejectingFilterFreesOnlyOwnedStreams) {
  HookGuard g;
  VideoSourceFactory = &RecordingFactory;
  VideoFileFilter = &RejectAll;
  g_made = nullptr;
  EXPECT_EQ(CreateVideoSource(new CountedStream(), true, u"a.mp4", false, false), nullptr);
  EXPECT_EQ(g_streamsAlive, 0);
  auto* kept = new CountedStream();
  EXPECT_EQ(CreateVideoSource(kept, false, u"a.mp4", false, false), nullptr);
  EXPECT_EQ(g_streamsAlive, 1);
  kept->Free();
  EXPECT_EQ(g_made, nullptr);
}

TEST(VideoSourceHooks, WithoutAFilterTheFactoryAnswers) {
  HookGuard g;
  VideoSourceFactory = &RecordingFactory;
  VideoFileFilter = nullptr;
  TFrameSource* s = CreateVideoSource(new CountedStream(), true, u"clip.MP4", true, true);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s, g_made);
  EXPECT_EQ(g_lastName, u"clip.MP4");
  EXPECT_EQ(g_streamsAlive, 0);
  s->Free();
}

TEST(FrameSource, BaseAnswersAndAttachedObjectsAreReleased) {
  auto* s = new NullSource();
  EXPECT_EQ(s->GetPixelFormatName(), u"PF_BGRA8");
  EXPECT_FALSE(s->IsHardwareDecoding());
  s->Attached->Add(new CountedStream());
  EXPECT_EQ(g_streamsAlive, 1);
  s->Free();
  EXPECT_EQ(g_streamsAlive, 0);
}

TEST(YUVImage, OddSizesHalveChromaDownwards) {
  auto* img = new TMemoryYUVImage(5, 3);
  EXPECT_FALSE(img->RGBAMode);
  EXPECT_FALSE(img->GrayMode);
  imaging::TSysBitmap* u = img->LockPlane(kPlaneU);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->Width, 2);
  EXPECT_EQ(u->Height, 1);
  EXPECT_TRUE(img->UnlockPlane(kPlaneU, u));
  imaging::TSysBitmap* y = img->LockPlane(kPlaneY);
  EXPECT_EQ(y->Width, 5);
  EXPECT_EQ(y->Height, 3);
  img->UnlockPlane(kPlaneY, y);
  // Planes of another mode are not available.
  EXPECT_EQ(img->LockPlane(kPlaneRGBA), nullptr);
  EXPECT_EQ(img->LockedCount, 0);
  img->Free();
}

}  // namespace
