// The SDL2 sound backend over SDL's disk driver: what the mixer plays lands
// in a raw file, paced like a real device.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/api.h"
#include "platform/sound/api.h"
#include "tests/support/TempTree.h"

namespace sound = platform::sound;

TEST(SdlSound, ALoopingSineReachesTheDiskFileAtItsPitch) {
  qeltest::TempTree tree;
  const std::string file = tree.path("out.raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  sound::setSoundBackend(sound::sdlSoundBackend());
  sound::SoundDevice* device = nullptr;
  ASSERT_EQ(sound::directSoundCreate8(nullptr, &device, nullptr), sound::DS_OK);
  ASSERT_NE(device, nullptr);

  // One second of a 441 Hz sine at half scale, 16-bit stereo: a whole number
  // of periods, so the loop joins without a step.
  sound::WaveFormat f{1, 2, 44100, 176400, 4, 16, 0};
  sound::BufferDescription d;
  d.flags = 0x18088;
  d.bufferBytes = 176400;
  d.format = &f;
  sound::SoundBuffer* b = nullptr;
  ASSERT_EQ(device->createSoundBuffer(d, &b), sound::DS_OK);
  void *p1, *p2;
  uint32_t n1, n2;
  ASSERT_EQ(b->lock(0, 176400, &p1, &n1, &p2, &n2), sound::DS_OK);
  auto* s = static_cast<int16_t*>(p1);
  for (int i = 0; i < 44100; ++i) {
    auto v = static_cast<int16_t>(std::lround(16384 * std::sin(2 * std::numbers::pi * 441 * i / 44100.0)));
    s[2 * i] = v;
    s[2 * i + 1] = v;
  }
  b->unlock(p1, n1, p2, n2);
  ASSERT_EQ(b->play(0, 0, sound::DSBPLAY_LOOPING), sound::DS_OK);
  // Wait, on the real clock, until the driver consumed a quarter second.
  uint32_t play = 0;
  for (int i = 0; i < 400 && play < 44100; ++i) {
    platform::os::sleepMs(5);
    b->getCurrentPosition(&play, nullptr);
  }
  EXPECT_GE(play, 44100u);
  b->release();
  device->release();
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("SDL_DISKAUDIOFILE");
  sound::setSoundBackend(nullptr);

  std::ifstream in(file, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(raw.size(), 44100u);
  std::vector<int16_t> out(raw.size() / 2);
  std::memcpy(out.data(), raw.data(), out.size() * 2);
  // The device runs from its opening to its closing, so silence may come
  // before the buffer plays and after it is released; in between the sine
  // comes whole, at its level, rising through zero 441 times a second.
  size_t frames = out.size() / 2, start = 0;
  while (start < frames && out[2 * start] == 0) ++start;
  while (frames > start && out[2 * (frames - 1)] == 0) --frames;
  ASSERT_LT(start + 44100 / 4, frames);
  --start;  // the sine's first sample is a zero
  int peak = 0, rising = 0;
  for (size_t i = start + 1; i < frames; ++i) {
    peak = std::max(peak, std::abs(static_cast<int>(out[2 * i])));
    if (out[2 * (i - 1)] < 0 && out[2 * i] >= 0) ++rising;
    ASSERT_EQ(out[2 * i], out[2 * i + 1]);
  }
  EXPECT_NEAR(peak, 16384, 2);
  EXPECT_NEAR(rising, 441.0 * (frames - start) / 44100.0, 2.0);
  for (int k : {25, 50, 75, 1000})
    EXPECT_EQ(out[2 * (start + k)],
              static_cast<int16_t>(std::lround(16384 * std::sin(2 * std::numbers::pi * 441 * k / 44100.0))));
}
