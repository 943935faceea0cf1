// The manual sound backend: no thread and no audio device. A test advances
// the output frame by frame and reads what every open device mixed; the
// cursors move only then, so refills, fades and the audio clock can be
// checked sample by sample. Handed-out frames count as heard at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/sound/api.h"

namespace platform::sound {

class MixDevice;

class ManualSound : public SoundBackend {
 public:
  SoundDevice* openDevice() override;

  // Mixes frames (in passes of at most the period) on every open device and
  // answers the sum: stereo S16 at 44,100 Hz, 2 x frames samples.
  std::vector<int16_t> advance(uint32_t frames);
  // The write cursor's lead: the most frames one pass takes (default 441,
  // 10 ms). Applies to devices opened afterwards.
  void setPeriodFrames(uint32_t frames);
  int openDevices();
  // Frames advanced since the backend was made.
  uint64_t framesAdvanced();

 private:
  // Guards the open devices, the period and the frames advanced.
  std::mutex mutex_;
  std::vector<MixDevice*> devices_;
  uint32_t period_ = 441;
  uint64_t advanced_ = 0;
};

// The process's manual backend (the one manualSoundBackend() answers).
ManualSound& manualSound();

}  // namespace platform::sound
