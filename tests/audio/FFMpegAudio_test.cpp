// The FFmpeg fallback with the video library's real binding: files only
// FFmpeg opens are detected and decoded to the output format.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/ConfigMusic.h"
#include "audio/DllDecoders.h"
#include "audio/PluginConverters.h"
#include "tests/audio/AudioTestEnv.h"
#include "tests/support/AudioFixtures.h"
#include "video/FFMpegDll2.h"

using namespace audio;
using namespace audio_test;
using foundation::TRef;
using foundation::TStream;

namespace {

class FFMpegAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDllDecoders();
    InitConfigMusic();
    if (!FFMpegAudioAvailable()) GTEST_SKIP() << "FFmpeg libraries not loadable";
  }
  void TearDown() override { DoneDllDecoders(); }
};

}  // namespace

TEST(FFMpegAudioFormat, TheDecodersOutputIsTheMusicOutputFormat) {
  EXPECT_EQ(video::kAudioOutChannels, MusicOutputFormat.nChannels);
  EXPECT_EQ(video::kAudioOutRate, int32_t(MusicOutputFormat.nSamplesPerSec));
  EXPECT_EQ(MusicOutputFormat.wBitsPerSample, 16);
}

TEST_F(FFMpegAudio, FlacOggAndWmaAreDetectedAndDecoded) {
  EXPECT_FALSE(LoadWmaDecoder(u"Z:\\nowhere\\qelwma.dll"));  // no Windows Media runtime
  for (const char* file : {"tone.flac", "tone.ogg", "tone.wma"}) {
    SCOPED_TRACE(file);
    auto s = TRef<TStream>::Adopt(StreamOf(ReadAll(std::string(QEL_AUDIO_DATA) + "/" + file)));
    std::string n(file);
    std::u16string name(n.begin(), n.end());
    TMediaInfo info;
    ASSERT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"Z:\\show\\" + name, info));
    EXPECT_EQ(info.FormatCode, mfcFFMpeg);
    EXPECT_NEAR(info.Duration, 1000, 60);
    EXPECT_TRUE(SameWaveFormat(info.Format, MusicOutputFormat));
    s->SetPosition(0);
    TRef<TWavConverter> c = TRef<TWavConverter>::Adopt(CreateMusicConverter(s.Get(), name, info));
    ASSERT_TRUE(dynamic_cast<TFFMpegConverter2*>(c.Get()));
    c->Stream = s.Get();
    ASSERT_TRUE(c->Open(info));
    EXPECT_TRUE(SameWaveFormat(c->OutputFormat, MusicOutputFormat));
    std::vector<int16_t> left;
    for (bool more = true; more && left.size() < 200000;) {
      more = c->Read(4096);
      const uint8_t* d = c->OutputBuffer->Data;
      for (int i = 0; i < 4096; i += 4) left.push_back(int16_t(d[i] | (d[i + 1] << 8)));
      c->OutputBuffer->Consume(4096);
    }
    // About one second at 44.1 kHz, a 440 Hz tone.
    EXPECT_NEAR(double(left.size()), 44100, 3000);
    int crossings = 0;
    for (size_t i = 4411; i < 4410 * 9; ++i)
      if ((left[i - 1] < 0) != (left[i] < 0)) ++crossings;
    EXPECT_NEAR(crossings / 2.0 / 0.8, 440, 8);
  }
}
