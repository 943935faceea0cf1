#include <atomic>

#include "platform/os/api.h"
#include "platform/sound/api.h"
#include "platform/sound/mixer.h"

namespace platform::sound {

namespace {

std::atomic<SoundBackend*> gBackend{nullptr};

class NoSound : public SoundBackend {
 public:
  SoundDevice* openDevice() override { return nullptr; }
};

}  // namespace

SoundBackend* noSoundBackend() {
  static NoSound* backend = new NoSound;
  return backend;
}

SoundBackend* setSoundBackend(SoundBackend* backend) { return gBackend.exchange(backend); }

SoundBackend& soundBackend() {
  SoundBackend* b = gBackend.load();
  return b ? *b : *sdlSoundBackend();
}

HRESULT directSoundCreate8(const void*, SoundDevice** device, void*) {
  if (!device) return DSERR_INVALIDPARAM;
  *device = soundBackend().openDevice();
  return *device ? DS_OK : DSERR_NODRIVER;
}

HRESULT directSoundCreate(const void* guid, SoundDevice** device, void* outer) {
  return directSoundCreate8(guid, device, outer);
}

void registerSoundEntries() {
  platform::os::registerOptionalEntry(u"dsound", "DirectSoundCreate8",
                                      reinterpret_cast<void*>(static_cast<DirectSoundCreateEntry>(&directSoundCreate8)));
}

}  // namespace platform::sound
