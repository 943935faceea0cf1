#include "player/MouseMonitor.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/kpExceptions.h"

using foundation::MakeRef;
using foundation::TRef;
using player::TMonitoredForm;
using player::TMouseMonitor;
using player::TMouseMoveDetector;

namespace {

struct Clock {
  int64_t now = 0;
  player::TMsClock fn() {
    return [this] { return now; };
  }
};

// A window at screen (1000, 500) with a 100 x 100 client area.
class FakeForm : public TMonitoredForm {
 public:
  bool HasForm() override { return true; }
  bool GetCursorPos(int32_t& x, int32_t& y) override {
    x = cx;
    y = cy;
    return true;
  }
  void ScreenToClient(int32_t& x, int32_t& y) override {
    x -= 1000;
    y -= 500;
  }
  foundation::TRect GetClientRect() override { return {0, 0, 100, 100}; }
  bool StateQuery() override { return busy; }
  void Subscribe(TMouseMonitor* m) override { subscribers.push_back(m); }
  void Unsubscribe(TMouseMonitor* m) override { std::erase(subscribers, m); }
  void SetHoverTimer(bool running) override { timerCalls.push_back(running); }

  int32_t cx = 1050, cy = 550;
  bool busy = false;
  std::vector<TMouseMonitor*> subscribers;
  std::vector<bool> timerCalls;
};

struct Recorder {
  std::vector<std::string> events;
  static void Enter(void* d, TMouseMonitor*) { static_cast<Recorder*>(d)->events.push_back("enter"); }
  static void Leave(void* d, TMouseMonitor*) { static_cast<Recorder*>(d)->events.push_back("leave"); }
  static void Click(void* d, TMouseMonitor*) { static_cast<Recorder*>(d)->events.push_back("click"); }
  static void Hidden(void* d, TMouseMonitor* m) {
    static_cast<Recorder*>(d)->events.push_back(m->Hidden ? "hidden" : "shown");
  }
  static void Activate(void* d, TMouseMonitor*, bool a) {
    static_cast<Recorder*>(d)->events.push_back(a ? "active" : "inactive");
  }
  TMouseMonitor::TNotify notify(void (*f)(void*, TMouseMonitor*)) { return {f, this}; }
};

void MoveTo(FakeForm* f, TMouseMonitor* m, int32_t x, int32_t y) {
  f->cx = x;
  f->cy = y;
  m->HandleEvent(player::mmeMouseMoved);
}

}  // namespace

TEST(MouseMoveDetector, CountsOnlyMovesOfMoreThanFivePixels) {
  Clock clock;
  auto d = MakeRef<TMouseMoveDetector>(clock.fn());
  struct Step {
    int32_t x, y;
    bool moved;
    int32_t count;
  };
  // Distances are Manhattan distances from the last counted point.
  const Step table[] = {
      {100, 100, false, 1}, {105, 100, false, 1}, {97, 98, false, 1},   {103, 103, true, 2},
      {103, 97, true, 3},   {100, 100, true, 4},  {102, 102, false, 4}, {2147483647, 2147483647, false, 4},
      {101, 101, false, 4}, {94, 100, true, 5},
  };
  for (const Step& s : table) {
    clock.now += 10;
    EXPECT_EQ(d->Moved(s.x, s.y), s.moved) << s.x << "," << s.y;
    EXPECT_EQ(d->Count, s.count) << s.x << "," << s.y;
  }
  EXPECT_EQ(d->X, 94);
  EXPECT_EQ(d->LastMoveTime, 100);
}

TEST(MouseMoveDetector, FarCoordinatesAreMeasuredIn64Bits) {
  auto d = MakeRef<TMouseMoveDetector>();
  EXPECT_FALSE(d->Moved(-2147483647, -2147483647));
  EXPECT_TRUE(d->Moved(2147483646, 2147483646));
  EXPECT_TRUE(d->Moved(-2147483648, 0));
  EXPECT_EQ(d->Count, 3);
}

