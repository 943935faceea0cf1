// The navigation panel: one navigation bar connected to the overlay and to
// the engine. It reads the bar's description from the show, makes the bar
// through the navigation-bar factory, places the bar's pictures in the
// layout, hands mouse events to the bar in the bar's own pixels and turns
// the bar's button presses into player actions. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "imaging/kvBitmap.h"
#include "player/NavBar.h"
#include "player/PlayerAction.h"

namespace player {

class TNavPanel : public foundation::TRefObject {
 public:
  // The show's file access: a stream of a file of the show (nullptr when
  // it does not open), and a picture of it as an own A8R8G8B8 copy (the
  // accessor's placeholder when it cannot be decoded).
  using TOpenFile = std::function<foundation::TRef<foundation::TStream>(const std::u16string&)>;
  using TLoadPicture = std::function<foundation::TRef<imaging::TDirectBitmap>(const std::u16string&)>;
  // The overlay shows the picture in rect; itemIndex is -1 the first time
  // and receives the item that shows it.
  using TPlaceImage = std::function<void(imaging::TDirectBitmap*, const foundation::TRect&, int32_t& itemIndex)>;

  TNavPanel();
  void Dispose() override;

  void SetLayout(float viewScale, const foundation::TFloatPoint& anchorPoint,
                 const foundation::TFloatPoint& anchorAlign, const foundation::TRect& rect);
  // (Re)creates the bar. A description that does not open, or that the bar
  // refuses, leaves the panel without a bar.
  void LoadStyle(const std::u16string& descriptionFile, double showDuration, double volume, bool useVideoScale,
                 bool videoExit);
  void Update(double showTime);

  TPlayerAction MouseMove(uint32_t shift, int32_t x, int32_t y);
  TPlayerAction MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y);
  TPlayerAction MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y);
  bool HitTest(int32_t x, int32_t y) const;

  TCustomNavBar* Bar() const { return FBar.Get(); }
  const foundation::TRect& BarRect() const { return FBarRect; }
  const foundation::TRect& ExitRect() const { return FExitRect; }
  bool VideoStyle() const { return FVideoStyle; }
  // The error that kept the last description from giving a bar.
  const std::u16string& LoadError() const { return FLoadError; }

  TOpenFile OpenFile;
  TLoadPicture LoadPicture;
  TPlaceImage PlaceBarImage;
  TPlaceImage PlaceExitImage;
  std::function<bool()> EngineIsPlaying;
  std::function<void(double)> EngineSeek;
  std::function<void(double)> EngineSetVolume;
  std::vector<std::u16string> ButtonNames;  // from "opt_newnavbutton<N>"
  bool ShowBackground = false;
  int32_t Hue = 0;
  double ScreenScale = 1.0;  // vertical pixels per inch / 96

 private:
  TPlayerAction Mouse(int32_t kind, int32_t button, uint32_t shift, int32_t x, int32_t y);
  void OnBarImage();
  void OnExitImage();
  void OnBarAction(int32_t index);

  bool FPressed = false;
  int32_t FBarItem = -1;
  int32_t FExitItem = -1;
  foundation::TRef<TCustomNavBar> FBar;
  foundation::TRect FBarRect{};
  foundation::TRect FExitRect{};
  float FViewScale = 0;
  foundation::TFloatPoint FAnchorPoint{};
  foundation::TFloatPoint FAnchorAlign{};
  foundation::TRect FLayout{};
  bool FLayoutValid = false;
  bool FPointerOver = false;
  bool FUpperHalf = false;
  TPlayerAction FAction;
  double FDuration = 0;
  bool FVideoStyle = false;
  std::u16string FLoadError;
};

}  // namespace player
