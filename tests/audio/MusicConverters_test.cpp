#include "audio/MusicConverters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "audio/RiffInfo.h"
#include "tests/audio/AudioTestEnv.h"
#include "tests/support/AudioFixtures.h"

using namespace audio;
using namespace audio_test;
using foundation::TRef;
using foundation::TStream;

namespace {

// A source opened as a playback instance would: probe, converter, Open.
struct Source {
  TRef<TStream> stream;
  TRef<TWavConverter> converter;
  TMediaInfo info{};
  bool opened = false;

  explicit Source(const Bytes& file) {
    stream = TRef<TStream>::Adopt(StreamOf(file));
    EXPECT_TRUE(TMediaInfoExtractor::GetMediaInfo(stream.Get(), u"x.wav", info));
    if (info.FormatCode == mfcWavAdpcm)
      converter = TRef<TWavConverter>::Adopt(new TAdpcmConverter());
    else
      converter = TRef<TWavConverter>::Adopt(new TWavConverter());
    converter->Stream = stream.Get();
    opened = converter->Open(info);
  }

  // One Read of count bytes taken off the front, as the refill does.
  Bytes Take(uint32_t count, bool* ok = nullptr) {
    bool r = converter->Read(count);
    if (ok) *ok = r;
    Bytes out(converter->OutputBuffer->Data, converter->OutputBuffer->Data + count);
    converter->OutputBuffer->Consume(count);
    return out;
  }

  // Everything until Read answers false.
  Bytes All(uint32_t block = 4096) {
    Bytes out;
    for (int guard = 0; guard < 100000; ++guard) {
      bool ok;
      Bytes b = Take(block, &ok);
      if (!ok) break;
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  }
};

Bytes Ramp16(size_t samples) {
  Bytes b;
  for (size_t i = 0; i < samples; ++i) PutLe16(b, uint16_t(int16_t(i * 7 - 3000)));
  return b;
}

}  // namespace

TEST(WavConverter, EndOfDataPadsWithSilenceThenAnswersFalse) {
  Source s(MakeWav(1, 2, 44100, 16, Ramp16(2048 + 50)));  // 4096 + 100 bytes
  ASSERT_TRUE(s.opened);
  EXPECT_FALSE(s.converter->Resampler);  // 16-bit PCM is passed through
  bool ok;
  Bytes first = s.Take(4096, &ok);
  EXPECT_TRUE(ok);
  Bytes ramp = Ramp16(2048 + 50);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), ramp.begin()));
  Bytes second = s.Take(4096, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(std::equal(second.begin(), second.begin() + 100, ramp.begin() + 4096));
  EXPECT_EQ(std::count(second.begin() + 100, second.end(), 0), 3996);
  Bytes third = s.Take(4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(std::count(third.begin(), third.end(), 0), 4096);
}

TEST(WavConverter, EightBitPadsWith0x80) {
  Source s(MakeWav(1, 1, 8000, 8, Bytes(10, 0x20)));
  ASSERT_TRUE(s.opened);
  bool ok;
  Bytes b = s.Take(64, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(std::count(b.begin(), b.begin() + 10, 0x20), 10);
  EXPECT_EQ(std::count(b.begin() + 10, b.end(), 0x80), 54);
}

TEST(WavConverter, SeekPositionsTheStreamByTheByteRate) {
  Source s(MakeWav(1, 2, 44100, 16, Bytes(44100 * 4 * 2, 0)));
  ASSERT_TRUE(s.opened);
  s.converter->Seek(1000);
  EXPECT_EQ(s.stream->GetPosition(), int64_t(s.info.DataOffset) + 176400);
  EXPECT_DOUBLE_EQ(s.converter->DecodedMs, 1000);
  s.converter->Seek(0.3);  // 52.92 bytes: back to a whole frame
  EXPECT_EQ(s.stream->GetPosition(), int64_t(s.info.DataOffset) + 52);
}

TEST(WavConverter, FloatAndWideSourcesBecomeTheOutputFormat) {
  std::vector<float> f;
  for (int i = 0; i < 48000; ++i) f.push_back(float(0.5 * std::sin(2 * std::numbers::pi * 440 * i / 48000)));
  Bytes data(f.size() * 4);
  std::memcpy(data.data(), f.data(), data.size());
  Source s(MakeWav(3, 1, 48000, 32, data));
  ASSERT_TRUE(s.opened);
  EXPECT_TRUE(SameWaveFormat(s.converter->OutputFormat, MusicOutputFormat));
  Bytes out = s.All();
  // One second of 48 kHz mono becomes one second of 44.1 kHz stereo.
  EXPECT_NEAR(double(out.size()) / 176400, 1.0, 0.03);
  int16_t peak = 0;
  for (size_t i = 0; i + 1 < out.size(); i += 2) peak = std::max<int16_t>(peak, int16_t(out[i] | (out[i + 1] << 8)));
  EXPECT_NEAR(peak, 16384, 40);
}

TEST(WavConverter, ThirtyTwoBitIntegerPcmIsNotReadAsFloat) {
  // 0x40000000 is 2.0 as a float: read as float it would be full scale (and
  // other integer patterns are NaN); read as an integer it is half scale.
  Bytes data;
  for (int i = 0; i < 2000; ++i) PutLe32(data, 0x40000000u);
  Source s(MakeWav(1, 2, 44100, 32, data));
  ASSERT_TRUE(s.opened);
  Bytes out = s.All();
  ASSERT_GT(out.size(), 4000u);
  for (size_t i = 8; i < 3000; i += 2) ASSERT_EQ(int16_t(out[i] | (out[i + 1] << 8)), 0x4000) << i;
}

TEST(WavConverter, SourcesTheResamplerCannotReadAreRefused) {
  TMediaInfo info{};
  info.FormatCode = mfcWavFloat;
  info.Format = TWaveFormatEx{3, 2, 44100, 705600, 16, 64, 0};
  auto c = foundation::MakeRef<TWavConverter>();
  EXPECT_FALSE(c->Open(info));
  info.Format = TWaveFormatEx{3, 4, 44100, 705600, 16, 32, 0};
  auto c2 = foundation::MakeRef<TWavConverter>();
  EXPECT_FALSE(c2->Open(info));
  info.FormatCode = mfcWavPcm;
  info.Format = TWaveFormatEx{1, 3, 44100, 396900, 9, 24, 0};
  auto c3 = foundation::MakeRef<TWavConverter>();
  EXPECT_FALSE(c3->Open(info));
}

TEST(WavConverter, SixChannelChunksKeepTheirChannels) {
  // 24-bit 6-channel frames are 18 bytes: the 12,288-byte chunks cut frames.
  Bytes data;
  for (int f = 0; f < 3000; ++f)
    for (int c = 0; c < 6; ++c) {
      int32_t v = (c + 1) * 200 * 256;
      data.push_back(uint8_t(v)), data.push_back(uint8_t(v >> 8)), data.push_back(uint8_t(v >> 16));
    }
  Source s(MakeWav(1, 6, 44100, 24, data));
  ASSERT_TRUE(s.opened);
  Bytes out = s.All();
  ASSERT_GT(out.size(), 11000u);
  // Every frame after the first two: L = 200 + 400 + 800 + 1200, R = 400 + 600 + 1000 + 1200.
  for (size_t i = 8; i + 4 <= 2900 * 4; i += 4) {
    ASSERT_EQ(int16_t(out[i] | (out[i + 1] << 8)), 2600) << i;
    ASSERT_EQ(int16_t(out[i + 2] | (out[i + 3] << 8)), 3200) << i;
  }
}

namespace {

Bytes Fixture(const std::string& name) { return ReadAll(std::string(QEL_AUDIO_DATA) + "/" + name); }

}  // namespace

TEST(AdpcmConverter, DecodesTheReferenceAtEveryBlockAlign) {
  for (const char* name : {"ms_256_mono", "ms_1024_stereo", "ms_4096_stereo"}) {
    SCOPED_TRACE(name);
    Bytes reference = Fixture(std::string(name) + ".pcm");
    Source s(Fixture(std::string(name) + ".wav"));
    ASSERT_EQ(s.info.FormatCode, mfcWavAdpcm);
    ASSERT_TRUE(s.opened);
    EXPECT_EQ(s.converter->ChunkSize % s.info.Format.nBlockAlign, 0);
    Bytes out = s.All();
    ASSERT_GE(out.size(), reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), out.begin()));
    EXPECT_EQ(std::count(out.begin() + reference.size(), out.end(), 0), ptrdiff_t(out.size() - reference.size()));
  }
}

