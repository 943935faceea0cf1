#include "player/QelEngineEvents.h"

#include "foundation/kpExceptions.h"

namespace player {

TCustomQelEngine::TCustomQelEngine(windowing::TApplication* application) {
  QEL_ASSERT(application != nullptr, "TCustomQelEngine: no application");
  Application = foundation::TRef<windowing::TApplication>::AddRef(application);
  AppEventId = Application->AllocateId();
  Application->AddHandler(AppEventId, foundation::MethodOf<&TCustomQelEngine::ReceiveEvent>(this));
}

void TCustomQelEngine::Dispose() {
  if (Application) {
    Application->RemoveHandler(AppEventId, foundation::MethodOf<&TCustomQelEngine::ReceiveEvent>(this));
    Application.Reset();
  }
  foundation::TQelThread::Dispose();
}

void TCustomQelEngine::PostEvent(int32_t id, const std::vector<int32_t>& ints, foundation::TRefObject* data,
                                 bool ownsData) {
  auto event = foundation::MakeRef<TQelEventData>();
  event->EventId = id;
  event->Ints = ints;
  event->Data = ownsData ? foundation::TRef<foundation::TRefObject>::Adopt(data)
                         : foundation::TRef<foundation::TRefObject>::AddRef(data);
  event->OwnsData = ownsData;
  Application->Post(AppEventId, event.Detach());
}

void TCustomQelEngine::PostRequest(int32_t id) { EventList()->Post(uint32_t(id), nullptr); }

int32_t TCustomQelEngine::NextShowId() { return ++ShowCounter; }

void TCustomQelEngine::ReceiveEvent(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param) {
  if (id != AppEventId || !param) return;
  auto* event = dynamic_cast<TQelEventData*>(param);
  if (!event) return;
  if (event->EventId == eeFirstFrame && OnFirstFrame) OnFirstFrame(this);
  if (event->EventId == eeProgress) {
    // Progress of a superseded show id (an older seek) is dropped.
    if (event->Ints.size() >= 4 && event->Ints[0] == ShowCounter && OnProgress)
      OnProgress(this, event->Ints[1], event->Ints[2], event->Ints[3] != 0);
    return;
  }
  if (OnEvent) OnEvent(this, event);
}

}  // namespace player
