// The fixture show's music (a WAV) and its sound comment heard through the
// real chain on SDL's disk driver: the show music player and the loader on
// their threads, the refill threads, the channel killer and the SDL audio
// callback, with the show clock taken from the device. What the output
// played lands in a raw file (44,100 Hz stereo S16): the music starts at
// show time 0 and the comment's tone 8200 ms later, for its 2000 ms, at its
// level and pitch.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "AudioTestEnv.h"
#include "audio/ChannelKiller.h"
#include "audio/CompositeDecoder.h"
#include "audio/ConfigMusic.h"
#include "audio/MusicClasses.h"
#include "audio/QelMusicPlayer.h"
#include "foundation/TickClock.h"
#include "platform/sound/api.h"
#include "tests/audio/EntryShow.h"
#include "tests/audio/MusicFixture.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempTree.h"

namespace sound = platform::sound;
using audio_test::Bytes;
using foundation::TRef;

namespace {

using musictest::EntryShow;
const auto Wav = musictest::StereoWav;

}  // namespace

TEST(ShowMusicDiskMt, TheFixtureShowIsHeardOnTimeThroughTheSdlDiskDriver) {
  qeltest::TempTree tree;
  const std::string file = tree.path("out.raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
  sound::registerSoundEntries();
  sound::SoundBackend* previous = sound::setSoundBackend(sound::sdlSoundBackend());
  audio::InitMusicClasses();
  audio::CreateConverterHook = &audio::CreateMusicConverter;
  audio::InitCompositeDecoder();
  double reached = 0.0;
  {
    auto ini = musictest::ParseIni(musictest::FixtureProject());
    TRef<EntryShow> show =
        TRef<EntryShow>::Adopt(new EntryShow(ini.Get(), {{0, 4000}, {4000, 8000}, {8000, 12000}}, false));
    // The music: a level of 10,000 (played at volume 80: 8000); the comment:
    // 3 s of 1 kHz at 8000 (2 s of it are asked for).
    show->Entries[u"audio\\music.mp3"] = Wav(14.0, [](uint32_t) { return int16_t{10000}; });
    show->Entries[u"audio\\comment.wav"] = Wav(3.0, [](uint32_t i) {
      return static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * 1000.0 * i / 44100)));
    });
    TRef<audio::TQelMusicPlayer> player = TRef<audio::TQelMusicPlayer>::Adopt(new audio::TQelMusicPlayer(show.Get()));
    ASSERT_NE(player->DevicePlayer, nullptr) << "the disk driver gives a device";
    ASSERT_TRUE(player->Start());
    for (int i = 0; i < 4000 && !player->IsReady(); ++i) foundation::SleepMs(1);
    ASSERT_TRUE(player->IsReady());
    player->SetPlaying(true);
    // Until the comment has ended (on the real clock; the show clock is the
    // device's), at most 30 s.
    for (int i = 0; i < 3000 && player->GetTime() < 10700; ++i) foundation::SleepMs(10);
    reached = player->GetTime();
    player->SetPlaying(false);
    player->Stop();
    player = {};
  }
  audio::DoneChannelKiller();  // its thread must not outlive the program's clock
  audio::DoneCompositeDecoder();
  audio::CreateConverterHook = nullptr;
  audio::CreatePlayerHook = nullptr;
  audio::CreateDeviceHook = nullptr;
  sound::setSoundBackend(previous);
  unsetenv("SDL_AUDIODRIVER");
  unsetenv("SDL_DISKAUDIOFILE");
  ASSERT_GE(reached, 10700.0);

  std::ifstream in(file, std::ios::binary);
  std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> left(raw.size() / 4);
  for (size_t i = 0; i < left.size(); ++i) std::memcpy(&left[i], raw.data() + 4 * i, 2);
  // Show time 0: the music's first sound (its fade-in starts from silence).
  size_t zero = 0;
  while (zero < left.size() && left[zero] == 0) ++zero;
  auto at = [zero](double ms) { return zero + static_cast<size_t>(ms * 44.1); };
  ASSERT_GE(left.size(), at(10600)) << "the output file ends early";
  // The music: its 500 ms fade-in, then its level.
  EXPECT_LT(left[at(100)], 8000 / 4);
  EXPECT_NEAR(left[at(2000)], 8000, 10);
  EXPECT_NEAR(left[at(7000)], 8000, 10);
  // The comment over it, between 8200 and 10,200 ms of the show.
  size_t first = 0, last = 0;
  for (size_t i = at(4000); i < at(10450); ++i) {
    if (std::abs(left[i] - 8000) > 300) {
      if (!first) first = i;
      last = i;
    }
  }
  ASSERT_NE(first, 0u) << "the comment was not heard";
  EXPECT_NEAR((first - zero) / 44.1, 8200, 40);
  EXPECT_NEAR((last - zero) / 44.1, 8200 + 2000, 50);
  // Its pitch and level: 1 kHz at 8000 over the music.
  int crossings = 0, peak = 0;
  for (size_t i = at(8500); i < at(9500); ++i) {
    if (left[i - 1] < 8000 && left[i] >= 8000) ++crossings;
    peak = std::max(peak, left[i] - 8000);
  }
  EXPECT_NEAR(crossings, 1000, 2);
  EXPECT_NEAR(peak, 8000, 60);
}
