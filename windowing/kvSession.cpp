#include "windowing/kvSession.h"

#include "foundation/SysLock.h"
#include "foundation/kpExceptions.h"
#include "windowing/kvApplication.h"

namespace windowing {

namespace pw = platform::window;
using foundation::MethodOf;

namespace {
constexpr uint32_t WTS_SESSION_LOCK = 7, WTS_SESSION_UNLOCK = 8, NOTIFY_FOR_THIS_SESSION = 0;
foundation::TCriticalSection* g_lock = nullptr;
TSessionManager* g_manager = nullptr;
using RegisterFn = bool (*)(HWND, uint32_t);
using UnregisterFn = bool (*)(HWND);
}  // namespace

TSessionManager::TSessionManager() {
  FLibrary = pw::optionalLibraryPresent("WtsApi32");
  if (!FLibrary) return;
  auto reg = reinterpret_cast<RegisterFn>(pw::optionalEntry("WtsApi32", "WTSRegisterSessionNotification"));
  if (!reg) return;
  TCustomWinApplication* app = CurrentCustomWinApplication();
  QEL_ASSERT(app != nullptr, "TSessionManager: no application object");
  if (!reg(app->GetHandle(), NOTIFY_FOR_THIS_SESSION)) return;
  HookManager->AddMsgHook(app, {pw::WM_WTSSESSION_CHANGE}, MethodOf<&TSessionManager::HandleSessionChange>(this));
  app->AddHandler(0, MethodOf<&TSessionManager::HandleAppEvent>(this));
  FRegistered = true;
}

void TSessionManager::Dispose() {
  // The unit's end frees the manager without unregistering.
  TRefObject::Dispose();
}

void TSessionManager::HandleSessionChange(HWND, TWndMessage& msg, bool&) {
  if (msg.Msg != pw::WM_WTSSESSION_CHANGE) return;
  if (msg.WParam == WTS_SESSION_LOCK) FLocked = true;
  if (msg.WParam == WTS_SESSION_UNLOCK) FLocked = false;
}

void TSessionManager::HandleAppEvent(foundation::TRefObject*, uint32_t id, foundation::TRefObject*) {
  QEL_ASSERT(id == 0, "TSessionManager: another event");
  Unregister();
}

void TSessionManager::Unregister() {
  if (FRegistered) {
    TCustomWinApplication* app = CurrentCustomWinApplication();
    if (auto unreg = reinterpret_cast<UnregisterFn>(pw::optionalEntry("WtsApi32", "WTSUnRegisterSessionNotification")))
      unreg(app ? app->GetHandle() : 0);
    if (app) {
      HookManager->RemoveMsgHook(app, {pw::WM_WTSSESSION_CHANGE},
                                 MethodOf<&TSessionManager::HandleSessionChange>(this));
      app->RemoveHandler(0, MethodOf<&TSessionManager::HandleAppEvent>(this));
    }
    FRegistered = false;
  }
  FLibrary = false;
}

bool IsSessionLocked() {
  if (!g_lock) InitSession();
  g_lock->Enter();
  if (!g_manager) {
    try {
      g_manager = new TSessionManager;
    } catch (...) {
      g_lock->Leave();
      throw;
    }
  }
  const bool locked = g_manager->Locked();
  g_lock->Leave();
  return locked;
}

void InitSession() {
  if (!g_lock) g_lock = new foundation::TCriticalSection;
}

void DoneSession() {
  if (!g_lock) return;
  g_lock->Enter();
  foundation::FreeAndNil(g_manager);
  g_lock->Leave();
}

}  // namespace windowing
