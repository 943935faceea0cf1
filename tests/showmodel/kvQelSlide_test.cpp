// A slide read from its section: times, origins, background keys, time
// scaling of its key frames, and clicks turned into actions.
#include "showmodel/kvQelSlide.h"

#include <gtest/gtest.h>

#include "showmodel/kvQelSlideHost.h"
#include "tests/showmodel/ObjectFixture.h"

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
    Ini = kftest::ParseIni(text);
    auto files = foundation::MakeRef<container::TRealFileSource>();
    Accessor = TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files.Get()));
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

}  // namespace
