// A slide read from its section: times, origins, background keys, time
// scaling of its key frames, and clicks turned into actions.
#include "showmodel/kvQelSlide.h"

#include <gtest/gtest.h>

#include "showmodel/kvQelSlideHost.h"
#include "tests/showmodel/ObjectFixture.h"

#include <string>
#include <vector>

namespace {

using foundation::TRef;
using showmodel::TQelSlide;

struct Loaded {
  qeltest::TempTree Tree;
  TRef<foundation::TIniFile> Ini;
  TRef<container::TFileAccessor> Accessor;
  TRef<showmodel::TQelSlideHost> Host;
  TRef<TQelSlide> Slide;

  Loaded(const std::string& text, int32_t index, double in = 0, double out = 0) {
    objtest::StartUnits();
    // "$DIR" stands for the test's folder.
    std::string t = text;
    for (size_t at; (at = t.find("$DIR")) != std::string::npos;) t.replace(at, 4, objtest::Utf8(Tree.internal()));
    Ini = kftest::ParseIni(t);
    auto files = foundation::MakeRef<container::TRealFileSource>();
    Accessor = TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files.Get()));
    Accessor->BaseFolder = Tree.internal() + u"\\";
    Host = TRef<showmodel::TQelSlideHost>::Adopt(new showmodel::TQelSlideHost(
        Accessor.Get(), false, u"", [](int32_t& w, int32_t& h) { w = 800, h = 600; },
        [](const std::u16string&) -> foundation::TRefObject* { return nullptr; }));
    Host->DesignSize[0] = 800;
    Host->DesignSize[1] = 600;
    Slide = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(Host.Get(), 0, nullptr));
    Slide->Size = {800, 600};
    foundation::TIniSection* section =
        foundation::TIniFile::FindSection(Ini.Get(), u"Slide" + std::u16string(1, char16_t(u'1' + index)));
    Slide->LoadSlide(foundation::TIniFile::FindSection(Ini.Get(), u"Main"), section,
                     foundation::TIniFile::FindSection(Ini.Get(), u"Times"), index, in, out, false);
  }
  showmodel::TQelObject* Child(size_t k) { return Slide->Children.at(k); }
};

const char* kThree = "[Main]\nopt_bstyle=1\nopt_bcolor=255\n[Times]\nopt_slidescount=3\nopt_synchpos1=5000\n"
                     "opt_synchpos2=9000\nopt_synchpos3=12000\n";

TEST(Slide, SpansFromTheSyncPositions) {
  struct Row {
    int32_t index;
    double start, end;
  } rows[] = {{0, 0, 5000}, {1, 5000, 9000}, {2, 9000, 12000}};
  for (const Row& r : rows) {
    Loaded l(std::string(kThree) + "[Slide1]\n[Slide2]\n[Slide3]\n", r.index, 700, 300);
    EXPECT_EQ(l.Slide->Start, r.start) << r.index;
    EXPECT_EQ(l.Slide->End, r.end) << r.index;
    EXPECT_EQ(l.Slide->GetOriginTime(showmodel::koSlideBegin), r.start);
    EXPECT_EQ(l.Slide->GetOriginTime(showmodel::koPrevEffectEnd), r.start + 700);
    EXPECT_EQ(l.Slide->GetOriginTime(showmodel::koNextEffectBegin), r.end);
    EXPECT_EQ(l.Slide->GetOriginTime(showmodel::koSlideEnd), r.end + 300);
    EXPECT_THROW(l.Slide->GetOriginTime(9), foundation::EAssertionFailed);
  }
}

