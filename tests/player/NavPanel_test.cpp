#include "player/NavPanel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/kvStream.h"
#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"

using foundation::TRect;
using foundation::TRef;
using imaging::TDirectBitmap;
using player::TNavPanel;
using player::TPlayerAction;

namespace {

TRef<TDirectBitmap> Solid(int w, int h, uint32_t c) {
  auto b = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(w, h, imaging::pfA8R8G8B8));
  b->FillRect({0, 0, w, h}, c);
  return b;
}

// Worked out by hand: cells 2 | 1 + 4 x 6 + 1 | 2 wide, so a bar of 30 x 8
// with buttons of 6 x 6 at x 3, 9, 15, 21 and y 1.
const char* kDescription = R"(
[ACTION-home]
[ACTION-pause]
[ACTION-help]
[ACTION-exit]
[Common]
ColsCount=3
RowsCount=1
[CellWithObjects]
LeftOffset=1
TopOffset=1
RightOffset=1
BottomOffset=1
Cell=2,1
[Cell(1:1)]
Bounds=0,0,2,4
flnm_Texture=cell.png
[Cell(2:1)]
Bounds=0,0,2,4
flnm_Texture=cell.png
[Cell(3:1)]
Bounds=0,0,2,4
flnm_Texture=cell.png
[Objects]
Count=4
[Action-home]
BtnTextureNormalBounds=0,0,4,4
flnm_BtnTextureNormal=btn.png
BgTextureNormalBounds=0,0,6,6
flnm_BgTextureNormal=bg.png
[Action-pause]
BtnTextureNormalBounds=0,0,4,4
flnm_BtnTextureNormal=btn.png
BgTextureNormalBounds=0,0,6,6
flnm_BgTextureNormal=bg.png
[Action-help]
BtnTextureNormalBounds=0,0,4,4
flnm_BtnTextureNormal=btn.png
BgTextureNormalBounds=0,0,6,6
flnm_BgTextureNormal=bg.png
[Action-exit]
BtnTextureNormalBounds=0,0,4,4
flnm_BtnTextureNormal=btn.png
BgTextureNormalBounds=0,0,6,6
flnm_BgTextureNormal=bg.png
)";

struct PanelFixture {
  std::map<std::u16string, std::string> texts;
  std::vector<std::u16string> pictures;
  std::vector<TRect> placed;
  TRef<TNavPanel> panel = TRef<TNavPanel>::Adopt(new TNavPanel());
  player::TNavBarFactory saved = player::NavBarFactory;

  PanelFixture() {
    player::InitNavBar();
    texts[u"nav\\bar.ini"] = kDescription;
    panel->OpenFile = [this](const std::u16string& name) -> TRef<foundation::TStream> {
      auto it = texts.find(name);
      if (it == texts.end()) return nullptr;
      auto s = foundation::MakeRef<foundation::TMemoryStream>();
      s->WriteBuf(it->second.data(), int32_t(it->second.size()));
      s->SetPosition(0);
      return s;
    };
    panel->LoadPicture = [this](const std::u16string& name) -> TRef<TDirectBitmap> {
      pictures.push_back(name);
      if (name == u"nav\\cell.png") return Solid(2, 4, 0xFF202020);
      if (name == u"nav\\btn.png") return Solid(4, 4, 0xFFFFFFFF);
      if (name == u"nav\\bg.png") return Solid(6, 6, 0x80000080);
      return nullptr;
    };
    panel->PlaceBarImage = [this](TDirectBitmap*, const TRect& r, int32_t& item) {
      placed.push_back(r);
      if (item < 0) item = 7;
    };
    panel->ButtonNames = {u"home", u"pause", u"help", u"exit"};
    panel->SetLayout(10, {0, 100}, {0, 100}, {0, 0, 1920, 1080});
  }
  ~PanelFixture() { player::NavBarFactory = saved; }
  void Load(const std::u16string& file = u"nav\\bar.ini") { panel->LoadStyle(file, 60000, 1.0, false, false); }
};

// The bar (30 x 8) at view scale 10 on a 1080-high layout: 108 high,
// 405 wide, centred at the bottom: x 757.5 (758)..1163, y 972..1080, 13.5
// layout pixels per bar pixel.
constexpr int kLeft = 758, kTop = 972;
int LayoutX(double barX) { return kLeft + int(barX * 13.5); }
int LayoutY(double barY) { return kTop + int(barY * 13.5); }

TEST(NavPanel, PlacesTheBarAtItsAnchor) {
  PanelFixture f;
  f.Load();
  ASSERT_NE(f.panel->Bar(), nullptr);
  EXPECT_EQ(f.pictures.front(), u"nav\\cell.png");  // relative to the description's folder
  ASSERT_FALSE(f.placed.empty());
  const TRect r = f.placed.back();
  EXPECT_EQ(r.Left, kLeft);
  EXPECT_EQ(r.Top, kTop);
  EXPECT_EQ(r.Right, 1163);
  EXPECT_EQ(r.Bottom, 1080);
  EXPECT_TRUE(f.panel->HitTest(kLeft, kTop));
  EXPECT_FALSE(f.panel->HitTest(1163, 1000));
  EXPECT_FALSE(f.panel->HitTest(kLeft, kTop - 1));
  // Left top anchor, view scale 20: 216 high and 810 wide at the corner.
  PanelFixture g;
  g.panel->SetLayout(20, {-100, -100}, {-100, -100}, {10, 20, 1930, 1100});
  g.Load();
  ASSERT_FALSE(g.placed.empty());
  EXPECT_EQ(g.placed.back().Left, 10);
  EXPECT_EQ(g.placed.back().Top, 20);
  EXPECT_EQ(g.placed.back().Right, 820);
  EXPECT_EQ(g.placed.back().Bottom, 236);
}

