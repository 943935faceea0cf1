// Drawn forms on windows of the window layer (headless backend) through the
// software back end: the window entry of the surface factory gives the form
// a window surface over a DIB drawer, showing the form paints it and blits
// the picture into the window's back surface, a later paint message only
// copies again, and freeing the surface lets go of the paint handler.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/kpThreads2.h"
#include "imaging/Startup.h"
#include "imaging/SysBitmapStore.h"
#include "platform/window/api.h"
#include "platform/window/headless/Window_headless.h"
#include "render3d/winDrawForm.h"
#include "windowing/kvApplication.h"

using namespace render3d;
using foundation::TRect;
namespace pw = platform::window;

namespace {

constexpr int32_t kW = 64, kH = 48;

// An image of 8 x 4 whose pixel (x, y) is (R, G, B) = (x * 30, y * 60, 200).
imaging::TImage* Gradient() {
  auto* b = imaging::CreateSysBitmap(8, 4, imaging::pfR8G8B8);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 8; ++x) {
      uint8_t* p = b->Row(y) + x * 3;
      p[0] = 200;
      p[1] = uint8_t(y * 60);
      p[2] = uint8_t(x * 30);
    }
  return imaging::WrapBitmapAsImage(b, true, u"gradient");
}

class TGdiForm : public TDrawForm {
 public:
  TGdiForm() : TDrawForm(false) {}
  void Dispose() override {
    if (Image) Image->Free();
    Image = nullptr;
    TDrawForm::Dispose();
  }
  void PaintSurface(TDevDrawSurface* s) override {
    ++Paints;
    s->FillRect(TRect{0, 0, kW, kH}, 0xFFFFFFFF);
    s->FillRect(TRect{4, 4, 14, 14}, 0xFFFF0000);
    s->FillRect(TRect{20, 4, 30, 14}, 0x800000FF);  // half-transparent blue over white
    s->DrawImageAt(Image, TRect{0, 0, kW, kH}, 40, 30);
  }
  imaging::TImage* Image = Gradient();
  int32_t Paints = 0;
};

struct TPixel {
  int R, G, B;
  friend bool operator==(const TPixel&, const TPixel&) = default;
};

class GdiForm : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool once = false;
    if (!once) {
      once = true;
      foundation::InitThreads2();
      pw::setWindowBackend(pw::headlessWindowBackend());
      windowing::InitWndAPI();
      windowing::InitHooks();
      windowing::InitWinApplication();
      imaging::StartImaging();
      windowing::InitWinForms();
    }
    pw::headless().reset();
    windowing::ApplicationFactory();
    App = windowing::CurrentWinApplication();
    InstallWinSurfaceFactory();
  }
  void TearDown() override {
    RemoveWinSurfaceFactory();
    if (!App->Finalized()) App->Finalize();
    App->Free();
  }
  // Shows the form borderless at (100, 100) with a client area of kW x kH.
  TGdiForm* ShowForm() {
    auto* f = new TGdiForm;
    f->SetBorderStyle(0);
    f->SetBoundsRect(TRect{100, 100, 100 + kW, 100 + kH});
    f->SetVisible(true);
    return f;
  }
  static TPixel At(uintptr_t hwnd, int32_t x, int32_t y) {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> bits;
    if (!pw::windowSurface(hwnd, w, h, bits) || x >= w || y >= h) return TPixel{-1, -1, -1};
    const uint8_t* p = &bits[(size_t(y) * w + x) * 4];
    return TPixel{p[2], p[1], p[0]};
  }
  windowing::TWinApplication* App = nullptr;
};

TEST_F(GdiForm, WindowFormsGetAWindowSurfaceOverADibDrawer) {
  auto* f = new TGdiForm;
  auto* s = dynamic_cast<TWinDrawSurface*>(f->Surface);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(dynamic_cast<TWinDevDrawer*>(s->Drawer), nullptr);
  EXPECT_FALSE(f->IsAccelerated());
  auto* ctl = static_cast<windowing::TWinFormController*>(f->Controller());
  EXPECT_TRUE(bool(ctl->PaintHandler));
  // Asking for acceleration without a 3D entry keeps a software surface,
  // whose paint handler is the new surface's.
  f->RecreateSurface(true);
  auto* again = dynamic_cast<TWinDrawSurface*>(f->Surface);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(ctl->PaintHandler == foundation::MethodOf<&TWinDrawSurface::HandlePaintMessage>(again));
  f->Free();
}

