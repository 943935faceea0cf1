// The application object and its message loop on the headless backend, with
// real threads posting and sending: events run on the main thread inside the
// loop, WM_QUIT ends it, exceptions never end it, finalisation drains.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "WindowingFixture.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/os/threads.h"

using namespace windowing;
using windowing_test::AppTest;
namespace pw = platform::window;

namespace {

// A parameter that records its own end.
struct Param : foundation::TRefObject {
  std::atomic<int>* disposed;
  int value;
  Param(std::atomic<int>* d, int v) : disposed(d), value(v) {}
  void Dispose() override {
    disposed->fetch_add(1);
    TRefObject::Dispose();
  }
};

struct Handlers {
  std::vector<int> values;
  std::atomic<int> calls{0};
  platform::os::ThreadId ranOn = 0;
  TApplication* app = nullptr;
  int stopAfter = -1;
  void Handle(foundation::TRefObject*, uint32_t, foundation::TRefObject* param) {
    ranOn = platform::os::currentThreadId();
    if (auto* p = dynamic_cast<Param*>(param)) values.push_back(p->value);
    if (++calls == stopAfter) app->Terminate();
  }
  void Raise(foundation::TRefObject*, uint32_t, foundation::TRefObject*) {
    ++calls;
    throw foundation::Exception(u"handler failed");
  }
};

std::atomic<int> g_shown{0};
void CountDisplay(const std::u16string&, const std::u16string&) { ++g_shown; }

TEST_F(AppTest, EventsPostedFromThreadsRunOnTheMainThreadAndTerminateEndsTheLoop) {
  Handlers h;
  h.app = app;
  h.stopAfter = 200;
  EXPECT_EQ(app->CallEventId(), 1u) << "the call handler takes the first id";
  const uint32_t id = app->RegisterHandler(foundation::MethodOf<&Handlers::Handle>(&h));
  std::atomic<int> disposed{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) app->Post(id, new Param(&disposed, t * 1000 + i));
    });
  app->Run();
  for (auto& t : posters) t.join();
  EXPECT_TRUE(app->Finalized());
  EXPECT_EQ(h.calls, 200);
  EXPECT_EQ(h.ranOn, platform::os::currentThreadId());
  EXPECT_EQ(disposed, 200) << "every parameter freed after its event";
  // Per poster, in posting order.
  int last[4] = {-1, -1, -1, -1};
  for (int v : h.values) {
    EXPECT_GT(v % 1000, last[v / 1000]);
    last[v / 1000] = v % 1000;
  }
  app->RemoveHandler(id, foundation::MethodOf<&Handlers::Handle>(&h));
}

TEST_F(AppTest, ASendFromAnotherThreadWaitsForTheMainThread) {
  Handlers h;
  h.app = app;
  const uint32_t id = app->RegisterHandler(foundation::MethodOf<&Handlers::Handle>(&h));
  std::atomic<int> disposed{0};
  std::atomic<bool> sent{false};
  auto* p = new Param(&disposed, 5);
  std::thread sender([&] {
    sent = app->Send(id, p);
    app->Terminate();
  });
  app->Run();
  sender.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(h.values, std::vector<int>{5});
  EXPECT_EQ(h.ranOn, platform::os::currentThreadId());
  EXPECT_EQ(disposed, 0) << "a sender keeps its parameter";
  p->Free();
  app->RemoveHandler(id, foundation::MethodOf<&Handlers::Handle>(&h));
}

// A window API whose posts fail, as a full queue makes them.
class FailingPosts : public TWndAPI {
 public:
  bool PostMessage(HWND, uint32_t, WPARAM, LPARAM) override { return false; }
};

TEST_F(AppTest, AFailedWakeUpWithdrawsPostsAndFailsSends) {
  Handlers h;
  const uint32_t id = app->RegisterHandler(foundation::MethodOf<&Handlers::Handle>(&h));
  auto* failing = new FailingPosts;
  TWndAPI* previous = WindowApiClass;
  WindowApiClass = failing;
  std::atomic<int> disposed{0};
  auto* kept = new Param(&disposed, 2);
  bool sent = true;
  std::thread worker([&] {
    app->Post(id, new Param(&disposed, 1));
    sent = app->Send(id, kept);
  });
  worker.join();
  WindowApiClass = previous;
  failing->Free();
  EXPECT_FALSE(sent);
  EXPECT_EQ(disposed, 1) << "the withdrawn post's parameter is freed, the sender's is not";
  EXPECT_EQ(app->QueuedCount(), 0);
  app->ProcessMessages();
  EXPECT_EQ(h.calls, 0) << "nothing runs later";
  kept->Free();
  app->RemoveHandler(id, foundation::MethodOf<&Handlers::Handle>(&h));
}

