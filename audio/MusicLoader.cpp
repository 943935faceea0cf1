#include "audio/MusicLoader.h"

#include <algorithm>

#include "audio/MusicTrace.h"
#include "foundation/TickClock.h"

namespace audio {

namespace {
std::u16string Dec(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
}  // namespace

void TQelChannel::Dispose() {
  if (DeviceChannel) {
    int64_t start = foundation::GetTickMs();
    if (Playing && !Stopped) DeviceChannel->Stop(10);
    foundation::FreeAndNil(DeviceChannel);
    MusicTraceLog()->Add(u"+++++++++++++++++++ Destroy Channel " + FileName + u" Time " +
                         Dec(foundation::GetTickMs() - start));
  }
  TRefObject::Dispose();
}

void TQelChannel::StartChannel() {
  if (!Ready || Playing) return;
  Playing = true;
  Operator->Append(this);
}

void TQelChannel::StopChannel() {
  if (!Playing) return;
  Playing = false;
  if (Operator->Remove(this)) return;
  if (DeviceChannel) {
    int64_t start = foundation::GetTickMs();
    DeviceChannel->Stop(10);
    MusicTraceLog()->Add(u"+++++++++++++++++++ Channel " + FileName + u" Stop Time " +
                         Dec(foundation::GetTickMs() - start));
  }
  Stopped = true;
}

void TChannelContainer::Dispose() {
  foundation::FreeAndNil(Channel);
  TRefObject::Dispose();
}

bool TChannelOperator::Remove(TQelChannel* channel) {
  auto it = std::find(Queue.begin(), Queue.end(), channel);
  if (it == Queue.end()) return false;
  Queue.erase(it);
  return true;
}

void TChannelOperator::StartQueued() {
  for (TQelChannel* c : Queue) {
    if (!c->DeviceChannel) continue;
    int64_t start = foundation::GetTickMs();
    c->DeviceChannel->Play(10);
    c->Stopped = false;
    MusicTraceLog()->Add(u"+++++++++++++++++++ Play Channel " + c->FileName + u" Time " +
                         Dec(foundation::GetTickMs() - start));
  }
  Queue.clear();
}

TMusicLoader::TMusicLoader(TMusicPlayer* devicePlayer, foundation::TThreadEventList* playerEvents)
    : DevicePlayer(devicePlayer), PlayerEvents(playerEvents) {
  if (DevicePlayer) DevicePlayer->_AddRef();
  if (PlayerEvents) PlayerEvents->_AddRef();
}

void TMusicLoader::Dispose() {
  foundation::TQelThread::Dispose();
  foundation::FreeAndNil(DevicePlayer);
  foundation::FreeAndNil(PlayerEvents);
}

void TMusicLoader::HandleMessage(foundation::TRefObject*, uint32_t id, foundation::TRefObject* param, bool& handled) {
  auto* container = dynamic_cast<TChannelContainer*>(param);
  if (!container || !container->Channel) return;
  handled = true;
  TQelChannel* channel = container->Channel;
  if (id == kLoaderOpenChannel) {
    if (channel->OwnerId >= 0 && DevicePlayer) {
      channel->DeviceChannel = DevicePlayer->CreateChannel(channel->FileName, channel->FileOffset);
      if (!channel->DeviceChannel) MusicTraceLog()->Add(u"+++++++++++++++++++ Channel Create ERROR");
    }
    if (channel->DeviceChannel) {
      // A channel never outlasts its file.
      double limit = channel->DeviceChannel->GetDuration() - channel->FileOffset + channel->StartTime;
      if (channel->EndTime > limit) channel->EndTime = limit;
    }
    if (PlayerEvents) PlayerEvents->Post(kPlayerChannelOpen, new TChannelContainer(channel));
  } else if (id == kLoaderFreeChannel) {
    foundation::FreeAndNil(container->Channel);
  }
}

void TMusicLoader::RunStep() { EventList()->ProcessMessages(); }

void TMusicLoader::Step() {
  RunStep();
  foundation::SleepMs(10);
}

}  // namespace audio
