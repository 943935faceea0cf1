// Event lists: a thread-safe registry of handler methods keyed by event id,
// and the posting layer on top of it that runs events on the owner thread,
// queued (post) or while the sender waits (send).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"

namespace foundation {

using foundation::TRefObject;

// A handler: (Sender, event id, parameter object), compared as a pair (code, object).
using TEventHandler = foundation::TMethod<void(TRefObject* sender, uint32_t id, TRefObject* param)>;

class TCustomEventList : public TRefObject {
 public:
  QEL_CLASSNAME(TCustomEventList)
  virtual uint32_t AllocateId() = 0;
  virtual void AddHandler(uint32_t id, TEventHandler method) = 0;
  virtual void RemoveHandler(uint32_t id, TEventHandler method) = 0;
  virtual void Dispatch(TRefObject* sender, uint32_t id, TRefObject* param) = 0;
};

// One registration; the bucket chain holds one reference.
class TEventListItem : public TRefObject {
 public:
  QEL_CLASSNAME(TEventListItem)
  TEventListItem* Next = nullptr;
  uint32_t Id = 0;
  TEventHandler Method;
};

class TEventList : public TCustomEventList {
 public:
  QEL_CLASSNAME(TEventList)
  // The bucket count is clamped to 1..4096; the first id handed out is firstId.
  TEventList(int32_t bucketCount, uint32_t firstId);
  void Dispose() override;

  uint32_t AllocateId() override;
  void AddHandler(uint32_t id, TEventHandler method) override;
  void RemoveHandler(uint32_t id, TEventHandler method) override;
  // Every method registered for id, oldest registration first, outside the
  // lock; a handler removed meanwhile is not called. The parameter is not freed.
  void Dispatch(TRefObject* sender, uint32_t id, TRefObject* param) override;
  virtual void DispatchChain(TEventListItem* item, TRefObject* sender, uint32_t id, TRefObject* param);
  virtual TEventListItem* GetBucket(uint32_t id);
  virtual void SetBucket(uint32_t id, TEventListItem* item);
  virtual void Clear();
  virtual void ReleaseId(uint32_t id);

  // AllocateId, then AddHandler: the id.
  uint32_t RegisterHandler(TEventHandler method);

  int32_t BucketCount() const { return FBucketCount; }
  // The bucket array's current length (grows on demand up to the bucket count).
  int32_t BucketArrayLength();

 protected:
  // Guards the handler buckets and the free-id stack; handlers run outside it.
  foundation::TCriticalSection* FLock = nullptr;

 private:
  std::vector<TEventListItem*> FBuckets;
  int32_t FBucketCount = 1;
  foundation::TInterlockedCounter* FIdCounter = nullptr;
  std::vector<uint32_t> FFreeIds;
  int32_t FFreeCount = 0;
};

// The registry with cross-thread delivery.
class TPostEventList : public TEventList {
 public:
  QEL_CLASSNAME(TPostEventList)
  using TEventList::TEventList;
  // Queues the event; the parameter passes to the list.
  virtual void Post(uint32_t id, TRefObject* param) = 0;
  // Runs the event on the owner thread and returns after it ran; the caller
  // keeps the parameter. False when it could not be delivered.
  virtual bool Send(uint32_t id, TRefObject* param) = 0;
};

// ---- notifier chains (shared with the drawn controls) ----

class TNotifyItem : public TRefObject {
 public:
  QEL_CLASSNAME(TNotifyItem)
  TNotifyItem* Next = nullptr;
  virtual void Notify(uint32_t code, void* param) {}
};

using TNotifyMethod = foundation::TMethod<void(uint32_t code, void* param)>;

class TCallbackNotifyItem : public TNotifyItem {
 public:
  QEL_CLASSNAME(TCallbackNotifyItem)
  TNotifyMethod Method;
  void Notify(uint32_t code, void* param) override {
    if (Method) Method(code, param);
  }
};

// Pushes the item at the head (an item is required).
void AddNotifyItem(TNotifyItem* item, TNotifyItem*& head);
// Unlinks the item and clears its link: true when it was found.
bool RemoveNotifyItem(TNotifyItem* item, TNotifyItem*& head);
// Notify on every item in the order they were added (the tail first).
void NotifyChain(TNotifyItem* head, uint32_t code, void* param);

class TPostEventListEx;

// A notifier of a posting list: code 1 before and 2 after each processed event.
class TEventNotifier : public TCallbackNotifyItem {
 public:
  QEL_CLASSNAME(TEventNotifier)
  // Links itself into the owner's chain.
  TEventNotifier(TPostEventListEx* owner, TNotifyMethod method);
  void Dispose() override;
  TPostEventListEx* Owner() const { return FOwner; }

 private:
  friend class TPostEventListEx;
  TPostEventListEx* FOwner = nullptr;
};

// A queued event.
class TEventItem : public TRefObject {
 public:
  QEL_CLASSNAME(TEventItem)
  int32_t Ticket = 0;
  uint32_t Id = 0;
  TRefObject* Param = nullptr;             // owned unless a sender waits for it
  foundation::TEvent* WaitEvent = nullptr;  // the shared send event of a waiting sender
  TEventItem* Next = nullptr;
};

class TPostEventListEx : public TPostEventList {
 public:
  QEL_CLASSNAME(TPostEventListEx)
  TPostEventListEx(int32_t bucketCount, uint32_t firstId);
  void Dispose() override;

  // True on the owner thread (the main thread).
  virtual bool IsOwnerThread();
  // Asks the owner thread to process the ticket: true when it will.
  virtual bool WakeUp(int32_t ticket) = 0;

  void Post(uint32_t id, TRefObject* param) override;
  bool Send(uint32_t id, TRefObject* param) override;
  // On the owner thread: runs the queued event with that ticket.
  bool ProcessPosted(int32_t ticket);
  // Runs queued events from the front until the queue is empty.
  void ProcessAllPosted();

  int32_t QueuedCount();
  TNotifyItem*& Notifiers() { return FNotifiers; }
  // The ticket the next queued event gets (tests start it near the wrap).
  void SetNextTicket(int32_t ticket);

 protected:
  // Queues the event and answers its ticket.
  int32_t QueueEvent(uint32_t id, TRefObject* param, bool atFront, foundation::TEvent* waitEvent = nullptr);
  // Takes the item with that ticket out of the queue (none: nullptr).
  TEventItem* TakeItem(int32_t ticket);

 private:
  // Guards the queue and the ticket counter; a leaf (wake-ups and handlers
  // run outside it).
  foundation::TCriticalSection* FQueueLock = nullptr;
  // Serialises Send from other threads: one waits on FSendEvent at a time.
  // Taken before FQueueLock.
  foundation::TSafeCriticalSection* FSendLock = nullptr;
  foundation::TEvent* FSendEvent = nullptr;
  int32_t FTicket = 0;
  TEventItem* FHead = nullptr;
  TEventItem* FTail = nullptr;
  TNotifyItem* FNotifiers = nullptr;
};

}  // namespace foundation
