// The FFmpeg video source: parameters through the factory, positioning by
// frame index (the forward window, seeks, the end limit, restarting after
// the end), the hardware budget and the fall back to software.
#include "video/FFMpegVideoSource2.h"

#include <gtest/gtest.h>

#include <memory>

#include "imaging/kvPixelFormat.h"
#include "tests/video/VideoTestEnv.h"

using namespace video;
using namespace video_test;
namespace ff = platform::ffmpeg;

namespace {

struct Source {
  TVideoSource2* s;
  TMemoryYUVImage* img = nullptr;
  Source(const std::string& clip, bool hw = false, TVideoSource2::TDecoderMaker maker = nullptr)
      : s(new TVideoSource2(MediaStream(clip), true, foundation::MessageFromUtf8(clip), hw, true, maker)) {}
  ~Source() {
    s->Free();
    foundation::FreeObj(img);
  }
  int Frame() {
    if (!img) img = new TMemoryYUVImage(s->Params.Width, s->Params.Height);
    if (!s->GetFrameYUV(img)) return -1;
    return IndexOfLuma(MeanY(img));
  }
  int Seeks() { return s->Decoder->Stream->SeekCalls; }
};

TEST(FFVideoSource, TheFactoryFillsTheParameters) {
  struct Case {
    const char* clip;
    const char16_t* codec;
    int w, h, frames;
    bool interlaced, alpha;
    int rotation;
    const char16_t* pixels;
  } cases[] = {
      {"h264_bframes.mp4", u"H264", 320, 240, 50, false, false, 0, u"YUV420P"},
      {"mpeg2_interlaced.mpg", u"MPEG2", 320, 240, 25, true, false, 0, u"YUV420P"},
      {"mpeg4.mp4", u"MPEG4", 320, 240, 25, false, false, 0, u"YUV420P"},
      {"vp9.webm", u"VP9", 320, 240, 0, false, false, 0, u"YUV420P"},
      {"yuv420p10.mkv", u"OTHER", 64, 48, 0, false, false, 0, u"YUV420P10LE"},
      {"nv12.nut", u"OTHER", 64, 48, 0, false, false, 0, u"NV12"},
      {"bgra.mkv", u"OTHER", 64, 48, 0, false, true, 0, u"Unknown #28"},
      {"rotated90.mp4", u"MPEG4", 64, 48, 10, false, false, 90, u"YUV420P"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    TFrameSource* src =
        FFMpegVideoSourceFactory(MediaStream(c.clip), true, foundation::MessageFromUtf8(c.clip), false, false);
    ASSERT_NE(src, nullptr);
    const TVideoParams& p = src->Params;
    EXPECT_EQ(p.Codec, c.codec);
    EXPECT_EQ(p.Width, c.w);
    EXPECT_EQ(p.Height, c.h);
    EXPECT_DOUBLE_EQ(p.FrameRate, 25.0);
    // Matroska, WebM and NUT keep no exact stream duration: their count is
    // near, not exact, and not checked here.
    if (c.frames) {
      EXPECT_EQ(p.FrameCount, c.frames);
    }
    EXPECT_EQ(p.Interlaced, c.interlaced);
    EXPECT_EQ(p.HasAlpha, c.alpha);
    EXPECT_EQ(p.Rotation, c.rotation);
    EXPECT_EQ(p.AspectClass, 1);  // every clip here is 4:3
    EXPECT_EQ(p.DurationMs, 0);
    EXPECT_EQ(src->GetPixelFormatName(), c.pixels);
    EXPECT_FALSE(src->IsHardwareDecoding());
    src->Free();
  }
}

TEST(FFVideoSource, UnreadableFilesGiveNoSourceAndFreeTheirStream) {
  int64_t before = foundation::LiveObjectCount();
  std::vector<uint8_t> garbage(3000, 0x47);
  EXPECT_EQ(FFMpegVideoSourceFactory(StreamOfBytes(garbage), true, u"g.ts", false, false), nullptr);
  EXPECT_EQ(FFMpegVideoSourceFactory(StreamOfBytes({}), true, u"e.mp4", true, false), nullptr);
  EXPECT_EQ(FFMpegVideoSourceFactory(MediaStream("tone_44k_s16.wav"), true, u"a.wav", false, false), nullptr);
  EXPECT_EQ(FFMpegVideoSourceFactory(nullptr, true, u"x.mp4", false, false), nullptr);
  EXPECT_EQ(foundation::LiveObjectCount(), before);
  EXPECT_EQ(HardwareSlotsInUse(), 0);
}

TEST(FFVideoSource, ShortStepsDecodeForwardAndOthersSeek) {
  Source s("h264_bframes.mp4");
  ASSERT_NE(s.s->Decoder, nullptr);
  EXPECT_EQ(s.Frame(), 0);
  ASSERT_TRUE(s.s->SetPosition(10));
  EXPECT_EQ(s.Frame(), 10);
  int seeks = s.Seeks();
  // At 25 frames per second the window is 2 frames.
  ASSERT_TRUE(s.s->SetPosition(11));
  EXPECT_EQ(s.Frame(), 11);
  ASSERT_TRUE(s.s->SetPosition(13));
  EXPECT_EQ(s.Frame(), 13);
  ASSERT_TRUE(s.s->SetPosition(13));
  EXPECT_EQ(s.Seeks(), seeks);
  ASSERT_TRUE(s.s->SetPosition(16));
  EXPECT_EQ(s.Frame(), 16);
  EXPECT_EQ(s.Seeks(), seeks + 1);
  // Back one frame always seeks.
  ASSERT_TRUE(s.s->SetPosition(15));
  EXPECT_EQ(s.Frame(), 15);
  EXPECT_EQ(s.Seeks(), seeks + 2);
  for (int n : {49, 0, 31, 24, 26, 48}) {
    ASSERT_TRUE(s.s->SetPosition(n)) << n;
    EXPECT_EQ(s.Frame(), n);
    EXPECT_EQ(s.s->CurrentIndex, n);
  }
}

TEST(FFVideoSource, APositionPastTheEndSettlesOnTheLastFrameAndLimitsLaterOnes) {
  Source s("h264_bframes.mp4");
  ASSERT_TRUE(s.s->SetPosition(80));
  EXPECT_EQ(s.Frame(), 49);
  EXPECT_EQ(s.s->LastFrameLimit, 49);
  ASSERT_TRUE(s.s->SetPosition(60));
  EXPECT_EQ(s.Frame(), 49);
  EXPECT_EQ(s.s->CurrentIndex, 49);
}

TEST(FFVideoSource, AVideoRestartedAfterItsEndShowsItsFirstFrames) {
  Source s("h264_bframes.mp4");
  ASSERT_TRUE(s.s->SetPosition(48));
  ASSERT_TRUE(s.s->SetPosition(49));
  EXPECT_FALSE(s.s->SetPosition(50));  // a step past the last frame fails
  EXPECT_EQ(s.s->CurrentIndex, -1);
  ASSERT_TRUE(s.s->SetPosition(0));
  EXPECT_EQ(s.Frame(), 0);
  ASSERT_TRUE(s.s->SetPosition(1));
  EXPECT_EQ(s.Frame(), 1);
}

TEST(FFVideoSource, TheSlotIsGivenBackByStreamsThatDoNotNeedHardware) {
  Source s("h264_bframes.mp4", true);
  EXPECT_FALSE(s.s->IsHardwareDecoding());
  EXPECT_EQ(HardwareSlotsInUse(), 0);
}

// A decoder that wants hardware and fails every seek while it has it.
bool g_failSeeks = true;
class FlakyHardwareVideo : public TFFMpegVideo {
 public:
  bool PreferHardware() const override { return true; }
  bool SeekTo(int64_t t) override { return HardwareOn && g_failSeeks ? false : TFFMpegVideo::SeekTo(t); }
};
TFFMpegVideo* MakeFlaky() { return new FlakyHardwareVideo(); }

TEST(FFVideoSource, TenSourcesAtMostDecodeWithHardware) {
  std::vector<std::unique_ptr<Source>> sources;
  for (int i = 0; i < 11; ++i) sources.push_back(std::make_unique<Source>("mpeg4.mp4", true, &MakeFlaky));
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(sources[i]->s->IsHardwareDecoding()) << i;
  EXPECT_FALSE(sources[10]->s->IsHardwareDecoding());
  EXPECT_EQ(HardwareSlotsInUse(), 10);
  sources.clear();
  EXPECT_EQ(HardwareSlotsInUse(), 0);
}

TEST(FFVideoSource, MoreThanFiveFailedPositioningsFallBackToSoftware) {
  ScopedLogCapture log;
  g_failSeeks = true;
  Source s("h264_bframes.mp4", true, &MakeFlaky);
  ASSERT_TRUE(s.s->IsHardwareDecoding());
  for (int i = 1; i <= 5; ++i) {
    EXPECT_FALSE(s.s->SetPosition(40));
    EXPECT_EQ(s.s->HardwareErrors, i);
  }
  EXPECT_TRUE(log.Has(u"ffmpeg. fHWErrors = 5"));
  // The sixth failure switches to software, which positions.
  ASSERT_TRUE(s.s->SetPosition(40));
  EXPECT_TRUE(log.Has(u"ffmpeg. Fallback to software decoder"));
  EXPECT_FALSE(s.s->IsHardwareDecoding());
  EXPECT_EQ(s.Frame(), 40);
  EXPECT_EQ(HardwareSlotsInUse(), 0);
}

TEST(FFVideoSource, ASuccessfulPositioningClearsTheErrorCount) {
  Source s("h264_bframes.mp4", true, &MakeFlaky);
  g_failSeeks = true;
  EXPECT_FALSE(s.s->SetPosition(40));
  EXPECT_FALSE(s.s->SetPosition(30));
  EXPECT_EQ(s.s->HardwareErrors, 2);
  g_failSeeks = false;
  ASSERT_TRUE(s.s->SetPosition(30));
  EXPECT_EQ(s.s->HardwareErrors, 0);
  EXPECT_TRUE(s.s->IsHardwareDecoding());
  g_failSeeks = true;
}

TEST(FFVideoSource, BitmapsOfTheCurrentFrame) {
  Source s("mpeg4.mp4");
  ASSERT_TRUE(s.s->SetPosition(20));
  imaging::TSysBitmap* b = imaging::CreateSysBitmap(320, 240, imaging::pfR8G8B8);
  ASSERT_TRUE(s.s->GetFrameBitmap(b));
  // Luma 16 + 80 = 96 with neutral chroma: gray (96 - 16) x 255 / 219 = 93.
  EXPECT_NEAR(b->Row(100)[3 * 100], 93, 3);
  b->Free();
}

}  // namespace
