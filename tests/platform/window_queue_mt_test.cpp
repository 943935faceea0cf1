// The window queues across real threads: posts, sends that run on the
// receiving thread, sends that cannot be answered, and WM_QUIT to a thread.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/os/sync.h"
#include "platform/os/threads.h"
#include "platform/window/api.h"

using namespace platform::window;
using platform::os::Event;
using platform::os::INFINITE;

namespace {

std::atomic<platform::os::ThreadId> g_ranOn{0};

LRESULT WorkerProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1) {
    g_ranOn = platform::os::currentThreadId();
    return static_cast<LRESULT>(wParam + 1000);
  }
  if (message == WM_USER + 2) {
    // A send back to the main thread's window from inside a send.
    return sendMessage(static_cast<HWND>(wParam), WM_USER + 1, 5, 0) + 1;
  }
  return defWindowProc(hwnd, message, wParam, lParam);
}

class WindowQueues : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WndClass cls;
    cls.lpfnWndProc = &WorkerProc;
    cls.className = u"Worker";
    ASSERT_NE(registerClass(cls), 0);
  }
};

// A thread that owns one window and runs a message loop until WM_QUIT.
struct LoopThread {
  std::atomic<HWND> hwnd{0};
  std::atomic<int> exitCode{-1};
  std::atomic<platform::os::ThreadId> tid{0};
  Event ready;
  std::thread thread;
  void Start(bool loop = true) {
    thread = std::thread([this, loop] {
      tid = platform::os::currentThreadId();
      hwnd = createWindowEx(0, u"Worker", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
      ready.set();
      if (!loop) return;
      Msg m;
      while (getMessage(m, 0, 0, 0) > 0) dispatchMessage(m);
      exitCode = static_cast<int>(m.wParam);
      destroyWindow(hwnd);
    });
    ready.wait(INFINITE);
  }
};

TEST_F(WindowQueues, ASendToAnotherThreadsWindowRunsThereAndReturnsItsResult) {
  LoopThread t;
  t.Start();
  EXPECT_EQ(sendMessage(t.hwnd, WM_USER + 1, 7, 0), 1007);
  EXPECT_TRUE(lastSendDelivered());
  EXPECT_EQ(g_ranOn.load(), t.tid.load());
  EXPECT_NE(g_ranOn.load(), platform::os::currentThreadId());
  ASSERT_TRUE(postThreadMessage(t.tid, WM_QUIT, 3, 0));
  t.thread.join();
  EXPECT_EQ(t.exitCode, 3);
}

TEST_F(WindowQueues, PostedMessagesFromManyThreadsArriveInPerSenderOrder) {
  const HWND mine = createWindowEx(0, u"Worker", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
  constexpr int kSenders = 4, kEach = 500;
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([=] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(postMessage(mine, WM_USER + 10, s, i));
    });
  int next[kSenders] = {};
  Msg m;
  for (int n = 0; n < kSenders * kEach; ++n) {
    ASSERT_EQ(getMessage(m, 0, 0, 0), 1);
    ASSERT_EQ(m.message, WM_USER + 10u);
    EXPECT_EQ(m.lParam, next[m.wParam]++);
  }
  for (auto& t : senders) t.join();
  destroyWindow(mine);
}

TEST_F(WindowQueues, SendsBetweenTwoThreadsInBothDirectionsDoNotDeadlock) {
  LoopThread t;
  t.Start();
  const HWND mine = createWindowEx(0, u"Worker", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
  // The worker's handler sends back to this thread while this thread waits.
  EXPECT_EQ(sendMessage(t.hwnd, WM_USER + 2, mine, 0), 1006);
  EXPECT_EQ(g_ranOn.load(), platform::os::currentThreadId());
  postMessage(t.hwnd, WM_CLOSE, 0, 0);
  postThreadMessage(t.tid, WM_QUIT, 9, 0);
  t.thread.join();
  destroyWindow(mine);
}

TEST_F(WindowQueues, QuitPostedToAThreadEndsItsLoopWithTheCode) {
  LoopThread t;
  t.Start();
  // A quit posted from outside is a posted message; the loop's getMessage
  // still reports it as the end.
  ASSERT_TRUE(postThreadMessage(t.tid, WM_QUIT, 17, 0));
  t.thread.join();
  EXPECT_EQ(t.exitCode, 17);
}

TEST_F(WindowQueues, ASendLeftQueuedWhenItsTargetDiesIsAnsweredAsFailed) {
  // The worker owns the window but does not read its queue until told to;
  // then it destroys the window without dispatching anything.
  Event queued;
  std::atomic<HWND> hwnd{0};
  std::thread worker([&] {
    hwnd = createWindowEx(0, u"Worker", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
    queued.set();
    // Until the send waits in this thread's queue.
    while (queuedSendCount() == 0) platform::os::yieldThread();
    destroyWindow(hwnd);
    Msg m;
    while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
    }
  });
  queued.wait(INFINITE);
  g_ranOn = 0;
  EXPECT_EQ(sendMessage(hwnd, WM_USER + 1, 1, 0), 0);
  EXPECT_FALSE(lastSendDelivered());
  EXPECT_EQ(g_ranOn.load(), 0u) << "the handler never ran";
  worker.join();
}

TEST_F(WindowQueues, AThreadThatEndsClosesItsQueue) {
  LoopThread t;
  t.Start(false);  // creates its window, then ends without a loop
  t.thread.join();
  EXPECT_FALSE(isWindow(t.hwnd)) << "its windows went with it";
  EXPECT_FALSE(postMessage(t.hwnd, WM_USER, 0, 0));
  EXPECT_EQ(sendMessage(t.hwnd, WM_USER + 1, 1, 0), 0);
  EXPECT_FALSE(lastSendDelivered());
  EXPECT_FALSE(postThreadMessage(t.tid, WM_USER, 0, 0));
}

TEST_F(WindowQueues, ANotifySendFromAnotherThreadRunsOnTheOwnerWithoutWaiting) {
  const HWND mine = createWindowEx(0, u"Worker", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
  g_ranOn = 0;
  std::thread([&] { EXPECT_TRUE(sendNotifyMessage(mine, WM_USER + 1, 0, 0)); }).join();
  EXPECT_EQ(g_ranOn.load(), 0u);
  Msg m;
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE)) << "sent messages are run, never returned";
  EXPECT_EQ(g_ranOn.load(), platform::os::currentThreadId());
  destroyWindow(mine);
}

}  // namespace
