// Frames of the fixture show drawn through the draw controller and the root
// item into a 1280 x 720 offscreen target (GL on llvmpipe) and read back:
// the fixture show is packed and appended to a copy of the test program,
// opened as the player opens it, and its slides are the slide producer's
// prepared slides.
//
// Expected colours come from the show itself: the first slide is a photo
// of (224, 192, 128) fitted to cover the picture, the second a vertical
// gradient from black to (32, 48, 64) behind a small photo, the dissolve
// between them mixes both by its progress. Set QEL_DUMP_FRAMES to a folder
// to have the frames written there as PNG files for a look.
//
// A second show (the fixture's object variant) puts a box, an image, a
// text, a button, a viewport and a video on one slide and enters its second
// slide through an effect slide; its places and colours follow from the
// project text.
//
// Reference pictures: a table of frames of both shows is compared with the
// PNG files under tests/player/reference/. To remake them (after a change
// that is meant to change the pictures), run this program with
// QEL_REMAKE_REFERENCES=1: the frames are written there instead of being
// compared. Look at every rewritten picture before committing it (objects
// where the project places them, the colours, the effect slide's halves).
#include "tests/render3d/Render3DTestEnv.h"
#include "tests/video/VideoTestEnv.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "decoders/SysPng.h"
#include "decoders/SysPngUtils.h"
#include "foundation/kpExceptions.h"
#include "showmodel/kvQelSource2.h"
#include "player/QelDrawController.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "showmodel/kvSlideProducer.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/TextServicesTest.h"
#include "tests/support/FixtureShow.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/PngWriter.h"
#include "tests/support/PinnedFonts.h"
#include "tests/support/TempTree.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"
#include "video/FFMpegVideoSource2.h"

namespace {

using foundation::TRef;
using player::TQelDrawController;
using player::TRootItem;

constexpr int32_t kW = 1280, kH = 720;

struct Rgb {
  int R, G, B;
};

std::string AsString(const testsupport::Bytes& b) { return std::string(b.begin(), b.end()); }

// The fixture show's media, as its container holds them.
std::string SolidJpeg(uint8_t r, uint8_t g, uint8_t b) {
  testsupport::JpegSpec spec;
  testsupport::Bytes pixels;
  for (int k = 0; k < spec.width * spec.height; ++k) pixels.insert(pixels.end(), {r, g, b});
  return AsString(testsupport::MakeJpeg(spec, pixels));
}

std::string GreenPng() {
  testsupport::PngImageSpec spec;
  spec.width = 32;
  spec.height = 24;
  testsupport::Bytes rows;
  for (uint32_t y = 0; y < spec.height; ++y)
    for (uint32_t x = 0; x < spec.width; ++x) rows.insert(rows.end(), {0x20, 0x80, 0x30});
  return AsString(testsupport::MakePng(spec, rows));
}

// The show opened over a folder, its three slides prepared for a 1280 x 720
// target, and the draw controller over an offscreen screen of that size.
// The captions are text objects: the text layer with the pinned fonts.
class ShowFrames : public objtest::TextServicesTest {
 protected:
  // The show packed as the fixture container (with the project text
  // given), appended to a copy of this program and opened as the player
  // opens it.
  void Open(const std::string& project) {
    testsupport::ContainerBuilder b;
    b.AddDeflated("Project.qel", project);
    b.AddStored("photos\\beach.jpg", SolidJpeg(0xE0, 0xC0, 0x80));
    b.AddDeflated("photos\\forest.png", GreenPng());
    b.AddEnciphered("photos\\city.jpg", SolidJpeg(0x50, 0x60, 0x70));
    Open(b);
  }
  void Open(testsupport::ContainerBuilder& b) {
    objtest::StartUnits();
    showmodel::InitQel3DDrawer();
    showmodel::InitQelSource();
    decoders::StartDecoders();
    std::filesystem::copy_file("/proc/self/exe", Tree.path("show"));
    b.AppendToFile(Tree.path("show"));
    std::u16string error;
    Locator = TRef<container::TQelShowLocator>::Adopt(container::OpenShow(Tree.internal("show"), error));
    ASSERT_TRUE(Locator) << foundation::MessageToUtf8(error);
    Source = Locator->GetSource();
    ASSERT_NE(Source, nullptr);
    Producer = TRef<showmodel::TSlideProducer>::Adopt(new showmodel::TSlideProducer(Source, false, {}, nullptr));
    Clock = TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0));
    Producer->SetTiming(Clock.Get());
    Producer->SetRenderSize(kW, kH, 100, 100, false);
    for (int32_t k = 0; k < Source->SlideCount; ++k)
      Slides.push_back(TRef<showmodel::TDrawContainer>::Adopt(Producer->PrepareSlide(k)));

