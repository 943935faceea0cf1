// Clips opened the way a show opens its media: entries of a show container
// (stored, deflated, enciphered) and loose files, through the video-source
// factory, delivering the right frame after seeks.
#include <gtest/gtest.h>

#include "container/kvQelUnpack.h"
#include "foundation/kvFileStream.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TempTree.h"
#include "tests/video/VideoTestEnv.h"
#include "video/FFMpegVideoSource2.h"
#include "video/GifVideoSource.h"

using namespace video;
using namespace video_test;

namespace {

std::string Clip(const char* name) {
  std::vector<uint8_t> b = MediaBytes(name);
  return std::string(b.begin(), b.end());
}

// Positions the source at each frame and reads the frame's index back.
void ExpectFrames(TFrameSource* s, std::initializer_list<int> frames) {
  auto* img = new TMemoryYUVImage(s->Params.Width, s->Params.Height);
  for (int n : frames) {
    ASSERT_TRUE(s->SetPosition(n)) << n;
    ASSERT_TRUE(s->GetFrameYUV(img)) << n;
    EXPECT_EQ(IndexOfLuma(MeanY(img)), n);
  }
  img->Free();
}

TEST(ShowStreams, ClipsInsideAShowContainer) {
  foundation::InitFileStreams();
  qeltest::TempTree dir;
  testsupport::ContainerBuilder b;
  b.AddStored("media\\stored.mp4", Clip("h264_bframes.mp4"));
  b.AddDeflated("media\\deflated.mkv", Clip("late_start.mkv"));
  b.AddEnciphered("media\\secret.webm", Clip("vp9.webm"));
  b.WriteFile(dir.path("show.exe"));
  auto* unpack = new container::TQelUnpack(dir.internal("show.exe"));
  ASSERT_TRUE(unpack->IsOpen()) << foundation::MessageToUtf8(unpack->ErrorText());
  struct Case {
    const char16_t* entry;
    const char16_t* codec;
  } cases[] = {{u"media\\stored.mp4", u"H264"}, {u"media\\deflated.mkv", u"H264"}, {u"media\\secret.webm", u"VP9"}};
  for (auto c : cases) {
    SCOPED_TRACE(foundation::MessageToUtf8(c.entry));
    int64_t pos = 0, size = 0;
    int32_t method = 0;
    ASSERT_TRUE(unpack->GetEntryInfo(c.entry, pos, size, method));
    foundation::TStream* s =
        container::OpenEntryStream(unpack->OpenFileHandle(), pos, size, method, true, unpack->Key());
    ASSERT_NE(s, nullptr);
    TFrameSource* src = FFMpegVideoSourceFactory(s, true, c.entry, false, true);
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(src->Params.Codec, c.codec);
    ExpectFrames(src, {0, 1, 2, 24, 23, 7, 8, 9});
    src->Free();
  }
  unpack->Free();
}

TEST(ShowStreams, LooseFiles) {
  foundation::InitFileStreams();
  qeltest::TempTree dir;
  dir.write("clip.mpg", Clip("mpeg2_interlaced.mpg"));
  foundation::TStream* s = foundation::OpenFileStreamRead(dir.internal("clip.mpg"));
  ASSERT_NE(s, nullptr);
  TFrameSource* src = FFMpegVideoSourceFactory(s, true, dir.internal("clip.mpg"), false, false);
  ASSERT_NE(src, nullptr);
  EXPECT_TRUE(src->Params.Interlaced);
  EXPECT_TRUE(src->Params.TopFieldFirst);
  ExpectFrames(src, {0, 5, 6, 20, 3, 24});
  src->Free();
}

}  // namespace
