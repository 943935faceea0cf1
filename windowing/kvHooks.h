// The process-wide hook manager: window procedures ask it, before and after
// their own handling, to run the hook methods other code registered for
// their owner object; it also hands out private message numbers.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/kpThreads2.h"
#include "windowing/kvWndAPI.h"

namespace windowing {

using TMsgHookMethod = foundation::TMethod<void(HWND wnd, TWndMessage& msg, bool& handled)>;
using TAfterHookMethod = foundation::TMethod<void(HWND wnd, TWndMessage& msg)>;

class TMsgHook : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMsgHook)
  TMsgHook* Next = nullptr;
  foundation::TRefObject* Owner = nullptr;
  uint32_t Msg = 0;
  TMsgHookMethod Method;      // message and all-message hooks
  TAfterHookMethod After;     // after-hooks
};

class THookManager : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(THookManager)
  virtual int32_t AllocateMessage() = 0;
  virtual int32_t RegisterMessageName(const std::u16string& name) = 0;
  virtual void AddAllHook(foundation::TRefObject* owner, TMsgHookMethod method) = 0;
  virtual void RemoveAllHook(foundation::TRefObject* owner, TMsgHookMethod method) = 0;
  virtual void AddMsgHook(foundation::TRefObject* owner, const std::vector<uint32_t>& msgs, TMsgHookMethod method) = 0;
  virtual void RemoveMsgHook(foundation::TRefObject* owner, const std::vector<uint32_t>& msgs,
                             TMsgHookMethod method) = 0;
  virtual void CallBefore(foundation::TRefObject* owner, HWND wnd, TWndMessage& msg, bool& handled) = 0;
  virtual void AddAfterHook(foundation::TRefObject* owner, TAfterHookMethod method) = 0;
  virtual void RemoveAfterHook(foundation::TRefObject* owner, TAfterHookMethod method) = 0;
  virtual void CallAfter(foundation::TRefObject* owner, HWND wnd, TWndMessage& msg) = 0;
};

class TPrivateHookManager : public THookManager {
 public:
  QEL_CLASSNAME(TPrivateHookManager)
  TPrivateHookManager();
  void Dispose() override;
  int32_t AllocateMessage() override;
  int32_t RegisterMessageName(const std::u16string& name) override;
  void AddAllHook(foundation::TRefObject* owner, TMsgHookMethod method) override;
  void RemoveAllHook(foundation::TRefObject* owner, TMsgHookMethod method) override;
  void AddMsgHook(foundation::TRefObject* owner, const std::vector<uint32_t>& msgs, TMsgHookMethod method) override;
  void RemoveMsgHook(foundation::TRefObject* owner, const std::vector<uint32_t>& msgs, TMsgHookMethod method) override;
  void CallBefore(foundation::TRefObject* owner, HWND wnd, TWndMessage& msg, bool& handled) override;
  void AddAfterHook(foundation::TRefObject* owner, TAfterHookMethod method) override;
  void RemoveAfterHook(foundation::TRefObject* owner, TAfterHookMethod method) override;
  void CallAfter(foundation::TRefObject* owner, HWND wnd, TWndMessage& msg) override;

 private:
  struct TUserMsgInfo {
    std::u16string Name;
    int32_t Msg = 0;
  };
  // Guards the message tables below (FMessages, FNextMsg, FNames) and the hooks.
  foundation::TCriticalSection* FLock = nullptr;
  std::vector<TUserMsgInfo> FMessages;  // newest last
  int32_t FNextMsg = 5120;              // WM_USER + 0x1000
  std::vector<std::pair<std::u16string, int32_t>> FNames;  // sorted by name
  TMsgHook* FBuckets[256] = {};
  TMsgHook* FAllHooks = nullptr;
  TMsgHook* FAfterHooks = nullptr;
};

extern TPrivateHookManager* HookManager;
// Unit start and end: creates and frees the global manager.
void InitHooks();
void DoneHooks();

}  // namespace windowing
