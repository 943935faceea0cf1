// The show music player: a thread whose 5 ms step keeps the show clock (on
// the audio device's clock while the show plays, on the tick clock without a
// device), plans music and sound comments 5 s ahead, asks the loader thread
// for the channels it will need, starts and stops them on time and frees
// what has finished. The engine talks to it through a few thread-safe calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/MusicLoader.h"
#include "audio/QelMusicSource.h"
#include "foundation/kvQelThreads.h"

namespace audio {

class TQelMusicPlayer;

inline constexpr uint32_t kPlayerClockRun = 10;
inline constexpr uint32_t kPlayerClockStop = 11;
inline constexpr uint32_t kPlayerSetTime = 12;

// The parameter of event 12.
class TTimeData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TTimeData)
  TTimeData(double time, double endTime) : Time(time), EndTime(endTime) {}
  double Time;
  double EndTime;
};

// Everything the player schedules. Made items join the player's list;
// disposing of one stops it (forced) and takes it out.
class TPlayItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPlayItem)
  explicit TPlayItem(TQelMusicPlayer* player);
  void Dispose() override;
  virtual void Stop(bool Force) = 0;
  virtual void ChannelReady(TQelChannel* Channel) = 0;
  virtual void Sync(double t, bool Playing) = 0;

  TQelMusicPlayer* Player;
  int32_t Id;
  bool Ready = false;
  bool Stopped = false;

 protected:
  // A new channel of this item, handed to the loader.
  TQelChannel* RequestChannel(const std::u16string& name, int32_t offset, double start, double end);
  // Stops a playing channel or detaches an idle one, and hands it back.
  void ReleaseChannel(TQelChannel* channel);
};

class TPlayComment : public TPlayItem {
 public:
  QEL_CLASSNAME(TPlayComment)
  using TPlayItem::TPlayItem;
  void Request(const std::u16string& name, int32_t offset, double start, double end);
  void Stop(bool Force) override;
  void ChannelReady(TQelChannel* Channel) override;
  void Sync(double t, bool Playing) override;

  TQelChannel* Channel = nullptr;
  bool PauseWithShow = true;
};

class TPlaySequence : public TPlayItem {
 public:
  QEL_CLASSNAME(TPlaySequence)
  TPlaySequence(TQelMusicPlayer* player, TPlayList* playList, bool syncMode);
  void Dispose() override;
  void Stop(bool Force) override;
  void ChannelReady(TQelChannel* Channel) override;
  void Sync(double t, bool Playing) override;
  void Schedule(double p);

  std::vector<TQelChannel*> Channels;
  TPlayList* PlayList;
  int32_t NextItem = 0;
  bool Started = false;
  bool FreeRunning;
  double StartClock = 0.0;
  double SeqStart = 0.0;
  double SeqOffset = 0.0;
};

class TQelMusicPlayer : public foundation::TQelThread {
 public:
  QEL_CLASSNAME(TQelMusicPlayer)
  // Builds the plan and asks CreatePlayerHook for a device player (kept only
  // when ready). The show must be given (assertion). The threads are not
  // started.
  explicit TQelMusicPlayer(TMusicShow* Source);
  void Dispose() override;

  // Starts the loader, then this thread; Stop stops both and lets the items
  // and the device player go.
  bool Start() override;
  void Stop() override;

  void SetPlaying(bool Playing);
  // Time and EndTime below 0 are left unchanged. Waits until the player
  // thread handled it; when the thread does not run, the caller handles it.
  void SetTime(double Time, double EndTime);
  void SetEndTime(double EndTime) { SetTime(-2147483647.0, EndTime); }
  double GetTime();
  double GetVolume();
  void SetVolume(double Volume);
  bool IsReady() const { return Ready; }
  double GetRequestedEndTime() const { return RequestedEndTime; }

  // One step without its 5 ms pause (the thread runs Step = RunStep + pause).
  void RunStep();
  void Step() override;
  void HandleMessage(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param,
                     bool& handled) override;

  // The device clock: the device player's audio clock, or the tick clock
  // (modulo 2^32) without one.
  double DeviceClock();

  TMusicShow* Source = nullptr;
  TQelMusicSource* MusicSource = nullptr;
  TMusicPlayer* DevicePlayer = nullptr;
  TMusicLoader* Loader = nullptr;
  TChannelOperator ChannelOperator;
  std::vector<TPlayItem*> Items;
  TPlaySequence* CurrentSequence = nullptr;
  int32_t NextId = 0;
  int32_t CommentSlide = 0;
  std::atomic<bool> Playing{false};
  double PlannedUntil = 0.0;
  std::atomic<bool> Ready{false};
  std::atomic<double> EndTime{2147483647.0};
  std::atomic<double> RequestedEndTime{2147483647.0};

 private:
  friend class TPlayItem;
  void SetClockRunning(bool Run);
  void Reset(double Time, bool StopItems);
  void Plan(double From, double To, bool Reset);
  int32_t SlideAt(double t);
  void HandleSetTime(const TTimeData& data);

  // Guards the show clock (ClockRunning, ClockValue): the player's thread
  // writes it, the engine reads it to place the show in time. A leaf.
  std::mutex Lock;
  bool ClockRunning = false;
  double ClockValue = 0.0;
};

}  // namespace audio
