#include "platform/sound/mixer.h"

#include "platform/os/api.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform::sound {

std::atomic<int>& playFailures() {
  static std::atomic<int> count{0};
  return count;
}

namespace {

bool formatAccepted(const WaveFormat& f, uint32_t bytes) {
  if (f.formatTag != 1) return false;
  if (f.channels != 1 && f.channels != 2) return false;
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16) return false;
  if (f.samplesPerSec < 100 || f.samplesPerSec > 200000) return false;
  if (f.blockAlign != f.channels * f.bitsPerSample / 8) return false;
  if (f.avgBytesPerSec != f.samplesPerSec * f.blockAlign) return false;
  return bytes >= 4 && bytes % f.blockAlign == 0;
}

}  // namespace

// ---------------------------------------------------------------- device

MixDevice::MixDevice(uint32_t periodFrames, bool latency) : period_(std::max<uint32_t>(periodFrames, 1)), latency_(latency) {}

void MixDevice::addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

uint32_t MixDevice::release() {
  uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    if (onClose) onClose();
    delete this;
  }
  return left;
}

HRESULT MixDevice::setCooperativeLevel(uintptr_t, uint32_t) { return DS_OK; }

HRESULT MixDevice::createSoundBuffer(const BufferDescription& d, SoundBuffer** buffer) {
  if (!buffer) return DSERR_INVALIDPARAM;
  *buffer = nullptr;
  if (d.size != 40 || !d.format) return DSERR_INVALIDPARAM;
  if (!formatAccepted(*d.format, d.bufferBytes)) return DSERR_BADFORMAT;
  auto* made = new MixBuffer(this, d.flags, d.bufferBytes, *d.format);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    buffers_.push_back(made);
  }
  *buffer = made;
  return DS_OK;
}

void MixDevice::mixPass(int16_t* out, uint32_t frames, uint64_t nowMs) {
  std::lock_guard<std::mutex> guard(mutex_);
  accum_.assign(static_cast<size_t>(frames) * 2, 0);
  for (MixBuffer* b : buffers_) {
    b->lastPassRead_ = 0;
    if (b->playing_) b->mixInto(accum_.data(), frames);
  }
  for (size_t i = 0; i < accum_.size(); ++i) out[i] = static_cast<int16_t>(std::clamp(accum_[i], -32768, 32767));
  lastPassMs_ = nowMs;
  lastPassFrames_ = frames;
  passed_ = true;
}

// ---------------------------------------------------------------- buffer

MixBuffer::MixBuffer(MixDevice* device, uint32_t flags, uint32_t bytes, const WaveFormat& format)
    : device_(device), flags_(flags), format_(format), ring_(bytes, 0), frames_(bytes / format.blockAlign) {
  silent_ = format.bitsPerSample == 16;  // zero bytes are silence only when signed
  device_->addRef();
}

void MixBuffer::addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

uint32_t MixBuffer::release() {
  uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left == 0) {
    MixDevice* device = device_;
    {
      std::lock_guard<std::mutex> guard(device->mutex_);
      auto& list = device->buffers_;
      list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    delete this;
    device->release();
  }
  return left;
}

HRESULT MixBuffer::lock(uint32_t offset, uint32_t count, void** p1, uint32_t* n1, void** p2, uint32_t* n2) {
  const auto size = static_cast<uint32_t>(ring_.size());
  if (!p1 || !n1 || offset >= size || count > size) return DSERR_INVALIDPARAM;
  uint32_t first = std::min(count, size - offset);
  *p1 = ring_.data() + offset;
  *n1 = first;
  uint32_t second = count - first;
  if (p2) *p2 = second ? ring_.data() : nullptr;
  if (n2) *n2 = second;
  if (second && (!p2 || !n2)) return DSERR_INVALIDPARAM;
  silent_ = false;
  return DS_OK;
}

HRESULT MixBuffer::unlock(void*, uint32_t n1, void*, uint32_t n2) {
  if (static_cast<size_t>(n1) + n2 == ring_.size())
    silent_ = std::all_of(ring_.begin(), ring_.end(), [](uint8_t b) { return b == 0; }) && format_.bitsPerSample == 16;
  return DS_OK;
}

HRESULT MixBuffer::play(uint32_t, uint32_t, uint32_t) {
  std::atomic<int>& failures = playFailures();
  int n = failures.load();
  while (n > 0) {
    if (failures.compare_exchange_weak(n, n - 1)) return DSERR_BUFFERLOST;
  }
  std::lock_guard<std::mutex> guard(device_->mutex_);
  playing_ = true;
  return DS_OK;
}

HRESULT MixBuffer::stop() {
  std::lock_guard<std::mutex> guard(device_->mutex_);
  playing_ = false;
  lastPassRead_ = 0;
  return DS_OK;
}

HRESULT MixBuffer::setCurrentPosition(uint32_t position) {
  if (position >= ring_.size()) return DSERR_INVALIDPARAM;
  std::lock_guard<std::mutex> guard(device_->mutex_);
  readFrame_ = position / format_.blockAlign;
  fraction_ = 0.0;
  lastPassRead_ = 0;
  return DS_OK;
}

