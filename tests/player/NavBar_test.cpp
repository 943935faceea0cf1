#include "player/NavBar.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/player/PlayerTestIni.h"

using foundation::TRect;
using foundation::TRef;
using imaging::TDirectBitmap;
using player::TCustomNavBar;
using player::TNavBar;

namespace {

uint32_t At(const TDirectBitmap* b, int x, int y) {
  uint32_t v;
  std::memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}

// A picture of pseudo-random pixels whose alphas cover transparent,
// translucent and opaque values.
TRef<TDirectBitmap> Noise(int w, int h, uint32_t seed) {
  auto b = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(w, h, imaging::pfA8R8G8B8));
  uint32_t s = seed;
  static const uint32_t kAlphas[] = {0, 40, 128, 200, 255, 255};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      s = s * 1664525u + 1013904223u;
      const uint32_t v = (s >> 8) & 0xFFFFFF;
      const uint32_t a = kAlphas[(s >> 28) % 6];
      const uint32_t p = v | (a << 24);
      std::memcpy(b->Row(y) + 4 * x, &p, 4);
    }
  return b;
}

// The independent model: an 8-bit RGBA canvas, each layer composited over
// it in real numbers and rounded, as a stored bitmap would be.
struct Canvas {
  int W, H;
  std::vector<uint32_t> P;
  Canvas(int w, int h) : W(w), H(h), P(size_t(w * h), 0) {}
  uint32_t& at(int x, int y) { return P[size_t(y * W + x)]; }
  void Over(int x, int y, uint32_t src) {
    if (x < 0 || y < 0 || x >= W || y >= H) return;
    const double sa = (src >> 24) / 255.0, da = (at(x, y) >> 24) / 255.0;
    const double a = sa + da * (1 - sa);
    uint32_t out = uint32_t(std::lround(a * 255)) << 24;
    for (int sh = 0; sh < 24; sh += 8) {
      const double s = (src >> sh) & 0xFF, d = (at(x, y) >> sh) & 0xFF;
      const double c = a > 0 ? (s * sa + d * da * (1 - sa)) / a : 0;
      out |= uint32_t(std::lround(c)) << sh;
    }
    if (sa > 0) at(x, y) = out;
  }
  // Draws w x h pixels of src from (sx, sy) at (dx, dy).
  void Layer(const TDirectBitmap* src, int sx, int sy, int w, int h, int dx, int dy) {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) Over(dx + i, dy + j, At(src, sx + i, sy + j));
  }
  void Tile(const TDirectBitmap* src, int sx, int sy, int tw, int th, int dx, int dy, int w, int h) {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) at(dx + i, dy + j) = At(src, sx + i % tw, sy + j % th);
  }
};

void ExpectPicture(const TDirectBitmap* got, Canvas& want, const char* what) {
  ASSERT_NE(got, nullptr) << what;
  ASSERT_EQ(got->Width, want.W) << what;
  ASSERT_EQ(got->Height, want.H) << what;
  int bad = 0;
  for (int y = 0; y < want.H; ++y)
    for (int x = 0; x < want.W; ++x) {
      const uint32_t g = At(got, x, y), w = want.at(x, y);
      // Where nothing was drawn only the alpha matters.
      const int channels = (w >> 24) == 0 ? 1 : 4;
      for (int c = 0; c < channels; ++c) {
        const int sh = 24 - 8 * c;
        if (std::abs(int((g >> sh) & 0xFF) - int((w >> sh) & 0xFF)) > 1 && ++bad < 6)
          ADD_FAILURE() << what << ": pixel " << x << "," << y << std::hex << " got " << g << " want " << w;
      }
    }
  EXPECT_EQ(bad, 0) << what;
}

