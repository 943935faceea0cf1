// The music loader thread: the show music player never opens channels
// itself. It describes each channel it needs and hands it to the loader
// (event 1), which opens it on the device player and answers (event 2);
// released channels travel to the loader the same way (event 3) to be freed
// off the player thread.
#pragma once

#include <atomic>
#include <functional>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/MusicGeneral.h"
#include "foundation/kvIni.h"
#include "foundation/kvQelThreads.h"

namespace audio {

class TChannelOperator;

// Opens an entry of the show by name (nullptr when there is none).
using TShowEntryOpener = std::function<foundation::TStream*(const std::u16string& name)>;

// Names of files on disk rather than in the show start with this.
inline constexpr std::u16string_view kLoadFromDisk = u"LoadFromDisk:";

inline constexpr uint32_t kLoaderOpenChannel = 1;
inline constexpr uint32_t kPlayerChannelOpen = 2;
inline constexpr uint32_t kLoaderFreeChannel = 3;

class TQelChannel : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelChannel)
  explicit TQelChannel(TChannelOperator* op) : Operator(op) {}
  void Dispose() override;

  // Player thread: queue the channel to start at the end of this step; stop
  // it (taken out of the queue when it had not started yet).
  void StartChannel();
  void StopChannel();

  TChannelOperator* Operator = nullptr;
  TChannel* DeviceChannel = nullptr;
  bool Stopped = false;
  std::atomic<int32_t> OwnerId{-1};
  bool Ready = false;
  bool Playing = false;
  std::u16string FileName;
  int32_t FileOffset = 0;
  double StartTime = 0.0;
  double EndTime = 0.0;
};

// Carries one channel reference between the threads.
class TChannelContainer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TChannelContainer)
  explicit TChannelContainer(TQelChannel* channel) : Channel(channel) {
    if (Channel) Channel->_AddRef();
  }
  void Dispose() override;
  TQelChannel* Channel = nullptr;
};

// The channels started in the current player step, started together at its end.
class TChannelOperator {
 public:
  void Append(TQelChannel* channel) { Queue.push_back(channel); }
  bool Remove(TQelChannel* channel);
  // Every queued channel with a device channel plays with a 10 ms fade-in.
  void StartQueued();
  std::vector<TQelChannel*> Queue;  // no references: the items hold them
};

class TMusicLoader : public foundation::TQelThread {
 public:
  QEL_CLASSNAME(TMusicLoader)
  // DevicePlayer may be nullptr (channels then open without a device channel).
  TMusicLoader(TMusicPlayer* DevicePlayer, foundation::TThreadEventList* PlayerEvents);
  void Dispose() override;

  // Gives the device player the loader's stream events: names after
  // "LoadFromDisk:" open files on disk, other names the show's entries.
  void SetEntryOpener(const TShowEntryOpener& open);

  void HandleMessage(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param,
                     bool& handled) override;
  // One pass without the pause: handles the queued events.
  void RunStep();
  void Step() override;

  TMusicPlayer* DevicePlayer = nullptr;
  foundation::TThreadEventList* PlayerEvents = nullptr;
};

// The decoder plug-ins a show may carry: the entries named by Main/
// "opt_wmapath" and Main/"opt_oggpath" are written into the process's work
// folder as "qelwma.dll" and "qelogg.dll" and started, each once per
// process. A plug-in that cannot be started is forgotten and traced
// ("WMA INITIALIZE FAILED", "OGG INITIALIZE FAILED").
void StartPlugins(const TShowEntryOpener& open, const foundation::TIniFile* ini);
// Unit end: stops the started plug-ins and deletes the work folder.
void StopPlugins();
// The started plug-ins' paths and the work folder (empty when none).
std::u16string StartedWmaPlugin();
std::u16string StartedOggPlugin();
std::u16string PluginWorkFolder();

}  // namespace audio
