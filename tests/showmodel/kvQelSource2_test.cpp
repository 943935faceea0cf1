// The show description a locator hands out: made once from the locator's
// accessor and INI, owning neither.
#include "showmodel/kvQelSource2.h"

#include <gtest/gtest.h>

#include "container/kvQelLoader2.h"
#include "tests/container/AccessTestEnv.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TempTree.h"

namespace {

using foundation::TRef;

TEST(QelSource, LocatorMakesItsSourceOnceWithoutGivingItOwnership) {
  showmodel::InitQelSource();
  qeltest::TempTree t;
  t.write("Project.qel", "\xEF\xBB\xBF[Main]\r\nQelVersion=1.0\r\n[Times]\r\n");
  TRef<container::TQelShowLocator> locator =
      TRef<container::TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("Project.qel")));
  ASSERT_TRUE(locator);
  showmodel::TQelSource* source = locator->GetSource();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(locator->GetSource(), source);
  EXPECT_EQ(source->Accessor, locator->Accessor);
  EXPECT_EQ(source->Ini, locator->ProjectIni);
  EXPECT_FALSE(source->OwnsIni);
  EXPECT_FALSE(source->OwnsAccessor);
  // Releasing the locator releases the source first, then the INI and the
  // accessor once each (a double release would be caught by the object model).
  const int live = foundation::LiveObjectCount();
  locator.Reset();
  EXPECT_LT(foundation::LiveObjectCount(), live);
}

TEST(QelSource, AnOwningSourceReleasesWhatItOwns) {
  auto* source = new container::TRealFileSource();
  auto* accessor = new container::TFileAccessor(source);
  source->Free();
  auto* ini = new foundation::TIniFile();
  {
    // Objects the process makes once, on first use, are not the source's.
    auto warm = foundation::MakeRef<foundation::TIniFile>();
    (new showmodel::TQelSource(accessor, warm.Get(), false))->Free();
  }
  const int live = foundation::LiveObjectCount();
  auto* qs = new showmodel::TQelSource(accessor, ini, true);
  qs->OwnsAccessor = true;
  qs->Free();
  // The source, the INI, the accessor and the file source are gone.
  EXPECT_LE(foundation::LiveObjectCount(), live - 3);
}

}  // namespace

namespace {

TEST(QelSource, AccessorAndIniMustBeGiven) {
  auto* source = new container::TRealFileSource();
  foundation::TRef<container::TFileAccessor> accessor =
      foundation::TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(source));
  source->Free();
  foundation::TRef<foundation::TIniFile> ini = foundation::MakeRef<foundation::TIniFile>();
  struct Row {
    container::TFileAccessor* accessor;
    foundation::TIniFile* ini;
  } rows[] = {{nullptr, ini.Get()}, {accessor.Get(), nullptr}, {nullptr, nullptr}};
  for (const Row& r : rows) {
    const int live = foundation::LiveObjectCount();
    EXPECT_THROW(new showmodel::TQelSource(r.accessor, r.ini, false), foundation::EAssertionFailed);
    EXPECT_EQ(foundation::LiveObjectCount(), live);  // nothing left behind
  }
}

}  // namespace

// ---- The slide table ----

#include <filesystem>
#include <set>

#include "foundation/kvFileUtils.h"
#include "tests/showmodel/ShowFixture.h"
#include "tests/support/FixtureShow.h"

