// Drawn forms through the Direct3D back end on the GL device (llvmpipe) and
// windows of the window layer (headless backend): the factory chain's order
// and its one retry with acceleration, the 3D drawer's views, and the same
// form drawn through the software back end and the 3D one, read back and
// compared within a small tolerance; a line of text measured and drawn
// through the platform's fonts is part of that form.
#include "Render3DTestEnv.h"
#include "SampleDrawForm.h"
#include "tests/render3d/HeadlessDrawForms.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "imaging/SysBitmapStore.h"
#include "platform/window/api.h"
#include "platform/window/headless/Window_headless.h"
#include "render3d/Dev3DDrawForm.h"
#include "render3d/kvImageText.h"
#include "render3d/winDrawForm.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "windowing/Startup.h"
#include "text/winFontUtils.h"
#include "windowing/kvApplication.h"

using namespace render3d;
using namespace render3d_test;
using foundation::TRect;
namespace pw = platform::window;

namespace {

constexpr int32_t kW = kSampleW, kH = kSampleH;

bool g_usable = true;
bool UsableHook() { return g_usable; }

// Every pixel as 0x00RRGGBB, rows from the top.
std::vector<uint32_t> WindowPixels(uintptr_t hwnd) {
  int32_t w = 0, h = 0;
  std::vector<uint8_t> bits;
  std::vector<uint32_t> px;
  if (!pw::windowSurface(hwnd, w, h, bits)) return px;
  px.resize(size_t(w) * h);
  for (size_t i = 0; i < px.size(); ++i)
    px[i] = uint32_t(bits[i * 4 + 2]) << 16 | uint32_t(bits[i * 4 + 1]) << 8 | bits[i * 4];
  return px;
}

std::vector<uint32_t> ScreenPixels(TDev3DDrawer* d) {
  T3DSurface* s = nullptr;
  if (!d->Screen->Renderer || !d->Screen->Renderer->GetBackBuffer(s)) return {};
  auto px = ReadBack(s);
  for (auto& p : px) p &= 0xFFFFFF;
  return px;
}

class DrawForm3D : public HeadlessDrawFormsTest {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    g_usable = true;
    StartForms(&UsableHook);
  }
  void TearDown() override { StopForms(); }
  TSampleForm* ShowForm(bool accelerated) {
    auto* f = new TSampleForm(accelerated);
    f->SetBorderStyle(0);
    f->SetBoundsRect(TRect{50, 40, 50 + kW, 40 + kH});
    f->SetVisible(true);
    return f;
  }
};

TEST_F(DrawForm3D, AcceleratedFormsDrawThroughTheScreenInsideAWindowSurface) {
  auto* f = new TSampleForm(true);
  auto* s = dynamic_cast<TWinDrawSurface*>(f->Surface);
  ASSERT_NE(s, nullptr);
  auto* d = dynamic_cast<TDev3DDrawer*>(s->Drawer);
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(f->IsAccelerated());
  EXPECT_EQ(d->Device->Handle, f->Controller()->GetHandle());
  // Not usable: the software drawer.
  g_usable = false;
  f->RecreateSurface(false);
  EXPECT_NE(dynamic_cast<TWinDevDrawer*>(f->Surface->Drawer), nullptr);
  EXPECT_FALSE(f->IsAccelerated());
  f->Free();
}

// An earlier entry that never makes a surface and counts its calls.
std::vector<bool> g_calls;
bool NeverMakes(TDrawForm*, bool accelerated) {
  g_calls.push_back(accelerated);
  return false;
}

class TBareForm : public TDrawForm {
 public:
  explicit TBareForm(bool accelerated) : TDrawForm(accelerated) {}
  void PaintSurface(TDevDrawSurface*) override {}
};

TEST_F(DrawForm3D, WithNothingElseTheEntryRetriesOnceWithAcceleration) {
  RemoveDev3DSurfaceFactory();
  RemoveWinSurfaceFactory();
  TSurfaceFactory saved = SetSurfaceFactory(&NeverMakes);
  InstallDev3DSurfaceFactory();
  g_usable = false;
  g_calls.clear();
  auto* f = new TBareForm(false);
  EXPECT_EQ(g_calls, (std::vector<bool>{false, true}));
  EXPECT_EQ(f->Surface, nullptr);
  f->Free();
  // Usable: the retry makes the 3D surface (the earlier entry still answers
  // False, and there is no third run).
  g_usable = true;
  g_calls.clear();
  f = new TBareForm(false);
  EXPECT_EQ(g_calls, (std::vector<bool>{false, true}));
  ASSERT_NE(f->Surface, nullptr);
  EXPECT_NE(dynamic_cast<TDev3DDrawer*>(f->Surface->Drawer), nullptr);
  f->Free();
  RemoveDev3DSurfaceFactory();
  SetSurfaceFactory(saved);
}

