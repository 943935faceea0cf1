// Builds a slide's object tree from each object block of arbitrary INI text
// (every kind but texts, which need fonts), evaluates and places it at
// several times, draws it on a draw manager that discards the calls,
// hit-tests it, measures its extents and reloads it. Pictures come from a
// file source that has no files, so every picture is a placeholder or a
// generated resource. A load may fail with an assertion (a child without
// "GUID", nesting too deep); anything else must hold: finite transforms are
// not required, but no crash, hang or leaked object.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/PinnedFonts.h"
#include "showmodel/Startup.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlideHost.h"

using namespace foundation;
using namespace showmodel;

namespace {

using fuzzing::Check;

class TNoFiles : public container::TFileSource {
 public:
  TStream* DoOpen(const std::u16string&) override { return nullptr; }
};

class TFuzzSlide : public TQelSlideBase {
 public:
  double SlideStart() override { return 0; }
  double GetOriginTime(uint8_t Origin) override { return Origin == koSlideEnd ? 5000 : 0; }
  TFloatPoint GetSize() override { return Size; }
  void UpdateTransform(bool Recurse) override {
    Matrix = {T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0}, T3DPoint{0, 0, 1}};
    FrameValid = InitAffineFrame3D(Frame, {Size.X / 2, Size.Y / 2, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    RectOrigin = {-Size.X / 2, -Size.Y / 2};
    if (Recurse)
      for (TQelObject* c : Children) c->UpdateTransform(true);
  }
};

class TNullDrawer : public TQelDrawer {
 public:
  int64_t Calls = 0;
  bool IsReady() override { return true; }
  void DrawItemWithEffects(TQelObject* Item) override {
    ++Calls;
    Item->Draw(this);
  }
  void PrepareObjectTexture(imaging::TImage* Image, const TObjectDrawParams&) override { Check(Image != nullptr); }
  void DrawObjectImage(imaging::TImage* Image, const TAffineFrame3D&, TFloatPoint, T3DPoint, T3DPoint,
                       const TObjectDrawParams&) override {
    Check(Image != nullptr);
    ++Calls;
  }
  void DrawBox(T3DPoint, T3DPoint, T3DPoint, const TBoxDrawParams& P) override {
    Check(P.FillMode <= 8);
    ++Calls;
  }
  void DrawFrameBorder(const TAffineFrame3D&, TFloatPoint, TFloatPoint, TFloatPoint, uint32_t, float, bool) override {
    ++Calls;
  }
  TColorGradeTexture* CreateColorGradeTexture(bool) override { return nullptr; }
  void PrepareImageTexture(imaging::TImage*, const imaging::TImageDrawParams&) override {}
  void DrawImage(imaging::TImage*, T3DPoint, TFloatPoint, T3DPoint, T3DPoint, const imaging::TImageDrawParams&) override {
    ++Calls;
  }
};

// Every kind of the object unit but texts.
TQelObject* CreateWithoutTexts(uint8_t Type, TQelObject* Parent, TQelObjectProps* Props) {
  return Type == otText ? nullptr : CreateObjectByType(Type, Parent, Props);
}

void Run(TIniObject* block) {
  TRef<TQelObjectProps> props = MakeRef<TQelObjectProps>();
  try {
    LoadObjectProps(props.Get(), block, TObjectTimes{5000, 700, 900});
  } catch (const EAssertionFailed&) {
    return;
  }
  TRef<TNoFiles> source = MakeRef<TNoFiles>();
  TRef<container::TFileAccessor> accessor = MakeRef<container::TFileAccessor>(source.Get());
  TRef<TFuzzSlide> slide = TRef<TFuzzSlide>::Adopt(TQelObject::Create<TFuzzSlide>(nullptr, props.Get()));
  slide->Size = {320, 240};
  slide->Host = new TQelSlideHost(
      accessor.Get(), false, u"", [](int32_t& w, int32_t& h) { w = 64, h = 48; },
      [](const std::u16string&) -> TRefObject* { return nullptr; });
  slide->Host->DesignSize[0] = 320;
  slide->Host->DesignSize[1] = 240;
  TNullDrawer drawer;
  try {
    slide->LoadFromProps(props.Get(), false);
    std::vector<double> times;
    slide->CollectKeyFrameTimes(times);
    slide->ResetExtents();
    for (size_t i = 0; i < times.size() && i < 16; ++i) {
      slide->SetTime(times[i], true);
      slide->AccumulateExtents();
    }
    slide->FinishExtents(false, false);
    slide->Preload(&drawer);
    for (double t : {0.0, 350.0, 2500.0, 7000.0, -50.0, 1e12}) {
      slide->SetTime(t, true);
      slide->Draw(&drawer);
      TFloatPoint local;
      slide->HitTest(160, 120, local, nullptr, nullptr);
      slide->HitTest(0, 0, local, nullptr, nullptr);
    }
    slide->LoadFromProps(props.Get(), true);
    slide->SetTime(1234, true);
    slide->Draw(&drawer);
  } catch (const EAssertionFailed&) {
  }
  Check(slide->Children.size() <= props->Children.size());
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static const bool started = [] {
    // Texts lay out on one pinned face: falling back through every face of
    // the system for each input would make the seed replay alone outlast
    // the run's time bound.
    static testsupport::ScopedFontBackend fonts({testsupport::kLiberationSans});
    StartShowModel();
    // Every kind of object but texts, chained under none of the others.
    CreateObjectHook = CreateWithoutTexts;
    return true;
  }();
  (void)started;
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TRef<TMemoryStream> s = TRef<TMemoryStream>::Adopt(fuzzing::StreamOf(data, size));
  if (!LoadIniFromStream(ini.Get(), s.Get())) return 0;
  int blocks = 0;
  for (int32_t i = 0; i < ini->GetSectionList()->GetCount() && blocks < 4; ++i) {
    TIniSection* section = ini->GetSectionList()->GetSection(i);
    for (TIniObject* o = TIniList::FirstObject(section); o && blocks < 4; o = TIniList::NextObject(section, o), ++blocks)
      Run(o);
  }
  return 0;
}
