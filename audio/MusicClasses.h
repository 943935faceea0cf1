// The DirectSound-shaped output: one device per music player and the
// streaming buffer each playback instance owns, a 2-second looping ring kept
// full by its own refill thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/MusicChannel.h"
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
  // False: buffers run no refill thread; Start prefills and starts at once
  // and the owner calls FillBuffer itself (tests on the manual backend).
  bool RefillThreads = true;

 private:
  platform::os::LibraryHandle FLibrary = 0;
};

// The value of the device hook: a new TWinWaveOutDevice.
TWaveOutDevice* CreateWaveOutDevice();
// Start-up: the music trace log, CreateDeviceHook := CreateWaveOutDevice and
// CreatePlayerHook := CreatePlayer.
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
  // Guards the ring's write side (WritePos, DataEnd, RefadeAfter) and every
  // lock of the sound buffer: the refill thread's fill and the opening
  // prefill; Dispose takes it to close the buffer under the filler's feet.
  std::recursive_mutex FillSection;
  std::atomic<bool> Closed{true};
  std::unique_ptr<TDSEventThread> FillThread;
  std::atomic<bool> StopRequested{false};
  // Guards the played-time record (PlayedMs, LastPlayCursor, LastCursorTick)
  // written by the refill thread and read by the clock's readers. A leaf.
  std::mutex TimeLock;
  int32_t PlayedMs = 0;
  uint32_t LastPlayCursor = 0xFFFFFFFFu;
  int64_t LastCursorTick = 0;
};

class TMusicPlayerClass;

// A channel with its media description and name.
class TCustomChannel : public TChannel {
 public:
  QEL_CLASSNAME(TCustomChannel)
  TMusicPlayer* GetPlayer() override;
  std::u16string GetName() override { return Name; }
  int32_t GetDuration() override { return MediaInfo.Duration; }

  bool Opened = false;
  TMediaInfo MediaInfo{};
  // Guards the channel's instances and their play state, its volume and its
  // last position (TChannelMusic), shared by the show's threads and the
  // instances' ends.
  std::recursive_mutex Lock;
  std::atomic<TMusicPlayerClass*> Player{nullptr};
  std::u16string Name;
};

// A channel of the device player: plays through instances, oldest first;
// the last one is the current instance.
class TChannelMusic : public TCustomChannel {
 public:
  QEL_CLASSNAME(TChannelMusic)
  TChannelMusic(TMusicPlayerClass* player, const std::u16string& name);
  // Stops sounding instances with a 10 ms fade and waits (without the lock)
  // until the channel killer has given every one back.
  void Dispose() override;

  float GetChannelVolume() override;
  void SetChannelVolume(float v) override;
  int32_t GetPosition() override;
  bool SetPosition(int32_t ms) override;
  bool Play(int32_t fadeMs) override;
  bool Stop(int32_t fadeMs) override;
  bool IsPlaying() override;

  // The channel killer's hand-back: takes the instance out, records its
  // position when it is the channel's last, tells OnFinished when its
  // source ran to its end, and releases it.
  void InstanceFinished(TMusicChannel* instance);
  TMusicChannel* Current();
  int32_t InstanceCount();

  std::vector<TMusicChannel*> Instances;
  int32_t LastPosition = 0;
  uint32_t InstancesMade = 0;
  float ChannelVolume = 1.0f;
  TWaveOutDevice* Device = nullptr;
  TOpenStreamEvent OpenEvent;
  TCloseStreamEvent CloseEvent;

 private:
  TMusicChannel* NewInstance();
};

// The device player: the output device, its channels and the audio clock.
class TMusicPlayerClass : public TMusicPlayer {
 public:
  QEL_CLASSNAME(TMusicPlayerClass)
  TMusicPlayerClass();
  void Dispose() override;

  bool IsReady() override;
  void SetVolume(float v) override;
  void SetCloseStreamEvent(const TCloseStreamEvent& e) override { CloseStreamEvent = e; }
  void SetOpenStreamEvent(const TOpenStreamEvent& e) override { OpenStreamEvent = e; }
  TOpenStreamEvent GetOpenStreamEvent() override { return OpenStreamEvent; }
  TCloseStreamEvent GetCloseStreamEvent() override { return CloseStreamEvent; }
  double GetClockTime() override;
  TChannel* CreateChannel(const std::u16string& name, int32_t positionMs) override;

  TTimerChannel* GetTimerChannel();
  void RemoveChannel(TChannel* channel);
  int32_t ChannelCount();

  std::vector<TChannel*> Channels;
  // Guards Channels (and the volume handed to them); channels are made and
  // removed on several threads.
  std::recursive_mutex Lock;
  TWaveOutDevice* Device = nullptr;
  TTimerChannel* TimerChannel = nullptr;
  TOpenStreamEvent OpenStreamEvent;
  TCloseStreamEvent CloseStreamEvent;
  // False when the audio clock could not be made on a ready device.
  bool ClockMade = true;
};

// The value of CreatePlayerHook: a player over CreateDeviceHook's device. A
// machine without sound gets a player that is not ready (the show then runs
// silently on the tick clock) rather than an exception.
TMusicPlayer* CreatePlayer();

// The attenuation in hundredths of a decibel for a linear volume:
// round(600 x log2 v), -10000 for v <= 0, limited to -10000..0.
int32_t VolumeToAttenuation(double v);
double AttenuationToVolume(int32_t a);

}  // namespace audio
