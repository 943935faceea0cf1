// Start-up of the window layer for the windowing tests: the headless
// backend, the window API, the hook manager and the application unit, once
// per program; each test makes its own application and finalises it.
#pragma once

#include <gtest/gtest.h>

#include "foundation/kpThreads2.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/kvApplication.h"

namespace windowing_test {

inline void StartWindowing() {
  static bool started = false;
  if (started) return;
  started = true;
  foundation::InitThreads2();
  platform::window::setWindowBackend(platform::window::headlessWindowBackend());
  windowing::InitWndAPI();
  windowing::InitHooks();
  windowing::InitWinApplication();
}

// Makes the application through the factory; the test finalises it by
// running the loop (or Finalize) and frees it at the end.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartWindowing();
    windowing::ApplicationFactory();
    app = windowing::CurrentWinApplication();
    ASSERT_NE(app, nullptr);
  }
  void TearDown() override {
    if (!app->Finalized()) app->Finalize();
    app->Free();
    EXPECT_EQ(windowing::Application, nullptr);
  }
  windowing::TWinApplication* app = nullptr;
};

}  // namespace windowing_test
