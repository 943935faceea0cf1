#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/SysObj.h"

using namespace foundation;

namespace {

struct Counted : TRefObject {
  std::atomic<int>* disposed;
  explicit Counted(std::atomic<int>* d) : disposed(d) {}
  void Dispose() override {
    disposed->fetch_add(1);
    TRefObject::Dispose();
  }
};

// References taken and released on many threads: the object is disposed of
// exactly once, by whichever thread releases the last reference, and the
// live-object list survives concurrent allocation.
TEST(SysObjThreads, LastReleaseOnAnyThreadDisposesOnce) {
  constexpr int kThreads = 8, kObjects = 200;
  std::atomic<int> disposed{0};
  std::vector<Counted*> objects;
  for (int i = 0; i < kObjects; ++i) {
    auto* o = new Counted(&disposed);
    for (int t = 0; t < kThreads; ++t) o->_AddRef();
    objects.push_back(o);
  }
  const int live = LiveObjectCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (Counted* o : objects) {
        auto* tmp = new Counted(&disposed);  // concurrent list traffic
        o->_AddRef();
        o->_Release();
        o->Free();
        tmp->Free();
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(disposed.load(), kThreads * kObjects);  // the temporaries only
  EXPECT_EQ(LiveObjectCount(), live);
  for (Counted* o : objects) o->Free();
  EXPECT_EQ(disposed.load(), kThreads * kObjects + kObjects);
}

}  // namespace

namespace {

// Reads the shared reference from its own Dispose: a release made while the
// setter still held the lock would deadlock here.
struct Reentrant : TRefObject {
  TSharedRef<Reentrant>* owner;
  std::atomic<int>* disposed;
  int value;
  Reentrant(TSharedRef<Reentrant>* o, std::atomic<int>* d, int v) : owner(o), disposed(d), value(v) {}
  void Dispose() override {
    TRef<Reentrant> current = owner->Acquire();
    if (current.Get() == this) std::abort();  // never the object being disposed of
    disposed->fetch_add(1);
    TRefObject::Dispose();
  }
};

}  // namespace

// Readers acquire while a writer replaces the object: every reader sees a whole
// object (its value one the writer installed), every replaced object is disposed
// of exactly once, after the swap's lock is left, and none leaks.
TEST(SysObjThreads, SharedRefSwappedWhileReadersHoldIt) {
  constexpr int kReaders = 4, kSwaps = 2000;
  static TSharedRef<Reentrant> shared;  // a global in real use: never destroyed
  std::atomic<int> disposed{0};
  std::atomic<bool> done{false};
  std::atomic<long> bad{0}, seen{0};
  const int live = LiveObjectCount();
  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t)
    readers.emplace_back([&] {
      while (!done.load()) {
        TRef<Reentrant> r = shared.Acquire();
        if (!r) continue;
        if (r->value < 0 || r->value >= kSwaps || r->owner != &shared) bad.fetch_add(1);
        seen.fetch_add(1);
      }
    });
  for (int i = 0; i < kSwaps; ++i) shared.Set(MakeRef<Reentrant>(&shared, &disposed, i));
  done.store(true);
  for (auto& th : readers) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(disposed.load(), kSwaps - 1);  // the last one is still installed
  shared.Set(nullptr);
  EXPECT_EQ(disposed.load(), kSwaps);
  EXPECT_EQ(LiveObjectCount(), live);
}

namespace {

struct Small : TRefObject {
  uint64_t words[6];  // zero when made
  Small() {}
};

// Objects made on one thread and freed on another, many threads at once:
// every object starts zero-filled, none is handed out twice, and the
// live-object list counts them all back out.
TEST(SysObjThreads, SmallObjectsMadeAndFreedAcrossThreads) {
  constexpr int kThreads = 6, kRounds = 20, kPerRound = 500;
  const int live = LiveObjectCount();
  std::atomic<int> dirty{0};
  std::vector<std::vector<Small*>> handoff(kThreads);
  std::mutex lock;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        std::vector<Small*> made;
        for (int i = 0; i < kPerRound; ++i) {
          auto* s = new Small();
          for (uint64_t w : s->words)
            if (w) dirty.fetch_add(1);
          // A mark of its own: a block handed out twice would be overwritten.
          for (uint64_t& w : s->words) w = reinterpret_cast<uintptr_t>(s);
          made.push_back(s);
        }
        for (Small* s : made)
          for (uint64_t w : s->words)
            if (w != reinterpret_cast<uintptr_t>(s)) dirty.fetch_add(1);
        // Handed to the next thread; what this thread was handed is freed
        // here, every other one first, so slabs empty out of order.
        std::vector<Small*> mine;
        {
          std::lock_guard<std::mutex> guard(lock);
          auto& next = handoff[size_t((t + 1) % kThreads)];
          next.insert(next.end(), made.begin(), made.end());
          mine.swap(handoff[size_t(t)]);
        }
        for (size_t i = 0; i < mine.size(); i += 2) mine[i]->Free();
        for (size_t i = 1; i < mine.size(); i += 2) mine[i]->Free();
      }
    });
  for (auto& th : threads) th.join();
  for (auto& left : handoff)
    for (Small* s : left) s->Free();
  EXPECT_EQ(dirty.load(), 0);
  EXPECT_EQ(LiveObjectCount(), live);
}

}  // namespace
