// The device player, its channels and their playback instances on the manual
// sound backend: fades, cross-fades on a seek, ends handed to the killer,
// volumes, and sources heard with the right length and pitch. The refill
// threads and the channel killer are stood in for by the test, which runs
// fills and hand-backs in step with the mixer, so every sample is known.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "AudioTestEnv.h"
#include "audio/ChannelKiller.h"
#include "audio/ConfigMusic.h"
#include "audio/MusicClasses.h"
#include "audio/MusicTrace.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/sound/manual/Sound_manual.h"
#include "tests/support/AudioFixtures.h"

namespace sound = platform::sound;
using audio::TChannelMusic;
using audio::TMusicChannel;
using audio::TMusicPlayerClass;
using audio::TWinWaveOutBuffer;
using audio::TWinWaveOutDevice;
using audio_test::Bytes;

namespace {

std::vector<audio::TPlaybackInstance*> gHanded;
void CollectInstance(audio::TPlaybackInstance* instance) { gHanded.push_back(instance); }

// 16-bit PCM of a constant value on every channel.
Bytes Constant(uint32_t frames, uint16_t channels, int16_t value) {
  Bytes data;
  for (uint32_t i = 0; i < frames * channels; ++i) audio_test::PutLe16(data, static_cast<uint16_t>(value));
  return data;
}

// Stereo 16-bit PCM whose left sample is the frame's number divided by 32
// (a position mark, 1378 a second of source) and right sample 5000.
Bytes PositionRamp(uint32_t frames) {
  Bytes data;
  for (uint32_t i = 0; i < frames; ++i) {
    audio_test::PutLe16(data, static_cast<uint16_t>(i / 32));
    audio_test::PutLe16(data, 5000);
  }
  return data;
}

// A sine of the frequency and amplitude, as 16-bit PCM or 32-bit float.
Bytes Sine(uint32_t rate, uint16_t channels, double seconds, double hz, bool asFloat) {
  Bytes data;
  auto frames = static_cast<uint32_t>(std::lround(rate * seconds));
  for (uint32_t i = 0; i < frames; ++i) {
    double v = 0.5 * std::sin(2.0 * M_PI * hz * i / rate);
    for (uint16_t c = 0; c < channels; ++c) {
      if (asFloat) {
        auto f = static_cast<float>(v);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        audio_test::PutLe32(data, bits);
      } else {
        audio_test::PutLe16(data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * 32767))));
      }
    }
  }
  return data;
}

// Counts OnFinished calls and remembers the channel.
struct FinishCounter {
  int count = 0;
  audio::TChannel* last = nullptr;
  void OnFinished(audio::TChannel* c) {
    ++count;
    last = c;
  }
};

std::map<std::u16string, Bytes>* gFiles = nullptr;

foundation::TStream* OpenFile(void*, const std::u16string& name) {
  auto it = gFiles->find(name);
  return it == gFiles->end() ? nullptr : audio_test::StreamOf(it->second);
}

class DevicePlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::InitMusicTrace();
    sound::registerSoundEntries();
    previous_ = sound::setSoundBackend(sound::manualSoundBackend());
    sound::manualSound().setPeriodFrames(441);
    audio::CreateDeviceHook = &audio::CreateWaveOutDevice;
    audio::CreateConverterHook = &audio::CreateMusicConverter;
    audio::InstanceEndHook = &CollectInstance;
    gHanded.clear();
    gFiles = &files_;
    player_ = static_cast<TMusicPlayerClass*>(audio::CreatePlayer());
    ASSERT_TRUE(player_->IsReady());
    static_cast<TWinWaveOutDevice*>(player_->Device)->RefillThreads = false;
    player_->SetOpenStreamEvent(&OpenFile);
  }
  void TearDown() override {
    player_->Free();
    EXPECT_EQ(sound::manualSound().openDevices(), 0);
    sound::setSoundBackend(previous_);
    audio::InstanceEndHook = nullptr;
    audio::CreateDeviceHook = nullptr;
    audio::CreateConverterHook = nullptr;
    gFiles = nullptr;
  }

  TChannelMusic* Open(const std::u16string& name, int32_t position = -1) {
    return static_cast<TChannelMusic*>(player_->CreateChannel(name, position));
  }

  // Mixes frames in passes of 10 ms; after each pass every instance's
  // buffer refills, the clock moves 10 ms and finished instances go back to
  // their channels (the later handed first, as the killer does). Answers
  // the left samples.
  std::vector<int16_t> Run(uint32_t frames) {
    std::vector<int16_t> left;
    while (frames > 0) {
      uint32_t n = std::min<uint32_t>(frames, 441);
      std::vector<int16_t> mix = sound::manualSound().advance(n);
      for (uint32_t i = 0; i < n; ++i) left.push_back(mix[2 * i]);
      frames -= n;
      std::vector<TChannelMusic*> channels;
      for (audio::TChannel* c : player_->Channels) channels.push_back(static_cast<TChannelMusic*>(c));
      for (TChannelMusic* c : channels) {
        std::vector<TMusicChannel*> instances = c->Instances;
        for (TMusicChannel* i : instances)
          if (i->State != TMusicChannel::stIdle) static_cast<TWinWaveOutBuffer*>(i->Buffer)->FillBuffer();
      }
      clock_->advance(10);
      for (size_t k = gHanded.size(); k-- > 0;) {
        if (!gHanded[k]->IsFinished()) continue;
        audio::TPlaybackInstance* done = gHanded[k];
        gHanded.erase(gHanded.begin() + static_cast<ptrdiff_t>(k));
        done->Finished();
      }
    }
    return left;
  }

  platform::os::ScopedManualClock clock_{5000};
  sound::SoundBackend* previous_ = nullptr;
  TMusicPlayerClass* player_ = nullptr;
  std::map<std::u16string, Bytes> files_;
};

}  // namespace