    render3d::T3DEngine* engine = render3d::Get3DEngine();
    ASSERT_NE(engine, nullptr);
    Device = engine->CreateOffscreenDevice(kW, kH);
    ASSERT_NE(Device, nullptr);
    Screen = new render3d::T3DScreen();
    Screen->AssignDevice(Device);
    ASSERT_TRUE(Screen->IsReady());
    Controller = TRef<TQelDrawController>::Adopt(new TQelDrawController(Screen));
    Controller->InitDrawer();
    Controller->SetViewport({0, 0, kW, kH});
    Root = TRef<TRootItem>::Adopt(new TRootItem(true));
    const uint32_t h = Source->HiderColor;
    Root->HiderColor[0] = uint8_t(h >> 16);
    Root->HiderColor[1] = uint8_t(h >> 8);
    Root->HiderColor[2] = uint8_t(h);
    // The root's view: the viewport, with the show's picture rectangle in it.
    const showmodel::TViewportRect vp = Controller->GetViewport();
    const showmodel::TViewportRect pic = Producer->GetViewportRect(vp.Right - vp.Left, vp.Bottom - vp.Top);
    render3d::TViewState v;
    v.Viewport = {vp.Left, vp.Top, vp.Right, vp.Bottom};
    v.Area = {float(pic.Left), float(pic.Top), float(pic.Right), float(pic.Bottom)};
    v.Scale = {float(pic.Right - pic.Left), float(pic.Bottom - pic.Top)};
    v.Origin = {float(vp.Left), float(vp.Top)};
    Root->View = v;
  }
  void TearDown() override {
    Root.Reset();
    Controller.Reset();
    if (Screen) Screen->Free();
    if (Device) Device->Free();
    Slides.clear();
    Producer.Reset();
    Locator.Reset();
    TextServicesTest::TearDown();
  }

  // The frame at show time t, read back; empty when nothing was drawn.
  std::vector<uint32_t> Frame(double t, const char* name = nullptr) {
    Clock->Time = t;
    std::vector<showmodel::TDrawContainer*> list;
    for (auto& s : Slides) {
      list.push_back(s.Get());
      WaitForVideoFrames(s->Slide);
    }
    if (!Root->SelectSlides(list.data(), int32_t(list.size()), nullptr)) return {};
    EXPECT_NE(Controller->GetState() & player::dsDrawerReady, 0);
    EXPECT_TRUE(Controller->DrawRoot(Root.Get(), Root->View));
    render3d::T3DSurface* s = nullptr;
    EXPECT_TRUE(Screen->Renderer->GetBackBuffer(s));
    std::vector<uint32_t> px = render3d_test::ReadBack(s);
    Dump(px, name);
    return px;
  }
  // A frame for the pictures waits for each video's exact frame, as a
  // snapshot does, so the picture does not depend on the decoder's pace.
  static void WaitForVideoFrames(showmodel::TQelObject* o) {
    if (!o) return;
    if (auto* v = dynamic_cast<showmodel::TQelVideo*>(o)) v->CaptureMode = true;
    for (showmodel::TQelObject* c : o->Children) WaitForVideoFrames(c);
  }
  void Dump(const std::vector<uint32_t>& px, const char* name) {
    const char* dir = getenv("QEL_DUMP_FRAMES");
    if (!dir || !name || px.empty()) return;
    testsupport::PngImageSpec spec;
    spec.width = kW;
    spec.height = kH;
    testsupport::Bytes rows;
    for (uint32_t c : px) rows.insert(rows.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
    testsupport::WriteWholeFile(std::string(dir) + "/" + name + ".png", AsString(testsupport::MakePng(spec, rows)));
  }

  qeltest::TempTree Tree;
  TRef<container::TQelShowLocator> Locator;
  showmodel::TQelSource* Source = nullptr;  // the locator's
  TRef<showmodel::TSlideProducer> Producer;
  TRef<showmodel::TTiming> Clock;
  std::vector<TRef<showmodel::TDrawContainer>> Slides;
  render3d::TRendererDevice* Device = nullptr;
  render3d::T3DScreen* Screen = nullptr;
  TRef<TQelDrawController> Controller;
  TRef<TRootItem> Root;
};

