#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/SysObj.h"

using namespace foundation;

namespace {

struct Counted : TRefObject {
  std::atomic<int>* disposed;
  explicit Counted(std::atomic<int>* d) : disposed(d) {}
  void Dispose() override {
    disposed->fetch_add(1);
    TRefObject::Dispose();
  }
};

// References taken and released on many threads: the object is disposed of
// exactly once, by whichever thread releases the last reference, and the
// live-object list survives concurrent allocation.
TEST(SysObjThreads, LastReleaseOnAnyThreadDisposesOnce) {
  constexpr int kThreads = 8, kObjects = 200;
  std::atomic<int> disposed{0};
  std::vector<Counted*> objects;
  for (int i = 0; i < kObjects; ++i) {
    auto* o = new Counted(&disposed);
    for (int t = 0; t < kThreads; ++t) o->_AddRef();
    objects.push_back(o);
  }
  const int live = LiveObjectCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (Counted* o : objects) {
        auto* tmp = new Counted(&disposed);  // concurrent list traffic
        o->_AddRef();
        o->_Release();
        o->Free();
        tmp->Free();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(disposed.load(), kThreads * kObjects);  // the temporaries only
  EXPECT_EQ(LiveObjectCount(), live);
  for (Counted* o : objects) o->Free();
  EXPECT_EQ(disposed.load(), kThreads * kObjects + kObjects);
}

}  // namespace
