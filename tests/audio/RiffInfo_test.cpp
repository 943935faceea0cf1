#include "audio/RiffInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/audio/AudioTestEnv.h"
#include "tests/support/AudioFixtures.h"

using namespace audio;
using namespace audio_test;
using foundation::TRef;
using foundation::TStream;

namespace {

bool Walk(const Bytes& data, TMediaInfo& info) {
  auto s = TRef<TStream>::Adopt(StreamOf(data));
  std::memset(&info, 0, sizeof(info));
  return TRiffInfo::Read(s.Get(), info);
}

struct Layout {
  const char* name;
  uint16_t tag, channels;
  uint32_t rate;
  uint16_t bits;
  bool list, fact;
  uint8_t code;
};

}  // namespace

TEST(RiffWalk, EveryLayoutReportsFormatRangeAndDuration) {
  const Layout layouts[] = {
      {"8-bit mono 8000", 1, 1, 8000, 8, false, false, 1},
      {"16-bit stereo 44100, LIST and fact", 1, 2, 44100, 16, true, true, 1},
      {"16-bit mono 22050, LIST", 1, 1, 22050, 16, true, false, 1},
      {"24-bit stereo 48000", 1, 2, 48000, 24, false, true, 1},
      {"32-bit integer stereo 32000", 1, 2, 32000, 32, false, false, 1},
      {"float stereo 44100", 3, 2, 44100, 32, true, true, 3},
      {"float mono 16000", 3, 1, 16000, 32, false, false, 3},
      {"6-channel 16-bit 48000", 1, 6, 48000, 16, false, false, 1},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    uint32_t align = l.channels * l.bits / 8;
    Bytes data(align * l.rate / 4 + 7 * align, 0);  // 0.25 s and 7 frames
    Bytes wav = MakeWav(l.tag, l.channels, l.rate, l.bits, data, l.list, l.fact);
    TMediaInfo info;
    ASSERT_TRUE(Walk(wav, info));
    EXPECT_EQ(info.FormatCode, l.code);
    EXPECT_EQ(info.Format.wFormatTag, l.tag);
    EXPECT_EQ(info.Format.nChannels, l.channels);
    EXPECT_EQ(info.Format.nSamplesPerSec, l.rate);
    EXPECT_EQ(info.Format.wBitsPerSample, l.bits);
    EXPECT_EQ(info.Format.nBlockAlign, align);
    EXPECT_EQ(info.Format.cbSize, 0);
    uint32_t offset = 12 + (l.list ? 8 + 16 : 0) + 8 + 16 + (l.fact ? 8 + 4 : 0) + 8;
    EXPECT_EQ(info.DataOffset, offset);
    EXPECT_EQ(info.DataSize, data.size());
    EXPECT_EQ(info.Duration, int32_t(std::llround(double(data.size()) / (align * l.rate) * 1000)));
    EXPECT_EQ(info.Shifted, 0);
  }
  // Ten times the byte rate lasts ten seconds.
  TMediaInfo info;
  ASSERT_TRUE(Walk(MakeWav(1, 2, 44100, 16, Bytes(1764000, 0)), info));
  EXPECT_EQ(info.Duration, 10000);
}

