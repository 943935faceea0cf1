#include "foundation/kvThreadEventList.h"

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
  FQueueLock->Enter();
  if (!FQueue) FQueue = new std::deque<TMessageItem*>;
  FQueueLock->Leave();
}

bool TThreadEventList::IsClosed() {
  FQueueLock->Enter();
  const bool closed = FQueue == nullptr;
  FQueueLock->Leave();
  return closed;
}

int32_t TThreadEventList::QueuedCount() {
  FQueueLock->Enter();
  const auto n = FQueue ? static_cast<int32_t>(FQueue->size()) : 0;
  FQueueLock->Leave();
  return n;
}

void TThreadEventList::Close() {
  FQueueLock->Enter();
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
  FQueueLock->Leave();
}

void TThreadEventList::Post(uint32_t id, TRefObject* param) {
  if (IsClosed()) {
    FreeObj(param);
    return;
  }
  auto* item = new TMessageItem(id, param, false);
  FQueueLock->Enter();
  if (FQueue) {
    FQueue->push_back(item);
    try {
      MessageQueued(false);
    } catch (...) {
      FQueueLock->Leave();
      throw;
    }
    FQueueLock->Leave();
    return;
  }
  FQueueLock->Leave();
  item->Free();
}

bool TThreadEventList::Send(uint32_t id, TRefObject* param) {
  if (IsClosed()) return false;
  auto* item = new TMessageItem(id, param, true);
  item->_AddRef();  // the sender's
  bool queued = false;
  FQueueLock->Enter();
  if (FQueue) {
    FQueue->push_back(item);
    queued = true;
    try {
      MessageQueued(true);
    } catch (...) {
      FQueueLock->Leave();
      throw;
    }
  } else {
    FreeAndNil(item->Event);
    item->_Release();  // the queue's
  }
  FQueueLock->Leave();
  if (item->Event) item->Event->WaitFor(platform::os::INFINITE);
  item->Param = nullptr;  // the caller keeps its object
  item->Free();
  return queued;
}

bool TThreadEventList::TakeNext(TMessageItem*& item) {
  item = nullptr;
  FQueueLock->Enter();
  if (FQueue && !FQueue->empty()) {
    item = FQueue->front();
    FQueue->pop_front();
  }
  FQueueLock->Leave();
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
