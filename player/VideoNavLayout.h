// The geometry of the media-player style navigation bar: where its parts
// go at a scale, the rule that shrinks it to fit its width, and the
// positions and texts the show time and the volume give.
#pragma once

#include <cstdint>
#include <string>

namespace player {

// Sizes from the description, unscaled. Spacings are never scaled.
struct TVideoNavMetrics {
  int32_t BarHeight = 0;
  int32_t ButtonWidth = 0, ButtonHeight = 0;
  int32_t DigitWidth = 0, DigitHeight = 0;
  int32_t TrackHeight = 0, VolumeLength = 0;
  int32_t SliderWidth = 0, SliderHeight = 0;
  int32_t LeftSpace = 0, ButtonsTrackSpace = 0, TrackDigitsSpace = 0, DigitsSoundButtonSpace = 0,
          SoundButtonTrackSpace = 0, RightSpace = 0;
};

struct TVideoNavLayout {
  double Scale = 1;
  bool Disabled = false;
  int32_t BarHeight = 0;
  int32_t ButtonWidth = 0, ButtonHeight = 0, DigitWidth = 0, DigitHeight = 0;
  int32_t TrackHeight = 0, VolumeLength = 0, SliderWidth = 0, SliderHeight = 0;
  int32_t TrackStart = 0, TrackEnd = 0;  // x from the bar's left
  int32_t DigitsRight = 0;
  int32_t SoundButtonX = 0;
  int32_t VolumeStart = 0, VolumeEnd = 0;
  bool operator==(const TVideoNavLayout&) const = default;
};

// The layout at one scale; disabled when the track has no room for the slider
// or the scale or bar height is not positive.
TVideoNavLayout VideoNavLayoutAt(const TVideoNavMetrics& m, int32_t width, int32_t selectedButtons, bool showHours,
                                 double scale);
// The fit rule: disabled when the slider does not fit the track; otherwise
// the scale is halved until the track has 100 pixels to spare. The halving
// stops, and the bar is disabled, when a halving no longer changes the
// layout or the scale falls below 1/64.
TVideoNavLayout VideoNavFit(const TVideoNavMetrics& m, int32_t width, int32_t selectedButtons, bool showHours,
                            double scale);

// The time within one run of the show: time minus whole durations.
double VideoNavTimeInRun(double time, double duration);
// Centre x of the time slider and of the volume knob.
int32_t VideoNavSliderCentre(const TVideoNavLayout& l, double time, double duration);
int32_t VideoNavVolumeCentre(const TVideoNavLayout& l, double volume);
// The show time a slider centre at x stands for (x clamped to the track).
double VideoNavTimeAt(const TVideoNavLayout& l, int32_t x, double duration);
// The volume a knob centre at x stands for, 0..1.
double VideoNavVolumeAt(const TVideoNavLayout& l, int32_t x);
// "mm:ss / mm:ss", or with hours "hh:mm:ss / hh:mm:ss".
std::u16string VideoNavTimeText(double time, double duration, bool showHours);

}  // namespace player
