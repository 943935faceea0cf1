// The sound area on its manual backend: buffer formats, lock spans, cursors,
// volume and the software mixer, frame by frame.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/api.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/sound/api.h"
#include "platform/sound/manual/Sound_manual.h"
#include "platform/sound/testing/SoundFaults.h"

namespace sound = platform::sound;
using sound::WaveFormat;

namespace {

WaveFormat pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
  WaveFormat f;
  f.formatTag = 1;
  f.channels = channels;
  f.samplesPerSec = rate;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.avgBytesPerSec = rate * f.blockAlign;
  f.bitsPerSample = bits;
  return f;
}

class ManualSound : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = sound::setSoundBackend(sound::manualSoundBackend());
    sound::manualSound().setPeriodFrames(441);
    ASSERT_EQ(sound::directSoundCreate(nullptr, &device_, nullptr), sound::DS_OK);
  }
  void TearDown() override {
    for (sound::SoundBuffer* b : buffers_) b->release();
    if (device_) device_->release();
    EXPECT_EQ(sound::manualSound().openDevices(), 0);
    sound::setSoundBackend(previous_);
  }
  sound::SoundBuffer* make(const WaveFormat& f, uint32_t bytes, uint32_t flags = 0x18088) {
    sound::BufferDescription d;
    d.flags = flags;
    d.bufferBytes = bytes;
    d.format = &f;
    sound::SoundBuffer* b = nullptr;
    EXPECT_EQ(device_->createSoundBuffer(d, &b), sound::DS_OK);
    if (b) buffers_.push_back(b);
    return b;
  }
  // Writes 16-bit stereo frames (left, right) into the ring from offset 0.
  static void fill16(sound::SoundBuffer* b, const std::vector<int16_t>& samples) {
    void *p1, *p2;
    uint32_t n1, n2;
    ASSERT_EQ(b->lock(0, static_cast<uint32_t>(samples.size() * 2), &p1, &n1, &p2, &n2), sound::DS_OK);
    std::memcpy(p1, samples.data(), n1);
    b->unlock(p1, n1, p2, n2);
  }

  sound::SoundBackend* previous_ = nullptr;
  sound::SoundDevice* device_ = nullptr;
  std::vector<sound::SoundBuffer*> buffers_;
};

}  // namespace

TEST_F(ManualSound, BufferFormatsTheMixerCannotTakeAreRefused) {
  struct Row {
    WaveFormat format;
    uint32_t bytes;
    sound::HRESULT expected;
  };
  WaveFormat six = pcm(6, 44100, 16);
  WaveFormat bits24 = pcm(2, 44100, 24);
  WaveFormat floats = pcm(2, 44100, 32);
  floats.formatTag = 3;
  WaveFormat badAlign = pcm(2, 44100, 16);
  badAlign.blockAlign = 3;
  WaveFormat badRate = pcm(2, 44100, 16);
  badRate.avgBytesPerSec = 0;
  const Row rows[] = {
      {pcm(2, 44100, 16), 176400 * 2, sound::DS_OK},
      {pcm(1, 8000, 8), 16000, sound::DS_OK},
      {pcm(2, 200000, 16), 800, sound::DS_OK},
      {pcm(2, 99, 16), 800, sound::DSERR_BADFORMAT},
      {six, 1200, sound::DSERR_BADFORMAT},
      {bits24, 1200, sound::DSERR_BADFORMAT},
      {floats, 1600, sound::DSERR_BADFORMAT},
      {badAlign, 1200, sound::DSERR_BADFORMAT},
      {badRate, 1200, sound::DSERR_BADFORMAT},
      {pcm(2, 44100, 16), 0, sound::DSERR_BADFORMAT},   // an empty ring
      {pcm(2, 44100, 16), 1002, sound::DSERR_BADFORMAT},  // not whole frames
  };
  for (const Row& r : rows) {
    sound::BufferDescription d;
    d.flags = 0x18088;
    d.bufferBytes = r.bytes;
    d.format = &r.format;
    sound::SoundBuffer* b = reinterpret_cast<sound::SoundBuffer*>(8);
    EXPECT_EQ(device_->createSoundBuffer(d, &b), r.expected) << r.format.channels << " " << r.format.bitsPerSample;
    if (r.expected == sound::DS_OK) {
      ASSERT_NE(b, nullptr);
      b->release();
    } else {
      EXPECT_EQ(b, nullptr);
    }
  }
  sound::BufferDescription wrongSize;
  WaveFormat f = pcm(2, 44100, 16);
  wrongSize.size = 36;
  wrongSize.bufferBytes = 400;
  wrongSize.format = &f;
  sound::SoundBuffer* b = nullptr;
  EXPECT_EQ(device_->createSoundBuffer(wrongSize, &b), sound::DSERR_INVALIDPARAM);
}

