#include "foundation/kvThreadEventList.h"

#include <mutex>

namespace foundation {

// ---- TMessageItem ----

TMessageItem::TMessageItem(uint32_t id, TRefObject* param, bool withEvent) : Id(id), Param(param) {
  if (withEvent) Event = new TEvent;
}

void TMessageItem::Dispose() {
  FreeAndNil(Param);
  FreeAndNil(Event);
  TRefObject::Dispose();
}

void TMessageItem::Complete() {
  if (Event) Event->SetEvent();
  Free();
}

// ---- TThreadEventList ----

TThreadEventList::TThreadEventList() : TPostEventList(1024, 1) {
  FQueueLock = new TSafeCriticalSection;
  FQueue = new std::deque<TMessageItem*>;
}

void TThreadEventList::Dispose() {
  if (FQueueLock) Close();
  FreeAndNil(FQueueLock);
  TPostEventList::Dispose();
}

void TThreadEventList::Open() {
  std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
  if (!FQueue) FQueue = new std::deque<TMessageItem*>;
}

bool TThreadEventList::IsClosed() {
  std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
  return FQueue == nullptr;
}

int32_t TThreadEventList::QueuedCount() {
  std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
  return FQueue ? static_cast<int32_t>(FQueue->size()) : 0;
}

void TThreadEventList::Close() {
  std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
  std::deque<TMessageItem*>* queue = FQueue;
  FQueue = nullptr;
  if (queue) {
    for (TMessageItem* item : *queue)
      if (item->Event) item->Event->SetEvent();
    // The queue's references go: posted messages end here with their
    // params; sent ones live on until their senders let go.
    for (TMessageItem* item : *queue) item->Free();
    delete queue;
  }
}

void TThreadEventList::Post(uint32_t id, TRefObject* param) {
  if (IsClosed()) {
    FreeObj(param);
    return;
  }
  // Declared before the guard: a message the closed queue refuses is
  // released (with its param) after the lock is left.
  auto item = TRef<TMessageItem>::Adopt(new TMessageItem(id, param, false));
  std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
  if (!FQueue) return;
  FQueue->push_back(item.Get());
  item.Detach();  // the queue's reference now
  MessageQueued(false);
}

bool TThreadEventList::Send(uint32_t id, TRefObject* param) {
  if (IsClosed()) return false;
  auto item = TRef<TMessageItem>::Adopt(new TMessageItem(id, param, true));  // the sender's
  bool queued = false;
  {
    std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
    if (FQueue) {
      FQueue->push_back(TRef<TMessageItem>::AddRef(item.Get()).Detach());  // the queue's
      queued = true;
      try {
        MessageQueued(true);
      } catch (...) {
        // The queued message still names the caller's param: the sender's
        // reference is given up unreleased, so the item never frees it.
        item.Detach();
        throw;
      }
    } else {
      FreeAndNil(item->Event);
    }
  }
  if (item->Event) item->Event->WaitFor(platform::os::INFINITE);
  item->Param = nullptr;  // the caller keeps its object
  return queued;
}

bool TThreadEventList::TakeNext(TMessageItem*& item) {
  item = nullptr;
  std::lock_guard<TSafeCriticalSection> guard(*FQueueLock);
  if (FQueue && !FQueue->empty()) {
    item = FQueue->front();
    FQueue->pop_front();
  }
  return item != nullptr;
}

void TThreadEventList::ProcessMessages() {
  TMessageItem* item = nullptr;
  while (TakeNext(item)) {
    try {
      Dispatch(this, item->Id, item->Param);
    } catch (...) {
      // No sender may stay blocked: complete, then pass the exception on.
      item->Complete();
      throw;
    }
    item->Complete();
  }
}

void TThreadEventList::Dispatch(TRefObject* sender, uint32_t id, TRefObject* param) {
  bool handled = false;
  if (Handler) {
    try {
      Handler(this, id, param, handled);
    } catch (...) {
      // The handler method's failures are dropped here.
    }
  }
  if (!handled) TPostEventList::Dispatch(this, id, param);
}

}  // namespace foundation