namespace {

using showmodel::TSlideTimes;
using showtest::Show;

std::string TwoSlides(const char* repeat, const char* extra = "") {
  return std::string("[Main]\nopt_repeat=") + repeat +
         "\nobject TheEffect: AnEffect\n  time=1000\n  object Fade: dissolve\n    checked=1\n  end\nend\n" + extra +
         "[Times]\nopt_slidescount=2\nopt_synchpos1=5000\nopt_synchpos2=9000\n[Slide1]\n[Slide2]\n";
}

void ExpectTimes(const TSlideTimes& t, double start, double end, double in, double out, const char* what) {
  EXPECT_EQ(t.Start, start) << what;
  EXPECT_EQ(t.End, end) << what;
  EXPECT_EQ(t.EffectIn, in) << what;
  EXPECT_EQ(t.EffectOut, out) << what;
}

TEST(SlideTable, TwoSlidesRepeating) {
  Show s(TwoSlides("repeat"));
  ExpectTimes(s.Times(0), 0, 5000, 1000, 1000, "slide 0");
  ExpectTimes(s.Times(1), 5000, 9000, 1000, 1000, "slide 1");
  int32_t rep = 0;
  ExpectTimes(s.Times(2, &rep), 9000, 14000, 1000, 1000, "slide 2");
  EXPECT_EQ(rep, 1);
  ExpectTimes(s.Times(-1, &rep), -1073741823, 0, 0, 1000, "before the show");
  EXPECT_EQ(rep, -1);
  ExpectTimes(s.Times(-2, &rep), -2147483647, -1073741823, 0, 0, "far before");
  EXPECT_EQ(s.Source->ShowLength, 9000);
  EXPECT_EQ(s.Source->RepeatMode, showmodel::rmRepeat);
  EXPECT_EQ(s.Source->PlayError(), u"");
  struct Row {
    double t;
    int32_t slide;
  } rows[] = {{-5, -1}, {0, -1}, {0.5, 0}, {5000, 0}, {5000.5, 1}, {9000, 1}, {9500, 2}, {18000, 3},
              {18000.25, 4}, {-1073741824, -1}, {1e300, 2147483647}};
  for (const Row& r : rows) EXPECT_EQ(s.Source->SlideIndexAt(r.t), r.slide) << r.t;
}

TEST(SlideTable, CloseAndStopEndWithoutAnOutgoingTransition) {
  for (const char* mode : {"close", "CLOSE", "stop"}) {
    Show s(TwoSlides(mode));
    ExpectTimes(s.Times(1), 5000, 9000, 1000, 0, mode);
    EXPECT_EQ(s.Source->GetTransitionDuration(2), 0);
  }
  Show other(TwoSlides("again"));
  EXPECT_EQ(other.Source->RepeatMode, showmodel::rmRepeat);
}

TEST(SlideTable, ALongTransitionIsClampedOnlyWhereItEnters) {
  Show s("[Main]\n[Times]\nopt_slidescount=3\nopt_synchpos1=5000\nopt_synchpos2=7000\nopt_synchpos3=7000\n"
         "[Slide1]\n[Slide2]\nobject TheEffect: AnEffect\n  ref=Long\n  time=3000\nend\n[Slide3]\n");
  ExpectTimes(s.Times(0), 0, 5000, 0, 3000, "slide 0");
  ExpectTimes(s.Times(1), 5000, 7000, 2000, 0, "slide 1");
  ExpectTimes(s.Times(2), 7000, 7000, 0, 0, "slide 2 of length 0");
}

TEST(SlideTable, DecreasingSyncPositionsAreRefused) {
  Show("[Main]\n[Times]\nopt_slidescount=1\nopt_synchpos1=5\n");  // process-wide first-use objects
  const int live = foundation::LiveObjectCount();
  EXPECT_THROW(Show("[Main]\n[Times]\nopt_slidescount=2\nopt_synchpos1=5000\nopt_synchpos2=4000\n"),
               foundation::EAssertionFailed);
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

TEST(SlideTable, ShowsWithoutSlidesOrLengthAnswerSoundly) {
  Show none("[Main]\n[Times]\nopt_slidescount=0\n");
  EXPECT_EQ(none.Source->PlayError(), u"The show has no slides");
  EXPECT_EQ(none.Source->SlideIndexAt(100), -1);
  int32_t rep = 0;
  ExpectTimes(none.Times(5, &rep), 0, 0, 0, 0, "no slides");
  EXPECT_EQ(rep, -1);
  EXPECT_THROW(none.Source->GetTransitionDuration(0), foundation::EAssertionFailed);
  double d = 0, sl = 0;
  EXPECT_THROW(none.Source->GetSlideTransition(0, d, sl), foundation::EAssertionFailed);

  Show negative("[Main]\n[Times]\nopt_slidescount=-4\n");
  EXPECT_EQ(negative.Source->SlideCount, 0);

  Show zero("[Main]\n[Times]\nopt_slidescount=3\n[Slide1]\n");
  EXPECT_EQ(zero.Source->PlayError(), u"The show has a length of 0");
  EXPECT_EQ(zero.Source->ShowLength, 0);
  EXPECT_EQ(zero.Source->SlideIndexAt(0), -1);
  EXPECT_EQ(zero.Source->SlideIndexAt(1e9), 2);
  ExpectTimes(zero.Times(7, &rep), 0, 0, 0, 0, "length 0");
  EXPECT_EQ(rep, 2);
}

TEST(SlideTable, OptionsOfMain) {
  Show s("[Main]\nopt_scr_hidercolor=255\nopt_scr_unsharpamount=0.5\nopt_motion_blur_frames=4\n"
         "opt_motion_blur_fade=60\nopt_pausewheninactive=0\n[Times]\nopt_slidescount=1\nopt_synchpos1=10\n"
         "[Slide1]\nPicture=C:\\Shots\\Sea.Side.jpg\\\n");
  EXPECT_EQ(s.Source->HiderColor, 0xFF0000u);  // the red of a 0x00BBGGRR value
  EXPECT_FLOAT_EQ(s.Source->UnsharpAmount, 0.5f);
  EXPECT_EQ(s.Source->MotionBlurFrames, 4);
  EXPECT_EQ(s.Source->MotionBlurFade, 60);
  EXPECT_FALSE(s.Source->PauseWhenInactive);
  EXPECT_EQ(s.Source->ScreenWidth, 1920);
  EXPECT_EQ(s.Source->ScreenHeight, 1080);
  // The screen keys now exist (empty), and the screen-saver flag is written.
  EXPECT_NE(foundation::TIniList::FindKey(s.Source->MainSection, u"opt_scr_width"), nullptr);
  EXPECT_EQ(foundation::TIniList::ReadString(s.Source->MainSection, u"opt_ssaver", u"?"), u"0");
  EXPECT_EQ(s.Source->Slides[0].SlideId, u"Sea.Side");
}

TEST(SlideTable, AScreenSaverExecutableForcesRepeat) {
  const std::u16string saved = foundation::ProgramFileName;
  foundation::ProgramFileName = u"C:\\Shows\\Show.SCR";
  Show s(TwoSlides("close"));
  foundation::ProgramFileName = saved;
  EXPECT_TRUE(s.Source->IsScreenSaver);
  EXPECT_EQ(s.Source->RepeatMode, showmodel::rmRepeat);
  EXPECT_EQ(foundation::TIniList::ReadString(s.Source->MainSection, u"opt_hidecursor", u""), u"1");
  EXPECT_EQ(foundation::TIniList::ReadString(s.Source->MainSection, u"opt_ssaver", u""), u"1");
}

TEST(SlideTable, EndActionsAndPrograms) {
  Show s("[Main]\nopt_manualshow=1\nobject TheEffect: AnEffect\n  time=1000\n  object F: dissolve\n    checked=1\n"
         "  end\nend\n[Times]\nopt_slidescount=4\nopt_synchpos1=3000\nopt_synchpos2=8000\nopt_synchpos3=9000\n"
         "opt_synchpos4=10000\n[Slide1]\nPers_EndAction=timer\n[Slide2]\nPers_EndAction=loop\nPers_RunApp=1\n"
         "RunAppFN=calc.exe\n[Slide3]\nPers_EndAction=Pause\nPers_RunApp=1\n[Slide4]\nPers_EndAction=wait\n"
         "Pers_RunApp=true\nRunAppFN=x\n");
  double loop = -1;
  EXPECT_FALSE(s.Source->GetSlideEndAction(0, loop));
  EXPECT_TRUE(s.Source->GetSlideEndAction(1, loop));
  EXPECT_EQ(loop, 4000);  // 8000 - 3000 - 1000
  EXPECT_TRUE(s.Source->GetSlideEndAction(2, loop));
  EXPECT_EQ(loop, 0);
  EXPECT_TRUE(s.Source->GetSlideEndAction(3, loop));  // unknown word: the show's manual mode
  EXPECT_TRUE(s.Source->GetSlideEndAction(9, loop));  // no section: the same
  std::u16string app;
  EXPECT_FALSE(s.Source->GetSlideRunApp(0, app));
  EXPECT_TRUE(s.Source->GetSlideRunApp(1, app));
  EXPECT_EQ(app, u"calc.exe");
  EXPECT_FALSE(s.Source->GetSlideRunApp(2, app));  // no program named
  EXPECT_FALSE(s.Source->GetSlideRunApp(3, app));  // "true" is not a boolean here
}

// ---- Transition choice ----

std::string ShowWith(const std::string& definitions, const std::string& slides, int count = 1) {
  std::string text = "[Main]\nobject TheEffect: AnEffect\n  time=1000\n" + definitions + "end\n[Times]\nopt_slidescount=" +
                     std::to_string(count) + "\n";
  for (int k = 1; k <= count; ++k) text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 5000) + "\n";
  return text + slides;
}

foundation::TRef<showmodel::TQelEffect> Transition(Show& s, int32_t i, double* duration = nullptr,
                                                   double* smooth = nullptr) {
  double d = -1, sl = -1;
  auto e = foundation::TRef<showmodel::TQelEffect>::Adopt(s.Source->GetSlideTransition(i, d, sl));
  if (duration) *duration = d;
  if (smooth) *smooth = sl;
  return e;
}

std::vector<bool> Bits(const char* s) {
  std::vector<bool> out;
  for (; *s; ++s) out.push_back(*s == '1');
  return out;
}

TEST(TransitionChoice, KindsReadTheirOptionsAndParameters) {
  Show s(ShowWith("",
                  "[Slide1]\nobject TheEffect: push\n  direction=0100\nend\n"
                  "[Slide2]\nobject TheEffect: hourhand\n  action=11\n  direction=101\n  offset=x\nend\n"
                  "[Slide3]\nobject TheEffect: shapes\n  action=01\n  direction=011\n  centerx=bad\n  centery=20\n"
                  "  smoothline=0.5\nend\n"
                  "[Slide4]\nobject TheEffect: curling\n  action=10\n  direction=00000001\n  usecolor=1\n"
                  "  color=#102030\n  3dvolume=q\nend\n"
                  "[Slide5]\nobject TheEffect: mosaic\n  cols=4\n  rows=z\nend\n"
                  "[Slide6]\nobject TheEffect: push\n  direction=0000\nend\n",
                  6));
  auto push = Transition(s, 0);
  ASSERT_TRUE(push);
  EXPECT_EQ(push->Kind, 7);
  EXPECT_EQ(push->Options, Bits("1000"));  // direction character 1 is option 0
  EXPECT_EQ(push->VariantCount, 1);

  double smooth = -1;
  auto hour = Transition(s, 1, nullptr, &smooth);
  ASSERT_TRUE(hour);
  EXPECT_EQ(hour->Kind, 2);
  EXPECT_EQ(hour->VariantCount, 4);
  EXPECT_EQ(hour->Options, Bits("11101000000"));
  EXPECT_EQ(hour->FloatParams, std::vector<float>{0});
  EXPECT_DOUBLE_EQ(hour->SmoothLine, 0.35);
  EXPECT_EQ(smooth, 0);  // the slide's own "smoothline" is not written

  auto shapes = Transition(s, 2, nullptr, &smooth);
  ASSERT_TRUE(shapes);
  EXPECT_EQ(shapes->IntParams, (std::vector<int32_t>{50, 20}));
  EXPECT_EQ(shapes->VariantCount, 2);
  EXPECT_DOUBLE_EQ(shapes->SmoothLine, 0.5);
  EXPECT_EQ(smooth, 0.5);

  auto curl = Transition(s, 3);
  ASSERT_TRUE(curl);
  EXPECT_EQ(curl->Kind, 9);
  EXPECT_EQ(curl->Options, Bits("101000000010"));  // direction char 7 is option 2
  EXPECT_EQ(curl->IntParams[0], 1);
  EXPECT_EQ(uint32_t(curl->IntParams[1]) & 0xFFFFFFu, 0x302010u);  // red and blue swapped
  EXPECT_EQ(curl->FloatParams, (std::vector<float>{0, 0.125f}));

  s.Source->FixedEffects = true;
  auto mosaic = Transition(s, 4);
  ASSERT_TRUE(mosaic);
  EXPECT_EQ(mosaic->IntParams, (std::vector<int32_t>{4, 1, 0, 4}));  // the seed is the slide index
  s.Source->FixedEffects = false;
  s.Random.Next = {3, 5};
  mosaic = Transition(s, 4);
  EXPECT_EQ(mosaic->IntParams[3], 3 * 4096 + 5);

  double duration = -1;
  EXPECT_FALSE(Transition(s, 5, &duration));  // no direction: no variant, no transition
  EXPECT_EQ(duration, 0);
}

TEST(TransitionChoice, ReducingToOneVariant) {
  auto hour = foundation::MakeRef<showmodel::TQelEffect>(2);
  hour->Options = Bits("11101000000");
  hour->VariantCount = 4;
  struct Row {
    int32_t v;
    const char* options;
  } rows[] = {{0, "10100000000"}, {1, "10001000000"}, {2, "01100000000"}, {3, "01001000000"}};
  for (const Row& r : rows) {
    auto one = foundation::TRef<showmodel::TQelEffect>::Adopt(showmodel::ReduceToVariant(hour.Get(), r.v));
    EXPECT_EQ(one->Options, Bits(r.options)) << r.v;
  }
  // With one action disabled the variant still keeps one direction only.
  hour->Options = Bits("01111000000");
  hour->VariantCount = 3;
  auto one = foundation::TRef<showmodel::TQelEffect>::Adopt(showmodel::ReduceToVariant(hour.Get(), 2));
  EXPECT_EQ(one->Options, Bits("01001000000"));
  // Flip counts only its four directions; its other switches stay.
  auto flip = foundation::MakeRef<showmodel::TQelEffect>(10);
  flip->Options = Bits("011011");
  one = foundation::TRef<showmodel::TQelEffect>::Adopt(showmodel::ReduceToVariant(flip.Get(), 1));
  EXPECT_EQ(one->Options, Bits("001011"));
}

const char* kThreeDefaults =
    "  object A: dissolve\n    checked=1\n  end\n"
    "  object B: push\n    key=direction\n    direction=1111\n  end\n"
    "  object C: gates\n    checked=1\n    direction=11\n  end\n"
    "  object Off: slide\n    checked=0\n    direction=0000\n  end\n";

std::string DefaultSlides(int count) {
  std::string out;
  for (int k = 1; k <= count; ++k) out += "[Slide" + std::to_string(k) + "]\n";
  return out;
}

TEST(TransitionChoice, TheDefaultSet) {
  Show s(ShowWith(kThreeDefaults, DefaultSlides(12), 12));
  ASSERT_EQ(s.Source->DefaultEffects.size(), 3u);
  EXPECT_EQ(s.Source->DefaultEffectTime, 1000);
  // Random picks use every effect once per cycle of three.
  for (int cycle = 0; cycle < 3; ++cycle) {
    std::set<int32_t> kinds;
    for (int k = 0; k < 3; ++k) {
      double duration = 0;
      auto e = Transition(s, cycle * 3 + k, &duration);
      ASSERT_TRUE(e);
      EXPECT_EQ(duration, 1000);
      kinds.insert(e->Kind);
    }
    EXPECT_EQ(kinds, (std::set<int32_t>{1, 7, 4})) << cycle;
  }
}

TEST(TransitionChoice, RandomVariantsAlternateTheirParity) {
  Show s(ShowWith("  object B: push\n    checked=1\n    direction=1111\n  end\n", DefaultSlides(6), 6));
  std::vector<int32_t> variants;
  for (int k = 0; k < 6; ++k) {
    s.Random.Next = {0};
    auto e = Transition(s, k);
    ASSERT_TRUE(e);
    for (int d = 0; d < 4; ++d)
      if (e->Options[size_t(d)]) variants.push_back(d);
  }
  // The source answers 0 each time; the parity rule turns every other pick into 1.
  EXPECT_EQ(variants, (std::vector<int32_t>{1, 0, 1, 0, 1, 0}));
}

TEST(TransitionChoice, FixedEffectsFollowTheSlideIndex) {
  Show s(ShowWith(kThreeDefaults, DefaultSlides(12), 12));
  s.Source->FixedEffects = true;
  auto first = Transition(s, 5);
  ASSERT_TRUE(first);
  for (int32_t i : {5, 17, 29, 5}) {
    auto again = Transition(s, i);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Kind, first->Kind) << i;
    EXPECT_EQ(again->Options, first->Options) << i;
  }
  EXPECT_TRUE(s.Random.Ranges.size() <= 4u);  // only the construction's shuffle drew numbers
}

