// The fixture show's music and sound comment heard through the whole chain:
// the show music player plans them, the loader opens their composite
// channels on the device player, and the manual mixer's output holds the
// music at its level and the comment's tone at its show time, pitch and
// length. The player's steps, the loader's, the refills and the channel
// killer's hand-backs run in step with the mixer on the manual clock.
#include <cmath>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "AudioTestEnv.h"
#include "audio/ChannelKiller.h"
#include "audio/CompositeDecoder.h"
#include "audio/ConfigMusic.h"
#include "audio/MusicClasses.h"
#include "audio/MusicTrace.h"
#include "audio/QelMusicPlayer.h"
#include "foundation/TickClock.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/sound/manual/Sound_manual.h"
#include "tests/audio/EntryShow.h"
#include "tests/audio/MusicFixture.h"
#include "tests/support/AudioFixtures.h"

namespace sound = platform::sound;
using audio_test::Bytes;
using foundation::TRef;

namespace {

std::vector<audio::TPlaybackInstance*> gHanded;
void CollectInstance(audio::TPlaybackInstance* instance) { gHanded.push_back(instance); }

// A device player whose clock is the manual clock and whose buffers refill
// when the test says.
class SteppedPlayer : public audio::TMusicPlayerClass {
 public:
  SteppedPlayer() { static_cast<audio::TWinWaveOutDevice*>(Device)->RefillThreads = false; }
  double GetClockTime() override { return static_cast<double>(platform::os::nowMs()); }
};
SteppedPlayer* gDevicePlayer = nullptr;
audio::TMusicPlayer* MakeSteppedPlayer() {
  gDevicePlayer = new SteppedPlayer;
  return gDevicePlayer;
}

using musictest::EntryShow;
const auto Wav = musictest::StereoWav;

}  // namespace

