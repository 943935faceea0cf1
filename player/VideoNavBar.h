// The media-player style navigation bar: play/pause, optional backward and
// forward buttons, a track with a slider for the show time, a sound (mute)
// button and a volume slider. It seeks the show and sets the volume
// through the panel's callbacks and reports button presses by index (-1
// play/pause, -2 exit).
#pragma once

#include <cstdint>
#include <string>

#include "player/NavBar.h"
#include "player/VideoNavLayout.h"
#include "player/kvNinePatchUtils.h"

namespace player {

class TVideoNavBar : public TCustomNavBar {
 public:
  enum : uint8_t { bsNormal = 0, bsHover = 1, bsClick = 2 };

  void Dispose() override;
  void Load(foundation::TIniFile* ini, const std::u16string& folder) override;
  void SetButtonIds(const int32_t* ids, int32_t count) override;
  void MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t kind) override;
  void Update(double showTime) override;
  void SetVolume(double volume) override;
  void SetWidth(int32_t width) override { FWidth = width; }
  void SetHeight(int32_t height) override;
  void SetScale(double scale) override;

  bool Disabled() const { return FLayout.Disabled; }
  const TVideoNavLayout& Layout() const { return FLayout; }
  double Time() const { return FTime; }
  double Volume() const { return FVolume; }
  bool Paused() const { return FPaused; }
  uint8_t PartState(size_t i) const { return i < FStates.size() ? FStates[i] : 0; }

 private:
  void Fit(double scale);
  void Redraw();
  void DrawButton(int32_t strip, int32_t state, int32_t x);
  bool InTrackBand(int32_t y) const;
  bool InButtonBand(int32_t y) const;

  TVideoNavMetrics FMetrics;
  TVideoNavLayout FLayout;
  int32_t FWidth = 0;
  double FTime = -1, FDuration = 0, FVolume = -1, FSavedVolume = 1;
  bool FDragSlider = false, FDragVolume = false, FPaused = false, FPausedBeforeDrag = false, FShowHours = false;
  int32_t FGrab = 0;
  std::vector<uint8_t> FStates;  // play, sound, exit, then the selected buttons
  T9Patch FBack, FLine, FSlider;
  int32_t FBgLeft = 0, FBgRight = 0, FLineLeft = 0, FLineRight = 0;
  foundation::TRef<imaging::TDirectBitmap> FStrips[3];
  bool FLoaded = false;
};

// Installs the video bar's factory: "video" makes a TVideoNavBar, every
// other name goes to the factory installed before. Runs after InitNavBar.
void InitVideoNavBar();

}  // namespace player
