// The player's thread base (a thread with its own message queue running a
// step after the other) and the disposal thread that frees released objects
// away from the main thread.
#pragma once

#include <deque>

#include "foundation/kvMonitors.h"
#include "foundation/kvThreadEventList.h"

namespace foundation {

class TQelThread : public TThread {
 public:
  QEL_CLASSNAME(TQelThread)
  TQelThread();
  void Dispose() override;

  void Execute() override;
  // Closes the event list (queued messages dropped, senders released), then
  // requests the end.
  void Terminate() override;

  virtual void HandleMessage(TRefObject* sender, uint32_t id, TRefObject* param, bool& handled) {}
  virtual void BeforeRun() {}
  virtual void AfterRun() { FStarted.store(false); }
  // One pass of the thread's work; descendants drain the event list here.
  virtual void Step() = 0;
  virtual bool Start();
  // Terminate, then wait for the worker without limit.
  virtual void Stop();

  TThreadEventList* EventList() const { return FEventList; }
  bool Started() const { return FStarted.load(); }

 private:
  TThreadEventList* FEventList = nullptr;
  std::atomic<bool> FStarted{false};
};

// Frees the objects handed to it, oldest first, one at a time, on its own
// worker; an active monitor is freed only after its method has returned.
class TKillThread : public TActiveMonitor {
 public:
  QEL_CLASSNAME(TKillThread)
  TKillThread();
  void Dispose() override;
  // Takes over obj; after Terminate the object is disposed of at once.
  void Add(TRefObject* obj);
  int32_t PendingCount();

 private:
  void Execute();
  std::deque<TRefObject*>* FPending = nullptr;  // newest first
};

// Waits for an active monitor's method, then releases one reference.
void DisposeReleasedObject(TRefObject* obj);

}  // namespace foundation
