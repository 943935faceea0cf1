#include "windowing/kvTimers.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "foundation/TickClock.h"
#include "foundation/kpExceptions.h"
#include "platform/window/api.h"

namespace windowing {

using foundation::MethodOf;
using foundation::TRefObject;

TTimerFactory TimerFactory = nullptr;

// ---- TCustomTimer ----

void TCustomTimer::Dispose() {
  if (FEnabled) SetEnabled(false);
  TRefObject::Dispose();
}

void TCustomTimer::SetEnabled(bool enabled) {
  if (enabled == FEnabled) return;
  FEnabled = enabled;
  Changed();
}

void TCustomTimer::SetInterval(uint32_t ms) {
  if (ms == FInterval) return;
  FInterval = ms;
  Changed();
}

void TCustomTimer::SetOnTimer(TNotifyEvent method) {
  if (!FOnTimer.Code && !method.Code) return;
  FOnTimer = method;
  Changed();
}

// ---- TTimeMonitor ----

TTimeMonitor::TTimeMonitor() { FWake = new foundation::TEvent; }

void TTimeMonitor::Dispose() {
  foundation::FreeAndNil(FWake);
  TActiveMonitor::Dispose();
}

void TTimeMonitor::Execute() {
  bool ticking = false;
  uint32_t wait = platform::os::INFINITE;
  while (!TerminateRequested()) {
    FWake->WaitFor(wait);
    Lock();
    FWake->ResetEvent();
    if (ticking && FEnabled && wait == static_cast<uint32_t>(FInterval) && FTick) FTick();
    ticking = FEnabled;
    wait = FEnabled ? static_cast<uint32_t>(FInterval) : platform::os::INFINITE;
    Unlock();
  }
}

// ---- TThreadTimer ----

TThreadTimer::TThreadTimer(foundation::TPostEventList* list, int32_t stopId, int64_t tickId) {
  QEL_ASSERT(list != nullptr, "TThreadTimer: no event list");
  FEventList = list;
  FStopId = stopId;
  FTickId = tickId == -1 ? list->AllocateId() : static_cast<uint32_t>(tickId);
  list->AddHandler(FTickId, MethodOf<&TThreadTimer::HandleTimerEvent>(this));
  if (FStopId != -1) list->AddHandler(static_cast<uint32_t>(FStopId), MethodOf<&TThreadTimer::HandleTimerEvent>(this));
}

void TThreadTimer::Dispose() {
  StopThread();
  TCustomTimer::Dispose();
}

void TThreadTimer::Changed() {
  if (!FEventList) return;
  const bool active = FEnabled && FInterval != 0;
  if (!active && !FWorker) return;
  TTimeMonitor* worker = FWorker;
  const bool created = worker == nullptr;
  if (created) {
    worker = new TTimeMonitor;
    worker->FTick = MethodOf<&TThreadTimer::PostTick>(this);
  }
  worker->Lock();
  if (active != worker->FEnabled || (active && static_cast<int32_t>(FInterval) != worker->FInterval))
    worker->FWake->SetEvent();
  worker->FEnabled = active;
  worker->FInterval = static_cast<int32_t>(FInterval);
  worker->Unlock();
  if (created) {
    FWorker = worker;
    worker->Run(MethodOf<&TTimeMonitor::Execute>(worker), false);
  }
}

void TThreadTimer::PostTick() {
  // Worker thread, under the monitor: at most one tick waits at a time.
  if (FTickPending || !FEventList) return;
  FTickPending = true;
  _AddRef();
  FEventList->Post(FTickId, this);
}

bool TThreadTimer::TickPending() { return FTickPending.load(); }

void TThreadTimer::HandleTimerEvent(TRefObject* sender, uint32_t id, TRefObject* param) {
  if (sender != FEventList || !FEventList) return;
  if (id == FTickId && param == this) {
    // The pending flag is cleared however the handler ends, so a raising
    // handler does not stop the timer for good.
    auto clear = [this] {
      if (FWorker) FWorker->Lock();
      FTickPending = false;
      if (FWorker) FWorker->Unlock();
    };
    try {
      if (FEnabled && FOnTimer) FOnTimer(this);
    } catch (...) {
      clear();
      throw;
    }
    clear();
    return;
  }
  if (FStopId != -1 && id == static_cast<uint32_t>(FStopId)) StopThread();
}

void TThreadTimer::StopThread() {
  if (FWorker) {
    TTimeMonitor* worker = FWorker;
    worker->Terminate();
    worker->Lock();
    worker->FTick = {};
    worker->FEnabled = false;
    worker->FWake->SetEvent();
    worker->Unlock();
    worker->WaitFinished();
    FWorker = nullptr;
    worker->Free();
  }
  if (FEventList) {
    if (FStopId != -1)
      FEventList->RemoveHandler(static_cast<uint32_t>(FStopId), MethodOf<&TThreadTimer::HandleTimerEvent>(this));
    FEventList->RemoveHandler(FTickId, MethodOf<&TThreadTimer::HandleTimerEvent>(this));
    FEventList->ReleaseId(FTickId);
    FEventList = nullptr;
  }
}

// ---- TMultiTimer ----

namespace {
TMultiTimer* g_multiTimer = nullptr;
uint32_t Now32() { return static_cast<uint32_t>(foundation::GetTickMs()); }
}  // namespace

TMultiTimer::TMultiTimer() {
  QEL_ASSERT(TimerFactory != nullptr, "TMultiTimer: no timer factory");
  FTimer = TimerFactory();
  FTimer->SetOnTimer(MethodOf<&TMultiTimer::OnTick>(this));
}

void TMultiTimer::Dispose() {
  QEL_ASSERT(FEvents.empty(), "TMultiTimer: events are left");
  foundation::FreeAndNil(FTimer);
  TRefObject::Dispose();
}

TMultiTimerEvent* TMultiTimer::Add(TNotifyEvent method, uint32_t interval, uint32_t param) {
  auto* e = new TMultiTimerEvent;
  e->Interval = interval;
  e->Param = param;
  e->Callback = method;
  e->StartTime = Now32();
  e->NextDue = e->StartTime + interval;
  e->UseCount = 1;
  FEvents.push_back(e);
  if (FTimer->Enabled() && static_cast<int32_t>(static_cast<uint32_t>(FNextDue) - e->NextDue) <= 0) return e;
  // Lowered only: a longer event never slows the events already served.
  FTimer->SetInterval(FTimer->Enabled() ? std::min(FTimer->Interval(), interval) : interval);
  FNextDue = static_cast<int32_t>(e->NextDue);
  FTimer->SetEnabled(true);
  return e;
}

void TMultiTimer::DropUse(TMultiTimerEvent* event) {
  QEL_ASSERT(event != nullptr, "TMultiTimer: dropping a use without an event");
  if (--event->UseCount > 0) return;
  std::erase(FEvents, event);
  if (FEvents.empty()) FTimer->SetEnabled(false);
  event->Free();
}

void TMultiTimer::OnTick(TRefObject*) {
  const uint32_t now = Now32();
  // Every event of this pass is held, so one removed by a callback (its own
  // or another's) lives until the pass ends and the walk stays valid.
  const std::vector<TMultiTimerEvent*> pass = FEvents;
  for (TMultiTimerEvent* e : pass) e->UseCount++;
  std::exception_ptr failure;
  for (TMultiTimerEvent* e : pass) {
    if (e->Removed) continue;
    if (static_cast<int32_t>(e->NextDue - now) > 0) continue;
    int32_t count = 0;
    do {
      ++count;
      e->NextDue += e->Interval;
    } while (static_cast<int32_t>(e->NextDue - now) <= 0);
    e->Missed = count - 1;
    e->Ticks += count;
    try {
      if (e->Callback) e->Callback(e);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  for (TMultiTimerEvent* e : pass) DropUse(e);
  // The next due time and the interval follow the events that remain: the
  // interval goes down to the smallest event interval, never to the jitter
  // of one wake-up, and never up.
  if (!FEvents.empty()) {
    uint32_t minInterval = UINT32_MAX;
    uint32_t nextDue = FEvents.front()->NextDue;
    for (TMultiTimerEvent* e : FEvents) {
      minInterval = std::min(minInterval, e->Interval);
      if (static_cast<int32_t>(e->NextDue - nextDue) < 0) nextDue = e->NextDue;
    }
    FNextDue = static_cast<int32_t>(nextDue);
    if (FTimer->Interval() > minInterval) FTimer->SetInterval(minInterval);
  }
  if (failure) std::rethrow_exception(failure);
}

TMultiTimer* GetMultiTimer() { return g_multiTimer; }

TMultiTimerEvent* AddTimer(TNotifyEvent method, int32_t interval, uint32_t param) {
  if (interval <= 0 || !method) return nullptr;
  if (!g_multiTimer) g_multiTimer = new TMultiTimer;
  return g_multiTimer->Add(method, static_cast<uint32_t>(interval), param);
}

void RemoveTimer(TMultiTimerEvent*& handle) {
  if (!handle) return;
  QEL_ASSERT(g_multiTimer != nullptr, "RemoveTimer: no multi-timer");
  TMultiTimerEvent* e = handle;
  handle = nullptr;
  e->Removed = true;
  g_multiTimer->DropUse(e);
}

void DoneTimers() { foundation::FreeAndNil(g_multiTimer); }

void StopTimer(TTimerRec& slot) {
  if (slot.Handle) RemoveTimer(slot.Handle);
}

bool IsTimerActive(const TTimerRec& slot) { return slot.Handle != nullptr; }

void SetTimerEnabled(TTimerRec& slot, bool on) {
  if (on == IsTimerActive(slot)) return;
  if (!on) {
    RemoveTimer(slot.Handle);
    return;
  }
  if (slot.Callback.Code && slot.Interval != 0) slot.Handle = AddTimer(slot.Callback, slot.Interval, slot.Param);
}

void RestartTimer(TTimerRec& slot) {
  if (!IsTimerActive(slot)) return;
  RemoveTimer(slot.Handle);
  SetTimerEnabled(slot, true);
}

void SetTimerCallback(TTimerRec& slot, TNotifyEvent method) {
  slot.Callback = method;
  RestartTimer(slot);
}

void SetTimerInterval(TTimerRec& slot, int32_t ms) {
  if (ms == slot.Interval) return;
  slot.Interval = ms;
  RestartTimer(slot);
}

// ---- TQueueTimer ----

namespace {
std::unordered_map<uintptr_t, TQueueTimer*>& QueueTimers() {
  static auto* m = new std::unordered_map<uintptr_t, TQueueTimer*>;
  return *m;
}

void QueueTimerProc(platform::window::HWND, uint32_t, uintptr_t id, uint32_t) {
  auto it = QueueTimers().find(id);
  if (it != QueueTimers().end()) it->second->Fire();
}

TCustomTimer* MakeQueueTimer() { return new TQueueTimer; }
}  // namespace

void TQueueTimer::Changed() {
  const bool active = FEnabled && FInterval != 0;
  if (active) {
    const uintptr_t id = platform::window::setTimer(0, FId, FInterval, &QueueTimerProc);
    if (id != FId && FId) QueueTimers().erase(FId);
    FId = id;
    QueueTimers()[FId] = this;
  } else if (FId) {
    platform::window::killTimer(0, FId);
    QueueTimers().erase(FId);
    FId = 0;
  }
}

void TQueueTimer::Fire() {
  if (FEnabled && FOnTimer) FOnTimer(this);
}

void TQueueTimer::Dispose() {
  TCustomTimer::Dispose();
  if (FId) {
    platform::window::killTimer(0, FId);
    QueueTimers().erase(FId);
    FId = 0;
  }
}

TTimerFactory InstallQueueTimerFactory() {
  const TTimerFactory previous = TimerFactory;
  TimerFactory = &MakeQueueTimer;
  return previous;
}

}  // namespace windowing
