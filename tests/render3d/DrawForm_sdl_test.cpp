// Drawn forms on real SDL windows (offscreen driver, EGL on llvmpipe): the
// software back end's picture reaches the screen through the window layer's
// paint pass, the Direct3D one through the device's present, and what the
// two windows show is read back from their framebuffers and compared.
#include "Render3DTestEnv.h"
#include "SampleDrawForm.h"

#include <algorithm>
#include <vector>

#include "platform/gpu/api.h"
#include "platform/window/api.h"
#include "render3d/Dev3DDrawForm.h"
#include "render3d/winDrawForm.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "windowing/Startup.h"
#include "text/winFontUtils.h"
#include "windowing/kvApplication.h"
#include "tests/support/GlDriverLeaks.h"

using namespace render3d;
using namespace render3d_test;
using foundation::TRect;
namespace pw = platform::window;

namespace {

constexpr int32_t kW = kSampleW, kH = kSampleH;

bool Accelerated() { return true; }

// What a window shows, as 0x00RRGGBB, rows from the top.
std::vector<uint32_t> Shown(pw::WindowBackend* backend, uintptr_t hwnd, int32_t& w, int32_t& h) {
  std::vector<uint8_t> bits;
  std::vector<uint32_t> px;
  if (!backend->presentedPixels(hwnd, w, h, bits)) return px;
  px.resize(size_t(w) * h);
  for (size_t i = 0; i < px.size(); ++i)
    px[i] = uint32_t(bits[i * 4 + 2]) << 16 | uint32_t(bits[i * 4 + 1]) << 8 | bits[i * 4];
  return px;
}

class DrawFormOnSdl : public ::testing::Test {
 protected:
  testsupport::ScopedFontBackend Fonts;
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Backend = pw::sdlWindowBackend();
    ASSERT_NE(Backend, nullptr);
    // The windowing library starts again on the backend chosen here.
    windowing::StopWindowing();
    Previous = pw::setWindowBackend(Backend);
    // The device presents into the forms' windows.
    platform::gpu::setGpuBackend(platform::gpu::linuxGpuBackend());
    platform::gpu::setNativeWindowHook([](uintptr_t h) { return pw::nativeWindowOf(h); });
    windowing::StartWindowing();
  }
  static void TearDownTestSuite() {
    windowing::StopWindowing();
    platform::gpu::setNativeWindowHook(nullptr);
    platform::gpu::setGpuBackend(platform::gpu::offscreenGpuBackend());
    Backend->shutdown();
    pw::setWindowBackend(Previous);
  }
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    // Only the font services, on the pinned fonts: the 3D layer's start-up
    // started the whole text library on the system's.
    text::StopText();
    text::InitWinFontUtils();
    windowing::ApplicationFactory();
    App = windowing::CurrentWinApplication();
    SetHardwareAcceleratedHook(&Accelerated);
    InstallWinSurfaceFactory();
    InstallDev3DSurfaceFactory();
  }
  void TearDown() override {
    RemoveDev3DSurfaceFactory();
    RemoveWinSurfaceFactory();
    InitDXDev3D();
    if (!App->Finalized()) App->Finalize();
    App->Free();
    text::DoneTextServices();
  }
  TSampleForm* ShowForm(bool accelerated, int32_t x) {
    auto* f = new TSampleForm(accelerated);
    f->SetBorderStyle(0);
    f->SetBoundsRect(TRect{x, 40, x + kW, 40 + kH});
    f->SetVisible(true);
    KeepGlDriverLoaded();
    return f;
  }
  // Runs what the windows have queued (paints, SDL's window events).
  void Pump() {
    pw::Msg m;
    for (int i = 0; i < 8; ++i)
      while (pw::peekMessage(m, 0, 0, 0, pw::PM_REMOVE)) {
        pw::translateMessage(m);
        pw::dispatchMessage(m);
      }
  }
  static pw::WindowBackend* Backend;
  static pw::WindowBackend* Previous;
  windowing::TWinApplication* App = nullptr;
};
pw::WindowBackend* DrawFormOnSdl::Backend = nullptr;
pw::WindowBackend* DrawFormOnSdl::Previous = nullptr;

// The software back end's picture is on the screen exactly as in the back
// surface, and within the back ends' tolerance of 2 per channel of the
// picture the device presents for the same form.
TEST_F(DrawFormOnSdl, BothBackEndsShowTheSamePictureOnScreen) {
  TSampleForm* soft = ShowForm(false, 20);
  TSampleForm* accel = ShowForm(true, 200);
  ASSERT_FALSE(soft->IsAccelerated());
  ASSERT_TRUE(accel->IsAccelerated());
  Pump();
  EXPECT_GE(soft->Paints, 1);
  EXPECT_GE(accel->Paints, 1);
  const uintptr_t softWindow = soft->Controller()->GetHandle(), accelWindow = accel->Controller()->GetHandle();

  int32_t w = 0, h = 0;
  const auto a = Shown(Backend, softWindow, w, h);
  ASSERT_EQ(w, kW);
  ASSERT_EQ(h, kH);
  int32_t bw = 0, bh = 0;
  std::vector<uint8_t> back;
  ASSERT_TRUE(pw::windowSurface(softWindow, bw, bh, back));
  ASSERT_EQ(bw, kW);
  ASSERT_EQ(bh, kH);
  int differ = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const uint32_t b = uint32_t(back[i * 4 + 2]) << 16 | uint32_t(back[i * 4 + 1]) << 8 | back[i * 4];
    if (a[i] != b) ++differ;
  }
  EXPECT_EQ(differ, 0) << "the screen shows the back surface unchanged";
  // The pictures are really there, the right way up.
  EXPECT_EQ(a[size_t(2) * kW + 44], 0x00005Au);
  EXPECT_EQ(a[size_t(44) * kW + 58], 0x203040u) << "the clipped picture ends at the clip";
  EXPECT_EQ(a[size_t(kH - 1) * kW + kW - 1], 0x203040u);

  const auto d = Shown(Backend, accelWindow, w, h);
  ASSERT_EQ(w, kW);
  ASSERT_EQ(h, kH);
  int worst = 0, over = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int diff = ChannelDiff(a[i], d[i]);
    worst = std::max(worst, diff);
    if (diff > 2) ++over;
  }
  EXPECT_EQ(over, 0) << "largest channel difference " << worst;

  soft->Free();
  accel->Free();
  Pump();
}

}  // namespace