TEST(AdpcmConverter, FinalPartialBlockIsHeard) {
  Bytes file = Fixture("ms_1024_stereo.wav");
  Bytes reference = Fixture("ms_1024_stereo.pcm");
  // Cut the data 300 bytes into its fifth block and mend the chunk size.
  size_t dataAt = 0;
  for (size_t i = 12; i + 8 <= file.size(); ++i)
    if (std::memcmp(&file[i], "data", 4) == 0) {
      dataAt = i;
      break;
    }
  ASSERT_GT(dataAt, 0u);
  uint32_t size = 4 * 1024 + 300;
  file.resize(dataAt + 8 + size);
  std::memcpy(&file[dataAt + 4], &size, 4);
  Source s(file);
  ASSERT_TRUE(s.opened);
  Bytes out = s.All(1000);
  uint32_t spb = s.info.Extra[0] | (s.info.Extra[1] << 8);
  size_t frames = 4 * spb + 2 + (300 - 14);  // stereo: one frame per byte after the header
  ASSERT_GE(out.size(), frames * 4);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + frames * 4, reference.begin()));
  EXPECT_EQ(std::count(out.begin() + frames * 4, out.end(), 0), ptrdiff_t(out.size() - frames * 4));
  // The time decoded counts the PCM's bytes at the PCM byte rate, not the ADPCM one.
  EXPECT_NEAR(s.converter->DecodedMs, double(frames) * 4 * 1000 / 176400, 0.001);
}

TEST(AdpcmConverter, DamagedBlockEndsTheSource) {
  Bytes file = Fixture("ms_256_mono.wav");
  size_t dataAt = 0;
  for (size_t i = 12; i + 8 <= file.size(); ++i)
    if (std::memcmp(&file[i], "data", 4) == 0) {
      dataAt = i;
      break;
    }
  file[dataAt + 8] = 9;  // the first block's predictor index
  Source s(file);
  ASSERT_TRUE(s.opened);
  bool ok = true;
  Bytes b = s.Take(2048, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(std::count(b.begin(), b.end(), 0), 2048);
}
