// Image and box objects: sprite frames over time, hostile animation and size
// values, drawing on a recording draw manager (calls, parameters, order),
// generated pictures shared by name through the file accessor, and animated
// GIFs of loose and packed shows read as frame atlases.
#include "showmodel/kvQelObjects.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "imaging/MaskGenerator.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvICCColorProfile.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/GifWriter.h"

namespace {

using namespace objtest;

std::string Animation(const std::string& file, const std::string& keys) {
  return "object Sprite: Image\nGUID={S}\nImageName=" + file + "\nAnimEnable=1\n" + keys +
         "object K0: KeyPoint\nTime=0\nend\nend\n";
}

// Frame shown at each time of a sprite with the given keys (times from the slide's start).
std::vector<int> FramesAt(const std::string& keys, const std::vector<double>& times) {
  SlideFixture f("");
  const std::string pic = Utf8(f.FakePicture("grid.fake", 80, 40, 9));
  SlideFixture g(Animation(pic, keys));
  g.Build();
  auto* sprite = g.Get<TQelImage>("Sprite");
  std::vector<int> out;
  for (double t : times) {
    g.At(t);
    out.push_back(sprite->CurrentFrame());
  }
  return out;
}

TEST(ImageObject, SpriteFramesFollowTheDurationsPassesAndOffset) {
  const std::string grid = "AnimColumns=4\nAnimRows=2\nAnimCount=5\nAnimInterval=100\n";
  EXPECT_EQ(FramesAt(grid, {0, 50, 100, 100.5, 250, 499, 500, 501, 950, 1001, 2499}),
            (std::vector<int>{0, 0, 0, 1, 2, 4, 4, 0, 4, 0, 4}));
  EXPECT_EQ(FramesAt(grid + "AnimRepCount=2\n", {450, 501, 999, 1000, 1000.5, 5000}),
            (std::vector<int>{4, 0, 4, 4, 4, 4}));
  EXPECT_EQ(FramesAt(grid + "AnimOffset=500\n", {0, 599, 600, 600.5}), (std::vector<int>{0, 0, 0, 1}));
  // Per-frame durations: missing entries repeat the last one.
  EXPECT_EQ(FramesAt("AnimColumns=3\nAnimCount=3\nAnimInterval=10,200\n", {5, 11, 210, 211, 410, 411}),
            (std::vector<int>{0, 1, 1, 2, 2, 0}));
}

TEST(ImageObject, HostileAnimationValuesEndWithoutHangingOrDividingByZero) {
  // Negative durations count as 0; a cycle of no length shows frame 0, or
  // the last frame once a counted number of passes is over.
  EXPECT_EQ(FramesAt("AnimColumns=4\nAnimCount=4\nAnimInterval=-100\n", {0, 1, 100000}),
            (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(FramesAt("AnimColumns=4\nAnimCount=4\nAnimInterval=0\n", {0, 1, 100000}), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(FramesAt("AnimColumns=4\nAnimCount=4\nAnimInterval=0\nAnimRepCount=3\n", {0, 1}),
            (std::vector<int>{0, 3}));
  // A negative duration among positive ones is a frame that is skipped.
  EXPECT_EQ(FramesAt("AnimColumns=3\nAnimCount=3\nAnimInterval=100,-50,100\n", {50, 150, 250}),
            (std::vector<int>{0, 2, 0}));
  // Grids below 1 x 1 count as one cell: no frames to walk, the whole picture.
  SlideFixture f("");
  const std::string pic = Utf8(f.FakePicture("grid.fake", 80, 40, 9));
  for (const char* keys : {"AnimColumns=0\nAnimRows=0\nAnimCount=3\n", "AnimColumns=-2\nAnimRows=1\nAnimCount=3\n",
                           "AnimColumns=2\nAnimRows=0\nAnimCount=0\n"}) {
    SlideFixture g(Animation(pic, keys));
    g.Build();
    g.At(350);
    auto* s = g.Get<TQelImage>("Sprite");
    EXPECT_EQ(s->CurrentFrame(), 0) << keys;
    EXPECT_GT(s->Size.X, 0) << keys;
    EXPECT_TRUE(std::isfinite(s->ScaleXEff)) << keys;
    RecordingDrawer d;
    g.Slide->Draw(&d);
    EXPECT_EQ(d.Of("image").size(), 1u) << keys;
  }
}

TEST(ImageObject, DrawsThroughTheDrawManagerWithItsParameters) {
  SlideFixture f("");
  const std::string pic = Utf8(f.FakePicture("p.fake", 200, 100, 50));
  SlideFixture g("object Back: Box\nGUID={B}\nSize=1280,720\nColor1=#FF8000\nAlpha1=128\nend\n"
                 "object Cut: Splitter\nGUID={C}\nSize=10,10\nColor1=#FFFFFF\nend\n"
                 "object Photo: Image\nGUID={P}\nImageName=" + pic + "\nFiltering=nearest\nMipLodBias=0.25\n"
                 "object K0: KeyPoint\nTime=0\nOpacity=50\nend\nend\n");
  g.Build();
  g.At(0);
  RecordingDrawer d;
  g.Slide->Draw(&d);
  EXPECT_EQ(d.Kinds(), (std::vector<std::string>{"item Back", "box", "item Cut", "item Photo", "image"}));
  // The box as large as the design screen follows the slide: 800 x 600 from the top-left corner.
  const DrawCall box = d.Of("box")[0];
  EXPECT_FLOAT_EQ(box.Origin.X, 0);
  EXPECT_FLOAT_EQ(box.Origin.Y, 0);
  EXPECT_FLOAT_EQ(box.A.X, 800);
  EXPECT_FLOAT_EQ(box.B.Y, 600);
  EXPECT_EQ(box.Box.FillMode, 8);
  EXPECT_EQ(box.Box.Color1 >> 24, 128u);
  EXPECT_EQ(box.Box.Color2, box.Box.Color1);  // a solid fill repeats its colour
  EXPECT_FLOAT_EQ(box.Box.Opacity, 100);
  const DrawCall image = d.Of("image")[0];
  auto* photo = g.Get<TQelImage>("Photo");
  EXPECT_EQ(image.Image, photo->Image);
  EXPECT_EQ(image.Params.Filtering, flNearest);
  EXPECT_FLOAT_EQ(image.Params.MipBias, 0.25f);
  EXPECT_FLOAT_EQ(image.Params.Opacity, 50);
  EXPECT_TRUE(image.Params.Antialiased);
  EXPECT_TRUE(image.Params.HasCrop);
  EXPECT_FLOAT_EQ(image.Params.Crop.Right, 200);
  EXPECT_EQ(image.Params.TintValid, 1);
  // Source offset: the content starts at the rectangle's top-left corner.
  EXPECT_FLOAT_EQ(image.Offset.X, 100);
  EXPECT_FLOAT_EQ(image.Offset.Y, 50);
  EXPECT_FLOAT_EQ(image.A.X, 4);
  EXPECT_FLOAT_EQ(image.B.Y, 4);
  EXPECT_FLOAT_EQ(image.Frame.Origin.X, 400);
  // Drawing committed the frame.
  EXPECT_FALSE(g.Slide->IsChanged());
}

// A display profile for the scope: the ICC transforms and the built-in
// profiles are started, colour management is on unless Off.
class DisplayProfileScope {
 public:
  DisplayProfileScope(imaging::TColorProfile* Display, bool Off) {
    imaging::InitColorProfiles();
    imaging::InitICCColorProfile();
    imaging::SetDisplayColorProfile(Display, false);
    imaging::ColorManagementOff.store(Off);
  }
  ~DisplayProfileScope() {
    imaging::ColorManagementOff.store(false);
    imaging::SetDisplayColorProfile(nullptr, false);
  }
};

TEST(ImageObject, APictureGetsTheLookupTableOfItsColoursOnTheDisplay) {
  struct Row {
    const char* what;
    bool adobeDisplay, off;
    bool table;
  } rows[] = {
      {"wide-gamut display", true, false, true},
      {"colour management off", true, true, false},
      {"sRGB display, sRGB picture", false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    imaging::InitColorProfiles();
    DisplayProfileScope scope(row.adobeDisplay ? imaging::AdobeRGBColorProfile : nullptr, row.off);
    SlideFixture f("");
    const std::string pic = Utf8(f.FakePicture("p.fake", 20, 10, 50));
    SlideFixture g("object Photo: Image\nGUID={P}\nImageName=" + pic + "\nobject K0: KeyPoint\nTime=0\nend\nend\n");
    g.Build();
    g.At(0);
    auto* photo = g.Get<TQelImage>("Photo");
    ASSERT_NE(photo->Image, nullptr);
    RecordingDrawer d;
    g.Slide->Draw(&d);
    ASSERT_EQ(d.Of("image").size(), 1u);
    const TObjectDrawParams p = d.Of("image")[0].Params;
    if (!row.table) {
      EXPECT_EQ(photo->ProfileLut, nullptr);
      EXPECT_EQ(p.Grade.Mode, gmNone);
      continue;
    }
    imaging::TSysBitmap* lut = photo->ProfileLut;
    ASSERT_NE(lut, nullptr);
    ASSERT_EQ(lut->Width, 32);
    ASSERT_EQ(lut->Height, 1024);
    // Entry (blue i, green j, red k) is column k of row 32 i + j. The sRGB
    // primaries in the wide-gamut space: red (219, 0, 0), green (144, 255, 60).
    auto rgb = [&](int i, int j, int k) {
      const imaging::TFColor c = reinterpret_cast<const imaging::TFColor*>(lut->Row(32 * i + j))[k];
      return std::array<int, 3>{c.R, c.G, c.B};
    };
    auto near = [](std::array<int, 3> got, std::array<int, 3> want) {
      for (int n = 0; n < 3; ++n)
        if (std::abs(got[size_t(n)] - want[size_t(n)]) > 3) return false;
      return true;
    };
    EXPECT_TRUE(near(rgb(0, 0, 31), {219, 0, 0}));
    EXPECT_TRUE(near(rgb(0, 31, 0), {144, 255, 60}));
    EXPECT_TRUE(near(rgb(0, 0, 0), {0, 0, 0}));
    EXPECT_TRUE(near(rgb(31, 31, 31), {255, 255, 255}));
    // The picture is drawn through the table.
    EXPECT_EQ(p.Grade.Mode, gmLookup);
    ASSERT_NE(p.Grade.TextureA, nullptr);
    EXPECT_TRUE(p.Grade.TextureA->LookupVariant);
    EXPECT_EQ(p.Grade.TextureA->Lookup, lut);
  }
}

template <class F>
TObjectFrameParams Frame(F set) {
  TObjectFrameParams p;
  set(p);
  return p;
}

TEST(ImageObject, FrameBorderCropAndAspectWindow) {
  const float nan = std::nanf("");
  struct Row {
    const char* what;
    TObjectFrameParams p;
    float w, h;
    TFloatRect want;
    float bw;
  } rows[] = {
      {"plain", Frame([](auto&) {}), 200, 100, {0, 0, 200, 100}, 0},
      // The border is 10 % of the window's height before the crop cuts 10 % off top and bottom.
      {"border and crop", Frame([](auto& p) { p.Border = p.Crop = true, p.BorderWidth = 10, p.CropTop = p.CropBottom = 10; }),
       200, 100, {0, 10, 200, 90}, 10},
      {"square window", Frame([](auto& p) { p.KeepAspect = true, p.Aspect = 1; }), 200, 100, {50, 0, 150, 100}, 0},
      {"the picture's own aspect", Frame([](auto& p) { p.KeepAspect = true; }), 200, 100, {0, 0, 200, 100}, 0},
      // Half of the square window, pushed to the right edge of the free space: (200 - 50) / 2.
      {"zoom and pan", Frame([](auto& p) { p.KeepAspect = true, p.Aspect = 1, p.Zoom = 50, p.Offset = {100, 0}; }), 200, 100,
       {150, 25, 200, 75}, 0},
      {"zoom not a number", Frame([nan](auto& p) { p.KeepAspect = true, p.Aspect = 1, p.Zoom = nan; }), 200, 100, {50, 0, 150, 100}, 0},
      {"zoom 0", Frame([](auto& p) { p.KeepAspect = true, p.Aspect = 1, p.Zoom = 0; }), 200, 100, {50, 0, 150, 100}, 0},
      // A crop meeting in the middle leaves a one-pixel strip towards the inside.
      {"crop to a line", Frame([](auto& p) { p.Crop = true, p.CropLeft = p.CropRight = 50; }), 200, 100, {100, 0, 101, 100}, 0},
      {"crop to the right edge", Frame([](auto& p) { p.Crop = true, p.CropLeft = 100; }), 200, 100, {199, 0, 200, 100}, 0},
      {"crop past itself", Frame([](auto& p) { p.Crop = true, p.CropLeft = p.CropRight = 60; }), 200, 100, {0, 0, 200, 100}, 0},
      {"no picture", Frame([](auto& p) { p.Border = p.KeepAspect = true, p.Aspect = 2; }), 0, 0, {0, 0, 0, 0}, 0},
      {"negative border", Frame([](auto& p) { p.Border = true, p.BorderWidth = -5; }), 200, 100, {0, 0, 200, 100}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    float bw = -1;
    const TFloatRect r = CalcObjectContentRect(row.p, row.w, row.h, bw);
    EXPECT_FLOAT_EQ(r.Left, row.want.Left);
    EXPECT_FLOAT_EQ(r.Top, row.want.Top);
    EXPECT_FLOAT_EQ(r.Right, row.want.Right);
    EXPECT_FLOAT_EQ(r.Bottom, row.want.Bottom);
    EXPECT_FLOAT_EQ(bw, row.bw);
  }
  // The keys reach the frame: 200 x 100 less 10 % each side is 160 x 80, with a 10-pixel border around it.
  SlideFixture f("");
  const std::string pic = Utf8(f.FakePicture("p.fake", 200, 100, 50));
  SlideFixture g("object Photo: Image\nGUID={P}\nImageName=" + pic +
                 "\nEnableBorder=1\nBorderWidth=10\nEnableCrop=1\nCropRect=10,10,10,10\n"
                 "object K0: KeyPoint\nTime=0\nend\nend\n");
  g.Build();
  g.At(0);
  auto* photo = g.Get<TQelImage>("Photo");
  ASSERT_NE(photo->Image, nullptr);
  EXPECT_FLOAT_EQ(photo->ContentRect.Left, 20);
  EXPECT_FLOAT_EQ(photo->ContentRect.Bottom, 90);
  EXPECT_FLOAT_EQ(photo->FramedSize.X, 180);
  EXPECT_FLOAT_EQ(photo->FramedSize.Y, 100);
  EXPECT_FLOAT_EQ(photo->BorderWidthPair.X, 10);
}

TEST(BoxObject, FillModesAnyCaseAndInvisibleBoxes) {
  SlideFixture g("object H: Box\nGUID={1}\nSize=10,10\nFillMode=hgradient\nColor1=#FF0000\nColor2=#0000FF\nend\n"
                 "object V: Box\nGUID={2}\nSize=10,10\nFillMode=VGRADIENT\nend\n"
                 "object D: Box\nGUID={3}\nSize=10,10\nFillMode=TLBRGradient\nend\n"
                 "object E: Box\nGUID={4}\nSize=10,10\nFillMode=TRBLgradient\nend\n"
                 "object Clear: Box\nGUID={5}\nSize=10,10\nAlpha1=0\nend\n"
                 "object ClearGrad: Box\nGUID={6}\nSize=10,10\nFillMode=HGradient\nAlpha1=0\nAlpha2=0\nend\n"
                 "object HalfGrad: Box\nGUID={7}\nSize=10,10\nFillMode=HGradient\nAlpha1=0\nend\n"
                 "object Faded: Box\nGUID={8}\nSize=10,10\nobject K: KeyPoint\nTime=0\nOpacity=0.001\nend\nend\n");
  g.Build();
  g.At(0);
  RecordingDrawer d;
  g.Slide->Draw(&d);
  std::vector<int> modes;
  for (const DrawCall& c : d.Of("box")) modes.push_back(c.Box.FillMode);
  EXPECT_EQ(modes, (std::vector<int>{6, 5, 0, 1, 6}));
  EXPECT_NE(d.Of("box")[0].Box.Color1 & 0xFFFFFF, d.Of("box")[0].Box.Color2 & 0xFFFFFF);
}

TEST(SlideHost, GeneratedPicturesAreSharedByName) {
  SlideFixture f("");
  container::TFileAccessor* accessor = f.Accessor.Get();
  imaging::TMaskParams mask;
  mask.Kind = 1;
  mask.Width = 64;
  mask.Height = 32;
  const std::u16string key = imaging::BuildPresetMaskKey(mask);
  auto a = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(accessor, key));
  auto b = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(accessor, key));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Params.Width, 64);
  EXPECT_EQ(a->Params.Height, 32);
  EXPECT_EQ(a->Store, b->Store);  // made once
  // The effect buffer takes the render size.
  auto buffer = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(accessor, u"SlideEffectBuffer:1:1280:720"));
  EXPECT_EQ(buffer->Params.Width, 800);
  EXPECT_EQ(buffer->Params.Height, 600);
  // A name that is not a resource is left to the file rules (the placeholder here).
  {
    accesstest::PlaceholderRecorder recorder;
    auto none = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(accessor, u"EffectResource:x:1:1"));
    EXPECT_EQ(accesstest::PlaceholderRecorder::Count, 1);
  }
  // "Mask: " turns a picture without alpha into one whose alpha is its brightness.
  const std::u16string grey = f.FakePicture("m.fake", 4, 4, 200);
  auto m = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(accessor, u"Mask: " + grey));
  auto* level = dynamic_cast<imaging::TSysBitmap*>(m->Store->GetBitmap(0, imaging::pfA8R8G8B8, nullptr));
  ASSERT_NE(level, nullptr);
  EXPECT_EQ(level->Row(0)[3], 200);
}

