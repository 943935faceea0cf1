#include "audio/QelMusicPlayer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "audio/MusicTrace.h"
#include "foundation/TickClock.h"
#include "foundation/kpExceptions.h"

namespace audio {

using foundation::TRefObject;

namespace {

std::u16string Num(double v) {
  std::string s = std::to_string(static_cast<int64_t>(std::llround(v)));
  return std::u16string(s.begin(), s.end());
}

void Log(const std::u16string& line) { MusicTraceLog()->Add(line); }

}  // namespace

// ---------------------------------------------------------------- items

TPlayItem::TPlayItem(TQelMusicPlayer* player) : Player(player) {
  Id = Player->NextId;
  Player->NextId = Player->NextId == INT32_MAX ? 0 : Player->NextId + 1;
  Player->Items.push_back(this);
}

void TPlayItem::Dispose() {
  Stop(true);
  auto& items = Player->Items;
  items.erase(std::remove(items.begin(), items.end(), this), items.end());
  TRefObject::Dispose();
}

TQelChannel* TPlayItem::RequestChannel(const std::u16string& name, int32_t offset, double start, double end) {
  auto* channel = new TQelChannel(&Player->ChannelOperator);
  channel->OwnerId = Id;
  channel->FileName = name;
  channel->FileOffset = offset;
  channel->StartTime = start;
  channel->EndTime = end;
  Player->Loader->EventList()->Post(kLoaderOpenChannel, new TChannelContainer(channel));
  return channel;
}

void TPlayItem::ReleaseChannel(TQelChannel* channel) {
  if (channel->Playing)
    channel->StopChannel();
  else
    channel->OwnerId = -1;
  Player->Loader->EventList()->Post(kLoaderFreeChannel, new TChannelContainer(channel));
  channel->Free();
}

void TPlayComment::Request(const std::u16string& name, int32_t offset, double start, double end) {
  QEL_ASSERT(Channel == nullptr, u"TPlayComment: a second channel request");
  Channel = RequestChannel(name, offset, start, end);
}

void TPlayComment::ChannelReady(TQelChannel* channel) {
  QEL_ASSERT(channel == Channel, u"TPlayComment: not its channel");
  channel->Ready = true;
  Ready = true;
}

void TPlayComment::Sync(double t, bool playing) {
  if (Stopped || !Ready) return;
  if (t >= Channel->EndTime - 10) {
    Stop(true);
  } else if (Channel->Playing) {
    if (!playing) Channel->StopChannel();  // the comment pauses with the show
  } else if (playing && t >= Channel->StartTime) {
    Channel->StartChannel();
  }
}

void TPlayComment::Stop(bool) {
  Stopped = true;
  if (Channel) ReleaseChannel(Channel);
  Channel = nullptr;
}

TPlaySequence::TPlaySequence(TQelMusicPlayer* player, TPlayList* playList, bool syncMode)
    : TPlayItem(player), PlayList(playList), FreeRunning(!syncMode) {
  PlayList->_AddRef();
  Ready = PlayList->Count == 0;
}

void TPlaySequence::Dispose() {
  TPlayItem::Dispose();
  if (Player->CurrentSequence == this) Player->CurrentSequence = nullptr;
  foundation::FreeAndNil(PlayList);
}

void TPlaySequence::ChannelReady(TQelChannel* channel) {
  QEL_ASSERT(std::find(Channels.begin(), Channels.end(), channel) != Channels.end(),
             u"TPlaySequence: not its channel");
  channel->Ready = true;
  Ready = std::all_of(Channels.begin(), Channels.end(), [](TQelChannel* c) { return c->Ready; });
}

void TPlaySequence::Stop(bool force) {
  if (Stopped || (FreeRunning && !force)) return;
  Stopped = true;
  Log(u"Finally sequence stop " + Num(Player->DeviceClock() - StartClock));
  for (TQelChannel* c : Channels) {
    Log(u"Stop Channel: " + c->FileName);
    ReleaseChannel(c);
  }
  Channels.clear();
}

void TPlaySequence::Schedule(double p) {
  int32_t end;
  if (PlayList->IsRepeat) {
    if (PlayList->Count == 0) return;
    end = INT32_MAX;
  } else {
    if (p > PlayList->Length) {
      Stop(true);
      return;
    }
    end = PlayList->Count;
  }
  int32_t i = NextItem;
  for (; i < end; ++i) {
    TMusicItemInfo item = PlayList->GetItem(i);
    if (item.Start >= p + 5000) break;
    if (p >= item.Start + item.Duration) continue;
    Log(u"Preload " + item.FileName);
    Log(u"Preload to time start " + Num(item.Start));
    double lead = std::max(p - item.Start, 0.0);
    Channels.push_back(RequestChannel(item.FileName, static_cast<int32_t>(std::lround(item.Offset + lead)),
                                      item.Start + lead, item.Start + item.Duration));
  }
  NextItem = i;
  if (!Started) return;
  std::vector<TQelChannel*> held = Channels;
  for (TQelChannel* c : held) {
    if (p < c->EndTime) {
      if (c->Ready && !c->Playing && p >= c->StartTime) {
        int64_t start = foundation::GetTickMs();
        c->StartChannel();
        Log(u"Start Channel: " + c->FileName + u"   IntTime: " + Num(p) + u" " +
            Num(static_cast<double>(foundation::GetTickMs() - start)));
      }
    } else {
      Channels.erase(std::find(Channels.begin(), Channels.end(), c));
      if (c->Playing) Log(u"Stop Channel: " + c->FileName);
      int64_t start = foundation::GetTickMs();
      ReleaseChannel(c);
      Log(u"Release Channel Time " + Num(static_cast<double>(foundation::GetTickMs() - start)));
    }
  }
}

void TPlaySequence::Sync(double t, bool playing) {
  if (Stopped) return;
  if (Started) {
    if (!playing && !FreeRunning) {
      for (TQelChannel* c : Channels)
        if (c->Playing) c->StopChannel();
      Started = false;
    }
    if (Started) Schedule(FreeRunning ? Player->DeviceClock() - StartClock + SeqOffset : t - SeqStart + SeqOffset);
  } else if (t >= SeqStart) {
    if (playing) {
      Started = true;
      if (FreeRunning) StartClock = Player->DeviceClock();
      Log(u"Sequence started at abs Time " + Num(t));
    }
    Schedule(FreeRunning ? SeqOffset : t - SeqStart + SeqOffset);
    if (!Stopped && !(FreeRunning && !playing) && Player->CurrentSequence != this) {
      // Becoming current stops the previous current sequence; the sequence
      // that already is current (the main one right after creation) goes on.
      TPlaySequence* previous = Player->CurrentSequence;
      Player->CurrentSequence = this;
      if (previous) previous->Stop(true);
    }
  } else {
    Schedule(SeqOffset);  // channels open ahead of time
  }
}

// ---------------------------------------------------------------- player

TQelMusicPlayer::TQelMusicPlayer(TMusicShow* source) {
  QEL_ASSERT(source != nullptr, u"TQelMusicPlayer: no source");
  Source = source;
  Source->_AddRef();
  try {
    MusicSource = new TQelMusicSource(Source);
    TMusicShow* show = Source;
    StartPlugins([show](const std::u16string& name) { return show->OpenEntry(name); }, Source->GetIni());
    if (CreatePlayerHook) {
      try {
        DevicePlayer = CreatePlayerHook();
      } catch (const std::exception&) {
        // A device that cannot make its clock: the show runs on the tick clock.
        DevicePlayer = nullptr;
      }
      if (DevicePlayer && !DevicePlayer->IsReady()) foundation::FreeAndNil(DevicePlayer);
    }
    Loader = new TMusicLoader(DevicePlayer, EventList());
    Loader->SetEntryOpener([show](const std::u16string& name) { return show->OpenEntry(name); });
    // In sync mode the plan makes every pass's sequence, the first included.
    if (!MusicSource->SyncMode) CurrentSequence = new TPlaySequence(this, MusicSource->MainPlayList, false);
    Reset(0, false);
  } catch (...) {
    Dispose();
    throw;
  }
}

void TQelMusicPlayer::Dispose() {
  if (Loader && Loader->Started()) Loader->Stop();
  if (Started()) foundation::TQelThread::Stop();
  while (!Items.empty()) Items.back()->Free();
  if (Loader) Loader->EventList()->ProcessMessages();  // frees what the items handed back
  foundation::FreeAndNil(Loader);
  foundation::FreeAndNil(MusicSource);
  foundation::FreeAndNil(DevicePlayer);
  foundation::FreeAndNil(Source);
  foundation::TQelThread::Dispose();
}

bool TQelMusicPlayer::Start() {
  Loader->Start();
  return foundation::TQelThread::Start();
}

void TQelMusicPlayer::Stop() {
  Loader->Stop();
  foundation::TQelThread::Stop();
  while (!Items.empty()) Items.back()->Free();
  foundation::SleepMs(15);
  std::lock_guard<std::mutex> guard(Lock);
  foundation::FreeAndNil(DevicePlayer);
}

double TQelMusicPlayer::DeviceClock() {
  if (DevicePlayer) return DevicePlayer->GetClockTime();
  return static_cast<double>(static_cast<uint32_t>(foundation::GetTickMs()));
}

void TQelMusicPlayer::SetPlaying(bool playing) {
  if (Playing.exchange(playing) == playing) return;
  EventList()->Post(playing ? kPlayerClockRun : kPlayerClockStop, nullptr);
}

void TQelMusicPlayer::SetTime(double time, double endTime) {
  if (time >= 0) Playing = false;
  Ready = false;
  if (endTime >= 0) RequestedEndTime = endTime;
  foundation::TRef<TTimeData> data = foundation::TRef<TTimeData>::Adopt(new TTimeData(time, endTime));
  if (!Started() || !EventList()->Send(kPlayerSetTime, data.Get())) HandleSetTime(*data);
}

double TQelMusicPlayer::GetTime() {
  std::lock_guard<std::mutex> guard(Lock);
  double t = ClockRunning ? DeviceClock() - ClockValue : ClockValue;
  return std::min(t, EndTime.load());
}

double TQelMusicPlayer::GetVolume() { return DevicePlayer ? DevicePlayer->GetVolume() : 0.0; }

void TQelMusicPlayer::SetVolume(double volume) {
  if (DevicePlayer) DevicePlayer->SetVolume(static_cast<float>(volume));
}

void TQelMusicPlayer::HandleMessage(TRefObject*, uint32_t id, TRefObject* param, bool& handled) {
  handled = true;
  switch (id) {
    case kPlayerChannelOpen: {
      auto* container = dynamic_cast<TChannelContainer*>(param);
      if (!container || !container->Channel) return;
      Log(u"Receive Channel: " + container->Channel->FileName);
      int32_t owner = container->Channel->OwnerId;
      for (TPlayItem* item : Items) {
        if (item->Id == owner) {
          item->ChannelReady(container->Channel);
          break;
        }
      }
      return;
    }
    case kPlayerClockRun:
      SetClockRunning(true);
      return;
    case kPlayerClockStop:
      SetClockRunning(false);
      return;
    case kPlayerSetTime:
      if (auto* data = dynamic_cast<TTimeData*>(param)) HandleSetTime(*data);
      return;
    default:
      foundation::QelAssertFail(u"Unknown EventID");
  }
}

void TQelMusicPlayer::HandleSetTime(const TTimeData& data) {
  Log(u"Set Time " + Num(data.Time));
  if (data.EndTime >= 0) EndTime = data.EndTime;
  if (data.Time >= 0) Reset(data.Time, true);
}

void TQelMusicPlayer::SetClockRunning(bool run) {
  std::lock_guard<std::mutex> guard(Lock);
  if (ClockRunning == run) return;
  ClockValue = DeviceClock() - ClockValue;
  ClockRunning = run;
}

void TQelMusicPlayer::Reset(double time, bool stopItems) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    ClockRunning = false;
    ClockValue = time;
  }
  if (stopItems) {
    std::vector<TPlayItem*> items = Items;
    for (TPlayItem* item : items) item->Stop(false);
  }
  PlannedUntil = time + 5000;
  Plan(time, time + 5000, true);
}

