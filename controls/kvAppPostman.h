// The application postman: worker threads hand results to the main thread
// through one process-wide post office. Each receiver owns a post box; the
// postman queues the messages and delivers them on the main thread through
// one event id of the application's event list. Listeners (drawn forms) are
// told before (code 1) and after (code 2) every delivery, so whatever a
// delivery changes is painted in one go.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/kvEventList.h"
#include "foundation/kvMonitors.h"

namespace windowing {
class TApplication;
}

namespace controls {

// A post box's receiver: (message id, data). The data stays the message's.
using TPostHandler = foundation::TMethod<void(int32_t id, foundation::TRefObject* data)>;

class TAppPostBox;

namespace postman_detail {
// One message on its way to the main thread.
class TMessageItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMessageItem)
  void Dispose() override;
  // Every Free lands here: a post the application refused releases the
  // message before it was delivered, and the poster learns of it here.
  void BeforeDestruction() override;

  std::atomic<uint8_t> Delivered{0};
  int32_t Id = 0;
  foundation::TRefObject* Data = nullptr;  // one reference
  foundation::TRef<TAppPostBox> Box;
  // Set while a poster waits inside the application's Post.
  std::atomic<bool> Posting{false};
  std::atomic<bool> Withdrawn{false};
};
}  // namespace postman_detail

class TAppPostman : public foundation::TMonitor {
 public:
  QEL_CLASSNAME(TAppPostman)
  void Dispose() override;

  // A new post box delivering to handler.
  foundation::TRef<TAppPostBox> CreatePostBox(TPostHandler handler);
  // The messages queued and not yet delivered.
  int32_t PendingCount();
  // The application event id the postman delivers through (0 until first use).
  uint32_t EventId();

 private:
  friend class TAppPostBox;
  friend class TPostmanEventNotifier;
  bool Post(TAppPostBox* box, int32_t id, foundation::TRefObject* data);
  bool Send(TAppPostBox* box, int32_t id, foundation::TRefObject* data);
  // Under the lock: the application to deliver through, registering the
  // delivery handler with it on first use; nil when there is none or it ended.
  windowing::TApplication* LiveApplication();
  void Deliver(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param);
  void RemovePending(postman_detail::TMessageItem* msg);
  void Notify(uint32_t code);

  foundation::TNotifyItem* FNotifiers = nullptr;             // guarded by the monitor
  std::vector<postman_detail::TMessageItem*> FPending;       // guarded by the monitor; no references
  windowing::TApplication* FApp = nullptr;                   // guarded by the monitor
  uint32_t FEventId = 0;                                     // guarded by the monitor
};

class TAppPostBox : public foundation::TPostBox {
 public:
  QEL_CLASSNAME(TAppPostBox)
  TAppPostBox(TAppPostman* postman, TPostHandler handler);
  void Dispose() override;

  // Queues the message and returns at once. False when the box is closed,
  // there is no application or it has ended; the data then stays with the
  // caller. On success the data belongs to the message.
  bool Post(int32_t id, foundation::TRefObject* data);
  // Queues the message and waits until the main thread delivered it: whether
  // it was. The message, and the data with it, is released on return.
  bool Send(int32_t id, foundation::TRefObject* data);
  TPostHandler Handler();

 protected:
  bool DoPost(int32_t id, foundation::TRefObject* item) override;
  bool DoSend(int32_t id, foundation::TRefObject* item) override;
  void DoClose() override;

 private:
  foundation::TRef<TAppPostman> FPostman;
  TPostHandler FHandler;  // guarded by the box's monitor
};

// A listener in the postman's chain from creation to disposal.
class TPostmanEventNotifier : public foundation::TCallbackNotifyItem {
 public:
  QEL_CLASSNAME(TPostmanEventNotifier)
  TPostmanEventNotifier(TAppPostman* postman, foundation::TNotifyMethod method);
  void Dispose() override;

 private:
  foundation::TRef<TAppPostman> FPostman;
};

// A worker that receives its messages on the main thread through its own
// post box. The owner calls Start once the object is fully built (a worker
// started from the constructor could reach Execute before the derived part
// exists).
class TAppPostMonitor : public foundation::TActiveMonitor {
 public:
  QEL_CLASSNAME(TAppPostMonitor)
  TAppPostMonitor();
  void Dispose() override;
  void Terminate() override;
  virtual void HandleMessage(int32_t id, foundation::TRefObject* data) = 0;
  virtual void Start();
  virtual void Execute() = 0;
  TAppPostBox* PostBox() const { return FPostBox.Get(); }

 private:
  void CallHandleMessage(int32_t id, foundation::TRefObject* data) { HandleMessage(id, data); }
  void CallExecute() { Execute(); }
  foundation::TRef<TAppPostBox> FPostBox;
};

// The process-wide postman (nil outside InitAppPostman .. DoneAppPostman).
TAppPostman* AppPostman();
void InitAppPostman();
// Releases the postman; every message must have been delivered.
void DoneAppPostman();

}  // namespace controls