TEST(SlideHost, ImagesWithEqualShadowsShareOneShadowPicture) {
  SlideFixture f("");
  const std::string pic = Utf8(f.FakePicture("p.fake", 64, 32, 90));
  const std::string shadowed = "ShadowEnable=1\n";
  SlideFixture g("object A: Image\nGUID={A}\nImageName=" + pic + "\n" + shadowed +
                 "object K: KeyPoint\nTime=0\nend\nend\n"
                 "object B: Image\nGUID={B}\nImageName=" + pic + "\n" + shadowed +
                 "object K: KeyPoint\nTime=0\nPosition=10,10\nend\nend\n");
  g.Build();
  g.At(0);
  auto* a = g.Get<TQelImage>("A");
  auto* b = g.Get<TQelImage>("B");
  ASSERT_TRUE(a->Shadow && b->Shadow);
  ASSERT_TRUE(a->Shadow->Image && b->Shadow->Image);
  EXPECT_EQ(a->Shadow->Image->Store, b->Shadow->Image->Store);
  RecordingDrawer d;
  g.Slide->Draw(&d);
  EXPECT_EQ(d.Kinds(), (std::vector<std::string>{"item A", "shadow", "image", "item B", "shadow", "image"}));
  EXPECT_NEAR(d.Of("shadow")[0].Opacity, 59, 1e-4);
}

