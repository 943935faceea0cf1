// Video frames on the GL device (llvmpipe): planes written through
// LockPlane, drawn at 1:1 with the BT.601 video-range table, read back and
// compared pixel by pixel with a conversion computed here.
#include "DrawerRig.h"

#include <cmath>
#include <functional>
#include <random>

#include "imaging/ColorGradeGenerator.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DImages.h"
#include "render3d/Dev3DYUV.h"

using namespace render3d;
using namespace render3d_test;

namespace {

// BT.601, video range, as red, green, blue in 0..255 (unclamped).
void Bt601(double y, double u, double v, double rgb[3]) {
  double l = 1.1643835616 * (y - 16);
  rgb[0] = l + 1.5960267857 * (v - 128);
  rgb[1] = l - 0.3917622901 * (u - 128) - 0.8129676472 * (v - 128);
  rgb[2] = l + 2.0172321429 * (u - 128);
}

// The same conversion through the 32 x 32 x 32 table the frame is drawn
// with: trilinear interpolation of its grid (input v at texel v * 31 / 255
// on each axis). The table's grid levels and 8-bit entries put it up to
// about 2.5/255 away from the formula. The device adds its own 8-bit
// rounding of the filtered chroma and of the table lookup (llvmpipe: up to
// 3.5/255), so the drawn frame is held to 4/255 of the table and 5/255 of
// the formula; a chroma plane sampled at the wrong place is off by tens.
class TTableConversion {
 public:
  TTableConversion() {
    Table = imaging::CreateSysBitmap(32, 1024, imaging::PixelFormatByName(u"A8R8G8B8"));
    imaging::FillYuvToRgbLUT(Table);
  }
  ~TTableConversion() { Table->Free(); }
  void Rgb(double y, double u, double v, double rgb[3]) const {
    double p[3] = {y * 31 / 255, u * 31 / 255, v * 31 / 255};  // slice, row, column
    int i0[3];
    double f[3];
    for (int a = 0; a < 3; ++a) {
      p[a] = std::clamp(p[a], 0.0, 31.0);
      i0[a] = std::min(int(std::floor(p[a])), 30);
      f[a] = p[a] - i0[a];
    }
    for (int c = 0; c < 3; ++c) rgb[c] = 0;
    for (int corner = 0; corner < 8; ++corner) {
      int d[3] = {corner & 1, corner >> 1 & 1, corner >> 2 & 1};
      double w = 1;
      for (int a = 0; a < 3; ++a) w *= d[a] ? f[a] : 1 - f[a];
      const uint8_t* px = Table->Row(32 * (i0[0] + d[0]) + i0[1] + d[1]) + 4 * (i0[2] + d[2]);
      for (int c = 0; c < 3; ++c) rgb[c] += w * px[2 - c];
    }
  }
  imaging::TSysBitmap* Table = nullptr;
};

struct TPlanes {
  int32_t W = 0, H = 0;
  std::vector<uint8_t> Y, U, V;
  int32_t CW() const { return W / 2; }
  int32_t CH() const { return H / 2; }
};

// Luma 70..180, chroma 112..144: every table cell the samples touch stays
// inside the RGB range, so the table's interpolation is linear there.
TPlanes RandomPlanes(int32_t w, int32_t h, uint32_t seed) {
  TPlanes p;
  p.W = w;
  p.H = h;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> luma(70, 180), chroma(112, 144);
  p.Y.resize(size_t(w) * h);
  for (auto& b : p.Y) b = uint8_t(luma(rng));
  p.U.resize(size_t(p.CW()) * p.CH());
  p.V.resize(p.U.size());
  for (auto& b : p.U) b = uint8_t(chroma(rng));
  for (auto& b : p.V) b = uint8_t(chroma(rng));
  return p;
}

// The chroma a bilinear sampler reads at the centre of luma pixel (x, y):
// chroma texel coordinates ((x + 0.5) / 2 - 0.5, ...), the plane extended by
// repeating its edges.
double ChromaAt(const std::vector<uint8_t>& plane, int32_t cw, int32_t ch, int x, int y) {
  double fx = std::clamp((x + 0.5) / 2 - 0.5, 0.0, double(cw - 1));
  double fy = std::clamp((y + 0.5) / 2 - 0.5, 0.0, double(ch - 1));
  int x0 = int(std::floor(fx)), y0 = int(std::floor(fy));
  int x1 = std::min(x0 + 1, cw - 1), y1 = std::min(y0 + 1, ch - 1);
  double ax = fx - x0, ay = fy - y0;
  auto at = [&](int i, int j) { return double(plane[size_t(j) * cw + i]); };
  return (at(x0, y0) * (1 - ax) + at(x1, y0) * ax) * (1 - ay) + (at(x0, y1) * (1 - ax) + at(x1, y1) * ax) * ay;
}

class YUVGL : public ::testing::Test, protected TDrawerRig {
 protected:
  // The frame drawn through the BT.601 table, as the video sources draw it.
  void Open(int32_t w, int32_t h) {
    Close();
    TDrawerRig::Open(w, h);
    if (!D) return;
    Lut = new TCustomColorGradeTexture(S, 1);
    imaging::TSysBitmap* b = imaging::CreateSysBitmap(32, 1024, imaging::PixelFormatByName(u"A8R8G8B8"));
    imaging::FillYuvToRgbLUT(b);
    Lut->SetBitmap(b, true);
  }
  void Close() {
    if (Lut) Lut->Free();
    Lut = nullptr;
    TDrawerRig::Close();
  }
  void TearDown() override { Close(); }
  // Writes the planes through the frame-target operations.
  static void Write(T3DYUV* f, const TPlanes& p) {
    const std::vector<uint8_t>* src[3] = {&p.Y, &p.U, &p.V};
    for (int32_t plane = 0; plane < 3; ++plane) {
      imaging::TSysBitmap* b = f->LockPlane(plane);
      ASSERT_NE(b, nullptr) << plane;
      int32_t w = plane ? p.CW() : p.W, h = plane ? p.CH() : p.H;
      for (int32_t y = 0; y < h; ++y) std::memcpy(b->Row(y), src[plane]->data() + size_t(y) * w, size_t(w));
      ASSERT_TRUE(f->UnlockPlane(plane, b));
    }
    f->FrameDone();
  }
  TVideoDrawParams Params() const {
    TVideoDrawParams v;
    v.Crop = {0, 0, float(W), float(H)};
    v.GradeTable1 = Lut;
    v.GradeTable2 = Lut;
    return v;
  }
  TCustomColorGradeTexture* Lut = nullptr;
};

TEST(YUVPadding, PaddedSizeIsEightMoreUpToThePowerOfTwo) {
  const int32_t cases[][2] = {{1920, 1928}, {1024, 1024}, {1000, 1008}, {65, 73}, {129, 137},
                              {1025, 1033}, {17, 25},     {9, 16},      {8, 8},   {1, 1}};
  for (auto& c : cases) EXPECT_EQ(PaddedPlaneSize(c[0]), c[1]) << c[0];
}

// Every pixel of frames whose sizes lie just above a power of two (where
// the chroma planes' padded locks outgrow half the plain size) and of small
// odd frames matches the conversion.
TEST_F(YUVGL, EveryPixelMatchesTheConversion) {
  const int32_t sizes[][2] = {{65, 65}, {129, 129}, {1025, 1025}, {17, 9}, {1025, 9}, {9, 129}};
  for (auto& sz : sizes) {
    SCOPED_TRACE(testing::Message() << sz[0] << " x " << sz[1]);
    Open(sz[0], sz[1]);
    T3DYUV* f = D->CreateYUVImage(W, H, false);
    ASSERT_FALSE(f->RGBAMode);
    ASSERT_FALSE(f->GrayMode);
    // The chroma textures hold the padded lock.
    EXPECT_GE(f->PlaneU->TexWidth, f->PaddedWidth / 2);
    EXPECT_GE(f->PlaneU->TexHeight, f->PaddedHeight / 2);
    TPlanes p = RandomPlanes(W, H, uint32_t(W * 7 + H));
    Write(f, p);
    EXPECT_EQ(f->LockCount, 0);
    auto px = Frame([&](T3DDrawer* d) { d->DrawVideoFrame(f, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, Params()); });
    TTableConversion table;
    int bad = 0, badFormula = 0;
    double worst = 0, worstFormula = 0;
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x) {
        const double Y = p.Y[size_t(y) * W + x], U = ChromaAt(p.U, p.CW(), p.CH(), x, y),
                     V = ChromaAt(p.V, p.CW(), p.CH(), x, y);
        double viaTable[3], formula[3];
        table.Rgb(Y, U, V, viaTable);
        Bt601(Y, U, V, formula);
        uint32_t got = px[size_t(y) * W + x];
        double d = 0, e = 0;
        for (int k = 0; k < 3; ++k) {
          d = std::max(d, std::fabs(Channel(got, 2 - k) - viaTable[k]));
          e = std::max(e, std::fabs(Channel(got, 2 - k) - formula[k]));
        }
        worst = std::max(worst, d);
        worstFormula = std::max(worstFormula, e);
        if (d > 4.0) ++bad;
        if (e > 5.0) ++badFormula;
      }
    EXPECT_EQ(bad, 0) << "worst difference from the table " << worst;
    EXPECT_EQ(badFormula, 0) << "worst difference from the formula " << worstFormula;
    f->Free();
  }
}

