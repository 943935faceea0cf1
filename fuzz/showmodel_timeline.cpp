// Builds the show source of arbitrary project text and asks it everything the
// engine, the slide producer and the music plan ask: slide times (also of
// later passes and before the show), the slide at many times, every slide's
// transition in random and in fixed mode, end actions and programs, and the
// object actions the text holds. Then the slides themselves: the producer
// builds each (the first 12, the pseudo-slide and a later pass) with its
// object tree, evaluates it at a few times, preloads it (transitions drawn by
// an effect slide build that slide) and draws it into a counting drawer
// (backgrounds with hostile sizes), and a slide cache follows the show time.
// The effect definitions' slide sections are built with their user
// properties. The show's files are an empty namespace: nothing is read. A decreasing sync position is refused with
// an assertion; anything else must hold: no crash, no hang, a slide search
// that agrees with the times it answers, and no object left alive.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/PinnedFonts.h"
#include "showmodel/Startup.h"
#include "showmodel/kvQelActions.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "showmodel/kvSlideProducer.h"

using namespace foundation;
using fuzzing::Check;

namespace {

// Object actions of every object block, at most a few hundred.
void ParseActions(TIniList* list, int& budget, int depth) {
  if (depth > 64) return;
  for (int32_t i = 0; i < list->GetCount() && budget > 0; ++i) {
    TIniItem* item = list->GetChild(i);
    if (auto* sub = dynamic_cast<TIniList*>(item)) {
      ParseActions(sub, budget, depth + 1);
    } else if (item && item->IsKey()) {
      --budget;
      const showmodel::TQelActionInfo a = showmodel::ParseAction(TIniItem::GetValue(item));
      Check(a.Action >= 0 && a.Action <= 18);
      Check(a.Action == showmodel::acGotoSlide || a.Index == 0);
    }
  }
}

void AskTimeline(showmodel::TQelSource* s) {
  const int32_t n = s->SlideCount;
  showmodel::TSlideTimes t;
  for (int32_t i : {-3, -2, -1, 0, 1, n - 1, n, 2 * n + 1, 2147483647}) {
    const int32_t r = s->GetSlideTimes(i, t);
    Check(r >= -1);
    Check(!(t.End < t.Start));
  }
  // The slide search agrees with the times it answers.
  const double length = s->ShowLength;
  for (double time : {-1.0, 0.0, 0.5, 1.0, length * 0.5, length, length + 0.5, length * 2.5, 1e12, std::nan("")}) {
    const int32_t i = s->SlideIndexAt(time);
    Check(i >= -1);
    if (i >= 0 && i < 2147483647 && n > 0 && length > 0 && std::isfinite(time)) {
      s->GetSlideTimes(i, t);
      Check(t.Start <= time && time <= t.End);
    }
  }
  if (n < 1) return;
  for (bool fixed : {false, true}) {
    s->FixedEffects = fixed;
    for (int32_t i = 0; i < n && i < 64; ++i) {
      double duration = -1, smooth = -1;
      showmodel::TQelEffect* e = s->GetSlideTransition(i, duration, smooth);
      Check(e ? duration > 0 : duration == 0);
      if (e) {
        Check(e->VariantCount >= 1);
        e->Free();
      }
    }
  }
  for (int32_t i = 0; i < n && i < 64; ++i) {
    double loop = -1;
    s->GetSlideEndAction(i, loop);
    Check(loop >= 0);
    std::u16string app;
    s->GetSlideRunApp(i, app);
  }
}

// A file namespace without files.
class TNoFiles : public container::TFileSource {
 public:
  QEL_CLASSNAME(TNoFiles)
  foundation::TStream* DoOpen(const std::u16string&) override { return nullptr; }
};

// Counts what the slides draw; a tiled background may ask for at most
// 255 x 255 tiles.
class TCountingDrawer : public showmodel::TQelDrawer {
 public:
  int64_t Calls = 0;
  bool IsReady() override { return true; }
  void DrawItemWithEffects(showmodel::TQelObject* Item) override {
    ++Calls;
    Item->Draw(this);
  }
  void PrepareObjectTexture(imaging::TImage*, const showmodel::TObjectDrawParams&) override { ++Calls; }
  void DrawObjectImage(imaging::TImage*, const showmodel::TAffineFrame3D&, showmodel::TFloatPoint,
                       showmodel::T3DPoint, showmodel::T3DPoint, const showmodel::TObjectDrawParams&) override {
    ++Calls;
  }
  void DrawBox(showmodel::T3DPoint, showmodel::T3DPoint, showmodel::T3DPoint, const showmodel::TBoxDrawParams&) override {
    ++Calls;
  }
  void DrawFrameBorder(const showmodel::TAffineFrame3D&, showmodel::TFloatPoint, showmodel::TFloatPoint,
                       showmodel::TFloatPoint, uint32_t, float, bool) override {
    ++Calls;
  }
  showmodel::TColorGradeTexture* CreateColorGradeTexture(bool) override { return nullptr; }
  void PrepareImageTexture(imaging::TImage*, const imaging::TImageDrawParams&) override {}
  void DrawImage(imaging::TImage*, showmodel::T3DPoint, showmodel::TFloatPoint, showmodel::T3DPoint,
                 showmodel::T3DPoint, const imaging::TImageDrawParams&) override {}
};

// Every definition's effect-slide sections (a few variants each).
void BuildEffectSections(showmodel::TQELEffectManager* m) {
  const int32_t count = m->GetDefinitionCount();
  for (int32_t k = 0; k < count && k < 32; ++k) {
    showmodel::TEffectProp* prop = m->GetDefinition(k);
    if (!prop) continue;
    const int32_t variants = prop->GetVariantCount();
    for (int32_t v = 0; v < variants && v < 4; ++v)
      if (foundation::TIniSection* section = m->BuildEffectSlideSection(prop, v)) section->Free();
  }
}

void BuildSlides(showmodel::TQelSource* s) {
  if (!s->PlayError().empty()) return;
  auto producer = TRef<showmodel::TSlideProducer>::Adopt(new showmodel::TSlideProducer(s, false, {}, nullptr));
  producer->SetTiming(TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0)).Get());
  producer->SetRenderSize(640, 360, 100, 100, (s->SlideCount & 1) != 0);
  const int32_t n = s->SlideCount;
  std::vector<int32_t> indexes{-1};
  for (int32_t i = 0; i < n && i < 12; ++i) indexes.push_back(i);
  indexes.push_back(n + 1);
  for (int32_t i : indexes) {
    try {
      TRef<showmodel::TDrawContainer> c = TRef<showmodel::TDrawContainer>::Adopt(producer->PrepareSlide(i));
      for (double t : {c->Times.Start, (c->Times.Start + c->Times.End) / 2, c->Times.End + c->Times.EffectOut})
        c->SetShowTime(t);
      if (c->Slide) {
        TCountingDrawer drawer;
        c->Slide->Preload(&drawer);
        c->Slide->Draw(&drawer);
        // Two backgrounds of capped tiles, and the objects.
        Check(drawer.Calls < 2 * 65025 + 100000);
      }
    } catch (const EAssertionFailed&) {
      // Object blocks without a GUID, or nested too deep.
    }
  }
  try {
    TRef<showmodel::TSlideCache> cache =
        TRef<showmodel::TSlideCache>::Adopt(new showmodel::TSlideCache(producer.Get(), false, 2));
    cache->Sleep = [](uint32_t) {};
    for (double t : {0.0, s->ShowLength * 0.3, s->ShowLength * 0.6, s->ShowLength * 1.2})
      for (int pass = 0; pass < 3; ++pass) cache->Update(t);
    Check(cache->Count() >= 1 && cache->Count() <= 3);
  } catch (const EAssertionFailed&) {
  }
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static const bool started = [] {
    // Preloading makes bitmaps (shadows, placeholders), as the player does
    // after its start-up.
    // Texts lay out on one pinned face: falling back through every face of
    // the system for each input would make the seed replay alone outlast
    // the run's time bound.
    static testsupport::ScopedFontBackend fonts({testsupport::kLiberationSans});
    showmodel::StartShowModel();
    return true;
  }();
  (void)started;
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TRef<TMemoryStream> stream = TRef<TMemoryStream>::Adopt(fuzzing::StreamOf(data, size));
  if (!LoadIniFromStream(ini.Get(), stream.Get())) return 0;
  // Hostile slide counts are explored at a scale that keeps each input quick.
  if (IniReadInteger(ini.Get(), u"Times", u"opt_slidescount", 0) > 5000) return 0;
  // The show's files are never read here.
  static container::TFileAccessor* accessor = [] {
    auto* files = new TNoFiles();
    auto* a = new container::TFileAccessor(files);
    files->Free();
    return a;
  }();
  int budget = 300;
  ParseActions(ini.Get(), budget, 0);
  std::mt19937 engine{uint32_t(size)};
  try {
    TRef<showmodel::TQelSource> source = TRef<showmodel::TQelSource>::Adopt(new showmodel::TQelSource(
        accessor, ini.Get(), false, [&engine](int32_t range) {
          return range <= 1 ? 0 : std::uniform_int_distribution<int32_t>(0, range - 1)(engine);
        }));
    AskTimeline(source.Get());
    if (source->EffectManager) BuildEffectSections(source->EffectManager);
    source->FixedEffects = true;
    BuildSlides(source.Get());
  } catch (const EAssertionFailed&) {
    // "Incorrect time": sync positions that go back.
  }
  return 0;
}
