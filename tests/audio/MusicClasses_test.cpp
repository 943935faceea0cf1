// The output device and its streaming buffers on the manual sound backend:
// prefill, refills behind the play cursor, refades after a stop request,
// volume and played time, frame by frame.
#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "audio/MusicClasses.h"
#include "audio/MusicTrace.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/sound/manual/Sound_manual.h"
#include "platform/sound/testing/SoundFaults.h"

namespace sound = platform::sound;
using audio::TWaveFormat;
using audio::TWinWaveOutBuffer;
using audio::TWinWaveOutDevice;
using foundation::TRef;

namespace {

constexpr TWaveFormat kStereo16{1, 2, 44100, 176400, 4, 16, 0};

// A source writing a ramp: sample k of the stream is k mod 20000 on both
// channels, so the mixed output shows any gap, overlap or misplaced fill.
struct Ramp {
  struct Call {
    uint32_t offset;  // ring offset of the span
    uint32_t count;
    uint32_t dataEnd;
  };
  uint32_t next = 0;
  uint8_t* ring = nullptr;
  TWinWaveOutBuffer* buffer = nullptr;
  std::vector<Call> prefills, fills, refades;

  void write(uint8_t* data, uint32_t count) {
    auto* s = reinterpret_cast<int16_t*>(data);
    for (uint32_t i = 0; i < count / 4; ++i, ++next) {
      s[2 * i] = static_cast<int16_t>(next % 20000);
      s[2 * i + 1] = static_cast<int16_t>(next % 20000);
    }
  }
  void OnPrefill(audio::TWaveOutBuffer*, uint8_t* data, uint32_t count) {
    ring = data;
    prefills.push_back({0, count, buffer->DataEnd});
    write(data, count);
  }
  void OnFill(audio::TWaveOutBuffer*, uint8_t* data, uint32_t count) {
    fills.push_back({static_cast<uint32_t>(data - ring), count, buffer->DataEnd});
    write(data, count);
  }
  void OnRefade(audio::TWaveOutBuffer*, uint8_t* data, uint32_t count) {
    refades.push_back({static_cast<uint32_t>(data - ring), count, buffer->DataEnd});
    std::memset(data, 0, count);  // a fade to silence at once
  }
  void attach(TWinWaveOutBuffer* b) {
    buffer = b;
    b->OnPrefill = foundation::MethodOf<&Ramp::OnPrefill>(this);
    b->OnFill = foundation::MethodOf<&Ramp::OnFill>(this);
    b->OnRefade = foundation::MethodOf<&Ramp::OnRefade>(this);
  }
};

class OutputDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    sound::registerSoundEntries();
    previous_ = sound::setSoundBackend(sound::manualSoundBackend());
    sound::manualSound().setPeriodFrames(441);
    device_ = TRef<TWinWaveOutDevice>::Adopt(new TWinWaveOutDevice);
  }
  void TearDown() override {
    buffer_ = {};
    device_ = {};
    EXPECT_EQ(sound::manualSound().openDevices(), 0);
    sound::setSoundBackend(previous_);
  }
  TWinWaveOutBuffer* make(const TWaveFormat& f = kStereo16) {
    buffer_ = TRef<TWinWaveOutBuffer>::Adopt(static_cast<TWinWaveOutBuffer*>(device_->CreateBuffer(f)));
    return buffer_.Get();
  }

  platform::os::ScopedManualClock clock_{1000};
  sound::SoundBackend* previous_ = nullptr;
  TRef<TWinWaveOutDevice> device_;
  TRef<TWinWaveOutBuffer> buffer_;
};

}  // namespace

TEST(OutputDeviceStartUp, TheDeviceHookMakesADeviceOnTheInstalledBackend) {
  audio::InitMusicClasses();
  sound::registerSoundEntries();
  ASSERT_NE(audio::CreateDeviceHook, nullptr);
  for (auto [backend, ready] : {std::pair{sound::manualSoundBackend(), true}, {sound::noSoundBackend(), false}}) {
    sound::SoundBackend* previous = sound::setSoundBackend(backend);
    TRef<audio::TWaveOutDevice> device = TRef<audio::TWaveOutDevice>::Adopt(audio::CreateDeviceHook());
    EXPECT_EQ(device->IsReady(), ready);
    device = {};
    sound::setSoundBackend(previous);
  }
  audio::CreateDeviceHook = nullptr;
}

