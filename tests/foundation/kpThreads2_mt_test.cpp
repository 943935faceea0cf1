// Locks, events, mutexes and thread objects with real threads; the dispose
// time-out runs in virtual time.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/SysLock.h"
#include "foundation/kpLog.h"
#include "foundation/kpThreads2.h"
#include "platform/os/manual/Clock_manual.h"

using namespace foundation;
using platform::os::Event;
using platform::os::INFINITE;

namespace {

// A thread whose work is a test's function.
class FnThread : public TThread {
 public:
  explicit FnThread(std::function<void(FnThread&)> fn) : TThread(u"test"), FFn(std::move(fn)) {}
  void Execute() override { FFn(*this); }

 private:
  std::function<void(FnThread&)> FFn;
};

// Keeps the lines written to it.
class LinesLog : public TLog {
 public:
  std::vector<std::u16string> Lines;
  void Output(const std::u16string& line) override { Lines.push_back(line); }
};

}  // namespace

TEST(TThread, RunningStateFollowsTheWorker) {
  Event release;
  Event entered;
  auto t = MakeRef<FnThread>([&](FnThread&) {
    entered.set();
    release.wait(INFINITE);
  });
  EXPECT_FALSE(t->IsRunning()) << "never started";
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->IsRunning());
  entered.wait(INFINITE);
  EXPECT_FALSE(t->Start()) << "a second start while the worker runs";
  EXPECT_FALSE(t->WaitFor(0));
  release.set();
  EXPECT_TRUE(t->WaitForEnd());
  EXPECT_FALSE(t->IsRunning());
  EXPECT_EQ(t->ExitCode(), 0);
}

TEST(TThread, RestartAfterTheEndClearsTerminated) {
  std::atomic<int> runs{0};
  auto t = MakeRef<FnThread>([&](FnThread& self) {
    ++runs;
    while (!self.Terminated()) platform::os::yieldThread();
  });
  ASSERT_TRUE(t->Start());
  t->Terminate();
  ASSERT_TRUE(t->WaitForEnd());
  EXPECT_TRUE(t->Terminated());
  ASSERT_TRUE(t->Start());
  EXPECT_FALSE(t->Terminated());
  EXPECT_TRUE(t->IsRunning());
  t->Terminate();
  ASSERT_TRUE(t->WaitForEnd());
  EXPECT_EQ(runs, 2);
}

TEST(TThread, ExecuteThatRaisesEndsQuietlyWithExitCodeOne) {
  auto t = MakeRef<FnThread>([](FnThread&) { throw EThreadError(); });
  ASSERT_TRUE(t->Start());
  EXPECT_TRUE(t->WaitForEnd());
  EXPECT_FALSE(t->IsRunning());
  EXPECT_EQ(t->ExitCode(), 1);
}

TEST(TThread, IsRunningOnTheWorkerItselfIsTrue) {
  std::atomic<int> seen{-1};
  auto t = MakeRef<FnThread>([&](FnThread& self) { seen = self.IsRunning() ? 1 : 0; });
  ASSERT_TRUE(t->Start());
  t->WaitForEnd();
  EXPECT_EQ(seen, 1);
}

TEST(TThread, DisposeOfAPollingWorkerReturnsWhenItEnds) {
  // Virtual time stands still: Dispose's 3000 ms can only end by the worker
  // ending, however slowly a loaded machine schedules it.
  platform::os::ScopedManualClock clock;
  std::atomic<bool> ended{false};
  auto* t = new FnThread([&](FnThread& self) {
    while (!self.Terminated()) platform::os::yieldThread();
    ended = true;
  });
  ASSERT_TRUE(t->Start());
  t->Free();
  EXPECT_TRUE(ended);
}

namespace {
// Ignores Terminated; keeps its own references so that it never touches its
// object once given up.
class StuckThread : public TThread {
 public:
  StuckThread(std::shared_ptr<Event> entered, std::shared_ptr<Event> release, std::shared_ptr<Event> done)
      : FEntered(std::move(entered)), FRelease(std::move(release)), FDone(std::move(done)) {}
  void Execute() override {
    auto release = FRelease;
    auto done = FDone;
    FEntered->set();
    release->wait(INFINITE);
    // Given up meanwhile: its object must still be there to read.
    if (Terminated()) done->set();
  }

