// Fitting the picture area, finding the slides around a show time, and the
// cache of prepared slides.
#include "showmodel/kvSlideProducer.h"

#include <gtest/gtest.h>

#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/ShowFixture.h"

namespace {

using foundation::TRef;
using showmodel::TSlideCache;
using showmodel::TSlideProducer;
using showmodel::TViewportRect;

TRef<TSlideProducer> Producer(showtest::Show& s) {
  objtest::StartUnits();
  auto p = TRef<TSlideProducer>::Adopt(new TSlideProducer(s.Source.Get(), false, {}, nullptr));
  p->SetTiming(foundation::TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0)).Get());
  return p;
}

TEST(SlideProducer, FitAndCover) {
  showtest::Show s("[Main]\nopt_scr_width=1920\nopt_scr_height=1080\n[Times]\nopt_slidescount=1\nopt_synchpos1=10\n");
  auto p = Producer(s);
  p->SetRenderSize(1920, 1200, 100, 100, false);
  EXPECT_EQ(p->ViewportWidth(), 1920);
  EXPECT_EQ(p->ViewportHeight(), 1080);
  EXPECT_EQ(p->GetViewportRect(1920, 1200), (TViewportRect{0, 60, 1920, 1140}));
  EXPECT_EQ(p->CurrentViewportRect(), (TViewportRect{0, 60, 1920, 1140}));
  p->SetRenderSize(1920, 1200, 100, 100, true);
  EXPECT_TRUE(p->IsCoverMode());
  EXPECT_EQ(p->ViewportWidth(), 2133);  // odd, but not smaller than the target: kept
  EXPECT_EQ(p->ViewportHeight(), 1200);
  EXPECT_EQ(p->GetViewportRect(1920, 1200), (TViewportRect{-106, 0, 2027, 1200}));  // -106.5 to even
  EXPECT_EQ(p->CurrentViewportRect(), (TViewportRect{0, 0, 1920, 1200}));
  // An odd side smaller than the target is raised to even.
  p->SetRenderSize(1001, 1000, 100, 100, false);
  EXPECT_EQ(p->ViewportWidth(), 1001);
  EXPECT_EQ(p->ViewportHeight(), 564);  // 563.06 rounds to 563, raised to 564
  bool usable = false;
  EXPECT_EQ(p->GetSlideSize(&usable).X, 1001);
  EXPECT_TRUE(usable);
  p->SetRenderSize(20, 20, 100, 100, false);
  const foundation::TFloatPoint tiny = p->GetSlideSize(&usable);
  EXPECT_FALSE(usable);
  EXPECT_EQ(tiny.X, 32);
  EXPECT_NEAR(tiny.Y, 12 * 32 / 20.0, 0.01);
}

