// The fault-injection seam under concurrent writers: an armed short write is
// taken by exactly one writer, and the writers that race past it are whole.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/errors.h"
#include "platform/os/files.h"
#include "platform/os/testing/FaultInjection.h"
#include "tests/support/TempTree.h"

namespace os = platform::os;
using qeltest::TempTree;

TEST(OsFaults, OneArmedShortWriteIsTakenByExactlyOneOfManyWriters) {
  constexpr int kThreads = 6;
  constexpr int kWrites = 200;
  TempTree t;
  for (int round = 0; round < 5; ++round) {
    std::vector<os::Handle> handles;
    for (int i = 0; i < kThreads; ++i) {
      handles.push_back(os::createFile(t.internal("f" + std::to_string(i)), os::GENERIC_WRITE, 1,
                                       os::CREATE_ALWAYS, 0));
      ASSERT_NE(handles.back(), os::INVALID_HANDLE_VALUE);
    }
    std::atomic<int> shortWrites{0};
    std::atomic<int> go{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        while (go.load() == 0) std::this_thread::yield();
        for (int k = 0; k < kWrites; ++k) {
          uint32_t n = 0;
          if (!os::writeFile(handles[i], "abcd", 4, &n)) {
            EXPECT_EQ(n, 1u);
            EXPECT_EQ(os::getLastError(), os::ERROR_DISK_FULL);
            shortWrites.fetch_add(1);
          } else {
            EXPECT_EQ(n, 4u);
          }
        }
      });
    }
    os::testing::injectShortWrite(1);
    go.store(1);
    for (auto& th : threads) th.join();
    for (os::Handle h : handles) os::closeHandle(h);
    EXPECT_EQ(shortWrites.load(), 1) << "round " << round;
    os::testing::clearInjectedFaults();
  }
}