TEST(RiffWalk, MsAdpcmKeepsItsThirtyTwoExtraBytes) {
  Bytes extra;
  PutLe16(extra, 500);  // samples per block
  PutLe16(extra, 7);
  const int16_t coefs[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
  for (int16_t c : coefs) PutLe16(extra, uint16_t(c));
  ASSERT_EQ(extra.size(), 32u);
  Bytes wav = MakeRiff({{"fmt ", FmtPayload(2, 1, 22050, 11155, 256, 4, &extra)}, {"data", Bytes(2560, 0)}});
  TMediaInfo info;
  ASSERT_TRUE(Walk(wav, info));
  EXPECT_EQ(info.FormatCode, mfcWavAdpcm);
  EXPECT_EQ(info.Format.cbSize, 32);
  EXPECT_EQ(info.Format.nBlockAlign, 256);
  EXPECT_EQ(0, std::memcmp(info.Extra, extra.data(), 32));
  EXPECT_EQ(info.DataOffset, 12u + 8 + 50 + 8);
  EXPECT_EQ(info.DataSize, 2560u);
}

TEST(RiffWalk, MpegInsideRiffIsProbedAndShifted) {
  MpegHeader h;
  Bytes frames = MpegFrames(h, 10);
  Bytes wav = MakeRiff({{"fmt ", FmtPayload(0x55, 2, 44100, 16000, 1, 0)}, {"data", frames}});
  TMediaInfo info;
  ASSERT_TRUE(Walk(wav, info));
  EXPECT_EQ(info.FormatCode, mfcMpeg);
  EXPECT_EQ(info.Shifted, 1);
  EXPECT_EQ(info.DataOffset, 12u + 8 + 16 + 8);
  EXPECT_EQ(uint32_t(info.Duration), 10u * 417 * 8 / 128);  // the hint 16000 x 8 bit/s
  // A damaged byte rate of 1-124 bytes per second gives no hint instead of a division by zero.
  Bytes damaged = MakeRiff({{"fmt ", FmtPayload(0x55, 2, 44100, 100, 1, 0)}, {"data", frames}});
  ASSERT_TRUE(Walk(damaged, info));
  EXPECT_EQ(uint32_t(info.Duration), 10u * 417 * 8 / 128);
}

TEST(RiffWalk, MissingOrDamagedChunksFailCleanly) {
  TMediaInfo info;
  // No "data".
  EXPECT_FALSE(Walk(MakeRiff({{"fmt ", FmtPayload(1, 2, 44100, 176400, 4, 16)}, {"LIST", Bytes(12, 0)}}), info));
  // Not WAVE.
  Bytes avi = MakeWav(1, 2, 44100, 16, Bytes(64, 0));
  std::memcpy(avi.data() + 8, "AVI ", 4);
  EXPECT_FALSE(Walk(avi, info));
  // Zero fields and a byte rate that disagrees with the samples.
  const struct {
    const char* name;
    Bytes fmt;
  } damaged[] = {
      {"byte rate 0", FmtPayload(1, 2, 44100, 0, 4, 16)},
      {"rate 0", FmtPayload(1, 2, 0, 0, 4, 16)},
      {"channels 0", FmtPayload(1, 0, 44100, 176400, 4, 16)},
      {"block align 0", FmtPayload(3, 2, 44100, 352800, 0, 32)},
      {"byte rate disagrees", FmtPayload(1, 2, 44100, 1000, 4, 16)},
      {"ADPCM byte rate 0", FmtPayload(2, 1, 22050, 0, 256, 4)},
      {"64-bit float", FmtPayload(3, 2, 44100, 705600, 16, 64)},
      {"float with 4 channels", FmtPayload(3, 4, 44100, 705600, 16, 32)},
      {"24-bit with 3 channels", FmtPayload(1, 3, 44100, 396900, 9, 24)},
      {"tag 0x11", FmtPayload(0x11, 1, 22050, 11100, 256, 4)},
  };
  for (const auto& d : damaged) {
    SCOPED_TRACE(d.name);
    Bytes fmt = d.fmt;
    if (fmt.size() == 16 && (fmt[0] == 2 || fmt[0] == 0x11)) fmt.resize(50, 0);
    EXPECT_FALSE(Walk(MakeRiff({{"fmt ", fmt}, {"data", Bytes(1024, 0)}}), info));
  }
  // A chunk before "fmt " claiming more than the file holds.
  Bytes big = MakeRiff({{"LIST", Bytes(8, 0)}, {"fmt ", FmtPayload(1, 2, 44100, 176400, 4, 16)}});
  big[16] = 0xFF, big[17] = 0xFF, big[18] = 0xFF, big[19] = 0x7F;
  EXPECT_FALSE(Walk(big, info));
  // Truncated in the middle of the first chunk header.
  Bytes cut = MakeWav(1, 2, 44100, 16, Bytes(64, 0));
  cut.resize(30);
  EXPECT_FALSE(Walk(cut, info));
}

TEST(RiffWalk, DataChunkPastTheEndPlaysWhatIsThere) {
  Bytes wav = MakeWav(1, 2, 44100, 16, Bytes(17640, 0));
  uint32_t claimed = 1764000;
  std::memcpy(wav.data() + 40, &claimed, 4);
  TMediaInfo info;
  ASSERT_TRUE(Walk(wav, info));
  EXPECT_EQ(info.DataSize, 17640u);
  EXPECT_EQ(info.Duration, 100);
}
