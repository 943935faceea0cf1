// Choosing the slides of a frame, the device state the engine reads each
// step (through a device loss on the offscreen GL device), and the monitor
// the show window goes to.
#include "tests/render3d/Render3DTestEnv.h"

#include <string>
#include <vector>

#include "foundation/kvCommandLine.h"
#include "player/QelDrawController.h"
#include "showmodel/kvQelEffect.h"

namespace {

using foundation::TRef;
using player::TRootItem;
using player::TSlideItem;
using showmodel::TDrawContainer;
using showmodel::TQelFilter;

// Three prepared slides on one clock, laid out as the fixture show's time
// table: 4 s each, transitions of 1 s that begin where a slide starts.
// The first slide has no incoming transition; the other two come in with
// a dissolve (or, when asked, a transition without an effect).
struct Prepared {
  TRef<showmodel::TTiming> Clock = TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0));
  std::vector<TRef<TDrawContainer>> Slides;
  std::vector<TRef<TQelFilter>> Filters;

  explicit Prepared(bool withEffect = true) {
    const showmodel::TSlideTimes times[] = {{0, 4000, 0, 1000}, {4000, 8000, 1000, 1000}, {8000, 12000, 1000, 0}};
    for (int k = 0; k < 3; ++k) {
      auto s = TRef<TDrawContainer>::Adopt(new TDrawContainer());
      s->Times = times[k];
      s->Index = k;
      Clock->_AddRef();
      s->Timing = Clock.Get();
      if (k > 0) {
        auto f = TRef<TQelFilter>::Adopt(new TQelFilter());
        f->Duration = 1000;
        if (withEffect) f->SetEffect(new showmodel::TQelEffect(1));
        s->Transition = f.Get();
        Filters.push_back(f);
      }
      Slides.push_back(s);
    }
  }
  std::vector<TDrawContainer*> List() const {
    std::vector<TDrawContainer*> r;
    for (auto& s : Slides) r.push_back(s.Get());
    return r;
  }
};

// The prepared slide an item stands for, or -1 for nil and other items.
int SlideOf(render3d::TDrawItem* item) {
  auto* s = dynamic_cast<TSlideItem*>(item);
  return s && s->Slide ? s->Slide->Index : -1;
}

TEST(RootItem, SlidesChosenForTheShowTime) {
  struct Row {
    double clock;
    bool result;
    std::vector<int> items;  // slide indices, -1 for the overlay slot (no overlay here)
    bool transition;
    double progress;
    double currentTime;
  } rows[] = {
      {-10, false, {}, false, 0, 0},
      {0, true, {0, -1}, false, 0, 0},
      {2500, true, {0, -1}, false, 0, 2500},
      // At the boundary the earlier slide is current, as in the show's time
      // table; the next slide's transition would stand at its start.
      {4000, true, {0, -1}, false, 0, 4000},
      {4001, true, {0, 1, -1}, true, 1, 4001},
      {4500, true, {0, 1, -1}, true, 500, 4500},
      {5000, true, {0, 1, -1}, true, 1000, 5000},  // the outgoing slide's last moment
      {5001, true, {1, -1}, false, 0, 5001},
      {8400, true, {1, 2, -1}, true, 400, 8400},
      {11000, true, {2, -1}, false, 0, 11000},
      // Past the show the last slide stays at its end.
      {13000, true, {2, -1}, false, 0, 12000},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("clock " + std::to_string(r.clock));
    Prepared p;
    auto root = TRef<TRootItem>::Adopt(new TRootItem(true));
    p.Clock->Time = r.clock;
    const auto list = p.List();
    EXPECT_EQ(root->SelectSlides(list.data(), int32_t(list.size()), nullptr), r.result);
    std::vector<int> got;
    for (auto* i : root->Items) got.push_back(SlideOf(i));
    EXPECT_EQ(got, r.items);
    EXPECT_EQ(root->TransitionRunning != 0, r.transition);
    EXPECT_EQ(root->Transition != nullptr, r.transition);
    if (r.transition) {
      EXPECT_EQ(root->Transition, p.Slides[size_t(r.items[1])]->Transition);
    }
    EXPECT_DOUBLE_EQ(root->TransitionProgress, r.progress);
    if (r.result) {
      EXPECT_DOUBLE_EQ(root->CurrentTime, r.currentTime);
    }
  }
}

