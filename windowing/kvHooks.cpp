#include "windowing/kvHooks.h"

#include <algorithm>

#include "foundation/kpExceptions.h"

namespace windowing {

TPrivateHookManager* HookManager = nullptr;

namespace {

void Push(TMsgHook*& head, TMsgHook* hook) {
  hook->Next = head;
  head = hook;
}

// Unlinks the first hook of the chain that matches; false when none does.
template <class Pred>
bool Unlink(TMsgHook*& head, Pred pred) {
  for (TMsgHook** link = &head; *link; link = &(*link)->Next) {
    TMsgHook* h = *link;
    if (!pred(*h)) continue;
    *link = h->Next;
    // A walk that holds this hook still finds its way on through Next.
    h->Free();
    return true;
  }
  return false;
}

// Calls the matching hooks newest first; each is referenced during its call
// and the next link is read after the call, so a hook may remove itself.
template <class Match, class Call>
void Walk(TMsgHook* head, Match match, Call call) {
  TMsgHook* h = head;
  while (h) {
    h->_AddRef();
    try {
      if (match(*h)) call(*h);
    } catch (...) {
      h->Free();
      throw;
    }
    TMsgHook* next = h->Next;
    h->Free();
    h = next;
  }
}

}  // namespace

TPrivateHookManager::TPrivateHookManager() { FLock = new foundation::TCriticalSection; }

void TPrivateHookManager::Dispose() {
  // Hooks still registered are left to their owners.
  FMessages.clear();
  FNames.clear();
  foundation::FreeAndNil(FLock);
  THookManager::Dispose();
}

int32_t TPrivateHookManager::AllocateMessage() {
  FLock->Enter();
  const int32_t msg = FNextMsg++;
  FMessages.push_back(TUserMsgInfo{u"", msg});
  FLock->Leave();
  return msg;
}

int32_t TPrivateHookManager::RegisterMessageName(const std::u16string& name) {
  FLock->Enter();
  auto it = std::lower_bound(FNames.begin(), FNames.end(), name,
                             [](const auto& entry, const std::u16string& key) { return entry.first < key; });
  if (it != FNames.end() && it->first == name) {
    const int32_t msg = it->second;
    FLock->Leave();
    return msg;
  }
  const int32_t msg = FNextMsg++;
  FMessages.push_back(TUserMsgInfo{name, msg});
  FNames.insert(it, {name, msg});
  FLock->Leave();
  return msg;
}

void TPrivateHookManager::AddAllHook(foundation::TRefObject* owner, TMsgHookMethod method) {
  auto* h = new TMsgHook;
  h->Owner = owner;
  h->Method = method;
  Push(FAllHooks, h);
}

void TPrivateHookManager::RemoveAllHook(foundation::TRefObject* owner, TMsgHookMethod method) {
  const bool found =
      Unlink(FAllHooks, [&](const TMsgHook& h) { return h.Owner == owner && h.Method.Code == method.Code; });
  QEL_ASSERT(found, "");
}

void TPrivateHookManager::AddMsgHook(foundation::TRefObject* owner, const std::vector<uint32_t>& msgs,
                                     TMsgHookMethod method) {
  for (uint32_t msg : msgs) {
    auto* h = new TMsgHook;
    h->Owner = owner;
    h->Msg = msg;
    h->Method = method;
    Push(FBuckets[msg & 0xFF], h);
  }
}

void TPrivateHookManager::RemoveMsgHook(foundation::TRefObject* owner, const std::vector<uint32_t>& msgs,
                                        TMsgHookMethod method) {
  for (uint32_t msg : msgs) {
    const bool found = Unlink(FBuckets[msg & 0xFF], [&](const TMsgHook& h) {
      return h.Owner == owner && h.Msg == msg && h.Method.Code == method.Code;
    });
    QEL_ASSERT(found, "UnHook error");
  }
}

void TPrivateHookManager::CallBefore(foundation::TRefObject* owner, HWND wnd, TWndMessage& msg, bool& handled) {
  Walk(
      FAllHooks, [&](const TMsgHook& h) { return h.Owner == owner; },
      [&](TMsgHook& h) { h.Method(wnd, msg, handled); });
  Walk(
      FBuckets[msg.Msg & 0xFF], [&](const TMsgHook& h) { return h.Owner == owner && h.Msg == msg.Msg; },
      [&](TMsgHook& h) { h.Method(wnd, msg, handled); });
}

void TPrivateHookManager::AddAfterHook(foundation::TRefObject* owner, TAfterHookMethod method) {
  auto* h = new TMsgHook;
  h->Owner = owner;
  h->After = method;
  Push(FAfterHooks, h);
}

void TPrivateHookManager::RemoveAfterHook(foundation::TRefObject* owner, TAfterHookMethod method) {
  const bool found =
      Unlink(FAfterHooks, [&](const TMsgHook& h) { return h.Owner == owner && h.After.Code == method.Code; });
  QEL_ASSERT(found, "");
}

void TPrivateHookManager::CallAfter(foundation::TRefObject* owner, HWND wnd, TWndMessage& msg) {
  Walk(
      FAfterHooks, [&](const TMsgHook& h) { return h.Owner == owner; }, [&](TMsgHook& h) { h.After(wnd, msg); });
}

void InitHooks() {
  if (!HookManager) HookManager = new TPrivateHookManager;
}

void DoneHooks() { foundation::FreeAndNil(HookManager); }

}  // namespace windowing
