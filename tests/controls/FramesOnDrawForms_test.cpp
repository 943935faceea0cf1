// A small frame tree painted through the drawn-form surfaces of both back
// ends (the software one and the Direct3D one on the GL device, llvmpipe,
// under the headless window layer) and read back: fills of clipped and
// unclipped frames and a style state's box picture land on the same pixels.
#include "tests/render3d/Render3DTestEnv.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "controls/kvControlStyles.h"
#include "controls/kvControlStylesUtils.h"
#include "controls/kvDrawFrames.h"
#include "foundation/kvStream.h"
#include "platform/window/api.h"
#include "platform/window/headless/Window_headless.h"
#include "render3d/Dev3DDrawForm.h"
#include "render3d/winDrawForm.h"
#include "tests/controls/FrameRig.h"
#include "tests/render3d/HeadlessDrawForms.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/winFontUtils.h"
#include "windowing/Startup.h"
#include "windowing/kvApplication.h"

using namespace render3d;
using controls::TRect;
using foundation::TRef;
namespace pw = platform::window;

namespace {

constexpr int32_t kW = 96, kH = 72;

// The largest difference of the colour channels of two 0x00RRGGBB pixels.
int ChannelDiff(uint32_t a, uint32_t b) {
  int m = 0;
  for (int shift : {0, 8, 16}) m = std::max(m, std::abs(int(a >> shift & 255) - int(b >> shift & 255)));
  return m;
}

bool g_usable = true;
bool UsableHook() { return g_usable; }

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
  auto px = render3d_test::ReadBack(s);
  for (auto& p : px) p &= 0xFFFFFF;
  return px;
}

// Paints a style state's picture at the frame's origin.
class TBoxHandler : public controls::TFrameHandler {
 public:
  TBoxHandler(controls::TStyleState* state, int32_t w, int32_t h) : W(w), H(h) { View = state->GetView(w, h); }
  void DisposeHandler() override {
    foundation::FreeAndNil(View);
    TFrameHandler::DisposeHandler();
  }
  void GetClientRect(TRect& r) override { r = TRect{0, 0, W, H}; }
  void Paint(render3d::TDrawSurfaceEx* s) override { View->Draw(s, 0, 0, s->ClipRect); }
  int32_t W, H;
  controls::TStageView* View = nullptr;  // holds one reference
};

// The tree: a background on the root; a clipping panel at (10, 10) showing
// (0, 0, 40, 30) of itself; inside it A at (5, 5) wholly visible, B at
// (30, 5) cut at the panel's edge and C at (60, 0) outside it; a button box
// of the light scheme at (60, 50).
class TFrameForm : public TDrawForm {
 public:
  TFrameForm(bool accelerated, controls::TStylesStore* store) : TDrawForm(accelerated) {
    Device = foundation::MakeRef<controls_test::TRecordingDevice>();
    Root = TRef<controls::TDrawFrame>::Adopt(controls::CreateRootFrame(Device.Get()));
    Add(Root.Get(), new controls_test::TRecordingHandler("bg", TRect{0, 0, kW, kH}, 0xFF203040));
    controls::TDrawFrame* panel = controls::InsertFrame(Root.Get(), 0);
    panel->SetPosition(10, 10);
    panel->SetClipping(true);
    panel->SetClipRect(TRect{0, 0, 40, 30});
    A = Add(controls::InsertFrame(panel, 0), new controls_test::TRecordingHandler("A", TRect{0, 0, 20, 10}, 0xFFF0E0D0));
    A->Frame->SetPosition(5, 5);
    B = Add(controls::InsertFrame(panel, 1), new controls_test::TRecordingHandler("B", TRect{0, 0, 20, 10}, 0xFF00C000));
    B->Frame->SetPosition(30, 5);
    C = Add(controls::InsertFrame(panel, 2), new controls_test::TRecordingHandler("C", TRect{0, 0, 10, 10}, 0xFFFF0000));
    C->Frame->SetPosition(60, 0);
    controls::TStyleState* state =
        store->GetStateByName(foundation::TByteString::FromBytes("btn"), u"def", 1.0f);
    auto* box = new TBoxHandler(state, 20, 12);
    box->SetFrame(controls::InsertFrame(Root.Get(), 1));
    box->Frame->SetPosition(60, 50);
    Handlers.push_back(box);
  }
  controls_test::TRecordingHandler* Add(controls::TDrawFrame* f, controls_test::TRecordingHandler* h) {
    h->SetFrame(f);
    Handlers.push_back(h);
    return h;
  }
  void Dispose() override {
    for (auto* h : Handlers) h->Free();
    Handlers.clear();
    Root.Reset();
    Device.Reset();
    TDrawForm::Dispose();
  }
  void PaintSurface(TDevDrawSurface* s) override {
    ++Paints;
    Device->UpdateFrames(Root.Get(), TPoint{0, 0}, TRect{0, 0, kW, kH});
    Device->PaintFrames(Root.Get(), s, s->Origin, s->ClipRect);
  }
  TRef<controls_test::TRecordingDevice> Device;
  TRef<controls::TDrawFrame> Root;
  std::vector<controls::TFrameHandler*> Handlers;  // each holds one reference
  controls_test::TRecordingHandler *A = nullptr, *B = nullptr, *C = nullptr;
  int Paints = 0;
};