TEST_F(DevicePlayer, FadeInsRampLinearlyOverTheirFrames) {
  files_[u"c.wav"] = audio_test::MakeWav(1, 2, 44100, 16, Constant(44100 * 3, 2, 8000));
  struct Case {
    int32_t fadeMs;
    uint32_t frame;
    int expected;
  };
  // Gain 0 at the first frame, k / fadeFrames at frame k, full at the end.
  // The gain adds up in single precision: a 1000 ms fade is a few frames late.
  const Case cases[] = {{0, 0, 0},          {0, 1, 8000},       {100, 0, 0},          {100, 1102, 1999},
                        {100, 2205, 4000},  {100, 4410, 8000},  {1000, 22050, 4000},  {1000, 44100 + 30, 8000}};
  for (const Case& c : cases) {
    TChannelMusic* channel = Open(u"c.wav");
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->IsPlaying());
    ASSERT_TRUE(channel->Play(c.fadeMs));
    EXPECT_TRUE(channel->IsPlaying());
    EXPECT_FALSE(channel->Play(c.fadeMs)) << "a playing channel is not started twice";
    EXPECT_EQ(channel->InstanceCount(), 1);
    std::vector<int16_t> out = Run(c.frame + 1);
    EXPECT_NEAR(out[c.frame], c.expected, 2) << c.fadeMs << " ms, frame " << c.frame;
    ASSERT_TRUE(channel->Stop(0));
    Run(44100 * 2 + 4410);
    EXPECT_EQ(channel->InstanceCount(), 0);
    channel->Free();
  }
}

TEST_F(DevicePlayer, StoppingEarlyInALongFadeInFadesDownFromTheLevelHeard) {
  // 100 ms into a 1000 ms fade-in the listener hears 0.1 of the source;
  // the 1.5 s already written reach full level. A 1000 ms fade-out from
  // there never rises: what is on its way when the refill runs (the next
  // 10 ms pass, the write cursor's 10 ms lead and 25 ms) goes on up to about
  // 0.145, then the level falls by 1/44100 a frame to silence.
  files_[u"c.wav"] = audio_test::MakeWav(1, 2, 44100, 16, Constant(44100 * 10, 2, 10000));
  TChannelMusic* channel = Open(u"c.wav");
  channel->Play(1000);
  std::vector<int16_t> before = Run(4410);
  EXPECT_NEAR(before.back(), 1000, 3);
  ASSERT_TRUE(channel->Stop(1000));
  std::vector<int16_t> out = Run(44100 * 2);
  size_t peakAt = static_cast<size_t>(std::max_element(out.begin(), out.end()) - out.begin());
  EXPECT_LE(out[peakAt], 1000 + 460);
  EXPECT_LE(peakAt, 2u * 441u + 1102u + 1);
  // From the peak on the level only falls, by about 10000 / 44100 a frame.
  for (size_t i = peakAt + 1; i < out.size(); ++i) ASSERT_LE(out[i], out[i - 1] + 1) << i;
  EXPECT_NEAR(out[peakAt + 2000], out[peakAt] - 2000 * 10000.0 / 44100, 4);
  // Silent once the level has run out (peak / 10000 x 44100 frames on).
  size_t silentFrom = peakAt + static_cast<size_t>(std::lround(out[peakAt] / 10000.0 * 44100)) + 2;
  EXPECT_EQ(out[silentFrom], 0);
  EXPECT_EQ(out.back(), 0);
  EXPECT_EQ(channel->InstanceCount(), 0) << "handed back once the fade reached zero";
  channel->Free();
}

