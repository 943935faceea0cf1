// Threads of the os area: creation, ids, priorities, the main thread and the
// processor count. A forced termination cannot be done safely on Linux: a
// "killed" thread is detached and left to end with the process.
#pragma once

#include <cstdint>

namespace platform::os {

using ThreadId = uint32_t;

// The kernel's id of the calling thread.
ThreadId currentThreadId();

// The main thread: by default the process's first thread; the start-up
// sequence records the thread that runs the program's windows and drawing.
void recordMainThread();
ThreadId mainThreadId();
bool isMainThread();

struct ThreadRecord;
using ThreadHandle = ThreadRecord*;

// The procedure's result is the thread's exit code.
using ThreadProc = int (*)(void* arg);

// Starts a thread running proc(arg) with the default stack. Returns nullptr
// (and leaves id 0) when the system refuses.
ThreadHandle startThread(ThreadProc proc, void* arg, ThreadId* id);
// Closes a handle: a thread that ended is joined, one still running is
// detached. Null is allowed.
void closeThreadHandle(ThreadHandle handle);
// Gives up a thread that did not end in time: detached, never joined, left
// to end with the process. The handle is closed.
void abandonThread(ThreadHandle handle);
bool threadEnded(ThreadHandle handle);
ThreadId threadIdOf(ThreadHandle handle);
// The exit code of an ended thread (0 while it runs).
int threadExitCode(ThreadHandle handle);

// Thread priorities in the Windows scale (-15, -2..2, 15). The value is kept;
// the nice value follows where the system permits.
int getThreadPriority(ThreadHandle handle);
bool setThreadPriority(ThreadHandle handle, int priority);

// Logical processors, at least 1.
uint32_t processorCount();

// Process priority classes (NORMAL 32, HIGH 128): best effort.
inline constexpr uint32_t NORMAL_PRIORITY_CLASS = 32;
inline constexpr uint32_t HIGH_PRIORITY_CLASS = 128;
bool setProcessPriorityClass(uint32_t priorityClass);

// No COM on Linux: per-thread initialisation does nothing.
inline void coInitialize() {}
inline void coUninitialize() {}

}  // namespace platform::os
