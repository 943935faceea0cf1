#include "player/InputMapping.h"

#include <algorithm>

#include "windowing/kvEvents.h"
#include "windowing/kvInputTranslate.h"

namespace player {

namespace {

// Bindings compare Shift, Alt and Ctrl; the Windows key is ignored.
constexpr int32_t kModifierMask = windowing::ssShift | windowing::ssAlt | windowing::ssCtrl;

}  // namespace

TPlayerAction MouseLabelAction(const std::u16string& label) {
  TPlayerAction a;
  if (label == u"Exit")
    a.Code = acExit;
  else if (label == u"Next slide")
    a.Code = acNextSlide;
  else if (label == u"Prev. slide")
    a.Code = acPrevSlide;
  else if (label == u"Help")
    a.Code = acHelp;
  else if (label == u"Pause")
    a.Code = acPause;
  else if (label == u"Go to first")
    a.Code = acGotoSlide;  // argument 0: the first slide
  return a;
}

TInputMappingClass::TInputMappingClass(const foundation::TIniFile* ini, TMsClock clock) {
  LeftAction = MouseLabelAction(foundation::IniReadString(ini, u"main", u"opt_leftmouse", u""));
  RightAction = MouseLabelAction(foundation::IniReadString(ini, u"main", u"opt_rightmouse", u""));
  DoubleClickAction = MouseLabelAction(foundation::IniReadString(ini, u"main", u"opt_dblclick", u""));
  ScreenSaver = foundation::IniReadBool(ini, u"main", u"opt_ssaver", false);
  if (ScreenSaver) {
    ExitBinding = foundation::MakeRef<TKeyMap>();
    ExitBinding->Action.Code = acExit;
  }
  if (ScreenSaver || foundation::IniReadBool(ini, u"main", u"opt_exitonmove", false))
    MoveDetector = foundation::MakeRef<TMouseMoveDetector>(std::move(clock));
  PermitControl = foundation::IniReadBool(ini, u"main", u"opt_synchpermitcontrol", true);
  WheelEnabled = !foundation::IniReadBool(ini, u"main", u"opt_lockwheel", false);

  Bind(vkEscape, acExit);
  if (PermitControl) {
    Bind(vkSpace, acPause);
    Bind(vkPause, acPause);
    Bind(vkP, acPause, 0, windowing::ssCtrl);
    Bind(vkMediaPlayPause, acPause);
    Bind(vkMediaStop, acStop);
    for (int32_t k : {vkLeft, vkPageUp, vkUp, vkBrowserBack, vkMediaPrevTrack}) Bind(k, acPrevSlide);
    for (int32_t k : {vkRight, vkPageDown, vkDown, vkBrowserForward, vkMediaNextTrack}) Bind(k, acNextSlide);
    Bind(vkHome, acGotoSlide, 0);
    Bind(vkEnd, acGotoSlide, foundation::IniReadInteger(ini, u"Times", u"opt_slidescount", 0));
  }
  if (!foundation::IniReadBool(ini, u"Main", u"opt_lockf1", false)) Bind(vkF1, acHelp);
}

void TInputMappingClass::Bind(int32_t key, int32_t code, int32_t argument, int32_t value) {
  auto map = foundation::MakeRef<TKeyMap>();
  map->Mask = kModifierMask;
  map->Value = value;
  map->Kind = windowing::kkDown;
  map->Action.Code = code;
  map->Action.Argument = argument;
  map->Next = std::move(Keys[static_cast<size_t>(key)]);
  Keys[static_cast<size_t>(key)] = std::move(map);
}

void TInputMappingClass::Dispose() {
  // Chains are released from their heads; each binding releases the rest.
  for (auto& k : Keys) k.Reset();
  ExitBinding.Reset();
  MoveDetector.Reset();
  foundation::TRefObject::Dispose();
}

TKeyMap* TInputMappingClass::FindKey(uint32_t shift, int32_t key, int32_t kind) {
  if (ScreenSaver) return ExitBinding.Get();
  // Negative codes are as foreign to the table as codes of 256 and above.
  if (key < 0 || key >= kKeyCount) return nullptr;
  for (TKeyMap* m = Keys[static_cast<size_t>(key)].Get(); m; m = m->Next.Get())
    if (m->Kind == kind && (int32_t(shift) & m->Mask) == m->Value) return m;
  return nullptr;
}

void TInputMappingClass::MouseAction(TPlayerAction& action, uint32_t shift, int32_t x, int32_t y, int32_t button,
                                     int32_t kind) {
  action = TPlayerAction{};
  if (ScreenSaver && shift != 0) {
    action.Code = acExit;
    return;
  }
  if (MoveDetector && MoveDetector->Moved(x, y)) {
    action.Code = acExit;
    return;
  }
  if (kind == windowing::mkRelease && button == windowing::mbLeft)
    action = LeftAction;
  else if (kind == windowing::mkRelease && button == windowing::mbRight)
    action = RightAction;
  else if (kind == windowing::mkDoubleClick && button == windowing::mbLeft)
    action = DoubleClickAction;
}

void TInputMappingClass::WheelAction(TPlayerAction& action, uint32_t shift, int32_t delta, int64_t position) {
  action = TPlayerAction{};
  if (!WheelEnabled || delta == 0) return;
  if ((shift & 15) == windowing::ssCtrl) {
    action.Code = delta < 0 ? acNextSlide : acPrevSlide;
    return;
  }
  const int64_t target = position - int64_t(delta) * kWheelStepMs;
  if (target < 0) return;
  action.Code = acSeek;
  action.Argument = int32_t(std::min<int64_t>(target, INT32_MAX));
}

}  // namespace player