TEST_F(DevicePlayer, AVanishedSourceMakesPlayAndSeekAnswerFalseAndChangeNothing) {
  files_[u"c.wav"] = audio_test::MakeWav(1, 2, 44100, 16, Constant(44100 * 10, 2, 7000));
  // Stopped, then gone: Play needs a fresh instance and cannot make one.
  TChannelMusic* stopped = Open(u"c.wav");
  ASSERT_TRUE(stopped->Play(0));
  Run(4410);
  ASSERT_TRUE(stopped->Stop(0));
  Run(44100);
  ASSERT_EQ(stopped->InstanceCount(), 0);
  // Playing, then gone: a seek keeps the sounding instance.
  TChannelMusic* playing = Open(u"c.wav");
  ASSERT_TRUE(playing->Play(0));
  Run(4410);
  files_.erase(u"c.wav");

  EXPECT_FALSE(stopped->Play(0));
  EXPECT_FALSE(stopped->IsPlaying());
  EXPECT_EQ(stopped->InstanceCount(), 0);
  EXPECT_FALSE(stopped->SetPosition(2000));
  EXPECT_EQ(stopped->InstanceCount(), 0);

  EXPECT_FALSE(playing->SetPosition(5000));
  EXPECT_TRUE(playing->IsPlaying());
  EXPECT_EQ(playing->InstanceCount(), 1);
  std::vector<int16_t> out = Run(4410);
  EXPECT_EQ(out.front(), 7000);
  EXPECT_EQ(out.back(), 7000) << "the music goes on where it was";
  EXPECT_NEAR(playing->GetPosition(), 200, 15);
  playing->Stop(0);
  Run(44100);
  stopped->Free();
  playing->Free();
}

TEST_F(DevicePlayer, StopFadesOutAfterTheCommittedAudioAndFreesWithoutFinishing) {
  files_[u"c.wav"] = audio_test::MakeWav(1, 2, 44100, 16, Constant(44100 * 10, 2, 8000));
  TChannelMusic* channel = Open(u"c.wav");
  FinishCounter finished;
  channel->OnFinished = foundation::MethodOf<&FinishCounter::OnFinished>(&finished);
  channel->Play(0);
  Run(44100);  // one second at full level
  ASSERT_TRUE(channel->Stop(100));
  EXPECT_FALSE(channel->IsPlaying());
  EXPECT_FALSE(channel->Stop(100));
  std::vector<int16_t> out = Run(44100);
  // The bytes up to 25 ms beyond the write cursor (the mixer's passes ahead
  // of what is heard) are on their way at full level; the 100 ms fade-out
  // follows, then silence.
  size_t fadeStart = 0;
  while (fadeStart < out.size() && out[fadeStart] == 8000) ++fadeStart;
  ASSERT_GT(fadeStart, 1102u);
  ASSERT_LE(fadeStart, 2u * 441u + 1102u + 2u);
  EXPECT_NEAR(out[fadeStart + 2205], 4000, 3);
  EXPECT_EQ(out[fadeStart + 4410 + 1], 0);
  EXPECT_EQ(out.back(), 0);
  // Handed to the killer once, given back 20 ms after the fade reached zero.
  EXPECT_EQ(channel->InstanceCount(), 0);
  EXPECT_EQ(finished.count, 0);
  // The position is where the instance was given back: the second heard,
  // the committed 25-45 ms, the 100 ms fade and the 20 ms margin.
  EXPECT_GE(channel->GetPosition(), 1000 + 25 + 100 + 20);
  EXPECT_LE(channel->GetPosition(), 1000 + 45 + 100 + 20 + 10);
  channel->Free();
  EXPECT_EQ(player_->ChannelCount(), 0);
}