TEST_F(YUVGL, ChromaLocksCoverHalfThePaddedSize) {
  Open(64, 64);
  T3DYUV* f = D->CreateYUVImage(1920, 1080, false);
  EXPECT_EQ(f->PaddedWidth, 1928);
  EXPECT_EQ(f->PaddedHeight, 1088);
  const int32_t expected[3][2] = {{1928, 1088}, {964, 544}, {964, 544}};
  for (int32_t plane = 0; plane < 3; ++plane) {
    imaging::TSysBitmap* b = f->LockPlane(plane);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, expected[plane][0]);
    EXPECT_EQ(b->Height, expected[plane][1]);
    EXPECT_EQ(f->LockCount, 1);
    EXPECT_TRUE(f->UnlockPlane(plane, b));
    EXPECT_EQ(f->LockCount, 0);
  }
  EXPECT_EQ(f->LockPlane(kYUVPlaneRGBA), nullptr);
  EXPECT_EQ(f->LockPlane(kYUVPlaneGray), nullptr);
  f->Free();
}

TEST_F(YUVGL, RgbaAndGrayFramesHaveOnlyTheirOnePlane) {
  Open(32, 32);
  T3DYUV* rgba = D->CreateYUVImage(20, 10, true);
  EXPECT_TRUE(rgba->RGBAMode);
  EXPECT_FALSE(rgba->GrayMode);
  EXPECT_EQ(rgba->LockPlane(kYUVPlaneY), nullptr);
  imaging::TSysBitmap* b = rgba->LockPlane(kYUVPlaneRGBA);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->BytesPerPixel(), 4);
  EXPECT_TRUE(rgba->UnlockPlane(kYUVPlaneRGBA, b));
  rgba->Free();
  // A device without luminance planes gets one 16-bit gray plane.
  auto* gray = new T3DYUV(S, false, 20, 10, false);
  EXPECT_TRUE(gray->GrayMode);
  EXPECT_EQ(gray->PlaneY, nullptr);
  EXPECT_EQ(gray->LockPlane(kYUVPlaneY), nullptr);
  b = gray->LockPlane(kYUVPlaneGray);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->BytesPerPixel(), 2);
  EXPECT_TRUE(gray->UnlockPlane(kYUVPlaneGray, b));
  gray->Free();
}

