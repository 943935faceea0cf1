// The abstract output side of the music engine: the output device, its
// streaming buffers and the audio clock. The rest of the engine sees only
// these; the DirectSound-shaped implementation lives in MusicClasses and
// winTimerChannel.
#pragma once

#include <cstdint>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
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

}  // namespace audio
