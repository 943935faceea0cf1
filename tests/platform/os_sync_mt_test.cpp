// The os layer's locks, events, threads and clocks, with real threads and
// virtual time.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/os/clock.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/os/process.h"
#include "platform/os/sync.h"
#include "platform/os/threads.h"

using namespace platform::os;

TEST(KernelMutex, RecursiveForItsOwnerAndRefusedToOthers) {
  KernelMutex m;
  EXPECT_EQ(m.wait(0), WaitResult::Signaled);
  EXPECT_EQ(m.wait(0), WaitResult::Signaled);
  std::atomic<int> other{-1};
  std::thread([&] { other = static_cast<int>(m.wait(0)); }).join();
  EXPECT_EQ(other, static_cast<int>(WaitResult::Timeout));
  EXPECT_TRUE(m.release());
  std::thread([&] { other = static_cast<int>(m.wait(0)); }).join();
  EXPECT_EQ(other, static_cast<int>(WaitResult::Timeout)) << "still held once";
  EXPECT_TRUE(m.release());
  EXPECT_FALSE(m.release()) << "not owned any more";
}

TEST(KernelMutex, OwnerThreadEndingAbandonsItOnceThenItIsNormal) {
  KernelMutex m;
  std::thread([&] { EXPECT_EQ(m.wait(INFINITE), WaitResult::Signaled); }).join();
  EXPECT_EQ(m.wait(0), WaitResult::Abandoned);
  EXPECT_TRUE(m.ownedByCaller());
  EXPECT_TRUE(m.release());
  EXPECT_EQ(m.wait(0), WaitResult::Signaled);
  EXPECT_TRUE(m.release());
}

TEST(KernelMutex, TimedWaitEndsWhenVirtualTimePasses) {
  ScopedManualClock clock(1000);
  KernelMutex m;
  Event holding, done;
  std::thread holder([&] {
    m.wait(INFINITE);
    holding.set();
    done.wait(INFINITE);
    m.release();
  });
  holding.wait(INFINITE);
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = static_cast<int>(m.wait(500)); });
  clock->waitForSleepers(1);
  clock->advance(499);
  EXPECT_EQ(result, -1);
  clock->advance(1);
  waiter.join();
  EXPECT_EQ(result, static_cast<int>(WaitResult::Timeout));
  done.set();
  holder.join();
}

TEST(Event, ManualResetReleasesAllWaitersAndStaysSet) {
  Event e(true, false);
  std::atomic<int> woke{0};
  std::thread a([&] { woke += e.wait(INFINITE); });
  std::thread b([&] { woke += e.wait(INFINITE); });
  e.set();
  a.join();
  b.join();
  EXPECT_EQ(woke, 2);
  EXPECT_TRUE(e.wait(0));
  e.reset();
  EXPECT_FALSE(e.wait(0));
}

TEST(Event, AutoResetReleasesOneWait) {
  Event e(false, true);
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0));
}

TEST(Event, TimedWaitUsesTheInstalledClock) {
  ScopedManualClock clock;
  Event e;
  std::atomic<int> result{-1};
  std::thread t([&] { result = e.wait(3000) ? 1 : 0; });
  clock->waitForSleepers(1);
  clock->advance(2999);
  EXPECT_EQ(result, -1);
  clock->advance(1);
  t.join();
  EXPECT_EQ(result, 0);
}

TEST(Event, WaitAnyTakesTheSignalledOneOrTimesOut) {
  ScopedManualClock clock;
  Event stop(true, false), refill(false, false);
  refill.set();
  EXPECT_EQ(waitAny(stop, refill, 100), 1);
  EXPECT_FALSE(refill.isSet()) << "the auto-reset event was consumed";
  stop.set();
  refill.set();
  EXPECT_EQ(waitAny(stop, refill, 0), 0) << "the first wins";
  stop.reset();
  refill.reset();
  std::atomic<int> result{-2};
  std::thread t([&] { result = waitAny(stop, refill, 100); });
  clock->waitForSleepers(1);  // the waiter sleeps on the clock
  clock->advance(99);
  EXPECT_EQ(result, -2);
  clock->advance(1);
  t.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(clock->sleepers(), 0);
}