class FramesOnForms : public render3d_test::HeadlessDrawFormsTest {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    StartForms(&UsableHook);
    auto text = foundation::MakeRef<foundation::TStringStream>(controls::BuiltInStylesText());
    Store = TRef<controls::TStylesStore>::Adopt(new controls::TStylesStore(text.Get(), u"lightcolors"));
  }
  void TearDown() override {
    Store.Reset();
    controls::DoneDrawFrames();
    controls::DoneControlStylesUtils();
    StopForms();
  }
  TFrameForm* ShowForm(bool accelerated) {
    auto* f = new TFrameForm(accelerated, Store.Get());
    f->SetBorderStyle(0);
    f->SetBoundsRect(foundation::TRect{50, 40, 50 + kW, 40 + kH});
    f->SetVisible(true);
    return f;
  }
  TRef<controls::TStylesStore> Store;
};

TEST_F(FramesOnForms, BothBackEndsShowTheTreeWithItsClips) {
  TFrameForm* soft = ShowForm(false);
  TFrameForm* accel = ShowForm(true);
  ASSERT_FALSE(soft->IsAccelerated());
  ASSERT_TRUE(accel->IsAccelerated());
  ASSERT_GE(soft->Paints, 1);
  ASSERT_GE(accel->Paints, 1);
  EXPECT_EQ(soft->C->Paints, 0);  // outside its panel's clip
  EXPECT_GE(soft->B->Paints, 1);
  const auto a = WindowPixels(soft->Controller()->GetHandle());
  const auto b = ScreenPixels(static_cast<TDev3DDrawer*>(accel->Surface->Drawer));
  ASSERT_EQ(a.size(), size_t(kW) * kH);
  ASSERT_EQ(b.size(), size_t(kW) * kH);
  struct Probe {
    int x, y;
    uint32_t rgb;
    const char* what;
  };
  const Probe probes[] = {
      {2, 2, 0x203040, "background"},
      {15, 15, 0xF0E0D0, "A's top-left"},
      {34, 24, 0xF0E0D0, "A's bottom-right"},
      {35, 15, 0x203040, "between A and B"},
      {40, 20, 0x00C000, "B's visible part"},
      {49, 24, 0x00C000, "B at the clip's last column"},
      {50, 20, 0x203040, "B cut off at the clip"},
      {75, 15, 0x203040, "C outside the clip"},
      {60, 50, 0xADADAD, "box frame corner"},
      {79, 61, 0xADADAD, "box frame far corner"},
      {61, 51, 0xE1E1E1, "box fill"},
      {70, 56, 0xE1E1E1, "box fill middle"},
      {80, 56, 0x203040, "right of the box"},
  };
  for (const auto& p : probes) {
    const size_t i = size_t(p.y) * kW + size_t(p.x);
    EXPECT_EQ(a[i], p.rgb) << "software: " << p.what;
    EXPECT_LE(ChannelDiff(b[i], p.rgb), 2) << "Direct3D: " << p.what << " " << std::hex << b[i];
  }
  // Moving the panel's child and painting again moves its pixels.
  soft->A->Frame->SetPosition(0, 0);
  soft->Paint(foundation::TRect{0, 0, kW, kH});
  const auto moved = WindowPixels(soft->Controller()->GetHandle());
  ASSERT_EQ(moved.size(), size_t(kW) * kH);
  EXPECT_EQ(moved[size_t(10) * kW + 10], 0xF0E0D0u);
  EXPECT_EQ(moved[size_t(24) * kW + 34], 0x203040u);
  soft->Free();
  accel->Free();
}

}  // namespace