Rgb At(const std::vector<uint32_t>& px, int x, int y) {
  const uint32_t c = px[size_t(y) * kW + size_t(x)];
  return {int((c >> 16) & 255), int((c >> 8) & 255), int(c & 255)};
}

void ExpectNear(Rgb got, Rgb want, int tolerance, const std::string& where) {
  EXPECT_NEAR(got.R, want.R, tolerance) << where;
  EXPECT_NEAR(got.G, want.G, tolerance) << where;
  EXPECT_NEAR(got.B, want.B, tolerance) << where;
}

std::string Where(int x, int y) { return std::to_string(x) + "," + std::to_string(y); }

// Points away from the captions and the second slide's photo.
const std::pair<int, int> kEdgePoints[] = {{40, 40}, {1240, 40}, {40, 680}, {1240, 680}, {640, 30}};

TEST_F(ShowFrames, FirstSlideAloneCoversThePicture) {
  Open(testsupport::FixtureProjectText());
  const auto px = Frame(2000, "first");
  ASSERT_EQ(px.size(), size_t(kW) * kH);
  for (auto [x, y] : kEdgePoints) ExpectNear(At(px, x, y), {0xE0, 0xC0, 0x80}, 3, Where(x, y));
  ExpectNear(At(px, 640, 200), {0xE0, 0xC0, 0x80}, 3, "centre above the caption");
}

// The third slide's photo (80, 96, 112) fades in from the slide's start
// (8 s) to 500 ms after its transition has ended (9.5 s), over the main
// black; at 10 s it is fully there.
TEST_F(ShowFrames, ThirdSlideAfterItsPhotoFadedIn) {
  Open(testsupport::FixtureProjectText());
  const auto px = Frame(10000, "third");
  ASSERT_FALSE(px.empty());
  EXPECT_FALSE(Root->TransitionRunning);
  ExpectNear(At(px, 640, 360), {0x50, 0x60, 0x70}, 3, "centre");
  // The 4:3 photo fitted into the 16:9 slide spans x 160 to 1120.
  ExpectNear(At(px, 170, 360), {0x50, 0x60, 0x70}, 3, "photo's left edge");
  ExpectNear(At(px, 40, 360), {0, 0, 0}, 3, "slide background beside the photo");
  // At 9.25 s five sixths of the way.
  ExpectNear(At(Frame(9250), 640, 360), {0x50 * 5 / 6, 0x60 * 5 / 6, 0x70 * 5 / 6}, 3, "fading in");
}

TEST_F(ShowFrames, BeforeTheFirstSlideNothingIsDrawn) {
  Open(testsupport::FixtureProjectText());
  EXPECT_TRUE(Frame(-100).empty());
}

