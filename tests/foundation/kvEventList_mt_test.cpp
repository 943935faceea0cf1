// The event registry and the posting layer, with a real owner thread that
// processes the tickets its wake-up receives.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/DisposalProbe.h"
#include "foundation/kvEventList.h"

using namespace foundation;
using foundation::MakeRef;
using foundation::MethodOf;

namespace {

using Tracked = testsupport::TDisposalProbe<std::atomic<int>>;

struct Recorder {
  std::vector<std::string> calls;
  TEventList* list = nullptr;
  TEventHandler toRemove;
  uint32_t removeId = 0;
  void A(TRefObject*, uint32_t id, TRefObject*) { calls.push_back("A" + std::to_string(id)); }
  void B(TRefObject*, uint32_t id, TRefObject*) { calls.push_back("B" + std::to_string(id)); }
  void RemoverA(TRefObject* s, uint32_t id, TRefObject* p) {
    A(s, id, p);
    list->RemoveHandler(removeId, toRemove);
  }
};

// A posting list whose owner is a test thread draining the woken tickets.
class OwnedList : public TPostEventListEx {
 public:
  OwnedList() : TPostEventListEx(1024, 1) {}
  std::atomic<bool> Accepting{true};
  std::atomic<uint32_t> OwnerId{0};

  bool IsOwnerThread() override { return platform::os::currentThreadId() == OwnerId.load(); }
  bool WakeUp(int32_t ticket) override {
    if (!Accepting) return false;
    std::lock_guard<std::mutex> guard(FMutex);
    FTickets.push_back(ticket);
    FCv.notify_all();
    return true;
  }
  void RunOwner() {
    OwnerId = platform::os::currentThreadId();
    for (;;) {
      std::unique_lock<std::mutex> lock(FMutex);
      FCv.wait(lock, [&] { return FStop || !FTickets.empty(); });
      if (FTickets.empty()) return;
      int32_t ticket = FTickets.front();
      FTickets.pop_front();
      lock.unlock();
      ProcessPosted(ticket);
    }
  }
  void StopOwner() {
    std::lock_guard<std::mutex> guard(FMutex);
    FStop = true;
    FCv.notify_all();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FCv;
  std::deque<int32_t> FTickets;
  bool FStop = false;
};

struct Counter {
  std::atomic<int> calls{0};
  std::atomic<uint32_t> thread{0};
  std::atomic<int> lastValue{0};
  void Handle(TRefObject*, uint32_t, TRefObject* param) {
    ++calls;
    thread = platform::os::currentThreadId();
    if (auto* t = dynamic_cast<Tracked*>(param)) lastValue = t->Value;
  }
};

}  // namespace

TEST(TEventList, HandlersRunOldestFirstAndARemovedOneDoesNotRun) {
  auto list = MakeRef<TEventList>(16, 1);
  Recorder r;
  r.list = list.Get();
  const uint32_t id = list->AllocateId();
  list->AddHandler(id, MethodOf<&Recorder::A>(&r));
  list->AddHandler(id, MethodOf<&Recorder::B>(&r));
  list->Dispatch(nullptr, id, nullptr);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"A1", "B1"}));

  r.calls.clear();
  auto list2 = MakeRef<TEventList>(16, 1);
  r.list = list2.Get();
  r.removeId = 5;
  r.toRemove = MethodOf<&Recorder::B>(&r);
  list2->AddHandler(5, MethodOf<&Recorder::RemoverA>(&r));
  list2->AddHandler(5, MethodOf<&Recorder::B>(&r));
  list2->Dispatch(nullptr, 5, nullptr);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"A5"}));
}

