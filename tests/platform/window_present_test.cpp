// Painted windows on the screen: what a paint pass blits into a window's DC
// is shown in the SDL window through GL, read back from the window's default
// framebuffer. Runs on SDL's offscreen video driver (EGL on llvmpipe).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/gpu/api.h"
#include "platform/os/threads.h"
#include "platform/window/api.h"
#include "tests/support/GlDriverLeaks.h"

using namespace platform::window;
namespace gpu = platform::gpu;

namespace {

struct Bgr {
  uint8_t b = 0, g = 0, r = 0;
  friend bool operator==(const Bgr&, const Bgr&) = default;
};
using Pattern = std::function<Bgr(int32_t x, int32_t y)>;

std::string Show(const Bgr& c) {
  return "(b " + std::to_string(c.b) + ", g " + std::to_string(c.g) + ", r " + std::to_string(c.r) + ")";
}

// A gradient that tells rows and columns apart, so a flipped, shifted or
// sheared picture shows.
Bgr Gradient(int32_t x, int32_t y) {
  return Bgr{static_cast<uint8_t>(x * 3 + 7), static_cast<uint8_t>(y * 5 + 11), static_cast<uint8_t>((x ^ y) * 2)};
}

LRESULT PlainProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  return defWindowProc(hwnd, message, wParam, lParam);
}

class PresentedWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    backend = sdlWindowBackend();
    ASSERT_NE(backend, nullptr);
    previous = setWindowBackend(backend);
    WndClass cls;
    cls.lpfnWndProc = &PlainProc;
    cls.className = u"Painted";
    ASSERT_NE(registerClass(cls), 0);
  }
  static void TearDownTestSuite() {
    unregisterClass(u"Painted", 0);
    backend->shutdown();
    setWindowBackend(previous);
  }

  void TearDown() override {
    if (window) destroyWindow(window);
    Msg m;
    while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
    }
  }

  void Open(int32_t w, int32_t h) {
    window = createWindowEx(0, u"Painted", u"", WS_POPUP | WS_VISIBLE, 10, 10, w, h, 0, 0, 0, nullptr);
    ASSERT_NE(window, 0u);
    ASSERT_NE(nativeWindowOf(window), nullptr);
    KeepGlDriverLoaded();
  }

  // One paint pass over rect that blits the pattern (24-bit source, as the
  // software drawer's back bitmap is) into the paint's DC.
  void Paint(const Rect& rect, const Pattern& pattern) {
    ASSERT_TRUE(invalidateRect(window, &rect, false));
    PaintStruct ps;
    const HDC dc = beginPaint(window, ps);
    ASSERT_NE(dc, 0u);
    ASSERT_EQ(ps.rcPaint, rect);
    const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
    const int32_t pitch = (w * 3 + 3) / 4 * 4;
    std::vector<uint8_t> bits(static_cast<size_t>(pitch) * h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const Bgr c = pattern(rect.left + x, rect.top + y);
        uint8_t* p = &bits[static_cast<size_t>(y) * pitch + x * 3];
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
      }
    const HDC src = createSurfaceDC(bits.data(), w, h, 24, pitch, false);
    ASSERT_NE(src, 0u);
    EXPECT_TRUE(bitBlt(dc, rect.left, rect.top, w, h, src, 0, 0, SRCCOPY));
    deleteDC(src);
    EXPECT_TRUE(endPaint(window, ps));
  }

  // Compares what the window shows with the expected picture, reporting the
  // first few differences.
  void ExpectShown(int32_t w, int32_t h, const Pattern& expected) {
    int32_t sw = 0, sh = 0;
    std::vector<uint8_t> px;
    ASSERT_TRUE(backend->presentedPixels(window, sw, sh, px));
    ASSERT_EQ(sw, w);
    ASSERT_EQ(sh, h);
    int wrong = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 4];
        const Bgr got{p[0], p[1], p[2]}, want = expected(x, y);
        if (got != want && ++wrong <= 5)
          ADD_FAILURE() << "at " << x << "," << y << ": " << Show(got) << " shown, " << Show(want) << " expected";
      }
    EXPECT_EQ(wrong, 0);
  }

  static WindowBackend* backend;
  static WindowBackend* previous;
  HWND window = 0;
};
WindowBackend* PresentedWindows::backend = nullptr;
WindowBackend* PresentedWindows::previous = nullptr;