// The skin: a row of three cells with the buttons in the middle one,
// margins of 1, three buttons of 6 x 6 (the first followed by a gap of 2,
// the second moving 1 pixel when pressed), textures of 4 x 4 centred in them.
const char* kDescription = R"(
[ACTION-home]
[action-pause]
[Action-exit]
[ACTION-Help]
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
Bounds=0,0,3,5
flnm_Texture=cells.png
[Cell(2:1)]
Bounds=3,0,2,5
flnm_Texture=cells.png
[Cell(3:1)]
Bounds=5,0,3,5
flnm_Texture=Cells.PNG
[Objects]
Count=3
[Object1]
Space=2
[Object2]
ShiftPressed=1
[Object3]
GrayNormal=%GRAY%
[Action-home]
BtnTextureNormalBounds=0,0,4,4
flnm_BtnTextureNormal=btn.png
BtnTextureHoverBounds=4,0,4,4
BtnTexturePressedBounds=8,0,4,4
BgTextureNormalBounds=0,0,6,6
flnm_BgTextureNormal=bg.png
BgTextureHoverBounds=6,0,6,6
BgTexturePressedBounds=12,0,6,6
[Action-pause]
BtnTextureNormalBounds=0,4,4,4
flnm_BtnTextureNormal=btn.png
BtnTextureHoverBounds=4,4,4,4
BtnTexturePressedBounds=8,4,4,4
flnm_BtnTextureNormalPlay=play.png
BgTextureNormalBounds=0,0,6,6
flnm_BgTextureNormal=bg.png
BgTextureHoverBounds=6,0,6,6
BgTexturePressedBounds=12,0,6,6
[Action-exit]
BtnTextureNormalBounds=0,8,4,4
flnm_BtnTextureNormal=btn.png
BtnTexturePressedBounds=8,8,4,4
BgTextureNormalBounds=0,6,6,6
flnm_BgTextureNormal=bg.png
)";

std::string Description(bool gray = false, const std::string& extra = "") {
  std::string d = kDescription;
  const size_t p = d.find("%GRAY%");
  d.replace(p, 6, gray ? "1" : "0");
  return d + extra;
}

struct BarFixture {
  std::map<std::u16string, TRef<TDirectBitmap>> files;
  std::vector<std::u16string> loads;
  std::vector<TRect> images;
  std::vector<int> actions;
  bool playing = true;
  TRef<TNavBar> bar = TRef<TNavBar>::Adopt(new TNavBar());

  BarFixture() {
    files[u"skin/cells.png"] = Noise(8, 5, 1);
    files[u"skin/btn.png"] = Noise(12, 12, 2);
    files[u"skin/play.png"] = Noise(12, 12, 3);
    files[u"skin/bg.png"] = Noise(18, 12, 4);
    bar->LoadImage = [this](TCustomNavBar*, const std::u16string& name) -> TRef<TDirectBitmap> {
      loads.push_back(name);
      std::u16string key;
      for (char16_t c : name) key.push_back(c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c);
      auto it = files.find(key);
      if (it == files.end()) return nullptr;
      auto copy = TRef<TDirectBitmap>::Adopt(
          new TDirectBitmap(it->second->Width, it->second->Height, imaging::pfA8R8G8B8));
      copy->CopyFrom(it->second.Get());
      return copy;
    };
    bar->OnImage = [this](TCustomNavBar*, const TRect& r) { images.push_back(r); };
    bar->OnAction = [this](TCustomNavBar*, int32_t i) { actions.push_back(i); };
  }
  void Load(const std::string& text, std::vector<int32_t> ids = {0, 1, 2}) {
    auto ini = playertest::IniOf(text);
    ASSERT_TRUE(ini);
    bar->Load(ini.Get(), u"skin/");
    bar->SetButtonIds(ids.data(), int32_t(ids.size()));
  }
  TDirectBitmap* F(const char16_t* n) { return files[std::u16string(u"skin/") + n].Get(); }
};

// Geometry worked out by hand from the description: cells 3 | 1+20+1 | 3
// wide, the middle one's row 1+6+1 high; buttons at x 4, 12, 18 and y 1.
constexpr int kBarW = 28, kBarH = 8;
constexpr int kButtonX[3] = {4, 12, 18};
// Texture rows of the three buttons in btn.png and the background rows in bg.png.
constexpr int kBtnRow[3] = {0, 4, 8};
constexpr int kBgRow[3] = {0, 0, 6};