TEST_F(ShowFrames, TheMiddleOfATransitionMixesBothSlides) {
  Open(testsupport::FixtureProjectText());
  const auto out = Frame(2000, "outgoing");
  const auto in = Frame(6000, "incoming");
  const auto mid = Frame(4500, "dissolve-half");
  ASSERT_FALSE(mid.empty());
  ASSERT_TRUE(Root->TransitionRunning);
  for (auto [x, y] : kEdgePoints) {
    const Rgb a = At(out, x, y), b = At(in, x, y), m = At(mid, x, y);
    ExpectNear(m, {(a.R + b.R) / 2, (a.G + b.G) / 2, (a.B + b.B) / 2}, 3, Where(x, y));
  }
  // The second slide's gradient runs from black at the top to (32, 48, 64)
  // at the bottom: its rows differ where the first slide's did not.
  const Rgb top = At(in, 40, 40), bottom = At(in, 40, 680);
  EXPECT_LT(top.B, 10);
  ExpectNear(bottom, {30, 45, 60}, 4, "bottom of the gradient");
  // A quarter and three quarters of the way.
  const Rgb q = At(Frame(4250, "dissolve-quarter"), 40, 680), tq = At(Frame(4750, "dissolve-three-quarters"), 40, 680);
  ExpectNear(q, {(3 * 0xE0 + bottom.R) / 4, (3 * 0xC0 + bottom.G) / 4, (3 * 0x80 + bottom.B) / 4}, 4, "a quarter");
  ExpectNear(tq, {(0xE0 + 3 * bottom.R) / 4, (0xC0 + 3 * bottom.G) / 4, (0x80 + 3 * bottom.B) / 4}, 4,
             "three quarters");
}

TEST_F(ShowFrames, TheSameFrameTwiceAndAcrossADeviceLossIsTheSame) {
  Open(testsupport::FixtureProjectText());
  const auto first = Frame(4500);
  const auto again = Frame(4500);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, again);
  Screen->DropRenderer();
  EXPECT_EQ(Controller->GetState() & player::dsDrawerReady, 0);
  Screen->InitRenderer();
  ASSERT_TRUE(Screen->IsReady());
  EXPECT_NE(Controller->GetState() & player::dsDeviceLost, 0);  // reported once the screen is back
  const auto after = Frame(4500);
  ASSERT_EQ(after.size(), first.size());
  EXPECT_EQ(after, first);
}

// A 4:3 show in the 16:9 target: the picture is 960 x 720 in the middle,
// the bands at its sides take the hider colour (0x00BBGGRR 16711680: blue).
TEST_F(ShowFrames, BandsOutsideThePictureInTheHiderColour) {
  std::string project = testsupport::FixtureProjectText();
  const std::string from = "opt_scr_width=1280";
  project.replace(project.find(from), from.size(), "opt_scr_width=960\r\nopt_scr_hidercolor=16711680");
  Open(project);
  const auto px = Frame(2000, "bands");
  ASSERT_FALSE(px.empty());
  for (auto [x, y] : {std::pair{0, 0}, {159, 360}, {1120, 360}, {1279, 719}, {80, 700}})
    ExpectNear(At(px, x, y), {0, 0, 255}, 0, Where(x, y));
  for (auto [x, y] : {std::pair{160, 40}, {1119, 40}, {200, 680}, {1080, 680}})
    ExpectNear(At(px, x, y), {0xE0, 0xC0, 0x80}, 3, Where(x, y));
}

// Motion-blur settings whose step would be 0 (a span shorter than the frame
// count) or whose fade is 0 would never end the sub-frame loop or divide by
// zero: the frame is drawn once, as without motion blur.
TEST_F(ShowFrames, MotionBlurSettingsThatCannotStepDrawThePlainFrame) {
  Open(testsupport::FixtureProjectText());
  const auto plain = Frame(4500);
  ASSERT_FALSE(plain.empty());
  struct Row {
    int32_t frames, span;
    double fade;
  } rows[] = {{4, 2, 1.0}, {4, 40, 0.0}, {4, 0, 1.0}};
  for (const Row& r : rows) {
    Root->MotionBlurFrames = r.frames;
    Root->MotionBlurSpan = r.span;
    Root->MotionBlurFade = r.fade;
    EXPECT_EQ(Frame(4500), plain) << r.frames << " " << r.span << " " << r.fade;
  }
}

