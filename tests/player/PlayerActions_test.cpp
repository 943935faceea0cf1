#include "player/PlayerActions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvPixelFormat.h"
#include "showmodel/kvQelSource2.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/player/PlayerShellFakes.h"
#include "tests/player/PlayerTestIni.h"
#include "tests/support/FixtureShow.h"

using foundation::MakeRef;
using foundation::TRef;
using player::TPlayerAction;
using playertest::OpenCall;
using playertest::ShellFakes;

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A show description over project text.
struct Show {
  TRef<foundation::TIniFile> Ini;
  TRef<container::TFileAccessor> Accessor;
  TRef<showmodel::TQelSource> Source;
  explicit Show(const std::string& text) {
    Ini = playertest::IniOf(text);
    EXPECT_TRUE(Ini);
    auto* files = new container::TRealFileSource();
    Accessor = TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files));
    files->Free();
    Source = TRef<showmodel::TQelSource>::Adopt(
        new showmodel::TQelSource(Accessor.Get(), Ini.Get(), false, [](int32_t) { return 0; }));
  }
  showmodel::TSlideTimes Times(int32_t i) const {
    showmodel::TSlideTimes t;
    Source->GetSlideTimes(i, t);
    return t;
  }
};

// The fixture show: three slides ending at 4000, 8000 and 12000 ms, each
// entered through the default dissolve of 1000 ms; repeat mode close.
std::string FixtureText() { return testsupport::FixtureProjectText(); }
std::string RepeatingText() { return Replace(FixtureText(), "opt_repeat=close", "opt_repeat=repeat"); }
// Four slides ending at 4000, 8000, 8600 and 12000: the third is 600 ms
// long, so its 1000 ms transition is cut to 600.
std::string ShortSlideText() {
  std::string t = Replace(FixtureText(), "opt_slidescount=3", "opt_slidescount=4");
  t = Replace(t, "opt_synchpos3=12000", "opt_synchpos3=8600\r\nopt_synchpos4=12000");
  return t + "[Slide4]\r\nslideid=extra\r\nobject TheEffect: AnEffect\r\n  ref=default\r\nend\r\n";
}
// The fixture show without any transition.
std::string NoTransitionText() { return Replace(FixtureText(), "  time=1000\r\n", "  time=0\r\n"); }

void ExpectTimes(const Show& show, int32_t i, double start, double end, double in, double out) {
  const showmodel::TSlideTimes t = show.Times(i);
  EXPECT_EQ(t.Start, start) << "slide " << i;
  EXPECT_EQ(t.End, end) << "slide " << i;
  EXPECT_EQ(t.EffectIn, in) << "slide " << i;
  EXPECT_EQ(t.EffectOut, out) << "slide " << i;
}

class FakeHost : public player::TActionHost {
 public:
  bool ModalDialogRunning() override { return modal; }
  bool HasViewer() override { return viewer; }
  bool HasEngine() override { return engine; }
  showmodel::TQelSource* Source() override { return source; }
  double Position() override { return position; }
  bool Paused() override { return paused; }
  void SetPaused(bool p) override {
    paused = p;
    log.push_back(p ? "pause" : "play");
  }
  void Seek(double p) override { log.push_back("seek " + std::to_string(int64_t(p))); }
  bool AtPauseBarrier() override { return barrier; }
  void ClearPauseBarrier() override {
    barrier = false;
    log.push_back("clear barrier");
  }
  void SetUserExit(bool u) override { log.push_back(u ? "user exit" : "no user exit"); }
  void SetExitCode(int32_t c) override { log.push_back("exit code " + std::to_string(c)); }
  void CloseMainWindow() override { log.push_back("close"); }
  void PostEngineRequest(int32_t id) override { log.push_back("request " + std::to_string(id)); }
  void ResumeWhenReady() override { log.push_back("resume when ready"); }
  bool OpenAnotherShow(const TPlayerAction& a) override {
    log.push_back("open show " + std::to_string(a.Code) + " " + std::string(a.Text.begin(), a.Text.end()));
    return openResult;
  }
  player::TDialogOwner* DialogOwner() override { return owner.Get(); }
  std::u16string ProgramFolder() override { return u"Z:\\prog"; }

  bool modal = false, viewer = true, engine = true, paused = false, barrier = false, openResult = true;
  double position = 0;
  showmodel::TQelSource* source = nullptr;
  TRef<playertest::FakeOwner> owner = MakeRef<playertest::FakeOwner>();
  std::vector<std::string> log;
};