// The model of the whole bar: states[i] 0 normal, 1 hover, 2 pressed.
Canvas ModelBar(BarFixture& f, bool background, const int states[3], bool paused, bool grayThird = false) {
  Canvas c(kBarW, kBarH);
  if (background) {
    c.Tile(f.F(u"cells.png"), 0, 0, 3, 5, 0, 0, 3, 8);
    c.Tile(f.F(u"cells.png"), 3, 0, 2, 5, 3, 0, 22, 8);
    c.Tile(f.F(u"cells.png"), 5, 0, 3, 5, 25, 0, 3, 8);
  }
  for (int i = 0; i < 3; ++i) {
    const int s = states[i];
    // The exit button has no hover background of its own: the normal one stands in.
    const int bgCol = i == 2 ? 0 : 6 * s;
    c.Layer(f.F(u"bg.png"), bgCol, kBgRow[i], 6, 6, kButtonX[i], 1);
    const int shift = (i == 1 && s == 2) ? 1 : 0;
    // exit: hover falls back to the normal rectangle.
    const int texCol = (i == 2 && s == 1) ? 0 : 4 * s;
    const TDirectBitmap* tex = (i == 1 && paused) ? f.F(u"play.png") : f.F(u"btn.png");
    if (i == 2 && grayThird && s == 0) {
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          const uint32_t p = At(tex, texCol + x, kBtnRow[i] + y);
          const uint32_t g = (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
          c.Over(kButtonX[i] + 1 + x, 2 + y, (p & 0xFF000000u) | g << 16 | g << 8 | g);
        }
      continue;
    }
    c.Layer(tex, texCol, kBtnRow[i], 4, 4, kButtonX[i] + 1 + shift, 2 + shift);
  }
  return c;
}

TEST(NavBar, LoadsActionsGridAndLayout) {
  BarFixture f;
  f.Load(Description(), {0, 1, 2, 0, 1});
  // Section prefixes in any case declare; "Help" with a capital does not.
  ASSERT_EQ(f.bar->ActionNames().size(), 3u);
  EXPECT_EQ(f.bar->ActionNames()[0], u"home");
  EXPECT_EQ(f.bar->ActionNames()[1], u"pause");
  EXPECT_EQ(f.bar->ActionNames()[2], u"exit");
  // Five ids, three slots: three buttons.
  ASSERT_EQ(f.bar->ButtonCount(), 3);
  EXPECT_EQ(f.bar->Width(), kBarW);
  EXPECT_EQ(f.bar->Height(), kBarH);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(f.bar->Button(i).X, kButtonX[i]);
    EXPECT_EQ(f.bar->Button(i).Y, 1);
    EXPECT_EQ(f.bar->Button(i).Width, 6);
  }
  EXPECT_EQ(f.bar->Cell(3, 1).X, 25);
  EXPECT_EQ(f.bar->Cell(3, 1).Height, 8);
  // Each file is loaded once, whatever the case of its name.
  EXPECT_EQ(f.loads.size(), 4u);
  ASSERT_FALSE(f.images.empty());
  EXPECT_EQ(f.images.back().Right, kBarW);
  EXPECT_EQ(f.images.back().Bottom, kBarH);
}

TEST(NavBar, NormalPicturesWithAndWithoutBackground) {
  const int normal[3] = {0, 0, 0};
  for (bool bg : {true, false}) {
    BarFixture f;
    f.bar->ShowBackground = bg;
    f.Load(Description());
    Canvas want = ModelBar(f, bg, normal, false);
    ExpectPicture(f.bar->BarBitmap(), want, bg ? "with cells" : "buttons only");
  }
}

TEST(NavBar, GrayNormalButtonIsAGrayCopy) {
  BarFixture f;
  f.Load(Description(true));
  const int normal[3] = {0, 0, 0};
  Canvas want = ModelBar(f, false, normal, false, true);
  ExpectPicture(f.bar->BarBitmap(), want, "gray third button");
}

