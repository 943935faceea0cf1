#include "foundation/kpThreads2.h"

#include <mutex>
#include <vector>

#include "foundation/SysLock.h"
#include "foundation/kpLog.h"
#include "platform/os/clock.h"

namespace foundation {

namespace {
std::atomic<platform::os::ThreadId> g_mainThreadId{0};


// Objects a given-up worker may still touch (its running mutex): kept for the
// life of the process, reachable, never freed under the worker's feet.
std::mutex g_keptMutex;
// Never destroyed: the objects stay reachable until the process ends.
std::vector<TRefObject*>& KeptForKilledThreads() {
  static auto* kept = new std::vector<TRefObject*>;
  return *kept;
}
}  // namespace

bool IsMainThread() {
  platform::os::ThreadId id = g_mainThreadId.load();
  return id != 0 ? platform::os::currentThreadId() == id : platform::os::isMainThread();
}

void InitThreads2() { g_mainThreadId.store(platform::os::currentThreadId()); }

// ---- TSafeCriticalSection ----

void TSafeCriticalSection::Enter() {
  switch (FMutex.wait(platform::os::INFINITE)) {
    case platform::os::WaitResult::Signaled:
      break;
    case platform::os::WaitResult::Abandoned:
      FAbandoned.store(true);
      break;
    default:
      QelAssertFail("Error: TSafeCriticalSection.Enter");
  }
}

bool TSafeCriticalSection::Leave() { return FMutex.release(); }

// ---- TEvent ----

bool TEvent::SetEvent() {
  FEvent.set();
  return true;
}

bool TEvent::ResetEvent() {
  FEvent.reset();
  return true;
}

bool TEvent::WaitFor(uint32_t timeoutMs) { return FEvent.wait(timeoutMs); }

// ---- TMutex ----

bool TMutex::WaitFor(uint32_t timeoutMs, bool& abandoned) {
  if (FAbandoned.load()) {
    abandoned = true;
    return false;
  }
  bool acquired = false;
  switch (FMutex.wait(timeoutMs)) {
    case platform::os::WaitResult::Signaled:
      acquired = true;
      break;
    case platform::os::WaitResult::Abandoned:
      acquired = true;
      FAbandoned.store(true);
      break;
    case platform::os::WaitResult::Timeout:
      break;
  }
  if (FAbandoned.load()) {
    if (acquired) FMutex.release();
    abandoned = true;
    return false;
  }
  abandoned = false;
  return acquired;
}

bool TMutex::Acquire() {
  bool abandoned = false;
  return WaitFor(platform::os::INFINITE, abandoned);
}

bool TMutex::ReleaseMutex() { return FMutex.release(); }

// ---- TThread ----

TThread::TThread(std::u16string name) : FName(std::move(name)) {}

void TThread::Terminate() { FTerminated.store(true); }

bool TThread::IsRunning() {
  if (!FRunning) return false;
  bool abandoned = false;
  if (FRunning->WaitFor(0, abandoned)) return FRunning->ReleaseMutex();
  return !abandoned;
}

bool TThread::Start() {
  if (IsRunning()) return false;
  FreeAndNil(FRunning);
  FRunning = new TMutex;
  platform::os::closeThreadHandle(FHandle);
  FHandle = nullptr;
  FTerminated.store(false);
  FreeAndNil(FStarted);
  FStarted = new TEvent;
  platform::os::ThreadId id = 0;
  FHandle = platform::os::startThread(&TThread::ThreadProc, this, &id);
  FThreadId.store(id);
  return FHandle != nullptr;
}

int TThread::ThreadProc(void* self) {
  auto* thread = static_cast<TThread*>(self);
  if (!BeginThreadAccounting()) {
    // Shutdown has begun: Execute never runs, and the thread must count as
    // ended for every waiter, so it ends holding its running mutex.
    bool abandoned = false;
    thread->FRunning->WaitFor(0, abandoned);
    thread->FStarted->SetEvent();
    return 0;
  }
  int exitCode = 0;
  try {
    if (!thread->FRunning->Acquire()) throw EMutexTakeOwnershipError();
    thread->FStarted->SetEvent();
    thread->Execute();
  } catch (...) {
    exitCode = 1;
  }
  // The object is not touched after Execute: an active thread's last step
  // may have disposed of it on this very thread.
  EndThreadAccounting();
  // The running mutex stays held: the thread's end abandons it.
  return exitCode;
}

bool TThread::WaitFor(uint32_t timeoutMs) {
  if (FStarted && !FStarted->WaitFor(timeoutMs)) return false;
  if (!FRunning) return true;
  bool abandoned = false;
  if (FRunning->WaitFor(timeoutMs, abandoned)) {
    // Only the worker itself can take it cleanly (recursion): give it back.
    FRunning->ReleaseMutex();
    return true;
  }
  return abandoned;
}

void TThread::Kill() {
  if (!IsRunning()) return;
  // Forced termination would leave the worker's locks held and its heap
  // state torn. The worker is given up instead: detached, left to end with
  // the process, and its running mutex kept alive for it.
  FKilled = true;
  std::u16string text = u"thread " + MessageFromUtf8(std::to_string(FThreadId.load())) + u" did not end in " +
                        MessageFromUtf8(std::to_string(DisposeWaitMs)) + u" ms; left running";
  GetLog()->Add(text);
  platform::os::abandonThread(FHandle);
  FHandle = nullptr;
  KeepForKilledWorker(FRunning);
  KeepForKilledWorker(FStarted);
  FRunning = nullptr;
  FStarted = nullptr;
  // The worker still runs this object's Execute and reads its fields (its
  // Terminated flag first of all): the object's memory is kept with it. A
  // Dispose that gave the worker up then ends without freeing the memory.
  _AddRef();
  KeepForKilledWorker(this);
}

void TThread::KeepForKilledWorker(TRefObject* obj) {
  if (!obj) return;
  std::lock_guard<std::mutex> guard(g_keptMutex);
  KeptForKilledThreads().push_back(obj);
}

int32_t TThread::GetPriority() { return platform::os::getThreadPriority(FHandle); }

void TThread::SetPriority(int32_t priority) { platform::os::setThreadPriority(FHandle, priority); }

void TThread::Dispose() {
  Terminate();
  if (!WaitFor(DisposeWaitMs)) Kill();
  platform::os::closeThreadHandle(FHandle);
  FHandle = nullptr;
  FreeAndNil(FRunning);
  FreeAndNil(FStarted);
  TRefObject::Dispose();
}

}  // namespace foundation