using Log = std::vector<std::string>;

TPlayerAction Act(int32_t code, int32_t argument = 0, std::u16string text = u"") { return {code, argument, text}; }

}  // namespace

TEST(SlideTargets, TheFixtureTimeTableAsWorkedOutByHand) {
  Show show(FixtureText());
  ASSERT_EQ(show.Source->SlideCount, 3);
  ExpectTimes(show, 0, 0, 4000, 1000, 1000);
  ExpectTimes(show, 1, 4000, 8000, 1000, 1000);
  ExpectTimes(show, 2, 8000, 12000, 1000, 0);  // the last slide of a closing show has no way out
  ExpectTimes(show, 3, 12000, 16000, 1000, 1000);  // a later pass
  Show shortSlide(ShortSlideText());
  ExpectTimes(shortSlide, 2, 8000, 8600, 600, 1000);
  Show none(NoTransitionText());
  ExpectTimes(none, 0, 0, 4000, 0, 0);
}

TEST(SlideTargets, Previous) {
  Show show(FixtureText());
  struct Case {
    double p;
    int64_t target;
  };
  const Case cases[] = {
      {-50, 0}, {0, 0}, {2000, 0},
      {4000, 1000},  // on the boundary the slide is still the first: its fully-in point
      {6000, 0},     // in the second slide: back to the first, which starts the show
      {8000, 5000},  // the end of the second slide: its own fully-in point
      {9000, 5000},  // in the third: the second slide's fully-in point
      {12000, 9000},
  };
  for (const Case& c : cases) EXPECT_EQ(player::PrevSlideTarget(show.Source.Get(), c.p), c.target) << c.p;

  // Within 500 ms after the fully-in point of the preceding slide (8600) "previous" goes one further back.
  Show shortSlide(ShortSlideText());
  const Case shortCases[] = {{8700, 5000}, {8600, 5000}, {9099, 5000}, {9100, 8600}, {10000, 8600}};
  for (const Case& c : shortCases) EXPECT_EQ(player::PrevSlideTarget(shortSlide.Source.Get(), c.p), c.target) << c.p;
}

