#include "audio/MusicClasses.h"

#include <algorithm>
#include <cmath>

#include "audio/MusicTrace.h"
#include "audio/winTimerChannel.h"
#include "foundation/TickClock.h"
#include "foundation/kpExceptions.h"
#include "platform/os/clock.h"
#include "platform/os/threads.h"

namespace audio {

namespace sound = platform::sound;

namespace {
constexpr const char16_t* kUnit = u"MusicClasses";
}

int32_t VolumeToAttenuation(double v) {
  if (!(v > 0.0)) return sound::DSBVOLUME_MIN;
  double a = std::round(600.0 * std::log2(v));
  return static_cast<int32_t>(std::clamp(a, -10000.0, 0.0));
}

double AttenuationToVolume(int32_t a) {
  if (a == 0) return 1.0;
  if (a <= sound::DSBVOLUME_MIN) return 0.0;
  return std::pow(2.0, a / 600.0);
}

// ---------------------------------------------------------------- device

TWinWaveOutDevice::TWinWaveOutDevice() {
  platform::os::coInitialize();
  // The window the cooperative level names is not looked at by the sound
  // layer; no hidden window is made for it.
  FLibrary = platform::os::loadLibrary(u"dsound");
  auto create8 = FLibrary ? reinterpret_cast<sound::DirectSoundCreateEntry>(
                                platform::os::getProcAddress(FLibrary, "DirectSoundCreate8"))
                          : nullptr;
  if (create8) {
    MusicTrace(u"-> ", u"DirectSoundCreate8", kUnit, 158);
    create8(nullptr, &DirectSound, nullptr);
    MusicTrace(u"<- ", u"DirectSoundCreate8", kUnit, 160);
    if (DirectSound) {
      MusicTrace(u"", u"DirectSound8 <> nil", kUnit, 163);
    } else {
      MusicTrace(u"-> ", u"DirectSoundCreate", kUnit, 167);
      sound::directSoundCreate(nullptr, &DirectSound, nullptr);
      MusicTrace(u"<- ", u"DirectSoundCreate", kUnit, 169);
    }
    if (!DirectSound) MusicTrace(u"!!! ", u"FDirectSound = nil", kUnit, 173);
  }
  if (DirectSound) {
    MusicTrace(u"-> ", u"FDirectSound.SetCooperativeLevel", kUnit, 184);
    if (DirectSound->setCooperativeLevel(0, sound::DSSCL_PRIORITY) == sound::DS_OK)
      Ready = true;
    else
      MusicTrace(u"!!! ", u"FDirectSound.SetCooperativeLevel", kUnit, 186);
    MusicTrace(u"<- ", u"FDirectSound.SetCooperativeLevel", kUnit, 189);
  }
}

void TWinWaveOutDevice::Dispose() {
  if (DirectSound) {
    MusicTrace(u"-> ", u"FDirectSound := nil", kUnit, 216);
    DirectSound->release();
    DirectSound = nullptr;
    MusicTrace(u"<- ", u"FDirectSound := nil", kUnit, 218);
  }
  if (FLibrary) platform::os::freeLibrary(FLibrary);
  FLibrary = 0;
  TWaveOutDevice::Dispose();
}

TWaveOutBuffer* TWinWaveOutDevice::CreateBuffer(const TWaveFormat& format) {
  return new TWinWaveOutBuffer(this, 2 * format.avgBytesPerSec, format);
}

TTimerChannel* TWinWaveOutDevice::CreateTimerChannel() { return new TwinTimerChannel(this); }

TWaveOutDevice* CreateWaveOutDevice() { return new TWinWaveOutDevice; }

void InitMusicClasses() {
  InitMusicTrace();
  CreateDeviceHook = &CreateWaveOutDevice;
}

// ---------------------------------------------------------------- buffer

TWinWaveOutBuffer::TWinWaveOutBuffer(TWaveOutDevice* device, uint32_t size, const TWaveFormat& format)
    : Size(size), Format(format) {
  MaxFill = RoundToSample(format.avgBytesPerSec / 2);
  auto* win = dynamic_cast<TWinWaveOutDevice*>(device);
  if (!win) throw foundation::Exception(u"WaveOutDevice is not TWinWaveOutDevice");
  Device = win;
  Device->_AddRef();
  DirectSound = win->DirectSound;
  if (!DirectSound) return;
  DirectSound->addRef();
  sound::BufferDescription d;
  d.size = 40;
  d.flags = 0x18088;
  d.bufferBytes = size;
  d.format = &Format;
  if (DirectSound->createSoundBuffer(d, &SoundBuffer) != sound::DS_OK) SoundBuffer = nullptr;
  if (SoundBuffer) Closed = false;
}

uint32_t TWinWaveOutBuffer::RoundToSample(uint32_t bytes) const {
  uint32_t sample = Format.bitsPerSample / 8;
  return sample ? bytes - bytes % sample : bytes;
}

void TWinWaveOutBuffer::Dispose() {
  if (SoundBuffer) {
    {
      std::lock_guard<std::recursive_mutex> guard(FillSection);
      SoundBuffer->stop();
      Closed = true;
    }
    FillThread.reset();
    SoundBuffer->release();
    SoundBuffer = nullptr;
  }
  if (DirectSound) DirectSound->release();
  DirectSound = nullptr;
  if (Device) Device->Free();
  Device = nullptr;
  TWaveOutBuffer::Dispose();
}

void TWinWaveOutBuffer::Start() {
  if (!SoundBuffer || FillThread) return;
  FillThread = std::make_unique<TDSEventThread>([this] { FillBuffer(); }, [this] { StartBuffer(); });
  FillThread->Start();
}

void TWinWaveOutBuffer::RequestStop() {
  StopRequested = true;
  if (FillThread) FillThread->Notify();
}

uint32_t TWinWaveOutBuffer::GetPrefillSize() { return RoundToSample(static_cast<uint32_t>(uint64_t{Size} * 3 / 4)); }

uint32_t TWinWaveOutBuffer::GetQueuedBytes() {
  uint32_t play = 0, write = 0;
  if (SoundBuffer) SoundBuffer->getCurrentPosition(&play, &write);
  return play < DataEnd ? DataEnd - play : Size + DataEnd - play;
}

int32_t TWinWaveOutBuffer::GetPlayedTime() {
  std::lock_guard<std::mutex> guard(TimeLock);
  int32_t t = PlayedMs;
  if (LastPlayCursor != 0xFFFFFFFFu) {
    uint32_t perCentisecond = Format.avgBytesPerSec / 100;
    if (perCentisecond) t += static_cast<int32_t>(static_cast<uint64_t>(LastPlayCursor) * 10 / perCentisecond);
    t += static_cast<int32_t>(foundation::GetTickMs() - LastCursorTick);
  }
  return t;
}

void TWinWaveOutBuffer::SetVolume(float v) {
  Volume = v;
  if (SoundBuffer) SoundBuffer->setVolume(VolumeToAttenuation(v));
}

float TWinWaveOutBuffer::GetVolume() {
  if (Volume >= 0.0f) return Volume;
  int32_t a = 0;
  if (SoundBuffer) SoundBuffer->getVolume(&a);
  return static_cast<float>(AttenuationToVolume(a));
}

void TWinWaveOutBuffer::StartBuffer() {
  std::lock_guard<std::recursive_mutex> guard(FillSection);
  if (Closed) return;
  uint32_t n = GetPrefillSize();
  WritePos = n;
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  if (n > 0 && SoundBuffer->lock(0, n, &p1, &n1, &p2, &n2) == sound::DS_OK) {
    DataEnd = 0;
    if (OnPrefill) OnPrefill(this, static_cast<uint8_t*>(p1), n1);
    SoundBuffer->unlock(p1, n1, p2, n2);
  }
  while (SoundBuffer->play(0, 0, sound::DSBPLAY_LOOPING) == sound::DSERR_BUFFERLOST) {
    SoundBuffer->restore();
    platform::os::sleepMs(10);
  }
}

void TWinWaveOutBuffer::FillBuffer() {
  if (Closed) return;
  std::lock_guard<std::recursive_mutex> guard(FillSection);
  if (Closed) return;
  void *p1 = nullptr, *p2 = nullptr;
  uint32_t n1 = 0, n2 = 0;
  uint32_t play = 0, write = 0;
  auto ahead = [this](uint32_t from, uint32_t to) { return to >= from ? to - from : Size - (from - to); };
  // 1. A stop request re-shapes what is queued but not yet committed to the
  // output: from 25 ms beyond the write cursor up to WritePos. When WritePos
  // is no further ahead than that, nothing is re-shaped (the bytes between
  // the cursors are already on their way).
  if (StopRequested.exchange(false)) {
    SoundBuffer->getCurrentPosition(&play, &write);
    uint32_t pos = write + Format.channels * (Format.bitsPerSample / 8) * (Format.samplesPerSec / 40);
    if (pos >= Size) pos -= Size;
    if (pos != WritePos && ahead(write, pos) < ahead(write, WritePos)) {
      uint32_t span = ahead(pos, WritePos);
      if (SoundBuffer->lock(pos, span, &p1, &n1, &p2, &n2) == sound::DS_OK) {
        DataEnd = pos;
        if (OnRefade) OnRefade(this, static_cast<uint8_t*>(p1), n1);
        if (p2 && n2) {
          DataEnd = 0;
          if (OnRefade) OnRefade(this, static_cast<uint8_t*>(p2), n2);
        }
        SoundBuffer->unlock(p1, n1, p2, n2);
      }
    }
  }
  // 2. The normal fill, at most MaxFill, behind the play cursor.
  SoundBuffer->getCurrentPosition(&play, &write);
  if (WritePos == play) return;
  uint32_t free = WritePos > play ? Size - (WritePos - play) : play - WritePos;
  free = RoundToSample(std::min(free, MaxFill));
  if (free > 0 && SoundBuffer->lock(WritePos, free, &p1, &n1, &p2, &n2) == sound::DS_OK) {
    // The end of the data is the end of the part being written, so a source
    // whose last samples land after the wrap is timed to their end.
    DataEnd = WritePos + n1;
    if (OnFill) OnFill(this, static_cast<uint8_t*>(p1), n1);
    if (p2 && n2) {
      DataEnd = n2;
      if (OnFill) OnFill(this, static_cast<uint8_t*>(p2), n2);
    }
    SoundBuffer->unlock(p1, n1, p2, n2);
    WritePos = (p2 && n2) ? n2 : WritePos + n1;
    if (WritePos >= Size) WritePos -= Size;
  }
  // 3. Played time.
  UpdatePlayed();
}

void TWinWaveOutBuffer::UpdatePlayed() {
  uint32_t play = 0, write = 0;
  SoundBuffer->getCurrentPosition(&play, &write);
  std::lock_guard<std::mutex> guard(TimeLock);
  LastCursorTick = foundation::GetTickMs();
  if (LastPlayCursor != 0xFFFFFFFFu && play < LastPlayCursor) PlayedMs += 2000;
  LastPlayCursor = play;
}

}  // namespace audio
