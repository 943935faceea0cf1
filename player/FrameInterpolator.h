// Smooths the show clock. The clock the show runs on comes from the audio
// device and moves in steps of its buffer granularity, not once per frame;
// drawn as it is, motion judders. The interpolator predicts each frame's
// time from the mean advance of the last frames and pulls the prediction a
// sixth of the way towards the raw reading.
#pragma once

#include <array>
#include <cstdint>

#include "foundation/SysObj.h"

namespace player {

class TFrameInterpolator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFrameInterpolator)
  // Readings passed through unchanged after creation.
  static constexpr int32_t kWarmUp = 16;
  // The frame-to-frame differences the mean is taken over.
  static constexpr int32_t kRing = 32;

  TFrameInterpolator() = default;

  // True stops smoothing (readings pass through, nothing is recorded);
  // false, when suspended, resumes it after the next reading, which still
  // passes through and becomes the base of the next difference.
  void SetSuspended(bool flag);
  // The smoothed value for the raw reading x. Constant time, no allocation.
  double Smooth(double x);

  double Output() const { return output_; }
  bool Suspended() const { return suspended_; }

 private:
  double output_ = 0;
  int32_t warmUp_ = kWarmUp;
  double lastInput_ = 0;
  std::array<double, kRing> deltas_{};
  int32_t samples_ = 0;  // keeps counting past kRing
  int32_t ringIndex_ = 0;
  double deltaSum_ = 0;
  bool suspended_ = false;
  bool resumePending_ = false;
};

}  // namespace player