TEST(TransitionChoice, TheShuffleReachesEveryOrder) {
  std::string five;
  for (const char* name : {"A", "B", "C", "D", "E"})
    five += std::string("  object ") + name + ": dissolve\n    checked=1\n  end\n";
  std::set<std::vector<int32_t>> orders;
  for (int a = 0; a < 5; ++a)
    for (int b = 0; b < 4; ++b)
      for (int c = 0; c < 3; ++c)
        for (int d = 0; d < 2; ++d) {
          auto ini = kftest::ParseIni(ShowWith(five, DefaultSlides(1)));
          showtest::ScriptedRandom random;
          random.Next = {a, b, c, d};
          auto* files = new container::TRealFileSource();
          auto accessor = foundation::TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files));
          files->Free();
          auto source = foundation::TRef<showmodel::TQelSource>::Adopt(
              new showmodel::TQelSource(accessor.Get(), ini.Get(), false, random.Source()));
          EXPECT_EQ(random.Ranges, (std::vector<int32_t>{5, 4, 3, 2}));
          orders.insert(source->EffectOrder);
        }
  EXPECT_EQ(orders.size(), 120u);
}

TEST(TransitionChoice, NoTransitionCases) {
  Show s(ShowWith("",
                  "[Slide1]\n[Slide2]\nobject TheEffect: AnEffect\n  ref=quick\nend\n"
                  "[Slide3]\nobject TheEffect: dissolve\n  time=0\nend\ntime=0\n"
                  "[Slide4]\nobject TheEffect: AnEffect\n  ref=nothing\n  time=800\nend\n"
                  "[Slide5]\nobject TheEffect: Stars\n  sectionfield=a\n  a=1\n  slide_1=none\nend\n",
                  5));
  for (int32_t i = 0; i < 5; ++i) {
    double duration = -1;
    EXPECT_FALSE(Transition(s, i, &duration)) << i;
    EXPECT_EQ(duration, 0) << i;
  }
  // A custom effect with an effect slide to show is kind 12 with that slide.
  Show c(ShowWith("", "[Slide1]\ntime=600\nobject TheEffect: Stars\n  sectionfield=a\n  a=01\n  slide_01=s2\nend\n"
                      "[effect_s2]\n"));
  double duration = 0;
  auto e = Transition(c, 0, &duration);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Kind, 12);
  EXPECT_EQ(e->Description, foundation::TIniFile::FindSection(c.Ini.Get(), u"effect_s2"));
  EXPECT_EQ(duration, 600);
}

