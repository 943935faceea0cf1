#include "audio/MusicClasses.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/MusicTrace.h"
#include "audio/winTimerChannel.h"
#include "foundation/TickClock.h"
#include "foundation/kvUTF8.h"
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
  CreatePlayerHook = &CreatePlayer;
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
  if (!Device->RefillThreads) {
    StartBuffer();
    return;
  }
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
        RefadeAfter = p2 ? n2 : 0;
        if (OnRefade) OnRefade(this, static_cast<uint8_t*>(p1), n1);
        if (p2 && n2) {
          DataEnd = 0;
          RefadeAfter = 0;
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

// ---------------------------------------------------------------- channels

TMusicPlayer* TCustomChannel::GetPlayer() { return Player.load(); }

TChannelMusic::TChannelMusic(TMusicPlayerClass* player, const std::u16string& name) {
  Player = player;
  Name = name;
  Device = player->Device;
  Device->_AddRef();
  OpenEvent = player->GetOpenStreamEvent();
  CloseEvent = player->GetCloseStreamEvent();
  ChannelVolume = 1.0f;
  Volume = 1.0f;
  MusicTraceLog()->Add(u"TChannelMusic.Create " + name);
  std::memset(&MediaInfo, 0, sizeof(MediaInfo));
  if (!(MediaInfoHook && MediaInfoHook(name, MediaInfo))) {
    foundation::TStream* stream = StreamWrapper->OpenStream(player, StripNameSuffix(name), OpenEvent);
    if (stream) {
      TMediaInfoExtractor::GetMediaInfo(stream, name, MediaInfo);
      StreamWrapper->CloseStream(player, stream, CloseEvent);
    } else {
      std::memset(&MediaInfo, 0, sizeof(MediaInfo));
    }
  }
  LastPosition = 0;
  if (MediaInfo.FormatCode != mfcUnknown) {
    NewInstance();
    Opened = Instances.size() == 1;
  }
}

TMusicChannel* TChannelMusic::NewInstance() {
  auto* instance = new TMusicChannel(this, Device, MediaInfo);
  if (!instance->Valid || !instance->Open(Name)) {
    instance->Free();
    return nullptr;
  }
  instance->Serial = ++InstancesMade;
  instance->SetVolume(ChannelVolume * Volume);
  Instances.push_back(instance);
  return instance;
}

TMusicChannel* TChannelMusic::Current() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return Instances.empty() ? nullptr : Instances.back();
}

int32_t TChannelMusic::InstanceCount() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return static_cast<int32_t>(Instances.size());
}

float TChannelMusic::GetChannelVolume() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return ChannelVolume;
}

void TChannelMusic::SetChannelVolume(float v) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  ChannelVolume = v;
  if (TMusicChannel* c = Current()) c->SetVolume(ChannelVolume * Volume);
}

bool TChannelMusic::Play(int32_t fadeMs) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  TMusicChannel* c = Current();
  if (c && c->State == TMusicChannel::stPlaying) return false;
  if (!c || c->State == TMusicChannel::stStopping) {
    // The source may have vanished since the channel was made: then nothing
    // plays and the answer says so.
    c = NewInstance();
    if (!c) return false;
    c->SetPosition(LastPosition);
  }
  c->Play(fadeMs);
  return true;
}

bool TChannelMusic::Stop(int32_t fadeMs) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  TMusicChannel* c = Current();
  if (!c || c->State != TMusicChannel::stPlaying) return false;
  LastPosition = c->GetPosition();
  c->Stop(fadeMs);
  return true;
}

bool TChannelMusic::IsPlaying() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  TMusicChannel* c = Current();
  return c && c->State == TMusicChannel::stPlaying;
}

int32_t TChannelMusic::GetPosition() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (TMusicChannel* c = Current()) LastPosition = c->GetPosition();
  return LastPosition;
}

bool TChannelMusic::SetPosition(int32_t ms) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  TMusicChannel* c = Current();
  if (c && c->State == TMusicChannel::stIdle) {
    c->SetPosition(ms);
    return true;
  }
  // The fresh instance is made first: when the source has vanished the
  // channel goes on as it was and the answer says so.
  TMusicChannel* fresh = NewInstance();
  if (!fresh) return false;
  bool wasPlaying = c && c->State == TMusicChannel::stPlaying;
  if (wasPlaying) c->Stop(10);
  fresh->SetPosition(ms);
  if (wasPlaying) fresh->Play(10);  // a 10 ms cross-fade with the old one
  return true;
}

