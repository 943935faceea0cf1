// Session lock tracking through the application window, with and without
// the session-notification entry points.
#include <gtest/gtest.h>

#include "WindowingFixture.h"
#include "windowing/kvSession.h"

using namespace windowing;
using windowing_test::AppTest;
namespace pw = platform::window;

namespace {

int g_registered = 0, g_unregistered = 0;
HWND g_registeredFor = 0;
bool RecordRegister(HWND wnd, uint32_t flags) {
  ++g_registered;
  g_registeredFor = wnd;
  return flags == 0;
}
bool RecordUnregister(HWND) {
  ++g_unregistered;
  return true;
}

void Deliver(HWND wnd, WPARAM code) {
  pw::postMessage(wnd, pw::WM_WTSSESSION_CHANGE, code, 0);
  CurrentWinApplication()->ProcessMessages();
}

TEST_F(AppTest, WithoutTheLibraryTheSessionIsNeverLocked) {
  DoneSession();
  EXPECT_FALSE(IsSessionLocked());
  Deliver(app->GetHandle(), 7);
  EXPECT_FALSE(IsSessionLocked());
  DoneSession();
}

TEST_F(AppTest, LockAndUnlockAreFollowedAndTheLoopsEndUnregisters) {
  DoneSession();
  pw::OptionalEntries e = pw::defaultOptionalEntries();
  e.wtsRegisterSessionNotification = &RecordRegister;
  e.wtsUnRegisterSessionNotification = &RecordUnregister;
  const pw::OptionalEntries previous = pw::setOptionalEntries(e);
  g_registered = g_unregistered = 0;
  EXPECT_FALSE(IsSessionLocked());
  EXPECT_EQ(g_registered, 1);
  EXPECT_EQ(g_registeredFor, app->GetHandle());
  Deliver(app->GetHandle(), 7);
  EXPECT_TRUE(IsSessionLocked());
  Deliver(app->GetHandle(), 3);  // a remote connect changes nothing
  EXPECT_TRUE(IsSessionLocked());
  Deliver(app->GetHandle(), 8);
  EXPECT_FALSE(IsSessionLocked());
  app->Terminate();
  app->Run();
  EXPECT_EQ(g_unregistered, 1);
  EXPECT_EQ(g_registered, 1) << "made once";
  DoneSession();
  pw::setOptionalEntries(previous);
}

}  // namespace
