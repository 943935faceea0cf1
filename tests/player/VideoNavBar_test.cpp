#include "player/VideoNavBar.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/player/PlayerTestIni.h"

using foundation::TRef;
using imaging::TDirectBitmap;
using player::TCustomNavBar;
using player::TVideoNavBar;

namespace {

const char* kDescription = R"(
[Common]
VideoStyle=1
flnm_back=back.png
BgLeft=2
BgRight=2
TrackLineLeft=1
TrackLineRight=1
[Pixel positions]
BarSize=800,40
BtnSize=30,30
DigitSize=8,12
TrackHeight=6
VolumeControlLength=60
LeftSpace=5
ButtonsTrackSpace=10
TrackDigitsSpace=4
DigitsSoundBtnSpace=6
SoundBtnTrackSpace=4
RightSpace=5
[Trackbar]
flnm_Line=line.png
flnm_Polzun=slider.png
[Buttons]
flnm_Normal=strip.png
flnm_Hover=strip.png
flnm_Click=strip.png
)";

TRef<TDirectBitmap> Solid(int w, int h, uint32_t c) {
  auto b = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(w, h, imaging::pfA8R8G8B8));
  b->FillRect({0, 0, w, h}, c);
  return b;
}

uint32_t At(const TDirectBitmap* b, int x, int y) {
  uint32_t v;
  std::memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}

struct VideoFixture {
  TRef<TVideoNavBar> bar = TRef<TVideoNavBar>::Adopt(new TVideoNavBar());
  std::vector<int> actions;
  std::vector<double> seeks, volumes;
  int images = 0;
  bool playing = true;
  VideoFixture(const std::string& text = kDescription, int width = 800) {
    bar->LoadImage = [](TCustomNavBar*, const std::u16string& name) -> TRef<TDirectBitmap> {
      if (name == u"v/back.png") return Solid(8, 8, 0xFF102030);
      if (name == u"v/line.png") return Solid(4, 6, 0xFFC0C0C0);
      if (name == u"v/slider.png") return Solid(10, 14, 0xFFFF0000);
      if (name == u"v/strip.png") return Solid(210, 30, 0xFF00FF00);
      return nullptr;
    };
    bar->OnAction = [this](TCustomNavBar*, int32_t i) { actions.push_back(i); };
    bar->Seek = [this](TCustomNavBar*, double t) { seeks.push_back(t); };
    bar->SetVolumeEvent = [this](TCustomNavBar*, double v) { volumes.push_back(v); };
    bar->IsPlaying = [this](TCustomNavBar*) { return playing; };
    bar->GetDuration = [](TCustomNavBar*) { return 60000.0; };
    bar->OnImage = [this](TCustomNavBar*, const foundation::TRect&) { ++images; };
    auto ini = playertest::IniOf(text);
    bar->Load(ini.Get(), u"v/");
    bar->SetWidth(width);
    bar->SetScale(1.0);
    const int32_t ids[2] = {0, 1};
    bar->SetButtonIds(ids, 2);
    bar->Update(0);
    bar->SetVolume(0.7);
  }
};

TEST(VideoNavBar, DrawsTheParts) {
  VideoFixture f;
  ASSERT_FALSE(f.bar->Disabled());
  ASSERT_NE(f.bar->BarBitmap(), nullptr);
  EXPECT_EQ(f.bar->BarBitmap()->Width, 800);
  EXPECT_EQ(f.bar->BarBitmap()->Height, 40);
  EXPECT_EQ(f.bar->Layout().TrackStart, 105);
  EXPECT_EQ(At(f.bar->BarBitmap(), 1, 1), 0xFF102030u);      // background
  EXPECT_EQ(At(f.bar->BarBitmap(), 10, 20), 0xFF00FF00u);    // play button at 5..35, 5..35
  EXPECT_EQ(At(f.bar->BarBitmap(), 110, 14), 0xFFFF0000u);   // slider at time 0: 105..115, 13..27
  EXPECT_EQ(At(f.bar->BarBitmap(), 300, 18), 0xFFC0C0C0u);   // track line 17..23
  EXPECT_EQ(At(f.bar->BarBitmap(), 775, 14), 0xFFFF0000u);   // volume knob at 0.7
  f.bar->Update(30000);
  EXPECT_EQ(At(f.bar->BarBitmap(), 352, 14), 0xFFFF0000u);
  EXPECT_EQ(At(f.bar->BarBitmap(), 110, 14), 0xFF102030u);
}

