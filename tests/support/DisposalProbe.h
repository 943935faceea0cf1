// A reference-counted object that counts its disposals, for tests of the
// containers and queues that own objects. Counter is int, or std::atomic<int>
// when another thread may dispose of it.
#pragma once

#include "foundation/SysObj.h"

namespace testsupport {

template <class Counter>
class TDisposalProbe : public foundation::TRefObject {
 public:
  explicit TDisposalProbe(Counter* disposed, int value = 0) : Value(value), FDisposed(disposed) {}
  void Dispose() override {
    ++*FDisposed;
    foundation::TRefObject::Dispose();
  }
  int Value;

 private:
  Counter* FDisposed;
};

}  // namespace testsupport