TEST(RootItem, NoSlidesOrATransitionWithoutEffect) {
  auto root = TRef<TRootItem>::Adopt(new TRootItem(true));
  EXPECT_FALSE(root->SelectSlides(nullptr, 0, nullptr));
  EXPECT_TRUE(root->Items.empty());
  // Without an effect the outgoing slide stays alone until it has left.
  Prepared plain(false);
  const auto list = plain.List();
  for (double t : {4500.0, 5000.0}) {
    plain.Clock->Time = t;
    ASSERT_TRUE(root->SelectSlides(list.data(), 3, nullptr));
    ASSERT_EQ(root->Items.size(), 2u);
    EXPECT_EQ(SlideOf(root->Items[0]), 0) << t;
    EXPECT_FALSE(root->TransitionRunning);
  }
  plain.Clock->Time = 5001;
  ASSERT_TRUE(root->SelectSlides(list.data(), 3, nullptr));
  EXPECT_EQ(SlideOf(root->Items[0]), 1);
}

TEST(RootItem, TheTimeOffsetMovesEverySlidesClock) {
  Prepared p;
  auto root = TRef<TRootItem>::Adopt(new TRootItem(true));
  root->TimeOffset = -2500;
  p.Clock->Time = 7000;
  const auto list = p.List();
  ASSERT_TRUE(root->SelectSlides(list.data(), 3, nullptr));
  EXPECT_TRUE(root->TransitionRunning);
  EXPECT_DOUBLE_EQ(root->TransitionProgress, 500);
  EXPECT_DOUBLE_EQ(root->CurrentTime, 4500);
}

// A frame counts as changed when its items or the transition's progress
// differ from the frame before, or when an item says it changed.
TEST(RootItem, ChangedFollowsTheSelection) {
  Prepared p;
  auto root = TRef<TRootItem>::Adopt(new TRootItem(true));
  auto overlay = TRef<TSlideItem>::Adopt(new TSlideItem(nullptr));
  const auto list = p.List();
  struct Step {
    double clock;
    render3d::TDrawItem* overlay;
    bool changed;
  } steps[] = {
      {1000, nullptr, true},         // the first frame
      {1100, nullptr, false},        // the same slide
      {1100, overlay.Get(), true},   // the overlay came
      {1200, overlay.Get(), false},  //
      {4500, overlay.Get(), true},   // the transition began
      {4600, overlay.Get(), true},   // its progress moved
      {4600, overlay.Get(), false},  // and stood still
      {5500, overlay.Get(), true},   // the outgoing slide left
  };
  for (const Step& s : steps) {
    p.Clock->Time = s.clock;
    ASSERT_TRUE(root->SelectSlides(list.data(), 3, s.overlay));
    EXPECT_EQ(root->Changed != 0, s.changed) << s.clock;
    EXPECT_EQ(root->IsChanged(), s.changed) << s.clock;
  }
  overlay->Changed = 1;  // an item's own change counts too
  EXPECT_TRUE(root->IsChanged());
}

// ---- the device state ----

TEST(DrawController, StateFlagsThroughADeviceLoss) {
  render3d::T3DEngine* engine = render3d::Get3DEngine();
  ASSERT_NE(engine, nullptr);
  render3d::TRendererDevice* device = engine->CreateOffscreenDevice(64, 48);
  ASSERT_NE(device, nullptr);
  auto* screen = new render3d::T3DScreen();
  screen->AssignDevice(device);
  ASSERT_TRUE(screen->IsReady());
  auto* c = new player::TQelDrawController(screen);
  using namespace player;
  // No draw manager yet: only the screen is ready.
  EXPECT_EQ(c->GetState(), dsScreenReady);
  c->MarkReset();
  EXPECT_EQ(c->GetState(), dsScreenReady | dsRedraw);
  EXPECT_EQ(c->GetState(), dsScreenReady);  // the reset is reported once
  c->InitDrawer();
  ASSERT_NE(c->Drawer.Get(), nullptr);
  EXPECT_EQ(c->GetState(), dsScreenReady | dsRedraw | dsDrawerReady);
  // The device goes away: the loss is reported until the screen is back.
  screen->DropRenderer();
  EXPECT_EQ(c->DeviceLost, 1);
  EXPECT_EQ(c->GetState(), dsRedraw | dsDeviceLost);
  EXPECT_EQ(c->GetState(), dsRedraw | dsDeviceLost);
  screen->InitRenderer();
  ASSERT_TRUE(screen->IsReady());
  EXPECT_EQ(c->GetState(), dsScreenReady | dsRedraw | dsDeviceLost | dsDrawerReady);
  EXPECT_EQ(c->GetState(), dsScreenReady | dsRedraw | dsDrawerReady);
  // A second InitDrawer keeps the draw manager.
  render3d::T3DDrawer* d = c->Drawer.Get();
  c->InitDrawer();
  EXPECT_EQ(c->Drawer.Get(), d);

  c->SetViewport({10, 20, 330, 200});
  EXPECT_EQ(c->GetViewport(), (showmodel::TViewportRect{10, 20, 330, 200}));
  c->Free();
  screen->Free();
  device->Free();
}

