// The ADPCM decoders of the acm area against the PCM that ffmpeg's own
// decoder made from files ffmpeg's encoder wrote (tools/make-audio-fixtures.sh).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/acm/api.h"

namespace acm = platform::acm;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes ReadAll(const std::string& name) {
  std::ifstream in(std::string(QEL_AUDIO_DATA) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

struct WavFile {
  Bytes fmt, data;
};

WavFile Split(const Bytes& file) {
  WavFile w;
  size_t pos = 12;
  while (pos + 8 <= file.size()) {
    std::string id(file.begin() + pos, file.begin() + pos + 4);
    uint32_t size = Le32(&file[pos + 4]);
    Bytes payload(file.begin() + pos + 8, file.begin() + std::min(file.size(), pos + 8 + size));
    if (id == "fmt ") w.fmt = payload;
    if (id == "data") w.data = payload;
    pos += 8 + size + (size & 1);
  }
  return w;
}

acm::WaveFormat PcmOf(const acm::WaveFormat& src) {
  acm::WaveFormat d;
  d.tag = 1;
  d.channels = src.channels;
  d.samplesPerSec = src.samplesPerSec;
  d.blockAlign = uint16_t(2 * src.channels);
  d.avgBytesPerSec = d.blockAlign * src.samplesPerSec;
  d.bitsPerSample = 16;
  return d;
}

// Converts the source in one call; answers the PCM and the result code.
Bytes Decode(const acm::WaveFormat& src, const Bytes& data, uint32_t flags, int32_t* result = nullptr,
             uint32_t* sourceUsed = nullptr) {
  acm::AcmStream s = acm::openStream(src, PcmOf(src));
  EXPECT_NE(s, 0u);
  uint32_t size = 0;
  EXPECT_TRUE(acm::streamSize(s, uint32_t(data.size()) + src.blockAlign, size));
  Bytes out(size);
  acm::StreamHeader h;
  h.source = data.data();
  h.sourceLength = uint32_t(data.size());
  h.destination = out.data();
  h.destinationLength = size;
  EXPECT_TRUE(acm::prepareHeader(s, h));
  int32_t r = acm::convert(s, h, acm::kConvertBlockAlign | flags);
  EXPECT_TRUE(acm::unprepareHeader(s, h));
  EXPECT_TRUE(acm::closeStream(s));
  if (result) *result = r;
  if (sourceUsed) *sourceUsed = h.sourceUsed;
  out.resize(h.destinationUsed);
  return out;
}

struct Fixture {
  const char* name;
  uint16_t tag, channels, blockAlign;
};
const Fixture kFixtures[] = {
    {"ms_256_mono", 2, 1, 256},
    {"ms_1024_stereo", 2, 2, 1024},
    {"ms_4096_stereo", 2, 2, 4096},
    {"ima_1024_mono", 0x11, 1, 1024},
};

uint32_t FramesOfPartial(const Fixture& f, uint32_t bytes) {
  if (f.tag == 2) return 2 + (bytes - 7 * f.channels) * 2 / f.channels;
  return 1 + (bytes - 4 * f.channels) / (4 * f.channels) * 8;  // whole 4-byte groups, mono
}

}  // namespace

TEST(AcmAdpcm, DecodesEqualToTheIndependentDecoder) {
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    WavFile w = Split(ReadAll(std::string(f.name) + ".wav"));
    Bytes reference = ReadAll(std::string(f.name) + ".pcm");
    ASSERT_FALSE(w.data.empty());
    ASSERT_FALSE(reference.empty());
    acm::WaveFormat src;
    ASSERT_TRUE(acm::parseWaveFormat(w.fmt, src));
    ASSERT_EQ(src.tag, f.tag);
    ASSERT_EQ(src.channels, f.channels);
    ASSERT_EQ(src.blockAlign, f.blockAlign);
    Bytes ours = Decode(src, w.data, acm::kConvertEnd);
    ASSERT_EQ(ours.size(), reference.size());
    EXPECT_TRUE(ours == reference);
  }
}

