#include "audio/Mp3Decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/ConfigMusic.h"
#include "audio/Mpg123Converter.h"
#include "foundation/kpLog.h"
#include "tests/audio/AudioTestEnv.h"
#include "tests/support/AudioFixtures.h"

using namespace audio;
using namespace audio_test;
using foundation::TRef;
using foundation::TStream;

namespace {

class RecordingLog : public foundation::TLog {
 public:
  void Add(const std::u16string& text) override { lines.push_back(text); }
  bool Has(const std::u16string& prefix) const {
    for (const auto& l : lines)
      if (l.starts_with(prefix)) return true;
    return false;
  }
  std::vector<std::u16string> lines;
};

class Mp3 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitMp3Decoder(); }
  void SetUp() override {
    log_ = new RecordingLog();
    foundation::SetLog(log_);
  }
  void TearDown() override { foundation::SetLog(nullptr); }
  RecordingLog* log_ = nullptr;
};

Bytes Music() { return ReadAll(std::string(QEL_AUDIO_DATA) + "/music.mp3"); }

std::vector<int16_t> DecodeAll(TMP3Decoder* d) {
  std::vector<int16_t> pcm;
  for (int guard = 0; guard < 100000 && !d->AtEnd; ++guard) {
    if (!d->Read()) break;
    size_t n = size_t(d->BytesDone) / 2;
    size_t at = pcm.size();
    pcm.resize(at + n);
    std::memcpy(pcm.data() + at, d->BlockData(), n * 2);
  }
  return pcm;
}

}  // namespace

TEST_F(Mp3, DecodesTheToneWithItsLengthAndFormat) {
  auto s = TRef<TStream>::Adopt(StreamOf(Music()));
  auto d = foundation::MakeRef<TMP3Decoder>();
  ASSERT_TRUE(d->Open(s.Get(), u"music.mp3"));
  EXPECT_EQ(d->Channels, 1);
  EXPECT_EQ(d->Rate, 22050);
  EXPECT_EQ(d->BytesPerSample, 2);
  EXPECT_EQ(d->BitRate, 16);
  EXPECT_NEAR(double(d->SampleCount), 12.5 * 22050, 1152);
  EXPECT_NEAR(d->DurationMs, 12500, 60);
  EXPECT_TRUE(log_->Has(u"Open. Begin. ThreadID: "));
  EXPECT_TRUE(log_->Has(u"After mpg123_scan(). Time = "));
  EXPECT_TRUE(log_->Has(u"Open. End ("));
  std::vector<int16_t> pcm = DecodeAll(d.Get());
  EXPECT_TRUE(d->AtEnd);
  EXPECT_EQ(int64_t(pcm.size()), d->SampleCount);
  EXPECT_EQ(d->SamplePosition, d->SampleCount);
  // Past the end: true once more with nothing.
  EXPECT_TRUE(d->Read());
  EXPECT_EQ(d->BytesDone, 0);
  // A 440 Hz sine: count zero crossings over 10 s in the middle; the level
  // is the encoder's (ffmpeg's sine source is 1/8 of full scale).
  int crossings = 0;
  double sumSq = 0;
  size_t from = 22050, to = from + 10 * 22050;
  for (size_t i = from + 1; i < to; ++i) {
    if ((pcm[i - 1] < 0) != (pcm[i] < 0)) ++crossings;
    sumSq += double(pcm[i]) * pcm[i];
  }
  EXPECT_NEAR(crossings / 2.0 / 10, 440, 2);
  EXPECT_NEAR(std::sqrt(sumSq / double(to - from)), 32768 / 8 / std::sqrt(2.0), 300);
}

