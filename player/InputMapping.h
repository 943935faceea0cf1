// The player's input mapping: keys, mouse buttons and the wheel turned into
// player actions, built from the show's options each time a show is
// loaded. Main thread only.
#pragma once

#include <array>
#include <cstdint>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "player/MouseMonitor.h"
#include "player/PlayerAction.h"

namespace player {

// One key binding; the bindings of one key form a chain, newest first.
class TKeyMap : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKeyMap)
  foundation::TRef<TKeyMap> Next;
  int32_t Mask = 0;   // the modifier bits that must match (1 Windows key, 2 Shift, 4 Alt, 8 Ctrl)
  int32_t Value = 0;  // the required value of those bits
  int32_t Kind = 0;   // the key event kind (1 = key pressed)
  TPlayerAction Action;
};

// Key codes the mapping binds.
enum : int32_t {
  vkPause = 19,
  vkEscape = 27,
  vkSpace = 32,
  vkPageUp = 33,
  vkPageDown = 34,
  vkEnd = 35,
  vkHome = 36,
  vkLeft = 37,
  vkUp = 38,
  vkRight = 39,
  vkDown = 40,
  vkP = 80,
  vkF1 = 112,
  vkBrowserBack = 166,
  vkBrowserForward = 167,
  vkMediaNextTrack = 176,
  vkMediaPrevTrack = 177,
  vkMediaStop = 178,
  vkMediaPlayPause = 179,
};

class TInputMappingClass : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TInputMappingClass)
  static constexpr int32_t kKeyCount = 256;
  // Milliseconds the plain wheel seeks per notch.
  static constexpr int32_t kWheelStepMs = 700;

  // Builds the mapping from the project's options (none given: the
  // defaults). The move detector reads the given clock.
  explicit TInputMappingClass(const foundation::TIniFile* projectIni, TMsClock clock = DefaultMsClock());
  void Dispose() override;

  // The binding for a key event, or nil; codes outside 0..255 give nil.
  TKeyMap* FindKey(uint32_t shift, int32_t key, int32_t kind);
  // The action of a mouse event (code 0 when none).
  void MouseAction(TPlayerAction& action, uint32_t shift, int32_t x, int32_t y, int32_t button, int32_t kind);
  // The action of a wheel turn of delta notches at show position ms (code 0
  // when none): with exactly Ctrl held, a turn toward the user (negative)
  // is the next slide and one away from the user the previous slide;
  // otherwise a seek by 700 ms per notch, backward for a positive delta,
  // and nothing when that lands before the show's start or the show locks
  // the wheel.
  void WheelAction(TPlayerAction& action, uint32_t shift, int32_t delta, int64_t position);

  std::array<foundation::TRef<TKeyMap>, kKeyCount> Keys;
  TPlayerAction LeftAction, RightAction, DoubleClickAction;
  foundation::TRef<TMouseMoveDetector> MoveDetector;
  bool PermitControl = true;
  bool ScreenSaver = false;
  bool WheelEnabled = true;
  foundation::TRef<TKeyMap> ExitBinding;

 private:
  void Bind(int32_t key, int32_t code, int32_t argument = 0, int32_t value = 0);
};

// The action of a mouse-option label ("Exit", "Next slide", "Prev. slide",
// "Help", "Pause", "Go to first"); any other text gives none.
TPlayerAction MouseLabelAction(const std::u16string& label);

}  // namespace player