// Sharpening leaves flat areas as they are; the slide still lands where it
// did, the transition included.
TEST_F(ShowFrames, SharpenedFramesKeepFlatColours) {
  Open(testsupport::FixtureProjectText());
  const auto plain = Frame(4500);
  ASSERT_EQ(Controller->Drawer->GetShaderLevel(), 2);  // the level at which the layer is used
  Root->SharpenAmount = 0.5f;
  const auto sharp = Frame(4500, "sharpened-dissolve");
  ASSERT_EQ(sharp.size(), plain.size());
  for (auto [x, y] : kEdgePoints) ExpectNear(At(sharp, x, y), At(plain, x, y), 2, Where(x, y));
  const auto first = Frame(2000);
  for (auto [x, y] : kEdgePoints) ExpectNear(At(first, x, y), {0xE0, 0xC0, 0x80}, 3, Where(x, y));
}

// ---- the object variant -----------------------------------------------------------------------

// The variant's clip, the committed 32 x 18 clip of ten flat grey frames
// (frame k has luma 16 + 4k).
class ObjectFrames : public ShowFrames {
 protected:
  void OpenObjects() {
    showmodel::InitViewPorts();
    showmodel::InitSlideEffects();
    showmodel::InitQelVideo();
    video::InitFFMpegVideoSource();
    const std::vector<uint8_t> clip = video_test::MediaBytes("tiny_32x18.mp4");
    ASSERT_FALSE(clip.empty());
    testsupport::ContainerBuilder b =
        testsupport::FixtureObjectsShowContainer(std::string(clip.begin(), clip.end()));
    Open(b);
  }
  void TearDown() override {
    ShowFrames::TearDown();
    showmodel::TQelSlide::PreloadTransitionHook = nullptr;
    render3d::SetSlideEffectHook(nullptr);
  }
};

constexpr Rgb kNavy{0, 0, 96}, kRed{0xC0, 0x30, 0x20}, kGreen{0x20, 0x80, 0x30}, kSkin{60, 120, 200},
    kYellow{0xF0, 0xD0, 0}, kBeach{0xE0, 0xC0, 0x80}, kBlue{0, 0, 255};

// BT.601 video range: the grey of luma y.
int GreyOfLuma(int y) { return int(std::lround(255.0 / 219.0 * (y - 16))); }

// Places from the project text (1280 x 720): the box 64..320 x 72..216,
// the photo 544..736 x 72..216, the button 72 high centred at (192, 540),
// the viewport 384..896 x 396..684 with its stencil over 384..640, the
// video 896..1280 x 432..648.
TEST_F(ObjectFrames, EachObjectWhereTheProjectPlacesIt) {
  ASSERT_NO_FATAL_FAILURE(OpenObjects());
  const auto px = Frame(2000, "objects");
  ASSERT_EQ(px.size(), size_t(kW) * kH);
  EXPECT_FALSE(Root->TransitionRunning);
  struct Probe {
    int x, y;
    Rgb want;
    const char* what;
  } probes[] = {
      {40, 40, kNavy, "main background"},      {640, 300, kNavy, "between the rows"},
      {1240, 700, kNavy, "below the video"},   {192, 144, kRed, "box centre"},
      {70, 78, kRed, "box near its corner"},   {314, 210, kRed, "box near the other"},
      {58, 144, kNavy, "left of the box"},     {326, 144, kNavy, "right of the box"},
      {640, 144, kGreen, "photo centre"},      {550, 78, kGreen, "photo near its corner"},
      {538, 144, kNavy, "left of the photo"},  {742, 144, kNavy, "right of the photo"},
      {192, 507, kSkin, "button's top edge"},  {192, 573, kSkin, "button's bottom edge"},
      {192, 498, kNavy, "above the button"},   {192, 582, kNavy, "below the button"},
      {500, 540, kYellow, "content inside the mask"}, {390, 402, kYellow, "mask's corner"},
      {634, 678, kYellow, "mask's other corner"},     {660, 540, kNavy, "content outside the mask"},
      {880, 420, kNavy, "outside the mask"},   {378, 540, kNavy, "left of the viewport"},
  };
  for (const Probe& p : probes) ExpectNear(At(px, p.x, p.y), p.want, 3, std::string(p.what) + " " + Where(p.x, p.y));
  // The title: white glyphs inside its line, none above it.
  int white = 0, whiteAbove = 0;
  for (int y = 20; y < 180; ++y)
    for (int x = 960; x < 1216; ++x) {
      const Rgb c = At(px, x, y);
      if (c.R > 240 && c.G > 240 && c.B > 240) ++(y < 100 ? whiteAbove : white);
    }
  EXPECT_GT(white, 500);
  EXPECT_EQ(whiteAbove, 0);
  // The video shows frame 9 (380 ms into the clip): luma 52.
  const int grey = GreyOfLuma(16 + 4 * 9);
  for (auto [x, y] : {std::pair{1088, 540}, {904, 440}, {1272, 640}})
    ExpectNear(At(px, x, y), {grey, grey, grey}, 5, "video " + Where(x, y));
  ExpectNear(At(px, 1088, 424), kNavy, 3, "above the video");
}

