// Sound output shaped like the small part of DirectSound the music engine
// uses: a device that makes looping secondary buffers, each a ring of PCM in
// its own format with a play and a write cursor, a volume in hundredths of a
// decibel, and a software mixer that sums every playing buffer into the
// output. Backends: SDL2 audio in callback mode (the callback is the mixer
// pass), a manual mixer that tests advance frame by frame, and none (device
// creation fails, so the show runs silently on the tick clock).
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

namespace platform::sound {

using HRESULT = int32_t;
inline constexpr HRESULT DS_OK = 0;
inline constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);
inline constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
inline constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT DSERR_CONTROLUNAVAIL = static_cast<HRESULT>(0x8878001Eu);
inline constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
inline constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);

inline constexpr uint32_t DSBCAPS_LOCSOFTWARE = 0x8;
inline constexpr uint32_t DSBCAPS_CTRLVOLUME = 0x80;
inline constexpr uint32_t DSBCAPS_GLOBALFOCUS = 0x8000;
inline constexpr uint32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;
inline constexpr uint32_t DSBPLAY_LOOPING = 0x1;
inline constexpr uint32_t DSSCL_PRIORITY = 2;
inline constexpr int32_t DSBVOLUME_MIN = -10000;
inline constexpr int32_t DSBVOLUME_MAX = 0;

// The wave format record (the 18-byte layout of the system's WAVEFORMATEX).
#pragma pack(push, 1)
struct WaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18);

// The description of a secondary buffer: size (40), flags, bytes of the
// ring and its format.
struct BufferDescription {
  uint32_t size = 40;
  uint32_t flags = 0;
  uint32_t bufferBytes = 0;
  const WaveFormat* format = nullptr;
};

// A looping secondary buffer. Counted: the creator holds one reference;
// release() drops one and the last one stops and frees the buffer.
class SoundBuffer {
 public:
  virtual void addRef() = 0;
  virtual uint32_t release() = 0;
  // (p1, n1) from offset to at most the ring's end, (p2, n2) the rest from
  // the ring's start (p2 null when n2 is 0). No lock is held until unlock:
  // the caller writes only bytes the mixer will not read before the next
  // cursor query.
  virtual HRESULT lock(uint32_t offset, uint32_t count, void** p1, uint32_t* n1, void** p2, uint32_t* n2) = 0;
  virtual HRESULT unlock(void* p1, uint32_t n1, void* p2, uint32_t n2) = 0;
  virtual HRESULT play(uint32_t reserved, uint32_t priority, uint32_t flags) = 0;
  virtual HRESULT stop() = 0;
  virtual HRESULT setCurrentPosition(uint32_t position) = 0;
  virtual HRESULT restore() = 0;
  virtual HRESULT getCurrentPosition(uint32_t* play, uint32_t* write) = 0;
  virtual HRESULT setVolume(int32_t attenuation) = 0;
  virtual HRESULT getVolume(int32_t* attenuation) = 0;

 protected:
  virtual ~SoundBuffer() = default;
};

// A device: one per music player. Counted like the buffers; buffers keep
// their device alive.
class SoundDevice {
 public:
  virtual void addRef() = 0;
  virtual uint32_t release() = 0;
  virtual HRESULT setCooperativeLevel(uintptr_t window, uint32_t level) = 0;
  // Formats taken: PCM, 1 or 2 channels, 8 or 16 bits, 100-200,000 Hz, a
  // consistent block align and byte rate, at least 4 bytes and a whole
  // number of blocks. Anything else answers an error and no buffer.
  virtual HRESULT createSoundBuffer(const BufferDescription& description, SoundBuffer** buffer) = 0;

 protected:
  virtual ~SoundDevice() = default;
};

// The device constructors the music engine binds ("dsound" DirectSoundCreate8
// through the os area's optional-entry table, registered by
// registerSoundEntries(); DirectSoundCreate directly). Both fail with
// DSERR_NODRIVER and no device when the installed backend cannot open.
using DirectSoundCreateEntry = HRESULT (*)(const void* deviceGuid, SoundDevice** device, void* outer);
HRESULT directSoundCreate8(const void* deviceGuid, SoundDevice** device, void* outer);
HRESULT directSoundCreate(const void* deviceGuid, SoundDevice** device, void* outer);
void registerSoundEntries();

// The mixer core every backend runs: 44,100 Hz stereo signed 16-bit out.
inline constexpr uint32_t kMixRate = 44100;

// A backend opens devices. Each device mixes its own buffers; a backend
// decides where the mixed frames go and who calls the mixer.
class SoundBackend {
 public:
  virtual ~SoundBackend() = default;
  // A new device with one reference, or nullptr when no output can open.
  virtual SoundDevice* openDevice() = 0;
};

// Installs a backend (nullptr: the SDL2 backend) and answers the previous one
// (nullptr when it was the default). Backends are never destroyed.
SoundBackend* setSoundBackend(SoundBackend* backend);
SoundBackend& soundBackend();
// SDL2 audio in callback mode; its driver follows SDL_AUDIODRIVER (dummy and
// disk in CI). A device fails to open when SDL's audio cannot start.
SoundBackend* sdlSoundBackend();
// No audio: every device creation fails.
SoundBackend* noSoundBackend();
// The manual backend: no thread, no device; see manual/Sound_manual.h.
SoundBackend* manualSoundBackend();

}  // namespace platform::sound
