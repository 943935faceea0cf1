// The refill thread of a streaming buffer and the clock thread of the timer
// channel, on the manual clock: each wakes every 100 ms (10 ms) of virtual
// time, and a stop request wakes the refill thread at once.
#include <atomic>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "audio/MusicClasses.h"
#include "audio/winTimerChannel.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/sound/manual/Sound_manual.h"

namespace sound = platform::sound;
using audio::TWaveFormat;
using foundation::TRef;

namespace {

struct Counter {
  std::atomic<int> prefills{0}, fills{0}, refades{0};
  void OnPrefill(audio::TWaveOutBuffer*, uint8_t* data, uint32_t count) {
    std::memset(data, 1, count);
    ++prefills;
  }
  void OnFill(audio::TWaveOutBuffer*, uint8_t* data, uint32_t count) {
    std::memset(data, 1, count);
    ++fills;
  }
  void OnRefade(audio::TWaveOutBuffer*, uint8_t* data, uint32_t count) {
    std::memset(data, 0, count);
    ++refades;
  }
};

void waitUntil(const std::atomic<int>& value, int atLeast) {
  for (int i = 0; i < 5000 && value.load() < atLeast; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class SoundThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    sound::registerSoundEntries();
    previous_ = sound::setSoundBackend(sound::manualSoundBackend());
    device_ = TRef<audio::TWinWaveOutDevice>::Adopt(new audio::TWinWaveOutDevice);
  }
  void TearDown() override {
    device_ = {};
    sound::setSoundBackend(previous_);
  }
  platform::os::ScopedManualClock clock_{100};
  sound::SoundBackend* previous_ = nullptr;
  TRef<audio::TWinWaveOutDevice> device_;
};

}  // namespace

TEST_F(SoundThreads, RefillThreadPrefillsFillsEvery100MsAndRefadesAtOnce) {
  Counter counter;
  {
    TRef<audio::TWaveOutBuffer> b =
        TRef<audio::TWaveOutBuffer>::Adopt(device_->CreateBuffer(TWaveFormat{1, 2, 44100, 176400, 4, 16, 0}));
    b->OnPrefill = foundation::MethodOf<&Counter::OnPrefill>(&counter);
    b->OnFill = foundation::MethodOf<&Counter::OnFill>(&counter);
    b->OnRefade = foundation::MethodOf<&Counter::OnRefade>(&counter);
    b->Start();
    clock_->waitForSleepers(1);  // prefilled, playing, waiting 100 ms
    EXPECT_EQ(counter.prefills.load(), 1);
    EXPECT_EQ(counter.fills.load(), 0);
    EXPECT_EQ(sound::manualSound().advance(1)[0], 257);  // the prefill plays (bytes of 1)
    clock_->advance(100);
    waitUntil(counter.fills, 1);
    EXPECT_EQ(counter.fills.load(), 1);
    sound::manualSound().advance(4410);
    b->RequestStop();  // no time passes: the notification wakes it
    waitUntil(counter.refades, 1);
    EXPECT_EQ(counter.refades.load(), 1);
    clock_->waitForSleepers(1);
  }  // destruction joins the thread
  EXPECT_EQ(counter.prefills.load(), 1);
}

TEST_F(SoundThreads, ClockThreadTicksEvery10Ms) {
  TRef<audio::TwinTimerChannel> timer = TRef<audio::TwinTimerChannel>::Adopt(new audio::TwinTimerChannel(device_.Get()));
  timer->SetTime(3000);
  timer->Start();
  clock_->waitForSleepers(1);
  EXPECT_EQ(timer->GetTime(), 0);
  for (int i = 0; i < 100; ++i) {
    uint32_t ticks = timer->TickTotal();
    sound::manualSound().advance(441);
    clock_->advance(10);
    for (int k = 0; k < 5000 && timer->TickTotal() == ticks; ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(timer->TickTotal(), ticks + 1);
    clock_->waitForSleepers(1);
  }
  // The thread saw the cursor move on its first tick and runs from 3000.
  EXPECT_NEAR(timer->GetTime(), 3990, 2);
  timer->Stop();
  EXPECT_FALSE(timer->IsRunning());
  EXPECT_NEAR(timer->GetBufferTime(), 3990, 12);
}
