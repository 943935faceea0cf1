// The arithmetic of the form services and drawn forms that needs no window:
// default placement, centring, keeping a window on the monitor that holds
// most of it, the minimum-size rule, the animation timer's pace and the
// soft shadow under child popups.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"

namespace controls {

using foundation::TRect;

// The work area shrunk by 15 % of its width on the left and right and 10 %
// of its height on top and bottom (each rounded).
TRect PlaceDefaultBounds(const TRect& workArea);
// bounds moved so that it is centred on rect (its size kept).
TRect CenterBoundsOn(const TRect& bounds, const TRect& rect);

// What FitBoundsToMonitors decided.
enum class TFitAction { Unchanged, Move, CenterOnWorkArea };
struct TFitResult {
  TFitAction Action = TFitAction::Unchanged;
  TRect Bounds;  // the new bounds for Move
};
// Moves bounds into the work area (of those given) that holds most of it;
// the first wins a tie, and a work area holding the whole window leaves it
// where it is (also with center). With center the window is centred on that work area. When no
// work area meets the window the caller centres it on the screen's.
TFitResult FitBoundsToMonitors(const TRect& bounds, const std::vector<TRect>& workAreas, bool center);

// A proposed bounds change kept at least minWidth x minHeight (0: no
// limit): the edge that moved gives way, the opposite one when neither did.
TRect ApplyMinSize(const TRect& current, const TRect& proposed, int32_t minWidth, int32_t minHeight);

// The animation timer's interval for a display refresh rate in Hz: 1000
// divided by the rate held to 60..1000.
int32_t AnimationInterval(int32_t refreshHz);

// The animation timer's decision for one tick: the pending updates run when
// twice the time since the last repaint exceeds the interval, else the tick
// is skipped. Line is the diagnostic line of the tick, with the time since
// the previous tick of any form.
struct TAnimTick {
  bool Runs = false;
  std::string Line;
};
TAnimTick AnimationTick(int64_t now, int64_t lastPaint, int32_t interval);
// Forgets the previous tick (unit start).
void ResetAnimationTicks();

// The shadow's easing curve over 0..255.
int32_t ShadowCurve(double f);
// The alpha of the shadow image of the given size (rows top-down): an
// 8-pixel band along its edges whose alpha rises inwards, transparent inside.
std::vector<uint8_t> ShadowAlpha(int32_t width, int32_t height);

}  // namespace controls