// Half way into the second slide the effect slide is drawn: its own blue
// background, the outgoing slide squeezed into the left half (its box and
// navy background at their squeezed places), the incoming photo into the
// right half; a cross-fade would mix both everywhere.
TEST_F(ObjectFrames, TheEffectSlideShowsBothSlidesSideBySide) {
  ASSERT_NO_FATAL_FAILURE(OpenObjects());
  const auto px = Frame(4500, "split-half");
  ASSERT_FALSE(px.empty());
  ASSERT_TRUE(Root->TransitionRunning);
  // Each half is 614 x 648 (48 % by 90 %), centred at (320, 360) and (960, 360).
  auto outgoing = [](double x, double y) { return std::pair{int(13 + x * 0.48), int(36 + y * 0.9)}; };
  const auto [bx, by] = outgoing(192, 144);
  const auto [nx, ny] = outgoing(40, 40);
  struct Probe {
    int x, y;
    Rgb want;
    const char* what;
  } probes[] = {
      {640, 360, kBlue, "between the halves"}, {6, 6, kBlue, "corner"},
      {1274, 714, kBlue, "other corner"},      {960, 20, kBlue, "above the right half"},
      {960, 360, kBeach, "incoming"},          {700, 60, kBeach, "incoming's corner"},
      {bx, by, kRed, "outgoing's box"},        {nx, ny, kNavy, "outgoing's background"},
  };
  for (const Probe& p : probes) ExpectNear(At(px, p.x, p.y), p.want, 3, std::string(p.what) + " " + Where(p.x, p.y));
}

// ---- reference pictures -----------------------------------------------------------------------

// The tolerance: 3 levels per channel, and at most 0.1 % of the pixels
// (921) beyond it. The frames are flat colours, gradients and a few edges;
// another llvmpipe build or CPU may round filtered samples differently by a
// level or two everywhere, and move a coverage sample along antialiased
// edges and glyphs, which touches a few hundred pixels at most. A misplaced
// object, a wrong colour or a missing effect changes tens of thousands.
constexpr int kTolerance = 3;
constexpr size_t kMaxOutliers = size_t(kW) * kH / 1000;

std::string ReferencePath(const std::string& name) { return std::string(QEL_REFERENCE_DIR) + "/" + name + ".png"; }

