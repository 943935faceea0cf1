#include "audio/winTimerChannel.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/MusicClasses.h"
#include "audio/MusicTrace.h"
#include "foundation/kpExceptions.h"
#include "platform/os/clock.h"

namespace audio {

namespace sound = platform::sound;
using platform::os::timeGetTime;

namespace {
constexpr const char16_t* kUnit = u"TimerChannel";
}

TwinTimerChannel::TwinTimerChannel(TWaveOutDevice* device, bool ClockThread) : FClockThread(ClockThread) {
  ClockBase = static_cast<int32_t>(timeGetTime());
  Size = 2 * TimerFormat.avgBytesPerSec;
  auto* win = dynamic_cast<TWinWaveOutDevice*>(device);
  if (!win) throw foundation::Exception(u"WaveOutDevice is not TwinWaveOutDevice");
  if (win->DirectSound) {
    DirectSound = win->DirectSound;
    DirectSound->addRef();
    sound::BufferDescription d;
    d.size = 40;
    d.flags = 0x18008;
    d.bufferBytes = Size;
    d.format = &TimerFormat;
    MusicTrace(u"-> ", u"CreateSoundBuffer", kUnit, 129);
    if (DirectSound->createSoundBuffer(d, &SoundBuffer) != sound::DS_OK) SoundBuffer = nullptr;
    MusicTrace(u"<- ", u"CreateSoundBuffer", kUnit, 131);
  }
  if (!SoundBuffer) {
    MusicTrace(u"!!! ", u"SoundBuffer = nil", kUnit, 133);
    if (DirectSound) DirectSound->release();
    DirectSound = nullptr;
    throw foundation::Exception(u"SoundBuffer = nil");
  }
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  MusicTrace(u"-> ", u"SoundBuffer.Lock", kUnit, 137);
  bool locked = SoundBuffer->lock(0, Size, &p1, &n1, &p2, &n2) == sound::DS_OK;
  MusicTrace(u"<- ", u"SoundBuffer.Lock", kUnit, 139);
  if (locked) {
    std::memset(p1, 0, n1);
    if (p2) std::memset(p2, 0, n2);
    MusicTrace(u"-> ", u"SoundBuffer.Unlock", kUnit, 143);
    SoundBuffer->unlock(p1, n1, p2, n2);
    MusicTrace(u"<- ", u"SoundBuffer.Unlock", kUnit, 145);
  }
}

void TwinTimerChannel::Dispose() {
  if (SoundBuffer) {
    MusicTrace(u"-> ", u"SoundBuffer.Stop", kUnit, 153);
    SoundBuffer->stop();
    MusicTrace(u"<- ", u"SoundBuffer.Stop", kUnit, 155);
  }
  EndThread();
  if (SoundBuffer) {
    MusicTrace(u"-> ", u"SoundBuffer := nil", kUnit, 161);
    SoundBuffer->release();
    SoundBuffer = nullptr;
    MusicTrace(u"<- ", u"SoundBuffer := nil", kUnit, 163);
  }
  if (DirectSound) DirectSound->release();
  DirectSound = nullptr;
  TTimerChannel::Dispose();
}

int32_t TwinTimerChannel::GetTime() {
  if (WaitingForCursor) return 0;
  return static_cast<int32_t>(timeGetTime() - static_cast<uint32_t>(ClockBase.load()));
}

void TwinTimerChannel::SetTime(int32_t ms) {
  std::lock_guard<std::recursive_mutex> guard(Section);
  BufferBaseMs = ms;
  StoredTime = ms;
  ClockBase = static_cast<int32_t>(timeGetTime() - static_cast<uint32_t>(ms));
}

void TwinTimerChannel::Start() {
  if (!SoundBuffer) return;
  Running = true;
  MusicTrace(u"-> ", u"SoundBuffer.Play", kUnit, 177);
  while (SoundBuffer->play(0, 0, sound::DSBPLAY_LOOPING) == sound::DSERR_BUFFERLOST) {
    MusicTrace(u"!!! ", u"SoundBuffer.Play DSERR_BUFFERLOST", kUnit, 179);
    MusicTrace(u"-> ", u"SoundBuffer.Restore", kUnit, 181);
    SoundBuffer->restore();
    MusicTrace(u"<- ", u"SoundBuffer.Restore", kUnit, 183);
    platform::os::sleepMs(10);
  }
  MusicTrace(u"<- ", u"SoundBuffer.Play", kUnit, 186);
  {
    std::lock_guard<std::recursive_mutex> guard(Section);
    TickCount = 0;
    WaitingForCursor = false;
    SetTime(StoredTime);
    TimerTick();
    WaitingForCursor = true;
  }
  if (FClockThread && !Thread) {
    EndedEvent.reset();
    Thread = platform::os::startThread(&TwinTimerChannel::ThreadProc, this, &ThreadId);
  }
}

void TwinTimerChannel::Stop() {
  if (!SoundBuffer) return;
  {
    std::lock_guard<std::recursive_mutex> guard(Section);
    StoredTime = GetBufferTime();
    Running = false;
  }
  EndThread();
  std::lock_guard<std::recursive_mutex> guard(Section);
  MusicTrace(u"-> ", u"SoundBuffer.Stop", kUnit, 326);
  SoundBuffer->stop();
  MusicTrace(u"<- ", u"SoundBuffer.Stop", kUnit, 328);
  MusicTrace(u"-> ", u"SoundBuffer.SetCurrentPosition", kUnit, 330);
  SoundBuffer->setCurrentPosition(0);
  MusicTrace(u"<- ", u"SoundBuffer.SetCurrentPosition", kUnit, 332);
  LastPlayCursor = 0xFFFFFFFFu;
}

int TwinTimerChannel::ThreadProc(void* self) {
  auto* t = static_cast<TwinTimerChannel*>(self);
  while (!t->StopEvent.wait(10)) t->TimerTick();
  t->EndedEvent.set();
  return 0;
}

void TwinTimerChannel::EndThread() {
  if (!Thread) return;
  StopEvent.set();
  if (!EndedEvent.wait(1000)) {
    // It cannot be killed safely and still uses this object: trace and wait.
    MusicTrace(u"!!! ", u"clock thread did not end in 1000 ms", u"winTimerChannel", 350);
    EndedEvent.wait(platform::os::INFINITE);
  }
  platform::os::closeThreadHandle(Thread);
  Thread = nullptr;
  StopEvent.reset();
}

int32_t TwinTimerChannel::GetBufferTime() {
  if (!SoundBuffer) return 0;
  if (!Running) return StoredTime;
  std::lock_guard<std::recursive_mutex> guard(Section);
  int32_t t = BufferBaseMs;
  if (LastPlayCursor != 0xFFFFFFFFu)
    t += static_cast<int32_t>(LastPlayCursor * 10 / 1764) + static_cast<int32_t>(timeGetTime() - LastCursorTick);
  return t;
}

uint32_t TwinTimerChannel::ReadCursor(int before, int after) {
  uint32_t play = 0, write = 0;
  MusicTrace(u"-> ", u"SoundBuffer.GetCurrentPosition", kUnit, before);
  SoundBuffer->getCurrentPosition(&play, &write);
  MusicTrace(u"<- ", u"SoundBuffer.GetCurrentPosition", kUnit, after);
  return play;
}

void TwinTimerChannel::TimerTick() {
  if (!SoundBuffer) return;
  std::lock_guard<std::recursive_mutex> guard(Section);
  ++FTickTotal;
  if (WaitingForCursor) {
    uint32_t cursor = ReadCursor(230, 232);
    if (cursor == 0) return;
    WaitingForCursor = false;
    LastPlayCursor = cursor;
    LastCursorTick = timeGetTime();
    ClockBase = static_cast<int32_t>(timeGetTime() - static_cast<uint32_t>(StoredTime));
    BufferOffset = GetBufferTime() - StoredTime;
  }
  int32_t bt = GetBufferTime() - BufferOffset;
  int32_t ct = GetTime();
  if (bt > ct) ClockBase -= 1;
  if (ct > bt) ClockBase += 1;
  if (Running) {
    int32_t gap = std::abs(bt - ct);
    if (gap > FLargestDifference) FLargestDifference = gap;
    if (gap > DriftLimitMs && !FDriftNotFollowed) {
      FDriftNotFollowed = true;
      std::string n = std::to_string(bt - ct);
      MusicTrace(u"!!! ", u"clock does not follow the device: " + std::u16string(n.begin(), n.end()) + u" ms",
                 kUnit, 0);
    }
  }
  if (++TickCount == 10) {
    TickCount = 0;
    uint32_t cursor = ReadCursor(262, 264);
    LastCursorTick = timeGetTime();
    if (LastPlayCursor != 0xFFFFFFFFu && cursor < LastPlayCursor) BufferBaseMs += 2000;
    LastPlayCursor = cursor;
  }
}

}  // namespace audio