void TChannelMusic::InstanceFinished(TMusicChannel* instance) {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  auto it = std::find(Instances.begin(), Instances.end(), instance);
  if (it == Instances.end()) foundation::QelAssertFail(u"unknown finished instance (MusicClasses, 566)");
  Instances.erase(it);
  // Only the newest instance the channel made records where it stopped: an
  // older one handed back after it (both finishing in one pass of the
  // killer) must not put the channel back to the old place.
  if (instance->Serial == InstancesMade) LastPosition = instance->GetPosition();
  if (instance->ReachedEnd && OnFinished) OnFinished(this);
  instance->Free();
}

void TChannelMusic::Dispose() {
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    for (auto it = Instances.begin(); it != Instances.end();) {
      TMusicChannel* c = *it;
      if (c->State == TMusicChannel::stIdle) {
        it = Instances.erase(it);
        c->Free();
      } else {
        if (c->State == TMusicChannel::stPlaying) c->Stop(10);
        ++it;
      }
    }
  }
  // The killer needs the lock to take instances out: wait without it.
  for (int waits = 0;; ++waits) {
    {
      std::lock_guard<std::recursive_mutex> guard(Lock);
      if (Instances.empty()) break;
    }
    if (waits >= 300) foundation::QelAssertFail(u"channel keeps its instances (MusicClasses, 390)");
    foundation::SleepMs(10);
  }
  TMusicPlayerClass* player = Player.exchange(nullptr);
  if (player) player->RemoveChannel(this);
  foundation::FreeAndNil(Device);
  TCustomChannel::Dispose();
}

// ---------------------------------------------------------------- player

TMusicPlayerClass::TMusicPlayerClass() {
  FVolume = 1.0f;
  Device = CreateDeviceHook ? CreateDeviceHook() : nullptr;
}

void TMusicPlayerClass::Dispose() {
  std::vector<TChannel*> channels;
  {
    std::lock_guard<std::recursive_mutex> guard(Lock);
    channels.swap(Channels);
  }
  for (TChannel* c : channels) {
    if (auto* cm = dynamic_cast<TCustomChannel*>(c)) cm->Player = nullptr;
    c->Free();
  }
  foundation::FreeAndNil(TimerChannel);
  foundation::FreeAndNil(Device);
  TMusicPlayer::Dispose();
}

bool TMusicPlayerClass::IsReady() { return Device && Device->IsReady() && ClockMade; }

void TMusicPlayerClass::SetVolume(float v) {
  FVolume = v;
  std::lock_guard<std::recursive_mutex> guard(Lock);
  for (TChannel* c : Channels) c->SetVolume(v);
}

TTimerChannel* TMusicPlayerClass::GetTimerChannel() {
  if (!Device || !Device->IsReady()) return nullptr;
  if (!TimerChannel) TimerChannel = Device->CreateTimerChannel();
  return TimerChannel;
}

double TMusicPlayerClass::GetClockTime() {
  TTimerChannel* t = IsReady() ? GetTimerChannel() : nullptr;
  if (!t) return 0.0;
  if (!t->IsRunning()) t->Start();
  return static_cast<double>(t->GetTime());
}

TChannel* TMusicPlayerClass::CreateChannel(const std::u16string& name, int32_t positionMs) {
  if (!IsReady()) return nullptr;
  auto* channel = new TChannelMusic(this, name);
  if (!channel->Opened) {
    channel->Player = nullptr;
    channel->Free();
    return nullptr;
  }
  std::lock_guard<std::recursive_mutex> guard(Lock);
  if (FVolume != 1.0f) channel->SetVolume(FVolume);
  if (positionMs != -1) channel->SetPosition(positionMs);
  Channels.push_back(channel);
  return channel;
}

void TMusicPlayerClass::RemoveChannel(TChannel* channel) {
  if (!channel || !Device || !Device->IsReady()) return;
  std::lock_guard<std::recursive_mutex> guard(Lock);
  auto it = std::find(Channels.begin(), Channels.end(), channel);
  if (it == Channels.end()) foundation::QelAssertFail(u"unknown channel (MusicClasses, 205)");
  Channels.erase(it);
}

int32_t TMusicPlayerClass::ChannelCount() {
  std::lock_guard<std::recursive_mutex> guard(Lock);
  return static_cast<int32_t>(Channels.size());
}

TMusicPlayer* CreatePlayer() {
  auto* player = new TMusicPlayerClass;
  if (player->Device && player->Device->IsReady()) {
    try {
      TTimerChannel* probe = player->Device->CreateTimerChannel();
      probe->Free();
    } catch (const foundation::Exception&) {
      // No ring for the clock: the player stays, not ready.
      player->ClockMade = false;
    }
  }
  return player;
}

}  // namespace audio
