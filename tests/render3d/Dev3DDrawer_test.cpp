// The draw manager on the recording renderer: scenes opened once for a tree
// of items, the blur and sharpen dispatch, views restored, the shader stack
// and set, bounds tracking, capture, the fitting functions, and a raise
// inside an item's Draw that must not freeze the picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "imaging/Startup.h"
#include "render3d/Dev3DDrawer.h"
#include "tests/render3d/RecordingEngineEnv.h"
#include "tests/support/RecordingRenderer.h"

using namespace render3d;
using namespace render3d_test;

namespace {

// An item that runs a function when drawn and counts its Prepare calls.
class TFnItem : public TDrawItem {
 public:
  std::function<void(T3DDrawer*)> OnDraw;
  float Blur = 0;
  int Prepared = 0;
  int Drawn = 0;
  float GetBlurAmount() override { return Blur; }
  void Prepare() override { ++Prepared; }
  void Draw(T3DDrawer* d) override {
    ++Drawn;
    if (OnDraw) OnDraw(d);
  }
};

// The passes' hooks, recorded; the sharpen layer is a pooled target pushed
// on the screen as the real pass does.
class TTestDrawer : public T3DDrawer {
 public:
  using T3DDrawer::T3DDrawer;
  std::vector<std::string> Log;
  void RunBlurPass(TDrawItem* item, double radius) override {
    Log.push_back("blur " + std::to_string(radius));
    DrawItemInScene(item);
  }
  bool BeginSharpenLayer() override {
    Log.push_back("begin sharpen");
    SharpenView = View;
    SharpenTarget = TRef<TRenderTargetTexture>::Adopt(TargetPool->Get(Screen));
    Screen->PushRenderTarget(SharpenTarget.Get(), View.Viewport.Left, View.Viewport.Top);
    return true;
  }
  void EndSharpenLayer(double amount) override {
    Log.push_back("end sharpen " + std::to_string(amount));
    Screen->PopRenderTarget();
    SharpenTarget.Reset();
  }
};

class Drawer : public ::testing::Test {
 protected:
  void SetUp() override {
    Device = new TDrawDevice(7);
    Device->Bounds = {0, 0, 320, 200};
    S = new T3DScreen();
    S->AssignDevice(Device);
    D = new TTestDrawer(S);
    D->CreateShaders();
  }
  void TearDown() override {
    for (auto* o : Owned) o->Free();
    D->Free();
    S->Free();
    Device->Free();
  }
  TRecordingRenderer* R() { return static_cast<TRecordingRenderer*>(S->Renderer); }
  size_t Count(const std::string& prefix) {
    return size_t(std::count_if(R()->Calls.begin(), R()->Calls.end(),
                                [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
  template <class X>
  X* Own(X* x) {
    Owned.push_back(x);
    return x;
  }
  TFnItem* Item(std::function<void(T3DDrawer*)> f = {}, float blur = 0) {
    auto* i = new TFnItem();
    i->OnDraw = std::move(f);
    i->Blur = blur;
    Owned.push_back(i);
    return i;
  }
  TViewState Full() {
    TViewState v;
    v.Viewport = {0, 0, 320, 200};
    v.Area = {0, 0, 320, 200};
    v.Scale = {320, 200};
    return v;
  }
  TDrawDevice* Device = nullptr;
  T3DScreen* S = nullptr;
  TTestDrawer* D = nullptr;
  std::vector<foundation::TRefObject*> Owned;
};

TEST_F(Drawer, ShadersAreMadeOnceInTheirOrder) {
  EXPECT_EQ(Count("CreateShader pixel"), 16u);
  for (int i = 0; i < psShaderCount; ++i) EXPECT_NE(D->GetShader(TPixelShaderId(i)), nullptr);
  D->CreateShaders();
  EXPECT_EQ(Count("CreateShader pixel"), 16u);
  EXPECT_EQ(D->TargetPool->Size.X, 512);
  EXPECT_EQ(D->HalfPool->Size.X, 256);
  EXPECT_EQ(D->HalfPool->Size.Y, 128);
  EXPECT_TRUE(D->MotionPool->Wide);
}

// A tree of items: the scene opens once, nested items draw inside it, only
// the root's Prepare runs, and the frame presents once.
TEST_F(Drawer, TreeOfItemsOpensTheSceneOnce) {
  TFnItem* leaf = Item([](T3DDrawer* d) {
    d->Screen->DrawColorQuad({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, 1, 1, 1, 1);
  });
  TFnItem* mid = Item([&](T3DDrawer* d) {
    EXPECT_TRUE(d->DrawItemInScene(leaf));
    EXPECT_TRUE(d->DrawItemInScene(leaf));
  });
  TFnItem* root = Item([&](T3DDrawer* d) { EXPECT_TRUE(d->DrawItemInView(mid, Full())); });
  S->LastPresent -= 1000;
  EXPECT_TRUE(D->DrawItemInScene(root));
  EXPECT_EQ(leaf->Drawn, 2);
  EXPECT_EQ(root->Prepared, 1);
  EXPECT_EQ(mid->Prepared, 0);
  EXPECT_EQ(leaf->Prepared, 0);
  EXPECT_EQ(Count("BeginScene"), 1u);
  EXPECT_EQ(Count("EndScene"), 1u);
  EXPECT_EQ(Count("Present"), 1u);
  EXPECT_EQ(Count("DrawVertexList flags=6"), 2u);
  EXPECT_EQ(D->SceneDepth, 0);
  // In capture mode the frame is not presented.
  D->CaptureMode = 1;
  EXPECT_TRUE(D->DrawItemInScene(root));
  EXPECT_EQ(Count("Present"), 1u);
}

TEST_F(Drawer, NotReadyDrawsNothingButStillRunsTheScenePair) {
  g_engine->NewState = rsCreationPending;
  Device->Bounds = {0, 0, 300, 200};
  TFnItem* item = Item();
  EXPECT_FALSE(D->DrawItemInScene(item));
  g_engine->NewState = rsReady;
  EXPECT_EQ(item->Drawn, 0);
  EXPECT_EQ(item->Prepared, 1);
  EXPECT_EQ(S->SceneDepth, 0);
  EXPECT_FALSE(DrawerIsReady(nullptr));
}

TEST_F(Drawer, BlurAndSharpenDispatch) {
  struct Case {
    float amount;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {0.00001f, {"blur 0.000000"}},  // radius 1e-8: printed as 0
      {0.000009f, {}},
      {0.0f, {}},
      {500.0f, {"blur 0.500000"}},
      {-50.0f, {"begin sharpen", "end sharpen 0.500000"}},
  };
  for (const Case& c : cases) {
    D->Log.clear();
    TFnItem* item = Item({}, c.amount);
    EXPECT_TRUE(D->DrawItemInView(item, Full()));
    EXPECT_EQ(D->Log, c.log) << c.amount;
    EXPECT_EQ(item->Drawn, 1) << c.amount;
    EXPECT_FALSE(D->InEffects);
  }
  // Items drawn inside a pass are drawn plainly (no nested passes); bounds
  // tracking is on there.
  D->Log.clear();
  TFnItem* inner = Item([](T3DDrawer* d) { EXPECT_TRUE(d->InEffects); }, 300.0f);
  TFnItem* outer = Item([&](T3DDrawer* d) { d->DrawItemWithEffects(inner); }, 300.0f);
  D->DrawItemInView(outer, Full());
  EXPECT_EQ(D->Log, std::vector<std::string>{"blur 0.300000"});
  EXPECT_EQ(inner->Drawn, 1);
  // With a sharpen layer already open the item draws plainly.
  D->Log.clear();
  TFnItem* sharp = Item({}, -10.0f);
  TFnItem* host = Item([&](T3DDrawer* d) {
    d->SharpenTarget = TRef<TRenderTargetTexture>::Adopt(d->TargetPool->Get(d->Screen));
    d->DrawItemWithEffects(sharp);
    d->SharpenTarget.Reset();
  });
  D->DrawItemInView(host, Full());
  EXPECT_TRUE(D->Log.empty());
  EXPECT_EQ(sharp->Drawn, 1);
}

TEST_F(Drawer, ViewIsRestoredAlsoWhenDrawingRaises) {
  TViewState other = Full();
  other.Area = {10, 10, 170, 110};
  TFnItem* item = Item([](T3DDrawer* d) { EXPECT_FLOAT_EQ(d->Screen->View.Area.Left, 10); });
  S->BeginScene();
  TViewState before = S->GetViewState();
  D->DrawItemInView(item, other);
  EXPECT_FLOAT_EQ(S->GetViewState().Area.Left, before.Area.Left);
  TFnItem* bad = Item([](T3DDrawer*) { throw std::runtime_error("draw failed"); });
  EXPECT_THROW(D->DrawItemInView(bad, other), std::runtime_error);
  EXPECT_FLOAT_EQ(D->View.Area.Left, before.Area.Left);
  S->EndScene(false);
}

// A raise inside Draw ends the scene without presenting and unwinds the
// effect flag, the sharpen layer, pushed targets and shaders; the next frame
// draws and presents.
TEST_F(Drawer, RaiseInsideDrawDoesNotFreezeThePicture) {
  auto* pushed = Own(new TCustomTexture(S));
  pushed->SetKind(tkTargetArgb);
  pushed->SetSize(64, 64);
  TFnItem* bad = Item([&](T3DDrawer* d) {
    d->Screen->PushRenderTarget(pushed, 0, 0);
    d->PushShader(d->GetShader(psPremul4));
    throw std::runtime_error("broken item");
  }, -20.0f);
  EXPECT_THROW(D->DrawItemInView(bad, Full()), std::runtime_error);
  EXPECT_EQ(bad->Prepared, 1);
  EXPECT_EQ(D->SceneDepth, 0);
  EXPECT_EQ(S->SceneDepth, 0);
  EXPECT_FALSE(D->InEffects);
  EXPECT_EQ(D->SharpenTarget.Get(), nullptr);
  EXPECT_EQ(D->TargetPool->IdleCount(), 1);  // the layer's target went back
  EXPECT_TRUE(D->ShaderStack.empty());
  EXPECT_EQ(Count("EndScene"), 1u);
  EXPECT_EQ(Count("Present"), 0u);
  EXPECT_EQ(R()->Target, R()->Back);
  // The next frame is a normal one.
  S->LastPresent -= 1000;
  EXPECT_TRUE(D->DrawItemInScene(Item()));
  EXPECT_EQ(Count("Present"), 1u);
  EXPECT_EQ(S->RenderTargetDepth(), 1);
}

TEST_F(Drawer, ShaderStack) {
  S->BeginScene();
  R()->Calls.clear();
  D->PushShader(nullptr);  // empty stack: no shader, no failure
  D->PushShader(D->GetShader(psUnsharp));
  D->PushShader(D->GetShader(psPremul4));
  D->PushShader(nullptr);
  D->PushShader(nullptr);
  std::vector<std::string> expected = {"SetShader null", "SetShader set", "SetShader set", "SetShader set",
                                       "SetShader null"};
  EXPECT_EQ(R()->Calls, expected);
  EXPECT_TRUE(D->ShaderStack.empty());
  S->EndScene(false);
}

TEST_F(Drawer, ViewsOriginsAndScale) {
  S->BeginScene();
  D->PrepareRenderTargets();
  D->SetDrawOrigin({10.5f, 3.4f});
  EXPECT_EQ(D->View.Viewport.Left, 10);  // halfway goes to the even neighbour
  EXPECT_EQ(D->View.Viewport.Top, 3);
  EXPECT_EQ(D->View.Viewport.Right, 330);
  EXPECT_FLOAT_EQ(D->View.Origin.X, 10.5f);
  TViewState t;
  D->MakeTargetView(t, D->View);
  EXPECT_EQ(t.Viewport.Left, 0);
  EXPECT_EQ(t.Viewport.Right, 320);
  EXPECT_FLOAT_EQ(t.Origin.X, 0.5f);
  D->View.Scale = {0, 0};
  EXPECT_EQ(D->GetViewScale(), 1.0);
  D->View.Area = {0, 0, 640, 400};
  D->View.Scale = {320, 200};
  EXPECT_EQ(D->GetViewScale(), 2.0);
  D->View.Area = {0.5f, 1.5f, 2.5f, 3.49f};
  TRect b = D->GetViewBounds();
  EXPECT_EQ(b.Left, 0);
  EXPECT_EQ(b.Top, 2);
  EXPECT_EQ(b.Right, 2);
  EXPECT_EQ(b.Bottom, 3);
  S->EndScene(false);
}

TEST(FitSize, FitsKeepingTheAspect) {
  struct Case {
    TPoint a, b, fit, noEnlarge;
  };
  const Case cases[] = {
      {{400, 300}, {800, 800}, {800, 600}, {400, 300}},
      {{400, 300}, {200, 300}, {200, 150}, {200, 150}},
      {{300, 400}, {800, 800}, {600, 800}, {300, 400}},
      {{100, 100}, {50, 80}, {50, 50}, {50, 50}},
      {{3, 2}, {5, 5}, {5, 3}, {3, 2}},  // 10/3 = 3.33 -> 3
  };
  for (const Case& c : cases) {
    TPoint f = FitSizeInto(c.a, c.b), n = FitSizeIntoNoEnlarge(c.a, c.b);
    EXPECT_EQ(f.X, c.fit.X);
    EXPECT_EQ(f.Y, c.fit.Y);
    EXPECT_EQ(n.X, c.noEnlarge.X);
    EXPECT_EQ(n.Y, c.noEnlarge.Y);
  }
}

TEST_F(Drawer, BoundsTrackingOfFlatAndNearRectangles) {
  S->BeginScene();
  D->PrepareRenderTargets();
  D->View = Full();
  D->Camera = {160, 100, -200};
  D->InEffects = true;
  D->ResetDrawnBounds();
  // A flat rectangle at z = 0 maps one to one.
  D->AddDrawnRect({20, 30, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0.5f, 0, 40, 20.2f});
  EXPECT_EQ(D->DrawnBounds.Left, 20);
  EXPECT_EQ(D->DrawnBounds.Top, 30);
  EXPECT_EQ(D->DrawnBounds.Right, 60);
  EXPECT_EQ(D->DrawnBounds.Bottom, 51);
  // A second one widens them; bounds never leave the target.
  D->AddDrawnRect({300, 190, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 50, 50});
  EXPECT_EQ(D->DrawnBounds.Left, 20);
  EXPECT_EQ(D->DrawnBounds.Right, 320);
  EXPECT_EQ(D->DrawnBounds.Bottom, 200);
  // A view whose origin is moved draws everything moved: the bounds follow.
  D->View.Origin = {7, 5};
  D->ResetDrawnBounds();
  D->AddDrawnRect({20, 30, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 40, 20});
  EXPECT_EQ(D->DrawnBounds.Left, 27);
  EXPECT_EQ(D->DrawnBounds.Top, 35);
  EXPECT_EQ(D->DrawnBounds.Right, 67);
  EXPECT_EQ(D->DrawnBounds.Bottom, 55);
  D->View.Origin = {0, 0};
  // Content in front of the picture plane (z < 0) widens toward the whole
  // target: a = -100, P = -200: left becomes round(0.5 * 20) = 10.
  D->ResetDrawnBounds();
  D->AddDrawnRect({20, 30, -100}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 40, 20});
  int32_t l = D->DrawnBounds.Left;
  EXPECT_LT(l, 20);
  // A corner behind the camera snaps to the target's edge.
  D->ResetDrawnBounds();
  D->AddDrawnRect({200, 150, -300}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 10, 10});
  EXPECT_EQ(D->DrawnBounds.Right, 320);
  EXPECT_EQ(D->DrawnBounds.Bottom, 200);
  // Outside the passes nothing is tracked.
  D->InEffects = false;
  D->ResetDrawnBounds();
  D->AddDrawnRect({20, 30, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 40, 20});
  EXPECT_EQ(D->DrawnBounds.Left, INT32_MAX);
  S->EndScene(false);
}

TEST_F(Drawer, CaptureOutsideCaptureModeCopiesNothing) {
  imaging::TImage* img = D->CaptureScreen();
  ASSERT_NE(img, nullptr);
  img->Free();
  D->CaptureMode = 1;
  imaging::TImage* img2 = D->CaptureScreen();
  EXPECT_NE(img2, nullptr);  // the recording back buffer copies successfully
  if (img2) img2->Free();
  S->DropRenderer();
  EXPECT_EQ(D->CaptureScreen(), nullptr);
}

}  // namespace
