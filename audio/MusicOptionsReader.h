// Reads a "Music" object block of the project (the show's main music, or a
// slide's music) into composite descriptions: one for its music tracks, one
// for its sound comment mixed with the slide's video sounds. Items linked to
// slides, cross-fades, pauses, fades, volumes and volume curves become item
// time lines and volume envelopes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"

namespace audio {

class TCompositeParams;

// One video sound collected for a slide's comment.
struct TVideoAudio {
  std::u16string FileName;
  int32_t Start = 0;     // ms on the comment's time line
  int32_t Offset = 0;    // ms into the file
  int32_t Duration = 0;  // ms
  float Volume = 1.0f;
};

class TMusicOptionsReader : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMusicOptionsReader)
  // With a project INI: the slide starts ("Times") and the slides' linked
  // audio; without one both stay empty.
  TMusicOptionsReader(const foundation::TIniFile* Ini, const foundation::TIniList* MainSection);

  void ReadMusic(const foundation::TIniList* MusicBlock, const std::vector<TVideoAudio>& VideoAudio,
                 bool RandomForbidden);

  // The random source of track shuffles (a number below 16,776,960); by
  // default seeded from the tick clock at the first read.
  std::function<uint32_t()> Random;

  std::u16string MusicName;
  int32_t MusicDuration = 0;
  bool IsRepeat = false;
  bool IsRandom = false;
  std::u16string CommentName;
  int32_t CommentDuration = 0;
  std::vector<int32_t> SlideStarts;
  int32_t SlideCount = 0;
  int32_t AllowedLength = 0;

 private:
  struct Entry {
    const foundation::TIniList* Block;  // an item, or a track marker
    bool Marker;
  };
  struct ItemKeys;
  void Flatten(const foundation::TIniList* block, std::vector<Entry>& out, bool& hadComment,
               const std::vector<TVideoAudio>& video);
  void BuildComment(const foundation::TIniList* comment, const std::vector<TVideoAudio>& video);
  int32_t LinkedStart(const foundation::TIniList* item) const;
  void ReadItem(TCompositeParams* params, const foundation::TIniList* item, const foundation::TIniList* next,
                int32_t link, int32_t limit, int32_t& P, int32_t& E);
  int32_t RandomKey();

  int32_t RandomCounter = 0;
  std::vector<int32_t> RandomKeys;
  std::unordered_map<std::u16string, int32_t> LinkedAudio;
};

// What the video sound collection needs of the transition effects: their
// number and the transition time of an index, ms.
struct TTransitionTimes {
  int32_t Count = 0;
  std::function<int32_t(int32_t index)> Time;
};

// The sounds of a slide's video objects (recursively, not inside key
// frames), on the time line of the slide's comment: a video's own keys, or
// its clip's in the "Tracks" list. Muted videos, speeded ones, GIFs, clips
// that began on an earlier slide and clips already collected are left out.
std::vector<TVideoAudio> CollectVideoAudio(const foundation::TIniFile* Ini, const TTransitionTimes& Effects,
                                           const foundation::TIniList* SlideSection);

// Adds the volume curve of "VolumeParams" (pairs "x:y", x in samples at
// 44,100 per second, y in 16.16 fixed point) as points relative to the item's
// start, up to its duration.
void AddVolumeCurve(class TVolumeParams* envelope, std::u16string_view text, int32_t startTime, int32_t duration);

}  // namespace audio