TEST_F(DevicePlayer, ASourceThatEndsIsHeardToItsLastFrameAndCallsOnFinished) {
  // Half a second of a constant: 22,050 frames heard, then silence.
  files_[u"short.wav"] = audio_test::MakeWav(1, 2, 44100, 16, Constant(22050, 2, 6000));
  TChannelMusic* channel = Open(u"short.wav");
  FinishCounter finished;
  channel->OnFinished = foundation::MethodOf<&FinishCounter::OnFinished>(&finished);
  EXPECT_EQ(channel->GetDuration(), 500);
  channel->Play(0);
  std::vector<int16_t> out = Run(44100 * 3);
  EXPECT_EQ(out[1], 6000);
  EXPECT_EQ(out[22049], 6000);
  EXPECT_EQ(out[22050], 0);
  EXPECT_EQ(finished.count, 1);
  EXPECT_EQ(finished.last, channel);
  EXPECT_EQ(channel->InstanceCount(), 0);
  // Play again: a fresh instance from where the last one ended.
  EXPECT_TRUE(channel->Play(0));
  EXPECT_EQ(channel->InstanceCount(), 1);
  Run(44100 * 3);
  EXPECT_EQ(finished.count, 2);
  channel->Free();
}

TEST_F(DevicePlayer, SeekingAPlayingChannelCrossFadesTwoInstancesOver10Ms) {
  files_[u"ramp.wav"] = audio_test::MakeWav(1, 2, 44100, 16, PositionRamp(44100 * 20));
  TChannelMusic* channel = Open(u"ramp.wav");
  channel->Play(0);
  Run(44100);
  ASSERT_TRUE(channel->SetPosition(10000));
  EXPECT_EQ(channel->InstanceCount(), 2) << "the old instance fades out while the new one fades in";
  EXPECT_EQ(channel->Instances[0]->State, TMusicChannel::stStopping);
  EXPECT_EQ(channel->Instances[1]->State, TMusicChannel::stPlaying);
  std::vector<int16_t> out = Run(44100);
  // After the cross-fade only the new instance sounds: its left sample is
  // the source frame / 32, from 10 s (frame 441,000) on.
  EXPECT_EQ(channel->InstanceCount(), 1);
  size_t k = out.size() - 1;
  int sourceFrame = out[k] * 32;
  EXPECT_GE(sourceFrame, 441000);
  EXPECT_LE(sourceFrame, 441000 + 44100);
  EXPECT_NEAR(out[k] - out[k - 3200], 100, 1) << "the new instance plays the source at its own pace";
  EXPECT_NEAR(channel->GetPosition(), 10000 + (sourceFrame - 441000) / 44.1, 30);
  channel->Stop(0);
  Run(44100 * 3);
  channel->Free();
}

TEST_F(DevicePlayer, OnlyTheNewestInstanceRecordsTheLastPosition) {
  files_[u"ramp.wav"] = audio_test::MakeWav(1, 2, 44100, 16, PositionRamp(44100 * 20));
  TChannelMusic* channel = Open(u"ramp.wav");
  channel->Play(0);
  Run(4410);
  channel->SetPosition(8000);
  channel->Stop(0);
  // Both instances are handed to the killer; it gives them back in one pass,
  // the later-handed (the new one) first.
  for (int i = 0; i < 400 && gHanded.size() < 2; ++i) {
    sound::manualSound().advance(441);
    for (TMusicChannel* m : std::vector<TMusicChannel*>(channel->Instances))
      static_cast<TWinWaveOutBuffer*>(m->Buffer)->FillBuffer();
  }
  ASSERT_EQ(gHanded.size(), 2u);
  clock_->advance(3000);
  for (size_t k = gHanded.size(); k-- > 0;) gHanded[k]->Finished();
  gHanded.clear();
  EXPECT_EQ(channel->InstanceCount(), 0);
  EXPECT_GE(channel->GetPosition(), 8000) << "the older instance must not put the channel back";
  // Play resumes at the new place.
  ASSERT_TRUE(channel->Play(0));
  std::vector<int16_t> out = Run(441);
  EXPECT_GE(out[10] * 32, 8000 * 441 / 10 - 32);
  channel->Stop(0);
  Run(44100 * 3);
  channel->Free();
}