TEST(SlideProducer, HostileScreenSizesAndOlderProjectsShareOneAspect) {
  struct Row {
    const char* main;
    double aspect;
  } rows[] = {
      {"opt_scr_width=1920\nopt_scr_height=0\n", 4.0 / 3.0},
      {"opt_scr_width=0\nopt_scr_height=1080\n", 4.0 / 3.0},
      {"opt_scr_width=-5\nopt_scr_height=-5\n", 4.0 / 3.0},
      {"MinorVersion=12\nopt_scr_ratio=1.25\n", 1.25},
      {"MinorVersion=12\nopt_scr_ratio=0\n", 4.0 / 3.0},
  };
  for (const Row& r : rows) {
    showtest::Show s(std::string("[Main]\n") + r.main + "[Times]\nopt_slidescount=1\nopt_synchpos1=10\n");
    auto p = Producer(s);
    for (bool cover : {false, true}) {
      p->SetRenderSize(1024, 768, 100, 100, cover);
      EXPECT_DOUBLE_EQ(p->Aspect(), r.aspect) << r.main;
      const TViewportRect v = p->GetViewportRect(1024, 768);
      // The engine's rectangle is the picture area the slides are built for.
      EXPECT_EQ(v.Right - v.Left, p->ViewportWidth()) << r.main << cover;
      EXPECT_EQ(v.Bottom - v.Top, p->ViewportHeight()) << r.main << cover;
      EXPECT_GT(p->ViewportWidth(), 0);
    }
  }
  // An older project without a ratio takes the render size's own aspect.
  showtest::Show old("[Main]\nMinorVersion=9\n[Times]\nopt_slidescount=1\nopt_synchpos1=10\n");
  auto p = Producer(old);
  p->SetRenderSize(1024, 768, 100, 100, false);
  EXPECT_EQ(p->GetViewportRect(1024, 768), (TViewportRect{0, 0, 1024, 768}));
  // The authored size, never enlarged, with the fixed-size option.
  showtest::Show fixed("[Main]\nopt_scr_width=800\nopt_scr_height=600\nopt_scr_fullfixedsize=1\n"
                       "[Times]\nopt_slidescount=1\nopt_synchpos1=10\n");
  auto f = Producer(fixed);
  f->SetRenderSize(1920, 1080, 100, 100, false);
  EXPECT_EQ(f->ViewportWidth(), 800);
  EXPECT_EQ(f->ViewportHeight(), 600);
  f->SetRenderSize(400, 600, 100, 100, false);
  EXPECT_EQ(f->ViewportWidth(), 400);
  EXPECT_EQ(f->ViewportHeight(), 300);
}

// Three slides of 4 s, transitions of 1000 ms, as the fixture show.
std::string ThreeSlides(const char* repeat) {
  std::string t = std::string("[Main]\nopt_scr_width=1280\nopt_scr_height=720\nopt_repeat=") + repeat +
                  "\nopt_bstyle=1\nopt_bcolor=255\nobject TheEffect: AnEffect\n  time=1000\n"
                  "  object Fade: dissolve\n    checked=1\n  end\nend\n"
                  "[Times]\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=8000\nopt_synchpos3=12000\n";
  for (int k = 1; k <= 3; ++k)
    t += "[Slide" + std::to_string(k) + "]\nobject Container: Root\n  object B: Box\n    GUID={B" +
         std::to_string(k) + "}\n    Size=1280,720\n  end\nend\n";
  return t;
}

TEST(SlideProducer, FindingTheSlidesAroundATime) {
  showtest::Show s(ThreeSlides("close"));
  auto p = Producer(s);
  struct Row {
    double t;
    int32_t first, last;
  } rows[] = {{0, -1, 0},     {500, -1, 0},    {1000, -1, 0},   {1000.5, 0, 0},  {4000, 0, 1},
              {4500, 0, 1},   {5000, 0, 1},    {5001, 1, 1},    {8500, 1, 2},    {12000, 2, 3},
              {100, -1, 0},   {13001, 3, 3}};
  for (const Row& r : rows) {
    int32_t last = -9;
    EXPECT_EQ(p->FindSlides(r.t, &last), r.first) << r.t;
    EXPECT_EQ(last, r.last) << r.t;
  }
  // The current slide of the time table is always one of those found, at
  // every boundary and beside it.
  for (double boundary : {0.0, 4000.0, 8000.0, 12000.0}) {
    for (double t : {boundary - 0.5, boundary, boundary + 0.5}) {
      int32_t last = 0;
      const int32_t first = p->FindSlides(t, &last);
      const int32_t current = s.Source->SlideIndexAt(t);
      EXPECT_LE(first, current) << t;
      EXPECT_GE(last, current) << t;
    }
  }
}

