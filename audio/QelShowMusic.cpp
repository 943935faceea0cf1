#include "audio/QelShowMusic.h"

#include "foundation/kpExceptions.h"
#include "showmodel/kvSlideOrder.h"

namespace audio {

TQelShowMusic::TQelShowMusic(showmodel::TQelSource* source) : Source(source) {
  QEL_ASSERT(Source != nullptr, "TQelShowMusic: no show source");
  Source->_AddRef();
}

void TQelShowMusic::Dispose() {
  foundation::FreeAndNil(Source);
  TMusicShow::Dispose();
}

foundation::TIniFile* TQelShowMusic::GetIni() { return Source->Ini; }

int32_t TQelShowMusic::GetSlideCount() { return Source->SlideCount; }

TMusicSlideTimes TQelShowMusic::GetSlideTimes(int32_t k) {
  showmodel::TSlideTimes t{};
  if (k < 0 || Source->GetSlideTimes(k, t) < 0) return {};
  return {t.Start, t.End};
}

double TQelShowMusic::ShowLength() { return Source->ShowLength; }

bool TQelShowMusic::IsRepeat() { return Source->RepeatMode == showmodel::rmRepeat; }

foundation::TIniList* TQelShowMusic::GetSlideSection(int32_t n) {
  // n counts from 1; the show's own lookup (which follows a shared slide
  // order) counts from 0.
  if (n < 1) return nullptr;
  return showmodel::GetSlideSection(Source->Ini, n - 1);
}

int32_t TQelShowMusic::GetEffectCount() { return Source->EffectManager ? Source->EffectManager->SlideCount() : 0; }

int32_t TQelShowMusic::GetTransitionTime(int32_t index) {
  return Source->EffectManager ? Source->EffectManager->GetEffectTime(index) : 0;
}

foundation::TStream* TQelShowMusic::OpenEntry(const std::u16string& name) {
  if (!Source->Accessor) return nullptr;
  try {
    return Source->Accessor->OpenStream(name);
  } catch (const foundation::Exception&) {
    return nullptr;
  }
}

}  // namespace audio
