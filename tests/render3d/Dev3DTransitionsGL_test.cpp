// Transitions drawn on the GL device (llvmpipe) between two generated
// pictures through the factory, the effecter and the triangle controller,
// read back: at the start the outgoing picture, at the end the incoming one,
// in between no pixel left unfilled; filter reuse and the null answer of
// the factory; the effecter's drawing rectangle and edge copies.
#include <cstring>
#include <string>

#include "DrawerRig.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DEffects2.h"
#include "transitions/kvDrawEffects.h"

using namespace render3d;
using namespace render3d_test;

namespace {

// A slide: one picture filling the area at 1:1.
class TPictureItem : public TDrawItem {
 public:
  explicit TPictureItem(TCustomTexture* t) : Tex(t) {}
  void Draw(T3DDrawer* d) override {
    ++Drawn;
    d->Screen->DrawTextureRect(Tex, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0},
                               {0, 0, float(Tex->Width), float(Tex->Height)});
  }
  TCustomTexture* Tex;
  int Drawn = 0;
};

constexpr int32_t kW = 64, kH = 48;

std::vector<uint32_t> Picture(bool incoming) {
  std::vector<uint32_t> p(size_t(kW) * kH);
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x)
      p[size_t(y) * kW + x] = incoming ? 0xFF000000u | uint32_t(40 + y * 3) << 8 | uint32_t(200 - x)
                                       : 0xFF000000u | uint32_t(60 + x * 2) << 16 | uint32_t(30 + y);
  return p;
}

class TransitionsGL : public ::testing::Test, protected TDrawerRig {
 protected:
  void SetUp() override {
    Open(kW, kH);
    Out = Picture(false);
    In = Picture(true);
    OutTex = new TPixelTexture(S, kW, kH, Out);
    InTex = new TPixelTexture(S, kW, kH, In);
    OutItem = new TPictureItem(OutTex);
    InItem = new TPictureItem(InTex);
  }
  void TearDown() override {
    OutItem->Free();
    InItem->Free();
    OutTex->Free();
    InTex->Free();
    Close();
  }
  std::vector<uint32_t> Frame(TTransitionState* st) {
    EXPECT_TRUE(S->BeginScene());
    D->PrepareRenderTargets();
    S->Clear(0xFFFF00FFu, false);  // magenta shows any pixel left unfilled
    D->DrawTransition(OutItem, InItem, st, Full(), {float(kW), float(kH)});
    EXPECT_TRUE(S->EndScene(false));
    return Back();
  }
  // Pixels differing from the picture by more than tol in a channel.
  static int Differing(const std::vector<uint32_t>& px, const std::vector<uint32_t>& pic, int tol) {
    int bad = 0;
    for (size_t i = 0; i < pic.size(); ++i)
      for (int k = 0; k < 3; ++k)
        if (std::abs(Channel(px[i], k) - Channel(pic[i], k)) > tol) {
          ++bad;
          break;
        }
    return bad;
  }
  std::vector<uint32_t> Out, In;
  TPixelTexture *OutTex = nullptr, *InTex = nullptr;
  TPictureItem *OutItem = nullptr, *InItem = nullptr;
};

struct KindCase {
  int32_t Kind;
  int Flag;
  bool Flat;  // the picture is only masked or moved, never shaded
};

TEST_F(TransitionsGL, EveryKindStartsWithTheOutgoingAndEndsWithTheIncomingPicture) {
  const KindCase cases[] = {
      {1, -1, true}, {2, 6, true},  {2, 2, true},  {2, 3, true},  {3, 2, true},  {3, 3, true},  {3, 4, true},
      {4, 0, true},  {4, 2, true},  {4, 5, true},  {4, 7, true},  {5, 0, true},  {5, 1, true},  {5, 3, true},  {6, -1, true},
      {7, 0, false}, {7, 3, false}, {8, 1, false}, {8, 2, false}, {9, 3, false}, {9, 7, false}, {11, 1, false},
      {11, 3, false}, {10, 0, false}, {10, 2, false},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.Kind) + " option " + std::to_string(c.Flag));
    TEffectRecord e;
    e.Kind = c.Kind;
    e.Options.assign(12, false);
    if (c.Flag >= 0) e.Options[size_t(c.Flag)] = true;
    e.IntParams = {50, 50, 10, 7};
    e.FloatParams = {0.2f, 0.5f, 10.0f};
    TTransitionState st;
    st.Effect = &e;
    st.Duration = 1000;
    st.EdgeFactor = 0.1f;
    st.Position = 0;
    EXPECT_EQ(Differing(Frame(&st), Out, 3), 0);
    ASSERT_NE(st.Filter, nullptr);
    for (double pos : {250.0, 500.0, 750.0}) {
      st.Position = pos;
      auto px = Frame(&st);
      int holes = 0, unmixed = 0;
      for (size_t i = 0; i < px.size(); ++i) {
        if ((px[i] & 0xFFFFFF) == 0xFF00FF) ++holes;
        for (int k = 0; k < 3; ++k) {
          const int lo = std::min(Channel(Out[i], k), Channel(In[i], k)),
                    hi = std::max(Channel(Out[i], k), Channel(In[i], k));
          const int v = Channel(px[i], k);
          if (v < lo - 3 || v > hi + 3) {
            ++unmixed;
            break;
          }
        }
      }
      EXPECT_EQ(holes, 0) << "at " << pos;
      if (c.Flat) {
        EXPECT_EQ(unmixed, 0) << "at " << pos;
      }
    }
    st.Position = 1000;
    EXPECT_EQ(Differing(Frame(&st), In, 3), 0);
  }
}

