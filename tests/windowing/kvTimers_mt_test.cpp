// Timers: the thread timer's worker on the manual clock and on the real
// clock, the multi-timer's catching up, interval and next due time under
// jittered ticks, raising callbacks, and the timer slots.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "WindowingFixture.h"
#include "foundation/TickClock.h"
#include "platform/os/manual/Clock_manual.h"

using namespace windowing;
using windowing_test::AppTest;
namespace pw = platform::window;

namespace {

// A timer the test ticks by hand.
class FakeTimer : public TCustomTimer {
 public:
  QEL_CLASSNAME(FakeTimer)
  void Tick() { FOnTimer(this); }
  std::vector<uint32_t> intervals;
  void Changed() override { intervals.push_back(FInterval); }
};
FakeTimer* g_fake = nullptr;
TCustomTimer* MakeFake() { return g_fake = new FakeTimer; }

struct Calls {
  std::vector<std::tuple<uint32_t, int32_t, int32_t>> seen;  // param, ticks, missed
  TMultiTimerEvent* removeOnCall = nullptr;
  TMultiTimerEvent** removeHandle = nullptr;
  bool raise = false;
  void On(foundation::TRefObject* sender) {
    auto* e = static_cast<TMultiTimerEvent*>(sender);
    seen.emplace_back(e->Param, e->Ticks, e->Missed);
    if (removeHandle && *removeHandle == e) RemoveTimer(*removeHandle);
    if (raise) throw foundation::Exception(u"callback failed");
  }
};

class MultiTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = TimerFactory;
    TimerFactory = &MakeFake;
  }
  void TearDown() override {
    DoneTimers();
    TimerFactory = previous;
  }
  TTimerFactory previous = nullptr;
  platform::os::ScopedManualClock clock{100000};
  void At(uint64_t ms) { clock->set(100000 + ms); }
};

TEST_F(MultiTimerTest, ALateTickCatchesUpOnceCountingTheMissedPeriods) {
  Calls c;
  At(0);
  TMultiTimerEvent* h = AddTimer(foundation::MethodOf<&Calls::On>(&c), 100, 7);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(g_fake->Interval(), 100u);
  EXPECT_TRUE(g_fake->Enabled());
  At(350);
  g_fake->Tick();
  ASSERT_EQ(c.seen.size(), 1u);
  EXPECT_EQ(c.seen[0], std::make_tuple(7u, 3, 2));
  // Still on the 100 ms grid of its start.
  EXPECT_EQ(h->NextDue - h->StartTime, 400u);
  At(399);
  g_fake->Tick();
  EXPECT_EQ(c.seen.size(), 1u);
  RemoveTimer(h);
  EXPECT_EQ(h, nullptr);
  EXPECT_FALSE(g_fake->Enabled());
}

TEST_F(MultiTimerTest, JitteredTicksLeaveTheIntervalAtTheSmallestEventInterval) {
  Calls c;
  At(0);
  TMultiTimerEvent* a = AddTimer(foundation::MethodOf<&Calls::On>(&c), 100, 1);
  TMultiTimerEvent* b = AddTimer(foundation::MethodOf<&Calls::On>(&c), 250, 2);
  // Wake-ups a few ms early or late, as a loaded machine gives them.
  const int jitter[] = {3, -2, 5, 1, -4, 7, 0, 2, -1, 6};
  uint64_t t = 0;
  for (int i = 0; i < 40; ++i) {
    t += 100 + jitter[i % 10];
    At(t);
    g_fake->Tick();
    ASSERT_GE(g_fake->Interval(), 100u) << "tick " << i;
  }
  EXPECT_EQ(g_fake->Interval(), 100u);
  RemoveTimer(a);
  RemoveTimer(b);
}

TEST_F(MultiTimerTest, AnEventAddedAfterTheFirstPeriodStartsOnTime) {
  Calls c;
  At(0);
  const auto base = static_cast<uint32_t>(foundation::GetTickMs());
  TMultiTimerEvent* slow = AddTimer(foundation::MethodOf<&Calls::On>(&c), 1000, 1);
  At(1000);
  g_fake->Tick();
  EXPECT_EQ(GetMultiTimer()->NextDue(), static_cast<int32_t>(base + 2000));
  At(1500);
  TMultiTimerEvent* fast = AddTimer(foundation::MethodOf<&Calls::On>(&c), 50, 2);
  EXPECT_EQ(g_fake->Interval(), 50u) << "brought down at once";
  EXPECT_EQ(GetMultiTimer()->NextDue(), static_cast<int32_t>(base + 1550));
  At(1550);
  g_fake->Tick();
  ASSERT_EQ(c.seen.size(), 2u);
  EXPECT_EQ(std::get<0>(c.seen[1]), 2u);
  RemoveTimer(fast);
  EXPECT_EQ(g_fake->Interval(), 50u) << "never raised again";
  RemoveTimer(slow);
}

TEST_F(MultiTimerTest, RemovingAnEventInItsOwnCallbackStillServesTheNext) {
  Calls c;
  At(0);
  TMultiTimerEvent* a = AddTimer(foundation::MethodOf<&Calls::On>(&c), 100, 1);
  TMultiTimerEvent* b = AddTimer(foundation::MethodOf<&Calls::On>(&c), 100, 2);
  c.removeHandle = &a;
  At(100);
  g_fake->Tick();
  EXPECT_EQ(a, nullptr);
  ASSERT_EQ(c.seen.size(), 2u);
  EXPECT_EQ(std::get<0>(c.seen[1]), 2u);
  EXPECT_EQ(GetMultiTimer()->EventCount(), 1);
  RemoveTimer(b);
}

