// The start-up tables: needs first, steps in order, a second start does
// nothing, a stop undoes in reverse and stops only what its start started,
// and a failing step leaves nothing started.
#include "foundation/kvStartup.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using foundation::TLibraryStartup;
using foundation::TLibraryStartupRef;
using foundation::TStartupStep;

std::vector<std::string> g_log;
bool g_failB2 = false;

void InitA1() { g_log.push_back("+a1"); }
void DoneA1() { g_log.push_back("-a1"); }
void InitA2() { g_log.push_back("+a2"); }
void InitB1() { g_log.push_back("+b1"); }
void DoneB1() { g_log.push_back("-b1"); }
void InitB2() {
  if (g_failB2) throw std::runtime_error("b2 failed");
  g_log.push_back("+b2");
}
void DoneB2() { g_log.push_back("-b2"); }
void DoneB3() { g_log.push_back("-b3"); }
void InitC1() { g_log.push_back("+c1"); }
void DoneC1() { g_log.push_back("-c1"); }

// a <- b (needs a), a <- c (needs a), d needs b and c.
constexpr TStartupStep kStepsA[] = {{"a1", InitA1, DoneA1}, {"a2", InitA2, nullptr}};
constexpr TStartupStep kStepsB[] = {{"b1", InitB1, DoneB1}, {"b2", InitB2, DoneB2}, {"b3", nullptr, DoneB3}};
constexpr TStartupStep kStepsC[] = {{"c1", InitC1, DoneC1}};

TLibraryStartup& A();
TLibraryStartup& B();
TLibraryStartup& C();
constexpr TLibraryStartupRef kNeedsB[] = {&A};
constexpr TLibraryStartupRef kNeedsC[] = {&A};
constexpr TLibraryStartupRef kNeedsD[] = {&B, &C};

TLibraryStartup& A() {
  static TLibraryStartup s{"a", {}, kStepsA};
  return s;
}
TLibraryStartup& B() {
  static TLibraryStartup s{"b", kNeedsB, kStepsB};
  return s;
}
TLibraryStartup& C() {
  static TLibraryStartup s{"c", kNeedsC, kStepsC};
  return s;
}
TLibraryStartup& D() {
  static TLibraryStartup s{"d", kNeedsD, {}};
  return s;
}

class Startup : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    for (TLibraryStartup* l : {&D(), &C(), &B(), &A()}) foundation::StopLibrary(*l);
    g_log.clear();
    g_failB2 = false;
  }
  using Log = std::vector<std::string>;
};

TEST_F(Startup, NeedsStartFirstThenStepsInOrderAndStopReverses) {
  foundation::StartLibrary(B());
  EXPECT_EQ(g_log, (Log{"+a1", "+a2", "+b1", "+b2"}));
  EXPECT_TRUE(foundation::LibraryStarted(A()));
  EXPECT_TRUE(foundation::LibraryStarted(B()));
  g_log.clear();
  foundation::StopLibrary(B());
  EXPECT_EQ(g_log, (Log{"-b3", "-b2", "-b1", "-a1"}));
  EXPECT_FALSE(foundation::LibraryStarted(A()));
  EXPECT_FALSE(foundation::LibraryStarted(B()));
}

TEST_F(Startup, StartingTwiceAndStoppingTwiceDoNothing) {
  foundation::StartLibrary(B());
  foundation::StartLibrary(B());
  foundation::StartLibrary(A());
  EXPECT_EQ(g_log, (Log{"+a1", "+a2", "+b1", "+b2"}));
  foundation::StopLibrary(B());
  g_log.clear();
  foundation::StopLibrary(B());
  foundation::StopLibrary(A());
  EXPECT_TRUE(g_log.empty());
}

TEST_F(Startup, ASharedNeedStartsOnceAndStopsWithTheOneThatStartedIt) {
  foundation::StartLibrary(D());
  EXPECT_EQ(g_log, (Log{"+a1", "+a2", "+b1", "+b2", "+c1"}));
  g_log.clear();
  foundation::StopLibrary(D());
  // c stops before b (reverse of their start); a goes with b, which started it.
  EXPECT_EQ(g_log, (Log{"-c1", "-b3", "-b2", "-b1", "-a1"}));
}

TEST_F(Startup, AStopLeavesTheNeedsThatWereStartedBefore) {
  foundation::StartLibrary(A());
  foundation::StartLibrary(B());
  g_log.clear();
  foundation::StopLibrary(B());
  EXPECT_EQ(g_log, (Log{"-b3", "-b2", "-b1"}));
  EXPECT_TRUE(foundation::LibraryStarted(A()));
}

TEST_F(Startup, AFailingStepUndoesWhatRanAndLeavesNothingStarted) {
  g_failB2 = true;
  EXPECT_THROW(foundation::StartLibrary(B()), std::runtime_error);
  EXPECT_EQ(g_log, (Log{"+a1", "+a2", "+b1", "-b1", "-a1"}));
  EXPECT_FALSE(foundation::LibraryStarted(A()));
  EXPECT_FALSE(foundation::LibraryStarted(B()));
  // Mended, the same start runs whole.
  g_failB2 = false;
  g_log.clear();
  foundation::StartLibrary(B());
  EXPECT_EQ(g_log, (Log{"+a1", "+a2", "+b1", "+b2"}));
}

}  // namespace
