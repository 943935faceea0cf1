// A video source writing through the frame-target contract into a device
// frame: the same source fills an in-memory image and the device frame, and
// the device frame drawn at 1:1 shows the BT.601 conversion of those planes.
#include "video/DeviceYUVImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "imaging/ColorGradeGenerator.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DImages.h"
#include "tests/render3d/DrawerRig.h"

using namespace render3d;
using namespace render3d_test;

namespace {

// A source whose one frame has a luma ramp and one chroma pair.
class TRampSource : public video::TFrameSource {
 public:
  bool SetPosition(int32_t) override { return true; }
  bool GetFrameBitmap(imaging::TSysBitmap*) override { return false; }
  static uint8_t Luma(int32_t x, int32_t y) { return uint8_t(70 + (x * 3 + y * 2) % 110); }
  static constexpr uint8_t kU = 120, kV = 138;
  bool GetFrameYUV(video::TYUVImage* image) override {
    for (int32_t plane = 0; plane < 3; ++plane) {
      imaging::TSysBitmap* b = image->LockPlane(plane);
      if (!b) return false;
      int32_t w = plane ? image->Width / 2 : image->Width, h = plane ? image->Height / 2 : image->Height;
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) b->Row(y)[x] = plane == 0 ? Luma(x, y) : plane == 1 ? kU : kV;
      if (!image->UnlockPlane(plane, b)) return false;
    }
    image->FrameDone();
    return true;
  }
};

class TLostCounter {
 public:
  void Lost(video::TYUVImage*) { ++Count; }
  int Count = 0;
};

class DeviceYUVImageGL : public ::testing::Test, protected render3d_test::TDrawerRig {
 protected:
  void SetUp() override { Open(kW, kH); }
  void TearDown() override { Close(); }
  static constexpr int32_t kW = 34, kH = 18;
};

TEST_F(DeviceYUVImageGL, ASourceFillsTheDeviceFrameAsItFillsMemory) {
  auto* source = new TRampSource();
  auto* memory = new video::TMemoryYUVImage(kW, kH);
  ASSERT_TRUE(source->GetFrameYUV(memory));
  video::TDeviceYUVImage* frame = video::CreateDeviceYUVImage(D, kW, kH, false);
  EXPECT_EQ(frame->Width, kW);
  EXPECT_FALSE(frame->RGBAMode);
  EXPECT_FALSE(frame->GrayMode);
  ASSERT_TRUE(source->GetFrameYUV(frame));
  EXPECT_EQ(frame->Device->LockCount, 0);

  auto* lut = new TCustomColorGradeTexture(S, 1);
  imaging::TSysBitmap* table = imaging::CreateSysBitmap(32, 1024, imaging::PixelFormatByName(u"A8R8G8B8"));
  imaging::FillYuvToRgbLUT(table);
  lut->SetBitmap(table, true);
  TVideoDrawParams v;
  v.Crop = {0, 0, float(kW), float(kH)};
  v.GradeTable1 = v.GradeTable2 = lut;
  ASSERT_TRUE(S->BeginScene());
  D->View.Viewport = {0, 0, kW, kH};
  S->Clear(0xFF000000, false);
  D->DrawVideoFrame(frame->Device, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, v);
  ASSERT_TRUE(S->EndScene(false));
  T3DSurface* s = nullptr;
  ASSERT_TRUE(S->Renderer->GetBackBuffer(s));
  auto px = ReadBack(s);
  int bad = 0;
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) {
      double Y = memory->Row(0, y)[x], U = memory->Row(1, y / 2)[x / 2], V = memory->Row(2, y / 2)[x / 2];
      double l = 1.1643835616 * (Y - 16);
      double rgb[3] = {l + 1.5960267857 * (V - 128), l - 0.3917622901 * (U - 128) - 0.8129676472 * (V - 128),
                       l + 2.0172321429 * (U - 128)};
      // Alpha 254 over black; the 32-cube table and the device's 8-bit
      // filtering stay within 5/255 of the formula (see the render3d tests).
      uint32_t c = px[size_t(y) * kW + x];
      for (int k = 0; k < 3; ++k)
        if (std::fabs(double((c >> (16 - 8 * k)) & 255) - rgb[k] * 254 / 255) > 5) {
          ++bad;
          break;
        }
    }
  EXPECT_EQ(bad, 0);
  lut->Free();
  memory->Free();
  source->Free();
  frame->Free();
  EXPECT_TRUE(D->YuvImages.empty());
}

TEST_F(DeviceYUVImageGL, LostDeviceTexturesReachTheFrameSourcesImage) {
  video::TDeviceYUVImage* frame = video::CreateDeviceYUVImage(D, 16, 16, false);
  TLostCounter counter;
  frame->OnContentLost = foundation::MethodOf<&TLostCounter::Lost>(&counter);
  S->ReleaseResources();
  EXPECT_TRUE(frame->ContentLost);
  EXPECT_GE(counter.Count, 1);
  frame->Free();
}

}  // namespace