// The time table and the chosen transition read one length.
TEST(TransitionChoice, TheTableAndTheFilterAgreeOnTheLength) {
  struct Row {
    const char* what;
    std::string text;
    double length;
  } rows[] = {
      {"in place: the slide block's time, not the effect block's",
       ShowWith("  object F: dissolve\n    checked=1\n  end\n",
                "[Slide1]\ntime=1500\nobject TheEffect: gates\n  direction=1\n  time=333\nend\n"),
       1500},
      {"in place without a time: the root's",
       ShowWith("", "[Slide1]\nobject TheEffect: gates\n  direction=1\n  time=333\nend\n"), 1000},
      {"a reference to a named definition without its own time",
       ShowWith("  object G: gates\n    direction=1\n    time=700\n  end\n",
                "[Slide1]\nobject TheEffect: AnEffect\n  ref=G\nend\n"),
       0},
      {"a reference with its own time",
       ShowWith("  object G: gates\n    direction=1\n  end\n",
                "[Slide1]\nobject TheEffect: AnEffect\n  ref=G\n  time=650\nend\n"),
       650},
      {"a root time written with a fraction",
       "[Main]\nobject TheEffect: AnEffect\n  time=1000.0\n  object F: dissolve\n    checked=1\n  end\nend\n"
       "[Times]\nopt_slidescount=1\nopt_synchpos1=5000\n[Slide1]\n",
       1000},
      {"defowntime with its own time",
       ShowWith("  object F: dissolve\n    checked=1\n  end\n",
                "[Slide1]\nobject TheEffect: AnEffect\n  ref=defowntime\n  time=250\nend\n"),
       250},
  };
  for (const Row& r : rows) {
    Show s(r.text);
    double duration = -1;
    auto e = Transition(s, 0, &duration);
    EXPECT_EQ(s.Times(0).EffectIn, r.length) << r.what;
    EXPECT_EQ(duration, r.length) << r.what;
    EXPECT_EQ(bool(e), r.length > 0) << r.what;
  }
}

}  // namespace

