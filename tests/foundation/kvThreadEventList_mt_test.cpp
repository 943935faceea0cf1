// The thread message queue with a real owner thread: ownership of posted
// objects, senders that wait, and closing with messages in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/kvThreadEventList.h"
#include "tests/support/DisposalProbe.h"

using namespace foundation;
using platform::os::Event;
using platform::os::INFINITE;

namespace {

using Tracked = testsupport::TDisposalProbe<std::atomic<int>>;

struct Log {
  std::vector<int> order;
  std::atomic<int> registryCalls{0};
  bool handle = false;
  void Handler(TRefObject*, uint32_t id, TRefObject* param, bool& handled) {
    order.push_back(static_cast<int>(id));
    handled = handle;
  }
  void Registry(TRefObject*, uint32_t, TRefObject*) { ++registryCalls; }
};

// A list whose queued messages wake its owner.
class WakingList : public TThreadEventList {
 public:
  Event Queued{false, false};
  std::atomic<int> QueuedCount{0};
  void MessageQueued(bool) override {
    ++QueuedCount;
    Queued.set();
  }
};

}  // namespace

TEST(TThreadEventList, APostOwnsItsObjectASendDoesNot) {
  auto list = MakeRef<TThreadEventList>();
  Log log;
  list->Handler = MethodOf<&Log::Handler>(&log);
  std::atomic<int> disposed{0};
  list->Post(1, new Tracked(&disposed));
  auto* kept = new Tracked(&disposed);
  std::atomic<bool> sendReturned{false};
  std::thread sender([&] {
    EXPECT_TRUE(list->Send(2, kept));
    sendReturned = true;
  });
  // Drain until the sender is released.
  while (!sendReturned) list->ProcessMessages();
  sender.join();
  EXPECT_EQ(log.order, (std::vector<int>{1, 2}));
  EXPECT_EQ(disposed, 1) << "the posted param went with its message; the sent one stays the caller's";
  kept->Free();
  EXPECT_EQ(disposed, 2);
}

TEST(TThreadEventList, OrderOfMixedPostsAndSends) {
  auto list = MakeRef<WakingList>();
  Log log;
  list->Handler = MethodOf<&Log::Handler>(&log);
  std::thread owner([&] {
    while (log.order.size() < 4) {
      list->Queued.wait(INFINITE);
      list->ProcessMessages();
    }
  });
  list->Post(1, nullptr);
  EXPECT_TRUE(list->Send(2, nullptr));
  list->Post(3, nullptr);
  EXPECT_TRUE(list->Send(4, nullptr));
  owner.join();
  EXPECT_EQ(log.order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(TThreadEventList, HandledStopsTheRegistryHandlers) {
  auto list = MakeRef<TThreadEventList>();
  Log log;
  list->Handler = MethodOf<&Log::Handler>(&log);
  list->AddHandler(7, MethodOf<&Log::Registry>(&log));
  list->Post(7, nullptr);
  list->ProcessMessages();
  EXPECT_EQ(log.registryCalls, 1);
  log.handle = true;
  list->Post(7, nullptr);
  list->ProcessMessages();
  EXPECT_EQ(log.registryCalls, 1);
}

TEST(TThreadEventList, ClosedListFreesPostsAndRefusesSends) {
  auto list = MakeRef<TThreadEventList>();
  list->Close();
  EXPECT_TRUE(list->IsClosed());
  std::atomic<int> disposed{0};
  list->Post(1, new Tracked(&disposed));
  EXPECT_EQ(disposed, 1);
  auto* param = new Tracked(&disposed);
  EXPECT_FALSE(list->Send(1, param));
  EXPECT_EQ(disposed, 1) << "a refused send leaves its param alone";
  list->ProcessMessages();
  list->Open();
  EXPECT_FALSE(list->IsClosed());
  list->Post(1, param);
  list->Close();
  EXPECT_EQ(disposed, 2) << "closing drops what is still posted";
}

TEST(TThreadEventList, CloseReleasesAWaitingSender) {
  auto list = MakeRef<WakingList>();
  Log log;
  list->Handler = MethodOf<&Log::Handler>(&log);
  std::atomic<int> disposed{0};
  auto* param = new Tracked(&disposed);
  list->Post(1, new Tracked(&disposed));
  std::atomic<int> result{-1};
  std::thread sender([&] { result = list->Send(2, param) ? 1 : 0; });
  while (list->QueuedCount < 2) platform::os::yieldThread();  // the post and the send
  list->Close();
  sender.join();
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(log.order.empty()) << "nothing was handled";
  EXPECT_EQ(disposed, 1) << "the post was dropped, the sent param is untouched";
  param->Free();
}

TEST(TThreadEventList, ARegistryHandlerThatRaisesStillCompletesTheMessage) {
  struct Thrower {
    void Throw(TRefObject*, uint32_t, TRefObject*) { throw TCommonException(); }
  } t;
  auto list = MakeRef<WakingList>();
  list->AddHandler(5, MethodOf<&Thrower::Throw>(&t));
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    list->Send(5, nullptr);
    returned = true;
  });
  list->Queued.wait(INFINITE);
  EXPECT_THROW(list->ProcessMessages(), TCommonException);
  sender.join();
  EXPECT_TRUE(returned);
}

TEST(TThreadEventList, ManyPostersNothingLeaksOrRunsTwice) {
  auto list = MakeRef<WakingList>();
  std::atomic<int> disposed{0};
  struct Sum {
    std::atomic<int64_t> total{0};
    std::atomic<int> count{0};
    void Handle(TRefObject*, uint32_t, TRefObject* p, bool& handled) {
      total += static_cast<Tracked*>(p)->Value;
      ++count;
      handled = true;
    }
  } sum;
  list->Handler = MethodOf<&Sum::Handle>(&sum);
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    while (!stop) {
      list->Queued.wait(5);
      list->ProcessMessages();
    }
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&, t] {
      for (int i = 1; i <= 100; ++i) {
        list->Post(1, new Tracked(&disposed, t * 1000 + i));
      }
    });
  for (auto& p : posters) p.join();
  while (sum.count < 400) platform::os::yieldThread();
  stop = true;
  owner.join();
  EXPECT_EQ(sum.count, 400);
  EXPECT_EQ(sum.total, 4 * 5050 + 1000 * 100 * (0 + 1 + 2 + 3));
  EXPECT_EQ(disposed, 400);
}
