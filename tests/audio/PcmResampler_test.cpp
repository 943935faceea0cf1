#include "audio/PcmResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "foundation/SysObj.h"
#include "tests/support/AudioFixtures.h"

using namespace audio;
using audio_test::Bytes;
using foundation::TRef;

namespace {

TWaveFormatEx Pcm(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = WAVE_FORMAT_PCM) {
  uint16_t align = uint16_t(channels * bits / 8);
  return TWaveFormatEx{tag, channels, rate, rate * align, align, bits, 0};
}

Bytes RunBlock(TPcmResampler* r, const TWaveFormatEx& in, const TWaveFormatEx& out, const Bytes& input) {
  uint32_t n = r->OutputSize(in, out, uint32_t(input.size()));
  EXPECT_EQ(r->OutputSize(in, out, uint32_t(input.size())), n);  // asking changes nothing
  Bytes result(n + 1, 0xEE);
  r->Convert(input.data(), result.data());
  EXPECT_EQ(result[n], 0xEE);  // nothing past the announced size
  result.resize(n);
  return result;
}

Bytes Convert(const TWaveFormatEx& in, const TWaveFormatEx& out, const Bytes& input) {
  auto r = foundation::MakeRef<TPcmResampler>();
  return RunBlock(r.Get(), in, out, input);
}

std::vector<int16_t> Samples(const Bytes& b) {
  std::vector<int16_t> s(b.size() / 2);
  std::memcpy(s.data(), b.data(), s.size() * 2);
  return s;
}

Bytes Of16(const std::vector<int16_t>& s) {
  Bytes b(s.size() * 2);
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

template <class T>
Bytes OfRaw(const std::vector<T>& s) {
  Bytes b(s.size() * sizeof(T));
  std::memcpy(b.data(), s.data(), b.size());
  return b;
}

}  // namespace

TEST(PcmResampler, EqualRatesDelayByOneFrame) {
  auto out = Samples(Convert(Pcm(2, 44100, 16), Pcm(2, 44100, 16), Of16({100, -100, 200, -200, 300, -300})));
  EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 100, -100, 200, -200}));
}

TEST(PcmResampler, EightBitMonoDoubledToStereo) {
  Bytes in(50, 0x80);
  Bytes out = Convert(Pcm(1, 22050, 8), Pcm(2, 44100, 16), in);
  ASSERT_EQ(out.size(), 50u * 2 * 4);
  for (uint8_t b : out) ASSERT_EQ(b, 0);
}

TEST(PcmResampler, DoubledRampGivesHalfwayValuesTruncated) {
  std::vector<int16_t> ramp;
  for (int k = 0; k < 40; ++k) ramp.push_back(int16_t(801 * k));
  auto out = Samples(Convert(Pcm(1, 8000, 16), Pcm(1, 16000, 16), Of16(ramp)));
  ASSERT_EQ(out.size(), 80u);
  // Output j lies at input position j/2 - 1 (one frame of lag); the line
  // through three points is the line itself, a half truncated toward zero.
  for (size_t j = 4; j < out.size(); ++j) {
    double x = double(j) / 2 - 1;
    EXPECT_EQ(out[j], int16_t(std::trunc(801 * x))) << j;
  }
}

TEST(PcmResampler, SampleTypesAreReadByTheirUpperSixteenBits) {
  // Each input holds three equal frames, so the third output is the value.
  auto third = [](const TWaveFormatEx& in, const Bytes& frame) {
    Bytes input;
    for (int i = 0; i < 3; ++i) input.insert(input.end(), frame.begin(), frame.end());
    auto s = Samples(Convert(in, Pcm(1, in.nSamplesPerSec, 16), input));
    return s.at(2);
  };
  EXPECT_EQ(third(Pcm(1, 8000, 24), Bytes{0x56, 0x34, 0x12}), 0x1234);
  EXPECT_EQ(third(Pcm(1, 8000, 32), OfRaw<int32_t>({0x12345678})), 0x1234);
  EXPECT_EQ(third(Pcm(1, 8000, 32), OfRaw<int32_t>({0x7FFFFFFF})), 32767);
  EXPECT_EQ(third(Pcm(1, 8000, 32), OfRaw<int32_t>({INT32_MIN})), -32768);
  EXPECT_EQ(third(Pcm(1, 8000, 32), OfRaw<int32_t>({-1})), -1);  // not a float bit pattern
  const TWaveFormatEx f = Pcm(1, 8000, 32, WAVE_FORMAT_IEEE_FLOAT);
  EXPECT_EQ(third(f, OfRaw<float>({1.0f})), 32767);
  EXPECT_EQ(third(f, OfRaw<float>({1.5f})), 32767);
  EXPECT_EQ(third(f, OfRaw<float>({-1.0f})), -32767);
  EXPECT_EQ(third(f, OfRaw<float>({0.5f})), 16384);  // round(16383.5), half to even
  EXPECT_EQ(third(f, OfRaw<float>({std::numeric_limits<float>::quiet_NaN()})), 0);
  EXPECT_EQ(third(f, OfRaw<float>({-std::numeric_limits<float>::infinity()})), -32767);
  EXPECT_EQ(third(f, OfRaw<float>({3e38f})), 32767);
}