TEST_F(GdiForm, ShowingPaintsAndBlitsThePictureIntoTheWindow) {
  TGdiForm* f = ShowForm();
  const uintptr_t h = f->Controller()->GetHandle();
  auto* drawer = static_cast<TWinDevDrawer*>(f->Surface->Drawer);
  ASSERT_NE(drawer->Dib(), nullptr);
  EXPECT_EQ(drawer->Back->Width, kW);
  EXPECT_EQ(drawer->Back->Height, kH);
  EXPECT_GE(f->Paints, 1);
  EXPECT_EQ(At(h, 0, 0), (TPixel{255, 255, 255}));
  EXPECT_EQ(At(h, 4, 4), (TPixel{255, 0, 0}));
  EXPECT_EQ(At(h, 13, 13), (TPixel{255, 0, 0}));
  EXPECT_EQ(At(h, 14, 14), (TPixel{255, 255, 255}));
  // 255 + (128 * (0 - 255)) / 256 = 255 - 127 = 128 for red and green.
  EXPECT_EQ(At(h, 25, 9), (TPixel{128, 128, 255}));
  // The image lands 1:1 at (40, 30).
  EXPECT_EQ(At(h, 40, 30), (TPixel{0, 0, 200}));
  EXPECT_EQ(At(h, 47, 33), (TPixel{210, 180, 200}));
  EXPECT_EQ(At(h, 48, 33), (TPixel{255, 255, 255}));
  f->Free();
}

TEST_F(GdiForm, APaintMessageOfTheWindowCopiesAgainWithoutRepainting) {
  TGdiForm* f = ShowForm();
  const uintptr_t h = f->Controller()->GetHandle();
  const int32_t paints = f->Paints;
  // Wipe part of the window's back surface, as another window over it would.
  std::vector<uint8_t> black(size_t(kW) * kH * 3, 0);
  const pw::HDC src = pw::createSurfaceDC(black.data(), kW, kH, 24, kW * 3, false);
  const pw::HDC dc = pw::getDC(h);
  ASSERT_TRUE(pw::bitBlt(dc, 0, 0, 20, 20, src, 0, 0, pw::SRCCOPY));
  pw::releaseDC(h, dc);
  pw::deleteDC(src);
  ASSERT_EQ(At(h, 5, 5), (TPixel{0, 0, 0}));
  const pw::Rect r{0, 0, 10, 10};
  pw::invalidateRect(h, &r, false);
  pw::updateWindow(h);
  EXPECT_EQ(f->Paints, paints);
  EXPECT_EQ(At(h, 5, 5), (TPixel{255, 0, 0}));
  EXPECT_EQ(At(h, 15, 15), (TPixel{0, 0, 0})) << "only the paint rectangle is copied";
  f->Free();
}

// Presenting outside a paint message fetches the window's DC itself; a
// request for another window, or a drawer without a back bitmap, answers
// False without drawing.
TEST_F(GdiForm, PresentFetchesADcOutsidePaintAndRefusesWhatItCannotShow) {
  TGdiForm* f = ShowForm();
  const uintptr_t h = f->Controller()->GetHandle();
  auto* drawer = new TWinDevDrawer;
  drawer->SetBounds(h, TRect{10, 5, 30, 25});  // 20 x 20 at (10, 5) of the window
  drawer->Dirty = TRect{0, 0, 20, 20};
  drawer->FillRect(TRect{0, 0, 20, 20}, 0xFF00FF00);
  auto* p = new TRefreshParams;
  p->Window = h;
  p->Rect = TRect{12, 7, 16, 9};  // window coordinates
  EXPECT_TRUE(drawer->Present(p));
  EXPECT_EQ(At(h, 12, 7), (TPixel{0, 255, 0}));
  EXPECT_EQ(At(h, 15, 8), (TPixel{0, 255, 0}));
  EXPECT_EQ(At(h, 16, 8), (TPixel{255, 255, 255})) << "only the rectangle is copied";
  p->Window = h + 1;
  EXPECT_FALSE(drawer->Present(p));
  p->Window = h;
  drawer->SetBounds(h, TRect{10, 5, 10, 25});  // no width: no back bitmap
  EXPECT_EQ(drawer->Back, nullptr);
  EXPECT_FALSE(drawer->Present(p));
  p->Free();
  drawer->Free();
  f->Free();
}

TEST_F(GdiForm, FreeingTheFormLetsGoOfThePaintHandlerAndEndsTheApplication) {
  TGdiForm* f = ShowForm();
  auto* ctl = static_cast<windowing::TWinFormController*>(f->Controller());
  ASSERT_TRUE(bool(ctl->PaintHandler));
  TDevDrawSurface* s = f->Surface;
  f->SetSurface(nullptr);
  s->Free();
  EXPECT_FALSE(bool(ctl->PaintHandler));
  f->Free();
  EXPECT_TRUE(App->Terminated());
}

}  // namespace
