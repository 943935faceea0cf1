#include "audio/MusicLoader.h"

#include <algorithm>
#include <mutex>

#include "audio/DllDecoders.h"
#include "audio/MusicTrace.h"
#include "foundation/TickClock.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvTempFolders.h"
#include "platform/os/files.h"

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

void TMusicLoader::SetEntryOpener(const TShowEntryOpener& open) {
  if (!DevicePlayer) return;
  DevicePlayer->SetOpenStreamEvent([open](void*, const std::u16string& name) -> foundation::TStream* {
    if (name.starts_with(kLoadFromDisk)) {
      try {
        return foundation::TFileStream::CreateFromFile(name.substr(kLoadFromDisk.size()), platform::os::GENERIC_READ,
                                                       platform::os::FILE_SHARE_READ, platform::os::OPEN_EXISTING);
      } catch (const foundation::Exception&) {
        return nullptr;
      }
    }
    return open ? open(name) : nullptr;
  });
  DevicePlayer->SetCloseStreamEvent([](void*, foundation::TStream* stream) {
    if (stream) stream->Free();
  });
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
    // A channel never outlasts its file, when the file's length is known
    // (FFmpeg answers -1 for some files: such a channel keeps its end).
    if (channel->DeviceChannel && channel->DeviceChannel->GetDuration() >= 0) {
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

// ---------------------------------------------------------------- plug-ins

namespace {

std::mutex gPluginLock;
std::u16string gWorkFolder;
std::u16string gWmaPath;
std::u16string gOggPath;
bool gWmaTried = false;
bool gOggTried = false;

// Writes the show entry into the work folder under the plug-in's file name
// and starts it; answers the path, or empty.
std::u16string StartPlugin(const TShowEntryOpener& open, const foundation::TIniFile* ini, std::u16string_view key,
                           const char16_t* fileName, bool (*load)(const std::u16string&), const char16_t* failure) {
  std::u16string entry = foundation::IniReadString(ini, u"Main", key, u"");
  if (entry.empty() || !open) return {};
  foundation::TStream* source = open(entry);
  if (!source) return {};
  std::u16string path;
  try {
    if (gWorkFolder.empty()) gWorkFolder = foundation::CreateTempFolder(true);
    if (!gWorkFolder.empty()) {
      path = gWorkFolder + fileName;
      foundation::TFileStream* out = foundation::TFileStream::CreateFromFile(
          path, platform::os::GENERIC_WRITE, 0, platform::os::CREATE_ALWAYS);
      source->SetPosition(0);
      out->CopyFrom(source, source->GetSize());
      out->Free();
    }
  } catch (const foundation::Exception&) {
    path.clear();
  }
  source->Free();
  if (!path.empty() && load(path)) return path;
  MusicTraceLog()->Add(failure);
  return {};
}

}  // namespace

void StartPlugins(const TShowEntryOpener& open, const foundation::TIniFile* ini) {
  std::lock_guard<std::mutex> guard(gPluginLock);
  if (!gWmaTried && !foundation::IniReadString(ini, u"Main", u"opt_wmapath", u"").empty()) {
    gWmaTried = true;
    gWmaPath = StartPlugin(open, ini, u"opt_wmapath", u"qelwma.dll", &LoadWmaDecoder, u"WMA INITIALIZE FAILED");
  }
  if (!gOggTried && !foundation::IniReadString(ini, u"Main", u"opt_oggpath", u"").empty()) {
    gOggTried = true;
    gOggPath = StartPlugin(open, ini, u"opt_oggpath", u"qelogg.dll", &LoadOggDecoder, u"OGG INITIALIZE FAILED");
  }
}

void StopPlugins() {
  std::lock_guard<std::mutex> guard(gPluginLock);
  if (!gWmaPath.empty()) UnloadWmaDecoder();
  if (!gOggPath.empty()) UnloadOggDecoder();
  gWmaPath.clear();
  gOggPath.clear();
  gWmaTried = gOggTried = false;
  if (!gWorkFolder.empty() && !foundation::ReleaseTempFolder(gWorkFolder, nullptr))
    MusicTraceLog()->Add(u"+++++++++++++++++++ Delete Forlder ERROR: " + gWorkFolder);
  gWorkFolder.clear();
}

std::u16string StartedWmaPlugin() {
  std::lock_guard<std::mutex> guard(gPluginLock);
  return gWmaPath;
}

std::u16string StartedOggPlugin() {
  std::lock_guard<std::mutex> guard(gPluginLock);
  return gOggPath;
}

std::u16string PluginWorkFolder() {
  std::lock_guard<std::mutex> guard(gPluginLock);
  return gWorkFolder;
}

}  // namespace audio
