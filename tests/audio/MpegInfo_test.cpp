#include "audio/MpegInfo.h"

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

bool Probe(const Bytes& data, TMediaInfo& info, uint32_t hint = 0) {
  auto s = TRef<TStream>::Adopt(StreamOf(data));
  std::memset(&info, 0, sizeof(info));
  return TMpegInfo::Read(s.Get(), info, hint);
}

struct FrameCase {
  const char* name;
  MpegHeader header;
  uint32_t length;  // bytes, from the standard's formula worked by hand
  uint32_t rate;
  uint16_t channels;
  uint32_t kbps;
};

}  // namespace

TEST(MpegProbe, VersionsLayersAndPadding) {
  const FrameCase cases[] = {
      {"MPEG-1 III 128k 44.1k", {3, 1, 9, 0, false, false}, 417, 44100, 2, 128},
      {"MPEG-1 III padded", {3, 1, 9, 0, true, false}, 418, 44100, 2, 128},
      {"MPEG-1 II 160k 48k", {3, 2, 9, 1, false, false}, 480, 48000, 2, 160},
      {"MPEG-1 I 32k 44.1k", {3, 3, 1, 0, false, false}, 32, 44100, 2, 32},
      {"MPEG-1 I 32k 44.1k padded", {3, 3, 1, 0, true, false}, 36, 44100, 2, 32},
      {"MPEG-2 III 64k 22.05k mono", {2, 1, 8, 0, false, true}, 208, 22050, 1, 64},
      {"MPEG-2 II 64k 24k", {2, 2, 8, 1, false, false}, 384, 24000, 2, 64},
      {"MPEG-2.5 III 64k 8k", {0, 1, 8, 2, false, false}, 576, 8000, 2, 64},
      {"MPEG-2.5 III 8k 11.025k padded", {0, 1, 1, 0, true, true}, 53, 11025, 1, 8},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(MpegFrameLength(c.header), c.length);  // the fixture agrees with the hand figure
    Bytes data = MpegFrames(c.header, 20);
    TMediaInfo info;
    ASSERT_TRUE(Probe(data, info));
    EXPECT_EQ(info.FormatCode, mfcMpeg);
    EXPECT_EQ(info.DataOffset, 0u);
    EXPECT_EQ(info.DataSize, 20 * c.length);
    EXPECT_EQ(info.MaxFrameSize, c.length);
    EXPECT_EQ(info.Format.wFormatTag, 1);
    EXPECT_EQ(info.Format.nChannels, c.channels);
    EXPECT_EQ(info.Format.nSamplesPerSec, c.rate);
    EXPECT_EQ(info.Format.wBitsPerSample, 16);
    EXPECT_EQ(info.Format.nBlockAlign, 2 * c.channels);
    EXPECT_EQ(info.Format.nAvgBytesPerSec, 2u * c.channels * c.rate);
    EXPECT_EQ(uint32_t(info.Duration), 20 * c.length * 8 / c.kbps);
    EXPECT_EQ(info.TotalDuration, 20 * c.length * 8 / c.kbps);
    EXPECT_EQ(MpegVbrFlag(info), 0);
    EXPECT_DOUBLE_EQ(info.FrameDuration, double(c.length) * info.Duration / info.DataSize);
  }
}

TEST(MpegProbe, Id3TagsFrontAndBack) {
  MpegHeader h;
  Bytes data = Id3v2(4086);
  Bytes frames = MpegFrames(h, 10);
  data.insert(data.end(), frames.begin(), frames.end());
  Bytes tail = Id3v1();
  data.insert(data.end(), tail.begin(), tail.end());
  TMediaInfo info;
  ASSERT_TRUE(Probe(data, info));
  EXPECT_EQ(info.DataOffset, 4096u);
  EXPECT_EQ(info.DataSize, 10u * 417);
  EXPECT_EQ(uint32_t(info.Duration), 10u * 417 * 8 / 128);
  EXPECT_EQ(info.TotalDuration, uint32_t(data.size()) * 8 / 128);
}

TEST(MpegProbe, FalseSyncPatternsAreSkipped) {
  MpegHeader h;
  Bytes data;
  // A valid-looking header not followed by another one frame later, then
  // invalid ones (reserved version, free format, bad rate, emphasis 2).
  PutMpegHeader(data, h);
  data.resize(50, 0x11);
  for (Bytes bad : {Bytes{0xFF, 0xEB, 0x90, 0x00}, Bytes{0xFF, 0xFB, 0x00, 0x00}, Bytes{0xFF, 0xFB, 0x9C, 0x00},
                    Bytes{0xFF, 0xFB, 0x90, 0x02}, Bytes{0xFF, 0xF9, 0x90, 0x00}})
    data.insert(data.end(), bad.begin(), bad.end());
  size_t start = data.size();
  Bytes frames = MpegFrames(h, 5);
  data.insert(data.end(), frames.begin(), frames.end());
  TMediaInfo info;
  ASSERT_TRUE(Probe(data, info));
  EXPECT_EQ(info.DataOffset, start);
}

