// Monitors (a lock with a wait), active monitors (a monitor that owns one
// worker thread running one method of its owner) and post boxes (monitors
// that accept posted items until closed).
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/kpThreads2.h"

namespace foundation {

class TActiveThread;

class TMonitor : public TRefObject {
 public:
  QEL_CLASSNAME(TMonitor)
  TMonitor();
  void Dispose() override;

  virtual void Acquire();
  void Lock();
  void Unlock();
  // Gives the monitor up until another thread has locked it, then takes it
  // again at the same depth. One waiter at a time: callers wait in a loop
  // that re-tests their condition.
  void Wait();
  // Gives the monitor up for ms milliseconds, then takes it again.
  void SleepUnlocked(uint32_t ms);

  int32_t Depth() const { return FDepth; }

 private:
  // The monitor itself: held by Lock/Unlock; FDepth is read and written only
  // by its holder.
  TSafeCriticalSection* FMutex = nullptr;
  // Admits one waiter at a time to Wait (and FChanged's reset); taken before
  // FMutex is given up.
  TCriticalSection* FWaitLock = nullptr;
  int32_t FDepth = 0;
  TEvent* FChanged = nullptr;
};

using TActiveMethod = TMethod<void()>;

class TActiveMonitor : public TMonitor {
 public:
  QEL_CLASSNAME(TActiveMonitor)
  void Dispose() override;

  // Starts the worker running method; with holdMonitor the worker takes the
  // monitor before the method runs and keeps it while it runs. A monitor
  // runs its worker once in its life: a second call answers false.
  bool Run(TActiveMethod method, bool holdMonitor);
  void Acquire() override;
  virtual void Terminate();
  // Returns when the method has returned (or never ran).
  void WaitFinished();

  // 0 no worker, 1 started (the worker takes the monitor first), 2 the
  // method runs, 3 the method returned.
  int32_t State() const { return FState.load(); }
  bool TerminateRequested() const { return FTerminateRequested.load(); }

 private:
  friend class TActiveThread;
  TActiveThread* FWorker = nullptr;
  std::atomic<int32_t> FState{0};
  std::atomic<bool> FTerminateRequested{false};
};

class TActiveThread : public TThread {
 public:
  QEL_CLASSNAME(TActiveThread)
  TActiveThread(std::u16string name, TActiveMethod method) : TThread(std::move(name)), FMethod(method) {}
  void Execute() override;
  static bool StartFor(TActiveThread* thread, TActiveMonitor* monitor);
  TActiveMonitor* Monitor() const { return FMonitor.load(); }

 private:
  std::atomic<TActiveMonitor*> FMonitor{nullptr};
  TActiveMethod FMethod;
};

class TPostBox : public TMonitor {
 public:
  QEL_CLASSNAME(TPostBox)
  // The item belongs to the post box from the call on: a refused one is
  // released here.
  bool Post(int32_t id, TRefObject* item);
  void Close();
  bool Closed() const { return FClosed; }

 protected:
  virtual bool DoPost(int32_t id, TRefObject* item) = 0;
  virtual void DoClose() {}
  virtual bool DoSend(int32_t id, TRefObject* item) = 0;

 private:
  bool FClosed = false;
};

// The number of active-monitor workers started and not yet disposed of.
int32_t RunningActiveThreads();
// Polls every 10 ms until no worker runs or ms have passed: the count left.
int32_t WaitActiveThreads(uint32_t ms);

}  // namespace foundation