TEST(SlideTargets, Next) {
  struct Case {
    double p;
    bool paused;
    int64_t target;
  };
  Show show(FixtureText());
  const Case cases[] = {
      {0, false, 4000},     {0, true, 5000},        // paused: the fully-in point
      {1000, false, 4000},  {4000, false, 8000},    {4000, true, 9000},
      {7999.6, false, 8000},
      {10000, false, 12000}, {10000, true, 12000},  // the end of a closing show, never past it
      {12000, false, 12000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(player::NextSlideTarget(show.Source.Get(), c.p, c.paused), c.target) << c.p << " " << c.paused;

  Show repeating(RepeatingText());
  const Case repeatCases[] = {{10000, false, 12000}, {10000, true, 13000}, {12500, false, 16000}, {20500, false, 24000}};
  for (const Case& c : repeatCases)
    EXPECT_EQ(player::NextSlideTarget(repeating.Source.Get(), c.p, c.paused), c.target) << c.p << " " << c.paused;

  // Without transitions the target lies 1 ms into the slide.
  Show none(NoTransitionText());
  const Case noneCases[] = {{0, false, 4001}, {1000, true, 4001}, {4000, false, 8001}, {9000, false, 12000}};
  for (const Case& c : noneCases)
    EXPECT_EQ(player::NextSlideTarget(none.Source.Get(), c.p, c.paused), c.target) << c.p << " " << c.paused;
}

TEST(SlideTargets, SlideStartsAndNames) {
  Show show(FixtureText());
  Show none(NoTransitionText());
  struct Case {
    int32_t i;
    int64_t withTransitions, without;
  };
  const Case cases[] = {{-1, 0, 1}, {-7, 0, 1}, {0, 0, 1}, {1, 4000, 4001}, {2, 8000, 8001}, {3, 12000, 12000}};
  for (const Case& c : cases) {
    EXPECT_EQ(player::SlideStartTime(show.Source.Get(), c.i), c.withTransitions) << c.i;
    EXPECT_EQ(player::SlideStartTime(none.Source.Get(), c.i), c.without) << c.i;
  }
  EXPECT_EQ(player::FindSlideByName(show.Source.Get(), u"beach"), 0);
  EXPECT_EQ(player::FindSlideByName(show.Source.Get(), u"forest"), 1);
  EXPECT_EQ(player::FindSlideByName(show.Source.Get(), u"city"), 2);
  EXPECT_EQ(player::FindSlideByName(show.Source.Get(), u"City"), -1);
  EXPECT_EQ(player::FindSlideByName(show.Source.Get(), u""), -1);
  EXPECT_EQ(player::FindSlideByName(nullptr, u"beach"), -1);
}

TEST(PlayerActions, NavigationPauseAndExit) {
  Show show(FixtureText());
  struct Case {
    const char* name;
    TPlayerAction action;
    double position;
    bool paused, barrier;
    Log log;
  };
  const Case cases[] = {
      {"exit", Act(1), 0, false, false, {"user exit", "close"}},
      {"previous", Act(2), 9000, false, false, {"seek 5000", "play"}},
      {"next", Act(3), 1000, false, false, {"seek 4000", "play"}},
      {"next paused", Act(3), 1000, true, false, {"seek 5000", "pause"}},
      {"next at a barrier", Act(3), 3000, false, true, {"clear barrier"}},
      {"pause", Act(5), 0, false, false, {"pause"}},
      {"resume", Act(5), 0, true, false, {"play"}},
      {"pause at a barrier", Act(5), 0, false, true, {"clear barrier"}},
      {"print", Act(6), 0, false, false, {"request 13"}},
      {"first slide", Act(7, 0), 9000, false, false, {"pause", "seek 0", "pause", "resume when ready"}},
      {"third slide", Act(7, 3), 0, false, false, {"pause", "seek 8000", "pause", "resume when ready"}},
      {"slide by name", Act(7, -1, u"forest"), 0, true, false, {"pause", "seek 4000", "pause"}},
      {"unknown name", Act(7, -1, u"nowhere"), 9000, true, false, {"pause", "seek 0", "pause"}},
      {"stop", Act(13), 5000, false, false, {"pause", "seek 0", "pause"}},
      {"close dialog without one", Act(16), 0, false, false, {"user exit", "exit code 1", "close"}},
      {"seek", Act(19, 2500), 0, true, false, {"seek 2500", "pause"}},
      {"open show", Act(12, 0, u"other.exe"), 0, false, false, {"open show 12 other.exe"}},
      {"open show and return", Act(14, 0, u"b.exe -slide 2"), 0, false, false, {"open show 14 b.exe -slide 2"}},
  };
  for (const Case& c : cases) {
    FakeHost host;
    host.source = show.Source.Get();
    host.position = c.position;
    host.paused = c.paused;
    host.barrier = c.barrier;
    EXPECT_TRUE(player::ExecutePlayerAction(&host, c.action)) << c.name;
    EXPECT_EQ(host.log, c.log) << c.name;
  }
}

TEST(PlayerActions, CodesTheMainFormDoesNotExecute) {
  Show show(FixtureText());
  for (int32_t code : {0, 4, 15, 17, 18, 20, 21, -1}) {
    FakeHost host;
    host.source = show.Source.Get();
    EXPECT_FALSE(player::ExecutePlayerAction(&host, Act(code))) << code;
    EXPECT_TRUE(host.log.empty()) << code;
  }
  FakeHost modal;
  modal.modal = true;
  EXPECT_FALSE(player::ExecutePlayerAction(&modal, Act(1)));
  FakeHost noViewer;
  noViewer.viewer = false;
  EXPECT_FALSE(player::ExecutePlayerAction(&noViewer, Act(5)));
  EXPECT_TRUE(modal.log.empty());
  EXPECT_TRUE(noViewer.log.empty());
  FakeHost failing;
  failing.openResult = false;
  EXPECT_FALSE(player::ExecutePlayerAction(&failing, Act(12, 0, u"x.exe")));
}

TEST(PlayerActions, HelpGoesToTheEngine) {
  FakeHost host;
  EXPECT_TRUE(player::RouteMappedAction(&host, Act(4)));
  EXPECT_EQ(host.log, (Log{"request 16"}));
  FakeHost noEngine;
  noEngine.engine = false;
  EXPECT_FALSE(player::RouteMappedAction(&noEngine, Act(4)));
  EXPECT_TRUE(noEngine.log.empty());
  Show show(FixtureText());
  FakeHost other;
  other.source = show.Source.Get();
  other.position = 500;
  EXPECT_TRUE(player::RouteMappedAction(&other, Act(3)));
  EXPECT_EQ(other.log, (Log{"seek 4000", "play"}));
}

TEST(PlayerActions, AddressesAndProgramsReachTheOpener) {
  struct Case {
    TPlayerAction action;
    std::vector<OpenCall> calls;
    Log log;
  };
  const Case cases[] = {
      {Act(8, 0, u"example.com/start"), {{u"", u"http://example.com/start", u"", u"", 5}}, {}},
      {Act(8, 0, u"HTTPS://Example.com/a"), {{u"", u"HTTPS://Example.com/a", u"", u"", 5}}, {}},
      {Act(8, 0, u"http://example.com/format.html"), {{u"", u"http://example.com/format.html", u"", u"", 5}}, {}},
      {Act(8, 0, u"https://maps.example.com/@48.8,2.3,15z"),
       {{u"", u"https://maps.example.com/@48.8,2.3,15z", u"", u"", 5}},
       {}},
      {Act(9, 0, u"someone@example.com"), {{u"", u"mailto:someone@example.com", u"", u"", 5}}, {}},
      {Act(9, 0, u"mailto:a@example.com,b@example.com"), {{u"", u"mailto:a@example.com,b@example.com", u"", u"", 5}}, {}},
      {Act(9, 0, u"del@example.com"), {{u"", u"mailto:del@example.com", u"", u"", 5}}, {}},
      {Act(10, 0, u"notepad readme.txt, calc"),
       {{u"", u"notepad", u"readme.txt", u"", 5}, {u"", u"calc", u"", u"", 5}},
       {}},
      {Act(11, 0, u"viewer.exe \"a b.txt\""), {{u"", u"viewer.exe", u"\"a b.txt\"", u"", 5}}, {"close"}},
  };
  for (const Case& c : cases) {
    ShellFakes fakes;
    FakeHost host;
    EXPECT_TRUE(player::ExecutePlayerAction(&host, c.action));
    EXPECT_EQ(fakes.opens, c.calls) << std::string(c.action.Text.begin(), c.action.Text.end());
    EXPECT_EQ(host.log, c.log);
    EXPECT_TRUE(fakes.boxes.empty());
  }
  // A program text with a prohibited command runs nothing and says so.
  ShellFakes fakes;
  FakeHost host;
  EXPECT_TRUE(player::ExecutePlayerAction(&host, Act(10, 0, u"calc, format c:")));
  EXPECT_TRUE(fakes.opens.empty());
  ASSERT_EQ(fakes.boxes.size(), 1u);
  EXPECT_EQ(fakes.boxes[0].text, u"Command line contains prohibited command and will not be performed.");
  EXPECT_EQ(fakes.boxes[0].owner, host.owner.Get());
  // Not found: the program's folder is tried.
  fakes.results = {2, 2, 33};
  player::ExecutePlayerAction(&host, Act(10, 0, u"manual.pdf"));
  EXPECT_EQ(fakes.opens, (std::vector<OpenCall>{{u"", u"manual.pdf", u"", u"", 5},
                                                {u"", u"manual.pdf", u"", u"Z:\\prog", 5},
                                                {u"", u"Z:\\prog\\manual.pdf", u"", u"", 5}}));
}

TEST(PlayerActions, SnapshotIsPrintedWhilePaused) {
  Show show(FixtureText());
  ShellFakes fakes;
  FakeHost host;
  host.source = show.Source.Get();
  host.position = 9000;
  auto* bitmap = new imaging::TDirectBitmap(2, 2, imaging::pfA8R8G8B8);
  auto image = TRef<imaging::TImage>::Adopt(imaging::WrapBitmapAsImage(bitmap, true, u"frame"));
  player::PrintSnapshot(&host, image.Get());
  EXPECT_EQ(host.log, (Log{"pause", "play"}));
  ASSERT_EQ(fakes.opens.size(), 1u);
  EXPECT_EQ(fakes.opens[0].verb, u"print");
  // Paused before: stays paused.
  host.paused = true;
  host.log.clear();
  player::PrintSnapshot(&host, image.Get());
  EXPECT_EQ(host.log, (Log{"pause", "pause"}));
  player::PrintSnapshot(&host, nullptr);
  EXPECT_EQ(fakes.opens.size(), 2u);
}