TEST_F(DevicePlayer, VolumesMultiplyAndMapToAttenuation) {
  files_[u"c.wav"] = audio_test::MakeWav(1, 2, 44100, 16, Constant(44100 * 5, 2, 8000));
  TChannelMusic* channel = Open(u"c.wav");
  player_->SetVolume(0.5f);  // -600: a gain of 10^(-0.3)
  channel->Play(0);
  std::vector<int16_t> out = Run(441);
  EXPECT_NEAR(out[100], 8000 * std::pow(10.0, -0.3), 1.5);
  channel->SetChannelVolume(0.5f);  // 0.25 in all: -1200
  out = Run(441);
  EXPECT_NEAR(out[100], 8000 * std::pow(10.0, -0.6), 1.5);
  EXPECT_FLOAT_EQ(channel->GetVolume(), 0.5f);
  EXPECT_FLOAT_EQ(channel->GetChannelVolume(), 0.5f);
  // A channel made afterwards takes the player's volume at once.
  TChannelMusic* second = Open(u"c.wav");
  EXPECT_FLOAT_EQ(second->GetVolume(), 0.5f);
  second->Free();
  channel->Stop(0);
  Run(44100 * 3);
  channel->Free();
}

TEST_F(DevicePlayer, ChannelsStartWherePositionedAndIdleOnesGoAtOnce) {
  files_[u"ramp.wav"] = audio_test::MakeWav(1, 2, 44100, 16, PositionRamp(44100 * 20));
  TChannelMusic* atZero = Open(u"ramp.wav", -1);
  ASSERT_EQ(atZero->InstanceCount(), 1);
  EXPECT_EQ(atZero->Instances[0]->StartPosition, 0);
  EXPECT_EQ(atZero->Instances[0]->State, TMusicChannel::stIdle);
  TChannelMusic* atThree = Open(u"ramp.wav", 3000);
  EXPECT_EQ(atThree->GetPosition(), 3000);
  atThree->Play(0);
  std::vector<int16_t> out = Run(441);
  EXPECT_EQ(out[1], (3000 * 441 / 10 + 1) / 32);
  EXPECT_EQ(player_->ChannelCount(), 2);
  atZero->Free();  // only an idle instance: no wait
  EXPECT_EQ(player_->ChannelCount(), 1);
  atThree->Stop(0);
  Run(44100 * 3);
  atThree->Free();
}

TEST_F(DevicePlayer, UnplayableSourcesGiveNoChannel) {
  files_[u"noise.wav"] = Bytes(400, 0x55);
  files_[u"six.wav"] = audio_test::MakeWav(1, 6, 44100, 16, Constant(4410, 6, 100));
  EXPECT_EQ(Open(u"missing.wav"), nullptr);
  EXPECT_EQ(Open(u"noise.wav"), nullptr);
  EXPECT_EQ(Open(u"six.wav"), nullptr) << "a format the output refuses leaves no usable instance";
  EXPECT_EQ(player_->ChannelCount(), 0);
}

TEST_F(DevicePlayer, FloatSourcesAtOtherRatesPlayAtTheirOwnPitchAndLength) {
  // One second of 1 kHz at 48 kHz mono float: 44,100 output frames with about
  // 1000 periods, then silence.
  files_[u"f.wav"] = audio_test::MakeWav(3, 1, 48000, 32, Sine(48000, 1, 1.0, 1000.0, true));
  TChannelMusic* channel = Open(u"f.wav");
  ASSERT_NE(channel, nullptr);
  EXPECT_EQ(channel->Instances[0]->OutputFormat.nSamplesPerSec, 44100u);
  channel->Play(0);
  std::vector<int16_t> out = Run(44100 * 3);
  int crossings = 0;
  size_t last = 0;
  for (size_t i = 1; i < out.size(); ++i) {
    if (out[i - 1] < 0 && out[i] >= 0) ++crossings;
    if (out[i] != 0) last = i;
  }
  EXPECT_NEAR(crossings, 1000, 2);
  EXPECT_NEAR(static_cast<double>(last), 44100.0, 30.0);
  channel->Free();
}

TEST(DevicePlayerWithoutSound, APlayerWithoutADeviceIsNotReadyAndMakesNoChannels) {
  sound::registerSoundEntries();
  sound::SoundBackend* previous = sound::setSoundBackend(sound::noSoundBackend());
  audio::InitMusicClasses();
  ASSERT_NE(audio::CreatePlayerHook, nullptr);
  audio::TMusicPlayer* player = audio::CreatePlayerHook();
  ASSERT_NE(player, nullptr);
  EXPECT_FALSE(player->IsReady());
  EXPECT_EQ(player->CreateChannel(u"any.wav", -1), nullptr);
  EXPECT_EQ(player->GetClockTime(), 0.0);
  player->Free();
  sound::setSoundBackend(previous);
  audio::CreatePlayerHook = nullptr;
  audio::CreateDeviceHook = nullptr;
}