TEST_F(DrawForm3D, ViewsFollowTheClipAndFillsOutsideTheViewGoBackToTheFullView) {
  TSampleForm* f = ShowForm(true);
  auto* d = static_cast<TDev3DDrawer*>(f->Surface->Drawer);
  d->BeginPaint();
  EXPECT_EQ(d->ViewRect.Right, kW);
  EXPECT_EQ(d->ViewRect.Bottom, kH);
  d->SetView(TRect{-10, 5, 30, 200});  // clipped to the drawer
  EXPECT_EQ(d->ViewRect.Left, 0);
  EXPECT_EQ(d->ViewRect.Top, 5);
  EXPECT_EQ(d->ViewRect.Right, 30);
  EXPECT_EQ(d->ViewRect.Bottom, kH);
  d->FillRect(TRect{1, 6, 4, 9}, 0xFF00FF00);  // inside: the view stays
  EXPECT_EQ(d->ViewRect.Right, 30);
  d->FillRect(TRect{40, 6, 44, 9}, 0xFF00FF00);  // outside: the full view
  EXPECT_EQ(d->ViewRect.Right, kW);
  EXPECT_EQ(d->ViewRect.Top, 0);
  d->SetView(TRect{200, 200, 300, 300});  // outside the drawer: an empty view
  EXPECT_TRUE(DrawRectEmpty(d->ViewRect));
  TRect dirty;
  d->EndPaint(dirty);
  auto px = ScreenPixels(d);
  ASSERT_EQ(px.size(), size_t(kW) * kH);
  EXPECT_EQ(px[size_t(7) * kW + 2], 0x00FF00u);
  EXPECT_EQ(px[size_t(7) * kW + 41], 0x00FF00u);
  f->Free();
}

// An opaque fill that covers the whole drawer (also from outside it) fills
// every pixel; a translucent one blends over what is there (a quad, not a
// clear); alpha 0 draws nothing.
TEST_F(DrawForm3D, WholeDrawerFillsClearWhenOpaqueAndBlendOtherwise) {
  TSampleForm* f = ShowForm(true);
  auto* d = static_cast<TDev3DDrawer*>(f->Surface->Drawer);
  d->BeginPaint();
  d->FillRect(TRect{-5, -5, kW + 5, kH + 5}, 0xFF112233);
  d->FillRect(TRect{0, 0, kW, kH}, 0x80FFFFFF);
  d->FillRect(TRect{0, 0, kW - 1, kH}, 0xFF445566);
  d->FillRect(TRect{0, 0, kW, kH}, 0x00FFFFFF);
  TRect dirty;
  d->EndPaint(dirty);
  auto px = ScreenPixels(d);
  ASSERT_EQ(px.size(), size_t(kW) * kH);
  EXPECT_EQ(px[size_t(5) * kW + 5], 0x445566u);
  EXPECT_EQ(px[0], 0x445566u);
  // The last column: 0x112233 under white at 128/255.
  auto mix = [](int c) { return uint32_t(std::lround(c + (255 - c) * 128.0 / 255.0)); };
  const uint32_t expected = mix(0x11) << 16 | mix(0x22) << 8 | mix(0x33);
  for (int32_t y : {0, kH / 2, kH - 1}) {
    const uint32_t p = px[size_t(y) * kW + kW - 1];
    EXPECT_LE(ChannelDiff(p, expected), 1) << std::hex << p << " against " << expected;
  }
  f->Free();
}

// The same form through both back ends. The 3D device blends with a/255
// where the software drawer uses a/256 and truncates: channels may differ by
// at most 2. Pictures and text are mipmapped on the device and drawn 1:1,
// so a filter that mixes in the halved level shows here as well.
TEST_F(DrawForm3D, BothBackEndsGiveTheSamePicture) {
  TSampleForm* soft = ShowForm(false);
  TSampleForm* accel = ShowForm(true);
  ASSERT_FALSE(soft->IsAccelerated());
  ASSERT_TRUE(accel->IsAccelerated());
  EXPECT_GE(soft->Paints, 1);
  EXPECT_GE(accel->Paints, 1);
  auto a = WindowPixels(soft->Controller()->GetHandle());
  auto b = ScreenPixels(static_cast<TDev3DDrawer*>(accel->Surface->Drawer));
  ASSERT_EQ(a.size(), size_t(kW) * kH);
  ASSERT_EQ(b.size(), size_t(kW) * kH);
  int worst = 0, over = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int d = ChannelDiff(a[i], b[i]);
    worst = std::max(worst, d);
    if (d > 2) ++over;
  }
  EXPECT_EQ(over, 0) << "largest channel difference " << worst;
  // The pictures are really there (not two equal empty windows).
  EXPECT_EQ(a[size_t(2) * kW + 44], 0x00005Au);
  EXPECT_EQ(a[size_t(44) * kW + 58], 0x203040u) << "the clipped picture ends at the clip";
  // The text is drawn in dark pixels, all inside the box its element
  // measures through the fonts (position, extent and line height).
  text::TTextExtent extent;
  soft->Text->GetExtent(extent);
  text::TTextFontMetrics metrics;
  soft->Text->GetFontMetrics(metrics);
  ASSERT_GT(extent.Width, 20);
  ASSERT_GT(metrics.Height, 8);
  const TRect box{kTextAt.X - std::abs(extent.InkLeft), kTextAt.Y, kTextAt.X + extent.Width, kTextAt.Y + metrics.Height};
  int dark = 0, outside = 0;
  for (int32_t y = 50; y < kH; ++y)
    for (int32_t x = 0; x < 44; ++x) {
      const uint32_t p = a[size_t(y) * kW + x];
      if ((p >> 16 & 255) < 16 && (p >> 8 & 255) < 24 && (p & 255) < 32) {
        ++dark;
        if (x < box.Left || x >= box.Right || y < box.Top || y >= box.Bottom) ++outside;
      }
    }
  EXPECT_GT(dark, 20);
  EXPECT_EQ(outside, 0);
  soft->Free();
  accel->Free();
}

}  // namespace