TEST_F(PresentedWindows, AWholePaintIsShownTheRightWayUp) {
  Open(64, 48);
  Paint(Rect{0, 0, 64, 48}, &Gradient);
  ExpectShown(64, 48, &Gradient);
  EXPECT_EQ(pendingSurfaceChange(window), Rect{});
}

TEST_F(PresentedWindows, APartialPaintChangesOnlyItsRectangle) {
  Open(64, 48);
  const Bgr under{40, 80, 120}, over{200, 10, 90};
  Paint(Rect{0, 0, 64, 48}, [&](int32_t, int32_t) { return under; });
  // Off the left edge and narrower than a row, so the upload's row length
  // and start both matter.
  const Rect part{13, 7, 41, 30};
  Paint(part, [&](int32_t x, int32_t y) { return Gradient(x, y); });
  ExpectShown(64, 48, [&](int32_t x, int32_t y) {
    const bool inside = x >= part.left && x < part.right && y >= part.top && y < part.bottom;
    return inside ? Gradient(x, y) : under;
  });
  // A later full fill covers it again.
  Paint(Rect{0, 0, 64, 48}, [&](int32_t, int32_t) { return over; });
  ExpectShown(64, 48, [&](int32_t, int32_t) { return over; });
}

TEST_F(PresentedWindows, AResizedWindowShowsItsNewBackSurface) {
  Open(64, 48);
  Paint(Rect{0, 0, 64, 48}, [](int32_t, int32_t) { return Bgr{1, 2, 3}; });
  ASSERT_TRUE(setWindowPos(window, 0, 0, 0, 40, 30, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  Rect client;
  ASSERT_TRUE(getClientRect(window, client));
  ASSERT_EQ(client, (Rect{0, 0, 40, 30}));
  Paint(Rect{0, 0, 40, 30}, &Gradient);
  ExpectShown(40, 30, &Gradient);
}

TEST_F(PresentedWindows, GetDCDrawingIsShownAtReleaseDC) {
  Open(32, 32);
  Paint(Rect{0, 0, 32, 32}, [](int32_t, int32_t) { return Bgr{0, 0, 0}; });
  const HDC dc = getDC(window);
  ASSERT_NE(dc, 0u);
  const Bgr c{250, 128, 3};
  std::vector<uint8_t> bits(8 * 4 * 4);
  for (size_t i = 0; i < bits.size(); i += 4) {
    bits[i] = c.b;
    bits[i + 1] = c.g;
    bits[i + 2] = c.r;
    bits[i + 3] = 255;
  }
  const HDC src = createSurfaceDC(bits.data(), 8, 4, 32, 32, true);
  ASSERT_TRUE(bitBlt(dc, 20, 2, 8, 4, src, 0, 0, SRCCOPY));
  deleteDC(src);
  EXPECT_EQ(pendingSurfaceChange(window), (Rect{20, 2, 28, 6})) << "drawn, not shown yet";
  EXPECT_EQ(releaseDC(window, dc), 1);
  EXPECT_EQ(pendingSurfaceChange(window), Rect{});
  ExpectShown(32, 32, [&](int32_t x, int32_t y) { return x >= 20 && x < 28 && y >= 2 && y < 6 ? c : Bgr{}; });
}

// Drawing into a window that has no window on the screen yet waits for it;
// the window shows it when it is first shown, and is asked to paint as well.
TEST_F(PresentedWindows, DrawingBeforeTheFirstShowIsShownWithTheWindow) {
  window = createWindowEx(0, u"Painted", u"", WS_POPUP, 10, 10, 40, 24, 0, 0, 0, nullptr);
  ASSERT_NE(window, 0u);
  const HDC dc = getDC(window);
  ASSERT_NE(dc, 0u);
  std::vector<uint8_t> bits(40 * 3 * 24);
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const Bgr c = Gradient(x, y);
      bits[(y * 40 + x) * 3] = c.b;
      bits[(y * 40 + x) * 3 + 1] = c.g;
      bits[(y * 40 + x) * 3 + 2] = c.r;
    }
  const HDC src = createSurfaceDC(bits.data(), 40, 24, 24, 120, false);
  ASSERT_TRUE(bitBlt(dc, 0, 0, 40, 24, src, 0, 0, SRCCOPY));
  deleteDC(src);
  EXPECT_EQ(releaseDC(window, dc), 1);
  EXPECT_EQ(pendingSurfaceChange(window), (Rect{0, 0, 40, 24})) << "kept until the window is on the screen";
  Rect update;
  EXPECT_FALSE(getUpdateRect(window, update));
  showWindow(window, SW_SHOWNA);
  ASSERT_NE(nativeWindowOf(window), nullptr);
  KeepGlDriverLoaded();
  EXPECT_EQ(pendingSurfaceChange(window), Rect{});
  ExpectShown(40, 24, &Gradient);
  EXPECT_TRUE(getUpdateRect(window, update));
  EXPECT_EQ(update, (Rect{0, 0, 40, 24}));
}

// A window the graphics device presents into keeps its picture through paint
// passes that draw nothing (the device's own drawer validates the window the
// same way); the software path takes over only with a drawn paint.
TEST_F(PresentedWindows, APaintThatDrawsNothingLeavesTheDevicesPicture) {
  Open(48, 32);
  gpu::setGpuBackend(gpu::linuxGpuBackend());
  gpu::setNativeWindowHook([](uintptr_t h) { return nativeWindowOf(h); });
  gpu::Direct3D* d3d = gpu::direct3DCreate9Ex(gpu::D3D_SDK_VERSION);
  ASSERT_NE(d3d, nullptr) << "no GL 3.3 core context";
  gpu::PresentParameters pp;
  pp.backBufferWidth = 48;
  pp.backBufferHeight = 32;
  pp.backBufferFormat = gpu::D3DFMT_X8R8G8B8;
  pp.backBufferCount = 1;
  pp.swapEffect = gpu::D3DSWAPEFFECT_COPY;
  pp.deviceWindow = window;
  pp.windowed = true;
  gpu::Device* dev = nullptr;
  ASSERT_EQ(d3d->createDeviceEx(0, gpu::D3DDEVTYPE_HAL, window, 0x26, pp, nullptr, &dev), gpu::S_OK);
  ASSERT_EQ(dev->clear(0, nullptr, gpu::D3DCLEAR_TARGET, 0xFF3060C0, 0, 0), gpu::S_OK);
  ASSERT_EQ(dev->presentEx(nullptr, nullptr, 0, nullptr, 0), gpu::S_OK);
  const Bgr device{0xC0, 0x60, 0x30};
  ExpectShown(48, 32, [&](int32_t, int32_t) { return device; });

  ASSERT_TRUE(invalidateRect(window, nullptr, false));
  PaintStruct ps;
  ASSERT_NE(beginPaint(window, ps), 0u);
  EXPECT_TRUE(endPaint(window, ps));
  ExpectShown(48, 32, [&](int32_t, int32_t) { return device; });

  // The device still draws after the layer showed a painted picture.
  Paint(Rect{0, 0, 48, 32}, &Gradient);
  ExpectShown(48, 32, &Gradient);
  ASSERT_EQ(dev->clear(0, nullptr, gpu::D3DCLEAR_TARGET, 0xFF102030, 0, 0), gpu::S_OK);
  ASSERT_EQ(dev->presentEx(nullptr, nullptr, 0, nullptr, 0), gpu::S_OK);
  ExpectShown(48, 32, [](int32_t, int32_t) { return Bgr{0x30, 0x20, 0x10}; });

  dev->release();
  d3d->release();
  gpu::setNativeWindowHook(nullptr);
  gpu::setGpuBackend(nullptr);
}

}  // namespace