TEST_F(OutputDevice, TwoSecondRingHalfSecondFillsAndThreeQuarterPrefill) {
  ASSERT_TRUE(device_->IsReady());
  TWinWaveOutBuffer* b = make();
  ASSERT_TRUE(b->IsValid());
  EXPECT_EQ(b->Size, 352800u);
  EXPECT_EQ(b->MaxFill, 88200u);
  EXPECT_EQ(b->GetPrefillSize(), 264600u);
  // Rounded down to whole samples of one channel: 8-bit mono at 11,025 Hz
  // has a 22,050-byte ring, fills of 5,512 and a prefill of 16,537 bytes.
  TRef<TWinWaveOutBuffer> small = TRef<TWinWaveOutBuffer>::Adopt(
      static_cast<TWinWaveOutBuffer*>(device_->CreateBuffer(TWaveFormat{1, 1, 11025, 11025, 1, 8, 0})));
  EXPECT_EQ(small->MaxFill, 5512u);
  EXPECT_EQ(small->GetPrefillSize(), 16537u);
}

TEST_F(OutputDevice, VolumeMapsToHundredthsOfADecibel) {
  struct Row {
    double v;
    int32_t a;
  };
  const Row rows[] = {{0.5, -600}, {0.1, -1993}, {1.0, 0}, {2.0, 0}, {0.0, -10000}, {0.000001, -10000}, {0.25, -1200}};
  for (const Row& r : rows) EXPECT_EQ(audio::VolumeToAttenuation(r.v), r.a) << r.v;
  EXPECT_DOUBLE_EQ(audio::AttenuationToVolume(0), 1.0);
  EXPECT_DOUBLE_EQ(audio::AttenuationToVolume(-10000), 0.0);
  EXPECT_DOUBLE_EQ(audio::AttenuationToVolume(-600), 0.5);

  TWinWaveOutBuffer* b = make();
  EXPECT_FLOAT_EQ(b->GetVolume(), 1.0f);  // a fresh ring is at 0 attenuation
  b->SetVolume(0.5f);
  EXPECT_FLOAT_EQ(b->GetVolume(), 0.5f);
  // The mixer hears -600: a gain of 10^(-0.3) on a ring of 10,000.
  Ramp ramp;
  ramp.attach(b);
  b->StartBuffer();
  auto* s = reinterpret_cast<int16_t*>(ramp.ring);
  for (int i = 0; i < 20; ++i) s[i] = 10000;
  std::vector<int16_t> out = sound::manualSound().advance(10);
  EXPECT_EQ(out[0], static_cast<int16_t>(std::lround(10000 * std::pow(10.0, -0.3))));
}

