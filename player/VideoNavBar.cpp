#include "player/VideoNavBar.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/kpExceptions.h"
#include "imaging/kvPixelFormat.h"
#include "player/NavBarDraw.h"

namespace player {

using foundation::TRect;
using foundation::TRef;
using imaging::TDirectBitmap;

namespace {

TNavBarFactory g_previousFactory = nullptr;

[[noreturn]] void Fail(const std::u16string& m) { throw foundation::Exception(m); }

void Pair(foundation::TIniFile* ini, const std::u16string& key, int32_t& a, int32_t& b) {
  const auto parts = SplitNavValues(foundation::IniReadString(ini, u"Pixel positions", key, u""));
  a = parts.size() > 0 ? std::clamp(NavParseInt(parts[0], 0), 0, kNavMaxTexture) : 0;
  b = parts.size() > 1 ? std::clamp(NavParseInt(parts[1], 0), 0, kNavMaxTexture) : 0;
}

int32_t Int(foundation::TIniFile* ini, const std::u16string& section, const std::u16string& key) {
  return std::clamp(foundation::IniReadInteger(ini, section, key, 0), 0, kNavMaxTexture);
}

TRef<TCustomNavBar> CreateVideoBar(const std::u16string& name) {
  if (name == u"video") return TRef<TCustomNavBar>::Adopt(new TVideoNavBar());
  return g_previousFactory ? g_previousFactory(name) : nullptr;
}

}  // namespace

void InitVideoNavBar() {
  if (NavBarFactory == &CreateVideoBar) return;
  g_previousFactory = NavBarFactory;
  NavBarFactory = &CreateVideoBar;
}

void TVideoNavBar::Dispose() {
  ClearNinePatch(FBack);
  ClearNinePatch(FLine);
  ClearNinePatch(FSlider);
  for (auto& s : FStrips) s = nullptr;
  TCustomNavBar::Dispose();
}

void TVideoNavBar::Load(foundation::TIniFile* ini, const std::u16string& folder) {
  FLoaded = false;
  if (!LoadImage) Fail(u"Navigation bar without an image loader");
  if (!ini) Fail(u"No navigation bar description");
  int32_t barWidth = 0;
  Pair(ini, u"BarSize", barWidth, FMetrics.BarHeight);
  Pair(ini, u"BtnSize", FMetrics.ButtonWidth, FMetrics.ButtonHeight);
  Pair(ini, u"DigitSize", FMetrics.DigitWidth, FMetrics.DigitHeight);
  FMetrics.TrackHeight = Int(ini, u"Pixel positions", u"TrackHeight");
  FMetrics.VolumeLength = Int(ini, u"Pixel positions", u"VolumeControlLength");
  FMetrics.LeftSpace = Int(ini, u"Pixel positions", u"LeftSpace");
  FMetrics.ButtonsTrackSpace = Int(ini, u"Pixel positions", u"ButtonsTrackSpace");
  FMetrics.TrackDigitsSpace = Int(ini, u"Pixel positions", u"TrackDigitsSpace");
  FMetrics.DigitsSoundButtonSpace = Int(ini, u"Pixel positions", u"DigitsSoundBtnSpace");
  FMetrics.SoundButtonTrackSpace = Int(ini, u"Pixel positions", u"SoundBtnTrackSpace");
  FMetrics.RightSpace = Int(ini, u"Pixel positions", u"RightSpace");
  FBgLeft = Int(ini, u"Common", u"BgLeft");
  FBgRight = Int(ini, u"Common", u"BgRight");
  FLineLeft = Int(ini, u"Common", u"TrackLineLeft");
  FLineRight = Int(ini, u"Common", u"TrackLineRight");
  auto load = [&](const std::u16string& section, const std::u16string& key) {
    const std::u16string file = foundation::IniReadString(ini, section, key, u"");
    TRef<TDirectBitmap> b = LoadImage(this, folder + file);
    if (!b || b->BytesPerPixel() != 4 || b->Width <= 0 || b->Height <= 0)
      Fail(u"Can not load the navigation bar picture \"" + file + u"\"");
    return b;
  };
  TRef<TDirectBitmap> back = load(u"Common", u"flnm_back");
  TRef<TDirectBitmap> line = load(u"Trackbar", u"flnm_Line");
  TRef<TDirectBitmap> slider = load(u"Trackbar", u"flnm_Polzun");
  InitNinePatchWhole(FBack, back.Get(), FBgLeft, 0, FBgRight, 0);
  InitNinePatchWhole(FLine, line.Get(), FLineLeft, 0, FLineRight, 0);
  InitNinePatchWhole(FSlider, slider.Get(), 0, 0, 0, 0);
  FMetrics.SliderWidth = slider->Width;
  FMetrics.SliderHeight = slider->Height;
  FStrips[0] = load(u"Buttons", u"flnm_Normal");
  FStrips[1] = load(u"Buttons", u"flnm_Hover");
  FStrips[2] = load(u"Buttons", u"flnm_Click");
  FActionNames = {u"backward", u"forward"};
  FLayout = {};
  FLayout.Disabled = true;
  FLoaded = true;
}

void TVideoNavBar::Fit(double scale) {
  if (!FLoaded) return;
  FLayout = VideoNavFit(FMetrics, FWidth, int32_t(FSelectedIds.size()), FShowHours, scale);
}

void TVideoNavBar::SetHeight(int32_t height) {
  // A bar height of 0 in the description gives no scale: the bar stays off.
  Fit(FMetrics.BarHeight > 0 ? double(height) / FMetrics.BarHeight : 0.0);
}

void TVideoNavBar::SetScale(double scale) { Fit(scale); }

void TVideoNavBar::SetButtonIds(const int32_t* ids, int32_t count) {
  if (!FLoaded || FLayout.Disabled) return;
  std::vector<int32_t> kept;
  for (int32_t i = 0; ids && i < count && i < 2; ++i) kept.push_back(ids[i]);
  TCustomNavBar::SetButtonIds(kept.data(), int32_t(kept.size()));
  FStates.assign(3 + kept.size(), bsNormal);
  FDuration = GetDuration ? GetDuration(this) : 0;
  FShowHours = FDuration >= 3600000;
  Fit(FLayout.Scale);
  if (!FLayout.Disabled) Redraw();
}

bool TVideoNavBar::InTrackBand(int32_t y) const {
  const int32_t top = (FLayout.BarHeight - std::max(FLayout.TrackHeight, FLayout.SliderHeight)) / 2;
  return y >= top && y < top + std::max(FLayout.TrackHeight, FLayout.SliderHeight);
}

bool TVideoNavBar::InButtonBand(int32_t y) const {
  const int32_t top = (FLayout.BarHeight - FLayout.ButtonHeight) / 2;
  return y >= top && y < top + FLayout.ButtonHeight;
}

void TVideoNavBar::DrawButton(int32_t strip, int32_t state, int32_t x) {
  TDirectBitmap* s = FStrips[std::clamp(state, 0, 2)].Get();
  if (!s || FMetrics.ButtonWidth <= 0 || FMetrics.ButtonHeight <= 0) return;
  // The strip holds unscaled buttons; a scaled button takes its nine-patch stretch.
  T9Patch p;
  InitNinePatch(p, s, {strip * FMetrics.ButtonWidth, 0, (strip + 1) * FMetrics.ButtonWidth, FMetrics.ButtonHeight}, 0,
                0, 0, 0);
  const int32_t y = (FLayout.BarHeight - FLayout.ButtonHeight) / 2;
  DrawNinePatch(FBarBitmap.Get(), {x, y, x + FLayout.ButtonWidth, y + FLayout.ButtonHeight}, p);
}

void TVideoNavBar::Redraw() {
  if (FLayout.Disabled || FWidth <= 0 || FLayout.BarHeight <= 0 || FWidth > kNavMaxBarSide ||
      FLayout.BarHeight > kNavMaxBarSide)
    return;
  if (!FBarBitmap || FBarBitmap->Width != FWidth || FBarBitmap->Height != FLayout.BarHeight)
    FBarBitmap = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(FWidth, FLayout.BarHeight, imaging::pfA8R8G8B8));
  TDirectBitmap* bar = FBarBitmap.Get();
  bar->FillRect({0, 0, FWidth, FLayout.BarHeight}, 0);
  DrawNinePatch(bar, {0, 0, FWidth, FLayout.BarHeight}, FBack);
  const int32_t bw = FLayout.ButtonWidth;
  DrawButton(FPaused ? 0 : 1, FStates[0], FMetrics.LeftSpace);
  for (size_t i = 0; i < FSelectedIds.size(); ++i)
    DrawButton(4 + std::clamp(FSelectedIds[i], 0, 1), FStates[3 + i], FMetrics.LeftSpace + int32_t(i + 1) * bw);
  const int32_t ty = (FLayout.BarHeight - FLayout.TrackHeight) / 2;
  DrawNinePatch(bar, {FLayout.TrackStart, ty, FLayout.TrackEnd, ty + FLayout.TrackHeight}, FLine);
  const int32_t sy = (FLayout.BarHeight - FLayout.SliderHeight) / 2;
  const int32_t sc = VideoNavSliderCentre(FLayout, FTime, FDuration);
  DrawNinePatch(bar, {sc - FLayout.SliderWidth / 2, sy, sc - FLayout.SliderWidth / 2 + FLayout.SliderWidth, sy + FLayout.SliderHeight},
                FSlider);
  DrawButton(FVolume == 0 ? 3 : 2, FStates[1], FLayout.SoundButtonX);
  DrawNinePatch(bar, {FLayout.VolumeStart, ty, FLayout.VolumeEnd, ty + FLayout.TrackHeight}, FLine);
  const int32_t vc = VideoNavVolumeCentre(FLayout, FVolume);
  DrawNinePatch(bar, {vc - FLayout.SliderWidth / 2, sy, vc - FLayout.SliderWidth / 2 + FLayout.SliderWidth, sy + FLayout.SliderHeight},
                FSlider);
  if (OnImage) OnImage(this, {0, 0, FWidth, FLayout.BarHeight});
}

