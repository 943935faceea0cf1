// The screen on the GL device (llvmpipe), read back: a picture drawn through
// the screen's view at 1:1 lands pixel for pixel, mip levels are halved from
// the painted level, render targets of the stack receive what is drawn.
#include "DrawerRig.h"

#include "imaging/ColorGradeGenerator.h"
#include "render3d/ColorGradeTexture.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DRTPool.h"
#include "render3d/Dev3DScreen.h"

using namespace render3d;
using namespace render3d_test;

namespace {

class ScreenGL : public ::testing::Test, protected TDrawerRig {
 protected:
  void SetUp() override { Open(kW, kH, false); }
  void TearDown() override { Close(); }
  static constexpr int32_t kW = 80, kH = 60;
};

std::vector<uint32_t> OddPicture(int32_t w, int32_t h) {
  std::vector<uint32_t> pic(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pic[size_t(y) * w + x] = 0xFF000000u | uint32_t(x * 7) << 16 | uint32_t(y * 9) << 8 | 0x40;
  pic[0] = 0xFFFF0000;
  pic[size_t(w) - 1] = 0xFF00FF00;
  pic[size_t(h - 1) * w] = 0xFF0000FF;
  pic[size_t(h) * w - 1] = 0xFFFFFFFF;
  return pic;
}

TEST_F(ScreenGL, OddSizedPictureThroughTheViewReadsBackIdentical) {
  const int32_t w = 37, h = 23, ox = 11, oy = 7;
  auto pic = OddPicture(w, h);
  auto* tex = Own(new TPixelTexture(S, w, h, pic));
  ASSERT_TRUE(S->BeginScene());
  S->Clear(0xFF000000, false);
  S->DrawTextureRect(tex, {float(ox), float(oy), 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, float(w), float(h)});
  ASSERT_TRUE(S->EndScene(false));
  auto px = Back();
  int bad = 0;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if ((px[size_t(y + oy) * kW + x + ox] & 0xFFFFFF) != (pic[size_t(y) * w + x] & 0xFFFFFF)) ++bad;
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(px[size_t(oy - 1) * kW + ox] & 0xFFFFFF, 0u);
  EXPECT_EQ(px[size_t(oy) * kW + ox + w] & 0xFFFFFF, 0u);
}

TEST_F(ScreenGL, ColorQuadAndRenderTargetOfTheStack) {
  auto* rt = Own(new TCustomTexture(S));
  rt->SetKind(tkTargetArgb);
  rt->SetSize(32, 32);
  ASSERT_TRUE(S->BeginScene());
  S->Clear(0xFF000000, false);
  S->PushRenderTarget(rt, 0, 0);
  S->Clear(0xFF0000FF, false);
  // The target's view keeps the stored area and scale (viewLeft = 40 - 16 =
  // 24, viewTop = 30 - 16 = 14); its origin makes up for them, so a world
  // point lands at its own pixel, as on the screen.
  EXPECT_DOUBLE_EQ(S->ViewLeft, 24);
  EXPECT_DOUBLE_EQ(S->ViewTop, 14);
  S->DrawColorQuad({4, 4, 0}, {12, 4, 0}, {4, 10, 0}, {12, 10, 0}, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00, 0xFF00FF00);
  S->PopRenderTarget();
  S->DrawColorQuad({1, 1, 0}, {3, 1, 0}, {1, 2, 0}, {3, 2, 0}, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000, 0xFFFF0000);
  ASSERT_TRUE(S->EndScene(false));
  auto back = Back();
  EXPECT_EQ(back[1 * kW + 1] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(back[1 * kW + 3] & 0xFFFFFF, 0u);
  EXPECT_EQ(back[5 * kW + 5] & 0xFFFFFF, 0u);  // the target's green went to the target only
  auto target = ReadBack(rt->Texture->GetSurface(0));
  EXPECT_EQ(target[4 * 32 + 4] & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(target[9 * 32 + 11] & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(target[10 * 32 + 11] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(target[4 * 32 + 12] & 0xFFFFFF, 0x0000FFu);
}

// The box antialiaser fills with the interpolated vertex colours and fades
// the flagged edges over one pixel; unflagged edges end hard.
TEST_F(ScreenGL, AntialiasedBoxFadesOnlyItsFlaggedEdges) {
  auto* box = Own(new TBoxAntialiaser(S));
  ASSERT_TRUE(S->BeginScene());
  S->Clear(0xFF000000, false);
  T3DPoint camera{kW / 2.0f, kH / 2.0f, -float(kH)};
  // World x = 10 is screen x 9.5 (pixel centres sit half a pixel off, as on
  // the device the view was made for): the box covers pixels 10..29, the
  // flagged left edge fades over 8.5..9.5, so pixel 9 is half covered.
  box->Draw({10, 10, 0}, camera, {20, 0, 0}, {0, 20, 0}, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 1);
  ASSERT_TRUE(S->EndScene(false));
  auto px = Back();
  auto red = [&](int x, int y) { return int(px[size_t(y) * kW + x] >> 16 & 255); };
  EXPECT_EQ(red(20, 20), 255);
  EXPECT_EQ(red(10, 20), 255);
  EXPECT_GT(red(9, 20), 90);
  EXPECT_LT(red(9, 20), 165);
  EXPECT_EQ(red(8, 20), 0);
  EXPECT_EQ(red(29, 20), 255);  // the unflagged edges end hard
  EXPECT_EQ(red(30, 20), 0);
  EXPECT_EQ(red(20, 9), 0);
  EXPECT_EQ(red(20, 10), 255);
}

// Items that draw a coloured square at a position of their view.
class TSquareItem : public TDrawItem {
 public:
  float X = 0, Y = 0, Size = 4, Blur = 0;
  uint32_t Color = 0;
  std::vector<TDrawItem*> Children;
  float GetBlurAmount() override { return Blur; }
  bool ClearFirst = false;
  void Draw(T3DDrawer* d) override {
    if (ClearFirst) d->Screen->Clear(0xFF000000, false);
    // The square is reported as the box drawing reports it, so a blur pass
    // knows the region to process.
    if (Color) d->AddDrawnRect({X, Y, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, Size, Size});
    if (Color)
      d->Screen->DrawColorQuad({X, Y, 0}, {X + Size, Y, 0}, {X, Y + Size, 0}, {X + Size, Y + Size, 0}, Color, Color,
                               Color, Color);
    for (TDrawItem* c : Children) d->DrawItemWithEffects(c);
  }
};

// A tree of items drawn by the draw manager lands where its views put it;
// an item in a second view with its origin moved is drawn moved.
TEST_F(ScreenGL, DrawManagerDrawsATreeOfItems) {
  auto* drawer = Own(new T3DDrawer(S));
  drawer->CreateShaders();
  drawer->CaptureMode = 1;
  auto* a = Own(new TSquareItem());
  a->X = 2, a->Y = 3, a->Color = 0xFFFF0000;
  auto* b = Own(new TSquareItem());
  b->X = 10, b->Y = 3, b->Color = 0xFF00FF00, b->Blur = 100;  // drawn through the blur pass (radius 0.1)
  auto* root = Own(new TSquareItem());
  root->Children = {a, b};
  root->ClearFirst = true;
  TViewState view = S->GetViewState();
  ASSERT_TRUE(drawer->DrawItemInView(root, view));
  auto px = Back();
  auto at = [&](int x, int y) { return px[size_t(y) * kW + x] & 0xFFFFFF; };
  // A blur this small leaves the square green but for a trace of its
  // half-resolution copy.
  auto green = [&](int x, int y) { return (at(x, y) & 0xFF00FF) == 0 && (at(x, y) >> 8) >= 250; };
  EXPECT_EQ(at(2, 3), 0xFF0000u);
  EXPECT_EQ(at(5, 6), 0xFF0000u);
  EXPECT_EQ(at(6, 6), 0u);
  EXPECT_TRUE(green(11, 4)) << std::hex << at(11, 4);
  EXPECT_EQ(at(9, 4), 0u);
  // The same tree with the view's pixel origin at (20, 30).
  view.Origin = {20, 30};
  ASSERT_TRUE(drawer->DrawItemInView(root, view));
  px = Back();
  EXPECT_EQ(at(22, 33), 0xFF0000u);
  EXPECT_TRUE(green(31, 34)) << std::hex << at(31, 34);
  EXPECT_EQ(at(2, 3), 0u);
  EXPECT_EQ(S->SceneDepth, 0);
}

// A test filter chain: inverts red, green and blue of the rows it is given.
void InvertRows(foundation::TRefObject*, imaging::TSysBitmap* b, int32_t w, int32_t rows) {
  for (int32_t y = 0; y < rows; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) b->Row(y)[4 * x + c] = uint8_t(255 - b->Row(y)[4 * x + c]);
}

TEST_F(ScreenGL, ColorGradeTexturesFillRebuildAndGradeEveryRow) {
  auto* vol = Own(new TCustomColorGradeTexture(S, 1));
  auto* v = dynamic_cast<TVolumeTexture*>(vol->GetTexture());
  ASSERT_NE(v, nullptr);
  auto* id = imaging::CreateSysBitmap(32, 1024, imaging::PixelFormatByName(u"A8R8G8B8"));
  imaging::FillIdentityColorLUT(id);
  auto* view = static_cast<imaging::TSysBitmap*>(v->Lock(0, 0, 0, 0, 32, 32, 32));
  ASSERT_NE(view, nullptr);
  int diff = 0;
  for (int y = 0; y < 1024; ++y) diff += std::memcmp(view->Row(y), id->Row(y), 128) != 0;
  v->Unlock(0, view);
  EXPECT_EQ(diff, 0);
  id->Free();
  // A device loss frees it; the next request makes it again.
  S->ReleaseResources();
  EXPECT_EQ(vol->Texture, nullptr);
  EXPECT_NE(vol->GetTexture(), nullptr);
  // The ramp graded by a filter chain: every one of its 16 rows carries the grade.
  SetFilterChainApplier(&InvertRows);
  auto* ramp = Own(new TCustomColorGradeTexture(S, 0));
  ramp->SetSource(ramp);  // any object stands for the chain here
  auto* t = dynamic_cast<T3DTexture*>(ramp->Texture);
  ASSERT_NE(t, nullptr);
  T3DSurface* surf = t->GetSurface(0);
  auto* rv = static_cast<imaging::TSysBitmap*>(surf->Lock({0, 0, 256, 16}, true));
  ASSERT_NE(rv, nullptr);
  for (int y : {0, 7, 15}) {
    EXPECT_EQ(rv->Row(y)[4 * 10], 245) << y;
    EXPECT_EQ(rv->Row(y)[4 * 10 + 3], 255) << y;
  }
  imaging::TBitmap* rb = rv;
  surf->Unlock(rb);
  SetFilterChainApplier(nullptr);
}

TEST(HalveBitmapTest, AveragesTwoByTwoOrResamples) {
  auto* fmt = imaging::PixelFormatByName(u"A8R8G8B8");
  auto* src = imaging::CreateSysBitmap(4, 2, fmt);
  const uint8_t bytes[2][16] = {{0, 10, 20, 255, 4, 10, 20, 255, 100, 0, 0, 0, 101, 0, 0, 0},
                                {1, 10, 20, 255, 2, 10, 21, 255, 102, 0, 0, 0, 103, 0, 0, 0}};
  std::memcpy(src->Row(0), bytes[0], 16);
  std::memcpy(src->Row(1), bytes[1], 16);
  auto* dst = imaging::CreateSysBitmap(2, 1, fmt);
  HalveBitmap(src, dst);
  const uint8_t expect[8] = {1, 10, 20, 255, 101, 0, 0, 0};  // sums shifted right by 2, truncated
  EXPECT_EQ(std::memcmp(dst->Row(0), expect, 8), 0);
  auto* odd = imaging::CreateSysBitmap(3, 1, fmt);
  HalveBitmap(src, odd);  // not half: resampled, the left pixel stays near the left source
  EXPECT_LT(odd->Row(0)[0], 5);
  auto* other = imaging::CreateSysBitmap(2, 1, imaging::PixelFormatByName(u"R8G8B8"));
  EXPECT_THROW(HalveBitmap(src, other), foundation::EAssertionFailed);
  for (auto* b : {src, dst, odd, other}) b->Free();
}

}  // namespace
