// The lock, event, mutex, counter and thread classes, all reference counted,
// and the record of which thread is the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "platform/os/sync.h"
#include "platform/os/threads.h"

namespace foundation {

// A method pointer: code and object, compared as a pair. MethodOf<&C::M>(obj)
// makes one for a member function; the code half is one function per member,
// so two methods are equal exactly when both halves are.
template <class Sig>
struct TMethod;

template <class R, class... A>
struct TMethod<R(A...)> {
  R (*Code)(void* data, A... args) = nullptr;
  void* Data = nullptr;

  R operator()(A... args) const { return Code(Data, args...); }
  explicit operator bool() const { return Code != nullptr; }
  friend bool operator==(const TMethod& a, const TMethod& b) { return a.Code == b.Code && a.Data == b.Data; }
};

namespace detail {
template <auto M>
struct MethodTraits;
template <class C, class R, class... A, R (C::*M)(A...)>
struct MethodTraits<M> {
  using Class = C;
  using Type = TMethod<R(A...)>;
  static R Call(void* data, A... args) { return (static_cast<C*>(data)->*M)(args...); }
};
}  // namespace detail

template <auto M>
typename detail::MethodTraits<M>::Type MethodOf(typename detail::MethodTraits<M>::Class* obj) {
  typename detail::MethodTraits<M>::Type m;
  m.Code = &detail::MethodTraits<M>::Call;
  m.Data = obj;
  return m;
}

// True on the thread recorded as the main thread.
bool IsMainThread();
// Unit start: records the calling thread as the main thread.
void InitThreads2();

class EThreadError : public TCommonException {
 public:
  using TCommonException::TCommonException;
  QEL_CLASSNAME(EThreadError)
};

class EMutexTakeOwnershipError : public EThreadError {
 public:
  using EThreadError::EThreadError;
  QEL_CLASSNAME(EMutexTakeOwnershipError)
};

// Recursive, process-local lock.
class TCriticalSection : public TRefObject {
 public:
  QEL_CLASSNAME(TCriticalSection)
  void Enter() { FSection.enter(); }
  void Leave() { FSection.leave(); }
  // For std::lock_guard and std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  platform::os::CriticalSection FSection;
};

// Kernel-style recursive lock that notices when a holder thread ended while
// holding it; such an entry still enters and only sets the abandoned flag.
class TSafeCriticalSection : public TRefObject {
 public:
  QEL_CLASSNAME(TSafeCriticalSection)
  void Enter();
  bool Leave();
  bool Abandoned() const { return FAbandoned.load(); }
  // For std::lock_guard and std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }

 private:
  platform::os::KernelMutex FMutex;
  std::atomic<bool> FAbandoned{false};
};

// Manual-reset event, not signalled at creation.
class TEvent : public TRefObject {
 public:
  QEL_CLASSNAME(TEvent)
  bool SetEvent();
  bool ResetEvent();
  // True only when the event was signalled within the time (all ones: no limit).
  bool WaitFor(uint32_t timeoutMs);

 private:
  platform::os::Event FEvent{true, false};
};

// Mutex whose abandonment is sticky: once a holder died, every wait fails.
class TMutex : public TRefObject {
 public:
  QEL_CLASSNAME(TMutex)
  bool WaitFor(uint32_t timeoutMs, bool& abandoned);
  bool Acquire();
  // The release of one ownership (TMutex.Release; the name Release belongs
  // to the reference count of every object).
  bool ReleaseMutex();
  bool Abandoned() const { return FAbandoned.load(); }

 private:
  platform::os::KernelMutex FMutex;
  std::atomic<bool> FAbandoned{false};
};

class TInterlockedCounter : public TRefObject {
 public:
  QEL_CLASSNAME(TInterlockedCounter)
  explicit TInterlockedCounter(int32_t initial = 0) : FValue(initial) {}
  // The new value.
  int32_t Increment() { return FValue.fetch_add(1) + 1; }
  int32_t Value() const { return FValue.load(); }

 private:
  std::atomic<int32_t> FValue;
};

// A thread object: idle until Start, ended when Execute returns or raises.
class TThread : public TRefObject {
 public:
  QEL_CLASSNAME(TThread)
  explicit TThread(std::u16string name = {});

  void Dispose() override;
  // The work of the thread; runs on the new thread and returns when
  // Terminated becomes true.
  virtual void Execute() = 0;
  // Requests the end; waits for nothing.
  virtual void Terminate();

  bool Start();
  bool WaitFor(uint32_t timeoutMs);
  bool WaitForEnd() { return WaitFor(platform::os::INFINITE); }
  bool IsRunning();
  // Gives up a worker that does not end: it cannot be stopped safely, so it
  // is detached, logged ("thread <id> did not end in 3000 ms; left running")
  // and left to end with the process; what it may still touch is kept,
  // this object included (its memory outlives the owner's last Free).
  void Kill();
  int32_t GetPriority();
  void SetPriority(int32_t priority);

  bool Terminated() const { return FTerminated.load(); }
  const std::u16string& Name() const { return FName; }
  platform::os::ThreadId ThreadId() const { return FThreadId.load(); }
  // 0 after a normal end, 1 when Execute raised (while the handle is open).
  int ExitCode() const { return platform::os::threadExitCode(FHandle); }
  bool Killed() const { return FKilled; }

  // How long Dispose waits for the worker before giving it up.
  static constexpr uint32_t DisposeWaitMs = 3000;

 protected:
  // Keeps an object alive for the life of the process because a given-up
  // worker may still use it.
  static void KeepForKilledWorker(TRefObject* obj);
  std::atomic<bool> FTerminated{false};

 private:
  static int ThreadProc(void* self);
  TMutex* FRunning = nullptr;
  TEvent* FStarted = nullptr;
  platform::os::ThreadHandle FHandle = nullptr;
  std::atomic<platform::os::ThreadId> FThreadId{0};
  std::u16string FName;
  bool FKilled = false;
};

}  // namespace foundation