TEST_F(Mp3, SeeksToTheSampleAndDecodesFromThere) {
  auto s = TRef<TStream>::Adopt(StreamOf(Music()));
  auto d = foundation::MakeRef<TMP3Decoder>();
  ASSERT_TRUE(d->Open(s.Get(), u"music.mp3"));
  std::vector<int16_t> all = DecodeAll(d.Get());
  ASSERT_TRUE(d->SeekMs(1500));
  EXPECT_EQ(d->SamplePosition, 33075);
  EXPECT_FALSE(d->AtEnd);
  std::vector<int16_t> after;
  while (after.size() < 8000 && d->Read()) {
    size_t at = after.size();
    after.resize(at + size_t(d->BytesDone) / 2);
    std::memcpy(after.data() + at, d->BlockData(), size_t(d->BytesDone));
  }
  // Sample-exact: once libmpg123 has refilled its bit reservoir (the first
  // few 576-sample frames after a seek come out quiet), the samples are those
  // of decoding from the start at the same index.
  ASSERT_GE(after.size(), 8000u);
  ASSERT_LE(33075 + after.size(), all.size());
  for (size_t i = 4 * 576; i < after.size(); ++i) ASSERT_EQ(after[i], all[33075 + i]) << i;
}

TEST_F(Mp3, ZeroPayloadFramesDecodeToSilenceAndSeekBySamples) {
  MpegHeader h;  // MPEG-1 layer III 44.1 kHz stereo
  auto s = TRef<TStream>::Adopt(StreamOf(MpegFrames(h, 200)));
  auto d = foundation::MakeRef<TMP3Decoder>();
  ASSERT_TRUE(d->Open(s.Get(), u"silence.mp3"));
  EXPECT_EQ(d->Rate, 44100);
  EXPECT_EQ(d->Channels, 2);
  ASSERT_TRUE(d->SeekMs(1500));
  EXPECT_EQ(d->SamplePosition, 66150);
  std::vector<int16_t> rest = DecodeAll(d.Get());
  ASSERT_FALSE(rest.empty());
  for (int16_t v : rest) ASSERT_EQ(v, 0);
}

TEST_F(Mp3, UnreadableStreamFailsWithItsLogLine) {
  Bytes noise(20000);
  uint32_t x = 12345;
  for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24) & 0x7F;  // no sync bytes
  auto s = TRef<TStream>::Adopt(StreamOf(noise));
  auto d = foundation::MakeRef<TMP3Decoder>();
  EXPECT_FALSE(d->Open(s.Get(), u"noise.mp3"));
  EXPECT_FALSE(d->Read());
  EXPECT_TRUE(log_->Has(u"Cannot detect SamplesCount for MP3. mpg123_length() returns 0") ||
              log_->Has(u"mpg123_getformat() failed: "));
}

TEST_F(Mp3, ConverterDeliversTheDecodersPcm) {
  InitMusicTypes();
  auto s = TRef<TStream>::Adopt(StreamOf(Music()));
  TMediaInfo info;
  ASSERT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"music.mp3", info));
  ASSERT_EQ(info.FormatCode, mfcMpeg);
  EXPECT_EQ(info.Format.nSamplesPerSec, 22050u);
  EXPECT_EQ(info.Format.nChannels, 1);
  TRef<TWavConverter> c = TRef<TWavConverter>::Adopt(CreateMusicConverter(s.Get(), u"music.mp3", info));
  ASSERT_TRUE(dynamic_cast<TMPG123Convertor2*>(c.Get()));
  c->Stream = s.Get();
  ASSERT_TRUE(c->Open(info));
  EXPECT_EQ(c->OutputFormat.nSamplesPerSec, 22050u);
  EXPECT_EQ(c->OutputFormat.nChannels, 1);
  uint64_t bytes = 0;
  while (c->Read(4096)) {
    bytes += 4096;
    c->OutputBuffer->Consume(4096);
  }
  auto* mp3 = static_cast<TMPG123Convertor2*>(c.Get());
  EXPECT_NEAR(double(bytes), double(mp3->Decoder->SampleCount) * 2, 4096);
  c->Seek(10000);
  EXPECT_DOUBLE_EQ(c->DecodedMs, 10000);
  EXPECT_EQ(mp3->Decoder->SamplePosition, 220500);
  EXPECT_TRUE(c->Read(4096));
}
