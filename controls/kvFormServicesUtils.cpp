#include "controls/kvFormServicesUtils.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace controls {

namespace {
int32_t W(const TRect& r) { return r.Right - r.Left; }
int32_t H(const TRect& r) { return r.Bottom - r.Top; }

int64_t IntersectionArea(const TRect& a, const TRect& b) {
  const int64_t w = int64_t(std::min(a.Right, b.Right)) - std::max(a.Left, b.Left);
  const int64_t h = int64_t(std::min(a.Bottom, b.Bottom)) - std::max(a.Top, b.Top);
  return w > 0 && h > 0 ? w * h : 0;
}

bool Contains(const TRect& outer, const TRect& inner) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
         inner.Bottom <= outer.Bottom;
}

// One axis of the fit: the new start of a span [start, start + size) in [lo, hi).
int32_t FitAxis(int32_t start, int32_t size, int32_t lo, int32_t hi) {
  if (size > hi - lo) return (lo + hi - size) / 2;
  if (start < lo) return lo;
  if (start + size > hi) return hi - size;
  return start;
}

// The process-wide time of the previous animation tick (-1: none yet).
std::atomic<int64_t> g_previousTick{-1};
}  // namespace

TRect PlaceDefaultBounds(const TRect& workArea) {
  const auto dx = static_cast<int32_t>(std::lround(W(workArea) * 0.15));
  const auto dy = static_cast<int32_t>(std::lround(H(workArea) * 0.1));
  return TRect{workArea.Left + dx, workArea.Top + dy, workArea.Right - dx, workArea.Bottom - dy};
}

TRect CenterBoundsOn(const TRect& bounds, const TRect& rect) {
  const int32_t w = W(bounds), h = H(bounds);
  const int32_t left = (rect.Left + rect.Right - w) / 2;
  const int32_t top = (rect.Top + rect.Bottom - h) / 2;
  return TRect{left, top, left + w, top + h};
}

TFitResult FitBoundsToMonitors(const TRect& bounds, const std::vector<TRect>& workAreas, bool center) {
  TFitResult result;
  int64_t best = 0;
  const TRect* chosen = nullptr;
  for (const TRect& area : workAreas) {
    if (Contains(area, bounds)) return result;  // wholly on one monitor already
    const int64_t a = IntersectionArea(area, bounds);
    if (a > best) {
      best = a;
      chosen = &area;
    }
  }
  if (!chosen) {
    result.Action = TFitAction::CenterOnWorkArea;
    return result;
  }
  TRect next;
  if (center) {
    next = CenterBoundsOn(bounds, *chosen);
  } else {
    const int32_t left = FitAxis(bounds.Left, W(bounds), chosen->Left, chosen->Right);
    const int32_t top = FitAxis(bounds.Top, H(bounds), chosen->Top, chosen->Bottom);
    next = TRect{left, top, left + W(bounds), top + H(bounds)};
  }
  if (next.Left != bounds.Left || next.Top != bounds.Top) {
    result.Action = TFitAction::Move;
    result.Bounds = next;
  }
  return result;
}

TRect ApplyMinSize(const TRect& current, const TRect& proposed, int32_t minWidth, int32_t minHeight) {
  TRect r = proposed;
  if (minWidth > 0 && W(r) < minWidth) {
    if (r.Left != current.Left)
      r.Left = r.Right - minWidth;
    else
      r.Right = r.Left + minWidth;
  }
  if (minHeight > 0 && H(r) < minHeight) {
    if (r.Top != current.Top)
      r.Top = r.Bottom - minHeight;
    else
      r.Bottom = r.Top + minHeight;
  }
  return r;
}

int32_t AnimationInterval(int32_t refreshHz) { return 1000 / std::clamp(refreshHz, 60, 1000); }

TAnimTick AnimationTick(int64_t now, int64_t lastPaint, int32_t interval) {
  TAnimTick tick;
  const int64_t previous = g_previousTick.exchange(now);
  const int64_t since = previous < 0 ? 0 : now - previous;
  tick.Runs = 2 * (now - lastPaint) > interval;
  tick.Line = (tick.Runs ? "ani time : " : "skip --- : ") + std::to_string(since);
  return tick;
}

void ResetAnimationTicks() { g_previousTick = -1; }

int32_t ShadowCurve(double f) {
  if (f <= 128) return static_cast<int32_t>(std::lround(f * f / 128));
  return 255 - static_cast<int32_t>(std::lround((255 - f) * (255 - f) / 128));
}

std::vector<uint8_t> ShadowAlpha(int32_t width, int32_t height) {
  constexpr int32_t kBand = 8;
  std::vector<uint8_t> alpha(size_t(std::max(width, 0)) * size_t(std::max(height, 0)), 0);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t j = std::min(y, height - 1 - y);
    const bool bandRow = j < kBand;
    for (int32_t x = 0; x < width; ++x) {
      const int32_t i = std::min(x, width - 1 - x);
      const bool ramp = i < kBand;
      const int32_t column = ramp ? ShadowCurve(i * 255.0 / kBand) : 255;
      int32_t a = 0;
      if (bandRow)
        a = column * ShadowCurve(j * 256.0 / kBand) / 256;
      else if (ramp)
        a = column;
      alpha[size_t(y) * size_t(width) + size_t(x)] = static_cast<uint8_t>(a);
    }
  }
  return alpha;
}

}  // namespace controls