TEST(Slide, BackgroundKeys) {
  // bstyle 0: Main's keys with the "opt_" prefix (solid red).
  Loaded main(std::string(kThree) + "[Slide1]\nbstyle=0\n", 0);
  EXPECT_EQ(main.Slide->Background.Style, showmodel::bsSolid);
  EXPECT_EQ(main.Slide->Background.Color1.R, 255);
  // A picture style without a file stays solid black.
  Loaded empty(std::string(kThree) + "[Slide1]\nbstyle=2\nbfn=\n", 0);
  EXPECT_EQ(empty.Slide->Background.Style, showmodel::bsSolid);
  EXPECT_EQ(empty.Slide->Background.Color1.R, 0);
  Loaded picture(std::string(kThree) + "[Slide1]\nbstyle=2\nbfn=bg.jpg\nbsize=50\n", 0);
  EXPECT_EQ(picture.Slide->Background.Style, showmodel::bsPicture);
  EXPECT_EQ(picture.Slide->Background.FileName, u"bg.jpg");
  EXPECT_FLOAT_EQ(picture.Slide->Background.Size, 50);
  // The fixture show's gradient: colour style 1 is box fill mode 5.
  Loaded gradient(std::string(kThree) + "[Slide1]\nbstyle=3\nbcolorstyle=1\nbcolor1=0\nbcolor2=6697728\n", 0);
  EXPECT_EQ(gradient.Slide->Background.Style, showmodel::bsGradientBox5);
  EXPECT_EQ(gradient.Slide->Background.Color2.B, 0x66);
  EXPECT_EQ(gradient.Slide->Background.Color2.G, 0x33);
  Loaded other(std::string(kThree) + "[Slide1]\nbstyle=3\nbcolorstyle=7\nbcolor1=255\n", 0);
  EXPECT_EQ(other.Slide->Background.Style, showmodel::bsSolid);
  EXPECT_EQ(other.Slide->Background.Color1.R, 0);
}

const char* kFading = "object Container: Root\n  object B: Box\n    GUID={B}\n    Size=800,600\n"
                      "    object K0: KeyPoint\n      Time=0\n      Opacity=0\n    end\n"
                      "    object K1: KeyPoint\n      Time=1000\n      Opacity=100\n    end\n  end\nend\n";

TEST(Slide, KeyFramesScaleToTheRealSpan) {
  struct Row {
    const char* scale;
    double at;       // local time
    float opacity;
  } rows[] = {
      {"", 500, 50},                              // no scaling
      {"ScaleMode=1\nScaleTimes=0,0,0\n", 500, 50},  // a zero divisor leaves the times
      {"ScaleMode=2\nScaleTimes=2000,0,0\n", 1000, 50},  // 4000 / 2000: twice as slow
      {"ScaleMode=2\nScaleTimes=2000\n", 2000, 100},
  };
  for (const Row& r : rows) {
    Loaded l(std::string(kThree) + "[Slide1]\n[Slide2]\n" + r.scale + kFading, 1);
    ASSERT_EQ(l.Slide->Children.size(), 1u) << r.scale;
    l.Slide->SetTime(l.Slide->Start + r.at, true);
    EXPECT_NEAR(l.Child(0)->ParamOpacity(), r.opacity, 0.01) << r.scale;
    EXPECT_EQ(l.Slide->LocalTime, r.at);
  }
}

TEST(Slide, ClicksBecomeActions) {
  Loaded l(std::string(kThree) +
               "[Slide1]\nobject Container: Root\n  object B: Box\n    GUID={B}\n    Size=800,600\n"
               "    Action=gotoslide(2)\n  end\nend\n",
           0);
  l.Slide->SetTime(100, true);
  showmodel::TQelActionInfo action;
  EXPECT_EQ(l.Slide->ProcessMouse(16, 400, 300, 1, 1, action, true), l.Child(0));
  EXPECT_EQ(action.Action, 0);
  EXPECT_EQ(l.Slide->ProcessMouse(0, 400, 300, 1, 2, action, true), l.Child(0));
  EXPECT_EQ(action.Action, showmodel::acGotoSlide);
  EXPECT_EQ(action.Index, 2);
  // Pressed, then released outside: no action, and it stays pressed.
  l.Slide->ProcessMouse(16, 400, 300, 1, 1, action, true);
  EXPECT_EQ(l.Slide->ProcessMouse(0, 900, 700, 1, 2, action, true), nullptr);
  EXPECT_EQ(action.Action, 0);
  EXPECT_TRUE(l.Child(0)->Pressed);
  // Modifier keys, or a disabled slide: nothing.
  EXPECT_EQ(l.Slide->ProcessMouse(8, 400, 300, 1, 2, action, true), nullptr);
  EXPECT_EQ(l.Slide->ProcessMouse(0, 400, 300, 1, 2, action, false), nullptr);
  EXPECT_EQ(l.Slide->ProcessMouse(0, 400, 300, 1, 2, action, true), l.Child(0));
  EXPECT_EQ(action.Action, showmodel::acGotoSlide);
}