TEST(DrawController, TheDeviceGoingFirstCutsTheControllerLoose) {
  render3d::T3DEngine* engine = render3d::Get3DEngine();
  render3d::TRendererDevice* device = engine->CreateOffscreenDevice(64, 48);
  ASSERT_NE(device, nullptr);
  auto* screen = new render3d::T3DScreen();
  screen->AssignDevice(device);
  auto* c = new player::TQelDrawController(screen);
  c->InitDrawer();
  device->Free();
  EXPECT_EQ(c->Screen.Get(), nullptr);
  EXPECT_EQ(c->Messenger, nullptr);
  EXPECT_EQ(c->GetState() & player::dsScreenReady, 0);
  c->Free();
  screen->Free();
}

TEST(DrawController, NothingIsDrawnWithoutADrawManager) {
  render3d::T3DEngine* engine = render3d::Get3DEngine();
  render3d::TRendererDevice* device = engine->CreateOffscreenDevice(64, 48);
  auto* screen = new render3d::T3DScreen();
  screen->AssignDevice(device);
  auto* c = new player::TQelDrawController(screen);
  auto root = TRef<TRootItem>::Adopt(new TRootItem(true));
  EXPECT_FALSE(c->DrawRoot(root.Get(), root->View));
  c->Free();
  screen->Free();
  device->Free();
}

// ---- monitors ----

TEST(MonitorChoice, DisplaySwitchAndFallbackToThePrimary) {
  struct Row {
    const char16_t* line;
    int32_t count;
    int32_t primary;
    int32_t expected;
  } rows[] = {
      {u"player.exe -display 2", 1, 0, 0},  // no second monitor: the primary
      {u"player.exe -display 0", 2, 0, 0},  // monitors count from 1
      {u"player.exe -display 2", 2, 0, 1},
      {u"player.exe -display 1", 3, 2, 0},  // a valid number is taken as it is
      {u"player.exe -display x", 2, 0, 0},  // not a number
      {u"player.exe -display", 2, 0, 0},    // no word
      {u"player.exe", 3, 1, 1},             // no switch: the primary, searched from the last
      {u"player.exe", 3, 2, 2},
      {u"player.exe -display 9", 3, 1, 1},
      {u"player.exe -display 2", 0, 0, 0},  // no monitor at all
  };
  for (const Row& r : rows) {
    auto tokens = foundation::MakeRef<foundation::TStringList>();
    auto storage = foundation::MakeRef<foundation::TCommandsStorage>(251);
    foundation::ParseCommandLine(r.line, tokens.Get(), storage.Get());
    const int32_t got =
        player::MonitorIndexFor(storage.Get(), r.count, [&](int32_t i) { return i == r.primary; });
    EXPECT_EQ(got, r.expected) << std::string(r.line, r.line + std::char_traits<char16_t>::length(r.line)) << " on "
                               << r.count;
  }
}

TEST(MonitorChoice, DesktopAlignSwitch) {
  for (auto [line, expected] : {std::pair{u"p -desktopalign", true}, {u"p -display 1", false}, {u"p", false}}) {
    auto tokens = foundation::MakeRef<foundation::TStringList>();
    auto storage = foundation::MakeRef<foundation::TCommandsStorage>(251);
    foundation::ParseCommandLine(line, tokens.Get(), storage.Get());
    EXPECT_EQ(player::DesktopAlignFor(storage.Get()), expected);
  }
}

}  // namespace