TEST(PcmResampler, OutputLayouts) {
  // Stereo to mono: (left + right) / 2 truncated toward zero.
  auto mono = Samples(Convert(Pcm(2, 8000, 16), Pcm(1, 8000, 16), Of16({101, -200, 101, -200, 101, -200})));
  EXPECT_EQ(mono.at(2), -49);
  // 8-bit output: value div 256 + 128.
  Bytes eight = Convert(Pcm(1, 8000, 16), Pcm(1, 8000, 8), Of16({-1000, -1000, -1000}));
  ASSERT_EQ(eight.size(), 3u);
  EXPECT_EQ(eight[2], uint8_t(-1000 / 256 + 128));
}

TEST(PcmResampler, SixChannelsSumAndLimitAfterInterpolation) {
  std::vector<int16_t> frames;
  for (int i = 0; i < 3; ++i)
    for (int16_t v : {100, 200, 300, 400, 500, 600}) frames.push_back(v);
  auto out = Samples(Convert(Pcm(6, 8000, 16), Pcm(2, 8000, 16), Of16(frames)));
  EXPECT_EQ(out.at(4), 100 + 200 + 400 + 600);
  EXPECT_EQ(out.at(5), 200 + 300 + 500 + 600);
  std::vector<int16_t> loud(18, 20000);
  out = Samples(Convert(Pcm(6, 8000, 16), Pcm(2, 8000, 16), Of16(loud)));
  EXPECT_EQ(out.at(4), 32767);
  EXPECT_EQ(out.at(5), 32767);
}

TEST(PcmResampler, BlocksCutAnywhereGiveTheSameStream) {
  // A 6-channel stream in 4096-byte chunks: 4096 is no multiple of the
  // 12-byte frame, and every chunk must continue where the last one ended.
  std::vector<int16_t> six;
  for (int f = 0; f < 3000; ++f)
    for (int c = 0; c < 6; ++c) six.push_back(int16_t((c + 1) * 1000 + (f % 50)));
  Bytes whole = Of16(six);
  const TWaveFormatEx in6 = Pcm(6, 44100, 16), out = Pcm(2, 48000, 16);
  Bytes once = Convert(in6, out, whole);
  auto r = foundation::MakeRef<TPcmResampler>();
  Bytes pieces;
  for (size_t at = 0; at < whole.size(); at += 4096) {
    Bytes chunk(whole.begin() + at, whole.begin() + std::min(whole.size(), at + 4096));
    Bytes part = RunBlock(r.Get(), in6, out, chunk);
    pieces.insert(pieces.end(), part.begin(), part.end());
  }
  EXPECT_EQ(pieces, once);
  // 24-bit stereo cut at odd places, down to single bytes.
  Bytes b24;
  for (int f = 0; f < 2000; ++f)
    for (int c = 0; c < 2; ++c) {
      int32_t v = int32_t(std::lround(8000000 * std::sin(f * 0.05 + c)));
      b24.push_back(uint8_t(v)), b24.push_back(uint8_t(v >> 8)), b24.push_back(uint8_t(v >> 16));
    }
  once = Convert(Pcm(2, 44100, 24), out, b24);
  auto r2 = foundation::MakeRef<TPcmResampler>();
  pieces.clear();
  const size_t cuts[] = {1, 1, 7, 1000, 333, 5, 4096};
  size_t at = 0;
  for (size_t i = 0; at < b24.size(); ++i) {
    size_t n = std::min(cuts[i % 7], b24.size() - at);
    Bytes chunk(b24.begin() + at, b24.begin() + at + n);
    Bytes part = RunBlock(r2.Get(), Pcm(2, 44100, 24), out, chunk);
    pieces.insert(pieces.end(), part.begin(), part.end());
    at += n;
  }
  EXPECT_EQ(pieces, once);
}

TEST(PcmResampler, SineKeepsFrequencyAndLevelWithoutClicks) {
  const double freq = 1000, amp = 10000;
  std::vector<int16_t> in;
  for (int i = 0; i < 44100; ++i) {
    int16_t v = int16_t(std::lround(amp * std::sin(2 * std::numbers::pi * freq * i / 44100)));
    in.push_back(v), in.push_back(v);
  }
  auto r = foundation::MakeRef<TPcmResampler>();
  Bytes all;
  Bytes whole = Of16(in);
  for (size_t at = 0; at < whole.size(); at += 4096) {
    Bytes chunk(whole.begin() + at, whole.begin() + std::min(whole.size(), at + 4096));
    Bytes part = RunBlock(r.Get(), Pcm(2, 44100, 16), Pcm(2, 48000, 16), chunk);
    all.insert(all.end(), part.begin(), part.end());
  }
  auto out = Samples(all);
  ASSERT_NEAR(double(out.size()) / 2, 48000, 2);
  // Skip the first frames (the lag and the history filling).
  int crossings = 0;
  double sumSq = 0, maxStep = 0;
  size_t frames = out.size() / 2;
  for (size_t j = 10; j < frames; ++j) {
    double a = out[2 * (j - 1)], b = out[2 * j];
    if ((a < 0) != (b < 0)) ++crossings;
    sumSq += b * b;
    maxStep = std::max(maxStep, std::abs(b - a));
    ASSERT_EQ(out[2 * j], out[2 * j + 1]);
  }
  double seconds = double(frames - 10) / 48000;
  EXPECT_NEAR(crossings / 2.0 / seconds, freq, 2.0);
  double rms = std::sqrt(sumSq / double(frames - 10));
  EXPECT_NEAR(rms, amp / std::sqrt(2.0), amp * 0.005);
  // The steepest step of the sine at 48 kHz, plus rounding: a click at a
  // block join would be far larger.
  EXPECT_LT(maxStep, amp * 2 * std::numbers::pi * freq / 48000 + 3);
}