// ---- backgrounds, extents, preload

using objtest::RecordingDrawer;

std::string Picture(int w, int h) { return "FAKE " + std::to_string(w) + " " + std::to_string(h) + " 90"; }

TEST(SlideBackground, ColoursAndTheBlendedSecondBackground) {
  Loaded l(std::string(kThree) + "[Slide1]\nbstyle=3\nbcolorstyle=1\nbcolor1=255\nbcolor2=16711680\n", 0);
  l.Slide->SetTime(100, true);
  RecordingDrawer d;
  l.Slide->Draw(&d);
  auto boxes = d.Of("box");
  ASSERT_EQ(boxes.size(), 1u);  // BgMix 0: the second background is not drawn at all
  EXPECT_EQ(boxes[0].Box.FillMode, 5);
  EXPECT_EQ(boxes[0].Box.Color1, 0xFFFF0000u);  // red, from the Windows colour 255
  EXPECT_EQ(boxes[0].Box.Color2, 0xFF0000FFu);
  // The quad is the slide's 800 x 600 grown by 2 pixels on every side.
  EXPECT_FLOAT_EQ(boxes[0].Origin.X, -2);
  EXPECT_FLOAT_EQ(boxes[0].Origin.Y, -2);
  EXPECT_FLOAT_EQ(boxes[0].A.X, 804);
  EXPECT_FLOAT_EQ(boxes[0].B.Y, 604);

  // Half mixed: the first at full alpha, then the second at 255 - trunc(0.5 x 255).
  l.Slide->SetBlendBackground(0.5f, showmodel::bsSolid, text::MakeFColor(0, 255, 0), text::MakeFColor(0, 0, 0), u"",
                              100);
  d.Calls.clear();
  l.Slide->Draw(&d);
  boxes = d.Of("box");
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].Box.Color1 >> 24, 255u);
  EXPECT_EQ(boxes[1].Box.FillMode, 8);
  EXPECT_EQ(boxes[1].Box.Color1, 0x8000FF00u);
  EXPECT_EQ(boxes[1].Box.Color2, 0x8000FF00u);  // solid: colour 1 both ways
}

TEST(SlideBackground, PicturesAreReducedToAboutTwiceTheirShownSize) {
  struct Row {
    const char* size;
    int32_t width, height;  // of the picture drawn
    float shownWidth;
  } rows[] = {
      {"125", 1000, 750, 1000},   // 4000 x 3000 shown at 1000 x 750: halved twice
      {"137.5", 2000, 1500, 1100},  // shown at 1100 x 825: halved once
      {"400", 4000, 3000, 3200},  // never enlarged, never reduced
  };
  for (const Row& r : rows) {
    Loaded l(std::string(kThree) + "[Slide1]\nbstyle=2\nbfn=$DIR\\sky.fake\nbsize=" + r.size + "\n", 0);
    l.Tree.write("sky.fake", Picture(4000, 3000));
    float w = 0, h = 0;
    auto first = TRef<imaging::TImage>::Adopt(l.Slide->GetBackgroundPicture(l.Slide->Background, w, h));
    ASSERT_TRUE(first) << r.size;
    EXPECT_EQ(first->Params.Width, r.width) << r.size;
    EXPECT_EQ(first->Params.Height, r.height) << r.size;
    EXPECT_FLOAT_EQ(w, r.shownWidth) << r.size;
    EXPECT_FLOAT_EQ(h, r.shownWidth * 0.75f) << r.size;
    // Every result is kept, reduced or not: the next frame gets the same image.
    const int decodes = accesstest::gFakeDecodes.load();
    auto again = TRef<imaging::TImage>::Adopt(l.Slide->GetBackgroundPicture(l.Slide->Background, w, h));
    EXPECT_EQ(again.Get(), first.Get()) << r.size;
    EXPECT_EQ(accesstest::gFakeDecodes.load(), decodes);
  }
}