TEST(SlideProducer, PreparedSlides) {
  showtest::Show s(ThreeSlides("repeat"));
  auto p = Producer(s);
  p->SetRenderSize(1280, 720, 100, 100, false);
  auto c = TRef<showmodel::TDrawContainer>::Adopt(p->PrepareSlide(4));
  ASSERT_TRUE(c->Slide);
  EXPECT_EQ(c->Times.Start, 16000);
  EXPECT_EQ(c->Times.End, 20000);
  EXPECT_EQ(c->TimeShift, 12000);
  EXPECT_EQ(c->Slide->SlideIndex(), 1);
  EXPECT_EQ(c->Slide->RepeatPass, 1);
  ASSERT_TRUE(c->Transition);
  EXPECT_EQ(c->Transition->Duration, 1000);
  EXPECT_EQ(c->Transition->Effect->Kind, 1);
  c->SetShowTime(17000);
  EXPECT_EQ(c->Slide->LocalTime, 1000);  // 17000 - 12000 - 4000
  // The pseudo-slide before the show carries the first slide's background.
  auto before = TRef<showmodel::TDrawContainer>::Adopt(p->PrepareSlide(-1));
  ASSERT_TRUE(before->Slide);
  EXPECT_EQ(before->Slide->Start, -1073741823);
  EXPECT_EQ(before->Slide->EffectOut, 1000);
  EXPECT_EQ(before->Slide->Background.Color1.R, 255);
  // Without a timing, preparing is refused.
  p->SetTiming(nullptr);
  EXPECT_THROW(p->PrepareSlide(0), foundation::EAssertionFailed);
}

TEST(SlideCache, PreparesTheWindowOneSlideAPassAndKeepsOne) {
  showtest::Show s(ThreeSlides("repeat"));
  auto p = Producer(s);
  p->SetRenderSize(1280, 720, 100, 100, false);
  auto cache = TRef<TSlideCache>::Adopt(new TSlideCache(p.Get(), false, 3));
  int64_t now = 1000;
  cache->Clock = [&] { return now; };
  std::vector<uint32_t> sleeps;
  cache->Sleep = [&](uint32_t ms) { sleeps.push_back(ms); };
  int changes = 0, made = 0;
  cache->OnChanged = [&](TSlideCache*) { ++changes; };
  cache->OnNewSlide = [&](TSlideCache*, showmodel::TDrawContainer*) { ++made; };
  auto indexes = [&] {
    std::vector<int32_t> out;
    for (int32_t k = 0; k < cache->Count(); ++k) out.push_back(cache->Item(k)->Index);
    return out;
  };
  // Inside the transition from slide 1 into slide 2: the window is 1..3.
  EXPECT_TRUE(cache->Update(8500));
  EXPECT_TRUE(cache->Update(8500));
  EXPECT_TRUE(cache->Update(8500));
  EXPECT_EQ(indexes(), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_FALSE(cache->Update(8500));
  EXPECT_EQ(made, 3);
  EXPECT_EQ(changes, 3);

  // A cache holding only slide 7 when the window moves to 9..11.
  auto one = TRef<TSlideCache>::Adopt(new TSlideCache(p.Get(), false, 1));
  one->Clock = [&] { return now; };
  EXPECT_TRUE(one->Update(30000));  // slide 7 (pass 2, slide 1)
  ASSERT_EQ(one->Count(), 1);
  EXPECT_EQ(one->Item(0)->Index, 7);
  one->LookAhead = 3;
  EXPECT_TRUE(one->Update(38000));  // first 9: slide 7 stays until 9 is added
  ASSERT_EQ(one->Count(), 2);
  EXPECT_EQ(one->Item(0)->Index, 7);
  EXPECT_EQ(one->Item(1)->Index, 9);
  EXPECT_TRUE(one->Update(38000));  // then it leaves, and 10 comes
  ASSERT_EQ(one->Count(), 2);
  EXPECT_EQ(one->Item(0)->Index, 9);
  EXPECT_EQ(one->Item(1)->Index, 10);

  // Resizing: slides are rebuilt at the new size, no more often than every 100 ms.
  p->SetRenderSize(640, 360, 100, 100, false);
  now = 5000;
  EXPECT_TRUE(cache->Update(8500));
  for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(cache->Item(k)->SlideSize.X, 640);
  EXPECT_EQ(sleeps, (std::vector<uint32_t>{50, 50, 50}));
  p->SetRenderSize(800, 450, 100, 100, false);
  now = 5099;
  EXPECT_FALSE(cache->Update(8500));
  EXPECT_EQ(cache->Item(0)->SlideSize.X, 640);
  now = 5100;
  EXPECT_TRUE(cache->Update(8500));
  EXPECT_EQ(cache->Item(0)->SlideSize.X, 800);
  // A picture area too narrow to build slides for never rebuilds.
  p->SetRenderSize(10, 10, 100, 100, false);
  now = 9000;
  EXPECT_FALSE(cache->Update(8500));
  cache->Clear();
  EXPECT_EQ(cache->Count(), 0);
  EXPECT_THROW(new TSlideCache(nullptr, false, 1), foundation::EAssertionFailed);
  EXPECT_THROW(new TSlideCache(p.Get(), false, 4), foundation::EAssertionFailed);
}

TEST(SlideCache, AMissingSectionGivesAContainerWithoutASlide) {
  showtest::Show s("[Main]\nobject TheEffect: AnEffect\n  time=0\nend\n"
                   "[Times]\nopt_slidescount=2\nopt_synchpos1=1000\nopt_synchpos2=2000\n[Slide1]\n");
  auto p = Producer(s);
  p->SetRenderSize(640, 360, 100, 100, false);
  auto c = TRef<showmodel::TDrawContainer>::Adopt(p->PrepareSlide(1));
  EXPECT_EQ(c->Slide, nullptr);
  EXPECT_EQ(c->Transition, nullptr);
  c->SetShowTime(1500);  // drawn as nothing, and harmless
}

}  // namespace