TEST_F(MultiTimerTest, ARaisingCallbackReleasesItsEventAndTheOthersStillRun) {
  Calls bad, good;
  bad.raise = true;
  At(0);
  TMultiTimerEvent* a = AddTimer(foundation::MethodOf<&Calls::On>(&bad), 100, 1);
  TMultiTimerEvent* b = AddTimer(foundation::MethodOf<&Calls::On>(&good), 100, 2);
  At(100);
  EXPECT_THROW(g_fake->Tick(), foundation::Exception);
  EXPECT_EQ(good.seen.size(), 1u);
  EXPECT_EQ(a->UseCount, 1) << "the tick's own use was dropped";
  RemoveTimer(a);
  EXPECT_EQ(GetMultiTimer()->EventCount(), 1);
  RemoveTimer(b);
  EXPECT_EQ(GetMultiTimer()->EventCount(), 0);
}

TEST_F(MultiTimerTest, SlotsStartStopAndRestart) {
  Calls c;
  At(0);
  const auto base = static_cast<uint32_t>(foundation::GetTickMs());
  TTimerRec slot;
  slot.Callback = foundation::MethodOf<&Calls::On>(&c);
  SetTimerEnabled(slot, true);
  EXPECT_FALSE(IsTimerActive(slot)) << "an interval of 0 leaves it stopped";
  slot.Interval = 100;
  SetTimerEnabled(slot, true);
  ASSERT_TRUE(IsTimerActive(slot));
  TMultiTimerEvent* before = slot.Handle;
  SetTimerInterval(slot, 100);
  EXPECT_EQ(slot.Handle, before) << "the same interval changes nothing";
  At(30);
  SetTimerInterval(slot, 200);
  ASSERT_TRUE(IsTimerActive(slot));
  EXPECT_EQ(slot.Handle->Interval, 200u);
  EXPECT_EQ(slot.Handle->StartTime, base + 30);
  StopTimer(slot);
  EXPECT_FALSE(IsTimerActive(slot));
  EXPECT_EQ(AddTimer(foundation::MethodOf<&Calls::On>(&c), 0, 0), nullptr);
  EXPECT_EQ(AddTimer(TNotifyEvent{}, 10, 0), nullptr);
}

// ---- thread timers through the application ----

struct Ticks {
  std::atomic<int> n{0};
  int raiseOn = -1;
  int stopAfter = -1;
  TApplication* app = nullptr;
  void On(foundation::TRefObject*) {
    const int k = ++n;
    if (k == stopAfter) app->Terminate();
    if (k == raiseOn) throw foundation::Exception(u"tick failed");
  }
};

TEST_F(AppTest, AThreadTimerTicksOnTheMainThreadInVirtualTimeAndSurvivesARaisingHandler) {
  platform::os::ScopedManualClock clock(5000);
  Ticks t;
  t.app = app;
  t.raiseOn = 1;
  t.stopAfter = 3;
  auto* timer = new TThreadTimer(app, 0, -1);
  timer->SetOnTimer(foundation::MethodOf<&Ticks::On>(&t));
  timer->SetInterval(100);
  timer->SetEnabled(true);
  std::thread driver([&] {
    // Each period: wait until the worker sleeps on its period, then pass it.
    // The handler has run and its pending flag is clear before the next
    // period passes; after the last one the timer may already be gone.
    for (int i = 0; i < 3; ++i) {
      clock->waitForSleepers(1);
      clock->advance(100);
      while (t.n <= i || (i < 2 && timer->TickPending())) platform::os::yieldThread();
    }
  });
  app->Run();
  driver.join();
  EXPECT_EQ(t.n, 3) << "the raising handler did not stop the timer";
  EXPECT_FALSE(timer->HasWorker()) << "the loop's end stopped it";
  timer->Free();
}

TEST_F(AppTest, TicksDoNotPileUpWhileOneIsPending) {
  platform::os::ScopedManualClock clock(5000);
  Ticks t;
  auto* timer = new TThreadTimer(app, -1, -1);
  timer->SetOnTimer(foundation::MethodOf<&Ticks::On>(&t));
  timer->SetInterval(100);
  timer->SetEnabled(true);
  for (int i = 0; i < 5; ++i) {
    clock->waitForSleepers(1);
    clock->advance(100);
  }
  while (!timer->TickPending()) platform::os::yieldThread();
  clock->waitForSleepers(1);
  EXPECT_EQ(app->QueuedCount(), 1) << "five periods, one pending tick";
  app->ProcessMessages();
  EXPECT_EQ(t.n, 1);
  EXPECT_FALSE(timer->TickPending());
  timer->Free();
}

TEST_F(AppTest, OnTheRealClockTheMultiTimerKeepsItsIntervalAndServesEveryEvent) {
  Calls c;
  Ticks stop;
  stop.app = app;
  stop.stopAfter = 1;
  TMultiTimerEvent* a = AddTimer(foundation::MethodOf<&Calls::On>(&c), 20, 1);
  TMultiTimerEvent* b = AddTimer(foundation::MethodOf<&Calls::On>(&c), 30, 2);
  TMultiTimerEvent* end = AddTimer(foundation::MethodOf<&Ticks::On>(&stop), 250, 3);
  app->Run();
  const uint32_t interval = GetMultiTimer()->Timer()->Interval();
  int fromA = 0, fromB = 0;
  for (auto& [param, ticks, missed] : c.seen) (param == 1 ? fromA : fromB)++;
  RemoveTimer(a);
  RemoveTimer(b);
  RemoveTimer(end);
  DoneTimers();
  EXPECT_EQ(interval, 20u) << "jitter never lowers the interval below the smallest event";
  EXPECT_GE(fromA, 3);
  EXPECT_GE(fromB, 2);
}

}  // namespace