TEST(SlideBackground, ShownAtNoSizeIsNotDrawnAndEnds) {
  for (const char* size : {"0", "-5", "0.0001"}) {
    Loaded l(std::string(kThree) + "[Slide1]\nbstyle=2\nbfn=$DIR\\sky.fake\nbsize=" + size + "\n", 0);
    l.Tree.write("sky.fake", Picture(64, 48));
    float w = 1, h = 1;
    EXPECT_EQ(l.Slide->GetBackgroundPicture(l.Slide->Background, w, h), nullptr) << size;
    l.Slide->SetTime(0, true);
    RecordingDrawer d;
    l.Slide->Draw(&d);
    EXPECT_TRUE(d.Of("image").empty()) << size;
  }
}

TEST(SlideBackground, TilesCentredOnTheQuadAndCapped) {
  struct Row {
    const char* size;
    size_t across;  // tiles each way
  } rows[] = {
      {"100", 3},   // n = ceil(800 / 800 / 2) = 1: -1..1
      {"30", 5},    // n = ceil(800 / 240 / 2) = 2
      {"1", 101},   // n = 50
      {"0.2", size_t(showmodel::kMaxBackgroundTiles)},  // n = 250, capped
  };
  for (const Row& r : rows) {
    Loaded l(std::string(kThree) + "[Slide1]\nbstyle=2\nbfn=$DIR\\sky.fake\nbsize=" + r.size + "\n", 0);
    l.Tree.write("sky.fake", Picture(40, 30));
    l.Slide->SetTime(0, true);
    RecordingDrawer d;
    l.Slide->Draw(&d);
    const auto tiles = d.Of("image");
    ASSERT_EQ(tiles.size(), r.across * r.across) << r.size;
    // The middle tile sits on the quad's centre (400, 300); a tile covers
    // 804 x shown width / 800 across.
    const double sizePct = std::stod(r.size);
    const double tw = 804 * (8.0 * sizePct) / 800, th = 604 * (6.0 * sizePct) / 600;
    const auto& mid = tiles[tiles.size() / 2];
    EXPECT_NEAR(mid.Frame.Origin.X, 400 - tw / 2, 0.01) << r.size;
    EXPECT_NEAR(mid.Frame.Origin.Y, 300 - th / 2, 0.01) << r.size;
    // The axes span the tile over the (possibly reduced) picture's pixels.
    EXPECT_NEAR(mid.A.X * mid.Image->Params.Width, tw, 0.001) << r.size;
    EXPECT_NEAR(mid.B.Y * mid.Image->Params.Height, th, 0.001) << r.size;
    EXPECT_FLOAT_EQ(mid.Params.Opacity, 100);
    EXPECT_EQ(mid.Params.Grade.Mode, showmodel::gmNone);  // no colour management in the tests
  }
}

const char* kGrowing = "object Container: Root\n  object B: Box\n    GUID={B}\n    Size=100,50\n"
                       "    object K0: KeyPoint\n      Time=0\n    end\n"
                       "    object K1: KeyPoint\n      Time=2000\n      ScaleX=300\n      ScaleY=300\n    end\n"
                       "    object K2: KeyPoint\n      Time=4000\n    end\n  end\nend\n";

