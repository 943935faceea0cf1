// The abstract output side of the music engine: the output device, its
// streaming buffers and the audio clock. The rest of the engine sees only
// these; the DirectSound-shaped implementation lives in MusicClasses and
// winTimerChannel.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "audio/MusicTypes.h"
#include "platform/sound/api.h"

namespace audio {

using TWaveFormat = platform::sound::WaveFormat;

class TWaveOutBuffer;
class TTimerChannel;

class TWaveOutDevice : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TWaveOutDevice)
  virtual bool IsReady() = 0;
  // A new buffer with one reference for the caller.
  virtual TWaveOutBuffer* CreateBuffer(const TWaveFormat& format) = 0;
  // A new timer channel with one reference; raises when it cannot be made.
  virtual TTimerChannel* CreateTimerChannel() = 0;
};

// Called on the refill thread with a pointer into the ring and a byte count.
using TWaveOutEvent = foundation::TMethod<void(TWaveOutBuffer* sender, uint8_t* data, uint32_t count)>;

class TWaveOutBuffer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TWaveOutBuffer)
  TWaveOutEvent OnPrefill;
  TWaveOutEvent OnRefade;
  TWaveOutEvent OnFill;
  // During OnRefade: the bytes written after the span being re-shaped (the
  // part after the ring's wrap, re-shaped next).
  uint32_t RefadeAfter = 0;

  virtual float GetVolume() = 0;
  virtual void SetVolume(float v) = 0;
  virtual void Start() = 0;
  virtual void RequestStop() = 0;
  virtual uint32_t GetPrefillSize() = 0;
  virtual uint32_t GetQueuedBytes() = 0;
  virtual int32_t GetPlayedTime() = 0;
  // False when the ring could not be made (the format was refused); such a
  // buffer must not be started.
  virtual bool IsValid() = 0;
};

class TTimerChannel : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TTimerChannel)
  virtual int32_t GetTime() = 0;
  virtual void SetTime(int32_t ms) = 0;
  virtual bool IsRunning() = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
};

class TMusicPlayer;

// One named audio source of the player (a music file, a comment, a
// composite) that plays from any position with a fade-in, stops with a
// fade-out, and has a volume.
class TChannel : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TChannel)
  // Called when the source has played to its end.
  foundation::TMethod<void(TChannel* channel)> OnFinished;
  // The player-wide share of the volume.
  float Volume = 1.0f;

  virtual TMusicPlayer* GetPlayer() = 0;
  virtual std::u16string GetName() = 0;
  virtual float GetChannelVolume() = 0;
  virtual void SetChannelVolume(float v) = 0;
  // Milliseconds.
  virtual int32_t GetDuration() = 0;
  virtual int32_t GetPosition() = 0;
  virtual bool SetPosition(int32_t ms) = 0;
  virtual float GetVolume() { return Volume; }
  // Stores the share and recomputes the effective volume.
  virtual void SetVolume(float v) {
    Volume = v;
    SetChannelVolume(GetChannelVolume());
  }
  virtual bool Play(int32_t fadeMs) = 0;
  virtual bool Stop(int32_t fadeMs) = 0;
  virtual bool IsPlaying() = 0;
};

// The audio output the show music asks for channels, and the audio clock.
class TMusicPlayer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMusicPlayer)
  virtual bool IsReady() = 0;
  virtual float GetVolume() { return FVolume; }
  virtual void SetVolume(float v) { FVolume = v; }
  // How the player opens and hands back the streams of its sources (unset:
  // names are disk paths).
  virtual void SetCloseStreamEvent(const TCloseStreamEvent&) {}
  virtual void SetOpenStreamEvent(const TOpenStreamEvent&) {}
  virtual TOpenStreamEvent GetOpenStreamEvent() { return {}; }
  virtual TCloseStreamEvent GetCloseStreamEvent() { return {}; }
  // The audio clock in ms (started on first use).
  virtual double GetClockTime() = 0;
  // A new channel with one reference, positioned at positionMs (-1: at 0),
  // or nullptr when the source cannot be played.
  virtual TChannel* CreateChannel(const std::u16string& name, int32_t positionMs) = 0;

 protected:
  float FVolume = 1.0f;
};

// The factories the output side registers at start-up (nullptr until then):
// the output device and the music player.
using TCreateDeviceHook = TWaveOutDevice* (*)();
using TCreatePlayerHook = TMusicPlayer* (*)();
extern TCreateDeviceHook CreateDeviceHook;
extern TCreatePlayerHook CreatePlayerHook;

}  // namespace audio
