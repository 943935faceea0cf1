// Slide backgrounds drawn by the draw manager on the GL device (llvmpipe) and
// read back: a solid colour, the vertical gradient and a second background
// mixed in by half. The objects' drawer is passed to the draw manager by a
// small adapter of the test's own (the product's adapter is not built yet).
#include "tests/render3d/DrawerRig.h"

#include <cstdlib>
#include <functional>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DImages.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlide.h"
#include "showmodel/kvQelSlideHost.h"
#include "tests/showmodel/KeyFrameFixture.h"

namespace {

using foundation::TRef;
using namespace showmodel;

constexpr int32_t kW = 80, kH = 60;

// The objects' drawing calls passed on to the draw manager.
class Adapter : public TQelDrawer {
 public:
  explicit Adapter(render3d::T3DDrawer* d) : D(d) {}
  bool IsReady() override { return true; }
  void DrawItemWithEffects(TQelObject* Item) override { Item->Draw(this); }
  void PrepareObjectTexture(imaging::TImage*, const TObjectDrawParams&) override {}
  void DrawObjectImage(imaging::TImage* Image, const TAffineFrame3D& Frame, TFloatPoint Offset, T3DPoint A, T3DPoint B,
                       const TObjectDrawParams& P) override {
    render3d::TImageDrawParams r;
    r.Opacity = P.Opacity;
    r.Filter = 0;
    D->DrawImage(Image, Frame.Origin, Offset, A, B, r);
  }
  void DrawBox(T3DPoint Origin, T3DPoint EdgeA, T3DPoint EdgeB, const TBoxDrawParams& P) override {
    render3d::TBoxParams r;
    r.FillMode = P.FillMode;
    r.Color1 = P.Color1;
    r.Color2 = P.Color2;
    r.Opacity = P.Opacity;
    D->DrawBox(Origin, {0, 0}, EdgeA, EdgeB, r);
  }
  void DrawFrameBorder(const TAffineFrame3D&, TFloatPoint, TFloatPoint, TFloatPoint, uint32_t, float, bool) override {}
  TColorGradeTexture* CreateColorGradeTexture(bool) override { return nullptr; }
  void PrepareImageTexture(imaging::TImage*, const imaging::TImageDrawParams&) override {}
  void DrawImage(imaging::TImage*, T3DPoint, TFloatPoint, T3DPoint, T3DPoint, const imaging::TImageDrawParams&) override {}
  render3d::T3DDrawer* D;
};

class SlideGL : public ::testing::Test, protected render3d_test::TDrawerRig {
 protected:
  void SetUp() override {
    kftest::StartUnits();
    InitQelObjects();
    Open(kW, kH);
    auto files = foundation::MakeRef<container::TRealFileSource>();
    Accessor = TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files.Get()));
    Host = TRef<TQelSlideHost>::Adopt(new TQelSlideHost(
        Accessor.Get(), false, u"", [](int32_t& w, int32_t& h) { w = kW, h = kH; },
        [](const std::u16string&) -> foundation::TRefObject* { return nullptr; }));
  }
  void TearDown() override {
    Slide.Reset();
    Host.Reset();
    Accessor.Reset();
    Close();
  }
  void Load(const std::string& text) {
    Ini = kftest::ParseIni("[Main]\n[Times]\nopt_slidescount=1\nopt_synchpos1=4000\n[Slide1]\n" + text);
    Slide = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(Host.Get(), 0, nullptr));
    Slide->Size = {float(kW), float(kH)};
    Slide->LoadSlide(foundation::TIniFile::FindSection(Ini.Get(), u"Main"),
                     foundation::TIniFile::FindSection(Ini.Get(), u"Slide1"),
                     foundation::TIniFile::FindSection(Ini.Get(), u"Times"), 0, 0, 0, false);
    Slide->SetTime(100, true);
  }
  // Blue where nothing is drawn.
  std::vector<uint32_t> Draw() {
    return Frame(
        [&](render3d::T3DDrawer* d) {
          Adapter a(d);
          Slide->Draw(&a);
        },
        0xFF0000FFu);
  }

  TRef<foundation::TIniFile> Ini;
  TRef<container::TFileAccessor> Accessor;
  TRef<TQelSlideHost> Host;
  TRef<TQelSlide> Slide;
};

int Ch(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

void ExpectRgb(uint32_t c, int r, int g, int b, int tolerance, const std::string& where) {
  EXPECT_NEAR(Ch(c, 16), r, tolerance) << where;
  EXPECT_NEAR(Ch(c, 8), g, tolerance) << where;
  EXPECT_NEAR(Ch(c, 0), b, tolerance) << where;
}

uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x]; }

TEST_F(SlideGL, SolidBackgroundCoversTheWholeSlide) {
  Load("bstyle=1\nbcolor=255\n");
  const auto px = Draw();
  ASSERT_EQ(px.size(), size_t(kW * kH));
  for (auto [x, y] : {std::pair{0, 0}, {kW - 1, 0}, {0, kH - 1}, {kW - 1, kH - 1}, {40, 30}})
    ExpectRgb(At(px, x, y), 255, 0, 0, 0, std::to_string(x) + "," + std::to_string(y));
}

TEST_F(SlideGL, VerticalGradientRunsFromTopToBottom) {
  // Colour style 1 is box fill mode 5: colour 1 (green) at the top of the
  // quad (2 pixels above the slide), colour 2 (red) at its bottom.
  Load("bstyle=3\nbcolorstyle=1\nbcolor1=65280\nbcolor2=255\n");
  const auto px = Draw();
  auto expected = [](int y) { return (y + 0.5 + 2) / (kH + 4); };  // share of colour 2 at the row's centre
  for (int y : {0, 15, 30, 45, kH - 1}) {
    const double t = expected(y);
    ExpectRgb(At(px, 40, y), int(std::lround(255 * t)), int(std::lround(255 * (1 - t))), 0, 3, "row " + std::to_string(y));
  }
  // The same across a row.
  EXPECT_EQ(At(px, 0, 30) & 0xFFFFFF, At(px, kW - 1, 30) & 0xFFFFFF);
}

TEST_F(SlideGL, ASecondBackgroundMixedInByHalf) {
  Load("bstyle=1\nbcolor=255\n");
  Slide->SetBlendBackground(0.5f, bsSolid, text::MakeFColor(0, 255, 0), text::MakeFColor(0, 0, 0), u"", 100);
  const auto px = Draw();
  // Green at alpha 255 - trunc(127.5) = 128 over red.
  ExpectRgb(At(px, 40, 30), 127, 128, 0, 2, "centre");
}

}  // namespace
