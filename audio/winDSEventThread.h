// The refill thread of a streaming buffer: OnStart once, then OnTick every
// 100 ms or at once when notified, until stopped.
#pragma once

#include <functional>

#include "platform/os/sync.h"
#include "platform/os/threads.h"

namespace audio {

class TDSEventThread {
 public:
  TDSEventThread(std::function<void()> onTick, std::function<void()> onStart);
  // Signals the stop event and joins the thread; one that has not ended
  // after 1000 ms is traced and still waited for (it cannot be killed safely
  // and uses this object until it returns).
  ~TDSEventThread();
  TDSEventThread(const TDSEventThread&) = delete;
  TDSEventThread& operator=(const TDSEventThread&) = delete;

  void Start();
  void Notify();

 private:
  static int Run(void* self);
  std::function<void()> OnTick;
  std::function<void()> OnStart;
  platform::os::Event StopEvent{false, false};
  platform::os::Event NotifyEvent{false, false};
  platform::os::Event EndedEvent{true, false};
  platform::os::ThreadHandle Thread = nullptr;
  platform::os::ThreadId ThreadId = 0;
};

}  // namespace audio
