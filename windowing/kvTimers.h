// Timers that never call back on a worker thread: a thread timer's worker
// only measures time and posts a tick to an event list (the application),
// which runs it on the main thread; the process-wide multi-timer serves any
// number of interval callbacks from one such timer; objects keep theirs in
// small slots.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/kvEventList.h"
#include "foundation/kvMonitors.h"

namespace windowing {

using TNotifyEvent = foundation::TMethod<void(foundation::TRefObject* sender)>;

class TCustomTimer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCustomTimer)
  void Dispose() override;
  virtual void SetEnabled(bool enabled);
  virtual void SetInterval(uint32_t ms);
  virtual void SetOnTimer(TNotifyEvent method);
  virtual void Changed() {}
  bool Enabled() const { return FEnabled; }
  uint32_t Interval() const { return FInterval; }
  TNotifyEvent OnTimer() const { return FOnTimer; }

 protected:
  uint32_t FInterval = 1000;
  bool FEnabled = false;
  TNotifyEvent FOnTimer;
};

class TThreadTimer;

class TTimeMonitor : public foundation::TActiveMonitor {
 public:
  QEL_CLASSNAME(TTimeMonitor)
  TTimeMonitor();
  void Dispose() override;
  void Execute();

  foundation::TEvent* FWake = nullptr;
  foundation::TMethod<void()> FTick;
  bool FEnabled = false;
  int32_t FInterval = 0;
};

class TThreadTimer : public TCustomTimer {
 public:
  QEL_CLASSNAME(TThreadTimer)
  // A tick id of -1 takes a fresh id of the list; a stop id of -1 means none.
  TThreadTimer(foundation::TPostEventList* list, int32_t stopId, int64_t tickId);
  void Dispose() override;
  void Changed() override;
  void StopThread();
  bool TickPending();
  bool HasWorker() const { return FWorker != nullptr; }
  uint32_t TickId() const { return FTickId; }

 private:
  void PostTick();
  void HandleTimerEvent(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param);
  TTimeMonitor* FWorker = nullptr;
  foundation::TPostEventList* FEventList = nullptr;
  uint32_t FTickId = 0;
  int32_t FStopId = -1;
  std::atomic<bool> FTickPending{false};
};

class TTimerEvent : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TTimerEvent)
  uint32_t Interval = 0;
  uint32_t Param = 0;
  TNotifyEvent Callback;
  int32_t Ticks = 0;
  int32_t Missed = 0;
};

class TMultiTimerEvent : public TTimerEvent {
 public:
  QEL_CLASSNAME(TMultiTimerEvent)
  int32_t UseCount = 0;
  uint32_t StartTime = 0;
  uint32_t NextDue = 0;
  bool Removed = false;  // its owner removed it while a tick held it
};

class TMultiTimer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMultiTimer)
  TMultiTimer();
  void Dispose() override;
  TMultiTimerEvent* Add(TNotifyEvent method, uint32_t interval, uint32_t param);
  void DropUse(TMultiTimerEvent* event);
  void OnTick(foundation::TRefObject* sender);
  TCustomTimer* Timer() const { return FTimer; }
  int32_t EventCount() const { return static_cast<int32_t>(FEvents.size()); }
  int32_t NextDue() const { return FNextDue; }

 private:
  TCustomTimer* FTimer = nullptr;
  std::vector<TMultiTimerEvent*> FEvents;
  int32_t FNextDue = -1;
};

struct TTimerRec {
  TMultiTimerEvent* Handle = nullptr;
  TNotifyEvent Callback;
  int32_t Interval = 0;
  uint32_t Param = 0;
};

// The timer the multi-timer and the forms run on (the application fills it).
using TTimerFactory = TCustomTimer* (*)();
extern TTimerFactory TimerFactory;

TMultiTimerEvent* AddTimer(TNotifyEvent method, int32_t interval, uint32_t param);
void RemoveTimer(TMultiTimerEvent*& handle);
void StopTimer(TTimerRec& slot);
bool IsTimerActive(const TTimerRec& slot);
void SetTimerEnabled(TTimerRec& slot, bool on);
void RestartTimer(TTimerRec& slot);
void SetTimerCallback(TTimerRec& slot, TNotifyEvent method);
void SetTimerInterval(TTimerRec& slot, int32_t ms);

// The process-wide multi-timer (none before the first AddTimer).
TMultiTimer* GetMultiTimer();
// Unit end: frees the multi-timer (asserting that no event is left).
void DoneTimers();

// A timer on the calling thread's queue timers: its ticks arrive as
// WM_TIMER inside the message loop, so under a manual clock they come
// exactly when virtual time passes. InstallQueueTimerFactory makes it the
// TimerFactory (tests); the previous factory is answered.
class TQueueTimer : public TCustomTimer {
 public:
  QEL_CLASSNAME(TQueueTimer)
  void Dispose() override;
  void Changed() override;
  void Fire();

 private:
  uintptr_t FId = 0;
};
TTimerFactory InstallQueueTimerFactory();

}  // namespace windowing
