#include "audio/ChannelKiller.h"

#include <mutex>

#include "audio/MusicTrace.h"
#include "foundation/TickClock.h"

namespace audio {

namespace {
std::mutex gKillerLock;
TChannelKiller* gKiller = nullptr;
}  // namespace

TChannelKiller* GetChannelKiller() {
  std::lock_guard<std::mutex> guard(gKillerLock);
  if (!gKiller) gKiller = new TChannelKiller;
  return gKiller;
}

TInstanceEndHook InstanceEndHook = nullptr;

void HandToChannelKiller(TPlaybackInstance* instance) {
  if (InstanceEndHook)
    InstanceEndHook(instance);
  else
    GetChannelKiller()->Add(instance);
}

void DoneChannelKiller() {
  TChannelKiller* killer = nullptr;
  {
    std::lock_guard<std::mutex> guard(gKillerLock);
    killer = gKiller;
    gKiller = nullptr;
  }
  if (killer) killer->Free();
}

TChannelKiller::TChannelKiller() : foundation::TThread(u"ChannelKiller") {
  Messages = new foundation::TThreadEventList;
  Messages->Handler = foundation::MethodOf<&TChannelKiller::HandleMessage>(this);
  WakeEvent = new foundation::TEvent;
  Start();
  while (!Started) foundation::SleepMs(1);
}

void TChannelKiller::Dispose() {
  Messages->Post(kKillerQuit, nullptr);
  WakeEvent->SetEvent();
  if (!WaitFor(1000)) Kill();
  foundation::TThread::Dispose();
  if (!Killed()) {
    foundation::FreeAndNil(Messages);
    foundation::FreeAndNil(WakeEvent);
  }
}

void TChannelKiller::Add(TPlaybackInstance* instance) {
  Messages->Post(kKillerAdd, new TAddChannelData(instance));
  WakeEvent->SetEvent();
}

void TChannelKiller::HandleMessage(foundation::TRefObject*, uint32_t id, foundation::TRefObject* param, bool& handled) {
  handled = true;
  if (Quit) return;  // after a quit nothing more of this pass
  if (id == kKillerQuit) {
    Quit = true;
  } else if (id == kKillerAdd) {
    if (auto* data = dynamic_cast<TAddChannelData*>(param)) Pending.push_back(data->Instance);
    FPendingCount = static_cast<int32_t>(Pending.size());
  }
}

void TChannelKiller::Execute() {
  Quit = false;
  Pending.clear();
  Started = true;
  for (;;) {
    Messages->ProcessMessages();
    if (Quit) break;
    if (Pending.empty()) {
      WakeEvent->WaitFor(100);
      WakeEvent->ResetEvent();
      continue;
    }
    for (size_t i = Pending.size(); i-- > 0;) {
      TPlaybackInstance* instance = Pending[i];
      if (!instance->IsFinished()) continue;
      Pending.erase(Pending.begin() + static_cast<ptrdiff_t>(i));
      FPendingCount = static_cast<int32_t>(Pending.size());
      instance->Finished();
    }
    foundation::SleepMs(10);
  }
  if (!Pending.empty()) MusicTrace(u"!!! ", u"channel killer ends with instances pending", u"ChannelKiller", 161);
  Pending.clear();
}

}  // namespace audio