TEST(VideoNavBar, DraggingSeeksAndPausesWhilePlaying) {
  VideoFixture f;
  f.bar->MouseEvent(1, 0, 110, 20, TCustomNavBar::mkDown);  // on the knob
  EXPECT_EQ(f.actions, std::vector<int>{-1});
  EXPECT_TRUE(f.bar->Paused());
  f.bar->MouseEvent(1, 0, 352, 20, TCustomNavBar::mkMove);
  ASSERT_EQ(f.seeks.size(), 1u);
  EXPECT_DOUBLE_EQ(f.seeks[0], 30000);
  f.bar->Update(1000);  // ignored while dragging
  EXPECT_DOUBLE_EQ(f.bar->Time(), 30000);
  f.bar->MouseEvent(1, 0, 231, 20, TCustomNavBar::mkUp);
  EXPECT_EQ(f.actions, (std::vector<int>{-1, -1}));
  EXPECT_FALSE(f.bar->Paused());
  EXPECT_DOUBLE_EQ(f.seeks.back(), 15000);
  // While paused a drag leaves it paused and sends nothing.
  f.playing = false;
  f.bar->Update(15000);
  f.actions.clear();
  f.bar->MouseEvent(1, 0, 300, 20, TCustomNavBar::mkDown);
  f.bar->MouseEvent(1, 0, 300, 20, TCustomNavBar::mkUp);
  EXPECT_TRUE(f.actions.empty());
  EXPECT_TRUE(f.bar->Paused());
}

TEST(VideoNavBar, ButtonsAndMute) {
  VideoFixture f;
  f.bar->MouseEvent(1, 0, 10, 20, TCustomNavBar::mkDown);  // play/pause
  f.bar->MouseEvent(1, 0, 10, 20, TCustomNavBar::mkUp);
  f.bar->MouseEvent(1, 0, 40, 20, TCustomNavBar::mkDown);  // backward (35..65)
  f.bar->MouseEvent(1, 0, 40, 20, TCustomNavBar::mkUp);
  f.bar->MouseEvent(1, 0, 70, 20, TCustomNavBar::mkDown);  // forward (65..95)
  f.bar->MouseEvent(1, 0, 70, 20, TCustomNavBar::mkUp);
  f.bar->MouseEvent(2, 0, 70, 20, TCustomNavBar::mkDown);  // right button: nothing
  EXPECT_EQ(f.actions, (std::vector<int>{-1, 0, 1}));
  f.bar->MouseEvent(1, 0, 710, 20, TCustomNavBar::mkDown);  // sound button at 701
  EXPECT_DOUBLE_EQ(f.bar->Volume(), 0.0);
  f.bar->MouseEvent(1, 0, 710, 20, TCustomNavBar::mkUp);
  f.bar->MouseEvent(1, 0, 710, 20, TCustomNavBar::mkDown);
  EXPECT_DOUBLE_EQ(f.bar->Volume(), 0.7);
  EXPECT_EQ(f.volumes, (std::vector<double>{0.0, 0.7}));
}

TEST(VideoNavBar, CrampedOrFlatBarsAreDisabled) {
  std::string flat = kDescription;
  flat.replace(flat.find("BarSize=800,40"), 14, "BarSize=800,0");
  for (const auto& [text, width] : std::vector<std::pair<std::string, int>>{{flat, 800}, {kDescription, 150}}) {
    VideoFixture f(text, width);
    EXPECT_TRUE(f.bar->Disabled());
    f.bar->SetHeight(40);
    EXPECT_EQ(f.bar->BarBitmap(), nullptr);
    f.bar->MouseEvent(1, 0, 10, 20, TCustomNavBar::mkDown);
    EXPECT_TRUE(f.actions.empty());
    EXPECT_EQ(f.images, 0);
  }
}

TEST(VideoNavBar, FactoryClaimsVideoOnly) {
  player::TNavBarFactory saved = player::NavBarFactory;
  player::InitNavBar();
  player::InitVideoNavBar();
  EXPECT_NE(dynamic_cast<TVideoNavBar*>(player::NavBarFactory(u"video").Get()), nullptr);
  EXPECT_NE(dynamic_cast<player::TNavBar*>(player::NavBarFactory(u"").Get()), nullptr);
  player::NavBarFactory = saved;
}

}  // namespace
