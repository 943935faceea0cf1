// The message queue of one worker thread: any thread posts (the queue takes
// the object) or sends (the sender waits until the owner thread handled it);
// the owner drains the queue when it chooses.
#pragma once

#include <cstdint>
#include <deque>

#include "foundation/kpThreads2.h"
#include "foundation/kvEventList.h"

namespace foundation {

// One queued message. A posted message holds one reference (the queue's,
// then the processor's); a sent one two (the queue's and the sender's).
class TMessageItem : public TRefObject {
 public:
  QEL_CLASSNAME(TMessageItem)
  TMessageItem(uint32_t id, TRefObject* param, bool withEvent);
  void Dispose() override;
  // Releases a waiting sender, then this reference.
  void Complete();

  TEvent* Event = nullptr;  // sends only
  uint32_t Id = 0;
  TRefObject* Param = nullptr;  // owned unless the sender takes it back
};

// Called first for every message; Handled keeps the registry's handlers from running.
using TMessageHandler = TMethod<void(TRefObject* sender, uint32_t id, TRefObject* param, bool& handled)>;

class TThreadEventList : public TPostEventList {
 public:
  QEL_CLASSNAME(TThreadEventList)
  TThreadEventList();
  void Dispose() override;

  void Open();
  bool IsClosed();
  // The number of queued messages (0 when closed).
  int32_t QueuedCount();
  // Releases every waiting sender and drops every queued message.
  void Close();

  // Queues a message that owns param; a closed list frees param at once.
  void Post(uint32_t id, TRefObject* param) override;
  // Queues a message and waits without limit until it was handled or the
  // list was closed; param is never freed by the list. False when the list
  // was closed before the message could be queued.
  bool Send(uint32_t id, TRefObject* param) override;
  // The oldest message, removed from the queue; false when none or closed.
  bool TakeNext(TMessageItem*& item);
  // The owner thread's drain loop: returns when the queue is empty.
  void ProcessMessages();
  void Dispatch(TRefObject* sender, uint32_t id, TRefObject* param) override;

  // Called under the queue lock each time a message was queued; must not block.
  virtual void MessageQueued(bool isSend) {}

  TMessageHandler Handler;

 private:
  // Guarded by FQueueLock: the queue (nullptr once closed), one reference per
  // item. Handlers run outside the lock; MessageQueued runs inside it.
  std::deque<TMessageItem*>* FQueue = nullptr;
  TSafeCriticalSection* FQueueLock = nullptr;
};

}  // namespace foundation
