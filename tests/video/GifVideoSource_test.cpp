// The GIF video source: indexing, frame times and loops, composition with
// the disposal rules on the screen canvas, key-frame caching, the hooks.
#include "video/GifVideoSource.h"

#include <gtest/gtest.h>

#include "foundation/kpExceptions.h"
#include "imaging/kvPixelFormat.h"
#include "tests/support/GifWriter.h"
#include "tests/video/VideoTestEnv.h"
#include "video/FFMpegVideoSource2.h"

using namespace video;
using namespace video_test;
using testsupport::Bytes;
using testsupport::GifFrame;
using testsupport::GifSpec;

namespace {

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kClear = 0;

GifFrame Fill(uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t index, uint16_t delay = 10,
              uint8_t disposal = 1) {
  GifFrame f;
  f.left = x, f.top = y, f.width = w, f.height = h;
  f.indexes.assign(static_cast<size_t>(w) * h, index);
  f.graphicControl = true;
  f.delay = delay;
  f.disposal = disposal;
  f.transparent = true;
  f.transparentIndex = 3;
  return f;
}

GifSpec Spec(std::vector<GifFrame> frames, std::optional<uint16_t> loops = 0) {
  GifSpec s;
  s.width = 4, s.height = 4;
  s.globalPalette = {0xFF0000, 0x00FF00, 0x0000FF, 0x000000};
  s.loops = loops;
  s.frames = std::move(frames);
  return s;
}

TGifVideoSource* Open(const GifSpec& spec) {
  Bytes b = testsupport::WriteGif(spec);
  return static_cast<TGifVideoSource*>(GifVideoSourceFactory(StreamOfBytes(b), true, u"anim.gif", false, false));
}

struct Canvas {
  imaging::TSysBitmap* b = imaging::CreateSysBitmap(4, 4, imaging::pfA8R8G8B8);
  ~Canvas() { b->Free(); }
  uint32_t At(int x, int y) const { return imaging::LoadU32(b->Row(y) + 4 * x); }
};

TEST(GifVideo, AStillGifIsNoVideoAndItsStreamIsFreed) {
  int before = foundation::LiveObjectCount();
  GifSpec still = Spec({Fill(0, 0, 4, 4, 0)}, std::nullopt);
  EXPECT_EQ(Open(still), nullptr);
  // A screen no canvas could hold is no video either.
  GifSpec huge = Spec({Fill(0, 0, 4, 4, 0), Fill(0, 0, 1, 1, 1)});
  huge.width = 65535, huge.height = 65535;
  EXPECT_EQ(Open(huge), nullptr);
  std::vector<uint8_t> junk(100, 'G');
  EXPECT_EQ(GifVideoSourceFactory(StreamOfBytes(junk), true, u"x.gif", false, false), nullptr);
  EXPECT_EQ(foundation::LiveObjectCount(), before);
}

TEST(GifVideo, DelaysRateDurationAndParameters) {
  TGifVideoSource* s = Open(Spec({Fill(0, 0, 4, 4, 0, 0), Fill(0, 0, 2, 2, 1, 10), Fill(1, 1, 2, 2, 2, 20)}));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->FrameCount(), 3);
  EXPECT_EQ(s->Frame(0)->DisplayMs(), 50);
  EXPECT_EQ(s->Frame(1)->DisplayMs(), 100);
  EXPECT_EQ(s->Frame(2)->DisplayMs(), 200);
  EXPECT_DOUBLE_EQ(s->Params.FrameRate, 20.0);
  EXPECT_EQ(s->Params.DurationMs, 350);
  EXPECT_EQ(s->Params.FrameCount, 1000000);  // endless
  EXPECT_EQ(s->Params.Codec, u"GIF");
  EXPECT_TRUE(s->Params.HasAlpha);
  EXPECT_EQ(s->Params.Width, 4);
  EXPECT_EQ(s->GetPixelFormatName(), u"PF_BGRA8");
  EXPECT_EQ(s->Frame(1)->Left, 0);
  EXPECT_EQ(s->Frame(2)->Top, 1);
  s->Free();
}

