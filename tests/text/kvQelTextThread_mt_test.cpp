// The image-task queue with a fake worker thread: replacing waiting tasks by
// key, cancelling running ones, and closing with a worker that answers and
// with one that never does.
#include "text/kvQelTextThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/TickClock.h"

using namespace text;

namespace {

// Takes tasks in order, holding its own reference while one runs; drops
// the result of a cancelled task; sets Closed when told to stop.
class TFakeWorker : public TImageTaskWorker {
 public:
  void Loop() {
    Lock();
    for (;;) {
      if (TerminateRequested()) break;
      if (PendingIndex < int32_t(Tasks.size())) {
        TImageTask* t = Tasks[size_t(PendingIndex++)];
        t->_AddRef();
        Unlock();
        t->Callback(t);
        Lock();
        if (t->Status.load() != ImageTaskCancelled) {
          std::lock_guard g(resultsLock);
          results.push_back(t->Key);
        }
        for (size_t i = 0; i < Tasks.size(); ++i)
          if (Tasks[i] == t) {
            Tasks.erase(Tasks.begin() + std::ptrdiff_t(i));
            --PendingIndex;
            break;
          }
        Unlock();
        t->Free();
        Lock();
      } else {
        SleepUnlocked(1);
      }
    }
    if (answerClose) Closed.store(true);
    Unlock();
  }
  bool answerClose = true;
  std::mutex resultsLock;
  std::vector<std::u16string> results;
};

}  // namespace

TEST(ImageTasks, ReplaceCancelAndClose) {
  foundation::InitTickClock();
  auto* w = new TFakeWorker();
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  auto blocking = [&](TImageTask*) {
    started++;
    while (!release.load()) foundation::SleepMs(1);
  };
  auto quick = [](TImageTask*) {};
  // Before the worker runs: a second task with the same key replaces the first.
  AddImageTask(w, blocking, u"a", u"first", u"", 0);
  AddImageTask(w, blocking, u"a", u"second", u"", 0);
  ASSERT_EQ(w->Tasks.size(), 1u);
  EXPECT_EQ(w->Tasks[0]->Name, u"second");
  ASSERT_TRUE(w->Run(foundation::MethodOf<&TFakeWorker::Loop>(w), false));
  while (started.load() == 0) foundation::SleepMs(1);
  // While "a" is produced, another "a" is kept beside it; "b" waits.
  AddImageTask(w, quick, u"a", u"third", u"", 0);
  AddImageTask(w, quick, u"b", u"fourth", u"", 0);
  w->Lock();
  EXPECT_EQ(w->Tasks.size(), 3u);
  w->Unlock();
  // Cancelling "a" marks the running one and removes the waiting one.
  CancelImageTask(w, u"a");
  w->Lock();
  ASSERT_EQ(w->Tasks.size(), 2u);
  EXPECT_EQ(w->Tasks[0]->Status.load(), ImageTaskCancelled);
  EXPECT_EQ(w->Tasks[1]->Key, u"b");
  w->Unlock();
  release.store(true);
  for (int i = 0; i < 2000; ++i) {
    w->Lock();
    const bool empty = w->Tasks.empty();
    w->Unlock();
    if (empty) break;
    foundation::SleepMs(1);
  }
  {
    std::lock_guard g(w->resultsLock);
    EXPECT_EQ(w->results, std::vector<std::u16string>{u"b"});  // the cancelled result was dropped
  }
  const int64_t t0 = foundation::GetTickMs();
  CloseImageTasks(w);
  EXPECT_LT(foundation::GetTickMs() - t0, 400);
  EXPECT_TRUE(w->Closed.load());
  AddImageTask(w, quick, u"c", u"late", u"", 0);
  EXPECT_TRUE(w->Tasks.empty());
  w->WaitFinished();
  w->Free();
}

TEST(ImageTasks, CloseGivesUpOnASilentWorkerAfterHalfASecond) {
  foundation::InitTickClock();
  auto* w = new TFakeWorker();
  w->answerClose = false;
  std::atomic<bool> release{false};
  std::atomic<bool> started{false};
  ASSERT_TRUE(w->Run(foundation::MethodOf<&TFakeWorker::Loop>(w), false));
  AddImageTask(w, [&](TImageTask* t) {
    started.store(true);
    while (!release.load()) foundation::SleepMs(1);
    EXPECT_EQ(t->Key, u"slow");  // still alive: the worker holds its reference
  }, u"slow", u"", u"", 0);
  AddImageTask(w, [](TImageTask*) {}, u"waiting", u"", u"", 0);
  while (!started.load()) foundation::SleepMs(1);
  const int64_t t0 = foundation::GetTickMs();
  CloseImageTasks(w);
  const int64_t waited = foundation::GetTickMs() - t0;
  EXPECT_GE(waited, 450);
  EXPECT_LT(waited, 1500);
  EXPECT_TRUE(w->Closed.load());
  EXPECT_TRUE(w->Tasks.empty());
  release.store(true);
  w->WaitFinished();
  w->Free();
}
