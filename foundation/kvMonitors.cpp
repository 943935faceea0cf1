#include "foundation/kvMonitors.h"

#include "foundation/SysLock.h"
#include "platform/os/clock.h"

namespace foundation {

namespace {
std::atomic<int32_t> g_runningWorkers{0};
}

// ---- TMonitor ----

TMonitor::TMonitor() {
  FMutex = new TSafeCriticalSection;
  FWaitLock = new TCriticalSection;
  FChanged = new TEvent;
}

void TMonitor::Dispose() {
  FreeAndNil(FMutex);
  FreeAndNil(FWaitLock);
  FreeAndNil(FChanged);
  TRefObject::Dispose();
}

void TMonitor::Lock() {
  FMutex->Enter();
  ++FDepth;
  // The mutex is held once at the system level, however deep the monitor.
  if (FDepth > 1) FMutex->Leave();
  try {
    FChanged->SetEvent();
  } catch (...) {
    if (--FDepth == 0) FMutex->Leave();
    throw;
  }
}

void TMonitor::Unlock() {
  if (--FDepth == 0) FMutex->Leave();
}

void TMonitor::Acquire() { Lock(); }

void TMonitor::Wait() {
  FWaitLock->Enter();
  // Reset while the mutex is still held: only a Lock by another thread after
  // the release below can set it again.
  FChanged->ResetEvent();
  const int32_t depth = FDepth;
  FDepth = 0;
  FMutex->Leave();
  platform::os::yieldThread();
  FChanged->WaitFor(platform::os::INFINITE);
  FWaitLock->Leave();
  FMutex->Enter();
  FDepth = depth;
  FChanged->SetEvent();
}

void TMonitor::SleepUnlocked(uint32_t ms) {
  const int32_t depth = FDepth;
  FDepth = 0;
  FMutex->Leave();
  SysSleep(ms);
  FMutex->Enter();
  FDepth = depth;
  FChanged->SetEvent();
}

// ---- TActiveMonitor ----

bool TActiveMonitor::Run(TActiveMethod method, bool holdMonitor) {
  QEL_ASSERT(static_cast<bool>(method), "TActiveMonitor.Run: no method");
  if (FWorker) return false;
  FState.store(holdMonitor ? 1 : 2);
  auto* worker = new TActiveThread(u"ActiveThread:" + MessageFromUtf8(ClassName()), method);
  if (TActiveThread::StartFor(worker, this)) {
    g_runningWorkers.fetch_add(1);
    return true;
  }
  worker->Free();
  FState.store(0);
  return false;
}

void TActiveMonitor::Acquire() {
  Lock();
  while (FState.load() == 1) Wait();
}

void TActiveMonitor::Terminate() {
  Acquire();
  FTerminateRequested.store(true);
  Unlock();
}

void TActiveMonitor::WaitFinished() {
  Acquire();
  while (FState.load() == 2) Wait();
  Unlock();
}

void TActiveMonitor::Dispose() {
  TMonitor::Dispose();
  if (FWorker) {
    QEL_ASSERT(FWorker->Monitor() == nullptr, "TActiveMonitor.Dispose: the worker still references its monitor");
    FreeAndNil(FWorker);
    g_runningWorkers.fetch_sub(1);
  }
}

// ---- TActiveThread ----

bool TActiveThread::StartFor(TActiveThread* thread, TActiveMonitor* monitor) {
  QEL_ASSERT(thread != nullptr, "TActiveThread.StartFor: no thread");
  QEL_ASSERT(monitor != nullptr, "TActiveThread.StartFor: no monitor");
  QEL_ASSERT(monitor->RefCount() >= 1, "TActiveThread.StartFor: monitor without reference");
  if (!thread->FMethod) return false;
  monitor->_AddRef();
  thread->FMonitor.store(monitor);
  monitor->FWorker = thread;
  if (!thread->Start()) {
    monitor->FWorker = nullptr;
    thread->FMonitor.store(nullptr);
    monitor->_Release();
    return false;
  }
  return true;
}

void TActiveThread::Execute() {
  TActiveMonitor* monitor = FMonitor.load();
  if (!monitor) return;
  bool held = false;
  if (monitor->FState.load() == 1) {
    monitor->Lock();
    monitor->FState.store(2);
    held = true;
  }
  try {
    FMethod();
  } catch (...) {
    // A failing method ends silently; the waiters below are still released.
  }
  if (!held) monitor->Lock();
  monitor->FState.store(3);
  FMonitor.store(nullptr);
  monitor->Unlock();
  // May be the last reference: the monitor (and this thread object with it)
  // is then disposed of here; nothing of this object is touched afterwards.
  monitor->Free();
}

// ---- TPostBox ----

bool TPostBox::Post(int32_t id, TRefObject* item) {
  bool accepted = false;
  Acquire();
  try {
    accepted = !FClosed && DoPost(id, item);
  } catch (...) {
    Unlock();
    throw;
  }
  if (!accepted) FreeObj(item);
  Unlock();
  return accepted;
}

void TPostBox::Close() {
  Acquire();
  if (!FClosed) {
    FClosed = true;
    try {
      DoClose();
    } catch (...) {
      Unlock();
      throw;
    }
  }
  Unlock();
}

// ---- worker count ----

int32_t RunningActiveThreads() { return g_runningWorkers.load(); }

int32_t WaitActiveThreads(uint32_t ms) {
  const uint32_t start = SysTickMs();
  while (g_runningWorkers.load() > 0 && SysTickMs() - start < ms) SysSleep(10);
  return g_runningWorkers.load();
}

}  // namespace foundation