TEST(NavBar, HoverRepaintsOnlyTheButtonAndNeverDarkens) {
  BarFixture f;
  f.bar->ShowBackground = true;
  f.Load(Description());
  const int hover0[3] = {1, 0, 0}, normal[3] = {0, 0, 0};
  // Ten times over the first button and off it again: the translucent
  // edges must not build up.
  for (int round = 0; round < 10; ++round) {
    f.images.clear();
    f.bar->MouseEvent(1, 0, kButtonX[0] + 2, 3, TCustomNavBar::mkMove);
    ASSERT_EQ(f.images.size(), 1u);
    EXPECT_EQ(f.images[0].Left, kButtonX[0]);
    EXPECT_EQ(f.images[0].Top, 1);
    EXPECT_EQ(f.images[0].Right, kButtonX[0] + 6);
    EXPECT_EQ(f.images[0].Bottom, 7);
    f.bar->MouseEvent(1, 0, 1, 1, TCustomNavBar::mkMove);  // over a cell, not a button
  }
  Canvas back = ModelBar(f, true, normal, false);
  ExpectPicture(f.bar->BarBitmap(), back, "after ten hovers");
  for (int round = 0; round < 10; ++round) f.bar->MouseEvent(1, 0, kButtonX[0] + 2 + round % 2, 3, 0);
  Canvas want = ModelBar(f, true, hover0, false);
  ExpectPicture(f.bar->BarBitmap(), want, "hovered");
}

TEST(NavBar, PressedButtonMovesByItsShift) {
  BarFixture f;
  f.Load(Description());
  f.images.clear();
  f.bar->MouseEvent(1, 0, kButtonX[1] + 1, 2, TCustomNavBar::mkDown);
  ASSERT_EQ(f.images.size(), 1u);
  // The button's rectangle grown by the shift at the right and bottom.
  EXPECT_EQ(f.images[0].Left, kButtonX[1]);
  EXPECT_EQ(f.images[0].Right, kButtonX[1] + 7);
  EXPECT_EQ(f.images[0].Bottom, 8);
  const int pressed1[3] = {0, 2, 0};
  Canvas want = ModelBar(f, false, pressed1, false);
  ExpectPicture(f.bar->BarBitmap(), want, "pressed");
}

TEST(NavBar, RepeatedPressesLeaveTheNeighbourUnchanged) {
  // The pressed second button's repaint reaches one column into the third:
  // that column must be repainted like the rest, not composited again.
  BarFixture f;
  f.bar->ShowBackground = true;
  f.Load(Description());
  for (int round = 0; round < 10; ++round) {
    f.bar->MouseEvent(1, 0, kButtonX[1] + 2, 3, TCustomNavBar::mkDown);
    f.bar->MouseEvent(1, 0, kButtonX[1] + 2, 3, TCustomNavBar::mkUp);
  }
  const int hover1[3] = {0, 1, 0};
  Canvas want = ModelBar(f, true, hover1, false);
  ExpectPicture(f.bar->BarBitmap(), want, "after ten presses");
  EXPECT_EQ(f.actions, std::vector<int>(10, 1));
}

TEST(NavBar, PlayTexturesWhilePaused) {
  BarFixture f;
  f.bar->IsPlaying = [&f](TCustomNavBar*) { return f.playing; };
  f.playing = false;
  f.Load(Description());
  f.bar->Update(0);
  const int normal[3] = {0, 0, 0};
  Canvas paused = ModelBar(f, false, normal, true);
  ExpectPicture(f.bar->BarBitmap(), paused, "paused");
  f.playing = true;
  f.images.clear();
  f.bar->Update(100);
  ASSERT_EQ(f.images.size(), 1u);
  EXPECT_EQ(f.images[0].Left, kButtonX[1]);
  Canvas playing = ModelBar(f, false, normal, false);
  ExpectPicture(f.bar->BarBitmap(), playing, "playing");
  f.images.clear();
  f.bar->Update(200);  // nothing changed
  EXPECT_TRUE(f.images.empty());
}

