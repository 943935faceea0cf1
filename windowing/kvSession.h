// Whether the user's session is locked, followed through the session-change
// notifications of the application window when the platform offers them;
// without them the session is never reported locked.
#pragma once

#include "foundation/SysObj.h"
#include "windowing/kvWndAPI.h"

namespace windowing {

class TSessionManager : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TSessionManager)
  TSessionManager();
  void Dispose() override;
  bool Locked() const { return FLocked; }
  bool Registered() const { return FRegistered; }
  void Unregister();

 private:
  void HandleSessionChange(HWND wnd, TWndMessage& msg, bool& handled);
  void HandleAppEvent(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param);
  bool FLocked = false;
  bool FRegistered = false;
  bool FLibrary = false;
};

bool IsSessionLocked();
// Unit start and end: the creation lock; the end frees the manager without
// unregistering.
void InitSession();
void DoneSession();

}  // namespace windowing
