#include "player/FrameInterpolator.h"

namespace player {

void TFrameInterpolator::SetSuspended(bool flag) {
  if (flag) {
    suspended_ = true;
    resumePending_ = false;
  } else if (suspended_) {
    resumePending_ = true;
  }
}

double TFrameInterpolator::Smooth(double x) {
  if (suspended_ || warmUp_ > 0) {
    // The warm-up counts only readings taken while running.
    if (!suspended_) --warmUp_;
    output_ = x;
  } else {
    // Samples stops short of overflowing: past the ring size only "more
    // than a ring" matters.
    if (samples_ <= kRing) ++samples_;
    if (samples_ > kRing) deltaSum_ -= deltas_[static_cast<size_t>(ringIndex_)];
    const double d = x - lastInput_;
    deltaSum_ += d;
    deltas_[static_cast<size_t>(ringIndex_)] = d;
    ringIndex_ = (ringIndex_ + 1) % kRing;
    if (samples_ > kRing) {
      // The previous output advanced by the mean difference, then pulled a
      // sixth of the way towards the raw reading.
      const double p = output_ + deltaSum_ / kRing;
      output_ = p + (x - p) / 6;
    } else {
      output_ = x;
    }
  }
  lastInput_ = x;
  if (resumePending_) {
    resumePending_ = false;
    suspended_ = false;
  }
  return output_;
}

}  // namespace player