TEST(TEventList, BucketCountIsClampedAndSharedChainsDispatchById) {
  EXPECT_EQ(MakeRef<TEventList>(0, 1)->BucketCount(), 1);
  EXPECT_EQ(MakeRef<TEventList>(5000, 1)->BucketCount(), 4096);
  auto list = MakeRef<TEventList>(4, 1);
  Recorder r;
  list->AddHandler(3, MethodOf<&Recorder::A>(&r));
  list->AddHandler(7, MethodOf<&Recorder::B>(&r));
  list->Dispatch(nullptr, 7, nullptr);
  list->Dispatch(nullptr, 3, nullptr);
  list->Dispatch(nullptr, 11, nullptr);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"B7", "A3"}));
  EXPECT_EQ(list->BucketArrayLength(), 4);
  list->RemoveHandler(7, MethodOf<&Recorder::B>(&r));
  list->RemoveHandler(3, MethodOf<&Recorder::A>(&r));
  EXPECT_EQ(list->BucketArrayLength(), 3) << "the emptied last bucket is dropped";
}

TEST(TEventList, RemoveNeedsBothHalvesOfTheMethod) {
  auto list = MakeRef<TEventList>(8, 1);
  Recorder r1, r2;
  list->AddHandler(2, MethodOf<&Recorder::A>(&r1));
  list->RemoveHandler(2, MethodOf<&Recorder::A>(&r2));
  list->RemoveHandler(2, MethodOf<&Recorder::B>(&r1));
  list->Dispatch(nullptr, 2, nullptr);
  EXPECT_EQ(r1.calls.size(), 1u);
}

TEST(TEventList, IdsComeFromTheCounterAndReleasedOnesLastInFirstOut) {
  auto list = MakeRef<TEventList>(8, 5);
  EXPECT_EQ(list->AllocateId(), 5u);
  EXPECT_EQ(list->AllocateId(), 6u);
  list->ReleaseId(7);
  list->ReleaseId(9);
  EXPECT_EQ(list->AllocateId(), 9u);
  EXPECT_EQ(list->AllocateId(), 7u);
  EXPECT_EQ(list->AllocateId(), 7u) << "the counter continues where it was";
  for (uint32_t i = 0; i < 20; ++i) list->ReleaseId(100 + i);  // the stack grows past 8 and 16
  EXPECT_EQ(list->AllocateId(), 119u);
}

TEST(TEventList, AHandlerExceptionPassesOutAndReleasesTheEntry) {
  struct Thrower {
    void Throw(TRefObject*, uint32_t, TRefObject*) { throw foundation::TCommonException(); }
  } t;
  auto list = MakeRef<TEventList>(8, 1);
  const uint32_t id = list->RegisterHandler(MethodOf<&Thrower::Throw>(&t));
  EXPECT_THROW(list->Dispatch(nullptr, id, nullptr), foundation::TCommonException);
  Recorder r;
  list->AddHandler(id, MethodOf<&Recorder::A>(&r));
  list->RemoveHandler(id, MethodOf<&Thrower::Throw>(&t));
  list->Dispatch(nullptr, id, nullptr);
  EXPECT_EQ(r.calls.size(), 1u) << "the lock was left on the way out";
}

TEST(TPostEventListEx, PostsFromManyThreadsAllRunOnTheOwnerAndFreeTheirParams) {
  auto list = MakeRef<OwnedList>();
  Counter c;
  const uint32_t id = list->RegisterHandler(MethodOf<&Counter::Handle>(&c));
  std::thread owner([&] { list->RunOwner(); });
  while (list->OwnerId == 0) platform::os::yieldThread();
  std::atomic<int> disposed{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&] {
      for (int i = 0; i < 50; ++i) list->Post(id, new Tracked(&disposed));
    });
  for (auto& p : posters) p.join();
  list->StopOwner();
  owner.join();
  EXPECT_EQ(c.calls, 200);
  EXPECT_EQ(disposed, 200);
  EXPECT_EQ(c.thread, list->OwnerId);
}

