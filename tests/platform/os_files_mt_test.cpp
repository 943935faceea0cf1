// Closing a handle while another thread reads through it: the reader gets
// its own file's bytes or "invalid handle", never bytes of a file opened
// meanwhile on a reused descriptor number.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/errors.h"
#include "platform/os/files.h"
#include "tests/support/TempTree.h"

namespace os = platform::os;
using qeltest::TempTree;

TEST(OsFilesThreads, AHandleClosedUnderAReaderNeverReadsAnotherFile) {
  TempTree t;
  t.write("mine", std::string(4096, 'A'));
  t.write("other", std::string(4096, 'B'));
  std::atomic<long> foreign{0}, reads{0};
  for (int round = 0; round < 100; ++round) {
    os::Handle h = os::createFile(t.internal("mine"), os::GENERIC_READ, 7, os::OPEN_EXISTING, 0);
    ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
    std::atomic<bool> go{false};
    std::thread reader([&] {
      char buf[64];
      uint32_t first = 0;
      // One read before the close can begin, so every round reads.
      EXPECT_TRUE(os::readFile(h, buf, sizeof buf, &first));
      reads.fetch_add(1);
      go.store(true);
      for (;;) {
        uint32_t n = 0;
        if (!os::readFile(h, buf, sizeof buf, &n)) {
          EXPECT_EQ(os::getLastError(), os::ERROR_INVALID_HANDLE);
          return;
        }
        reads.fetch_add(1);
        for (uint32_t i = 0; i < n; ++i)
          if (buf[i] != 'A') foreign.fetch_add(1);
        if (n == 0) os::setFilePointer(h, 0, os::FILE_BEGIN);
      }
    });
    while (!go.load()) std::this_thread::yield();
    ASSERT_TRUE(os::closeHandle(h));
    // Opens that would take the freed descriptor number at once.
    std::vector<os::Handle> others;
    for (int i = 0; i < 4; ++i)
      others.push_back(os::createFile(t.internal("other"), os::GENERIC_READ, 7, os::OPEN_EXISTING, 0));
    reader.join();
    for (os::Handle o : others) os::closeHandle(o);
  }
  EXPECT_EQ(foreign.load(), 0);
  EXPECT_GE(reads.load(), 100);
}
