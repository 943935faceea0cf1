// Navigation bars: a bitmap the bar paints itself and hands to the
// navigation panel whenever part of it changes. The panel shows it in the
// overlay and feeds mouse events back in bar pixels. TCustomNavBar is the
// interface both bars share; TNavBar is the skinnable button bar, a grid of
// textured cells with one cell holding a row of buttons.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "imaging/kvBitmap.h"

namespace player {

// Limits on sizes read from a description: a show can say anything, and a
// bar is never bigger than a screen.
constexpr int32_t kNavMaxGridSide = 64;
constexpr int32_t kNavMaxCells = 1024;
constexpr int32_t kNavMaxBarSide = 8192;
constexpr int32_t kNavMaxButtons = 64;
constexpr int32_t kNavMaxTexture = 4096;

class TCustomNavBar : public foundation::TRefObject {
 public:
  using TImageEvent = std::function<void(TCustomNavBar*, const foundation::TRect&)>;
  using TActionEvent = std::function<void(TCustomNavBar*, int32_t)>;
  using TBoolQuery = std::function<bool(TCustomNavBar*)>;
  // The loader gives an own A8R8G8B8 copy of the picture, or nullptr.
  using TLoadImage =
      std::function<foundation::TRef<imaging::TDirectBitmap>(TCustomNavBar*, const std::u16string& fileName)>;
  using TDurationQuery = std::function<double(TCustomNavBar*)>;
  using TSeekEvent = std::function<void(TCustomNavBar*, double)>;

  void Dispose() override;

  virtual void Load(foundation::TIniFile* ini, const std::u16string& folder) = 0;
  // Keeps at most count ids.
  virtual void SetButtonIds(const int32_t* ids, int32_t count);
  enum : int32_t { mkMove = 0, mkDown = 1, mkUp = 2 };
  virtual void MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t kind) = 0;
  virtual void Update(double showTime) = 0;
  virtual void SetVolume(double volume) = 0;
  virtual void SetWidth(int32_t width) = 0;
  virtual void SetHeight(int32_t height) = 0;
  virtual void SetScale(double scale) = 0;

  const std::vector<std::u16string>& ActionNames() const { return FActionNames; }
  const std::vector<int32_t>& SelectedIds() const { return FSelectedIds; }
  imaging::TDirectBitmap* BarBitmap() const { return FBarBitmap.Get(); }
  imaging::TDirectBitmap* ExitBitmap() const { return FExitBitmap.Get(); }

  TImageEvent OnImage;
  TImageEvent OnExitImage;
  TActionEvent OnAction;
  TBoolQuery IsPlaying;
  TLoadImage LoadImage;
  TDurationQuery GetDuration;
  TSeekEvent Seek;
  TSeekEvent SetVolumeEvent;
  TBoolQuery IsUpperHalf;
  bool ShowBackground = false;
  int32_t Hue = 0;  // degrees

 protected:
  std::vector<std::u16string> FActionNames;
  std::vector<int32_t> FSelectedIds;
  foundation::TRef<imaging::TDirectBitmap> FBarBitmap;
  foundation::TRef<imaging::TDirectBitmap> FExitBitmap;
};

struct TNavCell {
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  foundation::TRef<imaging::TDirectBitmap> Texture;
  foundation::TRect TextureRect{};
};

struct TNavObject {
  enum : uint8_t { stNormal = 0, stHover = 1, stPressed = 2 };
  uint8_t State = stNormal;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  int32_t ShiftPressed = 0;
  bool GrayNormal = false;
  bool HasPlayTextures = false;
  foundation::TRef<imaging::TDirectBitmap> Btn[3], BtnPlay[3], Bg[3];
  foundation::TRect BtnRect[3]{}, BgRect[3]{};
  foundation::TRect Bounds() const { return {X, Y, X + Width, Y + Height}; }
};

class TNavBar : public TCustomNavBar {
 public:
  TNavBar();
  void Dispose() override;

  // Raises foundation::Exception on a malformed description.
  void Load(foundation::TIniFile* ini, const std::u16string& folder) override;
  void SetButtonIds(const int32_t* ids, int32_t count) override;
  void MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t kind) override;
  void Update(double showTime) override;
  void SetVolume(double) override {}
  void SetWidth(int32_t) override {}
  void SetHeight(int32_t) override {}
  void SetScale(double) override {}

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  int32_t ButtonCount() const { return int32_t(FObjects.size()); }
  const TNavObject& Button(int32_t i) const { return FObjects[size_t(i)]; }
  const TNavCell& Cell(int32_t column, int32_t row) const;  // 1-based
  int32_t Columns() const { return FCols; }
  int32_t Rows() const { return FRows; }

 private:
  struct TCacheItem {
    foundation::TRef<imaging::TDirectBitmap> Whole;
    std::vector<std::pair<foundation::TRect, foundation::TRef<imaging::TDirectBitmap>>> Grays;
  };
  // A texture and its source rectangle; gray copies are cached per rectangle.
  foundation::TRef<imaging::TDirectBitmap> Texture(const std::u16string& file, foundation::TRect& rect, bool gray);
  void AddDirty(const foundation::TRect& r);
  void SetState(TNavObject& o, uint8_t state);
  void Render();
  int32_t ButtonAt(int32_t x, int32_t y) const;
  bool InsideBitmap(int32_t x, int32_t y) const;
  void HoverAt(int32_t x, int32_t y, uint32_t shift);

  foundation::TRef<foundation::TIniFile> FIni;
  std::u16string FFolder;
  int32_t FWidth = 0, FHeight = 0;
  int32_t FCols = 0, FRows = 0;
  std::vector<TNavCell> FCells;
  std::vector<TNavObject> FObjects;
  int32_t FMarginLeft = 0, FMarginTop = 0, FMarginRight = 0, FMarginBottom = 0;
  int32_t FObjCol = 1, FObjRow = 1;
  std::vector<std::pair<std::u16string, TCacheItem>> FCache;  // keyed by the lower-cased file name
  foundation::TRect FDirty{};
  bool FLastPlaying = false;
  bool FFirstUpdate = true;
  int32_t FPressedIndex = -1;
  bool FPointerInside = false;
  bool FPressed = false;
  bool FLoaded = false;
};

// The program-wide navigation-bar factory: a bar name gives a new bar. Each
// bar unit keeps the previous factory for the names it does not claim.
// Start-up only: set before any thread runs.
using TNavBarFactory = foundation::TRef<TCustomNavBar> (*)(const std::u16string& name);
extern TNavBarFactory NavBarFactory;
// Installs the button bar's factory (every name).
void InitNavBar();

// Splits a value list at commas outside double quotes, each piece trimmed of spaces.
std::vector<std::u16string> SplitNavValues(const std::u16string& value);

}  // namespace player