TEST_F(AppTest, TerminateTwicePostsOneQuitAndNotifiesOnce) {
  struct Counter {
    int n = 0;
    void On(foundation::TRefObject*) { ++n; }
  } counter;
  app->OnTerminate = foundation::MethodOf<&Counter::On>(&counter);
  app->Terminate();
  std::thread([&] { app->Terminate(); }).join();
  app->Terminate();
  EXPECT_EQ(counter.n, 1);
  int quits = 0;
  Msg m;
  while (pw::peekMessage(m, 0, 0, 0, pw::PM_REMOVE))
    if (m.message == pw::WM_QUIT) ++quits;
  EXPECT_EQ(quits, 1);
}

TEST_F(AppTest, ProcessMessagesStopsAtQuitAndLeavesTheRestQueued) {
  const HWND wnd = app->GetHandle();
  pw::postMessage(wnd, pw::WM_USER + 1, 0, 0);
  pw::postQuitMessage(0);
  pw::postMessage(0, pw::WM_USER + 2, 0, 0);
  // WM_QUIT comes after every posted message, so make the later one a
  // posted quit in between: a thread quit message.
  Msg m;
  ASSERT_TRUE(pw::peekMessage(m, 0, 0, 0, pw::PM_REMOVE));  // WM_USER + 1
  pw::postThreadMessage(platform::os::currentThreadId(), pw::WM_QUIT, 0, 0);
  pw::postMessage(0, pw::WM_USER + 3, 0, 0);
  // Queue: WM_USER + 2, WM_QUIT (posted), WM_USER + 3, then the quit flag.
  app->ProcessMessages();
  EXPECT_TRUE(app->IsQuitting());
  ASSERT_TRUE(pw::peekMessage(m, 0, 0, 0, pw::PM_REMOVE));
  EXPECT_EQ(m.message, pw::WM_USER + 3);
  while (pw::peekMessage(m, 0, 0, 0, pw::PM_REMOVE)) {
  }
}

TEST_F(AppTest, AnExceptionInADispatchedEventIsShownAndTheNextRuns) {
  Handlers h;
  h.app = app;
  const uint32_t bad = app->RegisterHandler(foundation::MethodOf<&Handlers::Raise>(&h));
  Handlers good;
  good.app = app;
  good.stopAfter = 1;
  const uint32_t ok = app->RegisterHandler(foundation::MethodOf<&Handlers::Handle>(&good));
  const auto previous = foundation::SetExceptionDisplay(&CountDisplay);
  g_shown = 0;
  // The hidden window's hook runs posted events; a raising window message
  // handler is shown by the loop. Events swallow their own exceptions, so
  // raise one through a window message as well.
  HookManager->AddMsgHook(app, {pw::WM_USER + 9}, foundation::TMethod<void(HWND, TWndMessage&, bool&)>{
                                                     [](void*, HWND, TWndMessage&, bool&) {
                                                       throw foundation::Exception(u"hook failed");
                                                     },
                                                     nullptr});
  pw::postMessage(app->GetHandle(), pw::WM_USER + 9, 0, 0);
  std::thread([&] {
    app->Post(bad, nullptr);
    app->Post(ok, nullptr);
  }).join();
  app->Run();
  foundation::SetExceptionDisplay(previous);
  EXPECT_EQ(g_shown, 1);
  EXPECT_EQ(h.calls, 1);
  EXPECT_EQ(good.calls, 1);
  app->RemoveHandler(bad, foundation::MethodOf<&Handlers::Raise>(&h));
  app->RemoveHandler(ok, foundation::MethodOf<&Handlers::Handle>(&good));
}

struct Finaliser {
  TApplication* app;
  uint32_t second = 0;
  std::atomic<int>* disposed;
  std::vector<std::string> log;
  void First(foundation::TRefObject*, uint32_t, foundation::TRefObject*) {
    log.push_back("first");
    // The window is gone already: this post still runs in the final drain.
    app->Post(second, nullptr);
  }
  void Second(foundation::TRefObject*, uint32_t, foundation::TRefObject*) { log.push_back("second"); }
};