// A packed gray frame is drawn as a flat quad even with the perspective
// flag: no antialiased ring outside it.
TEST_F(YUVGL, GrayFrameIsDrawnFlat) {
  Open(40, 30);
  auto* f = new T3DYUV(S, false, 16, 12, false);
  imaging::TSysBitmap* b = f->LockPlane(kYUVPlaneGray);
  ASSERT_NE(b, nullptr);
  const uint16_t grey = uint16_t(16 << 11 | 32 << 5 | 16);
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 16; ++x) std::memcpy(b->Row(y) + 2 * x, &grey, 2);
  ASSERT_TRUE(f->UnlockPlane(kYUVPlaneGray, b));
  f->FrameDone();
  TVideoDrawParams v;
  v.Crop = {0, 0, 16, 12};
  v.Perspective = 1;
  auto px = Frame([&](T3DDrawer* d) { d->DrawVideoFrame(f, {10, 8, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, v); });
  // 16/31 and 32/63 of full scale, at alpha 254 over black.
  auto expect = [](int n, int max) { return double(n) / max * 255 * 254 / 255; };
  EXPECT_NEAR(Channel(px[size_t(14) * 40 + 15], 2), expect(16, 31), 1.5);
  EXPECT_NEAR(Channel(px[size_t(14) * 40 + 15], 1), expect(32, 63), 1.5);
  EXPECT_EQ(px[size_t(14) * 40 + 9] & 0xFFFFFF, 0u);
  EXPECT_EQ(px[size_t(14) * 40 + 26] & 0xFFFFFF, 0u);
  EXPECT_EQ(px[size_t(7) * 40 + 15] & 0xFFFFFF, 0u);
  EXPECT_EQ(px[size_t(20) * 40 + 15] & 0xFFFFFF, 0u);
  f->Free();
}