TEST(NavBar, HueShiftTurnsTheBar) {
  BarFixture f;
  for (auto& e : f.files) e.second->FillRect({0, 0, e.second->Width, e.second->Height}, 0xFFFF0000);
  f.bar->ShowBackground = true;
  f.bar->Hue = 120;
  f.Load(Description());
  // Pure red a third of a turn on is pure green.
  for (int x : {0, 10, 27}) {
    const uint32_t p = At(f.bar->BarBitmap(), x, 4);
    EXPECT_EQ(p >> 24, 0xFFu) << x;
    EXPECT_LE((p >> 16) & 0xFF, 1u) << x;
    EXPECT_GE((p >> 8) & 0xFF, 254u) << x;
    EXPECT_LE(p & 0xFF, 1u) << x;
  }
}

struct ClickCase {
  const char* name;
  std::vector<std::array<int, 4>> events;  // kind, button, x, y
  std::vector<int> actions;
};

TEST(NavBar, PressAndReleaseSequences) {
  const int b0 = kButtonX[0] + 2, b1 = kButtonX[1] + 2, b2 = kButtonX[2] + 2;
  const ClickCase cases[] = {
      {"click the first", {{1, 1, b0, 3}, {2, 1, b0, 3}}, {0}},
      {"click the third", {{0, 1, b2, 3}, {1, 1, b2, 3}, {2, 1, b2, 4}}, {2}},
      {"press one, release on another", {{1, 1, b0, 3}, {0, 1, b1, 3}, {2, 1, b1, 3}}, {}},
      {"right button", {{1, 2, b0, 3}, {2, 2, b0, 3}}, {}},
      {"leave and come back", {{1, 1, b1, 3}, {0, 1, 60, 3}, {0, 1, b1, 3}, {2, 1, b1, 3}}, {1}},
      {"release outside", {{1, 1, b1, 3}, {0, 1, 60, 3}, {2, 1, 60, 3}}, {}},
      {"press beside the buttons", {{1, 1, 1, 1}, {0, 1, b0, 3}, {2, 1, b0, 3}}, {}},
      {"press outside the bar", {{1, 1, -5, 3}, {2, 1, b0, 3}}, {}},
      {"two clicks", {{1, 1, b0, 3}, {2, 1, b0, 3}, {1, 1, b1, 3}, {2, 1, b1, 3}}, {0, 1}},
  };
  for (const ClickCase& c : cases) {
    BarFixture f;
    f.Load(Description());
    for (const auto& e : c.events) f.bar->MouseEvent(e[1], 0, e[2], e[3], e[0]);
    EXPECT_EQ(f.actions, c.actions) << c.name;
    // After the release the pointer's button shows hover, the rest normal.
  }
}

TEST(NavBar, HoverAfterReleaseAndShiftBitIgnoresMoves) {
  BarFixture f;
  f.Load(Description());
  const int b0 = kButtonX[0] + 2;
  f.bar->MouseEvent(1, 0, b0, 3, TCustomNavBar::mkDown);
  EXPECT_EQ(f.bar->Button(0).State, 2);
  f.bar->MouseEvent(1, 0, b0, 3, TCustomNavBar::mkUp);
  EXPECT_EQ(f.bar->Button(0).State, 1);
  f.bar->MouseEvent(1, 0x10, kButtonX[1] + 2, 3, TCustomNavBar::mkMove);
  EXPECT_EQ(f.bar->Button(0).State, 1);
  EXPECT_EQ(f.bar->Button(1).State, 0);
  f.bar->MouseEvent(1, 0, 100, 3, TCustomNavBar::mkMove);
  EXPECT_EQ(f.bar->Button(0).State, 0);
  EXPECT_THROW(f.bar->MouseEvent(1, 0, 1, 1, 7), foundation::Exception);
}

struct DamageCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> edits;
  bool throws;
};