// The device goes away between two frames of a running transition (the
// present of the frame at progress 0.5 reports the loss): the next frame at
// the same progress draws the same picture on the new renderer.
TEST_F(TransitionsGL, DeviceLostHalfwayTheNextFrameIsTheSamePicture) {
  const KindCase cases[] = {{1, -1, true},  {2, 6, true},   {4, 5, true},   {6, -1, true},
                            {7, 0, true},   {9, 3, false},  {10, 0, false}, {11, 1, false}};
  for (const KindCase& c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.Kind));
    TEffectRecord e;
    e.Kind = c.Kind;
    e.Options.assign(12, false);
    if (c.Flag >= 0) e.Options[size_t(c.Flag)] = true;
    e.IntParams = {50, 50, 10, 7};
    e.FloatParams = {0.2f, 0.5f, 10.0f};
    TTransitionState st;
    st.Effect = &e;
    st.Duration = 1000;
    st.EdgeFactor = 0.1f;
    st.Position = 250;
    Frame(&st);  // the transition is under way
    st.Position = 500;
    ASSERT_TRUE(S->BeginScene());
    D->PrepareRenderTargets();
    S->Clear(0xFFFF00FFu, false);
    D->DrawTransition(OutItem, InItem, &st, Full(), {float(kW), float(kH)});
    T3DSurface* back = nullptr;
    ASSERT_TRUE(S->Renderer->GetBackBuffer(back));
    const std::vector<uint32_t> before = ReadBack(back);
    T3DRenderer* lost = S->Renderer;
    platform::gpu::injectGpuFault(platform::gpu::GpuCall::Present, platform::gpu::D3DERR_DEVICELOST);
    S->EndScene(true);
    EXPECT_EQ(platform::gpu::pendingGpuFaults(), 0) << "the present never ran";
    EXPECT_NE(S->Renderer, lost);  // dropped: the next frame makes a new one
    const std::vector<uint32_t> after = Frame(&st);
    ASSERT_NE(S->Renderer, nullptr);
    EXPECT_EQ(Differing(after, before, 0), 0);
    EXPECT_GT(Differing(after, Out, 3), 0);  // really halfway, not a slide alone
    EXPECT_GT(Differing(after, In, 3), 0);
  }
}

TEST_F(TransitionsGL, CrossFadeHalfwayIsTheMeanOfBothPictures) {
  TEffectRecord e;
  e.Kind = 1;
  TTransitionState st;
  st.Effect = &e;
  st.Duration = 1000;
  st.Position = 500;
  auto px = Frame(&st);
  int bad = 0;
  for (size_t i = 0; i < px.size(); ++i)
    for (int k = 0; k < 3; ++k)
      if (std::abs(Channel(px[i], k) - (Channel(Out[i], k) + Channel(In[i], k)) / 2) > 2) {
        ++bad;
        break;
      }
  EXPECT_EQ(bad, 0);
}

// A factory answering null for a state: the incoming slide is drawn alone,
// no rectangle is written through the null filter, and the factory is not
// asked again while the rectangle stays.
int g_hookCalls = 0;
transitions::TDrawFilter* NullHook(TDrawItem*, foundation::TRefObject*) {
  ++g_hookCalls;
  return nullptr;
}

TEST_F(TransitionsGL, NullFilterDrawsTheIncomingSlideAndIsRemembered) {
  SetSlideEffectHook(&NullHook);
  TEffectRecord e;
  e.Kind = 12;
  TTransitionState st;
  st.Effect = &e;
  st.Duration = 1000;
  st.Position = 300;
  g_hookCalls = 0;
  EXPECT_EQ(Differing(Frame(&st), In, 3), 0);
  Frame(&st);
  Frame(&st);
  EXPECT_EQ(g_hookCalls, 1);
  EXPECT_EQ(st.Filter, nullptr);
  EXPECT_EQ(OutItem->Drawn, 0);
  SetSlideEffectHook(nullptr);
}

