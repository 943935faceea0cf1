// The SDL2 backend: one SDL audio device in callback mode per sound device;
// the callback is the mixer pass. SDL converts 44,100 Hz stereo S16 to
// whatever the driver takes (dummy and disk in CI).
#include <SDL.h>

#include <cstdio>
#include <mutex>

#include "platform/os/api.h"
#include "platform/sound/api.h"
#include "platform/sound/mixer.h"

namespace platform::sound {

namespace {

void mixCallback(void* user, Uint8* stream, int len) {
  auto* device = static_cast<MixDevice*>(user);
  device->mixPass(reinterpret_cast<int16_t*>(stream), static_cast<uint32_t>(len) / 4, platform::os::nowMs());
}

class SdlSound : public SoundBackend {
 public:
  SoundDevice* openDevice() override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (!started_) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
          std::fprintf(stderr, "sound: SDL audio cannot start: %s\n", SDL_GetError());
          return nullptr;
        }
        started_ = true;
      }
    }
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(kMixRate);
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 512;
    want.callback = &mixCallback;
    SDL_AudioSpec have{};
    // The device's period is known only once it is open; the mixer must
    // exist before the callback can run, so the device starts paused.
    auto* device = new MixDevice(1024, true);
    want.userdata = device;
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0) {
      std::fprintf(stderr, "sound: no SDL audio device: %s\n", SDL_GetError());
      device->release();
      return nullptr;
    }
    device->setPeriodFrames(have.samples);
    device->onClose = [id] { SDL_CloseAudioDevice(id); };
    SDL_PauseAudioDevice(id, 0);
    return device;
  }

 private:
  std::mutex mutex_;
  bool started_ = false;
};

}  // namespace

SoundBackend* sdlSoundBackend() {
  static SdlSound* backend = new SdlSound;
  return backend;
}

}  // namespace platform::sound
