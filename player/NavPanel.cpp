#include "player/NavPanel.h"

#include <cmath>

#include "foundation/kpExceptions.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "player/AnchorUtils.h"

namespace player {

using foundation::TRect;
using foundation::TRef;

namespace {

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return s;
}

bool EmptyRect(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }

int32_t RoundSat(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return int32_t(std::lround(v));
}

}  // namespace

TNavPanel::TNavPanel() = default;

void TNavPanel::Dispose() {
  FBar = nullptr;
  ButtonNames.clear();
  OpenFile = nullptr;
  LoadPicture = nullptr;
  PlaceBarImage = nullptr;
  PlaceExitImage = nullptr;
  TRefObject::Dispose();
}

void TNavPanel::SetLayout(float viewScale, const foundation::TFloatPoint& anchorPoint,
                          const foundation::TFloatPoint& anchorAlign, const TRect& rect) {
  FViewScale = viewScale;
  FAnchorPoint = anchorPoint;
  FAnchorAlign = anchorAlign;
  FLayout = rect;
  FLayoutValid = true;
}

void TNavPanel::LoadStyle(const std::u16string& descriptionFile, double showDuration, double volume,
                          bool useVideoScale, bool videoExit) {
  FBar = nullptr;
  FBarRect = FExitRect = {};
  FPointerOver = false;
  FPressed = false;
  FDuration = showDuration;
  FLoadError.clear();
  TRef<foundation::TStream> stream = OpenFile ? OpenFile(descriptionFile) : nullptr;
  if (!stream) return;
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  if (!foundation::LoadIniFromStream(ini.Get(), stream.Get())) return;
  FVideoStyle = foundation::IniReadBool(ini.Get(), u"Common", u"VideoStyle", false);
  if (!NavBarFactory) return;
  TRef<TCustomNavBar> bar = NavBarFactory(FVideoStyle ? u"video" : u"");
  if (!bar) return;
  const bool exitImage = FVideoStyle && videoExit;
  bar->OnImage = [this](TCustomNavBar*, const TRect&) { OnBarImage(); };
  if (exitImage) bar->OnExitImage = [this](TCustomNavBar*, const TRect&) { OnExitImage(); };
  bar->LoadImage = [this](TCustomNavBar*, const std::u16string& name) -> TRef<imaging::TDirectBitmap> {
    return LoadPicture ? LoadPicture(name) : nullptr;
  };
  bar->OnAction = [this](TCustomNavBar*, int32_t index) { OnBarAction(index); };
  if (EngineIsPlaying) bar->IsPlaying = [this](TCustomNavBar*) { return EngineIsPlaying(); };
  bar->GetDuration = [this](TCustomNavBar*) { return FDuration; };
  bar->Seek = [this](TCustomNavBar*, double t) {
    if (EngineSeek) EngineSeek(t);
  };
  bar->SetVolumeEvent = [this](TCustomNavBar*, double v) {
    if (EngineSetVolume) EngineSetVolume(v);
  };
  if (exitImage) bar->IsUpperHalf = [this](TCustomNavBar*) { return FUpperHalf; };
  bar->ShowBackground = ShowBackground;
  bar->Hue = Hue;
  const size_t slash = descriptionFile.find_last_of(u'\\');
  const std::u16string folder = slash == std::u16string::npos ? u"" : descriptionFile.substr(0, slash + 1);
  // The bar is published before it draws: its first picture is placed
  // through the panel.
  FBar = bar;
  try {
    bar->Load(ini.Get(), folder);
    bar->SetWidth(FLayout.Right - FLayout.Left);
    if (useVideoScale)
      bar->SetHeight(RoundSat((FLayout.Bottom - FLayout.Top) * double(FViewScale) * 0.01));
    else
      bar->SetScale(ScreenScale);
    std::vector<int32_t> ids;
    const auto& names = bar->ActionNames();
    for (const std::u16string& n : ButtonNames)
      for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == n) {
          ids.push_back(int32_t(i));
          break;
        }
    bar->SetButtonIds(ids.data(), int32_t(ids.size()));
    bar->Update(0);
    bar->SetVolume(volume);
  } catch (const foundation::Exception& e) {
    // A damaged description shows no bar rather than stopping the show.
    FLoadError = e.Message();
    FBar = nullptr;
    FBarRect = FExitRect = {};
  }
}

void TNavPanel::Update(double showTime) {
  if (FBar) FBar->Update(showTime);
}

