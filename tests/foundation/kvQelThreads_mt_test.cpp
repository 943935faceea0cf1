// The player's thread base and the disposal thread, with real threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/kpLog.h"
#include "foundation/kvQelThreads.h"
#include "platform/os/manual/Clock_manual.h"

using namespace foundation;
using platform::os::Event;
using platform::os::INFINITE;

namespace {

std::mutex g_orderMutex;
std::vector<int> g_order;

class Numbered : public TRefObject {
 public:
  explicit Numbered(int n, bool raise = false) : FN(n), FRaise(raise) {}
  void Dispose() override {
    {
      std::lock_guard<std::mutex> guard(g_orderMutex);
      g_order.push_back(FN);
    }
    TRefObject::Dispose();
    if (FRaise) throw TCommonException(u"broken disposal");
  }

 private:
  int FN;
  bool FRaise;
};

std::vector<int> Order() {
  std::lock_guard<std::mutex> guard(g_orderMutex);
  return g_order;
}

class LinesLog : public TLog {
 public:
  std::mutex M;
  std::vector<std::u16string> Lines;
  void Output(const std::u16string& line) override {
    std::lock_guard<std::mutex> guard(M);
    Lines.push_back(line);
  }
};

// Ends the kill thread and waits until its worker is gone.
void EndKillThread(TKillThread* k) {
  k->Terminate();
  k->Free();
  ASSERT_EQ(WaitActiveThreads(60000), 0);
}

class Busy : public TActiveMonitor {
 public:
  Event Release;
  std::atomic<bool> MethodReturned{false};
  std::atomic<bool>* ReturnedBeforeDispose = nullptr;
  void Work() {
    Release.wait(INFINITE);
    MethodReturned = true;
  }
  void Dispose() override {
    if (ReturnedBeforeDispose) *ReturnedBeforeDispose = MethodReturned.load();
    TActiveMonitor::Dispose();
  }
};

// A player thread whose step drains its list and counts passes.
class Worker : public TQelThread {
 public:
  std::atomic<int> Steps{0};
  std::atomic<int> Handled{0};
  std::atomic<uint32_t> HandlerThread{0};
  std::atomic<bool> Before{false}, After{false};
  void BeforeRun() override { Before = true; }
  void AfterRun() override {
    After = true;
    TQelThread::AfterRun();
  }
  void Step() override {
    ++Steps;
    EventList()->ProcessMessages();
    platform::os::sleepMs(1);
  }
  void HandleMessage(TRefObject*, uint32_t, TRefObject*, bool& handled) override {
    ++Handled;
    HandlerThread = platform::os::currentThreadId();
    handled = true;
  }
};

}  // namespace

TEST(TKillThread, FreesOldestFirstAndKeepsGoingAfterAFailingDisposal) {
  auto* log = new LinesLog;
  SetLog(log);
  g_order.clear();
  auto* k = new TKillThread;
  k->Add(new Numbered(1));
  k->Add(new Numbered(2, true));
  k->Add(new Numbered(3));
  k->Add(new Numbered(4));
  EndKillThread(k);
  EXPECT_EQ(Order(), (std::vector<int>{1, 2, 3, 4}));
  {
    std::lock_guard<std::mutex> guard(log->M);
    ASSERT_EQ(log->Lines.size(), 1u);
    EXPECT_EQ(log->Lines[0].rfind(u"TKillThread: disposal failed: ", 0), 0u);
  }
  SetLog(nullptr);
}

TEST(TKillThread, AnActiveMonitorIsFreedOnlyAfterItsMethodReturned) {
  auto* k = new TKillThread;
  std::atomic<bool> returnedBeforeDispose{false};
  auto* busy = new Busy;
  busy->ReturnedBeforeDispose = &returnedBeforeDispose;
  ASSERT_TRUE(busy->Run(MethodOf<&Busy::Work>(busy), false));
  busy->_AddRef();  // the test's, to release the method later
  k->Add(busy);
  EXPECT_EQ(busy->RefCount() >= 2, true);
  busy->Release.set();
  busy->Free();
  EndKillThread(k);
  EXPECT_TRUE(returnedBeforeDispose);
}

