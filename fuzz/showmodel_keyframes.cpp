// Loads the object blocks of arbitrary INI text as property trees with their
// key frames, modifiers and filters, evaluates them at several times (in
// order and back again), scales the times, grades a lookup table through
// every filter chain (a slice of a volume table) and reloads. A load may fail with an assertion (a child
// without "GUID", nesting too deep); anything else must hold.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/kpExceptions.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/SysBitmap.h"
#include "showmodel/Startup.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObjectMod.h"

using namespace foundation;
using namespace showmodel;

namespace {

using fuzzing::Check;

void Grade(TQelObjectProps* p, imaging::TSysBitmap* table, int depth) {
  if (depth > 300) return;
  for (TQelKeyFrame* k : p->KeyFrames.Items) {
    if (!k->Mods.empty()) continue;  // a chain with modifiers is never a colour chain
    try {
      if (ChainKind(k->Filters) != fkValue) GradeLookupTable(k->Filters, table, lutVolume);
    } catch (const EAssertionFailed&) {
    }
  }
  for (TQelObjectProps* c : p->Children) Grade(c, table, depth + 1);
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static const bool started = [] {
    StartShowModel();
    return true;
  }();
  (void)started;
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TRef<TMemoryStream> s = TRef<TMemoryStream>::Adopt(fuzzing::StreamOf(data, size));
  if (!LoadIniFromStream(ini.Get(), s.Get())) return 0;
  static imaging::TSysBitmap* table = imaging::CreateSysBitmap(32, 64, imaging::pfA8R8G8B8);
  const TObjectTimes times{5000, 700, 900};
  int blocks = 0;
  for (int32_t i = 0; i < ini->GetSectionList()->GetCount() && blocks < 8; ++i) {
    TIniSection* section = ini->GetSectionList()->GetSection(i);
    for (TIniObject* o = TIniList::FirstObject(section); o && blocks < 8;
         o = TIniList::NextObject(section, o), ++blocks) {
      TRef<TQelObjectProps> props = MakeRef<TQelObjectProps>();
      try {
        LoadObjectProps(props.Get(), o, times);
      } catch (const EAssertionFailed&) {
        continue;
      }
      for (double t : {0.0, 350.0, 2500.0, 7000.0, 100.0, -50.0}) EvaluateObjectProps(props.Get(), t, true);
      for (TQelKeyFrame* k : props->KeyFrames.Items) Check(k->Owner == props.Get());
      for (size_t j = 1; j < props->KeyFrames.Items.size(); ++j)
        Check(props->KeyFrames.Items[j - 1]->Time <= props->KeyFrames.Items[j]->Time);
      ScaleObjectTimes(props.Get(), TObjectTimes{10000, 700, 900}, 2.0f);
      for (double t : {0.0, 1200.0, 9000.0}) EvaluateObjectProps(props.Get(), t, true);
      Grade(props.Get(), table, 0);
      try {
        LoadObjectProps(props.Get(), o, times);
      } catch (const EAssertionFailed&) {
        continue;
      }
      EvaluateObjectProps(props.Get(), 1234.0, true);
    }
  }
  return 0;
}