TEST(AcmAdpcm, FinalPartialBlockDecodesAsFarAsItsSamplesGo) {
  for (const Fixture& f : kFixtures) {
    SCOPED_TRACE(f.name);
    WavFile w = Split(ReadAll(std::string(f.name) + ".wav"));
    Bytes reference = ReadAll(std::string(f.name) + ".pcm");
    acm::WaveFormat src;
    ASSERT_TRUE(acm::parseWaveFormat(w.fmt, src));
    uint32_t spb = uint32_t(src.extra[0] | (src.extra[1] << 8));
    uint32_t blocks = 3, partial = 100;
    Bytes cut(w.data.begin(), w.data.begin() + blocks * f.blockAlign + partial);
    // Without the end mark the partial block stays unconsumed.
    uint32_t used = 0;
    Bytes whole = Decode(src, cut, 0, nullptr, &used);
    EXPECT_EQ(used, blocks * f.blockAlign);
    EXPECT_EQ(whole.size(), size_t(blocks) * spb * f.channels * 2);
    // With it, the partial block's samples follow.
    Bytes ours = Decode(src, cut, acm::kConvertEnd, nullptr, &used);
    EXPECT_EQ(used, cut.size());
    size_t frames = size_t(blocks) * spb + FramesOfPartial(f, partial);
    ASSERT_EQ(ours.size(), frames * f.channels * 2);
    EXPECT_TRUE(std::equal(ours.begin(), ours.end(), reference.begin()));
  }
}

TEST(AcmAdpcm, OnlyAdpcmToMatchingPcmOpens) {
  WavFile w = Split(ReadAll("ms_1024_stereo.wav"));
  acm::WaveFormat src;
  ASSERT_TRUE(acm::parseWaveFormat(w.fmt, src));
  acm::WaveFormat dst = PcmOf(src);
  acm::WaveFormat pcm = dst;
  EXPECT_EQ(acm::openStream(pcm, dst), 0u);
  acm::WaveFormat eight = dst;
  eight.bitsPerSample = 8;
  EXPECT_EQ(acm::openStream(src, eight), 0u);
  acm::WaveFormat mono = dst;
  mono.channels = 1;
  EXPECT_EQ(acm::openStream(src, mono), 0u);
  acm::WaveFormat greedy = src;  // more samples per block than the block holds
  greedy.extra[0] = 0xFF, greedy.extra[1] = 0x7F;
  EXPECT_EQ(acm::openStream(greedy, dst), 0u);
  acm::WaveFormat noCoefficients = src;
  noCoefficients.extra.resize(4);
  EXPECT_EQ(acm::openStream(noCoefficients, dst), 0u);
  uint32_t size = 0;
  EXPECT_FALSE(acm::streamSize(0, 100, size));
  EXPECT_FALSE(acm::closeStream(12345678));
}

TEST(AcmAdpcm, MalformedBlockHeadersAreErrors) {
  WavFile w = Split(ReadAll("ms_256_mono.wav"));
  acm::WaveFormat src;
  ASSERT_TRUE(acm::parseWaveFormat(w.fmt, src));
  Bytes data(w.data.begin(), w.data.begin() + 512);
  data[256] = 7;  // predictor index past the seven pairs
  int32_t result = 0;
  Decode(src, data, 0, &result);
  EXPECT_EQ(result, acm::kErrorMalformed);

  WavFile ima = Split(ReadAll("ima_1024_mono.wav"));
  ASSERT_TRUE(acm::parseWaveFormat(ima.fmt, src));
  Bytes idata(ima.data.begin(), ima.data.begin() + 1024);
  idata[2] = 89;  // step index past the table
  Decode(src, idata, 0, &result);
  EXPECT_EQ(result, acm::kErrorMalformed);
}

TEST(AcmAdpcm, DestinationRoomLimitsTheBlocks) {
  WavFile w = Split(ReadAll("ms_256_mono.wav"));
  acm::WaveFormat src;
  ASSERT_TRUE(acm::parseWaveFormat(w.fmt, src));
  acm::AcmStream s = acm::openStream(src, PcmOf(src));
  ASSERT_NE(s, 0u);
  Bytes out(1500);  // one 500-sample block fits, a second does not
  acm::StreamHeader h;
  h.source = w.data.data();
  h.sourceLength = 256 * 4;
  h.destination = out.data();
  h.destinationLength = uint32_t(out.size());
  EXPECT_EQ(acm::convert(s, h, 0), acm::kErrorUnprepared);
  acm::prepareHeader(s, h);
  EXPECT_EQ(acm::convert(s, h, acm::kConvertBlockAlign), acm::kOk);
  EXPECT_EQ(h.sourceUsed, 256u);
  EXPECT_EQ(h.destinationUsed, 1000u);
  acm::closeStream(s);
  EXPECT_EQ(acm::convert(s, h, 0), acm::kErrorInvalidHandle);
}
