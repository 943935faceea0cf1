// Monitors, active monitors and post boxes with real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "foundation/kvMonitors.h"
#include "tests/support/DisposalProbe.h"

using namespace foundation;
using platform::os::Event;
using platform::os::INFINITE;

namespace {

// Records its disposal and the thread it happened on.
using Tracked = testsupport::TDisposalProbe<std::atomic<int>>;

// An active monitor whose method is a test's function.
class FnMonitor : public TActiveMonitor {
 public:
  std::function<void(FnMonitor&)> Fn;
  std::atomic<int>* Disposed = nullptr;
  std::atomic<uint32_t>* DisposeThread = nullptr;
  void Work() { Fn(*this); }
  bool RunWork(bool hold) { return Run(MethodOf<&FnMonitor::Work>(this), hold); }
  void Dispose() override {
    if (Disposed) ++*Disposed;
    if (DisposeThread) *DisposeThread = platform::os::currentThreadId();
    TActiveMonitor::Dispose();
  }
};

class ListBox : public TPostBox {
 public:
  std::vector<int32_t> Ids;
  int Closes = 0;
  bool Refuse = false;
  void Dispose() override {
    for (TRefObject* item : Items) item->Free();
    TPostBox::Dispose();
  }
  std::vector<TRefObject*> Items;

 protected:
  bool DoPost(int32_t id, TRefObject* item) override {
    if (Refuse) return false;
    Ids.push_back(id);
    Items.push_back(item);
    return true;
  }
  void DoClose() override { ++Closes; }
  bool DoSend(int32_t, TRefObject*) override { return false; }
};

}  // namespace

TEST(TMonitor, WaitGivesUpEveryLevelAndRestoresThem) {
  auto m = MakeRef<TMonitor>();
  m->Lock();
  m->Lock();
  std::atomic<bool> otherLocked{false};
  std::thread other([&] {
    m->Lock();
    otherLocked = true;
    m->Unlock();
  });
  m->Wait();  // only another thread's lock ends it
  EXPECT_TRUE(otherLocked);
  EXPECT_EQ(m->Depth(), 2);
  other.join();
  m->Unlock();
  std::atomic<bool> stillHeld{true};
  std::thread probe([&] {
    // The monitor is held once more: this lock waits until the last unlock.
    m->Lock();
    stillHeld = false;
    m->Unlock();
  });
  m->Unlock();
  probe.join();
  EXPECT_FALSE(stillHeld);
}

TEST(TActiveMonitor, AcquireWithHoldMonitorWaitsForTheMethodToReturn) {
  Event entered, release;
  std::atomic<bool> methodDone{false};
  auto m = MakeRef<FnMonitor>();
  m->Fn = [&](FnMonitor&) {
    entered.set();
    release.wait(INFINITE);
    methodDone = true;
  };
  ASSERT_TRUE(m->RunWork(true));
  std::atomic<int> doneWhenAcquired{-1};
  std::thread owner([&] {
    m->Acquire();
    doneWhenAcquired = methodDone ? 1 : 0;
    m->Unlock();
  });
  entered.wait(INFINITE);
  EXPECT_EQ(doneWhenAcquired, -1);
  release.set();
  owner.join();
  EXPECT_EQ(doneWhenAcquired, 1);
  m->WaitFinished();
  EXPECT_EQ(m->State(), 3);
}

TEST(TActiveMonitor, AcquireWithoutHoldMonitorReturnsWhileTheMethodRuns) {
  Event release;
  auto m = MakeRef<FnMonitor>();
  m->Fn = [&](FnMonitor&) { release.wait(INFINITE); };
  ASSERT_TRUE(m->RunWork(false));
  m->Acquire();
  EXPECT_EQ(m->State(), 2);
  m->Unlock();
  EXPECT_FALSE(m->RunWork(false)) << "a monitor runs its worker once";
  release.set();
  m->WaitFinished();
  EXPECT_EQ(m->State(), 3);
}

TEST(TActiveMonitor, MethodPollsTerminateAndWaitsOnTheMonitor) {
  auto m = MakeRef<FnMonitor>();
  std::atomic<int> wakes{0};
  m->Fn = [&](FnMonitor& self) {
    self.Acquire();
    while (!self.TerminateRequested()) {
      self.Wait();
      ++wakes;
    }
    self.Unlock();
  };
  ASSERT_TRUE(m->RunWork(false));
  m->Terminate();
  m->WaitFinished();
  EXPECT_EQ(m->State(), 3);
}

TEST(TActiveMonitor, WaitFinishedOnAMonitorThatNeverRanReturns) {
  auto m = MakeRef<FnMonitor>();
  m->WaitFinished();
  EXPECT_EQ(m->State(), 0);
}

TEST(TActiveMonitor, AMethodThatRaisesStillFinishes) {
  auto m = MakeRef<FnMonitor>();
  m->Fn = [](FnMonitor&) { throw EThreadError(); };
  ASSERT_TRUE(m->RunWork(true));
  m->WaitFinished();
  EXPECT_EQ(m->State(), 3);
}

TEST(TActiveMonitor, OwnerMayLetGoFirstTheWorkerDisposesOfTheMonitor) {
  std::atomic<int> disposed{0};
  std::atomic<uint32_t> disposeThread{0};
  Event release;
  auto* m = new FnMonitor;
  m->Disposed = &disposed;
  m->DisposeThread = &disposeThread;
  m->Fn = [&](FnMonitor&) { release.wait(INFINITE); };
  ASSERT_TRUE(m->RunWork(false));
  EXPECT_EQ(RunningActiveThreads(), 1);
  m->Free();
  EXPECT_EQ(disposed, 0) << "the worker's reference keeps it";
  release.set();
  EXPECT_EQ(WaitActiveThreads(10000), 0);
  EXPECT_EQ(disposed, 1);
  EXPECT_NE(disposeThread, platform::os::currentThreadId());
}

TEST(TActiveMonitor, RunWithoutMethodIsAnAssertion) {
  auto m = MakeRef<FnMonitor>();
  EXPECT_THROW(m->Run(TActiveMethod{}, false), EAssertionFailed);
}

TEST(TPostBox, PostsUntilClosedThenReleasesRefusedItems) {
  std::atomic<int> disposed{0};
  auto box = MakeRef<ListBox>();
  EXPECT_TRUE(box->Post(1, new Tracked(&disposed)));
  box->Refuse = true;
  EXPECT_FALSE(box->Post(2, new Tracked(&disposed)));
  EXPECT_EQ(disposed, 1) << "a refused item is released before Post returns";
  box->Refuse = false;
  box->Close();
  box->Close();
  EXPECT_EQ(box->Closes, 1);
  EXPECT_FALSE(box->Post(3, new Tracked(&disposed)));
  EXPECT_EQ(disposed, 2);
  EXPECT_EQ(box->Ids, std::vector<int32_t>{1});
}
