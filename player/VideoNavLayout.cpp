#include "player/VideoNavLayout.h"

#include <algorithm>
#include <cmath>

namespace player {

namespace {

int32_t Scaled(int32_t v, double s) {
  const double r = std::round(double(v) * s);
  return int32_t(std::clamp(r, -1e9, 1e9));
}

std::u16string Two(int64_t v) {
  v = std::max<int64_t>(v, 0) % 100;
  return {char16_t(u'0' + v / 10), char16_t(u'0' + v % 10)};
}

std::u16string Clock(double ms, bool hours) {
  const int64_t total = std::isfinite(ms) && ms > 0 ? int64_t(std::min(ms / 1000.0, 9e15)) : 0;
  const int64_t h = total / 3600, m = total / 60 % 60, s = total % 60;
  return hours ? Two(h) + u":" + Two(m) + u":" + Two(s) : Two(total / 60) + u":" + Two(s);
}

}  // namespace

TVideoNavLayout VideoNavLayoutAt(const TVideoNavMetrics& m, int32_t width, int32_t selectedButtons, bool showHours,
                                 double scale) {
  TVideoNavLayout l;
  l.Scale = scale;
  if (!(scale > 0) || !std::isfinite(scale) || m.BarHeight <= 0 || width <= 0) {
    l.Disabled = true;
    return l;
  }
  l.ButtonWidth = Scaled(m.ButtonWidth, scale);
  l.ButtonHeight = Scaled(m.ButtonHeight, scale);
  l.DigitWidth = Scaled(m.DigitWidth, scale);
  l.DigitHeight = Scaled(m.DigitHeight, scale);
  l.BarHeight = Scaled(m.BarHeight, scale);
  l.TrackHeight = Scaled(m.TrackHeight, scale);
  l.VolumeLength = Scaled(m.VolumeLength, scale);
  l.SliderWidth = Scaled(m.SliderWidth, scale);
  l.SliderHeight = Scaled(m.SliderHeight, scale);
  const int64_t buttons = std::clamp(selectedButtons, 0, 64);
  const int64_t trackStart = int64_t(m.LeftSpace) + (buttons + 1) * l.ButtonWidth + m.ButtonsTrackSpace;
  const int64_t digitsRight = int64_t(width) - m.RightSpace - l.VolumeLength - m.SoundButtonTrackSpace -
                              l.ButtonWidth - m.DigitsSoundButtonSpace;
  const int64_t trackEnd = digitsRight - int64_t(l.DigitWidth) * (showHours ? 18 : 12);
  auto sat = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, -1000000000, 1000000000)); };
  l.TrackStart = sat(trackStart);
  l.TrackEnd = sat(trackEnd);
  l.DigitsRight = sat(digitsRight);
  l.SoundButtonX = sat(digitsRight + m.DigitsSoundButtonSpace);
  l.VolumeStart = sat(int64_t(width) - m.RightSpace - l.VolumeLength);
  l.VolumeEnd = sat(int64_t(width) - m.RightSpace);
  l.Disabled = l.BarHeight <= 0 || trackStart + l.SliderWidth >= trackEnd;
  return l;
}

TVideoNavLayout VideoNavFit(const TVideoNavMetrics& m, int32_t width, int32_t selectedButtons, bool showHours,
                            double scale) {
  TVideoNavLayout l = VideoNavLayoutAt(m, width, selectedButtons, showHours, scale);
  while (!l.Disabled && !(int64_t(l.TrackStart) + l.SliderWidth + 100 < l.TrackEnd)) {
    const double half = l.Scale / 2;
    TVideoNavLayout next = VideoNavLayoutAt(m, width, selectedButtons, showHours, half);
    TVideoNavLayout same = next;
    same.Scale = l.Scale;
    // The spacings alone may leave less than the slack: no halving helps then.
    if (half < 1.0 / 64 || same == l || next.Disabled) {
      l.Disabled = true;
      break;
    }
    l = next;
  }
  return l;
}

double VideoNavTimeInRun(double time, double duration) {
  if (!(duration >= 1e-6) || !(time >= 0) || !std::isfinite(time)) return time;
  return time > duration ? std::fmod(time, duration) : time;
}

int32_t VideoNavSliderCentre(const TVideoNavLayout& l, double time, double duration) {
  if (duration >= 1e-6 && time >= 0 && std::isfinite(time) && std::isfinite(duration)) {
    const double t = VideoNavTimeInRun(time, duration);
    const double span = double(l.TrackEnd) - l.SliderWidth - l.TrackStart;
    return l.TrackStart + int32_t(std::trunc(t * span / duration)) + l.SliderWidth / 2;
  }
  return l.TrackStart + l.SliderWidth / 2;
}

int32_t VideoNavVolumeCentre(const TVideoNavLayout& l, double volume) {
  if (volume >= 0 && volume <= 1)
    return l.VolumeStart + int32_t(std::lround((double(l.VolumeEnd) - l.SliderWidth - l.VolumeStart) * volume)) +
           l.SliderWidth / 2;
  return l.VolumeStart + l.SliderWidth / 2;
}

double VideoNavTimeAt(const TVideoNavLayout& l, int32_t x, double duration) {
  const int32_t lo = l.TrackStart + l.SliderWidth / 2, hi = l.TrackEnd - l.SliderWidth / 2;
  const int32_t c = std::clamp(x, lo, std::max(lo, hi));
  const double span = double(l.TrackEnd) - l.TrackStart - l.SliderWidth;
  if (span <= 0) return 0;
  return (double(c) - l.TrackStart - l.SliderWidth / 2) / span * duration;
}

double VideoNavVolumeAt(const TVideoNavLayout& l, int32_t x) {
  const int32_t lo = l.VolumeStart + l.SliderWidth / 2, hi = l.VolumeEnd - l.SliderWidth / 2;
  const int32_t c = std::clamp(x, lo, std::max(lo, hi));
  const double span = double(l.VolumeEnd) - l.VolumeStart - l.SliderWidth;
  if (span <= 0) return 0;
  return std::clamp((double(c) - l.VolumeStart - l.SliderWidth / 2) / span, 0.0, 1.0);
}

std::u16string VideoNavTimeText(double time, double duration, bool showHours) {
  return Clock(VideoNavTimeInRun(time, duration), showHours) + u" / " + Clock(duration, showHours);
}

}  // namespace player
