// Project text to the show's music plan: whatever the text, the plan is
// built (or refused with the assertion of a missing slide section), every
// description it made reads back with the duration it was given, writing a
// description again gives the same items, and the input itself read as a
// description never crashes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/CompositeDecoder.h"
#include "audio/QelMusicSource.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvUTF8.h"
#include "fuzz/FuzzSupport.h"

using namespace foundation;
using fuzzing::Check;

namespace {

// Slides from "Times": slide k spans opt_synchpos<k> to opt_synchpos<k+1>.
class Show : public audio::TMusicShow {
 public:
  explicit Show(TIniFile* ini) : Ini(ini) {
    const TIniList* times = TIniFile::FindSection(ini, u"Times");
    int32_t n = TIniItem::GetInteger(TIniList::FindKey(times, u"opt_slidescount"), 0);
    n = std::clamp(n, 0, 64);
    double start = 0;
    for (int32_t k = 1; k <= n; ++k) {
      std::string key = "opt_synchpos" + std::to_string(k);
      double end = TIniItem::GetFloat(TIniList::FindKey(times, std::u16string(key.begin(), key.end())), start + 1000);
      if (!(end >= start) || end > 1e9) end = start + 1000;
      Times.push_back({start, end});
      start = end;
    }
  }
  TIniFile* GetIni() override { return Ini; }
  int32_t GetSlideCount() override { return static_cast<int32_t>(Times.size()); }
  audio::TMusicSlideTimes GetSlideTimes(int32_t k) override {
    if (Times.empty() || k < 0) return {};
    const auto n = static_cast<int32_t>(Times.size());
    audio::TMusicSlideTimes t = Times[static_cast<size_t>(k % n)];
    t.Start += (k / n) * ShowLength();
    t.End += (k / n) * ShowLength();
    return t;
  }
  double ShowLength() override { return Times.empty() ? 0.0 : Times.back().End; }
  bool IsRepeat() override { return false; }
  TIniList* GetSlideSection(int32_t n) override {
    std::string name = "Slide" + std::to_string(n);
    return TIniFile::FindSection(Ini, std::u16string(name.begin(), name.end()));
  }
  int32_t GetEffectCount() override { return 2; }
  int32_t GetTransitionTime(int32_t index) override { return 500 * index; }

 private:
  TIniFile* Ini;
  std::vector<audio::TMusicSlideTimes> Times;
};

void ReadsBack(const std::u16string& description, double duration) {
  if (description.empty()) return;
  TRef<audio::TCompositeParams> p = MakeRef<audio::TCompositeParams>();
  Check(p->Load(description));
  Check(p->Duration == static_cast<int32_t>(duration));
  TRef<audio::TCompositeParams> again = MakeRef<audio::TCompositeParams>();
  Check(again->Load(p->ToDescription()));
  Check(again->Items.size() == p->Items.size());
  for (audio::TCompositeItem* item : p->Items) item->Envelopes->Compile(std::max(item->Duration, 0));
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TRef<TMemoryStream> s = TRef<TMemoryStream>::Adopt(fuzzing::StreamOf(data, size));
  Check(LoadIniFromStream(ini.Get(), s.Get()));
  TRef<Show> show = MakeRef<Show>(ini.Get());
  try {
    TRef<audio::TQelMusicSource> plan = MakeRef<audio::TQelMusicSource>(show.Get());
    for (const audio::TMusicItemInfo& item : plan->MainPlayList->Items) ReadsBack(item.FileName, item.Duration);
    for (int32_t i = 0; i < plan->GetSlideInfoCount(); ++i)
      ReadsBack(plan->GetSlideInfo(i)->SoundFile, plan->GetSlideInfo(i)->Duration);
  } catch (const EAssertionFailed& e) {
    Check(e.Message().find(u"Slide not Found") != std::u16string::npos);
  }
  // The input as a description.
  std::u16string text;
  if (UTF8BytesToUnicode(data, size, 0, static_cast<int>(size), text)) {
    TRef<audio::TCompositeParams> p = MakeRef<audio::TCompositeParams>();
    p->Load(std::u16string(audio::kCompositeId) + text);
  }
  return 0;
}
