// The screen, its textures and the quad batch on the recording renderer: the
// frame bracket and pacing, the render-target stack (with targets that could
// not be made), views, the render-target retry order, the draw-flag choice,
// the edge mesh and the projection routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "foundation/SysLock.h"
#include "foundation/kpLog.h"
#include "foundation/kvLog.h"
#include "imaging/Startup.h"
#include "platform/os/manual/Clock_manual.h"
#include "render3d/Dev3DRTPool.h"
#include "render3d/Dev3DScreen.h"
#include "tests/render3d/RecordingEngineEnv.h"
#include "tests/support/RecordingRenderer.h"

using namespace render3d;
using namespace render3d_test;

namespace {

class TCaptureLog : public foundation::TLog {
 public:
  std::vector<std::u16string>* Lines = nullptr;
  void Add(const std::u16string& text) override {
    if (Lines) Lines->push_back(text);
  }
};

// A managed texture that notes its releases in the renderer's call list.
class TNotedTexture : public TCustomTexture {
 public:
  TNotedTexture(T3DScreen* s, int32_t index) : TCustomTexture(s), Index(index) {}
  void ReleaseTexture() override {
    if (Texture && Screen && Screen->Renderer)
      static_cast<TRecordingRenderer*>(Screen->Renderer)->Calls.push_back("release " + std::to_string(Index));
    TCustomTexture::ReleaseTexture();
  }
  int32_t Index;
};

class Screen : public ::testing::Test {
 protected:
  void SetUp() override {
    Device = new TDrawDevice(7);
    Device->Bounds = {0, 0, 320, 200};
    S = new T3DScreen();
    S->AssignDevice(Device);
    ASSERT_NE(S->Renderer, nullptr);
  }
  void TearDown() override {
    for (auto* o : Owned) o->Free();
    S->Free();
    Device->Free();
  }
  TRecordingRenderer* R() { return static_cast<TRecordingRenderer*>(S->Renderer); }
  std::vector<std::string> Calls(const std::string& prefix) {
    std::vector<std::string> out;
    for (auto& c : R()->Calls)
      if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
  }
  template <class X>
  X* Own(X* x) {
    Owned.push_back(x);
    return x;
  }
  TDrawDevice* Device = nullptr;
  T3DScreen* S = nullptr;
  std::vector<foundation::TRefObject*> Owned;
};

TEST(ScreenPacing, FrameIntervalFromRefreshRate) {
  const std::pair<int, int> cases[] = {{0, 15}, {-5, 15}, {60, 15}, {61, 15}, {75, 12},
                                       {120, 7}, {144, 5}, {500, 1}, {1000, 1}};
  for (auto [rate, ms] : cases) EXPECT_EQ(FrameIntervalForRate(rate), ms) << rate;
}

TEST(ScreenPacing, PresentSleepsOneLessThanTheRestOfTheInterval) {
  platform::os::ScopedManualClock clock(1000);
  auto* device = new TDrawDevice(3);
  device->Bounds = {0, 0, 10, 10};
  auto* s = new T3DScreen();
  s->AssignDevice(device);
  s->FrameInterval = 15;
  s->LastPresent = foundation::SysTickMs();
  clock->advance(4);
  // 11 ms remain: the present sleeps 10 of them on the installed clock.
  std::thread t([&] { s->Present({0, 0, 10, 10}); });
  clock->waitForSleepers(1);
  clock->advance(10);
  t.join();
  EXPECT_EQ(s->LastPresent - 0, foundation::SysTickMs());
  auto* r = static_cast<TRecordingRenderer*>(s->Renderer);
  EXPECT_EQ(std::count(r->Calls.begin(), r->Calls.end(), "Present"), 1);
  // Long after the interval nothing sleeps (the call returns without time).
  clock->advance(100);
  EXPECT_TRUE(s->Present({0, 0, 10, 10}));
  s->Free();
  device->Free();
}

TEST_F(Screen, NestedScenesPresentOnlyAtTheOutermostEnd) {
  ASSERT_TRUE(S->BeginScene());
  ASSERT_TRUE(S->BeginScene());
  EXPECT_TRUE(S->EndScene(true));
  EXPECT_TRUE(Calls("Present").empty());
  S->LastPresent = foundation::SysTickMs() - 1000;
  EXPECT_TRUE(S->EndScene(true));
  EXPECT_EQ(Calls("BeginScene").size(), 1u);
  EXPECT_EQ(Calls("EndScene").size(), 1u);
  EXPECT_EQ(Calls("Present").size(), 1u);
  auto& c = R()->Calls;
  auto b = std::find(c.begin(), c.end(), "BeginScene"), e = std::find(c.begin(), c.end(), "EndScene");
  EXPECT_LT(b, e);
  EXPECT_LT(e, std::find(c.begin(), c.end(), "Present"));
  EXPECT_THROW(S->EndScene(false), foundation::EAssertionFailed);
}

TEST_F(Screen, NotReadyCountsDepthButDrawsNothing) {
  g_engine->NewState = rsCreationPending;
  Device->Bounds = {0, 0, 300, 200};  // a new size makes a new renderer
  EXPECT_FALSE(S->BeginScene());
  g_engine->NewState = rsReady;
  EXPECT_FALSE(S->IsReady());
  S->Clear(0xFF000000, false);
  S->DrawColorQuad({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, 1, 2, 3, 4);
  EXPECT_FALSE(S->EndScene(true));
  EXPECT_TRUE(R()->Calls.empty()) << R()->Calls.front();
}

TEST_F(Screen, BeginSceneRebuildsTheRendererOnlyWhenTheTargetChanged) {
  size_t made = g_engine->Made.size();
  ASSERT_TRUE(S->BeginScene());
  S->EndScene(false);
  EXPECT_EQ(g_engine->Made.size(), made);
  int dropped = 0;
  auto* ev = new TScreenEvent(S, [&](T3DScreen*, int32_t code, intptr_t) { dropped += code == 1; });
  Device->Bounds = {0, 0, 400, 300};
  ASSERT_TRUE(S->BeginScene());
  S->EndScene(false);
  EXPECT_EQ(g_engine->Made.size(), made + 1);
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(S->Bounds.Right, 400);
  ev->Free();
  EXPECT_EQ(S->Events, nullptr);
}

TEST_F(Screen, DestroyedDeviceLeavesTheRendererDrawing) {
  size_t made = g_engine->Made.size();
  Device->Free();
  Device = new TDrawDevice(8);
  EXPECT_EQ(S->Device, nullptr);
  EXPECT_EQ(S->Messenger, nullptr);
  ASSERT_TRUE(S->BeginScene());
  EXPECT_EQ(g_engine->Made.size(), made);
  S->EndScene(false);
  // Re-initialising now has no window.
  std::vector<std::u16string> lines;
  auto* log = new TCaptureLog();
  log->Lines = &lines;
  foundation::SetLog(log);
  S->InitRenderer();
  foundation::SetLog(nullptr);
  EXPECT_NE(std::find(lines.begin(), lines.end(), u"No window to draw"), lines.end());
  EXPECT_EQ(S->Renderer, nullptr);
}

TEST_F(Screen, EmptyViewportChangesNothing) {
  ASSERT_TRUE(S->BeginScene());
  TViewState before = S->GetViewState();
  size_t calls = R()->Calls.size();
  TViewState v = before;
  v.Viewport = {10, 10, 10, 50};
  v.OffsetX = 99;
  S->SetViewState(v);
  EXPECT_EQ(R()->Calls.size(), calls);
  EXPECT_EQ(S->GetViewState().OffsetX, before.OffsetX);
  S->EndScene(false);
}

TEST_F(Screen, RenderTargetStackPushesPopsAndKeepsTheBackBuffer) {
  ASSERT_TRUE(S->BeginScene());
  EXPECT_EQ(S->RenderTargetDepth(), 1);
  auto* rt = Own(new TCustomTexture(S));
  rt->SetKind(tkTargetArgb);
  rt->SetSize(100, 50);
  S->PushRenderTarget(rt, 5, 6);
  EXPECT_EQ(S->RenderTargetDepth(), 2);
  EXPECT_EQ(R()->Calls.back().rfind("SetTransform", 0), 0u);
  TRect r = S->GetRenderTargetRect();
  EXPECT_EQ(r.Left, 5);
  EXPECT_EQ(r.Right, 5 + 128);  // the device texture's extent
  EXPECT_EQ(S->GetViewState().Viewport.Right, 128);
  S->PopRenderTarget();
  EXPECT_EQ(S->RenderTargetDepth(), 1);
  EXPECT_EQ(R()->Target, R()->Back);
  S->PopRenderTarget();  // only the back buffer: it stays
  EXPECT_EQ(S->RenderTargetDepth(), 1);
  EXPECT_EQ(R()->Target, R()->Back);
  EXPECT_EQ(Calls("SetRenderTarget back").size(), 2u);
  S->EndScene(false);
}

// A target whose device texture cannot be made pushes an inert entry: the
// clears and draws under it do nothing, and its pop restores the target
// below instead of popping the back buffer's caller.
TEST_F(Screen, TargetThatCannotBeMadeIsInertAndKeepsTheStackBalanced) {
  ASSERT_TRUE(S->BeginScene());
  auto* outer = Own(new TCustomTexture(S));
  outer->SetKind(tkTargetArgb);
  outer->SetSize(64, 64);
  auto* huge = Own(new TCustomTexture(S));
  huge->SetKind(tkTargetArgb);
  huge->SetSize(100000, 64);
  S->PushRenderTarget(outer, 0, 0);
  ASSERT_EQ(Calls("SetRenderTarget texture").size(), 1u);
  R()->CreateResults = {rcInvalidCall};
  S->PushRenderTarget(huge, 0, 0);
  EXPECT_EQ(S->RenderTargetDepth(), 3);
  size_t before = R()->Calls.size();
  S->Clear(0xFFFF0000, false);
  S->FillRect(0xFFFF0000, {0, 0, 4, 4});
  S->DrawColorQuad({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, 1, 2, 3, 4);
  EXPECT_EQ(R()->Calls.size(), before) << R()->Calls.back();
  S->PopRenderTarget();
  EXPECT_EQ(S->RenderTargetDepth(), 2);
  EXPECT_NE(R()->Target, R()->Back);  // the outer target is current again
  S->Clear(0xFF00FF00, false);
  EXPECT_EQ(Calls("Clear").size(), 1u);
  S->PopRenderTarget();
  EXPECT_EQ(R()->Target, R()->Back);
  S->EndScene(false);
}

TEST(ScreenTextures, ExtentsAndSizes) {
  double rc = 0;
  EXPECT_EQ(GetTextureExtent(1, rc), 32);
  EXPECT_DOUBLE_EQ(rc, 1.0 / 32);
  EXPECT_EQ(GetTextureExtent(33, rc), 64);
  EXPECT_EQ(GetTextureExtent(512, rc), 512);
  EXPECT_EQ(GetTextureExtent(513, rc), 1024);
}

TEST_F(Screen, SetSizeAndMipmapReleaseOnlyWhenTheyMust) {
  auto* t = Own(new TNotedTexture(S, 1));
  t->SetSize(1, 1);
  EXPECT_EQ(t->TexWidth, 32);
  EXPECT_DOUBLE_EQ(t->ScaleU, 1.0 / 32);
  ASSERT_NE(t->GetTexture(), nullptr);
  t->Filled = true;  // as after a successful upload
  t->SetSize(1, 1);
  EXPECT_TRUE(Calls("release").empty());
  t->SetMipmapped(true);
  EXPECT_EQ(Calls("release").size(), 1u);
  t->GetTexture();
  t->Filled = true;
  t->SetMipmapped(false);
  t->SetMipmapped(true);
  EXPECT_EQ(Calls("release").size(), 1u);
  EXPECT_EQ(Calls("CreateTexture").back(), "CreateTexture kind=0 32x32 mip=1");
}

// The retry after an out-of-video-memory render target: the newest half of
// the managed textures first, then the next quarter, ..., down to the oldest
// (also when their number is a power of two), one attempt after each step.
TEST_F(Screen, RenderTargetRetryReleasesManagedTexturesNewestFirst) {
  struct Case {
    int n;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {1, {"release 0", "try"}},
      {8, {"release 7", "release 6", "release 5", "release 4", "try", "release 3", "release 2", "try", "release 1",
           "try", "release 0", "try"}},
      {10, {"release 9", "release 8", "release 7", "release 6", "release 5", "try", "release 4", "release 3",
            "release 2", "try", "release 1", "try", "release 0", "try"}},
  };
  for (const Case& c : cases) {
    std::vector<TNotedTexture*> managed;
    for (int i = 0; i < c.n; ++i) {
      managed.push_back(new TNotedTexture(S, i));
      managed.back()->SetSize(16, 16);
      ASSERT_NE(managed.back()->GetTexture(), nullptr);
    }
    auto* rt = new TCustomTexture(S);
    rt->SetKind(tkTargetArgb);
    rt->SetSize(64, 64);
    R()->Calls.clear();
    R()->CreateResults.assign(20, rcOutOfVideoMemory);
    EXPECT_EQ(rt->GetTexture(), nullptr);
    std::vector<std::string> seen;
    for (size_t i = 1; i < R()->Calls.size(); ++i)
      seen.push_back(R()->Calls[i].rfind("CreateTexture", 0) == 0 ? "try" : R()->Calls[i]);
    EXPECT_EQ(seen, c.expected) << "N = " << c.n;
    R()->CreateResults.clear();
    rt->Free();
    for (auto* m : managed) m->Free();
  }
}

TEST_F(Screen, RetryStopsAtTheFirstSuccessAndOnlyForOutOfMemory) {
  std::vector<TNotedTexture*> managed;
  for (int i = 0; i < 10; ++i) {
    managed.push_back(Own(new TNotedTexture(S, i)));
    managed.back()->SetSize(16, 16);
    managed.back()->GetTexture();
  }
  auto* rt = Own(new TCustomTexture(S));
  rt->SetKind(tkTargetXrgb);
  rt->SetSize(64, 64);
  R()->Calls.clear();
  R()->CreateResults = {rcInvalidCall};
  EXPECT_EQ(rt->GetTexture(), nullptr);
  EXPECT_EQ(R()->Calls.size(), 1u);  // no retry for another failure
  R()->Calls.clear();
  R()->CreateResults = {rcOutOfVideoMemory, rcOutOfVideoMemory, rcSuccess};
  EXPECT_NE(rt->GetTexture(), nullptr);
  EXPECT_EQ(Calls("release").size(), 8u);  // 9..5, then 4..2
  EXPECT_EQ(Calls("CreateTexture").size(), 3u);
  EXPECT_NE(managed[1]->Texture, nullptr);
  EXPECT_EQ(managed[2]->Texture, nullptr);
}

TEST_F(Screen, ReleaseResourcesDropsEveryDeviceObject) {
  auto* t = Own(new TCustomTexture(S));
  t->SetSize(8, 8);
  t->GetTexture();
  auto* sh = Own(new TShader(S, std::string("\4\0\0\0abcd", 8), false));
  EXPECT_NE(sh->DeviceShader, nullptr);
  S->BeginScene();
  S->EndScene(false);
  EXPECT_NE(S->QuadBatch->List, nullptr);
  S->ReleaseResources();
  EXPECT_EQ(t->Texture, nullptr);
  EXPECT_EQ(sh->DeviceShader, nullptr);
  EXPECT_EQ(S->QuadBatch->List, nullptr);
  // The next scene makes the shaders again.
  S->DropRenderer();
  S->BeginScene();
  EXPECT_NE(sh->DeviceShader, nullptr);
  S->EndScene(false);
}

TEST_F(Screen, ResourcesOutliveTheirScreenInert) {
  auto* t = new TCustomTexture(S);
  t->SetSize(8, 8);
  S->Free();
  S = new T3DScreen();
  EXPECT_EQ(t->Screen, nullptr);
  EXPECT_EQ(t->GetTexture(), nullptr);
  t->Free();
}

// ---- the quad batch ----

class TPlainTexture : public TCustomTexture {
 public:
  using TCustomTexture::TCustomTexture;
};

TEST_F(Screen, DrawFlagsFollowTexturesBlendAndPremultiplication) {
  ASSERT_TRUE(S->BeginScene());
  auto* a = Own(new TPlainTexture(S));
  a->SetSize(16, 16);
  auto* b = Own(new TPlainTexture(S));
  b->SetSize(16, 16);
  TFloatRect rect{0, 0, 16, 16};
  S->DrawColorQuad({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, 1, 2, 3, 4);
  S->DrawTextureRect(a, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, rect);
  // A plain single-texture batch: the translucent flag starts set.
  TVertexBuffer* q = S->QuadBatch.Get();
  TCustomTexture* one[1] = {a};
  TFloatPoint p{0, 0};
  q->SetTextures(one);
  q->AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {&p, 1}, {&p, 1}, {&p, 1}, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
  q->Flush();
  TCustomTexture* two[2] = {a, b};
  TFloatPoint pp[2] = {{0, 0}, {0, 0}};
  q->SetTextures(two);
  q->AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, pp, pp, pp, 1, 1, 1);
  q->Flush();
  b->SetPremultiplied(true);
  b->ReleaseTexture();
  q->SetTextures(two);
  q->AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, pp, pp, pp, 1, 1, 1);
  q->Flush();
  auto draws = Calls("DrawVertexList");
  ASSERT_EQ(draws.size(), 5u);
  EXPECT_EQ(draws[0], "DrawVertexList flags=6 textures=0 blend=0");
  EXPECT_EQ(draws[1], "DrawVertexList flags=7 textures=1 blend=0");
  EXPECT_EQ(draws[2], "DrawVertexList flags=5 textures=1 blend=0");
  EXPECT_EQ(draws[3], "DrawVertexList flags=1 textures=2 blend=0");
  EXPECT_EQ(draws[4], "DrawVertexList flags=7 textures=2 blend=0");
  // A transparent rectangle draws nothing and leaves the batch alone.
  a->Alpha = 0;
  S->DrawTextureRect(a, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, rect);
  EXPECT_EQ(Calls("DrawVertexList").size(), 5u);
  S->EndScene(false);
}

TEST_F(Screen, TextureQuadCornersAndCoordinates) {
  ASSERT_TRUE(S->BeginScene());
  auto* a = Own(new TPlainTexture(S));
  a->SetSize(64, 32);
  TCustomTexture* one[1] = {a};
  TFloatRect r{8, 4, 40, 20};
  S->DrawTextureQuad(one, {100, 50, 0}, {8, 4}, {2, 0, 0}, {0, 3, 0}, {&r, 1}, 0x11, 0x22, 0x33, 0x44);
  auto* vl = static_cast<TRecordingVertexList*>(S->QuadBatch->List);
  ASSERT_EQ(vl->PrimitiveCount, 2);
  const T3DVertex& lb = vl->Vertices[0];
  const T3DVertex& lt = vl->Vertices[1];
  const T3DVertex& rt = vl->Vertices[5];
  EXPECT_FLOAT_EQ(lb.X, 100);
  EXPECT_FLOAT_EQ(lb.Y, 50 + 3 * 16);
  EXPECT_EQ(lb.Diffuse, 0x11u);
  EXPECT_EQ(lt.Diffuse, 0x22u);
  EXPECT_FLOAT_EQ(rt.X, 100 + 2 * 32);
  EXPECT_EQ(rt.Diffuse, 0x44u);
  EXPECT_FLOAT_EQ(rt.TexCoords[0][0], 40.0f / 64);
  EXPECT_FLOAT_EQ(rt.TexCoords[0][1], 4.0f / 32);
  S->EndScene(false);
}

TEST_F(Screen, LongSingleTextureBatchesAreDrawnInPieces) {
  ASSERT_TRUE(S->BeginScene());
  auto* a = Own(new TPlainTexture(S));
  a->SetSize(16, 16);
  TCustomTexture* one[1] = {a};
  TFloatPoint p{0, 0};
  TVertexBuffer* q = S->QuadBatch.Get();
  q->SetTextures(one);
  for (int i = 0; i < 70; ++i)
    q->AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {&p, 1}, {&p, 1}, {&p, 1}, 1, 1, 1);
  q->Flush();
  EXPECT_EQ(Calls("DrawVertexList").size(), 3u);  // 32 + 32 + 6
  TCustomTexture* two[2] = {a, a};
  TFloatPoint pp[2] = {};
  q->SetTextures(two);
  for (int i = 0; i < 32; ++i) q->AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, pp, pp, pp, 1, 1, 1);
  EXPECT_THROW(q->AddTriangle({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, pp, pp, pp, 1, 1, 1), foundation::EAssertionFailed);
  q->Flush();
  S->EndScene(false);
}

// ---- edge mesh and projections ----

TEST_F(Screen, EdgeMeshTriangleCounts) {
  ASSERT_TRUE(S->BeginScene());
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  T3DPoint camera{160, 100, -200};
  T3DScreen::TEdgeMesh mesh;
  auto count = [&](uint8_t flags, const TAffineFrame3D& pl) {
    S->BuildEdgeMesh(mesh, pl, {0, 0}, camera, {10, 10, 60, 40}, flags);
    S->DrawEdgeMesh({}, mesh, 0xFF112233, 0xFF112233, 0xFF112233, 0xFF112233, flags);
    return static_cast<TRecordingVertexList*>(S->QuadBatch->List)->PrimitiveCount;
  };
  EXPECT_EQ(count(15, plane), 18);
  EXPECT_EQ(count(0, plane), 2);
  EXPECT_EQ(count(1, plane), 4);
  // Ring vertices one screen pixel outside, with alpha 0; the inner ones keep theirs.
  S->BuildEdgeMesh(mesh, plane, {0, 0}, camera, {10, 10, 60, 40}, 15);
  EXPECT_NEAR(mesh.Vertices[4].X, 9, 1e-4);
  EXPECT_NEAR(mesh.Vertices[1].Y, 9, 1e-4);
  EXPECT_NEAR(mesh.Vertices[11].X, 61, 1e-4);
  EXPECT_NEAR(mesh.Vertices[14].Y, 41, 1e-4);
  EXPECT_EQ(mesh.TexPoints[0].X, 10);
  EXPECT_EQ(mesh.TexPoints[15].Y, 40);
  // Seen exactly edge-on (the plane turned 90 degrees about y, camera on its line): no ring.
  TAffineFrame3D edgeOn;
  foundation::InitAffineFrame3D(edgeOn, {160, 0, 0}, {0, 0, 1}, {0, 1, 0}, {-1, 0, 0});
  S->BuildEdgeMesh(mesh, edgeOn, {0, 0}, {160, 100, -200}, {0, 0, 50, 30}, 15);
  EXPECT_FLOAT_EQ(mesh.Vertices[0].X, mesh.Vertices[5].X);
  EXPECT_FLOAT_EQ(mesh.Vertices[0].Z, mesh.Vertices[5].Z);
  S->EndScene(false);
}

TEST(Projection, ProjectPointAndItsGuard) {
  TFloatPoint p = ProjectPoint({10, 20, 0}, {50, 50, -100}, CameraFactor);
  EXPECT_FLOAT_EQ(p.X, 10);
  EXPECT_FLOAT_EQ(p.Y, 20);
  // P.Z * k == Cam.Z: the factor 1 000 000 instead of a division by zero.
  T3DPoint cam{50, 50, -100};
  TFloatPoint q = ProjectPoint({50.5f, 50, -100}, cam, 1.0);
  EXPECT_FLOAT_EQ(q.X, float((50 - 50.5) * -100 * 1e6 + 50));
  // A point behind the picture plane (z > 0) comes nearer the centre.
  TFloatPoint r = ProjectPoint({150, 50, 100}, cam, CameraFactor);
  EXPECT_NEAR(r.X, 50 + 100 * 100 / (100 + 100 * CameraFactor), 1e-3);
}

TEST(Projection, ScreenPointToPlaneInvertsTheProjection) {
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, {0, 0, 30}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  T3DPoint cam{100, 80, -300};
  T3DPoint hit = ScreenPointToPlane({40, 70}, plane, cam, CameraFactor);
  EXPECT_NEAR(hit.Z, 30 * CameraFactor, 1e-3);
  TFloatPoint back = ProjectPoint({hit.X, hit.Y, float(hit.Z / CameraFactor)}, cam, CameraFactor);
  EXPECT_NEAR(back.X, 40, 1e-3);
  EXPECT_NEAR(back.Y, 70, 1e-3);
  EXPECT_THROW(ScreenPointToPlane({0, 0}, plane, {0, 0, 0}, CameraFactor), foundation::EAssertionFailed);
  // The camera looks from negative z: an unturned plane (normal +z) has it on
  // its negative side.
  EXPECT_TRUE(IsBehindPlane(plane, cam));
  TAffineFrame3D flipped;
  foundation::InitAffineFrame3D(flipped, {0, 0, 30}, {-1, 0, 0}, {0, 1, 0}, {0, 0, -1});
  EXPECT_FALSE(IsBehindPlane(flipped, cam));
  EXPECT_TRUE(IsDegenerateEdgePair({0.05f, 0}, {1, 0}));
  EXPECT_TRUE(IsDegenerateEdgePair({1, 0}, {-2, 0.01f}));
  EXPECT_FALSE(IsDegenerateEdgePair({1, 0}, {0, 1}));
}

TEST(ScreenVendor, VendorClasses) {
  const std::pair<uint32_t, uint8_t> cases[] = {{0x8086, 0}, {0x10DE, 1}, {0x1002, 2}, {0x1234, 3}, {0, 3}};
  for (auto [id, cls] : cases) {
    g_engine->Vendor = id;
    EXPECT_EQ(GetGpuVendor(), cls);
  }
}

// ---- the render-target pool ----

TEST_F(Screen, PoolSizesAreRoundedAndANewSizeEmptiesIt) {
  auto* pool = Own(new TRenderTargetManager(true, false));
  pool->SetSize(1000, 700);
  EXPECT_EQ(pool->Size.X, 1024);
  EXPECT_EQ(pool->Size.Y, 1024);
  TRenderTargetTexture* a = pool->Get(S);
  EXPECT_EQ(a->Kind, tkTargetArgb);
  EXPECT_TRUE(a->Premultiplied);
  EXPECT_NE(a->Texture, nullptr);
  pool->Release(a);
  EXPECT_EQ(pool->IdleCount(), 1);
  pool->SetSize(1024, 1000);
  EXPECT_EQ(pool->IdleCount(), 1);
  pool->SetSize(1025, 1000);
  EXPECT_EQ(pool->IdleCount(), 0);
  auto* wide = Own(new TRenderTargetManager(true, true));
  wide->SetSize(64, 64);
  auto* w = wide->Get(S);
  EXPECT_EQ(w->Kind, tkTargetWide);
  auto* plain = Own(new TRenderTargetManager(false, false));
  plain->SetSize(64, 64);
  auto* p = plain->Get(S);
  EXPECT_EQ(p->Kind, tkTargetXrgb);
  EXPECT_FALSE(p->Premultiplied);
  // A target of another kind or size cannot come back.
  EXPECT_THROW(wide->Release(p), foundation::EAssertionFailed);
  EXPECT_THROW(pool->Release(w), foundation::EAssertionFailed);
  wide->Release(w);
  plain->Release(p);
}

TEST_F(Screen, PoolHandsOutLastInFirstOutAndTakesFreedTargetsBack) {
  auto* pool = Own(new TRenderTargetManager(true, false));
  pool->SetSize(64, 64);
  TRenderTargetTexture* a = pool->Get(S);
  TRenderTargetTexture* b = pool->Get(S);
  EXPECT_NE(a, b);
  pool->Release(a);
  pool->Release(b);
  EXPECT_EQ(pool->Get(S), b);
  TRenderTargetTexture* again = pool->Get(S);
  EXPECT_EQ(again, a);
  int made = static_cast<int>(Calls("CreateTexture").size());
  // Freeing a target that is out returns it to the pool instead.
  again->Free();
  EXPECT_EQ(pool->IdleCount(), 1);
  EXPECT_EQ(pool->Get(S), a);
  EXPECT_EQ(static_cast<int>(Calls("CreateTexture").size()), made);
  b->Free();
  a->Free();
  EXPECT_EQ(pool->IdleCount(), 2);
}

}  // namespace