TEST_F(OutputDevice, RefillsFollowThePlayCursorAndWrapWithoutGaps) {
  TWinWaveOutBuffer* b = make();
  Ramp ramp;
  ramp.attach(b);
  b->StartBuffer();
  ASSERT_EQ(ramp.prefills.size(), 1u);
  EXPECT_EQ(ramp.prefills[0].count, 264600u);
  EXPECT_EQ(ramp.prefills[0].dataEnd, 0u);
  EXPECT_EQ(b->WritePos, 264600u);

  // A first fill takes the free quarter (88,200 bytes, also the limit).
  b->FillBuffer();
  ASSERT_EQ(ramp.fills.size(), 1u);
  EXPECT_EQ(ramp.fills[0].offset, 264600u);
  EXPECT_EQ(ramp.fills[0].count, 88200u);
  EXPECT_EQ(ramp.fills[0].dataEnd, 352800u);
  EXPECT_EQ(b->WritePos, 0u);
  // The ring is full: WritePos meets the play cursor and nothing is written.
  b->FillBuffer();
  EXPECT_EQ(ramp.fills.size(), 1u);

  // Play 0.3 s; the fill writes the 52,920 bytes just played.
  std::vector<int16_t> heard = sound::manualSound().advance(13230);
  b->FillBuffer();
  ASSERT_EQ(ramp.fills.size(), 2u);
  EXPECT_EQ(ramp.fills[1].offset, 0u);
  EXPECT_EQ(ramp.fills[1].count, 52920u);
  EXPECT_EQ(ramp.fills[1].dataEnd, 52920u);
  // Move WritePos near the end so that a fill wraps: play 1.9 s more, in steps.
  for (int i = 0; i < 19; ++i) {
    std::vector<int16_t> more = sound::manualSound().advance(4410);
    heard.insert(heard.end(), more.begin(), more.end());
    b->FillBuffer();
  }
  bool wrapped = false;
  for (size_t i = 2; i < ramp.fills.size(); ++i) {
    const Ramp::Call& c = ramp.fills[i];
    if (c.offset == 0 && i > 0 && ramp.fills[i - 1].offset + ramp.fills[i - 1].count == 352800u &&
        ramp.fills[i - 1].dataEnd == 352800u) {
      wrapped = true;
      // The second part's end is its own length, not its start.
      EXPECT_EQ(c.dataEnd, c.count);
    }
  }
  EXPECT_TRUE(wrapped);
  // What the output played is one continuous ramp from the first sample.
  for (size_t k = 0; k < heard.size() / 2; ++k) {
    ASSERT_EQ(heard[2 * k], static_cast<int16_t>(k % 20000)) << k;
  }
}

TEST_F(OutputDevice, StopRequestRefadesFrom25MsBeyondTheWriteCursor) {
  TWinWaveOutBuffer* b = make();
  Ramp ramp;
  ramp.attach(b);
  b->StartBuffer();
  b->FillBuffer();  // the ring is full: WritePos 0
  sound::manualSound().advance(4410);  // play 0.1 s: play cursor 17,640
  b->RequestStop();
  b->FillBuffer();
  // The write cursor leads by one mixer pass (442 frames); 25 ms is 1,102
  // frames: the refade starts at (4410 + 442 + 1102) x 4 and runs to the
  // ring's end (WritePos 0), DataEnd at its start.
  ASSERT_EQ(ramp.refades.size(), 1u);
  EXPECT_EQ(ramp.refades[0].offset, (4410u + 442 + 1102) * 4);
  EXPECT_EQ(ramp.refades[0].count, 352800u - (4410u + 442 + 1102) * 4);
  EXPECT_EQ(ramp.refades[0].dataEnd, (4410u + 442 + 1102) * 4);
  // The refill after the refade goes on at WritePos as usual.
  ASSERT_EQ(ramp.fills.size(), 2u);
  EXPECT_EQ(ramp.fills[1].offset, 0u);
  // What had been committed up to 25 ms beyond the write cursor still plays;
  // from there the output is silent.
  std::vector<int16_t> out = sound::manualSound().advance(2000);
  EXPECT_EQ(out[0], static_cast<int16_t>(4410 % 20000));
  EXPECT_EQ(out[2 * (442 + 1102 - 1)], static_cast<int16_t>((4410 + 442 + 1102 - 1) % 20000));
  EXPECT_EQ(out[2 * (442 + 1102)], 0);
}

TEST_F(OutputDevice, StopRequestWithLittleQueuedRefadesNothing) {
  TWinWaveOutBuffer* b = make();
  Ramp ramp;
  ramp.attach(b);
  b->StartBuffer();
  b->FillBuffer();
  // Starve the ring: the output plays on while no fill runs, until WritePos
  // (0) is only 10 ms beyond the write cursor.
  sound::manualSound().advance(88200 - 442 - 441);
  b->RequestStop();
  std::vector<uint8_t> before(ramp.ring, ramp.ring + 352800);
  size_t fills = ramp.fills.size();
  b->FillBuffer();
  EXPECT_TRUE(ramp.refades.empty());
  // No byte the refade could have touched changed (the fill writes only
  // behind the play cursor, which the comparison leaves out).
  uint32_t play = (88200 - 883) * 4 % 352800;
  EXPECT_TRUE(std::equal(before.begin() + play, before.end(), ramp.ring + play));
  EXPECT_EQ(ramp.fills.size(), fills + 1);
}