TEST(NavBar, DamagedDescriptionsGiveNoBar) {
  const DamageCase cases[] = {
      {"grid of 0", {{"ColsCount=3", "ColsCount=0"}}, false},
      {"grid of 100000 cells", {{"ColsCount=3\nRowsCount=1", "ColsCount=1000\nRowsCount=100"}}, true},
      {"negative grid", {{"RowsCount=1", "RowsCount=-4"}}, true},
      {"bar height 0", {{"Bounds=0,0,3,5\n", "Bounds=0,0,3,0\n"}, {"[Objects]\nCount=3", "[Objects]\nCount=0"}}, false},
      {"cell with three values", {{"Cell=2,1", "Cell=2,1,1"}}, true},
      {"bounds with three values", {{"Bounds=3,0,2,5", "Bounds=3,0,2"}}, true},
      {"button bounds with two values", {{"BtnTextureNormalBounds=0,0,4,4", "BtnTextureNormalBounds=0,0"}}, true},
      {"missing texture", {{"flnm_Texture=cells.png\n[Cell(2:1)]", "flnm_Texture=none.png\n[Cell(2:1)]"}}, true},
      {"missing button picture", {{"0,6,6,6\nflnm_BgTextureNormal=bg.png", "0,6,6,6\nflnm_BgTextureNormal=gone.png"}}, true},
      {"huge cell", {{"Bounds=5,0,3,5", "Bounds=5,0,99999999,5"}}, true},
      {"button cell outside the grid", {{"Cell=2,1", "Cell=9,9"}}, false},
  };
  for (const DamageCase& c : cases) {
    std::string text = Description();
    for (const auto& [from, to] : c.edits) {
      const size_t p = text.find(from);
      ASSERT_NE(p, std::string::npos) << c.name;
      text.replace(p, from.size(), to);
    }
    BarFixture f;
    bool threw = false;
    try {
      f.Load(text);
    } catch (const foundation::Exception&) {
      threw = true;
    }
    EXPECT_EQ(threw, c.throws) << c.name;
    if (c.throws) continue;
    if (std::string(c.name) == "button cell outside the grid") {
      // The cells still draw; the buttons have no place.
      EXPECT_EQ(f.bar->Width(), 8) << c.name;
      continue;
    }
    EXPECT_EQ(f.bar->BarBitmap(), nullptr) << c.name;
    EXPECT_TRUE(f.images.empty()) << c.name;
    f.bar->MouseEvent(1, 0, 1, 1, TCustomNavBar::mkDown);
    f.bar->MouseEvent(1, 0, 1, 1, TCustomNavBar::mkUp);
    EXPECT_TRUE(f.actions.empty()) << c.name;
  }
}

TEST(NavBar, ErrorMessagesNameTheField) {
  BarFixture f;
  std::string text = Description();
  text.replace(text.find("Bounds=3,0,2,5"), 14, "Bounds=3,0");
  try {
    f.Load(text);
    ADD_FAILURE() << "no error";
  } catch (const foundation::Exception& e) {
    EXPECT_EQ(e.Message(), u"Incorrect number of parameters in field \"Bounds\" in [Cell(2:1)]");
  }
  BarFixture g;
  text = Description();
  text.replace(text.find("BtnTextureNormalBounds=0,0,4,4"), 30, "BtnTextureNormalBounds=\"0,0\",4");
  try {
    g.Load(text);
    ADD_FAILURE() << "no error";
  } catch (const foundation::Exception& e) {
    EXPECT_EQ(e.Message(),
              u"Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But QEL found only 2 "
              u"values.");
  }
}

TEST(NavBar, FactoryHookMakesButtonBars) {
  player::TNavBarFactory saved = player::NavBarFactory;
  player::InitNavBar();
  ASSERT_NE(player::NavBarFactory, nullptr);
  TRef<TCustomNavBar> bar = player::NavBarFactory(u"");
  EXPECT_NE(dynamic_cast<TNavBar*>(bar.Get()), nullptr);
  player::NavBarFactory = saved;
}

}  // namespace
