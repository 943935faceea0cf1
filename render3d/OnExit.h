// A step run when a scope ends, however it ends.
#pragma once

#include <utility>

namespace render3d {

// Runs a step when the scope ends, by return or by exception: the undo of a
// push, a lock or a setting made for the scope, written once. The step must
// not raise.
template <class F>
class TOnExit {
 public:
  explicit TOnExit(F step) : FStep(std::move(step)) {}
  TOnExit(const TOnExit&) = delete;
  TOnExit& operator=(const TOnExit&) = delete;
  ~TOnExit() { FStep(); }

 private:
  F FStep;
};

}  // namespace render3d