TEST(MpegProbe, XingAndVbriHeaders) {
  {
    MpegHeader h;  // MPEG-1 III stereo 44.1k: Xing at 36
    Bytes data = MpegXingFrame(h, 100, 41700);
    Bytes frames = MpegFrames(h, 3);
    data.insert(data.end(), frames.begin(), frames.end());
    TMediaInfo info;
    ASSERT_TRUE(Probe(data, info));
    EXPECT_EQ(MpegVbrFlag(info), -1);
    int32_t expected = int32_t(std::llround(100.0 * 1152 / 44100 * 1000));
    EXPECT_EQ(info.Duration, expected);
    EXPECT_EQ(info.Duration, 2612);
    EXPECT_EQ(info.TotalDuration, 2612u);
    EXPECT_DOUBLE_EQ(info.FrameDuration, 2612.0 / 100);
  }
  {
    MpegHeader h{2, 1, 8, 0, false, true};  // MPEG-2 III mono: looked for 13 bytes in
    Bytes data = MpegXingFrame(h, 50, 10000);
    Bytes frames = MpegFrames(h, 3);
    data.insert(data.end(), frames.begin(), frames.end());
    TMediaInfo info;
    ASSERT_TRUE(Probe(data, info));
    EXPECT_EQ(info.Duration, int32_t(std::llround(50.0 * 576 / 22050 * 1000)));
  }
  {
    MpegHeader h;  // VBRI sits at 36 as well
    Bytes data = MpegXingFrame(h, 200, 80000, true);
    Bytes frames = MpegFrames(h, 3);
    data.insert(data.end(), frames.begin(), frames.end());
    TMediaInfo info;
    ASSERT_TRUE(Probe(data, info));
    EXPECT_EQ(MpegVbrFlag(info), -1);
    EXPECT_EQ(info.Duration, int32_t(std::llround(200.0 * 1152 / 44100 * 1000)));
  }
  {
    MpegHeader h;  // a Xing header with no frame count keeps the bit-rate length
    Bytes data = MpegXingFrame(h, 0, 0);
    Bytes frames = MpegFrames(h, 3);
    data.insert(data.end(), frames.begin(), frames.end());
    TMediaInfo info;
    ASSERT_TRUE(Probe(data, info));
    EXPECT_EQ(uint32_t(info.Duration), 4u * 417 * 8 / 128);
    EXPECT_DOUBLE_EQ(info.FrameDuration, 26.0);
  }
}

TEST(MpegProbe, BitRateHintAndItsDamagedForm) {
  MpegHeader h;
  Bytes data = MpegFrames(h, 10);
  TMediaInfo info;
  ASSERT_TRUE(Probe(data, info, 64000));
  EXPECT_EQ(uint32_t(info.Duration), 10u * 417 * 8 / 64);
  // Under 1 kbit/s (a WAVE header with 1-124 bytes per second) is no hint.
  ASSERT_TRUE(Probe(data, info, 800));
  EXPECT_EQ(uint32_t(info.Duration), 10u * 417 * 8 / 128);
}

TEST(MpegProbe, NoPairOfHeadersFails) {
  MpegHeader h;
  TMediaInfo info;
  EXPECT_FALSE(Probe({}, info));
  EXPECT_FALSE(Probe(MpegFrames(h, 1), info));  // the second header is missing
  EXPECT_FALSE(Probe(Bytes(5000, 0xFF), info));
  Bytes tiny = Id3v2(20);  // a tag claiming more than there is
  tiny.resize(12);
  EXPECT_FALSE(Probe(tiny, info));
}

TEST(MpegProbe, TagBytesBeforeTheAudioAreNoTrailer) {
  // 40 bytes of junk, then three 32-byte layer I frames: size - 128 = 8 lies
  // before the first frame, so "TAG" there is no ID3v1 trailer of the audio
  // and the data size must not wrap below zero.
  MpegHeader h{3, 3, 1, 1, false, false};  // layer I 32k 48k
  Bytes file(40, 0);
  file[8] = 'T', file[9] = 'A', file[10] = 'G';
  Bytes frames = MpegFrames(h, 3);
  file.insert(file.end(), frames.begin(), frames.end());
  TMediaInfo info;
  ASSERT_TRUE(Probe(file, info));
  EXPECT_EQ(info.DataOffset, 40u);
  EXPECT_EQ(info.DataSize, 96u);
  EXPECT_EQ(uint32_t(info.Duration), 96u * 8 / 32);
}
