// The DirectSound-shaped output: one device per music player and the
// streaming buffer each playback instance owns, a 2-second looping ring kept
// full by its own refill thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/MusicGeneral.h"
#include "audio/winDSEventThread.h"
#include "platform/os/library.h"

namespace audio {

class TWinWaveOutDevice : public TWaveOutDevice {
 public:
  QEL_CLASSNAME(TWinWaveOutDevice)
  TWinWaveOutDevice();
  void Dispose() override;

  bool IsReady() override { return Ready; }
  TWaveOutBuffer* CreateBuffer(const TWaveFormat& format) override;
  TTimerChannel* CreateTimerChannel() override;

  // The device's interface, or nullptr when none could be made.
  platform::sound::SoundDevice* DirectSound = nullptr;
  bool Ready = false;

 private:
  platform::os::LibraryHandle FLibrary = 0;
};

// The value of the device hook: a new TWinWaveOutDevice.
TWaveOutDevice* CreateWaveOutDevice();
// Start-up: the music trace log, and CreateDeviceHook := CreateWaveOutDevice.
void InitMusicClasses();

class TWinWaveOutBuffer : public TWaveOutBuffer {
 public:
  QEL_CLASSNAME(TWinWaveOutBuffer)
  // Raises when the device is not a TWinWaveOutDevice. A ring the device
  // refuses (an unplayable format) leaves the buffer not valid.
  TWinWaveOutBuffer(TWaveOutDevice* device, uint32_t size, const TWaveFormat& format);
  void Dispose() override;

  float GetVolume() override;
  void SetVolume(float v) override;
  void Start() override;
  void RequestStop() override;
  uint32_t GetPrefillSize() override;
  uint32_t GetQueuedBytes() override;
  int32_t GetPlayedTime() override;
  bool IsValid() override { return SoundBuffer != nullptr; }

  // The refill thread's two entries (public so tests can run a fill without
  // the thread's 100 ms pacing).
  void StartBuffer();
  void FillBuffer();

  uint32_t Size = 0;
  TWaveFormat Format{};
  uint32_t WritePos = 0;
  uint32_t MaxFill = 0;
  uint32_t DataEnd = 0;

 private:
  void UpdatePlayed();
  uint32_t RoundToSample(uint32_t bytes) const;

  float Volume = -1.0f;
  TWinWaveOutDevice* Device = nullptr;
  platform::sound::SoundDevice* DirectSound = nullptr;
  platform::sound::SoundBuffer* SoundBuffer = nullptr;
  std::recursive_mutex FillSection;
  std::atomic<bool> Closed{true};
  std::unique_ptr<TDSEventThread> FillThread;
  std::atomic<bool> StopRequested{false};
  std::mutex TimeLock;
  int32_t PlayedMs = 0;
  uint32_t LastPlayCursor = 0xFFFFFFFFu;
  int64_t LastCursorTick = 0;
};

// The attenuation in hundredths of a decibel for a linear volume:
// round(600 x log2 v), -10000 for v <= 0, limited to -10000..0.
int32_t VolumeToAttenuation(double v);
double AttenuationToVolume(int32_t a);

}  // namespace audio