testsupport::Bytes EncodePng(const std::vector<uint32_t>& px) {
  testsupport::PngImageSpec spec;
  spec.width = kW;
  spec.height = kH;
  testsupport::Bytes rows;
  rows.reserve(px.size() * 3);
  for (uint32_t c : px) rows.insert(rows.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
  return testsupport::MakePng(spec, rows);
}

// The picture of a PNG file as 0xAARRGGBB, through the program's own decoder.
std::vector<uint32_t> DecodePng(const std::string& bytes, int32_t& w, int32_t& h) {
  decoders::InitSysPng();
  auto s = TRef<foundation::TMemoryStream>::Adopt(new foundation::TMemoryStream());
  s->WriteBuf(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()));
  s->SetPosition(0);
  decoders::TPNGObject png;
  png.LoadFromStream(s.Get());
  w = png.Width();
  h = png.Height();
  auto* b = imaging::CreateSysBitmap(w, h, decoders::GetPngPixelFormat(&png, true));
  std::vector<uint32_t> out;
  if (decoders::PngToBitmap(&png, b)) {
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = b->Row(y) + 4 * x;  // B, G, R, A
        out.push_back(0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
      }
  }
  b->Free();
  return out;
}

struct ReferenceCase {
  const char* Name;
  bool Objects;  // the object variant, else the fixture show
  double Time;
};

class ReferenceFrames : public ObjectFrames, public ::testing::WithParamInterface<ReferenceCase> {};

TEST_P(ReferenceFrames, MatchTheCommittedPicture) {
  const ReferenceCase& c = GetParam();
  if (c.Objects)
    ASSERT_NO_FATAL_FAILURE(OpenObjects());
  else
    Open(testsupport::FixtureProjectText());
  const auto px = Frame(c.Time, c.Name);
  ASSERT_EQ(px.size(), size_t(kW) * kH);
  const std::string path = ReferencePath(c.Name);
  if (getenv("QEL_REMAKE_REFERENCES")) {
    const testsupport::Bytes png = EncodePng(px);
    testsupport::WriteWholeFile(path, std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    int32_t w = 0, h = 0;
    std::vector<uint32_t> opaque = px;  // the picture is kept without alpha
    for (uint32_t& v : opaque) v |= 0xFF000000u;
    EXPECT_EQ(DecodePng(testsupport::ReadWholeFile(path), w, h), opaque) << "written back differently: " << path;
    std::printf("wrote %s: look at it before committing it\n", path.c_str());
    return;
  }
  ASSERT_TRUE(std::filesystem::exists(path)) << path << " is missing (QEL_REMAKE_REFERENCES=1 makes it)";
  int32_t w = 0, h = 0;
  const std::vector<uint32_t> ref = DecodePng(testsupport::ReadWholeFile(path), w, h);
  ASSERT_EQ(w, kW);
  ASSERT_EQ(h, kH);
  ASSERT_EQ(ref.size(), px.size());
  size_t outliers = 0;
  int worst = 0;
  std::string first;
  for (size_t k = 0; k < px.size(); ++k) {
    int d = 0;
    for (int shift : {0, 8, 16}) d = std::max(d, std::abs(int(px[k] >> shift & 255) - int(ref[k] >> shift & 255)));
    worst = std::max(worst, d);
    if (d > kTolerance) {
      if (outliers++ == 0) first = Where(int(k % kW), int(k / kW));
    }
  }
  EXPECT_LE(outliers, kMaxOutliers) << "pixels beyond " << kTolerance << " levels; the first at " << first
                                    << ", the largest difference " << worst;
}

INSTANTIATE_TEST_SUITE_P(
    ShowFrames, ReferenceFrames,
    ::testing::Values(ReferenceCase{"first-slide", false, 2000}, ReferenceCase{"dissolve-half", false, 4500},
                      ReferenceCase{"third-slide", false, 10000}, ReferenceCase{"objects", true, 2000},
                      ReferenceCase{"objects-clip-start", true, 500}, ReferenceCase{"split-half", true, 4500}),
    [](const auto& info) {
      std::string n = info.param.Name;
      for (char& ch : n)
        if (ch == '-') ch = '_';
      return n;
    });

}  // namespace