TEST_F(AppTest, FinalisationRunsPostsMadeWhileItRunsAndRefusesThemOnceFinalised) {
  std::atomic<int> disposed{0};
  Finaliser f{app, 0, &disposed, {}};
  f.second = app->RegisterHandler(foundation::MethodOf<&Finaliser::Second>(&f));
  const uint32_t first = app->RegisterHandler(foundation::MethodOf<&Finaliser::First>(&f));
  // Queued but not run before the loop ends: the window is destroyed first,
  // so the wake-up message is dropped with it and the drain runs the event.
  app->Post(first, nullptr);
  app->Terminate();
  Msg m;
  // Take the quit out by hand, leaving the wake-up message behind.
  ASSERT_EQ(pw::peekMessage(m, 0, pw::WM_QUIT, pw::WM_QUIT, pw::PM_REMOVE), true);
  app->Finalize();
  EXPECT_EQ(f.log, (std::vector<std::string>{"first", "second"}));
  // Once finalised, a post is refused and its parameter freed at once.
  app->Post(f.second, new Param(&disposed, 0));
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(f.log.size(), 2u);
  EXPECT_EQ(app->QueuedCount(), 0);
  app->RemoveHandler(first, foundation::MethodOf<&Finaliser::First>(&f));
  app->RemoveHandler(f.second, foundation::MethodOf<&Finaliser::Second>(&f));
}

std::vector<HWND> g_wheelTo;
LRESULT WheelProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (msg == pw::WM_MOUSEWHEEL) g_wheelTo.push_back(wnd);
  return pw::defWindowProc(wnd, msg, wParam, lParam);
}

TEST_F(AppTest, TheWheelGoesToTheSameThreadsWindowUnderTheCursor) {
  pw::WndClass cls;
  cls.lpfnWndProc = &WheelProc;
  cls.className = u"Wheel";
  ASSERT_NE(pw::registerClass(cls), 0);
  const HWND a = pw::createWindowEx(0, u"Wheel", u"", pw::WS_VISIBLE, 0, 0, 100, 100, 0, 0, 0, nullptr);
  const HWND b = pw::createWindowEx(0, u"Wheel", u"", pw::WS_VISIBLE, 200, 0, 100, 100, 0, 0, 0, nullptr);
  std::atomic<HWND> other{0};
  platform::os::Event made, done;
  std::thread t([&] {
    other = pw::createWindowEx(0, u"Wheel", u"", pw::WS_VISIBLE, 400, 0, 100, 100, 0, 0, 0, nullptr);
    made.set();
    done.wait(platform::os::INFINITE);
    pw::destroyWindow(other);
  });
  made.wait(platform::os::INFINITE);
  auto at = [](int x, int y) { return static_cast<LPARAM>((static_cast<uint32_t>(y) << 16) | (x & 0xFFFF)); };
  g_wheelTo.clear();
  pw::postMessage(a, pw::WM_MOUSEWHEEL, 120 << 16, at(250, 50));  // over b
  pw::postMessage(a, pw::WM_MOUSEWHEEL, 120 << 16, at(450, 50));  // over another thread's window
  pw::postMessage(a, pw::WM_MOUSEWHEEL, 120 << 16, at(900, 900));  // over nothing
  app->Terminate();
  app->Run();
  EXPECT_EQ(g_wheelTo, (std::vector<HWND>{b, a, a}));
  done.set();
  t.join();
  pw::destroyWindow(a);
  pw::destroyWindow(b);
  pw::unregisterClass(u"Wheel", 0);
}

TEST_F(AppTest, TheLoopsEndStopsEveryFactoryTimer) {
  TCustomTimer* timer = TimerFactory();
  auto* thread = dynamic_cast<TThreadTimer*>(timer);
  ASSERT_NE(thread, nullptr);
  timer->SetInterval(50);
  timer->SetEnabled(true);
  EXPECT_TRUE(thread->HasWorker());
  const uint32_t tickId = thread->TickId();
  app->Terminate();
  app->Run();
  EXPECT_FALSE(thread->HasWorker());
  // The tick id went back to the list.
  EXPECT_EQ(app->AllocateId(), tickId);
  timer->Free();
}

}  // namespace

