// The show source seen by the show music: the project INI, the slide time
// table, the slide sections, the effect manager's transition times and the
// show's entries, answered by showmodel's TQelSource.
#pragma once

#include "audio/QelMusicSource.h"
#include "showmodel/kvQelSource2.h"

namespace audio {

class TQelShowMusic : public TMusicShow {
 public:
  QEL_CLASSNAME(TQelShowMusic)
  // Holds a reference to the source, which must be given (assertion).
  explicit TQelShowMusic(showmodel::TQelSource* Source);
  void Dispose() override;

  foundation::TIniFile* GetIni() override;
  int32_t GetSlideCount() override;
  TMusicSlideTimes GetSlideTimes(int32_t k) override;
  double ShowLength() override;
  bool IsRepeat() override;
  foundation::TIniList* GetSlideSection(int32_t n) override;
  int32_t GetEffectCount() override;
  int32_t GetTransitionTime(int32_t index) override;
  foundation::TStream* OpenEntry(const std::u16string& name) override;

  showmodel::TQelSource* Source = nullptr;
};

}  // namespace audio
