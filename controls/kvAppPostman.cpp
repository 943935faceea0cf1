#include "controls/kvAppPostman.h"

#include <algorithm>

#include "foundation/kpExceptions.h"
#include "windowing/kvApplication.h"

namespace controls {

using foundation::TRef;
using foundation::TRefObject;
using postman_detail::TMessageItem;

namespace {
TAppPostman* g_postman = nullptr;  // one reference; set and cleared on the main thread

// The application that will still run posted events.
bool ApplicationAlive(windowing::TApplication* app) {
  if (!app || app->Terminated()) return false;
  auto* win = dynamic_cast<windowing::TCustomWinApplication*>(app);
  return !win || !win->Finalized();
}
}  // namespace

// ---- messages ----

void TMessageItem::BeforeDestruction() {
  if (Posting.load() && !Delivered.load()) Withdrawn.store(true);
  TRefObject::BeforeDestruction();
}

void TMessageItem::Dispose() {
  foundation::TRefObject* data = Data;
  Data = nullptr;
  foundation::FreeObj(data);
  Box.Reset();
  TRefObject::Dispose();
}

// ---- postman ----

void TAppPostman::Dispose() {
  Acquire();
  // Listeners hold the postman, so none is left unless it is torn down by
  // force; unlink those that are, so they never call into a dead object.
  foundation::TNotifyItem** link = &FNotifiers;
  while (*link) {
    foundation::TNotifyItem* item = *link;
    if (dynamic_cast<TPostmanEventNotifier*>(item)) {
      *link = item->Next;
      item->Next = nullptr;
    } else {
      link = &item->Next;
    }
  }
  const bool empty = FPending.empty();
  if (FEventId && FApp && windowing::Application == FApp)
    FApp->RemoveHandler(FEventId, foundation::MethodOf<&TAppPostman::Deliver>(this));
  FEventId = 0;
  FApp = nullptr;
  Unlock();
  QEL_ASSERT(empty, std::string("Invalid Messages List at ") + ClassName() + ".Dispose");
  TMonitor::Dispose();
}

TRef<TAppPostBox> TAppPostman::CreatePostBox(TPostHandler handler) {
  Acquire();
  auto box = TRef<TAppPostBox>::Adopt(new TAppPostBox(this, handler));
  Unlock();
  return box;
}

int32_t TAppPostman::PendingCount() {
  Acquire();
  const auto n = static_cast<int32_t>(FPending.size());
  Unlock();
  return n;
}

uint32_t TAppPostman::EventId() {
  Acquire();
  const uint32_t id = FEventId;
  Unlock();
  return id;
}

windowing::TApplication* TAppPostman::LiveApplication() {
  windowing::TApplication* app = windowing::Application;
  if (!ApplicationAlive(app)) return nullptr;
  if (FApp != app || !FEventId) {
    // A new application (tests make one per case): its own id and handler.
    FApp = app;
    FEventId = app->RegisterHandler(foundation::MethodOf<&TAppPostman::Deliver>(this));
  }
  return app;
}

void TAppPostman::RemovePending(TMessageItem* msg) {
  auto it = std::find(FPending.begin(), FPending.end(), msg);
  if (it != FPending.end()) FPending.erase(it);
}

bool TAppPostman::Post(TAppPostBox* box, int32_t id, TRefObject* data) {
  auto msg = TRef<TMessageItem>::Adopt(new TMessageItem);
  msg->Id = id;
  msg->Data = data;
  msg->Box = TRef<TAppPostBox>::AddRef(box);
  Acquire();
  windowing::TApplication* app = LiveApplication();
  bool posted = false;
  if (app) {
    FPending.push_back(msg.Get());
    // The application's list takes one reference; ours stays until the call
    // has returned, so a refused post can be told apart from a delivered one.
    msg->_AddRef();
    msg->Posting.store(true);
    app->Post(FEventId, msg.Get());
    msg->Posting.store(false);
    posted = !msg->Withdrawn.load();
    if (!posted) RemovePending(msg.Get());
  }
  Unlock();
  // Refused: the caller keeps its data.
  if (!posted) msg->Data = nullptr;
  return posted;
}

bool TAppPostman::Send(TAppPostBox* box, int32_t id, TRefObject* data) {
  auto msg = TRef<TMessageItem>::Adopt(new TMessageItem);
  msg->Id = id;
  msg->Data = data;
  msg->Box = TRef<TAppPostBox>::AddRef(box);
  Acquire();
  windowing::TApplication* app = LiveApplication();
  const uint32_t eventId = FEventId;
  if (app) FPending.push_back(msg.Get());
  Unlock();
  if (!app) return false;
  // Not under the lock: the main thread takes it to deliver.
  app->Send(eventId, msg.Get());
  Acquire();
  RemovePending(msg.Get());
  Unlock();
  return msg->Delivered.load() != 0;
}

void TAppPostman::Notify(uint32_t code) {
  // A snapshot, called outside the lock: a listener repaints, and workers
  // must not wait on the postman meanwhile.
  std::vector<TRef<foundation::TNotifyItem>> items;
  Acquire();
  for (foundation::TNotifyItem* item = FNotifiers; item; item = item->Next)
    items.push_back(TRef<foundation::TNotifyItem>::AddRef(item));
  Unlock();
  // The chain holds the newest first; the oldest listener hears first.
  for (auto it = items.rbegin(); it != items.rend(); ++it) (*it)->Notify(code, nullptr);
}

void TAppPostman::Deliver(TRefObject*, uint32_t, TRefObject* param) {
  auto* msg = dynamic_cast<TMessageItem*>(param);
  if (!msg) return;
  Notify(1);
  try {
    Acquire();
    RemovePending(msg);
    Unlock();
    TPostHandler handler = msg->Box ? msg->Box->Handler() : TPostHandler{};
    if (handler) handler(msg->Id, msg->Data);
    msg->Delivered.store(1);
  } catch (...) {
    msg->Delivered.store(1);
    Notify(2);
    throw;
  }
  Notify(2);
}

// ---- post box ----

TAppPostBox::TAppPostBox(TAppPostman* postman, TPostHandler handler)
    : FPostman(TRef<TAppPostman>::AddRef(postman)), FHandler(handler) {}

void TAppPostBox::Dispose() {
  FHandler = {};
  FPostman.Reset();
  TPostBox::Dispose();
}

TPostHandler TAppPostBox::Handler() {
  Acquire();
  TPostHandler h = FHandler;
  Unlock();
  return h;
}

bool TAppPostBox::Post(int32_t id, TRefObject* data) {
  if (!Handler()) return false;
  return FPostman->Post(this, id, data);
}

bool TAppPostBox::Send(int32_t id, TRefObject* data) {
  if (!Handler()) {
    foundation::FreeObj(data);
    return false;
  }
  return FPostman->Send(this, id, data);
}

bool TAppPostBox::DoPost(int32_t id, TRefObject* item) { return FPostman->Post(this, id, item); }
bool TAppPostBox::DoSend(int32_t id, TRefObject* item) { return FPostman->Send(this, id, item); }

void TAppPostBox::DoClose() { FHandler = {}; }

// ---- notifier ----

TPostmanEventNotifier::TPostmanEventNotifier(TAppPostman* postman, foundation::TNotifyMethod method) {
  QEL_ASSERT(postman != nullptr, "");
  Method = method;
  FPostman = TRef<TAppPostman>::AddRef(postman);
  postman->Acquire();
  foundation::AddNotifyItem(this, postman->FNotifiers);
  postman->Unlock();
}

void TPostmanEventNotifier::Dispose() {
  if (FPostman) {
    FPostman->Acquire();
    const bool found = foundation::RemoveNotifyItem(this, FPostman->FNotifiers);
    FPostman->Unlock();
    QEL_ASSERT(found, "");
    FPostman.Reset();
  }
  Method = {};
  TCallbackNotifyItem::Dispose();
}

// ---- monitor ----

TAppPostMonitor::TAppPostMonitor() {
  if (g_postman) FPostBox = g_postman->CreatePostBox(foundation::MethodOf<&TAppPostMonitor::CallHandleMessage>(this));
}

void TAppPostMonitor::Dispose() {
  if (FPostBox) FPostBox->Close();
  FPostBox.Reset();
  TActiveMonitor::Dispose();
}

void TAppPostMonitor::Terminate() {
  if (FPostBox) FPostBox->Close();
  TActiveMonitor::Terminate();
}

void TAppPostMonitor::Start() { Run(foundation::MethodOf<&TAppPostMonitor::CallExecute>(this), false); }

// ---- unit ----

TAppPostman* AppPostman() { return g_postman; }

void InitAppPostman() {
  if (!g_postman) g_postman = new TAppPostman;
}

void DoneAppPostman() { foundation::FreeAndNil(g_postman); }

}  // namespace controls
