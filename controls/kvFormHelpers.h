// Two companions of every drawn form: the desktop change hook, which tells
// its owners that the input desktop was switched (after a lock screen, say)
// so that forms repaint everything, and the position keeper, which puts a
// form back at its normal bounds when it leaves the maximised state.
#pragma once

#include <cstdint>

#include "foundation/FloatGeometry.h"
#include "foundation/kpThreads2.h"
#include "windowing/kvApplication.h"
#include "windowing/kvEvents.h"

namespace windowing {
class TKvForm;
}

namespace controls {

class TDesktopChangeHook;
using TDesktopChangeEvent = foundation::TMethod<void(TDesktopChangeHook* hook)>;

class TDesktopChangeHook : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDesktopChangeHook)
  // The first hook installs the system hook; each joins the chain at its head.
  TDesktopChangeHook();
  void Dispose() override;
  TDesktopChangeHook* Next = nullptr;
  TDesktopChangeEvent OnChange;
};

// Unit end: removes the system hook and forgets the event id.
void DoneDesktopChangeHooks();

class TFormPosHelper : public windowing::TEventHandler {
 public:
  QEL_CLASSNAME(TFormPosHelper)
  explicit TFormPosHelper(windowing::TKvForm* form);
  void Dispose() override;
  void HandleEvent(foundation::TRefObject* sender, int32_t tag, foundation::TRefObject* data) override;

  windowing::TKvForm* Form = nullptr;  // the form owns us; cleared when it goes
  foundation::TRect NormalBounds;
  int32_t LastState = 0;

 private:
  void RunRestore(void* ptr, int32_t value, foundation::TRefObject* obj);
  // The restore waits until the platform has applied the state change, which
  // would otherwise move the window again after it.
  foundation::TRef<windowing::TCallHandle> FRestore;
  foundation::TRect FRestoreTo;
};

}  // namespace controls
