#include "audio/winDSEventThread.h"

#include "audio/MusicTrace.h"
#include "platform/os/clock.h"

namespace audio {

TDSEventThread::TDSEventThread(std::function<void()> onTick, std::function<void()> onStart)
    : OnTick(std::move(onTick)), OnStart(std::move(onStart)) {}

void TDSEventThread::Start() {
  if (!Thread) Thread = platform::os::startThread(&TDSEventThread::Run, this, &ThreadId);
}

void TDSEventThread::Notify() { NotifyEvent.set(); }

int TDSEventThread::Run(void* self) {
  auto* t = static_cast<TDSEventThread*>(self);
  if (t->OnStart) t->OnStart();
  for (;;) {
    int which = platform::os::waitAny(t->StopEvent, t->NotifyEvent, 100);
    if (which == 0) break;
    if (t->OnTick) t->OnTick();
  }
  t->EndedEvent.set();
  return 0;
}

TDSEventThread::~TDSEventThread() {
  if (!Thread) return;
  StopEvent.set();
  if (EndedEvent.wait(1000)) {
    platform::os::closeThreadHandle(Thread);
    return;
  }
  // A thread cannot be killed safely here, and it still uses this object and
  // its buffer: it ends after the callback it is in, so wait for that.
  MusicTrace(u"!!! ", u"refill thread did not end in 1000 ms", u"winDSEventThread", 74);
  EndedEvent.wait(platform::os::INFINITE);
  platform::os::closeThreadHandle(Thread);
}

}  // namespace audio
