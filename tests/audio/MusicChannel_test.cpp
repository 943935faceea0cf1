// The playback envelope: fade-ins and fade-outs in frames, the fade-out from
// wherever the fade-in had got to, 8-bit samples centred at 128, and the end
// reported when a fade-out reaches zero.
#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "audio/MusicChannel.h"
#include "foundation/kpExceptions.h"

using audio::TFadeEnvelope;

namespace {

std::vector<int16_t> stereo(uint32_t frames, int16_t value) { return std::vector<int16_t>(frames * 2, value); }

std::vector<int16_t> faded(TFadeEnvelope& e, const std::vector<int16_t>& in) {
  std::vector<int16_t> out(in.size());
  e.ApplyFade(reinterpret_cast<uint8_t*>(out.data()), reinterpret_cast<const uint8_t*>(in.data()),
              static_cast<uint32_t>(in.size() * 2));
  return out;
}

}  // namespace

TEST(FadeEnvelope, ZeroFadesTakeOneFrame) {
  TFadeEnvelope e(4, 16);
  e.StartFadeIn(0, 44100);
  EXPECT_EQ(e.FadeInFrames, 1);
  std::vector<int16_t> out = faded(e, stereo(3, 10000));
  EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 10000, 10000, 10000, 10000}));
  int ends = 0;
  uint32_t endAt = 0;
  e.MarkEnd = [&](uint32_t bytes) {
    if (ends++ == 0) endAt = bytes;  // later calls find the end already known
  };
  e.StartFadeOut(0, 44100);
  out = faded(e, stereo(3, 10000));
  EXPECT_EQ(out, (std::vector<int16_t>{10000, 10000, 0, 0, 0, 0}));
  EXPECT_GE(ends, 1);
  EXPECT_EQ(endAt, 4u);  // reached at the first frame
}

TEST(FadeEnvelope, FadeInRampsLinearlyThenCopies) {
  TFadeEnvelope e(4, 16);
  e.StartFadeIn(1, 8000);  // 8 frames
  std::vector<int16_t> out = faded(e, stereo(12, 8000));
  for (int f = 0; f < 8; ++f) EXPECT_EQ(out[2 * f], f * 1000) << f;
  for (int f = 8; f < 12; ++f) EXPECT_EQ(out[2 * f], 8000) << f;
  EXPECT_FALSE(e.FadingIn);
  EXPECT_EQ(e.Gain, 1.0f);
}

TEST(FadeEnvelope, StoppingDuringAFadeInFadesDownFromWhereItGot) {
  TFadeEnvelope e(4, 16);
  e.StartFadeIn(1000, 44100);
  faded(e, stereo(4410, 1000));  // 100 ms of a 1000 ms fade-in
  EXPECT_NEAR(e.Gain, 0.1f, 1e-3);
  bool ended = false;
  e.MarkEnd = [&](uint32_t) { ended = true; };
  e.StartFadeOut(100, 44100);  // 4410 frames, from 0.1: a step of 1/4410
  std::vector<int16_t> out = faded(e, stereo(4410, 10000));
  EXPECT_NEAR(out[0], 1000, 2);
  EXPECT_NEAR(out[2 * 220], 500, 3);  // half way down at a tenth of the time
  EXPECT_TRUE(ended);
  EXPECT_EQ(out[2 * 4409], 0);
}

TEST(FadeEnvelope, EightBitSamplesScaleAroundTheirCentre) {
  TFadeEnvelope e(1, 8);
  e.StartFadeIn(1, 2000);  // 2 frames: gains 0, 0.5, then 1
  std::vector<uint8_t> in = {255, 0, 255, 0}, out(4);
  e.ApplyFade(out.data(), in.data(), 4);
  EXPECT_EQ(out, (std::vector<uint8_t>{128, 64, 255, 0}));  // 128 - round(128 x 0.5) = 64
}

TEST(FadeEnvelope, RefadeShapesQueuedAudioOnlyWhileFadingOut) {
  TFadeEnvelope e(4, 16);
  std::vector<int16_t> queued = stereo(4, 4000);
  e.RefadeQueued(reinterpret_cast<uint8_t*>(queued.data()), 16, 0);
  EXPECT_TRUE(queued == stereo(4, 4000));  // not fading out: untouched
  e.StartFadeOut(1, 4000);             // 4 frames
  e.FadingOut = true;                  // the refade callback sets it
  e.RefadeQueued(reinterpret_cast<uint8_t*>(queued.data()), 16, 0);
  EXPECT_EQ(queued, (std::vector<int16_t>{4000, 4000, 3000, 3000, 2000, 2000, 1000, 1000}));
}

TEST(FadeEnvelope, RefadeOfAQueuedFadeInStartsFromTheLevelOfItsFirstFrame) {
  // 1.5 s written ahead with a 1000 ms fade-in; the listener is 100 ms in
  // and the refade starts 35 ms further (the frames committed to the
  // output): the fade-out goes down from about 0.135, as heard there, and
  // never up towards the writer's full level. Region split as at a wrap.
  TFadeEnvelope e(4, 16);
  e.StartFadeIn(1000, 44100);
  std::vector<int16_t> ring = faded(e, stereo(66150, 10000));
  EXPECT_EQ(e.Gain, 1.0f);
  uint32_t endBytes = 0;
  int ends = 0;
  e.MarkEnd = [&](uint32_t bytes) {
    if (ends++ == 0) endBytes = bytes;
  };
  e.StartFadeOut(1000, 44100);  // a step of 1/44100 a frame
  e.FadingOut = true;
  const uint32_t from = 4410 + 1544, split = 30000;
  auto* bytes = reinterpret_cast<uint8_t*>(ring.data());
  e.RefadeQueued(bytes + from * 4, (split - from) * 4, from);
  e.RefadeQueued(bytes + split * 4, (66150 - split) * 4, split);
  // Heard: 10000 x (from / 44100 - j / 44100), j frames into the refade.
  for (uint32_t j : {0u, 1u, 1000u, 3000u, 5900u}) {
    double expected = 10000.0 * (static_cast<double>(from) - j) / 44100.0;
    EXPECT_NEAR(ring[2 * (from + j)], expected, 2.0) << j;
  }
  int16_t peak = *std::max_element(ring.begin() + 2 * from, ring.end());
  EXPECT_LE(peak, 1351);
  for (uint32_t f = from + 5960; f < 66150; f += 997) EXPECT_EQ(ring[2 * f], 0) << f;
  // The fade reached zero about from frames in, inside the first part.
  EXPECT_EQ(ends, 1);
  EXPECT_NEAR(endBytes / 4.0, from, 2.0);
  // The writer goes on silent.
  EXPECT_EQ(e.Gain, 0.0f);
  std::vector<int16_t> next = faded(e, stereo(10, 10000));
  EXPECT_EQ(next, stereo(10, 0));
}

TEST(FadeEnvelope, OtherSampleSizesAreRefused) {
  TFadeEnvelope e(6, 24);
  e.StartFadeIn(10, 44100);
  std::vector<uint8_t> in(12), out(12);
  EXPECT_THROW(e.ApplyFade(out.data(), in.data(), 12), foundation::EAssertionFailed);
}
