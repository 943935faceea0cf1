// The screen over injected monitors: the monitor list, the monitor from a
// rectangle, the desktop rectangle, cached pixels per inch and the
// single-monitor substitute.
#include <gtest/gtest.h>

#include "platform/window/headless/Window_headless.h"
#include "windowing/kpScreen.h"

using namespace windowing;
namespace pw = platform::window;
using pw::Rect;

namespace {

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pw::setWindowBackend(nullptr);
    pw::headless().reset();
    pw::MonitorDesc a, b;
    a.bounds = {0, 0, 1000, 800};
    a.work = {0, 0, 1000, 760};
    a.refreshHz = 144;
    a.bitsPerPixel = 24;
    a.dpiX = 144;
    a.dpiY = 120;
    b.bounds = {1000, 0, 2000, 800};
    b.work = {1000, 30, 2000, 800};
    pw::headless().setMonitors({a, b});
    DoneScreen();
  }
  void TearDown() override {
    DoneScreen();
    pw::headless().reset();
  }
};

TEST_F(ScreenTest, MonitorsInEnumerationOrderWithBoundsWorkAreaAndPrimary) {
  TScreen* s = GetScreen();
  ASSERT_EQ(s->GetMonitorCount(), 2);
  EXPECT_EQ(s->GetMonitor(2), nullptr);
  EXPECT_EQ(s->GetMonitor(-1), nullptr);
  EXPECT_EQ(kpScreen::TMonitor::GetBounds(s->GetMonitor(1)), (Rect{1000, 0, 2000, 800}));
  EXPECT_EQ(kpScreen::TMonitor::GetWorkArea(s->GetMonitor(1)), (Rect{1000, 30, 2000, 800}));
  EXPECT_TRUE(kpScreen::TMonitor::IsPrimary(s->GetMonitor(0)));
  EXPECT_FALSE(kpScreen::TMonitor::IsPrimary(s->GetMonitor(1)));
  EXPECT_EQ(kpScreen::TMonitor::GetBounds(nullptr), (Rect{2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1}));
  EXPECT_EQ(s->GetRefreshRate(), 144);
  EXPECT_EQ(s->GetColorDepth(), 24);
  EXPECT_EQ(s->GetSize(), (pw::Point{1000, 800}));
  Rect work;
  ASSERT_TRUE(s->GetWorkArea(work));
  EXPECT_EQ(work, (Rect{0, 0, 1000, 760}));
}

TEST_F(ScreenTest, MonitorFromRectTakesTheLargestOverlapAndTiesGoToTheLowerIndex) {
  TScreen* s = GetScreen();
  EXPECT_EQ(s->MonitorFromRect(Rect{900, 100, 1100, 200}), s->GetMonitor(0)) << "equal halves";
  EXPECT_EQ(s->MonitorFromRect(Rect{950, 100, 1100, 200}), s->GetMonitor(1));
  EXPECT_EQ(s->MonitorFromRect(Rect{3000, 0, 3100, 100}), nullptr);
  EXPECT_EQ(s->MonitorFromRect(Rect{10, 10, 10, 50}), nullptr) << "an empty rectangle";
}

TEST_F(ScreenTest, DesktopRectIsTheUnionOfTheMonitors) {
  Rect r = EmptyRect;
  GetScreen()->GetDesktopRect(r);
  EXPECT_EQ(r, (Rect{0, 0, 2000, 800}));
}

TEST_F(ScreenTest, PixelsPerInchAreReadOnce) {
  TScreen* s = GetScreen();
  EXPECT_EQ(s->GetPixelsPerInch(), 144);
  EXPECT_EQ(s->PixelsPerInchY(), 120);
  pw::MonitorDesc other;
  other.bounds = other.work = {0, 0, 10, 10};
  pw::headless().setMonitors({other});
  EXPECT_EQ(s->GetPixelsPerInch(), 144);
}

TEST_F(ScreenTest, WithoutTheMonitorFunctionsOneSubstituteMonitorIsPrimary) {
  pw::OptionalEntries e = pw::defaultOptionalEntries();
  e.enumDisplayMonitors = nullptr;
  e.getMonitorInfo = nullptr;
  const pw::OptionalEntries previous = pw::setOptionalEntries(e);
  TScreen* s = GetScreen();
  ASSERT_EQ(s->GetMonitorCount(), 1);
  EXPECT_EQ(s->GetMonitor(0)->Handle, SubstituteMonitor);
  EXPECT_TRUE(kpScreen::TMonitor::IsPrimary(s->GetMonitor(0)));
  EXPECT_EQ(kpScreen::TMonitor::GetBounds(s->GetMonitor(0)), (Rect{0, 0, 1000, 800}));
  EXPECT_EQ(kpScreen::TMonitor::GetWorkArea(s->GetMonitor(0)), (Rect{0, 0, 1000, 760}));
  EXPECT_EQ(GetMonitorRect(0x999), ZeroRect);
  kpScreen::TMonitor stranger(0x999, 5);
  EXPECT_EQ(kpScreen::TMonitor::GetWorkArea(&stranger), ZeroRect) << "a failed query";
  EXPECT_FALSE(kpScreen::TMonitor::IsPrimary(&stranger));
  pw::setOptionalEntries(previous);
}

}  // namespace
