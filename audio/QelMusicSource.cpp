#include "audio/QelMusicSource.h"

#include <cmath>

#include "audio/MusicOptionsReader.h"
#include "foundation/kpExceptions.h"

namespace audio {

using foundation::TIniFile;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniObject;
using foundation::TRef;

namespace {

// The first child object named "Music" (without regard to case).
const TIniList* MusicBlockOf(const TIniList* section) {
  if (!section) return nullptr;
  for (TIniObject* o = TIniList::FirstObject(section); o; o = TIniList::NextObject(section, o)) {
    std::u16string n = TIniItem::GetName(o);
    for (char16_t& c : n)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (n == u"music") return o;
  }
  return nullptr;
}

bool HasComment(const TIniList* music) {
  if (!music) return false;
  for (TIniObject* o = TIniList::FirstObject(music); o; o = TIniList::NextObject(music, o)) {
    std::u16string n = TIniItem::GetName(o);
    for (char16_t& c : n)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (n == u"tsoundcomment" && !TIniList::ReadString(o, u"FileName", u"").empty()) return true;
  }
  return false;
}

}  // namespace

void TPlayList::AddTrack(const std::u16string& FileName, double Duration) {
  Items.push_back({FileName, Length, 0.0, Duration});
  Count = static_cast<int32_t>(Items.size());
  Length = std::max(Length, Items.back().Start + Duration);
}

TMusicItemInfo TPlayList::GetItem(int32_t i) const {
  QEL_ASSERT(i >= 0, u"TPlayList.GetItem: negative index");
  if (Count == 0) return {};
  TMusicItemInfo info = Items[static_cast<size_t>(i % Count)];
  int32_t r = i / Count;
  if (r > 0) info.Start += r * Length;
  return info;
}

void TPlayList::Clear() {
  Items.clear();
  Count = 0;
  Length = 0.0;
}

TQelMusicSource::TQelMusicSource(TMusicShow* source) {
  QEL_ASSERT(source != nullptr, u"TQelMusicSource: no source");
  Source = source;
  Source->_AddRef();
  Ini = Source->GetIni();
  MainPlayList = new TPlayList(false);
  try {
    Build();
  } catch (...) {
    Dispose();
    throw;
  }
}

void TQelMusicSource::Build() {
  const TIniList* main = TIniFile::FindSection(Ini, u"Main");
  const TIniList* mainMusic = MusicBlockOf(main);
  if (mainMusic && TIniList::ReadBool(mainMusic, u"music_disable", false)) {
    Enabled = false;
    return;
  }
  TRef<TMusicOptionsReader> reader = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(Ini, main));
  reader->ReadMusic(mainMusic, {}, true);
  if (reader->MusicDuration > 0) MainPlayList->AddTrack(reader->MusicName, reader->MusicDuration);
  MusicRepeat = reader->IsRepeat;
  SyncMode = TIniList::ReadBool(main, u"opt_syncmode", false);
  CutComments = !TIniList::ReadBool(main, u"opt_fullyplaysound", false);
  if (SyncMode && MusicRepeat && ShowLength() < MainPlayList->Length + 200) MusicRepeat = false;
  MainPlayList->IsRepeat = MusicRepeat;
  BuildSlideInfos();
}

void TQelMusicSource::BuildSlideInfos() {
  TRef<TMusicOptionsReader> reader = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(nullptr, nullptr));
  const int32_t count = Source->GetSlideCount();
  for (int32_t n = 1; n <= count; ++n) {
    auto* info = new TSlideMusicInfo;
    SlideInfos.push_back(info);
    info->Times = Source->GetSlideTimes(n - 1);
    const TIniList* section = Source->GetSlideSection(n);
    QEL_ASSERT(section != nullptr, u"Slide not Found");
    const TIniList* music = MusicBlockOf(section);
    TTransitionTimes effects;
    effects.Count = Source->GetEffectCount();
    effects.Time = [this](int32_t index) { return Source->GetTransitionTime(index); };
    const std::vector<TVideoAudio> video = CollectVideoAudio(Ini, effects, section);
    if (!music && video.empty()) continue;
    double spanEnd = info->Times.End;
    if (!CutComments) {
      spanEnd = Source->GetSlideTimes(count - 1).End;
      for (int32_t m = n + 1; m <= count; ++m) {
        if (HasComment(MusicBlockOf(Source->GetSlideSection(m)))) {
          spanEnd = Source->GetSlideTimes(m - 2).End;
          break;
        }
      }
    }
    reader->AllowedLength = static_cast<int32_t>(std::lround(spanEnd - info->Times.Start));
    reader->ReadMusic(music, video, false);
    QEL_ASSERT(reader->CommentDuration >= 0, u"Incorrect music time");
    if (reader->CommentDuration > 0) {
      info->SoundFile = reader->CommentName;
      info->FileOffset = 0.0;
      info->Duration = reader->CommentDuration;
    }
  }
}

void TQelMusicSource::Dispose() {
  foundation::FreeAndNil(MainPlayList);
  for (TSlideMusicInfo* info : SlideInfos) info->Free();
  SlideInfos.clear();
  foundation::FreeAndNil(Source);
  TRefObject::Dispose();
}

TSlideMusicInfo* TQelMusicSource::GetSlideInfoAt(int32_t k, double& AbsStart) const {
  AbsStart = 0.0;
  if (k < 0 || SlideInfos.empty()) return nullptr;
  const auto count = static_cast<int32_t>(SlideInfos.size());
  TSlideMusicInfo* info = SlideInfos[static_cast<size_t>(k % count)];
  AbsStart = (k / count) * ShowLength() + info->Times.Start;
  return info;
}

double TQelMusicSource::ShowLength() const { return Source->ShowLength(); }

}  // namespace audio