namespace {

struct ClipboardSeen {
  std::vector<int> order;
  void Changed(foundation::TRefObject* sender) { order.push_back(static_cast<TClipbrdNotifier*>(sender)->Next ? 2 : 1); }
};

int g_listenerAdds = 0, g_listenerRemoves = 0;
bool CountAdd(HWND) { return ++g_listenerAdds > 0; }
bool CountRemove(HWND) { return ++g_listenerRemoves > 0; }

TEST_F(AppTest, ClipboardNotifiersHearUpdatesOldestFirstAndSwitchTheListener) {
  pw::OptionalEntries e = pw::defaultOptionalEntries();
  e.addClipboardFormatListener = &CountAdd;
  e.removeClipboardFormatListener = &CountRemove;
  const pw::OptionalEntries previous = pw::setOptionalEntries(e);
  g_listenerAdds = g_listenerRemoves = 0;
  ClipboardSeen seen;
  auto* first = new TClipbrdNotifier;
  first->OnChange = foundation::MethodOf<&ClipboardSeen::Changed>(&seen);
  auto* second = new TClipbrdNotifier;
  second->OnChange = foundation::MethodOf<&ClipboardSeen::Changed>(&seen);
  EXPECT_EQ(g_listenerAdds, 1) << "switched on by the first notifier only";
  pw::postMessage(app->GetHandle(), pw::WM_CLIPBOARDUPDATE, 0, 0);
  app->ProcessMessages();
  // 1 marks the oldest notifier (the chain's tail, without a Next): it hears
  // the update first.
  EXPECT_EQ(seen.order, (std::vector<int>{1, 2}));
  second->Free();
  EXPECT_EQ(g_listenerRemoves, 0);
  first->Free();
  EXPECT_EQ(g_listenerRemoves, 1);
  pw::setOptionalEntries(previous);
}

struct CallTarget {
  std::vector<std::tuple<void*, int32_t, foundation::TRefObject*>> calls;
  void Call(void* ptr, int32_t value, foundation::TRefObject* obj) { calls.emplace_back(ptr, value, obj); }
};

TEST_F(AppTest, ACallHandleRunsOnlyWhileSomeoneStillHoldsIt) {
  CallTarget target;
  std::atomic<int> disposed{0};
  auto* held = new TCallHandle;
  held->Method = foundation::MethodOf<&CallTarget::Call>(&target);
  held->Value = 42;
  held->Obj = new Param(&disposed, 1);
  held->_AddRef();  // the owner's use, which the call consumes; the event takes the other
  auto* dropped = new TCallHandle;
  dropped->Method = foundation::MethodOf<&CallTarget::Call>(&target);
  std::thread([&] {
    app->Post(app->CallEventId(), held);
    app->Post(app->CallEventId(), dropped);  // nobody else holds it: not run
  }).join();
  app->ProcessMessages();
  ASSERT_EQ(target.calls.size(), 1u) << "a handle nobody else holds is a cancelled call";
  EXPECT_EQ(std::get<1>(target.calls[0]), 42);
  // The call released the owner's use and the event its own: the handle and
  // its object argument are gone.
  EXPECT_EQ(disposed, 1);
}

TEST_F(AppTest, FinalisationWaitsForRegisteredObjectsAndKeepsRunningEvents) {
  Handlers h;
  const uint32_t id = app->RegisterHandler(foundation::MethodOf<&Handlers::Handle>(&h));
  auto* obj = new Param(nullptr, 0);
  std::atomic<int> d{0};
  obj->disposed = &d;
  app->AddObject(obj);
  EXPECT_EQ(app->RegisteredObjectCount(), 1);
  std::thread worker([&] {
    // Events posted while finalisation waits still run; then the object goes.
    for (int i = 0; i < 3; ++i) app->Post(id, nullptr);
    while (h.calls < 3) platform::os::yieldThread();
    app->RemoveObject(obj);
    app->SignalDrain();
  });
  app->Terminate();
  app->Run();
  worker.join();
  EXPECT_EQ(h.calls, 3);
  EXPECT_EQ(app->RegisteredObjectCount(), 0);
  EXPECT_THROW(app->RemoveObject(obj), foundation::EAssertionFailed);
  obj->Free();
  app->RemoveHandler(id, foundation::MethodOf<&Handlers::Handle>(&h));
}

struct MultiCalls {
  std::atomic<int> n{0};
  TApplication* app = nullptr;
  void On(foundation::TRefObject*) {
    if (++n == 3) app->Terminate();
  }
};

TEST_F(AppTest, UnderTheQueueTimerFactoryTicksComeExactlyWithVirtualTime) {
  platform::os::ScopedManualClock clock(1000);
  const TTimerFactory previous = InstallQueueTimerFactory();
  MultiCalls calls;
  calls.app = app;
  TMultiTimerEvent* ev = AddTimer(foundation::MethodOf<&MultiCalls::On>(&calls), 100, 0);
  ASSERT_NE(ev, nullptr);
  EXPECT_NE(dynamic_cast<TQueueTimer*>(GetMultiTimer()->Timer()), nullptr);
  app->ProcessMessages();
  EXPECT_EQ(calls.n, 0);
  clock->advance(99);
  app->ProcessMessages();
  EXPECT_EQ(calls.n, 0);
  clock->advance(1);
  app->ProcessMessages();
  EXPECT_EQ(calls.n, 1);
  std::thread driver([&] {
    // The loop sleeps until its next timer; each step passes one period
    // once the previous tick has run.
    for (int i = 0; i < 2; ++i) {
      clock->waitForSleepers(1);
      clock->advance(100);
      while (calls.n < 2 + i) platform::os::yieldThread();
    }
  });
  app->Run();
  driver.join();
  EXPECT_EQ(calls.n, 3);
  RemoveTimer(ev);
  DoneTimers();
  TimerFactory = previous;
}

}  // namespace
