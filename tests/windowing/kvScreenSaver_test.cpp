// Screen-saver mode and keeping the display on, seen through the headless
// backend's screen-saver state.
#include <gtest/gtest.h>

#include "foundation/SingleInstance.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/kvScreenSaver.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

class ScreenSaver : public ::testing::Test {
 protected:
  void SetUp() override {
    pw::setWindowBackend(nullptr);
    pw::headless().reset();
    InitScreenSaver();
  }
  void TearDown() override { DoneScreenSaver(); }
};

TEST(ScreenSaverBase, WithoutTheWindowLayerObjectEverythingAnswersFalse) {
  SetScreenSaverUtils(nullptr);
  TScreenSaverUtils* u = GetScreenSaverUtils();
  EXPECT_FALSE(u->EnterScreenSaverMode());
  EXPECT_FALSE(u->KeepDisplayOn());
  EXPECT_FALSE(u->RestoreDisplay());
  EXPECT_FALSE(u->IsSaverRunning());
  EXPECT_FALSE(pw::headless().inhibited());
  SetScreenSaverUtils(nullptr);
}

TEST_F(ScreenSaver, KeepDisplayOnTwiceHoldsTheSaverOffOnceAndRestoreGivesItBack) {
  TScreenSaverUtils* u = GetScreenSaverUtils();
  EXPECT_FALSE(u->RestoreDisplay()) << "nothing to restore yet";
  EXPECT_TRUE(u->KeepDisplayOn());
  EXPECT_TRUE(u->KeepDisplayOn());
  EXPECT_TRUE(pw::headless().inhibited());
  EXPECT_EQ(pw::headless().inhibitChanges(), 1);
  EXPECT_TRUE(u->RestoreDisplay());
  EXPECT_FALSE(pw::headless().inhibited());
  EXPECT_FALSE(u->RestoreDisplay());
}

TEST_F(ScreenSaver, ScreenSaverModeRefusesKeepingTheDisplayOn) {
  TScreenSaverUtils* u = GetScreenSaverUtils();
  EXPECT_TRUE(u->EnterScreenSaverMode());
  EXPECT_TRUE(pw::screenSaverRunningFlag());
  EXPECT_FALSE(u->KeepDisplayOn());
  EXPECT_FALSE(pw::headless().inhibited());
  EXPECT_FALSE(u->RestoreDisplay());
  EXPECT_TRUE(u->EnterScreenSaverMode());
  EXPECT_TRUE(u->IsSaverRunning());
  DoneScreenSaver();
  EXPECT_FALSE(pw::screenSaverRunningFlag()) << "the end undoes the running flag";
  InitScreenSaver();
}

TEST_F(ScreenSaver, TheEndGivesTheDisplayBackWhenTheRequestIsStillOn) {
  GetScreenSaverUtils()->KeepDisplayOn();
  ASSERT_TRUE(pw::headless().inhibited());
  DoneScreenSaver();
  EXPECT_FALSE(pw::headless().inhibited());
  EXPECT_FALSE(pw::screenSaverInhibited());
  InitScreenSaver();
}

TEST_F(ScreenSaver, SaverRunningFollowsTheSingleInstanceCheck) {
  foundation::CreateInstanceMutex();
  EXPECT_FALSE(GetScreenSaverUtils()->IsSaverRunning()) << "this process owns the instance";
}

}  // namespace
