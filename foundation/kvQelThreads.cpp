#include "foundation/kvQelThreads.h"

#include "foundation/kpLog.h"

namespace foundation {

// ---- TQelThread ----

TQelThread::TQelThread() : TThread(u"") {
  FEventList = new TThreadEventList;
  FEventList->Handler = MethodOf<&TQelThread::HandleMessage>(this);
}

void TQelThread::Dispose() {
  TThread::Dispose();
  // A worker that was given up may still drain its list: the list stays, with
  // this object, which the give-up keeps for the life of the process.
  if (!Killed()) FreeAndNil(FEventList);
}

void TQelThread::Execute() {
  BeforeRun();
  while (!Terminated()) Step();
  AfterRun();
}

void TQelThread::Terminate() {
  if (FEventList) FEventList->Close();
  TThread::Terminate();
}

bool TQelThread::Start() {
  const bool started = TThread::Start();
  FStarted.store(started);
  return started;
}

void TQelThread::Stop() {
  Terminate();
  WaitForEnd();
}

// ---- TKillThread ----

void DisposeReleasedObject(TRefObject* obj) {
  if (!obj) return;
  if (auto* monitor = dynamic_cast<TActiveMonitor*>(obj)) monitor->WaitFinished();
  obj->Free();
}

TKillThread::TKillThread() {
  FPending = new std::deque<TRefObject*>;
  Run(MethodOf<&TKillThread::Execute>(this), false);
}

void TKillThread::Dispose() {
  QEL_ASSERT(!FPending || FPending->empty(), "TKillThread: objects still pending at disposal");
  delete FPending;
  FPending = nullptr;
  TActiveMonitor::Dispose();
}

void TKillThread::Add(TRefObject* obj) {
  Acquire();
  try {
    if (TerminateRequested())
      DisposeReleasedObject(obj);
    else
      FPending->push_front(obj);
  } catch (...) {
    Unlock();
    throw;
  }
  Unlock();
}

int32_t TKillThread::PendingCount() {
  Acquire();
  const auto n = static_cast<int32_t>(FPending->size());
  Unlock();
  return n;
}

void TKillThread::Execute() {
  for (;;) {
    Acquire();
    while (!TerminateRequested() && FPending->empty()) Wait();
    if (FPending->empty()) {
      Unlock();
      return;  // terminated, nothing left
    }
    TRefObject* obj = FPending->back();
    FPending->pop_back();
    Unlock();
    // One object whose disposal raises must not stop every later disposal.
    try {
      DisposeReleasedObject(obj);
    } catch (const std::exception& e) {
      GetLog()->Add(u"TKillThread: disposal failed: " + MessageFromUtf8(e.what()));
    } catch (...) {
      GetLog()->Add(u"TKillThread: disposal failed");
    }
  }
}

}  // namespace foundation
