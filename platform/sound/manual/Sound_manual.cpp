#include "platform/sound/manual/Sound_manual.h"

#include <algorithm>

#include "platform/os/api.h"
#include "platform/sound/mixer.h"

namespace platform::sound {

ManualSound& manualSound() {
  static ManualSound* backend = new ManualSound;
  return *backend;
}

SoundBackend* manualSoundBackend() { return &manualSound(); }

SoundDevice* ManualSound::openDevice() {
  std::lock_guard<std::mutex> guard(mutex_);
  auto* device = new MixDevice(period_, false);
  devices_.push_back(device);
  device->onClose = [this, device] {
    std::lock_guard<std::mutex> g(mutex_);
    devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
  };
  return device;
}

std::vector<int16_t> ManualSound::advance(uint32_t frames) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * 2, 0);
  std::vector<int16_t> pass;
  std::lock_guard<std::mutex> guard(mutex_);
  uint32_t done = 0;
  while (done < frames) {
    uint32_t n = frames - done;
    for (MixDevice* device : devices_) n = std::min(n, device->periodFrames());
    pass.assign(static_cast<size_t>(n) * 2, 0);
    for (MixDevice* device : devices_) {
      std::vector<int16_t> one(static_cast<size_t>(n) * 2);
      device->mixPass(one.data(), n, platform::os::nowMs());
      for (size_t i = 0; i < one.size(); ++i)
        pass[i] = static_cast<int16_t>(std::clamp(pass[i] + one[i], -32768, 32767));
    }
    std::copy(pass.begin(), pass.end(), out.begin() + static_cast<ptrdiff_t>(done) * 2);
    done += n;
  }
  advanced_ += frames;
  return out;
}

void ManualSound::setPeriodFrames(uint32_t frames) {
  std::lock_guard<std::mutex> guard(mutex_);
  period_ = std::max<uint32_t>(frames, 1);
}

int ManualSound::openDevices() {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<int>(devices_.size());
}

uint64_t ManualSound::framesAdvanced() {
  std::lock_guard<std::mutex> guard(mutex_);
  return advanced_;
}

}  // namespace platform::sound
