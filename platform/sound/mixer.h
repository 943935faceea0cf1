// The mixer core shared by the backends: the device and buffer objects and
// the pass that sums every playing buffer into 44,100 Hz stereo S16. A
// backend calls mixPass from whatever drives its output (the SDL callback, a
// test's advance) and decides how long handed-out frames take to be heard.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/sound/api.h"

namespace platform::sound {

class MixBuffer;

class MixDevice : public SoundDevice {
 public:
  // periodFrames: the most frames one mixer pass takes (the write cursor's
  // lead over what was already read); latency: whether handed-out frames are
  // heard only as the output plays them (SDL) or at once (manual).
  MixDevice(uint32_t periodFrames, bool latency);

  void addRef() override;
  uint32_t release() override;
  HRESULT setCooperativeLevel(uintptr_t window, uint32_t level) override;
  HRESULT createSoundBuffer(const BufferDescription& description, SoundBuffer** buffer) override;

  // One mixer pass: frames of stereo S16 into out (overwritten), at nowMs of
  // the os clock.
  void mixPass(int16_t* out, uint32_t frames, uint64_t nowMs);

  // Run once, after the last release and before the memory goes (the backend
  // stops its output here so no pass runs any more).
  std::function<void()> onClose;

  uint32_t periodFrames() const { return period_; }
  // Before the first pass only (the SDL device learns its period on opening).
  void setPeriodFrames(uint32_t frames) { period_ = frames ? frames : 1; }

 protected:
  ~MixDevice() override = default;

 private:
  friend class MixBuffer;
  std::atomic<uint32_t> refs_{1};
  uint32_t period_;
  bool latency_;
  // Guards the buffer list and every buffer's play state; never held while a
  // client writes into a ring.
  std::mutex mutex_;
  std::vector<MixBuffer*> buffers_;
  // The last pass: when it ran and how many output frames it handed out.
  uint64_t lastPassMs_ = 0;
  uint32_t lastPassFrames_ = 0;
  bool passed_ = false;
  std::vector<int32_t> accum_;
};

class MixBuffer : public SoundBuffer {
 public:
  MixBuffer(MixDevice* device, uint32_t flags, uint32_t bytes, const WaveFormat& format);

  void addRef() override;
  uint32_t release() override;
  HRESULT lock(uint32_t offset, uint32_t count, void** p1, uint32_t* n1, void** p2, uint32_t* n2) override;
  HRESULT unlock(void* p1, uint32_t n1, void* p2, uint32_t n2) override;
  HRESULT play(uint32_t reserved, uint32_t priority, uint32_t flags) override;
  HRESULT stop() override;
  HRESULT setCurrentPosition(uint32_t position) override;
  HRESULT restore() override;
  HRESULT getCurrentPosition(uint32_t* play, uint32_t* write) override;
  HRESULT setVolume(int32_t attenuation) override;
  HRESULT getVolume(int32_t* attenuation) override;

 private:
  friend class MixDevice;
  ~MixBuffer() override = default;
  // Adds frames of this buffer into acc (stereo int32), advancing the read
  // position with wrap. Device mutex held.
  void mixInto(int32_t* acc, uint32_t frames);
  int32_t sampleAt(uint32_t frame, uint32_t channel) const;

  std::atomic<uint32_t> refs_{1};
  MixDevice* device_;
  uint32_t flags_;
  WaveFormat format_;
  std::vector<uint8_t> ring_;
  uint32_t frames_;  // whole frames in the ring
  // Play state, under the device mutex.
  bool playing_ = false;
  uint64_t readFrame_ = 0;   // frames read so far, modulo frames_
  double fraction_ = 0.0;    // rate conversion: position between readFrame_ and the next
  uint32_t lastPassRead_ = 0;  // frames this buffer gave to the last pass
  int32_t attenuation_ = 0;
  double gain_ = 1.0;
  // The whole ring holds zeros (the audio clock's silent ring): it advances
  // with the device but is not summed. Any lock clears it; an unlock of the
  // whole ring finds out again.
  std::atomic<bool> silent_{true};
};

// Test hook state (testing/SoundFaults.h): Play answers BUFFERLOST while this
// count is positive, counting down.
std::atomic<int>& playFailures();

}  // namespace platform::sound