void TVideoNavBar::Update(double showTime) {
  if (!FLoaded || FLayout.Disabled || FStates.empty()) return;
  const bool paused = IsPlaying ? !IsPlaying(this) : false;
  if (FDragSlider) return;
  if (showTime == FTime && paused == FPaused) return;
  FTime = showTime;
  FPaused = paused;
  Redraw();
}

void TVideoNavBar::SetVolume(double volume) {
  if (!FLoaded || FLayout.Disabled || FDragVolume || volume == FVolume) return;
  FVolume = volume;
  if (!FStates.empty()) Redraw();
}

void TVideoNavBar::MouseEvent(int32_t button, uint32_t, int32_t x, int32_t y, int32_t kind) {
  if (!FLoaded || FLayout.Disabled || FStates.empty()) return;
  const std::vector<uint8_t> old = FStates;
  std::fill(FStates.begin(), FStates.end(), bsNormal);
  const int32_t bw = FLayout.ButtonWidth;
  auto onButton = [&](int32_t left) { return InButtonBand(y) && x >= left && x < left + bw; };
  auto onTrack = [&] { return x >= FLayout.TrackStart && x < FLayout.TrackEnd; };
  auto onVolume = [&] { return x >= FLayout.VolumeStart && x < FLayout.VolumeEnd; };
  auto seekTo = [&](int32_t px) {
    FTime = VideoNavTimeAt(FLayout, px - FGrab, FDuration);
    if (Seek) Seek(this, FTime);
  };
  auto volumeTo = [&](int32_t px) {
    FVolume = VideoNavVolumeAt(FLayout, px - FGrab);
    if (SetVolumeEvent) SetVolumeEvent(this, FVolume);
  };
  switch (kind) {
    case mkDown:
      if (button != 1) break;
      if (InTrackBand(y) && onTrack()) {
        FDragSlider = true;
        const int32_t c = VideoNavSliderCentre(FLayout, FTime, FDuration);
        FGrab = std::abs(x - c) <= FLayout.SliderWidth / 2 ? x - c : 0;
        FPausedBeforeDrag = FPaused;
        FPaused = true;
        if (!FPausedBeforeDrag && OnAction) OnAction(this, -1);
      } else if (InTrackBand(y) && onVolume()) {
        FDragVolume = true;
        const int32_t c = VideoNavVolumeCentre(FLayout, FVolume);
        FGrab = std::abs(x - c) <= FLayout.SliderWidth / 2 ? x - c : 0;
      } else if (onButton(FMetrics.LeftSpace)) {
        FStates[0] = bsClick;
        FPaused = !FPaused;
        if (OnAction) OnAction(this, -1);
      } else if (onButton(FLayout.SoundButtonX)) {
        FStates[1] = bsClick;
        if (FVolume > 0) {
          FSavedVolume = FVolume;
          FVolume = 0;
        } else {
          FVolume = FSavedVolume;
        }
        if (SetVolumeEvent) SetVolumeEvent(this, FVolume);
      } else {
        for (size_t i = 0; i < FSelectedIds.size(); ++i)
          if (onButton(FMetrics.LeftSpace + int32_t(i + 1) * bw)) {
            FStates[3 + i] = bsClick;
            if (OnAction) OnAction(this, int32_t(i));
          }
      }
      break;
    case mkMove:
      if (std::find(old.begin(), old.end(), uint8_t(bsClick)) != old.end()) {
        FStates = old;
        return;
      }
      if (FDragSlider) {
        seekTo(x);
      } else if (FDragVolume) {
        volumeTo(x);
      } else if (InButtonBand(y)) {
        if (onButton(FMetrics.LeftSpace)) FStates[0] = bsHover;
        if (onButton(FLayout.SoundButtonX)) FStates[1] = bsHover;
        for (size_t i = 0; i < FSelectedIds.size(); ++i)
          if (onButton(FMetrics.LeftSpace + int32_t(i + 1) * bw)) FStates[3 + i] = bsHover;
      }
      break;
    case mkUp:
      if (button != 1) break;
      if (FDragSlider) {
        FPaused = FPausedBeforeDrag;
        if (!FPausedBeforeDrag && OnAction) OnAction(this, -1);
        seekTo(x);
      } else if (FDragVolume) {
        volumeTo(x);
      }
      FDragSlider = FDragVolume = false;
      FGrab = 0;
      break;
    default:
      Fail(u"Unknown mouse event kind");
  }
  Redraw();
}

}  // namespace player
