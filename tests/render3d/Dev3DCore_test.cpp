// The device-independent contracts: targets and their renderers, bounds
// changes, disposal order, the hooks; and the recording renderer that the
// logic above the device is tested with.
#include <gtest/gtest.h>

#include "tests/support/RecordingRenderer.h"
#include "render3d/Dev3DCore.h"

using namespace render3d;
using render3d_test::TRecordingRenderer;

namespace {

TEST(Dev3DCore, SetBoundsReachesEveryRendererInOrderOnlyOnChange) {
  auto* device = new TDrawDevice(7);
  EXPECT_EQ(device->Handle, 7u);
  auto* a = new TRecordingRenderer(device);
  auto* b = new TRecordingRenderer(device);
  ASSERT_EQ(device->Renderers.size(), 2u);
  EXPECT_EQ(device->Renderers[0], a);
  device->SetBounds({0, 0, 10, 10}, {5, 6}, false);
  EXPECT_EQ(a->Calls, std::vector<std::string>{"SetBounds"});
  EXPECT_EQ(b->Calls, std::vector<std::string>{"SetBounds"});
  device->SetBounds({0, 0, 10, 10}, {5, 6}, false);  // nothing changed
  device->SetBounds({3, 3, 10, 10}, {5, 6}, false);
  EXPECT_EQ(a->Calls.size(), 2u);
  // Both rectangles empty: no change, whatever their corners.
  device->SetBounds({4, 4, 4, 9}, {5, 6}, false);
  device->SetBounds({8, 8, 1, 1}, {5, 6}, false);
  EXPECT_EQ(a->Calls.size(), 3u);
  device->SetBounds({8, 8, 1, 1}, {5, 6}, true);  // full screen changed
  EXPECT_EQ(a->Calls.size(), 4u);
  device->SetBounds({0, 0, 30, 20}, {100, 50}, true);
  TRect screen = GetDeviceScreenRect(device);
  EXPECT_EQ(screen.Left, 100);
  EXPECT_EQ(screen.Top, 50);
  EXPECT_EQ(screen.Right, 130);
  EXPECT_EQ(screen.Bottom, 70);
  b->Free();
  ASSERT_EQ(device->Renderers.size(), 1u);
  device->Free();  // the renderer outlives its target
  EXPECT_EQ(a->Device, nullptr);
  a->Free();
}

TEST(Dev3DCore, TargetReleasesItsMessengers) {
  auto* device = new TDrawDevice(0);
  auto* m = new TRefObject();
  m->_AddRef();  // the test keeps one
  device->Messengers.push_back(m);
  EXPECT_EQ(device->FindMessenger<TRefObject>(), m);
  device->Free();
  EXPECT_EQ(m->RefCount(), 1);
  m->Free();
}

TEST(Dev3DCore, HooksDefaultToNothing) {
  THardwareTest saved = nullptr;
  SetHardwareAcceleratedHook(nullptr);
  EXPECT_FALSE(IsHardwareAccelerated());
  SetHardwareAcceleratedHook([] { return true; });
  EXPECT_TRUE(IsHardwareAccelerated());
  SetHardwareAcceleratedHook(saved);
  EXPECT_FALSE(IsHardwareAccelerated());
  EXPECT_EQ(GetEngineFactory(), nullptr);
}

// The recording renderer keeps the calls and the render target as a real one
// does, and answers failures where a test asks for them.
TEST(RecordingRenderer, RecordsCallsTargetsAndFailures) {
  auto* device = new TDrawDevice(0);
  auto* r = new TRecordingRenderer(device, 64, 32);
  T3DSurface* back = nullptr;
  ASSERT_TRUE(r->GetBackBuffer(back));
  r->CreateResults = {rcOutOfVideoMemory};
  EXPECT_EQ(r->CreateTexture(tkTargetArgb, 8, 8, false), nullptr);
  EXPECT_EQ(r->LastResult, rcOutOfVideoMemory);
  T3DTexture* t = r->CreateTexture(tkTargetArgb, 8, 8, false);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(r->BeginScene());
  EXPECT_TRUE(r->SetRenderTarget(t->GetSurface(0)));
  EXPECT_EQ(r->GetRenderTarget(), t->GetSurface(0));
  EXPECT_FALSE(r->SetRenderTarget(nullptr));
  EXPECT_EQ(r->GetRenderTarget(), t->GetSurface(0));
  r->SetBlendMode(bmMax);
  T3DVertexList* vl = r->CreateVertexList(4, vcDiffuse, 1);
  TBaseTexture* arr[] = {t};
  EXPECT_TRUE(r->DrawVertexList(arr, 1, vl, 7));
  r->Failing["Present"] = true;
  EXPECT_TRUE(r->EndScene());
  EXPECT_FALSE(r->Present(nullptr, nullptr));
  EXPECT_EQ(r->LastResult, rcLostOrOther);
  std::vector<std::string> expected = {"CreateTexture kind=2 8x8 mip=0",
                                       "CreateTexture kind=2 8x8 mip=0",
                                       "BeginScene",
                                       "SetRenderTarget texture1",
                                       "SetRenderTarget null",
                                       "SetBlendMode 1",
                                       "CreateVertexList 4 components=1 sets=1",
                                       "DrawVertexList flags=7 textures=1 blend=1",
                                       "EndScene",
                                       "Present"};
  EXPECT_EQ(r->Calls, expected);
  vl->Free();
  t->Free();
  r->Free();
  device->Free();
}

}  // namespace
