#include "foundation/kvEventList.h"

#include <algorithm>

#include "foundation/kpExceptions.h"

namespace foundation {

using foundation::FreeAndNil;
using foundation::FreeObj;

// ---- TEventList ----

TEventList::TEventList(int32_t bucketCount, uint32_t firstId) {
  FBucketCount = std::clamp(bucketCount, 1, 4096);
  FLock = new foundation::TCriticalSection;
  FIdCounter = new foundation::TInterlockedCounter(static_cast<int32_t>(firstId));
}

void TEventList::Dispose() {
  if (FLock) Clear();
  FreeAndNil(FLock);
  FreeAndNil(FIdCounter);
  TCustomEventList::Dispose();
}

uint32_t TEventList::AllocateId() {
  FLock->Enter();
  if (FFreeCount > 0) {
    const uint32_t id = FFreeIds[--FFreeCount];
    FLock->Leave();
    return id;
  }
  FLock->Leave();
  return static_cast<uint32_t>(FIdCounter->Increment()) - 1;
}

void TEventList::ReleaseId(uint32_t id) {
  FLock->Enter();
  if (FFreeCount >= static_cast<int32_t>(FFreeIds.size())) {
    const size_t capacity = FFreeIds.empty() ? 8 : FFreeIds.size() * 2;
    FFreeIds.resize(capacity);
    if (static_cast<int32_t>(FFreeIds.size()) <= FFreeCount) {
      FLock->Leave();
      foundation::QelAssertFail("TEventList.ReleaseId: the free-id stack cannot grow");
    }
  }
  FFreeIds[FFreeCount++] = id;
  FLock->Leave();
}

uint32_t TEventList::RegisterHandler(TEventHandler method) {
  const uint32_t id = AllocateId();
  AddHandler(id, method);
  return id;
}

TEventListItem* TEventList::GetBucket(uint32_t id) {
  const size_t index = id % static_cast<uint32_t>(FBucketCount);
  return index < FBuckets.size() ? FBuckets[index] : nullptr;
}

void TEventList::SetBucket(uint32_t id, TEventListItem* item) {
  const size_t index = id % static_cast<uint32_t>(FBucketCount);
  if (FBuckets.size() <= index) FBuckets.resize(index + 1, nullptr);
  FBuckets[index] = item;
}

int32_t TEventList::BucketArrayLength() {
  FLock->Enter();
  const auto n = static_cast<int32_t>(FBuckets.size());
  FLock->Leave();
  return n;
}

void TEventList::AddHandler(uint32_t id, TEventHandler method) {
  auto* item = new TEventListItem;
  item->Id = id;
  item->Method = method;
  FLock->Enter();
  item->Next = GetBucket(id);
  SetBucket(id, item);
  FLock->Leave();
}

void TEventList::RemoveHandler(uint32_t id, TEventHandler method) {
  FLock->Enter();
  TEventListItem* head = GetBucket(id);
  TEventListItem* prev = nullptr;
  for (TEventListItem* item = head; item; prev = item, item = item->Next) {
    if (item->Id != id || !(item->Method == method)) continue;
    if (prev) {
      prev->Next = item->Next;
    } else if (item->Next) {
      SetBucket(id, item->Next);
    } else {
      // The bucket's only item: the array shrinks when it is its last entry.
      const size_t index = id % static_cast<uint32_t>(FBucketCount);
      if (index + 1 == FBuckets.size())
        FBuckets.pop_back();
      else
        SetBucket(id, nullptr);
    }
    item->Next = nullptr;
    item->Free();
    break;
  }
  FLock->Leave();
}

void TEventList::Dispatch(TRefObject* sender, uint32_t id, TRefObject* param) {
  FLock->Enter();
  DispatchChain(GetBucket(id), sender, id, param);
}

// Entered with the lock held; leaves it at the deepest level. New items enter
// at the head, so on the way back the oldest matching item is called first.
void TEventList::DispatchChain(TEventListItem* item, TRefObject* sender, uint32_t id, TRefObject* param) {
  while (item && item->Id != id) item = item->Next;
  if (!item) {
    FLock->Leave();
    return;
  }
  item->_AddRef();
  try {
    if (item->Next)
      DispatchChain(item->Next, sender, id, param);
    else
      FLock->Leave();
    // Still in its chain (a removal drops the chain's reference): call it.
    if (item->RefCount() > 1) item->Method(sender, id, param);
  } catch (...) {
    item->Free();
    throw;
  }
  item->Free();
}

void TEventList::Clear() {
  FLock->Enter();
  for (TEventListItem*& head : FBuckets) {
    TEventListItem* item = head;
    head = nullptr;
    while (item) {
      TEventListItem* next = item->Next;
      item->Next = nullptr;
      item->Free();
      item = next;
    }
  }
  FBuckets.clear();
  FLock->Leave();
}

// ---- notifier chains ----

void AddNotifyItem(TNotifyItem* item, TNotifyItem*& head) {
  QEL_ASSERT(item != nullptr, "AddNotifyItem: no item");
  item->Next = head;
  head = item;
}

bool RemoveNotifyItem(TNotifyItem* item, TNotifyItem*& head) {
  for (TNotifyItem** link = &head; *link; link = &(*link)->Next) {
    if (*link == item) {
      *link = item->Next;
      item->Next = nullptr;
      return true;
    }
  }
  return false;
}

void NotifyChain(TNotifyItem* head, uint32_t code, void* param) {
  std::vector<TNotifyItem*> items;
  for (TNotifyItem* item = head; item; item = item->Next) items.push_back(item);
  for (auto it = items.rbegin(); it != items.rend(); ++it) (*it)->Notify(code, param);
}

TEventNotifier::TEventNotifier(TPostEventListEx* owner, TNotifyMethod method) {
  Method = method;
  FOwner = owner;
  if (owner) AddNotifyItem(this, owner->Notifiers());
}

void TEventNotifier::Dispose() {
  if (FOwner) {
    const bool found = RemoveNotifyItem(this, FOwner->Notifiers());
    FOwner = nullptr;
    QEL_ASSERT(found, "TEventNotifier: not in its owner's chain");
  }
  TCallbackNotifyItem::Dispose();
}

// ---- TPostEventListEx ----

TPostEventListEx::TPostEventListEx(int32_t bucketCount, uint32_t firstId) : TPostEventList(bucketCount, firstId) {
  FQueueLock = new foundation::TCriticalSection;
  FSendLock = new foundation::TSafeCriticalSection;
  FSendEvent = new foundation::TEvent;
}

void TPostEventListEx::Dispose() {
  if (FSendLock) {
    FSendLock->Enter();
    FreeAndNil(FSendEvent);
    FSendLock->Leave();
  }
  FreeAndNil(FSendLock);
  FreeAndNil(FQueueLock);
  // Items still queued are not processed here; their references go.
  while (FHead) {
    TEventItem* item = FHead;
    FHead = item->Next;
    if (!item->WaitEvent) FreeObj(item->Param);
    item->Free();
  }
  FTail = nullptr;
  while (FNotifiers) {
    TNotifyItem* item = FNotifiers;
    RemoveNotifyItem(item, FNotifiers);
    if (auto* notifier = dynamic_cast<TEventNotifier*>(item)) notifier->FOwner = nullptr;
  }
  TPostEventList::Dispose();
}

bool TPostEventListEx::IsOwnerThread() { return foundation::IsMainThread(); }

void TPostEventListEx::SetNextTicket(int32_t ticket) {
  FQueueLock->Enter();
  FTicket = ticket;
  FQueueLock->Leave();
}

int32_t TPostEventListEx::QueueEvent(uint32_t id, TRefObject* param, bool atFront, foundation::TEvent* waitEvent) {
  auto* item = new TEventItem;
  item->Id = id;
  item->Param = param;
  item->WaitEvent = waitEvent;
  FQueueLock->Enter();
  const int32_t ticket = FTicket;
  item->Ticket = ticket;
  FTicket = FTicket == 2147483647 ? 0 : FTicket + 1;
  if (atFront) {
    item->Next = FHead;
    FHead = item;
    if (!FTail) FTail = item;
  } else {
    if (FTail)
      FTail->Next = item;
    else
      FHead = item;
    FTail = item;
  }
  FQueueLock->Leave();
  // Only the ticket: once the lock is left the owner may run and free the item.
  return ticket;
}

TEventItem* TPostEventListEx::TakeItem(int32_t ticket) {
  FQueueLock->Enter();
  TEventItem* prev = nullptr;
  TEventItem* item = FHead;
  while (item && item->Ticket != ticket) {
    prev = item;
    item = item->Next;
  }
  if (item) {
    if (prev)
      prev->Next = item->Next;
    else
      FHead = item->Next;
    if (FTail == item) FTail = prev;
    item->Next = nullptr;
  }
  FQueueLock->Leave();
  return item;
}

int32_t TPostEventListEx::QueuedCount() {
  FQueueLock->Enter();
  int32_t n = 0;
  for (TEventItem* item = FHead; item; item = item->Next) ++n;
  FQueueLock->Leave();
  return n;
}

void TPostEventListEx::Post(uint32_t id, TRefObject* param) {
  const int32_t ticket = QueueEvent(id, param, false);
  if (WakeUp(ticket)) return;
  // The owner will not run it: withdraw it and free what it carries.
  TEventItem* taken = TakeItem(ticket);
  if (!taken) return;  // the owner drained it meanwhile
  FreeObj(taken->Param);
  taken->Free();
}

bool TPostEventListEx::Send(uint32_t id, TRefObject* param) {
  if (IsOwnerThread()) {
    Dispatch(this, id, param);
    return true;
  }
  FSendLock->Enter();
  FSendEvent->ResetEvent();
  // The item carries its wait event from the start, so whichever way the
  // owner reaches it (its ticket or a drain of the whole queue) the sender
  // is released.
  const int32_t ticket = QueueEvent(id, param, true, FSendEvent);
  bool delivered = true;
  if (!WakeUp(ticket)) {
    // Nobody will run it: withdraw it so that nothing touches the caller's
    // parameter later, and report the failure.
    if (TEventItem* taken = TakeItem(ticket)) {
      taken->Free();
      delivered = false;
    }
  }
  if (delivered) FSendEvent->WaitFor(platform::os::INFINITE);
  FSendLock->Leave();
  return delivered;
}

bool TPostEventListEx::ProcessPosted(int32_t ticket) {
  TEventItem* item = TakeItem(ticket);
  if (!item) return false;
  NotifyChain(FNotifiers, 1, nullptr);
  try {
    Dispatch(this, item->Id, item->Param);
  } catch (...) {
    // A failing handler ends this dispatch; the sender is still released.
  }
  NotifyChain(FNotifiers, 2, nullptr);
  if (item->WaitEvent) {
    item->Param = nullptr;
    foundation::TEvent* event = item->WaitEvent;
    item->WaitEvent = nullptr;
    event->SetEvent();
  }
  FreeObj(item->Param);
  item->Free();
  return true;
}

void TPostEventListEx::ProcessAllPosted() {
  for (;;) {
    FQueueLock->Enter();
    TEventItem* front = FHead;
    const int32_t ticket = front ? front->Ticket : 0;
    FQueueLock->Leave();
    if (!front) return;
    QEL_ASSERT(ProcessPosted(ticket), "TPostEventListEx.ProcessAllPosted: the front ticket was not found");
  }
}

}  // namespace foundation