// Field-line interpolation: mode 1 keeps the even lines and fills the odd
// ones from their neighbours, mode 2 the other way round.
TEST_F(YUVGL, DeinterlaceKeepsOneFieldAndInterpolatesTheOther) {
  Open(32, 32);
  T3DYUV* f = D->CreateYUVImage(W, H, false);
  TPlanes p = RandomPlanes(W, H, 1);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) p.Y[size_t(y) * W + x] = y % 2 ? 170 : 80;
  std::fill(p.U.begin(), p.U.end(), 128);
  std::fill(p.V.begin(), p.V.end(), 128);
  Write(f, p);
  const struct {
    uint8_t Mode;
    int Even, Odd;
  } cases[] = {{0, 80, 170}, {1, 80, 80}, {2, 170, 170}};
  for (auto& c : cases) {
    SCOPED_TRACE(int(c.Mode));
    TVideoDrawParams v = Params();
    v.Deinterlace = c.Mode;
    auto px = Frame([&](T3DDrawer* d) { d->DrawVideoFrame(f, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, v); });
    for (int32_t y = 2; y < H - 2; ++y) {
      double rgb[3];
      Bt601(y % 2 ? c.Odd : c.Even, 128, 128, rgb);
      EXPECT_NEAR(Channel(px[size_t(y) * W + 10], 1), rgb[1], 2) << y;
    }
  }
  f->Free();
}

// The chroma key makes pixels whose chroma is the key transparent and
// leaves those far from it opaque.
TEST_F(YUVGL, ChromaKeyClearsTheKeyedColour) {
  Open(32, 16);
  T3DYUV* f = D->CreateYUVImage(W, H, false);
  TPlanes p = RandomPlanes(W, H, 2);
  std::fill(p.Y.begin(), p.Y.end(), 120);
  for (int32_t y = 0; y < p.CH(); ++y)
    for (int32_t x = 0; x < p.CW(); ++x) {
      bool keyed = x < p.CW() / 2;
      p.U[size_t(y) * p.CW() + x] = keyed ? 80 : 128;
      p.V[size_t(y) * p.CW() + x] = keyed ? 60 : 128;
    }
  Write(f, p);
  TVideoDrawParams v = Params();
  v.ChromaKey = 1;
  v.KeyU = 80 / 255.0f;
  v.KeyV = 60 / 255.0f;
  v.KeyTolerance = 0.1f;
  auto px = Frame([&](T3DDrawer* d) { d->DrawVideoFrame(f, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, v); },
                  0xFF0000FFu);
  double grey[3];
  Bt601(120, 128, 128, grey);
  for (int32_t y = 0; y < H; ++y) {
    EXPECT_EQ(px[size_t(y) * W + 4] & 0xFFFFFF, 0x0000FFu) << y;  // keyed: the background shows
    EXPECT_NEAR(Channel(px[size_t(y) * W + 28], 1), grey[1] * 254 / 255, 2) << y;
  }
  f->Free();
}