TEST(GifVideo, LoopsWrapOrStayOnTheLastFrame) {
  auto frames = [] { return std::vector<GifFrame>{Fill(0, 0, 4, 4, 0, 0), Fill(0, 0, 1, 1, 1, 10), Fill(0, 0, 1, 1, 2, 20)}; };
  // Index n is at 50 n ms; the pass lasts 350 ms (frames end at 50, 150, 350).
  TGifVideoSource* endless = Open(Spec(frames(), 0));
  TGifVideoSource* twice = Open(Spec(frames(), 2));
  ASSERT_NE(endless, nullptr);
  ASSERT_NE(twice, nullptr);
  struct Case {
    int index, endless, twice;
  } cases[] = {{0, 0, 0}, {1, 1, 1}, {3, 2, 2},
               {7, 0, 0},  // one whole pass: frame 0 again, not the last frame
               {8, 1, 1},  {13, 2, 2}, {14, 0, 2}, {15, 1, 2}, {200, 2, 2}, {203, 0, 2}, {204, 1, 2}};
  for (auto c : cases) {
    endless->SetPosition(c.index);
    twice->SetPosition(c.index);
    EXPECT_EQ(endless->FrameAtTime(endless->RequestedTimeMs()), c.endless) << c.index;
    EXPECT_EQ(twice->FrameAtTime(twice->RequestedTimeMs()), c.twice) << c.index;
  }
  // A finite animation counts its frames rounded up: 320 ms of 100 ms steps.
  EXPECT_EQ(twice->Params.FrameCount, 7);
  TGifVideoSource* odd = Open(Spec({Fill(0, 0, 4, 4, 0, 10), Fill(0, 0, 1, 1, 1, 10), Fill(0, 0, 1, 1, 2, 12)}, 1));
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(odd->Params.FrameCount, 4);
  odd->SetPosition(3);
  EXPECT_EQ(odd->FrameAtTime(odd->RequestedTimeMs()), 2);
  endless->Free();
  twice->Free();
  odd->Free();
}

TEST(GifVideo, AFirstRequestForFrameOneComposesOverFrameZero) {
  // An optimised GIF: frame 1 only carries its changed pixel.
  TGifVideoSource* s = Open(Spec({Fill(0, 0, 4, 4, 0), Fill(1, 1, 1, 1, 2)}));
  ASSERT_NE(s, nullptr);
  Canvas c;
  s->SetPosition(1);  // 100 ms: frame 1
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_EQ(c.At(1, 1), kBlue);
  EXPECT_EQ(c.At(0, 0), kRed);
  EXPECT_EQ(c.At(3, 3), kRed);
  // Frame 0 again: the whole first image at its place.
  s->SetPosition(0);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_EQ(c.At(1, 1), kRed);
  s->Free();
}

TEST(GifVideo, DisposalTwoClearsThePreviousRectangle) {
  TGifVideoSource* s =
      Open(Spec({Fill(0, 0, 4, 4, 0), Fill(0, 0, 2, 2, 1, 10, 2), Fill(3, 3, 1, 1, 2)}));
  ASSERT_NE(s, nullptr);
  Canvas c;
  for (int i : {1, 2}) {
    s->SetPosition(i);
    ASSERT_TRUE(s->GetFrameBitmap(c.b));
  }
  EXPECT_EQ(c.At(0, 0), kClear);
  EXPECT_EQ(c.At(1, 1), kClear);
  EXPECT_EQ(c.At(2, 2), kRed);
  EXPECT_EQ(c.At(3, 3), kBlue);
  s->Free();
}

TEST(GifVideo, DisposalThreeRestoresTheCanvasBeforeThePreviousFrame) {
  // No disposal-2 frame anywhere: the area comes back as frame 0 left it.
  TGifVideoSource* s =
      Open(Spec({Fill(0, 0, 4, 4, 0), Fill(0, 0, 2, 2, 1, 10, 3), Fill(3, 3, 1, 1, 2)}));
  ASSERT_NE(s, nullptr);
  Canvas c;
  s->SetPosition(1);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_EQ(c.At(0, 0), kGreen);
  s->SetPosition(2);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_EQ(c.At(0, 0), kRed);
  EXPECT_EQ(c.At(1, 1), kRed);
  EXPECT_EQ(c.At(3, 3), kBlue);
  // The same frame reached by a jump from frame 0.
  s->SetPosition(0);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  s->SetPosition(2);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_EQ(c.At(0, 0), kRed);
  s->Free();
}

TEST(GifVideo, JumpsCacheKeyFramesAndStartFromThem) {
  std::vector<GifFrame> frames{Fill(0, 0, 4, 4, 0)};
  for (int i = 1; i < 40; ++i) frames.push_back(Fill(static_cast<uint16_t>(i % 4), 0, 1, 1, static_cast<uint8_t>(i % 3)));
  TGifVideoSource* s = Open(Spec(frames));
  ASSERT_NE(s, nullptr);
  Canvas c;
  s->SetPosition(25);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_NE(s->Frame(10)->Cached, nullptr);
  EXPECT_NE(s->Frame(20)->Cached, nullptr);
  EXPECT_EQ(s->Frame(30)->Cached, nullptr);
  // Frames 21..25 wrote x = 1, 2, 3, 0, 1 with colours 0, 1, 2, 0, 1.
  EXPECT_EQ(c.At(1, 0), kGreen);
  EXPECT_EQ(c.At(0, 0), kRed);
  EXPECT_EQ(c.At(3, 0), kBlue);
  int decoded = s->FramesDecoded;
  s->SetPosition(23);
  ASSERT_TRUE(s->GetFrameBitmap(c.b));
  EXPECT_EQ(s->FramesDecoded - decoded, 3);
  EXPECT_EQ(c.At(3, 0), kBlue);
  EXPECT_EQ(c.At(1, 0), kRed);  // frame 21
  s->Free();
}