void TNavPanel::OnBarImage() {
  if (!PlaceBarImage || !FLayoutValid || !FBar) return;
  imaging::TDirectBitmap* b = FBar->BarBitmap();
  if (!b || b->Width <= 0 || b->Height <= 0) return;
  TRect r{};
  if (FVideoStyle) {
    PlaceAnchoredRect(r, {0, 100}, {0, 100}, FLayout, b->Width, b->Height);
  } else {
    const int32_t h = RoundSat((FLayout.Bottom - FLayout.Top) * double(FViewScale) / 100.0);
    const int32_t w = RoundSat(double(h) * b->Width / b->Height);
    PlaceAnchoredRect(r, FAnchorPoint, FAnchorAlign, FLayout, w, h);
  }
  FBarRect = r;
  PlaceBarImage(b, r, FBarItem);
}

void TNavPanel::OnExitImage() {
  if (!PlaceExitImage || !FLayoutValid || !FBar) return;
  imaging::TDirectBitmap* b = FBar->ExitBitmap();
  if (!b) return;
  FExitRect = {FLayout.Right - b->Width, FLayout.Top, FLayout.Right, FLayout.Top + b->Height};
  PlaceExitImage(b, FExitRect, FExitItem);
}

void TNavPanel::OnBarAction(int32_t index) {
  if (index >= 0) {
    if (!FBar) return;
    const auto& ids = FBar->SelectedIds();
    const auto& names = FBar->ActionNames();
    if (size_t(index) >= ids.size() || ids[size_t(index)] < 0 || size_t(ids[size_t(index)]) >= names.size()) return;
    const std::u16string name = Lower(names[size_t(ids[size_t(index)])]);
    static const struct {
      const char16_t* name;
      int32_t code;
    } kCodes[] = {{u"home", acGotoSlide}, {u"backward", acPrevSlide}, {u"forward", acNextSlide},
                  {u"pause", acPause},    {u"print", acPrint},        {u"help", acHelp},
                  {u"exit", acExit}};
    for (const auto& c : kCodes)
      if (name == c.name) {
        FAction.Code = c.code;
        FAction.Argument = 0;
      }
  } else if (FVideoStyle) {
    if (index == -1) FAction.Code = acPause;
    if (index == -2) FAction.Code = acExit;
  }
}

bool TNavPanel::HitTest(int32_t x, int32_t y) const {
  auto in = [x, y](const TRect& r) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; };
  if (!FBar) return false;
  return in(FBarRect) || (FBar->IsUpperHalf && in(FExitRect));
}

TPlayerAction TNavPanel::Mouse(int32_t kind, int32_t button, uint32_t shift, int32_t x, int32_t y) {
  FAction = {};
  bool taken = HitTest(x, y) || FPointerOver || (kind != TCustomNavBar::mkDown && FPressed);
  if (kind != TCustomNavBar::mkMove && button != 1) taken = false;
  if (taken && FBar) {
    if (FBar->IsUpperHalf) FUpperHalf = y < FLayout.Top + (FLayout.Bottom - FLayout.Top) / 2;
    const bool exit = FBar->IsUpperHalf && FUpperHalf;
    imaging::TDirectBitmap* b = exit ? FBar->ExitBitmap() : FBar->BarBitmap();
    const TRect r = exit ? FExitRect : FBarRect;
    if (b && !EmptyRect(r)) {
      const int32_t bx = RoundSat(double(b->Width) * (double(x) - r.Left) / (double(r.Right) - r.Left));
      const int32_t by = RoundSat(double(b->Height) * (double(y) - r.Top) / (double(r.Bottom) - r.Top));
      // Keep a reference: an action may make the owner load a new style.
      TRef<TCustomNavBar> keep = FBar;
      keep->MouseEvent(kind == TCustomNavBar::mkMove ? 1 : button, shift, bx, by, kind);
    }
    if (kind == TCustomNavBar::mkDown) FPressed = true;
    if (kind == TCustomNavBar::mkUp) FPressed = false;
  }
  FPointerOver = HitTest(x, y);
  if (!taken) return {};
  if (FPointerOver && FAction.Code == acNone) FAction.Code = acOverNavPanel;
  return FAction;
}

TPlayerAction TNavPanel::MouseMove(uint32_t shift, int32_t x, int32_t y) {
  return Mouse(TCustomNavBar::mkMove, 1, shift, x, y);
}
TPlayerAction TNavPanel::MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y) {
  return Mouse(TCustomNavBar::mkDown, button, shift, x, y);
}
TPlayerAction TNavPanel::MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y) {
  return Mouse(TCustomNavBar::mkUp, button, shift, x, y);
}

}  // namespace player