TEST_F(ManualSound, LockSplitsASpanAtTheRingsEnd) {
  sound::SoundBuffer* b = make(pcm(2, 44100, 16), 1000);
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->lock(900, 300, &p1, &n1, &p2, &n2), sound::DS_OK);
  EXPECT_EQ(n1, 100u);
  EXPECT_EQ(n2, 200u);
  EXPECT_EQ(static_cast<uint8_t*>(p1) - static_cast<uint8_t*>(p2), 900);
  ASSERT_EQ(b->lock(0, 1000, &p1, &n1, &p2, &n2), sound::DS_OK);
  EXPECT_EQ(n1, 1000u);
  EXPECT_EQ(n2, 0u);
  EXPECT_EQ(p2, nullptr);
  EXPECT_EQ(b->lock(1000, 4, &p1, &n1, &p2, &n2), sound::DSERR_INVALIDPARAM);
  EXPECT_EQ(b->lock(0, 1001, &p1, &n1, &p2, &n2), sound::DSERR_INVALIDPARAM);
}

TEST_F(ManualSound, CursorsAdvanceOnlyWithTheMixerAndWrap) {
  sound::SoundBuffer* b = make(pcm(2, 44100, 16), 4000);  // 1000 frames
  uint32_t play = 1, write = 1;
  ASSERT_EQ(b->getCurrentPosition(&play, &write), sound::DS_OK);
  EXPECT_EQ(play, 0u);
  EXPECT_EQ(write, 442u * 4);  // one pass ahead (441 frames, plus the interpolation frame)
  sound::manualSound().advance(300);  // not playing: nothing moves
  b->getCurrentPosition(&play, &write);
  EXPECT_EQ(play, 0u);
  ASSERT_EQ(b->play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  sound::manualSound().advance(300);
  b->getCurrentPosition(&play, &write);
  EXPECT_EQ(play, 1200u);
  sound::manualSound().advance(800);  // 1100 frames: one lap and 100
  b->getCurrentPosition(&play, &write);
  EXPECT_EQ(play, 400u);
  EXPECT_EQ(write, (100u + 442u) * 4);
  b->stop();
  sound::manualSound().advance(100);
  b->getCurrentPosition(&play, &write);
  EXPECT_EQ(play, 400u);  // a stop keeps the cursor
  b->setCurrentPosition(0);
  b->getCurrentPosition(&play, &write);
  EXPECT_EQ(play, 0u);
}

TEST_F(ManualSound, MixerSumsPlayingBuffersWithGainAndSaturation) {
  sound::SoundBuffer* a = make(pcm(2, 44100, 16), 16);  // four frames, looping
  sound::SoundBuffer* c = make(pcm(2, 44100, 16), 16);
  fill16(a, {1000, -1000, 20000, -20000, 30000, -30000, 0, 0});
  fill16(c, {500, 500, 20000, -20000, 10, 10, 0, 0});
  a->play(0, 0, sound::DSBPLAY_LOOPING);
  c->play(0, 0, sound::DSBPLAY_LOOPING);
  std::vector<int16_t> out = sound::manualSound().advance(5);
  // Sums saturate at the 16-bit limits instead of wrapping; the fifth frame
  // is the first again (looping).
  std::vector<int16_t> expected = {1500, -500, 32767, -32768, 30010, -29990, 0, 0, 1500, -500};
  EXPECT_EQ(out, expected);
  // -600 hundredths of a decibel is a gain of 10^(-0.3), about one half.
  ASSERT_EQ(c->setVolume(-10000), sound::DS_OK);
  ASSERT_EQ(a->setVolume(-600), sound::DS_OK);
  int32_t att = 0;
  a->getVolume(&att);
  EXPECT_EQ(att, -600);
  out = sound::manualSound().advance(3);  // frames 1, 2, 3
  EXPECT_EQ(out[0], static_cast<int16_t>(std::lround(20000 * std::pow(10.0, -0.3))));
  EXPECT_EQ(out[2], static_cast<int16_t>(std::lround(30000 * std::pow(10.0, -0.3))));
  EXPECT_EQ(a->setVolume(1), sound::DSERR_INVALIDPARAM);
  EXPECT_EQ(a->setVolume(-10001), sound::DSERR_INVALIDPARAM);
  // A buffer made without volume control refuses it.
  sound::SoundBuffer* plain = make(pcm(2, 44100, 16), 16, 0x18008);
  EXPECT_EQ(plain->setVolume(-600), sound::DSERR_CONTROLUNAVAIL);
}

TEST_F(ManualSound, EightBitAndMonoBuffersAreCentredAndSpread) {
  sound::SoundBuffer* b = make(pcm(1, 44100, 8), 4);
  void *p1, *p2;
  uint32_t n1, n2;
  b->lock(0, 4, &p1, &n1, &p2, &n2);
  const uint8_t bytes[4] = {128, 255, 0, 192};
  std::memcpy(p1, bytes, 4);
  b->unlock(p1, n1, p2, n2);
  b->play(0, 0, sound::DSBPLAY_LOOPING);
  std::vector<int16_t> out = sound::manualSound().advance(4);
  std::vector<int16_t> expected = {0, 0, 32512, 32512, -32768, -32768, 16384, 16384};
  EXPECT_EQ(out, expected);
}

TEST_F(ManualSound, OtherRatesAreConvertedAtTheirOwnSpeed) {
  // 22,050 Hz: every source frame lasts two output frames, halfway values between.
  sound::SoundBuffer* b = make(pcm(2, 22050, 16), 400);  // 100 frames
  std::vector<int16_t> ramp;
  for (int i = 0; i < 100; ++i) {
    ramp.push_back(static_cast<int16_t>(i * 100));
    ramp.push_back(static_cast<int16_t>(-i * 100));
  }
  fill16(b, ramp);
  b->play(0, 0, sound::DSBPLAY_LOOPING);
  std::vector<int16_t> out = sound::manualSound().advance(8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[2 * i], i * 50) << i;
  uint32_t play = 0;
  b->getCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 4u * 4);
}