TEST_F(OutputDevice, PlayedTimeExtrapolatesBetweenFillsAndCountsLaps) {
  TWinWaveOutBuffer* b = make();
  Ramp ramp;
  ramp.attach(b);
  EXPECT_EQ(b->GetPlayedTime(), 0);
  b->StartBuffer();
  b->FillBuffer();
  EXPECT_EQ(b->GetPlayedTime(), 0);  // cursor 0 at tick now
  clock_->advance(50);
  EXPECT_EQ(b->GetPlayedTime(), 50);  // extrapolated by the clock
  sound::manualSound().advance(4410 * 3);  // 0.3 s heard
  b->FillBuffer();
  EXPECT_EQ(b->GetPlayedTime(), 300);
  // Laps: 1.8 s more crosses the ring's end once.
  for (int i = 0; i < 18; ++i) {
    sound::manualSound().advance(4410);
    clock_->advance(100);
    b->FillBuffer();
  }
  EXPECT_EQ(b->GetPlayedTime(), 2100);  // 2000 for the lap + 100 ms into the next
}

TEST_F(OutputDevice, LostBufferAtStartIsRestoredAndRetried) {
  platform::os::setClockBackend(nullptr);  // the retry sleeps 10 ms on the real clock
  TWinWaveOutBuffer* b = make();
  Ramp ramp;
  ramp.attach(b);
  sound::injectBufferLost(3);
  b->StartBuffer();
  EXPECT_EQ(sound::pendingBufferLost(), 0);
  std::vector<int16_t> out = sound::manualSound().advance(4);
  EXPECT_EQ(out[2], 1);  // playing from the prefill
  platform::os::setClockBackend(&*clock_);
}

TEST(OutputDeviceWithoutSound, NoDeviceMeansNotReadyAndNoRing) {
  sound::registerSoundEntries();
  sound::SoundBackend* previous = sound::setSoundBackend(sound::noSoundBackend());
  std::vector<std::u16string> lines;
  struct Sink {
    std::vector<std::u16string>* lines;
    void Add(const std::u16string& l) { lines->push_back(l); }
  } sink{&lines};
  foundation::TLog* log = audio::MusicTraceLog();
  foundation::TLogOutput old = log->OutputHandler;
  log->OutputHandler = foundation::MethodOf<&Sink::Add>(&sink);
  {
    TRef<TWinWaveOutDevice> device = TRef<TWinWaveOutDevice>::Adopt(new TWinWaveOutDevice);
    EXPECT_FALSE(device->IsReady());
    TRef<audio::TWaveOutBuffer> b = TRef<audio::TWaveOutBuffer>::Adopt(device->CreateBuffer(kStereo16));
    EXPECT_FALSE(b->IsValid());
    b->Start();  // nothing to start
    b->RequestStop();
    try {
      TRef<audio::TTimerChannel>::Adopt(device->CreateTimerChannel());
      ADD_FAILURE() << "a timer channel without a ring";
    } catch (const foundation::Exception& e) {
      EXPECT_EQ(e.Message(), u"SoundBuffer = nil");
    }
  }
  log->OutputHandler = old;
  sound::setSoundBackend(previous);
  const std::vector<std::u16string> expected = {
      u"-> DirectSoundCreate8 [MusicClasses, 158]", u"<- DirectSoundCreate8 [MusicClasses, 160]",
      u"-> DirectSoundCreate [MusicClasses, 167]",  u"<- DirectSoundCreate [MusicClasses, 169]",
      u"!!! FDirectSound = nil [MusicClasses, 173]", u"!!! SoundBuffer = nil [TimerChannel, 133]",
  };
  EXPECT_EQ(lines, expected);
}

TEST(OutputDeviceWithoutSound, BufferOfAnotherDeviceIsRefused) {
  struct Other : audio::TWaveOutDevice {
    bool IsReady() override { return true; }
    audio::TWaveOutBuffer* CreateBuffer(const TWaveFormat&) override { return nullptr; }
    audio::TTimerChannel* CreateTimerChannel() override { return nullptr; }
  };
  TRef<Other> other = TRef<Other>::Adopt(new Other);
  EXPECT_THROW(new TWinWaveOutBuffer(other.Get(), 400, kStereo16), foundation::Exception);
}
