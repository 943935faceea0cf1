// Drawn forms on the headless window backend: the text services on the
// pinned fonts, a fresh application, and both draw-surface factories (the
// software one and the Direct3D one in front of it), with the test choosing
// whether the 3D device counts as usable.
#pragma once

#include <gtest/gtest.h>

#include "platform/window/api.h"
#include "platform/window/headless/Window_headless.h"
#include "render3d/DXDev3D.h"
#include "render3d/Dev3DCore.h"
#include "render3d/Dev3DDrawForm.h"
#include "render3d/winDrawForm.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/winFontUtils.h"
#include "windowing/Startup.h"
#include "windowing/kvApplication.h"

namespace render3d_test {

class HeadlessDrawFormsTest : public ::testing::Test {
 protected:
  // Call from SetUp after QEL_REQUIRE_PINNED_FONTS (which may skip the test).
  void StartForms(render3d::THardwareTest usable) {
    // Only the font services, on the pinned fonts: the 3D layer's start-up
    // started the whole text library on the system's.
    text::StopText();
    text::InitWinFontUtils();
    static bool once = false;
    if (!once) {
      once = true;
      // The windowing library starts again on the backend chosen here.
      windowing::StopWindowing();
      platform::window::setWindowBackend(platform::window::headlessWindowBackend());
      windowing::StartWindowing();
    }
    platform::window::headless().reset();
    windowing::ApplicationFactory();
    App = windowing::CurrentWinApplication();
    render3d::SetHardwareAcceleratedHook(usable);
    render3d::InstallWinSurfaceFactory();
    render3d::InstallDev3DSurfaceFactory();
  }
  void StopForms() {
    render3d::RemoveDev3DSurfaceFactory();
    render3d::RemoveWinSurfaceFactory();
    render3d::InitDXDev3D();  // the layer's own acceleration test again
    if (!App->Finalized()) App->Finalize();
    App->Free();
    text::DoneTextServices();
  }

  testsupport::ScopedFontBackend Fonts;
  windowing::TWinApplication* App = nullptr;
};

}  // namespace render3d_test