// Losing the device marks the frame's content lost; a drawer that goes
// first releases the textures of its frames and forgets them.
TEST_F(YUVGL, DeviceLossMarksTheContentAndTheDrawerLetsGo) {
  Open(32, 32);
  T3DYUV* f = D->CreateYUVImage(16, 16, false);
  int told = 0;
  f->OnContentLost = [&](T3DYUV*) { ++told; };
  EXPECT_FALSE(f->ContentLost);
  S->ReleaseResources();
  EXPECT_TRUE(f->ContentLost);
  EXPECT_GE(told, 1);
  imaging::TSysBitmap* b = f->LockPlane(kYUVPlaneY);  // a new device texture on demand
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(f->UnlockPlane(kYUVPlaneY, b));
  D->Free();
  D = nullptr;
  EXPECT_EQ(f->PlaneY, nullptr);
  EXPECT_FALSE(f->OnRemove);
  EXPECT_EQ(f->LockPlane(kYUVPlaneY), nullptr);
  f->Free();  // no call back into the freed drawer
}

}  // namespace

namespace {

// An RGBA frame is drawn as it was written (alpha 254 over black), plainly
// or through per-channel grade tables (here: inverting ones).
TEST_F(YUVGL, RgbaFrameIsDrawnAsWrittenAndGraded) {
  Open(40, 30);
  T3DYUV* f = D->CreateYUVImage(12, 10, true);
  imaging::TSysBitmap* b = f->LockPlane(kYUVPlaneRGBA);
  ASSERT_NE(b, nullptr);
  auto pixel = [](int32_t x, int32_t y) { return 0xFF000000u | uint32_t(x * 20) << 16 | uint32_t(y * 25) << 8 | 0x60; };
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 12; ++x) {
      uint32_t c = pixel(x, y);
      std::memcpy(b->Row(y) + 4 * x, &c, 4);
    }
  ASSERT_TRUE(f->UnlockPlane(kYUVPlaneRGBA, b));
  f->FrameDone();
  imaging::TSysBitmap* ramp = imaging::CreateSysBitmap(256, 16, imaging::PixelFormatByName(u"A8R8G8B8"));
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 256; ++x) {
      uint32_t v = uint32_t(255 - x), c = 0xFF000000u | v << 16 | v << 8 | v;
      std::memcpy(ramp->Row(y) + 4 * x, &c, 4);
    }
  auto* invert = new TCustomColorGradeTexture(S, 0);
  invert->SetBitmap(ramp, true);
  for (uint8_t mode : {0, 2}) {
    SCOPED_TRACE(int(mode));
    TVideoDrawParams v;
    v.Crop = {0, 0, 12, 10};
    v.GradeMode = mode;
    v.GradeTable1 = v.GradeTable2 = mode ? invert : nullptr;
    auto px = Frame([&](T3DDrawer* d) { d->DrawVideoFrame(f, {5, 6, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, v); });
    int bad = 0;
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 12; ++x)
        for (int k = 0; k < 3; ++k) {
          int in = Channel(pixel(x, y), k);
          double want = (mode ? 255 - in : in) * 254.0 / 255;
          if (std::fabs(Channel(px[size_t(y + 6) * 40 + x + 5], k) - want) > 1.5) ++bad;
        }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(px[size_t(6) * 40 + 4] & 0xFFFFFF, 0u);
  }
  invert->Free();
  f->Free();
}

}  // namespace
