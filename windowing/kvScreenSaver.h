// Screen-saver mode and keeping the display on while a show plays. The base
// object does nothing; the window-layer object holds the screen saver off
// for this process only, so nothing stays changed after the program ends.
#pragma once

#include "foundation/SysObj.h"

namespace windowing {

class TScreenSaverUtils : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TScreenSaverUtils)
  virtual bool EnterScreenSaverMode() { return false; }
  virtual bool KeepDisplayOn() { return false; }
  virtual bool RestoreDisplay() { return false; }
  virtual bool IsSaverRunning() { return false; }
};

class TWinScreenSaverUtils : public TScreenSaverUtils {
 public:
  QEL_CLASSNAME(TWinScreenSaverUtils)
  bool EnterScreenSaverMode() override;
  bool KeepDisplayOn() override;
  bool RestoreDisplay() override;
  bool IsSaverRunning() override;
};

TScreenSaverUtils* GetScreenSaverUtils();
// Frees the current object and installs the given one (none allowed).
void SetScreenSaverUtils(TScreenSaverUtils* utils);
// The process-wide flags of the window-layer object.
bool InScreenSaverMode();
bool KeepingDisplayOn();
// Unit start: installs a TWinScreenSaverUtils. Unit end: undoes what is
// still set (an exception there is swallowed) and installs none.
void InitScreenSaver();
void DoneScreenSaver();

}  // namespace windowing