TEST_F(ManualSound, InjectedBufferLossFailsPlayThenClears) {
  sound::SoundBuffer* b = make(pcm(2, 44100, 16), 400);
  sound::injectBufferLost(2);
  EXPECT_EQ(b->play(0, 0, sound::DSBPLAY_LOOPING), sound::DSERR_BUFFERLOST);
  EXPECT_EQ(b->restore(), sound::DS_OK);
  EXPECT_EQ(b->play(0, 0, sound::DSBPLAY_LOOPING), sound::DSERR_BUFFERLOST);
  EXPECT_EQ(b->play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  EXPECT_EQ(sound::pendingBufferLost(), 0);
}

TEST_F(ManualSound, ASilentRingAdvancesWithoutBeingHeardUntilWritten) {
  sound::SoundBuffer* quiet = make(pcm(2, 44100, 16), 400, 0x18008);
  sound::SoundBuffer* loud = make(pcm(2, 44100, 16), 16);
  fill16(loud, {100, 100, 100, 100, 100, 100, 100, 100});
  void *p1, *p2;
  uint32_t n1, n2;
  quiet->lock(0, 400, &p1, &n1, &p2, &n2);
  std::memset(p1, 0, n1);
  quiet->unlock(p1, n1, p2, n2);
  quiet->play(0, 0, sound::DSBPLAY_LOOPING);
  loud->play(0, 0, sound::DSBPLAY_LOOPING);
  EXPECT_EQ(sound::manualSound().advance(2)[0], 100);
  uint32_t play = 0;
  quiet->getCurrentPosition(&play, nullptr);
  EXPECT_EQ(play, 8u);  // it moved with the device
  quiet->lock(0, 4, &p1, &n1, &p2, &n2);  // written again: heard again
  static_cast<int16_t*>(p1)[0] = 7;
  quiet->unlock(p1, n1, p2, n2);
  quiet->setCurrentPosition(0);
  EXPECT_EQ(sound::manualSound().advance(1)[0], 107);
}
