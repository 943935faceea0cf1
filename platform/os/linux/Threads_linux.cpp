// Threads on POSIX threads. Ids are the kernel's thread ids (gettid), which
// the log prints and which are unique among live threads.
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include "platform/os/sync.h"
#include "platform/os/threads.h"

namespace platform::os {

struct ThreadRecord {
  pthread_t thread{};
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  std::atomic<ThreadId> id{0};
  std::atomic<bool> ended{false};
  std::atomic<int> refs{2};  // the running thread's and the handle's
  std::atomic<int> priority{0};
  std::atomic<int> exitCode{0};
  Event idKnown{true, false};

  void release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

namespace {

std::atomic<ThreadId> g_mainThread{0};

void* trampoline(void* p) {
  auto* rec = static_cast<ThreadRecord*>(p);
  rec->id.store(currentThreadId());
  rec->idKnown.set();
  rec->exitCode.store(rec->proc(rec->arg));
  rec->ended.store(true, std::memory_order_release);
  rec->release();
  return nullptr;
}

}  // namespace

ThreadId currentThreadId() { return static_cast<ThreadId>(gettid()); }

void recordMainThread() { g_mainThread.store(currentThreadId()); }

ThreadId mainThreadId() {
  ThreadId id = g_mainThread.load();
  // Until the start-up sequence records it, the main thread is the process's
  // first thread, whose id equals the process id.
  return id != 0 ? id : static_cast<ThreadId>(getpid());
}

bool isMainThread() { return currentThreadId() == mainThreadId(); }

ThreadHandle startThread(ThreadProc proc, void* arg, ThreadId* id) {
  auto* rec = new ThreadRecord;
  rec->proc = proc;
  rec->arg = arg;
  if (pthread_create(&rec->thread, nullptr, trampoline, rec) != 0) {
    delete rec;
    if (id) *id = 0;
    return nullptr;
  }
  rec->idKnown.wait(INFINITE);
  if (id) *id = rec->id.load();
  return rec;
}

void closeThreadHandle(ThreadHandle handle) {
  if (!handle) return;
  if (handle->ended.load(std::memory_order_acquire))
    pthread_join(handle->thread, nullptr);
  else
    pthread_detach(handle->thread);
  handle->release();
}

void abandonThread(ThreadHandle handle) {
  if (!handle) return;
  pthread_detach(handle->thread);
  handle->release();
}

bool threadEnded(ThreadHandle handle) { return handle && handle->ended.load(std::memory_order_acquire); }

ThreadId threadIdOf(ThreadHandle handle) { return handle ? handle->id.load() : 0; }

int threadExitCode(ThreadHandle handle) { return handle ? handle->exitCode.load() : 0; }

int getThreadPriority(ThreadHandle handle) { return handle ? handle->priority.load() : 0; }

bool setThreadPriority(ThreadHandle handle, int priority) {
  if (!handle) return false;
  handle->priority.store(priority);
  // Only the small steps around normal move the nice value; raising may be
  // refused for an ordinary user, which is ignored.
  int nice = priority >= 15 ? -2 : priority <= -15 ? 4 : -priority;
  if (!handle->ended.load()) setpriority(PRIO_PROCESS, static_cast<id_t>(handle->id.load()), nice);
  return true;
}

uint32_t processorCount() {
  static const uint32_t count = [] {
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1u : static_cast<uint32_t>(n);
  }();
  return count;
}

bool setProcessPriorityClass(uint32_t priorityClass) {
  int nice = priorityClass == HIGH_PRIORITY_CLASS ? -5 : 0;
  setpriority(PRIO_PROCESS, 0, nice);
  return true;
}

}  // namespace platform::os
