// The show's music plan: one main playlist for the whole show and, for every
// slide, its times and its sound comment, read from the project's "Music"
// blocks through the music options reader, with the show-wide options (sync
// mode, repeat, whether comments end with their slide).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"

namespace audio {

// A slide's place on the show's time line, ms.
struct TMusicSlideTimes {
  double Start = 0.0;
  double End = 0.0;
};

// What the music plan and the music player need of the show: its project
// INI, its slide sections and the slide time table. The show source answers
// it; tests give a table.
class TMusicShow : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMusicShow)
  virtual foundation::TIniFile* GetIni() = 0;
  virtual int32_t GetSlideCount() = 0;
  // Slide k of the time line; k at or past the slide count is a slide of a
  // later pass (k mod count, shifted by whole show lengths).
  virtual TMusicSlideTimes GetSlideTimes(int32_t k) = 0;
  virtual double ShowLength() = 0;
  // The show repeats ("opt_repeat" is "repeat").
  virtual bool IsRepeat() = 0;
  // The section of slide n (1-based), or nullptr.
  virtual foundation::TIniList* GetSlideSection(int32_t n) = 0;
  // The transition effects (the effect manager's): their number and the
  // transition time of an index, ms.
  virtual int32_t GetEffectCount() { return 0; }
  virtual int32_t GetTransitionTime(int32_t) { return 0; }
  // A stream of the show's entry, or nullptr (names of music files and
  // carried plug-ins).
  virtual foundation::TStream* OpenEntry(const std::u16string&) { return nullptr; }
};

struct TMusicItemInfo {
  std::u16string FileName;
  double Start = 0.0;
  double Offset = 0.0;
  double Duration = 0.0;
};

class TPlayList : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPlayList)
  explicit TPlayList(bool isRepeat) : IsRepeat(isRepeat) {}
  void AddTrack(const std::u16string& FileName, double Duration);
  // Entry i mod Count, its start shifted by (i div Count) lengths; an empty
  // playlist gives an empty entry. i must not be negative (assertion).
  TMusicItemInfo GetItem(int32_t i) const;
  void Clear();

  std::vector<TMusicItemInfo> Items;
  int32_t Count = 0;
  double Length = 0.0;
  bool IsRepeat = false;
};

class TSlideMusicInfo : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TSlideMusicInfo)
  TMusicSlideTimes Times;
  std::u16string SoundFile;
  double FileOffset = 0.0;
  double Duration = 0.0;
};

class TQelMusicSource : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelMusicSource)
  // Builds the plan; the show must be given (assertion). Keeps a reference.
  explicit TQelMusicSource(TMusicShow* Source);
  void Dispose() override;

  int32_t GetSlideInfoCount() const { return static_cast<int32_t>(SlideInfos.size()); }
  TSlideMusicInfo* GetSlideInfo(int32_t i) const { return SlideInfos.at(static_cast<size_t>(i)); }
  // For k < 0 nullptr and 0; else the info of k mod count, AbsStart the
  // slide's start in pass k div count.
  TSlideMusicInfo* GetSlideInfoAt(int32_t k, double& AbsStart) const;
  double ShowLength() const;

  TMusicShow* Source = nullptr;
  foundation::TIniFile* Ini = nullptr;
  bool Enabled = true;
  bool SyncMode = false;
  bool MusicRepeat = false;
  bool CutComments = true;
  std::vector<TSlideMusicInfo*> SlideInfos;
  TPlayList* MainPlayList = nullptr;

 private:
  void Build();
  void BuildSlideInfos();
};

}  // namespace audio