// ---- animated GIFs of loose and packed shows ----

std::string TwoFrameGif() {
  testsupport::GifSpec s;
  s.width = 2;
  s.height = 1;
  s.globalPalette = {0x000000, 0xFF0000, 0x00FF00};
  s.loops = 0;
  for (uint8_t colour : {1, 2}) {
    testsupport::GifFrame fr;
    fr.width = 2;
    fr.height = 1;
    fr.indexes = {colour, colour};
    fr.graphicControl = true;
    fr.delay = 10;
    s.frames.push_back(fr);
  }
  const testsupport::Bytes b = testsupport::WriteGif(s);
  return std::string(b.begin(), b.end());
}

void ExpectAtlas(container::TFileSource* source, const std::u16string& name) {
  decoders::StartDecoders();
  SlideFixture g(Animation(Utf8(name), "AnimColumns=2\nAnimCount=2\nAnimInterval=100\n"), 800, 600, source);
  g.Build();
  accesstest::PlaceholderRecorder recorder;
  g.At(0);
  auto* s = g.Get<TQelImage>("Sprite");
  EXPECT_EQ(s->PictureName(), name + u"|framesatlas");
  ASSERT_NE(s->Image, nullptr);
  EXPECT_EQ(accesstest::PlaceholderRecorder::Count, 0) << Utf8(accesstest::PlaceholderRecorder::Line1);
  EXPECT_EQ(s->Image->Params.Width, 4);  // both 2 x 1 frames side by side
  EXPECT_EQ(s->Image->Params.Height, 1);
}

