// The channel killer thread: instances handed to it are given back once
// finished, the later-added first within one pass; an Add wakes it at once.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/ChannelKiller.h"

using foundation::TRef;

namespace {

std::mutex gOrderLock;
std::vector<int> gOrder;
std::atomic<bool> gReleased{false};  // makes instances finish at one instant

class Instance : public audio::TPlaybackInstance {
 public:
  explicit Instance(int id) : Id(id) {}
  bool IsFinished() override { return Done.load() && gReleased.load(); }
  void Finished() override {
    std::lock_guard<std::mutex> guard(gOrderLock);
    gOrder.push_back(Id);
  }
  int Id;
  std::atomic<bool> Done{false};
};

std::vector<int> order() {
  std::lock_guard<std::mutex> guard(gOrderLock);
  return gOrder;
}

void waitFor(size_t n) {
  for (int i = 0; i < 3000 && order().size() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

TEST(ChannelKiller, FinishedInstancesGoBackLaterAddedFirst) {
  TRef<audio::TChannelKiller> killer = TRef<audio::TChannelKiller>::Adopt(new audio::TChannelKiller);
  TRef<Instance> a = TRef<Instance>::Adopt(new Instance(1));
  TRef<Instance> b = TRef<Instance>::Adopt(new Instance(2));
  TRef<Instance> c = TRef<Instance>::Adopt(new Instance(3));
  killer->Add(a.Get());
  killer->Add(b.Get());
  killer->Add(c.Get());
  for (int i = 0; i < 3000 && killer->PendingCount() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(killer->PendingCount(), 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_TRUE(order().empty());  // none finished: none handed back
  // Two finish in the same pass: both are handed back, the later-added first.
  a->Done = true;
  b->Done = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(order().empty());
  gReleased = true;
  waitFor(2);
  EXPECT_EQ(order(), (std::vector<int>{2, 1}));
  c->Done = true;
  waitFor(3);
  EXPECT_EQ(order(), (std::vector<int>{2, 1, 3}));
  EXPECT_EQ(killer->PendingCount(), 0);
}

TEST(ChannelKiller, TheProcessKillerIsMadeOnceAndEnds) {
  audio::TChannelKiller* first = audio::GetChannelKiller();
  EXPECT_EQ(audio::GetChannelKiller(), first);
  EXPECT_TRUE(first->IsRunning());
  audio::DoneChannelKiller();
}
