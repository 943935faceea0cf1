#include "player/VideoNavLayout.h"

#include <gtest/gtest.h>

#include <string>

using player::TVideoNavLayout;
using player::TVideoNavMetrics;

namespace {

TVideoNavMetrics Metrics() {
  TVideoNavMetrics m;
  m.BarHeight = 40;
  m.ButtonWidth = m.ButtonHeight = 30;
  m.DigitWidth = 8;
  m.DigitHeight = 12;
  m.TrackHeight = 6;
  m.VolumeLength = 60;
  m.SliderWidth = 10;
  m.SliderHeight = 14;
  m.LeftSpace = 5;
  m.ButtonsTrackSpace = 10;
  m.TrackDigitsSpace = 4;
  m.DigitsSoundButtonSpace = 6;
  m.SoundButtonTrackSpace = 4;
  m.RightSpace = 5;
  return m;
}

TEST(VideoNavLayout, PartsAtScaleOne) {
  // By hand, 800 wide with two selected buttons: track from 5 + 3 x 30 + 10
  // = 105; digits end at 800 - 5 - 60 - 4 - 30 - 6 = 695; the track ends 12
  // (18 with hours) digit widths before them.
  const TVideoNavLayout l = player::VideoNavFit(Metrics(), 800, 2, false, 1.0);
  EXPECT_FALSE(l.Disabled);
  EXPECT_DOUBLE_EQ(l.Scale, 1.0);
  EXPECT_EQ(l.TrackStart, 105);
  EXPECT_EQ(l.DigitsRight, 695);
  EXPECT_EQ(l.TrackEnd, 599);
  EXPECT_EQ(l.SoundButtonX, 701);
  EXPECT_EQ(l.VolumeStart, 735);
  EXPECT_EQ(l.VolumeEnd, 795);
  EXPECT_EQ(player::VideoNavFit(Metrics(), 800, 2, true, 1.0).TrackEnd, 551);
}

TEST(VideoNavLayout, FitRuleHalvesAndStops) {
  // 400 wide: at scale 1 the track ends at 199, short of 105 + 10 + 100.
  // At 0.5: track 5 + 45 + 10 = 60 .. 340 - 48 = 292, which leaves room.
  const TVideoNavLayout half = player::VideoNavFit(Metrics(), 400, 2, false, 1.0);
  EXPECT_FALSE(half.Disabled);
  EXPECT_DOUBLE_EQ(half.Scale, 0.5);
  EXPECT_EQ(half.TrackStart, 60);
  EXPECT_EQ(half.TrackEnd, 292);
  EXPECT_EQ(half.BarHeight, 20);

  // Unscaled spacings eat the room: the slider fits but no halving ever
  // gives 100 pixels of slack. The bar must end up disabled, not loop.
  TVideoNavMetrics tight{};
  tight.BarHeight = 10;
  tight.ButtonWidth = tight.ButtonHeight = 2;
  tight.SliderWidth = 2;
  tight.ButtonsTrackSpace = 100;
  tight.RightSpace = 100;
  const TVideoNavLayout first = player::VideoNavLayoutAt(tight, 300, 2, false, 1.0);
  EXPECT_FALSE(first.Disabled);  // 106 + 2 < 198
  EXPECT_TRUE(player::VideoNavFit(tight, 300, 2, false, 1.0).Disabled);

  // Sizes that keep shrinking: the halving ends below 1/64.
  TVideoNavMetrics big = Metrics();
  big.ButtonWidth = big.DigitWidth = 1000000;
  big.BarHeight = 1000000;
  EXPECT_TRUE(player::VideoNavFit(big, 1000, 0, false, 1.0).Disabled);

  // No slider room at the start, a bar height of 0, a scale of 0.
  EXPECT_TRUE(player::VideoNavFit(Metrics(), 200, 2, false, 1.0).Disabled);
  TVideoNavMetrics flat = Metrics();
  flat.BarHeight = 0;
  EXPECT_TRUE(player::VideoNavFit(flat, 800, 2, false, 1.0).Disabled);
  EXPECT_TRUE(player::VideoNavFit(Metrics(), 800, 2, false, 0.0).Disabled);
}

TEST(VideoNavLayout, SliderTimeAndVolumeTable) {
  const TVideoNavLayout l = player::VideoNavFit(Metrics(), 800, 2, false, 1.0);
  // The slider travels 599 - 10 - 105 = 484 pixels; centres 5 right of it
  // (61 s of an hour: trunc(61000 x 484 / 3600000) = 8).
  const struct {
    double time, duration;
    int32_t centre;
    const char16_t* text;
    bool hours;
  } cases[] = {
      {0, 60000, 110, u"00:00 / 01:00", false},
      {30000, 60000, 352, u"00:30 / 01:00", false},
      {59999, 60000, 593, u"00:59 / 01:00", false},
      {90000, 60000, 352, u"00:30 / 01:00", false},  // a repeating show, second run
      {61000, 3599000, 118, u"01:01 / 59:59", false},
      {61000, 3600000, 118, u"00:01:01 / 01:00:00", true},
      {3661000, 3600000, 118, u"00:01:01 / 01:00:00", true},
      {5000, 0, 110, u"00:05 / 00:00", false},
      {-1, 60000, 110, u"00:00 / 01:00", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(player::VideoNavSliderCentre(l, c.time, c.duration), c.centre) << c.time << " of " << c.duration;
    EXPECT_EQ(player::VideoNavTimeText(c.time, c.duration, c.hours), c.text) << c.time << " of " << c.duration;
  }
  // The volume knob travels 795 - 10 - 735 = 50 pixels.
  const struct {
    double volume;
    int32_t centre;
  } volumes[] = {{0, 740}, {0.7, 775}, {1, 790}, {-1, 740}, {2, 740}};
  for (const auto& v : volumes) EXPECT_EQ(player::VideoNavVolumeCentre(l, v.volume), v.centre) << v.volume;
}

TEST(VideoNavLayout, DraggingGivesTimesAndVolumes) {
  const TVideoNavLayout l = player::VideoNavFit(Metrics(), 800, 2, false, 1.0);
  const struct {
    int32_t x;
    double time;
  } drags[] = {{352, 30000}, {110, 0}, {0, 0}, {594, 60000}, {5000, 60000}, {231, 15000}};
  for (const auto& d : drags) EXPECT_DOUBLE_EQ(player::VideoNavTimeAt(l, d.x, 60000), d.time) << d.x;
  EXPECT_DOUBLE_EQ(player::VideoNavVolumeAt(l, 775), 0.7);
  EXPECT_DOUBLE_EQ(player::VideoNavVolumeAt(l, 0), 0.0);
  EXPECT_DOUBLE_EQ(player::VideoNavVolumeAt(l, 900), 1.0);
}

}  // namespace