TEST(ImageObject, AnimatedGifOfALooseShowIsReadAsAnAtlas) {
  qeltest::TempTree t;
  t.write("Show/Project.qel", "\xEF\xBB\xBF[Main]\r\nQelVersion=10.25\r\n");
  t.write("Show/anim.gif", TwoFrameGif());
  auto locator = TRef<container::TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("Show/Project.qel")));
  ASSERT_TRUE(locator);
  ExpectAtlas(locator->Accessor->Source, t.internal("Show/anim.gif"));
}

TEST(ImageObject, AnimatedGifOfAPackedShowIsReadAsAnAtlas) {
  qeltest::TempTree t;
  testsupport::ContainerBuilder b;
  b.AddDeflated("Project.qel", "\xEF\xBB\xBF[Main]\r\nQelVersion=10.25\r\n");
  b.AddStored("C:\\Show\\anim.gif", TwoFrameGif());
  std::filesystem::copy_file("/proc/self/exe", t.path("show"));
  b.AppendToFile(t.path("show"));
  std::u16string error;
  auto locator = TRef<container::TQelShowLocator>::Adopt(container::OpenShow(t.internal("show"), error));
  ASSERT_TRUE(locator) << Utf8(error);
  ExpectAtlas(locator->Accessor->Source, u"C:\\Show\\anim.gif");
}

}  // namespace