TEST(TPostEventListEx, SendWaitsForTheHandlerAndLeavesTheParamToTheCaller) {
  auto list = MakeRef<OwnedList>();
  Counter c;
  const uint32_t id = list->RegisterHandler(MethodOf<&Counter::Handle>(&c));
  std::thread owner([&] { list->RunOwner(); });
  while (list->OwnerId == 0) platform::os::yieldThread();
  std::atomic<int> disposed{0};
  auto* param = new Tracked(&disposed);
  param->Value = 42;
  std::vector<std::thread> senders;
  std::atomic<int> delivered{0};
  for (int t = 0; t < 3; ++t)
    senders.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        const int before = c.calls;
        if (list->Send(id, param)) ++delivered;
        EXPECT_GT(c.calls, before) << "the handler ran before Send returned";
      }
    });
  for (auto& s : senders) s.join();
  EXPECT_EQ(delivered, 60);
  EXPECT_EQ(c.calls, 60);
  EXPECT_EQ(c.lastValue, 42);
  EXPECT_EQ(disposed, 0);
  param->Free();
  EXPECT_EQ(disposed, 1);
  list->StopOwner();
  owner.join();
}

TEST(TPostEventListEx, SendOnTheOwnerThreadRunsInsideTheCall) {
  auto list = MakeRef<OwnedList>();
  list->OwnerId = platform::os::currentThreadId();
  list->Accepting = false;
  Counter c;
  const uint32_t id = list->RegisterHandler(MethodOf<&Counter::Handle>(&c));
  EXPECT_TRUE(list->Send(id, nullptr));
  EXPECT_EQ(c.calls, 1);
  EXPECT_EQ(list->QueuedCount(), 0);
}

TEST(TPostEventListEx, RefusedWakeUpWithdrawsPostsAndSends) {
  auto list = MakeRef<OwnedList>();
  list->Accepting = false;
  Counter c;
  const uint32_t id = list->RegisterHandler(MethodOf<&Counter::Handle>(&c));
  std::atomic<int> disposed{0};
  list->Post(id, new Tracked(&disposed));
  EXPECT_EQ(disposed, 1) << "a post that cannot be delivered frees its parameter";
  auto* param = new Tracked(&disposed);
  std::atomic<int> sent{-1};
  std::thread([&] { sent = list->Send(id, param) ? 1 : 0; }).join();
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(list->QueuedCount(), 0) << "nothing is left to touch the caller's parameter";
  list->ProcessAllPosted();
  EXPECT_EQ(c.calls, 0);
  EXPECT_EQ(disposed, 1);
  param->Free();
}

TEST(TPostEventListEx, TicketsWrapToZeroAndProcessAllPostedRunsInOrderWithNotifiers) {
  auto list = MakeRef<OwnedList>();
  Recorder r;
  list->AddHandler(1, MethodOf<&Recorder::A>(&r));
  list->AddHandler(2, MethodOf<&Recorder::B>(&r));
  struct Notes {
    std::vector<uint32_t> codes;
    void First(uint32_t code, void*) { codes.push_back(code * 10 + 1); }
    void Second(uint32_t code, void*) { codes.push_back(code * 10 + 2); }
  } notes;
  auto* n1 = new TEventNotifier(list.Get(), MethodOf<&Notes::First>(&notes));
  auto* n2 = new TEventNotifier(list.Get(), MethodOf<&Notes::Second>(&notes));
  list->SetNextTicket(2147483647);
  list->Accepting = true;
  list->Post(1, nullptr);
  list->Post(2, nullptr);
  EXPECT_FALSE(list->ProcessPosted(5));
  EXPECT_TRUE(list->ProcessPosted(0)) << "the ticket after 2147483647 is 0";
  EXPECT_EQ(r.calls, (std::vector<std::string>{"B2"}));
  list->Post(1, nullptr);
  list->Post(2, nullptr);
  list->ProcessAllPosted();
  EXPECT_EQ(r.calls, (std::vector<std::string>{"B2", "A1", "A1", "B2"}));
  EXPECT_EQ(notes.codes.size(), 4u * 5 - 4);
  EXPECT_EQ((std::vector<uint32_t>(notes.codes.begin(), notes.codes.begin() + 4)),
            (std::vector<uint32_t>{11, 12, 21, 22}));
  n1->Free();
  n2->Free();
  EXPECT_EQ(list->Notifiers(), nullptr);
}