TEST(Event, WaitAnyWakesWhenEitherEventIsSetWithoutTimePassing) {
  ScopedManualClock clock;
  for (int which = 0; which < 2; ++which) {
    Event stop(true, false), refill(false, false);
    std::atomic<int> result{-2};
    std::thread t([&] { result = waitAny(stop, refill, 1000); });
    clock->waitForSleepers(1);
    (which == 0 ? stop : refill).set();
    t.join();  // the virtual time never moved: only the event can have woken it
    EXPECT_EQ(result, which);
    EXPECT_EQ(clock->nowMs(), 0u);
    EXPECT_EQ(stop.isSet(), which == 0) << "a manual-reset event stays set";
    EXPECT_FALSE(refill.isSet()) << "an auto-reset event is consumed";
  }
}

TEST(Event, WaitAnyWithoutLimitTakesEveryHandOff) {
  // Many hand-offs between two threads on the real clock: a lost wake-up
  // would leave the waiter blocked for good (the test then times out).
  Event stop(true, false), refill(false, false), taken(false, false);
  std::atomic<int> count{0};
  std::thread t([&] {
    while (waitAny(stop, refill, INFINITE) == 1) {
      ++count;
      taken.set();
    }
  });
  for (int i = 0; i < 2000; ++i) {
    refill.set();
    taken.wait(INFINITE);
  }
  stop.set();
  t.join();
  EXPECT_EQ(count, 2000);
}

TEST(ManualClock, SleepReturnsWhenTimeIsAdvancedAndTheTimerWraps) {
  ScopedManualClock clock(4294967290ull);
  EXPECT_EQ(timeGetTime(), 4294967290u);
  std::atomic<bool> woke{false};
  std::thread t([&] {
    sleepMs(11);
    woke = true;
  });
  clock->waitForSleepers(1);
  clock->advance(10);
  EXPECT_FALSE(woke);
  clock->advance(1);
  t.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(timeGetTime(), 5u);
  EXPECT_EQ(nowMs(), 4294967301ull);
}

TEST(RealClock, AdvancesAndSleeps) {
  uint64_t a = nowMs();
  sleepMs(2);
  EXPECT_GE(nowMs(), a + 2);
}

namespace {
int setFlag(void* p) {
  static_cast<std::atomic<int>*>(p)->store(1);
  return 7;
}
}  // namespace

TEST(Threads, StartRunsTheProcedureAndReportsItsId) {
  std::atomic<int> flag{0};
  ThreadId id = 0;
  ThreadHandle h = startThread(setFlag, &flag, &id);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, currentThreadId());
  EXPECT_EQ(threadIdOf(h), id);
  while (!threadEnded(h)) yieldThread();
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(threadExitCode(h), 7);
  EXPECT_TRUE(setThreadPriority(h, 1));
  EXPECT_EQ(getThreadPriority(h), 1);
  closeThreadHandle(h);
}

TEST(Threads, MainThreadAndProcessorCount) {
  EXPECT_TRUE(isMainThread());
  std::atomic<bool> other{true};
  std::thread([&] { other = isMainThread(); }).join();
  EXPECT_FALSE(other);
  EXPECT_GE(processorCount(), 1u);
}

TEST(NamedMutex, SecondHandleWaitsUntilTheFirstIsGone) {
  const std::string name = "qel-test-" + std::to_string(currentThreadId()) + "/x";
  NamedMutex first = openOrCreateNamedMutex(name);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(namedMutexOwned(first));
  EXPECT_EQ(tryTakeNamedMutex(first), WaitResult::Signaled);
  NamedMutex second = openOrCreateNamedMutex(name);
  ASSERT_NE(second, nullptr);
  EXPECT_FALSE(namedMutexOwned(second));
  EXPECT_EQ(tryTakeNamedMutex(second), WaitResult::Timeout);
  closeNamedMutex(first);
  EXPECT_EQ(tryTakeNamedMutex(second), WaitResult::Abandoned);
  EXPECT_EQ(tryTakeNamedMutex(second), WaitResult::Signaled);
  std::string path = namedMutexPath(name);
  closeNamedMutex(second);
  EXPECT_EQ(path.find('/', path.rfind("qel-test-")), std::string::npos) << "the / of the name is replaced";
  std::remove(path.c_str());
}
