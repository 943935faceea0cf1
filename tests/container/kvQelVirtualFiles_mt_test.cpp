// Loader threads resolving the same link at once: each linker holds the link
// file without sharing, so unserialised linkers would refuse each other.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "AccessTestEnv.h"
#include "container/kvQelVirtualFiles.h"
#include "tests/support/TempTree.h"

namespace {

TEST(VirtualFilesThreads, TwoLoadersResolveOneLinkWithoutCollision) {
  qeltest::TempTree t;
  t.write("R/Frames/Frame2.png", "pic");
  t.write("R/Frame.png.qellnk", "item1=Frames\\Frame2.png\r\n");
  container::SetStoreRoots({t.internal("R")}, 0);
  const std::u16string expected = t.internal("R/Frames/Frame2.png");
  std::atomic<int> wrong{0}, raised{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 6; ++k)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        try {
          if (container::VirtualResolve(u"Frame.png") != expected) ++wrong;
        } catch (...) {
          ++raised;
        }
      }
    });
  for (auto& th : threads) th.join();
  container::SetStoreRoots({}, -1);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(raised.load(), 0);
  EXPECT_FALSE(t.exists("R/Frames/Frame2.png.qellnk"));
}

TEST(VirtualFilesThreads, ALinkWithItemsIsSeenByEveryThread) {
  qeltest::TempTree t;
  // The chain ends at the name itself, whose link file lists an item: every
  // lookup must open that link file, which is held without sharing.
  t.write("R/via.png.qellnk", "item1=\r\nitem2=Real.png\r\n");
  foundation::TRef<container::TVirtFileSystem> root =
      foundation::TRef<container::TVirtFileSystem>::Adopt(new container::TVirtFileSystem(t.internal("R"), false));
  std::atomic<int> missed{0}, raised{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 6; ++k)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        try {
          if (!root->Exists(u"via.png", false)) ++missed;
        } catch (...) {
          ++raised;
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(missed.load(), 0);
  EXPECT_EQ(raised.load(), 0);
  EXPECT_TRUE(t.exists("R/via.png.qellnk"));
}

}  // namespace