namespace {

TEST(SlideProducer, Dialogs) {
  showtest::Show s(
      "[Main]\nopt_customdialogscount=3\ncustom_dialog1=Other\ncustom_dialog2=Info\n"
      "[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n[Slide1]\n"
      "[dialog_1_]\nhelp=0\n[dialog_2_]\nhelp=1\nDialogPause=0\n"
      "object Container: Root\n  object B: Box\n    GUID={D}\n    Size=100,100\n  end\nend\n"
      "[dialog_Credits]\n");
  auto p = Producer(s);
  p->SetRenderSize(640, 360, 100, 100, false);
  auto help = TRef<showmodel::TQelDialog>::Adopt(p->CreateDialog(u"help"));
  ASSERT_TRUE(help);
  EXPECT_EQ(help->Name, "dialog_2_");  // the first with "help" set
  EXPECT_FALSE(help->DialogPause);
  EXPECT_EQ(help->Children.size(), 1u);
  EXPECT_EQ(help->FadePercent, 0);
  EXPECT_EQ(help->GetOpacityPercent(), 0);  // nothing visible until it fades in
  EXPECT_EQ(help->Start, 0);
  EXPECT_EQ(help->End, 0);
  EXPECT_EQ(help->LastSetTime, 0);
  auto info = TRef<showmodel::TQelDialog>::Adopt(p->CreateDialog(u"info"));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Name, "dialog_2_");  // custom dialog 2, its name matched without case
  EXPECT_TRUE(info->Children.size() == 1u);
  auto credits = TRef<showmodel::TQelDialog>::Adopt(p->CreateDialog(u"Credits"));
  ASSERT_TRUE(credits);
  EXPECT_TRUE(credits->DialogPause);  // no "DialogPause": the show pauses
  EXPECT_EQ(p->CreateDialog(u"missing"), nullptr);
  showtest::Show none("[Main]\n[Times]\nopt_slidescount=1\nopt_synchpos1=1000\n[dialog_1_]\nhelp=0\n");
  auto q = Producer(none);
  EXPECT_EQ(q->CreateDialog(u"help"), nullptr);
}

}  // namespace