 private:
  std::shared_ptr<Event> FEntered, FRelease, FDone;
};
}  // namespace

TEST(TThread, DisposeGivesUpAWorkerThatIgnoresTerminationAfterTheWait) {
  platform::os::ScopedManualClock clock;
  auto* log = new LinesLog;
  SetLog(log);
  auto release = std::make_shared<Event>();
  auto done = std::make_shared<Event>();
  auto entered = std::make_shared<Event>();
  auto* t = new StuckThread(entered, release, done);
  ASSERT_TRUE(t->Start());
  // Execute runs after the started event: Dispose's wait for that event then
  // returns at once, and the only clock sleeper is the 3000 ms wait for the
  // worker's end (with both waits sleeping in turn, the advance below could
  // land on the first and leave the second waiting for ever).
  entered->wait(INFINITE);
  const uint32_t id = t->ThreadId();
  std::atomic<bool> freed{false};
  std::thread owner([&] {
    t->Free();
    freed = true;
  });
  clock->waitForSleepers(1);
  clock->advance(TThread::DisposeWaitMs - 1);
  EXPECT_FALSE(freed);
  clock->advance(1);
  owner.join();
  EXPECT_TRUE(freed);
  ASSERT_EQ(log->Lines.size(), 1u);
  EXPECT_EQ(log->Lines[0], u"thread " + MessageFromUtf8(std::to_string(id)) + u" did not end in 3000 ms; left running");
  EXPECT_FALSE(done->isSet()) << "the worker was left running";
  release->set();
  EXPECT_TRUE(done->wait(INFINITE));
  SetLog(nullptr);
}

TEST(TThread, PriorityIsKept) {
  Event release;
  auto t = MakeRef<FnThread>([&](FnThread&) { release.wait(INFINITE); });
  ASSERT_TRUE(t->Start());
  t->SetPriority(-1);
  EXPECT_EQ(t->GetPriority(), -1);
  release.set();
}

TEST(TMutex, AbandonedByADeadThreadFailsForEver) {
  auto m = MakeRef<TMutex>();
  std::thread([&] { EXPECT_TRUE(m->Acquire()); }).join();
  bool abandoned = false;
  EXPECT_FALSE(m->WaitFor(0, abandoned));
  EXPECT_TRUE(abandoned);
  EXPECT_TRUE(m->Abandoned());
  // The ownership received with the abandonment was given back.
  std::atomic<bool> otherAbandoned{false};
  std::thread([&] {
    bool a = false;
    m->WaitFor(0, a);
    otherAbandoned = a;
  }).join();
  EXPECT_TRUE(otherAbandoned);
  abandoned = false;
  EXPECT_FALSE(m->WaitFor(INFINITE, abandoned)) << "answers at once";
  EXPECT_TRUE(abandoned);
}

TEST(TMutex, CleanAcquisitionAndRecursion) {
  auto m = MakeRef<TMutex>();
  bool abandoned = true;
  EXPECT_TRUE(m->WaitFor(0, abandoned));
  EXPECT_FALSE(abandoned);
  EXPECT_TRUE(m->Acquire());
  EXPECT_TRUE(m->ReleaseMutex());
  EXPECT_TRUE(m->ReleaseMutex());
  EXPECT_FALSE(m->ReleaseMutex());
}

TEST(TSafeCriticalSection, EntersALockWhoseHolderDiedAndFlagsIt) {
  auto cs = MakeRef<TSafeCriticalSection>();
  std::thread([&] { cs->Enter(); }).join();
  EXPECT_FALSE(cs->Abandoned());
  cs->Enter();
  EXPECT_TRUE(cs->Abandoned());
  EXPECT_TRUE(cs->Leave());
}

TEST(TEvent, WaitForHonoursTheTimeOut) {
  platform::os::ScopedManualClock clock;
  auto e = MakeRef<TEvent>();
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = e->WaitFor(100) ? 1 : 0; });
  clock->waitForSleepers(1);
  clock->advance(100);
  waiter.join();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(e->SetEvent());
  EXPECT_TRUE(e->WaitFor(0));
  EXPECT_TRUE(e->ResetEvent());
  EXPECT_FALSE(e->WaitFor(0));
}

