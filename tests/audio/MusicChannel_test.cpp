// The playback envelope: fade-ins and fade-outs in frames, the fade-out from
// wherever the fade-in had got to, 8-bit samples centred at 128, and the end
// reported when a fade-out reaches zero.
#include <cmath>
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
  e.RefadeQueued(reinterpret_cast<uint8_t*>(queued.data()), 16);
  EXPECT_TRUE(queued == stereo(4, 4000));  // not fading out: untouched
  e.StartFadeOut(1, 4000);             // 4 frames
  e.FadingOut = true;                  // the refade callback sets it
  e.RefadeQueued(reinterpret_cast<uint8_t*>(queued.data()), 16);
  EXPECT_EQ(queued, (std::vector<int16_t>{4000, 4000, 3000, 3000, 2000, 2000, 1000, 1000}));
}

TEST(FadeEnvelope, OtherSampleSizesAreRefused) {
  TFadeEnvelope e(6, 24);
  e.StartFadeIn(10, 44100);
  std::vector<uint8_t> in(12), out(12);
  EXPECT_THROW(e.ApplyFade(out.data(), in.data(), 12), foundation::EAssertionFailed);
}