TEST(TKillThread, AfterTerminateAddFreesAtOnce) {
  g_order.clear();
  auto* k = new TKillThread;
  k->_AddRef();
  k->Terminate();
  k->WaitFinished();
  k->Add(new Numbered(9));
  EXPECT_EQ(Order(), (std::vector<int>{9}));
  k->Free();
  EndKillThread(k);
}

TEST(TQelThread, StepsRunOnTheWorkerAndStopClearsStarted) {
  auto w = MakeRef<Worker>();
  ASSERT_TRUE(w->Start());
  EXPECT_TRUE(w->Started());
  EXPECT_TRUE(w->EventList()->Send(3, nullptr));
  EXPECT_EQ(w->Handled, 1);
  EXPECT_NE(w->HandlerThread, platform::os::currentThreadId());
  w->Stop();
  EXPECT_TRUE(w->Before);
  EXPECT_TRUE(w->After);
  EXPECT_FALSE(w->Started());
  EXPECT_GE(w->Steps, 1);
  EXPECT_TRUE(w->EventList()->IsClosed());
}

TEST(TQelThread, TerminateReleasesAWaitingSender) {
  // Never started: nothing drains the list, so only Terminate can release the sender.
  auto w = MakeRef<Worker>();
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    w->EventList()->Send(1, nullptr);
    returned = true;
  });
  while (w->EventList()->QueuedCount() == 0) platform::os::yieldThread();
  EXPECT_FALSE(returned);
  w->Terminate();
  sender.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(w->Handled, 0);
}

namespace {
// A step that blocks until released, so that Dispose gives its worker up;
// released later, the worker still runs on its own object and list.
class StuckWorker : public TQelThread {
 public:
  StuckWorker(std::shared_ptr<Event> entered, std::shared_ptr<Event> release, std::shared_ptr<Event> ended)
      : FEntered(std::move(entered)), FRelease(std::move(release)), FEnded(std::move(ended)) {}
  void Step() override {
    FEntered->set();
    FRelease->wait(INFINITE);
    EventList()->ProcessMessages();
  }
  void AfterRun() override {
    TQelThread::AfterRun();
    FEnded->set();
  }

 private:
  std::shared_ptr<Event> FEntered, FRelease, FEnded;
};
}  // namespace

TEST(TQelThread, AGivenUpWorkerKeepsItsObjectAndListUntilItEnds) {
  auto* log = new LinesLog;
  SetLog(log);
  auto entered = std::make_shared<Event>();
  auto release = std::make_shared<Event>();
  auto ended = std::make_shared<Event>();
  auto* w = new StuckWorker(entered, release, ended);
  {
    platform::os::ScopedManualClock clock;
    ASSERT_TRUE(w->Start());
    entered->wait(INFINITE);
    std::thread owner([&] { w->Free(); });
    clock->waitForSleepers(1);  // Dispose waits for the worker's end
    clock->advance(TThread::DisposeWaitMs);
    owner.join();
  }
  // The owner's last reference is gone, yet the object is still there.
  EXPECT_TRUE(w->Killed());
  ASSERT_NE(w->EventList(), nullptr);
  EXPECT_TRUE(w->EventList()->IsClosed());
  w->EventList()->Post(1, nullptr);  // a closed list still refuses posts
  release->set();
  ended->wait(INFINITE);  // its last Step drained the list, then it saw Terminated and ran AfterRun
  EXPECT_FALSE(w->Started());
  {
    std::lock_guard<std::mutex> guard(log->M);
    ASSERT_EQ(log->Lines.size(), 1u);
    EXPECT_NE(log->Lines[0].find(u"did not end in 3000 ms; left running"), std::u16string::npos);
  }
  SetLog(nullptr);
}