TEST(GifVideo, FramesGoIntoTheRGBAPlane) {
  TGifVideoSource* s = Open(Spec({Fill(0, 0, 4, 4, 0), Fill(1, 1, 1, 1, 2)}));
  ASSERT_NE(s, nullptr);
  auto* rgba = new TMemoryYUVImage(4, 4, true);
  s->SetPosition(1);
  ASSERT_TRUE(s->GetFrameYUV(rgba));
  EXPECT_EQ(imaging::LoadU32(rgba->Row(kPlaneRGBA, 1) + 4), kBlue);
  EXPECT_EQ(rgba->LockedCount, 0);
  auto* yuv = new TMemoryYUVImage(4, 4);
  EXPECT_FALSE(s->GetFrameYUV(yuv));
  rgba->Free();
  yuv->Free();
  s->Free();
}

TEST(GifVideo, TheHookChainServesGifsAndPassesTheRestOn) {
  TVideoSourceFactory savedFactory = VideoSourceFactory;
  TVideoFileFilter savedFilter = VideoFileFilter;
  DoneGifVideoSource();
  DoneFFMpegVideoSource();
  ASSERT_EQ(VideoSourceFactory, nullptr);
  InitFFMpegVideoSource();
  InitGifVideoSource();
  EXPECT_TRUE(VideoFileFilter(u"movie.mp4"));
  EXPECT_TRUE(VideoFileFilter(u"C:\\a.b\\anim.GIF"));
  Bytes b = testsupport::WriteGif(Spec({Fill(0, 0, 4, 4, 0), Fill(1, 1, 1, 1, 2)}));
  TFrameSource* g = CreateVideoSource(StreamOfBytes(b), true, u"C:\\show\\Anim.Gif", false, false);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Params.Codec, u"GIF");
  TFrameSource* v = CreateVideoSource(MediaStream("mpeg4.mp4"), true, u"C:\\show.gif\\clip.mp4", false, false);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Params.Codec, u"MPEG4");
  g->Free();
  v->Free();
  VideoSourceFactory = savedFactory;
  VideoFileFilter = savedFilter;
}

// The FFmpeg source opens GIFs too and falls back to nothing: started after
// the GIF source it would hide it. It refuses, and the GIF source stays in
// front with nothing behind it, so other files find no source rather than
// a wrong one.
TEST(GifVideo, TheFFmpegSourceRefusesToStartOnTopOfTheGifSource) {
  TVideoSourceFactory savedFactory = VideoSourceFactory;
  TVideoFileFilter savedFilter = VideoFileFilter;
  DoneGifVideoSource();
  DoneFFMpegVideoSource();
  ASSERT_EQ(VideoSourceFactory, nullptr);
  InitGifVideoSource();
  EXPECT_THROW(InitFFMpegVideoSource(), foundation::EAssertionFailed);
  EXPECT_EQ(VideoSourceFactory, &GifVideoSourceFactory);
  Bytes b = testsupport::WriteGif(Spec({Fill(0, 0, 4, 4, 0), Fill(1, 1, 1, 1, 2)}));
  TFrameSource* g = CreateVideoSource(StreamOfBytes(b), true, u"anim.gif", false, false);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Params.Codec, u"GIF");
  g->Free();
  EXPECT_EQ(CreateVideoSource(MediaStream("mpeg4.mp4"), true, u"clip.mp4", false, false), nullptr);
  // Undone in reverse, the right order builds the chain whole; the FFmpeg
  // source started a second time changes nothing.
  DoneGifVideoSource();
  InitFFMpegVideoSource();
  InitGifVideoSource();
  InitFFMpegVideoSource();
  EXPECT_EQ(VideoSourceFactory, &GifVideoSourceFactory);
  TFrameSource* v = CreateVideoSource(MediaStream("mpeg4.mp4"), true, u"clip.mp4", false, false);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Params.Codec, u"MPEG4");
  v->Free();
  VideoSourceFactory = savedFactory;
  VideoFileFilter = savedFilter;
}

}  // namespace