// ---- The fixture show, packed and opened as the player opens it ----

namespace {

class FixtureShow : public ::testing::Test {
 protected:
  void SetUp() override {
    showmodel::InitQelSource();
    std::filesystem::copy_file("/proc/self/exe", tree_.path("show"));
    testsupport::FixtureShowContainer().AppendToFile(tree_.path("show"));
    std::u16string error;
    locator_ = foundation::TRef<container::TQelShowLocator>::Adopt(container::OpenShow(tree_.internal("show"), error));
    ASSERT_TRUE(locator_) << foundation::MessageToUtf8(error);
    source_ = locator_->GetSource();
    ASSERT_NE(source_, nullptr);
    source_->SetRandom([](int32_t) { return 0; });
  }
  qeltest::TempTree tree_;
  foundation::TRef<container::TQelShowLocator> locator_;
  showmodel::TQelSource* source_ = nullptr;
};

TEST_F(FixtureShow, TimeTable) {
  EXPECT_EQ(source_->PlayError(), u"");
  EXPECT_EQ(source_->SlideCount, 3);
  EXPECT_EQ(source_->ShowLength, 12000);
  EXPECT_EQ(source_->RepeatMode, showmodel::rmClose);
  EXPECT_EQ(source_->ScreenWidth, 1280);
  EXPECT_EQ(source_->ScreenHeight, 720);
  const char16_t* ids[] = {u"beach", u"forest", u"city"};
  for (int k = 0; k < 3; ++k) EXPECT_EQ(source_->Slides[size_t(k)].SlideId, ids[k]);
  ASSERT_EQ(source_->DefaultEffects.size(), 1u);  // the one dissolve in use
  EXPECT_EQ(source_->DefaultEffects[0]->Kind, 1);

  struct Row {
    double t;
    int32_t slide;          // SlideIndexAt
    double local;           // t - Start of that slide
    double start, end, in, out;
    int32_t repetition;
  } rows[] = {
      {-10, -1, 1073741813, -1073741823, 0, 0, 1000, -1},
      {0, -1, 1073741823, -1073741823, 0, 0, 1000, -1},
      {1, 0, 1, 0, 4000, 1000, 1000, 0},
      {999, 0, 999, 0, 4000, 1000, 1000, 0},
      {4000, 0, 4000, 0, 4000, 1000, 1000, 0},
      {4000.5, 1, 0.5, 4000, 8000, 1000, 1000, 0},
      {7999, 1, 3999, 4000, 8000, 1000, 1000, 0},
      {8000, 1, 4000, 4000, 8000, 1000, 1000, 0},
      {11000, 2, 3000, 8000, 12000, 1000, 0, 0},
      {12000, 2, 4000, 8000, 12000, 1000, 0, 0},
      // Past the end: later passes are answered, ending the show is the engine's.
      {12001, 3, 1, 12000, 16000, 1000, 1000, 1},
      {36000, 8, 4000, 32000, 36000, 1000, 0, 2},
  };
  for (const Row& r : rows) {
    const int32_t slide = source_->SlideIndexAt(r.t);
    EXPECT_EQ(slide, r.slide) << r.t;
    TSlideTimes times;
    EXPECT_EQ(source_->GetSlideTimes(slide, times), r.repetition) << r.t;
    EXPECT_EQ(r.t - times.Start, r.local) << r.t;
    ExpectTimes(times, r.start, r.end, r.in, r.out, "row");
  }
  // The transition into every slide: the dissolve, as long as the table says.
  for (int32_t i = 0; i < 6; ++i) {
    double duration = 0, smooth = -1;
    auto e = foundation::TRef<showmodel::TQelEffect>::Adopt(source_->GetSlideTransition(i, duration, smooth));
    ASSERT_TRUE(e) << i;
    EXPECT_EQ(e->Kind, 1);
    EXPECT_EQ(duration, 1000);
    EXPECT_DOUBLE_EQ(smooth, 0.001);
  }
  double loop = -1;
  for (int32_t i = 0; i < 3; ++i) EXPECT_FALSE(source_->GetSlideEndAction(i, loop)) << i;
  std::u16string app;
  EXPECT_FALSE(source_->GetSlideRunApp(2, app));
}

// Every reader of the table (the source, the slide producer's search and the
// frame's slide selection) answers a boundary with the same slide: the
// earlier one, whose follower's transition is at its start.
TEST_F(FixtureShow, BoundariesHaveOneAnswer) {
  std::vector<TSlideTimes> rows;
  for (int32_t i = -1; i < 9; ++i) {
    TSlideTimes t;
    source_->GetSlideTimes(i, t);
    rows.push_back(t);
  }
  for (int32_t i = -1; i < 8; ++i) {
    const double boundary = rows[size_t(i + 1)].End;
    for (double t : {boundary - 0.5, boundary, boundary + 0.5}) {
      EXPECT_EQ(source_->SlideIndexAt(t), showmodel::CurrentSlideIn(rows.data(), int32_t(rows.size()), -1, t)) << t;
    }
    EXPECT_EQ(source_->SlideIndexAt(boundary), i) << boundary;
  }
}

}  // namespace
