// The audio clock: a silent 2-second ring loops on the output device while
// the show plays, and a thread nudges a millisecond clock towards the ring's
// play cursor by at most 1 ms every 10 ms. The clock never jumps and still
// follows the sound card in the long run.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "audio/MusicGeneral.h"
#include "platform/os/sync.h"
#include "platform/os/threads.h"

namespace audio {

class TwinTimerChannel : public TTimerChannel {
 public:
  QEL_CLASSNAME(TwinTimerChannel)
  // Raises "WaveOutDevice is not TwinWaveOutDevice" for another device and
  // "SoundBuffer = nil" when the ring cannot be made. ClockThread false
  // leaves the 10 ms ticks to the caller (TimerTick), which tests use to run
  // hours of virtual time without a thread.
  explicit TwinTimerChannel(TWaveOutDevice* device, bool ClockThread = true);
  void Dispose() override;

  int32_t GetTime() override;
  void SetTime(int32_t ms) override;
  bool IsRunning() override { return Running; }
  void Start() override;
  void Stop() override;

  // One 10 ms tick of the clock thread.
  void TimerTick();
  int32_t GetBufferTime();

  // The clock corrects by at most 1 ms per tick (10 %): a device running
  // further from the processor's clock than that cannot be followed. The
  // clock then still never jumps, but the gap is reported: the flag is set
  // and a "!!! " line traced when the clock lags or leads the buffer time by
  // more than DriftLimitMs; LargestDifference is the largest gap seen.
  static constexpr int32_t DriftLimitMs = 200;
  bool DriftNotFollowed() const { return FDriftNotFollowed; }
  int32_t LargestDifference() const { return FLargestDifference; }
  // Ticks run so far (diagnostics; tests wait for the thread with it).
  uint32_t TickTotal() const { return FTickTotal; }

  // The timer format: PCM, 2 channels, 44,100 Hz, 16 bits.
  static constexpr TWaveFormat TimerFormat{1, 2, 44100, 176400, 4, 16, 0};

 private:
  void EndThread();
  uint32_t ReadCursor(int before, int after);
  static int ThreadProc(void* self);

  platform::sound::SoundDevice* DirectSound = nullptr;
  platform::sound::SoundBuffer* SoundBuffer = nullptr;
  uint32_t Size = 0;
  uint32_t LastCursorTick = 0;
  uint32_t LastPlayCursor = 0xFFFFFFFFu;
  // Guards the cursor record (LastCursorTick, LastPlayCursor, BufferBaseMs,
  // StoredTime, TickCount) and the buffer's play and stop, shared by the
  // caller's Start/Stop/SetTime and the clock thread's ticks.
  std::recursive_mutex Section;
  int32_t BufferBaseMs = 0;
  platform::os::ThreadHandle Thread = nullptr;
  platform::os::ThreadId ThreadId = 0;
  platform::os::Event StopEvent{false, false};
  platform::os::Event EndedEvent{true, false};
  int32_t TickCount = 0;
  std::atomic<bool> Running{false};
  int32_t StoredTime = 0;
  std::atomic<int32_t> ClockBase{0};
  int32_t BufferOffset = 0;
  std::atomic<bool> WaitingForCursor{true};
  bool FClockThread = true;
  std::atomic<bool> FDriftNotFollowed{false};
  std::atomic<int32_t> FLargestDifference{0};
  std::atomic<uint32_t> FTickTotal{0};
};

}  // namespace audio