TEST_F(TransitionsGL, FilterIsKeptForTheSameAreaAndRemadeForAnother) {
  TEffectRecord e;
  e.Kind = 1;
  TTransitionState st;
  st.Effect = &e;
  st.Duration = 1000;
  st.Position = 100;
  Frame(&st);
  transitions::TDrawFilter* first = st.Filter;
  ASSERT_NE(first, nullptr);
  st.Position = 200;
  Frame(&st);
  EXPECT_EQ(st.Filter, first);
  EXPECT_EQ(st.Filter->DrawRect.Right, kW);
  // A new area (the window resized): a new filter for the new rectangle.
  ASSERT_TRUE(S->BeginScene());
  TViewState v = Full();
  v.Area = {0, 0, 32, 24};
  D->DrawTransition(OutItem, InItem, &st, v, {float(kW), float(kH)});
  S->EndScene(false);
  ASSERT_NE(st.Filter, nullptr);
  EXPECT_EQ(st.Filter->DrawRect.Right, 32);
  EXPECT_EQ(st.Filter->DrawRect.Bottom, 24);
}

TEST_F(TransitionsGL, WithoutStateOrBeforeTheStartOnlyOneSlideIsDrawn) {
  EXPECT_EQ(Differing(Frame(nullptr), Out, 3), 0);
  TEffectRecord e;
  e.Kind = 1;
  TTransitionState st;
  st.Effect = &e;
  st.Duration = 1000;
  st.Position = -5;
  EXPECT_EQ(Differing(Frame(&st), In, 3), 0);
  TTransitionState none;  // no effect
  none.Position = 10;
  EXPECT_EQ(Differing(Frame(&none), In, 3), 0);
}

TEST_F(TransitionsGL, EffecterDrawingRectangleAndEdgeCopies) {
  D->PrepareRenderTargets();
  TCustomD3DEffecter* eff = D->GetEffecter();
  eff->PrepareSlots(0);
  ASSERT_NE(eff->Slot0, nullptr);
  eff->SetClipRect({100, 100, 200, 200});
  TRect r = eff->DrawingRect(eff->Slot0);
  EXPECT_EQ(r.Left, INT32_MAX);
  EXPECT_EQ(r.Right, INT32_MIN);
  eff->SetClipRect({5, 6, 30, 20});
  r = eff->DrawingRect(eff->Slot0);
  EXPECT_EQ(r.Left, 5);
  EXPECT_EQ(r.Bottom, 20);
  // A 1 x 600 region: three bands of 256, 256 and 88 rows, one flush at the end.
  const int32_t before = eff->ScratchFlushes;
  eff->CopyRegion({0, 0}, {1, 600}, {1, 0});
  eff->ReplicateEdges({0, 0, eff->Slot0->Width, eff->Slot0->Height});  // fills the target: copies nothing more
  EXPECT_EQ(eff->ScratchFlushes, before + 1);
  eff->ReleaseSlots();
  EXPECT_EQ(eff->Slot0, nullptr);
}

TEST_F(TransitionsGL, ReplicatedEdgeAndTheGreyOutsideTheSlide) {
  // A 20 x 10 slide in the top-left corner of the slide target.
  std::vector<uint32_t> small(200);
  for (size_t i = 0; i < small.size(); ++i) small[i] = 0xFF000000u | (uint32_t(i * 1237u) & 0xFFFFFFu);
  auto* tex = new TPixelTexture(S, 20, 10, small);
  auto* item = new TPictureItem(tex);
  D->PrepareRenderTargets();
  TCustomD3DEffecter* eff = D->GetEffecter();
  eff->PrepareSlots(0);
  eff->SetClipRect({0, 0, 20, 10});
  ASSERT_TRUE(S->BeginScene());
  D->RenderForEffect(item, true, Full());
  S->EndScene(false);
  auto t = ReadBack(eff->Slot0->Texture->GetSurface(0));
  const int32_t tw = eff->Slot0->TexWidth;
  ASSERT_GT(tw, 21);
  for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(t[size_t(y) * tw + 20], small[size_t(y) * 20 + 19]) << y;
  for (int32_t x = 0; x < 20; ++x) EXPECT_EQ(t[size_t(10) * tw + x], small[size_t(9) * 20 + x]) << x;
  EXPECT_EQ(t[size_t(10) * tw + 20], small[199]);  // the corner from the copied column
  EXPECT_EQ(t[size_t(30) * tw + 40], 0x00808080u);  // grey with alpha 0 outside the slide
  EXPECT_EQ(t[size_t(11) * tw + 5], 0x00808080u);
  eff->ReleaseSlots();
  item->Free();
  tex->Free();
}

}  // namespace