TEST(SlideExtents, LargestSizeOverTheKeyFramesOncePerLoad) {
  Loaded l(std::string(kThree) + "[Slide1]\n" + kGrowing, 0);
  ASSERT_EQ(l.Slide->Children.size(), 1u);
  l.Slide->SetTime(100, true);
  EXPECT_TRUE(l.Slide->ExtentsMeasured);
  EXPECT_FALSE(l.Slide->IsMeasuring());
  ASSERT_EQ(l.Slide->KeyFrameTimes.size(), 3u);
  showmodel::TQelObject* box = l.Child(0);
  // The current state is the one at 100 ms again, not the last sample's.
  EXPECT_DOUBLE_EQ(l.Slide->LocalTime, 100);
  const float scaleNow = box->ParamScaleX();
  EXPECT_LT(scaleNow, 120);
  // The largest size is the one at 2000 ms: three times the size at 0 ms.
  const float w0 = box->MaxScreenSize.X / 3;
  EXPECT_GT(w0, 0);
  EXPECT_NEAR(box->MaxScreenSize.Y / box->MaxScreenSize.X, 0.5, 1e-4);
  EXPECT_NEAR(l.Slide->MaxScreenSize.X, 800, 1e-3);  // scale 100 x the render size
  // Runs once: changing the tree later does not measure again until a load.
  box->MaxScreenSize = {1, 1};
  l.Slide->SetTime(2500, true);
  EXPECT_FLOAT_EQ(box->MaxScreenSize.X, 1);
  l.Slide->LoadSlide(foundation::TIniFile::FindSection(l.Ini.Get(), u"Main"),
                     foundation::TIniFile::FindSection(l.Ini.Get(), u"Slide1"),
                     foundation::TIniFile::FindSection(l.Ini.Get(), u"Times"), 0, 0, 0, false);
  EXPECT_FALSE(l.Slide->ExtentsMeasured);
  l.Slide->SetTime(100, true);
  EXPECT_NEAR(box->MaxScreenSize.X, 3 * w0, 1e-3);
}

TEST(SlidePreload, OncePerDrawerAndTheBackgroundPicture) {
  Loaded l(std::string(kThree) + "[Slide1]\nbstyle=2\nbfn=$DIR\\sky.fake\n", 0);
  l.Tree.write("sky.fake", Picture(80, 60));
  RecordingDrawer d;
  d.Ready = false;
  l.Slide->Preload(&d);
  EXPECT_TRUE(d.Calls.empty());
  d.Ready = true;
  l.Slide->Preload(&d);
  ASSERT_EQ(d.Of("prepare").size(), 1u);
  EXPECT_EQ(d.Of("prepare")[0].Image->Params.Width, 80);
  l.Slide->Preload(&d);
  EXPECT_EQ(d.Of("prepare").size(), 1u);
  RecordingDrawer other;
  l.Slide->Preload(&other);
  EXPECT_EQ(other.Of("prepare").size(), 1u);
}

TEST(SlideBackground, BorrowedObjectsComeBeforeTheSplitter) {
  const std::string objects =
      "object Container: Root\n  object Back: Box\n    GUID={1}\n    Size=800,600\n  end\n"
      "  object Cut: Splitter\n    GUID={2}\n    Size=10,10\n  end\n"
      "  object Front: Box\n    GUID={3}\n    Size=10,10\n  end\nend\n";
  Loaded a(std::string(kThree) + "[Slide1]\n" + objects, 0);
  Loaded plain(std::string(kThree) + "[Slide1]\n" + kFading, 0);
  Loaded effect(std::string(kThree) + "[Slide1]\n", 0);
  effect.Slide->SetBackgroundObjects(a.Slide.Get(), plain.Slide.Get());
  ASSERT_EQ(effect.Slide->BgObjects.size(), 1u);
  EXPECT_EQ(effect.Slide->BgObjects[0]->Name, "Back");
  EXPECT_TRUE(effect.Slide->BgObjects2.empty());  // no splitter: none
  effect.Slide->SetTime(0, true);
  a.Slide->SetTime(0, true);
  RecordingDrawer d;
  effect.Slide->Draw(&d);
  EXPECT_EQ(d.Kinds(), (std::vector<std::string>{"box", "item Back", "box"}));

  // Inside a slide effect that draws backgrounds itself, the objects up to
  // and including the splitter are left out, and so is the background.
  a.Slide->BackgroundSuppressed = true;
  d.Calls.clear();
  a.Slide->Draw(&d);
  EXPECT_EQ(d.Kinds(), (std::vector<std::string>{"item Front", "box"}));
}

}  // namespace