TEST(MouseMoveDetector, LeavePositionSurvivesTheConversionsAsNoPosition) {
  EXPECT_EQ(player::SaturateMouseCoordinate(2147483647.0), 2147483647);
  EXPECT_EQ(player::SaturateMouseCoordinate(1e12), 2147483647);
  EXPECT_EQ(player::SaturateMouseCoordinate(-1e12), INT32_MIN);
  EXPECT_EQ(player::SaturateMouseCoordinate(std::nan("")), 2147483647);
  EXPECT_EQ(player::SaturateMouseCoordinate(-12.75), -12);
}

TEST(MouseMoveDetector, IdleWatch) {
  Clock clock;
  clock.now = 10000;
  auto d = MakeRef<TMouseMoveDetector>(clock.fn());
  d->IdleInterval = 1000;
  d->SetIdleWatch(true);
  EXPECT_TRUE(d->IsIdle());  // idle at once
  d->Moved(0, 0);
  d->Moved(50, 0);  // a real move at 10000
  clock.now = 11000;
  EXPECT_FALSE(d->IsIdle());
  clock.now = 11001;
  EXPECT_TRUE(d->IsIdle());
  d->SetIdleWatch(false);
  clock.now = 20000;
  EXPECT_FALSE(d->IsIdle());  // the reset flag restarts the idle time now
  clock.now = 21001;
  EXPECT_TRUE(d->IsIdle());
}

TEST(MouseMonitor, HidesAfterTheIntervalAndComesBackAtAFivePixelMove) {
  Clock clock;
  auto form = MakeRef<FakeForm>();
  Recorder rec;
  auto m = MakeRef<TMouseMonitor>(form.Get(), false, clock.fn());
  m->OnHiddenChanged = rec.notify(&Recorder::Hidden);
  m->SetHideInterval(3000);  // resets the idle time at 0, LastPoint (1050, 550)
  clock.now = 3000;
  m->Check();
  EXPECT_FALSE(m->Hidden);
  clock.now = 3001;
  m->Check();
  EXPECT_TRUE(m->Hidden);
  MoveTo(form.Get(), m.Get(), 1054, 546);  // 4 both ways: jitter
  EXPECT_TRUE(m->Hidden);
  MoveTo(form.Get(), m.Get(), 1055, 550);  // 5 in one direction
  EXPECT_FALSE(m->Hidden);
  EXPECT_EQ(m->LastPointX, 1055);
  EXPECT_EQ(m->LastMoveTime, 3001);
  // The idle time restarted at the move.
  clock.now = 6001;
  m->Check();
  EXPECT_FALSE(m->Hidden);
  clock.now = 6002;
  m->Check();
  EXPECT_TRUE(m->Hidden);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"hidden", "shown", "hidden"}));
}

TEST(MouseMonitor, CursorHiddenAtStartWithoutIntervalComesBackAndStays) {
  Clock clock;
  auto form = MakeRef<FakeForm>();
  auto m = MakeRef<TMouseMonitor>(form.Get(), false, clock.fn());
  m->SetHideInterval(0);
  m->SetHidden(true);  // "hide the cursor at once"
  MoveTo(form.Get(), m.Get(), 1053, 553);
  EXPECT_TRUE(m->Hidden);
  MoveTo(form.Get(), m.Get(), 1050, 545);
  EXPECT_FALSE(m->Hidden);
  for (int i = 1; i <= 5; ++i) {
    clock.now = int64_t(i) * 1000000;
    m->Check();
    MoveTo(form.Get(), m.Get(), 1050, 545 + (i % 2));
  }
  EXPECT_FALSE(m->Hidden);
}