int32_t TQelMusicPlayer::SlideAt(double t) {
  const int32_t n = Source->GetSlideCount();
  const double length = Source->ShowLength();
  if (n <= 0 || length <= 0) return -1;
  // Slides past the last are those of later passes; the walk never goes
  // beyond the pass after the one t falls in.
  const double passes = std::max(std::floor(t / length), 0.0) + 2.0;
  const int32_t limit = static_cast<int32_t>(std::min(passes * n, 2147483000.0));
  int32_t k = std::max(CommentSlide, -1);
  while (k < limit) {
    if (k >= 0 ? Source->GetSlideTimes(k).End > t : t < Source->GetSlideTimes(0).Start) break;
    ++k;
  }
  while (k >= 0 && t < Source->GetSlideTimes(k).Start) --k;
  return k;
}

void TQelMusicPlayer::Plan(double from, double to, bool reset) {
  if (!MusicSource->Enabled) return;
  const double length = MusicSource->ShowLength();
  if (MusicSource->SyncMode && length > 0) {
    auto g = static_cast<int64_t>(std::trunc(from / length)) + (reset ? 0 : 1);
    int64_t d = Source->IsRepeat() ? static_cast<int64_t>(std::trunc(to / length)) : 0;
    for (; g <= d; ++g) {
      auto* seq = new TPlaySequence(this, MusicSource->MainPlayList, true);
      double h = static_cast<double>(g) * length;
      if (from >= h) {
        seq->SeqOffset = from - h;
        seq->SeqStart = from;
      } else {
        seq->SeqStart = h;
      }
    }
  }
  const int32_t n = MusicSource->GetSlideInfoCount();
  if (n == 0) return;
  int32_t f = SlideAt(from);
  CommentSlide = f;
  int32_t first = reset ? std::max(f - n, 0) : f + 1;
  int32_t last = SlideAt(to);
  CommentSlide = f;
  // A show that does not repeat has no later pass to plan comments into.
  if (!Source->IsRepeat()) last = std::min(last, n - 1);
  for (int32_t k = first; k <= last; ++k) {
    double s = 0;
    TSlideMusicInfo* info = MusicSource->GetSlideInfoAt(k, s);
    if (!info || info->SoundFile.empty()) continue;
    Log(u"New Comment begin " + info->SoundFile);
    double e = from > s ? from - s : 0.0;
    s = std::max(s, from);
    if (e >= info->Duration) continue;
    Log(u"~~~~~~~~~~~~~~~~~~~~~~~New Comment params " + Num(s) + u" " + Num(info->FileOffset + e) + u" " +
        Num(s + info->Duration - e));
    auto* comment = new TPlayComment(this);
    comment->Request(info->SoundFile, static_cast<int32_t>(std::lround(info->FileOffset + e)), s,
                     s + info->Duration - e);
  }
}

void TQelMusicPlayer::RunStep() {
  EventList()->ProcessMessages();
  double t = GetTime();
  if (t > EndTime - 1) t = EndTime - 1;
  bool running;
  {
    std::lock_guard<std::mutex> guard(Lock);
    running = ClockRunning;
  }
  if (running) {
    Plan(PlannedUntil, t + 5000, false);
    PlannedUntil = t + 5000;
  }
  std::vector<TPlayItem*> items = Items;
  for (TPlayItem* item : items)
    if (!item->Stopped) item->Sync(t, running);
  ChannelOperator.StartQueued();
  items = Items;
  for (TPlayItem* item : items)
    if (item->Stopped) item->Free();
  bool allReady = std::all_of(Items.begin(), Items.end(), [](TPlayItem* i) { return i->Ready; });
  Ready = running || allReady;
}

void TQelMusicPlayer::Step() {
  RunStep();
  foundation::SleepMs(5);
}

}  // namespace audio