struct Step {
  char kind;  // 'm' move, 'd' down, 'u' up
  int button;
  int x, y;
  int code;  // expected action code
};

TEST(NavPanel, MouseSequencesGiveActions) {
  // Button centres in bar pixels: x 6, 12, 18, 24.
  auto bx = [](int i) { return LayoutX(3 + 6 * i + 3); };
  const int by = LayoutY(4);
  const int beside = LayoutX(1), outside = 100;
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"home", {{'d', 1, bx(0), by, 20}, {'u', 1, bx(0), by, 7}}},
      {"pause", {{'d', 1, bx(1), by, 20}, {'u', 1, bx(1), by, 5}}},
      {"help", {{'d', 1, bx(2), by, 20}, {'u', 1, bx(2), by, 4}}},
      {"exit", {{'m', 1, bx(3), by, 20}, {'d', 1, bx(3), by, 20}, {'u', 1, bx(3), by, 1}}},
      {"right button", {{'d', 2, bx(0), by, 0}, {'u', 2, bx(0), by, 0}}},
      {"hovering keeps the panel", {{'m', 1, beside, by, 20}, {'m', 1, bx(1), by, 20}}},
      {"outside", {{'m', 1, outside, 500, 0}, {'d', 1, outside, 500, 0}, {'u', 1, outside, 500, 0}}},
      {"release outside after a press", {{'d', 1, bx(0), by, 20}, {'u', 1, outside, 500, 0}}},
      {"press one, release another", {{'d', 1, bx(0), by, 20}, {'m', 1, bx(1), by, 20}, {'u', 1, bx(1), by, 20}}},
      {"leave after hover", {{'m', 1, bx(0), by, 20}, {'m', 1, outside, 500, 0}, {'m', 1, outside, 400, 0}}},
  };
  for (const auto& c : cases) {
    PanelFixture f;
    f.Load();
    int n = 0;
    for (const Step& s : c.steps) {
      TPlayerAction a = s.kind == 'm'   ? f.panel->MouseMove(0, s.x, s.y)
                        : s.kind == 'd' ? f.panel->MouseDown(s.button, 0, s.x, s.y)
                                        : f.panel->MouseUp(s.button, 0, s.x, s.y);
      EXPECT_EQ(a.Code, s.code) << c.name << " step " << n;
      if (a.Code == player::acGotoSlide) {
        EXPECT_EQ(a.Argument, 0) << c.name;
      }
      ++n;
    }
  }
}

TEST(NavPanel, PressReachesTheBarAfterLeaving) {
  PanelFixture f;
  f.Load();
  const int x = LayoutX(6), y = LayoutY(4);
  f.panel->MouseDown(1, 0, x, y);
  auto* bar = dynamic_cast<player::TNavBar*>(f.panel->Bar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->Button(0).State, 2);
  f.panel->MouseMove(0, 100, 100);  // the press is still on: the bar hears it
  EXPECT_EQ(bar->Button(0).State, 0);
  f.panel->MouseMove(0, x, y);
  EXPECT_EQ(bar->Button(0).State, 2);
  EXPECT_EQ(f.panel->MouseUp(1, 0, x, y).Code, player::acGotoSlide);
}

TEST(NavPanel, ButtonNamesMatchExactly) {
  PanelFixture f;
  f.panel->ButtonNames = {u"Home", u"exit", u"print"};
  f.Load();
  auto* bar = dynamic_cast<player::TNavBar*>(f.panel->Bar());
  ASSERT_NE(bar, nullptr);
  // "Home" and "print" name nothing the description offers: only exit is left.
  ASSERT_EQ(bar->ButtonCount(), 1);
  ASSERT_EQ(bar->SelectedIds().size(), 1u);
  EXPECT_EQ(bar->ActionNames()[size_t(bar->SelectedIds()[0])], u"exit");
}

TEST(NavPanel, DamagedOrMissingDescriptionsGiveNoBar) {
  const struct {
    const char* name;
    std::string from, to;
  } cases[] = {
      {"missing images", "flnm_Texture=cell.png\n[Cell(2:1)]", "flnm_Texture=lost.png\n[Cell(2:1)]"},
      {"grid of 100000 cells", "ColsCount=3\nRowsCount=1", "ColsCount=1000\nRowsCount=100"},
      {"bad bounds", "BtnTextureNormalBounds=0,0,4,4", "BtnTextureNormalBounds=4"},
  };
  for (const auto& c : cases) {
    PanelFixture f;
    std::string& text = f.texts[u"nav\\bar.ini"];
    text.replace(text.find(c.from), c.from.size(), c.to);
    f.Load();
    EXPECT_EQ(f.panel->Bar(), nullptr) << c.name;
    EXPECT_FALSE(f.panel->LoadError().empty()) << c.name;
    EXPECT_FALSE(f.panel->HitTest(kLeft + 10, kTop + 10)) << c.name;
    EXPECT_EQ(f.panel->MouseDown(1, 0, kLeft + 10, kTop + 10).Code, 0) << c.name;
    EXPECT_EQ(f.panel->MouseUp(1, 0, kLeft + 10, kTop + 10).Code, 0) << c.name;
  }
  PanelFixture g;
  g.Load(u"nav\\none.ini");
  EXPECT_EQ(g.panel->Bar(), nullptr);
  EXPECT_EQ(g.panel->MouseMove(0, kLeft + 10, kTop + 10).Code, 0);
  // A good description afterwards gives a bar again.
  g.Load();
  EXPECT_NE(g.panel->Bar(), nullptr);
}

}  // namespace