HRESULT MixBuffer::restore() { return DS_OK; }

HRESULT MixBuffer::getCurrentPosition(uint32_t* play, uint32_t* write) {
  std::lock_guard<std::mutex> guard(device_->mutex_);
  const uint64_t read = readFrame_;
  uint64_t pending = 0;  // frames taken by the last pass and not heard yet
  if (device_->latency_ && playing_ && device_->passed_ && lastPassRead_ > 0) {
    uint64_t now = platform::os::nowMs();
    uint64_t elapsed = now > device_->lastPassMs_ ? now - device_->lastPassMs_ : 0;
    uint64_t heardOut = elapsed * kMixRate / 1000;
    uint64_t pendingOut = heardOut >= device_->lastPassFrames_ ? 0 : device_->lastPassFrames_ - heardOut;
    pending = std::min<uint64_t>(lastPassRead_, pendingOut * format_.samplesPerSec / kMixRate);
  }
  const uint64_t lead =
      (static_cast<uint64_t>(device_->period_) * format_.samplesPerSec + kMixRate - 1) / kMixRate + 1;
  if (play) *play = static_cast<uint32_t>(((read + frames_ - pending % frames_) % frames_) * format_.blockAlign);
  if (write) *write = static_cast<uint32_t>(((read + lead) % frames_) * format_.blockAlign);
  return DS_OK;
}

HRESULT MixBuffer::setVolume(int32_t attenuation) {
  if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
  if (attenuation < DSBVOLUME_MIN || attenuation > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
  std::lock_guard<std::mutex> guard(device_->mutex_);
  attenuation_ = attenuation;
  gain_ = attenuation <= DSBVOLUME_MIN ? 0.0 : std::pow(10.0, attenuation / 2000.0);
  return DS_OK;
}

HRESULT MixBuffer::getVolume(int32_t* attenuation) {
  if (!(flags_ & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
  if (!attenuation) return DSERR_INVALIDPARAM;
  std::lock_guard<std::mutex> guard(device_->mutex_);
  *attenuation = attenuation_;
  return DS_OK;
}

int32_t MixBuffer::sampleAt(uint32_t frame, uint32_t channel) const {
  const uint8_t* p = ring_.data() + static_cast<size_t>(frame) * format_.blockAlign;
  uint32_t c = format_.channels == 1 ? 0 : channel;
  if (format_.bitsPerSample == 8) return (static_cast<int32_t>(p[c]) - 128) * 256;
  int16_t s;
  std::memcpy(&s, p + 2 * c, 2);
  return s;
}

void MixBuffer::mixInto(int32_t* acc, uint32_t frames) {
  const double gain = gain_;
  uint64_t consumed = 0;
  if (silent_ && format_.samplesPerSec == kMixRate) {
    readFrame_ = (readFrame_ + frames) % frames_;
    lastPassRead_ = std::min(frames, frames_);
    return;
  }
  if (format_.samplesPerSec == kMixRate) {
    uint32_t pos = static_cast<uint32_t>(readFrame_);
    if (gain == 1.0) {
      for (uint32_t i = 0; i < frames; ++i) {
        acc[2 * i] += sampleAt(pos, 0);
        acc[2 * i + 1] += sampleAt(pos, 1);
        if (++pos == frames_) pos = 0;
      }
    } else if (gain > 0.0) {
      for (uint32_t i = 0; i < frames; ++i) {
        acc[2 * i] += static_cast<int32_t>(std::lround(sampleAt(pos, 0) * gain));
        acc[2 * i + 1] += static_cast<int32_t>(std::lround(sampleAt(pos, 1) * gain));
        if (++pos == frames_) pos = 0;
      }
    } else {
      pos = static_cast<uint32_t>((pos + frames) % frames_);
    }
    readFrame_ = pos;
    consumed = frames;
  } else {
    // Linear interpolation between neighbouring frames of the ring.
    const double step = static_cast<double>(format_.samplesPerSec) / kMixRate;
    uint32_t pos = static_cast<uint32_t>(readFrame_);
    double frac = fraction_;
    for (uint32_t i = 0; i < frames; ++i) {
      uint32_t next = pos + 1 == frames_ ? 0 : pos + 1;
      for (uint32_t c = 0; c < 2; ++c) {
        double v = sampleAt(pos, c) * (1.0 - frac) + sampleAt(next, c) * frac;
        acc[2 * i + c] += static_cast<int32_t>(std::lround(v * gain));
      }
      frac += step;
      while (frac >= 1.0) {
        frac -= 1.0;
        pos = pos + 1 == frames_ ? 0 : pos + 1;
        ++consumed;
      }
    }
    readFrame_ = pos;
    fraction_ = frac;
  }
  lastPassRead_ = static_cast<uint32_t>(std::min<uint64_t>(consumed, frames_));
}

}  // namespace platform::sound