TEST(TInterlockedCounter, IncrementFromManyThreadsGivesEveryValueOnce) {
  auto c = MakeRef<TInterlockedCounter>(1);
  std::vector<std::thread> threads;
  std::atomic<int64_t> sum{0};
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 1000; ++k) sum += c->Increment();
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(c->Value(), 4001);
  EXPECT_EQ(sum, 4001LL * 4002 / 2 - 1);
}

TEST(SysLock, LocksAreRecursiveAndExclusive) {
  TLockHandle lock = nullptr;
  CreateLock(lock);
  ASSERT_NE(lock, nullptr);
  EnterLock(lock);
  EnterLock(lock);
  std::atomic<bool> got{false};
  std::thread other([&] {
    EnterLock(lock);
    got = true;
    LeaveLock(lock);
  });
  LeaveLock(lock);
  EXPECT_FALSE(got);
  LeaveLock(lock);
  other.join();
  EXPECT_TRUE(got);
  TLockHandle none = nullptr;
  EXPECT_THROW(EnterLock(none), EAssertionFailed);
}

TEST(SysLock, HelpersAnswer) {
  EXPECT_GE(GetProcessorCount(), 1u);
  EXPECT_EQ(GetProcessorCount(), GetProcessorCount());
  int a = 1, b = 2, c = 3;
  void* target = &a;
  EXPECT_EQ(CompareExchangePointer(target, &b, &c), &a) << "comparand differs: unchanged";
  EXPECT_EQ(target, &a);
  EXPECT_EQ(CompareExchangePointer(target, &b, &a), &a);
  EXPECT_EQ(target, &b);
  std::atomic<bool> other{true};
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_FALSE(other);
}

TEST(SysLock, ShutdownWaitsForLiveWorkersThenRefusesNewOnes) {
  platform::os::ScopedManualClock clock;
  InitSysLock();
  TLockHandle lock = nullptr;
  CreateLock(lock);
  Event release, running;
  auto t = MakeRef<FnThread>([&](FnThread&) {
    running.set();
    release.wait(INFINITE);
  });
  ASSERT_TRUE(t->Start());
  running.wait(INFINITE);  // counted as live only once its thread procedure began
  const int32_t locks = LockHandleCount();
  std::atomic<int> result{-1};
  std::thread shutdown([&] { result = WaitThreadsAndCloseLocks(100) ? 1 : 0; });
  // The shutdown spins on the clock: keep moving it until it gives up.
  while (result.load() == -1) {
    clock->advance(101);
    platform::os::yieldThread();
  }
  shutdown.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(LockHandleCount(), locks) << "nothing closed after the time-out";
  release.set();
  t->WaitForEnd();
  EXPECT_TRUE(WaitThreadsAndCloseLocks(100));
  EXPECT_EQ(LockHandleCount(), 0);
  std::atomic<bool> ran{false};
  auto late = MakeRef<FnThread>([&](FnThread&) { ran = true; });
  ASSERT_TRUE(late->Start());
  EXPECT_TRUE(late->WaitFor(INFINITE)) << "a thread refused by the shutdown counts as ended";
  EXPECT_FALSE(late->IsRunning());
  EXPECT_FALSE(ran);
  InitSysLock();
}

// Both critical sections are lockable by the standard guards, re-entrantly,
// and exclude other threads while held.
TEST(CriticalSectionGuards, StandardGuardsLockAndExclude) {
  auto cs = TRef<TCriticalSection>::Adopt(new TCriticalSection);
  auto safe = TRef<TSafeCriticalSection>::Adopt(new TSafeCriticalSection);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        std::lock_guard<TCriticalSection> outer(*cs);
        std::unique_lock<TSafeCriticalSection> inner(*safe);
        std::lock_guard<TCriticalSection> again(*cs);  // recursive
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 4 * 5000L);
  EXPECT_FALSE(safe->Abandoned());
}