TEST(MouseMonitor, FirstMoveFromTheStartPositionDoesNotOverflow) {
  // LastPoint starts at -2147483647; a move to the far corner differs by
  // more than 2^32 - 2: measured in 64 bits, it is a real move.
  auto form = MakeRef<FakeForm>();
  auto m = MakeRef<TMouseMonitor>(form.Get(), false);
  m->HideInterval = 1000;  // set directly: SetHideInterval would move LastPoint
  m->Hidden = true;
  MoveTo(form.Get(), m.Get(), 2147483647, 2147483647);
  EXPECT_FALSE(m->Hidden);
}

TEST(MouseMonitor, EnterLeaveAndTheHoverTimer) {
  auto form = MakeRef<FakeForm>();
  Recorder rec;
  auto m = MakeRef<TMouseMonitor>(form.Get(), false);
  m->SetEnterLeave(rec.notify(&Recorder::Enter));
  m->SetLeave(rec.notify(&Recorder::Leave));  // the pointer is inside: marked inside without an enter
  EXPECT_TRUE(m->Inside);
  EXPECT_EQ(form->timerCalls, (std::vector<bool>{true}));
  struct Case {
    int32_t x, y;
    bool inside;
  };
  // Client coordinates are screen - (1000, 500); right and bottom are exclusive.
  const Case cases[] = {{1000, 500, true}, {1099, 599, true}, {1100, 550, false},
                        {1050, 600, false}, {999, 550, false}, {1050, 550, true}};
  for (const Case& c : cases) {
    form->cx = c.x;
    form->cy = c.y;
    EXPECT_EQ(m->IsInside(), c.inside) << c.x << "," << c.y;
  }
  MoveTo(form.Get(), m.Get(), 1100, 550);
  MoveTo(form.Get(), m.Get(), 1120, 550);
  MoveTo(form.Get(), m.Get(), 1099, 550);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"leave", "enter"}));
  EXPECT_EQ(form->timerCalls, (std::vector<bool>{true, false, true}));
}

TEST(MouseMonitor, ActivationClicksBlockedInputAndUnknownEvents) {
  auto form = MakeRef<FakeForm>();
  Recorder rec;
  auto m = MakeRef<TMouseMonitor>(form.Get(), false);
  m->OnClick = rec.notify(&Recorder::Click);
  m->OnActivate = {&Recorder::Activate, &rec};
  m->OnEnter = rec.notify(&Recorder::Enter);
  m->HandleEvent(player::mmeActivated);
  m->HandleEvent(player::mmeClick);
  form->busy = true;
  m->HandleEvent(player::mmeClick);  // the state query says the click is not the user's
  m->HandleEvent(player::mmeDeactivated);
  m->BlockInput = true;
  m->HandleEvent(player::mmeMouseMoved);  // blocked: no check, so no enter
  EXPECT_FALSE(m->Inside);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"active", "click", "inactive"}));
  EXPECT_THROW(m->HandleEvent(3), foundation::EAssertionFailed);
  EXPECT_THROW(MakeRef<TMouseMonitor>(nullptr, false), foundation::EAssertionFailed);
}

TEST(MouseMonitor, FreesItselfWhenTheWatchedWindowGoes) {
  auto form = MakeRef<FakeForm>();
  Recorder rec;
  const int before = foundation::LiveObjectCount();
  {
    auto m = MakeRef<TMouseMonitor>(form.Get(), true);
    m->SetLeave(rec.notify(&Recorder::Leave));
    m.Detach();  // the window's side owns it now
  }
  ASSERT_EQ(form->subscribers.size(), 1u);
  EXPECT_EQ(foundation::LiveObjectCount(), before + 1);
  form->subscribers[0]->HandleEvent(player::mmeDestroyed);
  EXPECT_TRUE(form->subscribers.empty());
  // The check without services cleared the hover state.
  EXPECT_EQ(rec.events, (std::vector<std::string>{"leave"}));
  EXPECT_EQ(form->timerCalls, (std::vector<bool>{true, false}));
  EXPECT_EQ(foundation::LiveObjectCount(), before);
}
