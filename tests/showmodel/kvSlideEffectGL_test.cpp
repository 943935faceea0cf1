// A transition drawn by an effect slide on the GL device (llvmpipe): the
// slides are the adapter's draw items, the factory finds the incoming
// slide behind its item and answers the effect slide's filter, and half way
// through the read-back shows the effect slide's own box beside its
// effect-buffer picture of the incoming slide, not a cross-fade of the two.
#include "showmodel/kvSlideEffect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render3d/Dev3DDrawer.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelEffect.h"
#include "showmodel/kvSlideProducer.h"
#include "tests/render3d/Render3DTestEnv.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/ShowFixture.h"

namespace {

using foundation::TRef;
using showmodel::TQelSlide;
using showmodel::TSlideProducer;

constexpr int32_t kW = 160, kH = 120;

// Slide 1 is solid red, slide 2 solid green and enters through "Split":
// an effect slide on its own blue background whose yellow box covers its
// left half and whose picture of the incoming slide (effect buffer 2) its
// right half. The definition's "TransparentBg" is filled in by the test
// (the section's own, the opposite, gives way to it).
const char* kShowTemplate =
    "[Main]\nopt_scr_width=160\nopt_scr_height=120\nobject TheEffect: AnEffect\n  time=1000\n"
    "  object Split: custom\n    slide_1=split\n    CustomEffBg=0\n    TransparentBg=%d\n  end\nend\n"
    "[Times]\nopt_slidescount=2\nopt_synchpos1=4000\nopt_synchpos2=8000\n"
    "[Slide1]\nbstyle=1\nbcolor=255\n"
    "[Slide2]\nbstyle=1\nbcolor=65280\nobject TheEffect: AnEffect\n  ref=Split\n  time=1000\nend\n"
    "[effect_split]\nCustomEffTime=1000\nCustomEffBg=0\nTransparentBg=%d\nopt_scr_width=160\nopt_scr_height=120\n"
    "bstyle=1\nbcolor=16711680\n"
    "object Container: Root\n"
    "  object In: Image\n    GUID={2}\n    ReplaceWithEffectBuffer=2\n"
    "    object K: KeyPoint\n      Time=0\n      ScaleX=50\n      ScaleY=100\n      Position=50,0\n    end\n  end\n"
    "  object Box: Box\n    GUID={3}\n    Size=160,120\n    Color1=#FFFF00\n"
    "    object K: KeyPoint\n      Time=0\n      ScaleX=50\n      ScaleY=100\n      Position=-50,0\n    end\n  end\n"
    "end\n";

int Ch(uint32_t c, int k) { return int((c >> (8 * k)) & 0xFF); }

class SlideEffectGL : public ::testing::Test {
 protected:
  void SetUp() override {
    render3d::T3DEngine* engine = render3d::Get3DEngine();
    ASSERT_NE(engine, nullptr);
    Device = engine->CreateOffscreenDevice(kW, kH);
    ASSERT_NE(Device, nullptr);
    S = new render3d::T3DScreen();
    S->AssignDevice(Device);
    ASSERT_TRUE(S->IsReady());
    D = new render3d::T3DDrawer(S);
    D->CreateShaders();
  }
  void TearDown() override {
    showmodel::DoneQel3DDrawer();
    showmodel::TQelSlide::PreloadTransitionHook = nullptr;
    render3d::SetSlideEffectHook(nullptr);
    if (D) D->Free();
    if (S) S->Free();
    if (Device) Device->Free();
  }
  static render3d::TViewState Full() {
    render3d::TViewState v;
    v.Viewport = {0, 0, kW, kH};
    v.Area = {0, 0, float(kW), float(kH)};
    v.Scale = {float(kW), float(kH)};
    return v;
  }
  std::vector<uint32_t> Frame(render3d::TDrawItem* out, render3d::TDrawItem* in, render3d::TTransitionState* st) {
    EXPECT_TRUE(S->BeginScene());
    D->PrepareRenderTargets();
    S->Clear(0xFFFF00FFu, false);  // magenta shows any pixel left unfilled
    D->DrawTransition(out, in, st, Full(), {float(kW), float(kH)});
    EXPECT_TRUE(S->EndScene(false));
    render3d::T3DSurface* s = nullptr;
    EXPECT_TRUE(S->Renderer->GetBackBuffer(s));
    return render3d_test::ReadBack(s);
  }
  render3d::TRendererDevice* Device = nullptr;
  render3d::T3DScreen* S = nullptr;
  render3d::T3DDrawer* D = nullptr;
};

std::string ShowText(int transparentBg) {
  char text[2048];
  std::snprintf(text, sizeof text, kShowTemplate, transparentBg, 1 - transparentBg);
  return text;
}

struct Case {
  int TransparentBg;
  uint32_t Right;  // the right half: the incoming slide, or with its background
                   // left out, the effect slide's own background through it
};

class HalfWay : public SlideEffectGL, public ::testing::WithParamInterface<Case> {};

TEST_P(HalfWay, TheEffectSlideIsDrawnNotACrossFade) {
  objtest::StartUnits();
  showmodel::InitQel3DDrawer();
  showmodel::InitSlideEffects();
  showtest::Show show(ShowText(GetParam().TransparentBg));
  auto producer = TRef<TSlideProducer>::Adopt(new TSlideProducer(show.Source.Get(), false, {}, nullptr));
  producer->SetTiming(TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0)).Get());
  producer->SetRenderSize(kW, kH, 100, 100, false);
  auto outgoing = TRef<TQelSlide>::Adopt(producer->CreateSlide(0, 0));
  auto incoming = TRef<TQelSlide>::Adopt(producer->CreateSlide(1, 0));
  ASSERT_TRUE(outgoing && incoming);
  outgoing->SetTime(3500, true);
  incoming->SetTime(0, true);
  showmodel::TQelFilter* t = incoming->Transition;
  ASSERT_TRUE(t && t->Effect);
  ASSERT_EQ(t->Effect->Kind, 12);

  showmodel::TQel3DDrawer adapter(D);
  auto outItem = TRef<render3d::TDrawItem>::Adopt(adapter.CreateItem(outgoing.Get()));
  auto inItem = TRef<render3d::TDrawItem>::Adopt(adapter.CreateItem(incoming.Get()));
  EXPECT_EQ(showmodel::TRealSlideFilter::SlideOfItem(inItem.Get()), incoming.Get());

  render3d::TEffectRecord record;
  render3d::TTransitionState st;
  showmodel::FillTransitionState(*t, t->Duration / 2, record, st);
  const std::vector<uint32_t> px = Frame(outItem.Get(), inItem.Get(), &st);
  ASSERT_NE(dynamic_cast<showmodel::TRealSlideFilter*>(st.Filter), nullptr);

  // Left half: the effect slide's yellow box; right half: the effect
  // buffer's picture. A cross-fade would give (128, 128, 0) everywhere.
  int left = 0, right = 0;
  for (int32_t y = 2; y < kH - 2; ++y)
    for (int32_t x = 2; x < kW - 2; ++x) {
      if (x >= 78 && x <= 82) continue;
      const uint32_t c = px[size_t(y) * kW + size_t(x)];
      const uint32_t want = x < 80 ? 0xFFFFFF00u : GetParam().Right;
      bool ok = true;
      for (int k = 0; k < 3; ++k) ok = ok && std::abs(Ch(c, k) - Ch(want, k)) <= 3;
      if (!ok) {
        if (x < 80)
          ++left;
        else
          ++right;
        if (left + right < 5) ADD_FAILURE() << x << "," << y << " " << std::hex << c;
      }
    }
  EXPECT_EQ(left, 0);
  EXPECT_EQ(right, 0);
}

INSTANTIATE_TEST_SUITE_P(SlideEffectGL, HalfWay,
                         ::testing::Values(Case{0, 0xFF00FF00u}, Case{1, 0xFF0000FFu}),
                         [](const auto& info) { return info.param.TransparentBg ? "WithoutSlideBackgrounds" : "WithSlideBackgrounds"; });

}  // namespace