TEST(ShowMusicHeardMt, TheFixtureShowsMusicAndCommentAreHeardOnTime) {
  audio::InitMusicTrace();
  sound::registerSoundEntries();
  sound::SoundBackend* previous = sound::setSoundBackend(sound::manualSoundBackend());
  sound::manualSound().setPeriodFrames(441);
  platform::os::ScopedManualClock clock(100000);
  audio::CreateDeviceHook = &audio::CreateWaveOutDevice;
  audio::CreatePlayerHook = &MakeSteppedPlayer;
  audio::CreateConverterHook = &audio::CreateMusicConverter;
  audio::InitCompositeDecoder();
  audio::InstanceEndHook = &CollectInstance;
  std::vector<int16_t> left;
  {
    auto ini = musictest::ParseIni(musictest::FixtureProject());
    TRef<EntryShow> show =
        TRef<EntryShow>::Adopt(new EntryShow(ini.Get(), {{0, 4000}, {4000, 8000}, {8000, 12000}}, false));
    // The music: a level of 10,000 for 14 s (played at volume 80, so 8000);
    // the comment: 3 s of 1 kHz at half scale (only 2 s of it are asked for).
    show->Entries[u"audio\\music.mp3"] = Wav(14.0, [](uint32_t) { return int16_t{10000}; });
    show->Entries[u"audio\\comment.wav"] =
        Wav(3.0, [](uint32_t i) { return static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * 1000.0 * i / 44100))); });
    TRef<audio::TQelMusicPlayer> player = TRef<audio::TQelMusicPlayer>::Adopt(new audio::TQelMusicPlayer(show.Get()));
    ASSERT_EQ(player->DevicePlayer, gDevicePlayer);
    // Kept until the helper below has ended: it reads the device player's channels.
    TRef<audio::TMusicPlayer> keep = TRef<audio::TMusicPlayer>::AddRef(gDevicePlayer);
    auto step = [&] {
      player->RunStep();
      player->Loader->RunStep();
    };
    step();
    step();
    ASSERT_TRUE(player->IsReady());
    player->SetPlaying(true);
    // One 10 ms pass of the mixer, the refills and the killer's hand-backs.
    // The helper below and this thread both run passes: never two at once.
    std::mutex passLock;
    auto mixPass = [&] {
      std::lock_guard<std::mutex> passGuard(passLock);
      std::vector<int16_t> mix = sound::manualSound().advance(441);
      for (size_t i = 0; i < mix.size(); i += 2) left.push_back(mix[i]);
      // The refills run under the player's lock and each channel's lock, the
      // order in which the player itself reaches its channels' instances. A
      // channel being released leaves the player's list (under its lock) only
      // after it has let go of its own, and frees its idle instances under
      // its own: neither can go while it is being filled. A reference per
      // channel would not do: when the pass held the last one, the channel's
      // release (which waits, on the manual clock, for the hand-backs below)
      // would run inside the pass, and nothing would hand them back.
      {
        std::lock_guard<std::recursive_mutex> guard(gDevicePlayer->Lock);
        for (audio::TChannel* c : gDevicePlayer->Channels) {
          auto* cm = static_cast<audio::TChannelMusic*>(c);
          std::lock_guard<std::recursive_mutex> channelGuard(cm->Lock);
          for (audio::TMusicChannel* m : cm->Instances)
            if (m->State != audio::TMusicChannel::stIdle)
              static_cast<audio::TWinWaveOutBuffer*>(m->Buffer)->FillBuffer();
        }
      }
      for (size_t k = gHanded.size(); k-- > 0;) {
        if (!gHanded[k]->IsFinished()) continue;
        audio::TPlaybackInstance* done = gHanded[k];
        gHanded.erase(gHanded.begin() + static_cast<ptrdiff_t>(k));
        done->Finished();
      }
    };
    // A released channel waits (on the manual clock) until the killer has
    // its instances: while this thread sleeps, the helper runs the passes
    // and moves the clock.
    std::atomic<bool> stop{false};
    std::thread helper([&] {
      for (;;) {
        clock->waitForSleepers(1);
        if (!stop) mixPass();
        clock->advance(10);
        if (stop) return;
      }
    });
    // 14 s in 5 ms steps; the mixer takes 10 ms every second step.
    uint64_t begin = platform::os::nowMs();
    for (int n = 0; platform::os::nowMs() - begin < 14000; ++n) {
      clock->advance(5);
      step();
      if (n % 2 == 1) mixPass();
    }
    // The helper's passes come when this thread sleeps, which on a loaded
    // machine may leave the last ends for a few more passes: what is
    // checked is that everything ends, not on which pass.
    for (int n = 0; n < 400 && !(player->Items.empty() && gHanded.empty()); ++n) {
      clock->advance(5);
      step();
      if (n % 2 == 1) mixPass();
    }
    EXPECT_TRUE(player->Items.empty());
    EXPECT_TRUE(gHanded.empty());
    player->Stop();  // waits on the clock too
    player = {};
    // The helper ends after its next advance, which needs a sleeper; it may
    // also have ended already (it saw the flag after its last advance), so
    // the sleeper is woken here once the helper is gone.
    stop = true;
    std::atomic<bool> woke{false};
    std::thread sleeper([&woke] {
      foundation::SleepMs(1);
      woke = true;
    });
    helper.join();
    // The sleeper may fall asleep only after a single advance here (then it
    // would sleep for ever): the clock moves on until it has woken.
    while (!woke) {
      clock->advance(10);
      std::this_thread::yield();
    }
    sleeper.join();
    keep = {};
  }
  audio::InstanceEndHook = nullptr;
  audio::DoneCompositeDecoder();
  audio::CreateConverterHook = nullptr;
  audio::CreatePlayerHook = nullptr;
  audio::CreateDeviceHook = nullptr;
  EXPECT_EQ(sound::manualSound().openDevices(), 0);
  sound::setSoundBackend(previous);

  auto at = [](double ms) { return static_cast<size_t>(ms * 44.1); };
  ASSERT_GE(left.size(), at(13900));
  // The music: its 500 ms fade-in, then its level at volume 80.
  EXPECT_LT(std::abs(left[at(100)]), 8000 / 4);
  EXPECT_NEAR(left[at(2000)], 8000, 10);
  EXPECT_NEAR(left[at(7000)], 8000, 10);
  // The comment: slide 3 starts at 8000 ms and its pause is 200 ms. Its tone
  // starts within a mixer pass or two of 8200 ms and lasts its 2000 ms.
  size_t first = 0, last = 0;
  // (the music keeps its level until its fade-out from 10,500 ms).
  for (size_t i = at(4000); i < at(10450); ++i) {
    if (std::abs(left[i] - left[at(7000)]) > 300) {
      if (!first) first = i;
      last = i;
    }
  }
  ASSERT_NE(first, 0u) << "the comment was not heard";
  EXPECT_NEAR(first / 44.1, 8200, 30);
  EXPECT_NEAR(last / 44.1, 8200 + 2000, 40);
  // Its pitch and level between: 1 kHz at 8000 over the music.
  int crossings = 0;
  int peak = 0;
  for (size_t i = at(8500); i < at(9500); ++i) {
    if (left[i - 1] < 8000 && left[i] >= 8000) ++crossings;
    peak = std::max(peak, left[i] - 8000);
  }
  EXPECT_NEAR(crossings, 1000, 2);
  EXPECT_NEAR(peak, 8000, 60);
}
