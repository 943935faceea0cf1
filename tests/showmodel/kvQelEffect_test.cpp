// Transition records and the slide-time helpers.
#include "showmodel/kvQelEffect.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using showmodel::TQelEffect;
using showmodel::TSlideTimes;

TEST(QelEffect, SmoothLineBelowATenthIsTheHardEdge) {
  struct Row {
    double in, stored;
  } rows[] = {{0.05, 0.001}, {0.1, 0.1}, {0.35, 0.35}, {0, 0.001}, {-3, 0.001}, {std::nan(""), 0.001}, {2, 2}};
  for (const Row& r : rows) {
    auto e = foundation::MakeRef<TQelEffect>(2);
    EXPECT_DOUBLE_EQ(e->SmoothLine, 0.001);
    e->SetSmoothLine(r.in);
    EXPECT_DOUBLE_EQ(e->SmoothLine, r.stored) << r.in;
  }
}

TEST(QelEffect, CloneCopiesTheArraysAndSharesTheDescription) {
  auto node = foundation::MakeRef<foundation::TRefObject>();
  auto e = foundation::MakeRef<TQelEffect>(9);
  e->Options = {true, false, true};
  e->IntParams = {1, 2};
  e->FloatParams = {0.5f};
  e->VariantCount = 3;
  e->SetDescription(node.Get());
  auto copy = foundation::TRef<TQelEffect>::Adopt(e->Clone());
  copy->Options[0] = false;
  copy->IntParams[1] = 7;
  EXPECT_TRUE(e->Options[0]);
  EXPECT_EQ(e->IntParams[1], 2);
  EXPECT_EQ(copy->Description, node.Get());
  EXPECT_EQ(copy->Kind, 9);
  EXPECT_EQ(copy->VariantCount, 3);
  // Each record holds its own reference: the node outlives both.
  const int live = foundation::LiveObjectCount();
  e.Reset();
  copy.Reset();
  EXPECT_EQ(foundation::LiveObjectCount(), live - 2);
}

TEST(QelEffect, FilterReleasesItsEffect) {
  const int live = foundation::LiveObjectCount();
  {
    auto f = foundation::MakeRef<showmodel::TQelFilter>();
    f->SetEffect(new TQelEffect(1));
    f->SetEffect(new TQelEffect(2));  // the first is released
    EXPECT_EQ(f->Effect->Kind, 2);
    EXPECT_EQ(foundation::LiveObjectCount(), live + 2);
  }
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

TEST(SlideTimes, Helpers) {
  TSlideTimes t{5000, 9000, 1000, 1500};
  EXPECT_EQ(showmodel::GetSlideOutEnd(t), 10500);
  EXPECT_EQ(showmodel::GetSlideInEnd(t), 6000);
  EXPECT_EQ(showmodel::GetLoopDuration(t), 3000);
  showmodel::IncTime(t.Start, 12000);
  EXPECT_EQ(t.Start, 17000);
}

TEST(SlideTimes, CurrentSlideIsTheEarlierOneOnABoundary) {
  const TSlideTimes rows[] = {{0, 4000, 0, 0}, {4000, 4000, 0, 0}, {4000, 9000, 0, 0}};
  struct Row {
    double t;
    int32_t slide;
  } cases[] = {{-1, -1}, {0, 0}, {3999.5, 0}, {4000, 0}, {4000.5, 2}, {9000, 2}, {9001, 2}, {std::nan(""), -1}};
  for (const Row& c : cases) EXPECT_EQ(showmodel::CurrentSlideIn(rows, 3, 0, c.t), c.slide) << c.t;
  // Rows of later slides carry their first index.
  EXPECT_EQ(showmodel::CurrentSlideIn(rows, 3, 10, 4000), 10);
  EXPECT_EQ(showmodel::CurrentSlideIn(rows, 0, 10, 4000), 9);
}

}  // namespace

// ---- The effect record of the draw manager's transition factory ----

#include <algorithm>
#include <string>

#include "foundation/kvIni.h"
#include "render3d/ColorGradeTexture.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelObject.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/showmodel/ShowFixture.h"
#include "transitions/kvDrawEffects.h"

namespace {

using transitions::TDrawFilter;

// What distinguishes the filters the factory makes: the class and the
// fields its choice sets.
std::string Describe(TDrawFilter* f) {
  if (!f) return "null";
  std::string s = f->ClassName();
  auto num = [](double v) {
    std::string t = std::to_string(v);
    t.erase(t.find_last_not_of('0') + 1);
    if (!t.empty() && t.back() == '.') t.pop_back();
    return t;
  };
  if (auto* p = dynamic_cast<transitions::TPushFilter*>(f)) return s + " dir " + num(p->Direction);
  if (auto* p = dynamic_cast<transitions::TSlideFilter*>(f)) return s + " dir " + num(p->Direction);
  if (auto* p = dynamic_cast<transitions::TTwoSlidesEffect*>(f)) return s + " dir " + num(p->Direction);
  if (auto* p = dynamic_cast<transitions::TOverturnEffect*>(f)) return s + " kind " + num(p->Kind);
  if (auto* p = dynamic_cast<transitions::TBroomEffect*>(f))
    return s + " dir " + num(p->Direction) + (p->Reverse ? " reversed" : "");
  if (auto* p = dynamic_cast<transitions::TClockEffect*>(f)) return s + (p->Mirror ? " mirrored" : "");
  if (auto* p = dynamic_cast<transitions::TRollEffect2*>(f))
    return s + " shape " + num(p->Shape) + " kind " + num(p->RollKind);
  if (auto* p = dynamic_cast<transitions::TRandomFilter*>(f))
    return s + " " + num(p->Columns) + "x" + num(p->Rows) + " spread " + num(p->Spread);
  if (dynamic_cast<transitions::TAlphaFilter*>(f)) return s;
  return s + (f->Reverse ? " reversed" : "");
}

TEST(EffectRecord, EachProjectEffectBlockMakesTheFilterItsOptionsName) {
  // Each block as a project writes it, and the filter the factory must make
  // of it.
  struct Row {
    const char* Block;
    const char* Filter;
  } rows[] = {
      {"push\n  direction=0100", "TPushFilter dir 2"},
      {"push\n  direction=0001", "TPushFilter dir 3"},
      {"slide\n  direction=1000", "TSlideFilter dir 4"},
      {"swap\n  direction=0010", "TTwoSlidesEffect dir 1"},
      {"flip\n  direction=0001", "TOverturnEffect kind 3"},
      {"flip\n  direction=0100\n  spin_center=1", "TOverturnEffect kind 6"},
      {"hourhand\n  action=01\n  direction=1", "TBroomEffect dir 8 reversed"},
      {"hourhand\n  action=10\n  direction=01", "TBroomEffect dir 1"},
      {"hourhand\n  action=01\n  direction=00001", "TClockEffect mirrored"},
      {"shapes\n  action=10\n  direction=100", "TCircleFilter reversed"},
      {"shapes\n  action=01\n  direction=010", "TRhombFilter"},
      {"shapes\n  action=10\n  direction=001", "TSquareFilter reversed"},
      {"gates\n  direction=1", "THLines reversed"},
      {"gates\n  direction=000001", "TVLines"},
      {"page\n  direction=01", "TVLines"},
      {"mosaic\n  cols=4\n  rows=3\n  appearence=100", "TRandomFilter 4x3 spread 1000"},
      {"mosaic\n  cols=2\n  rows=5\n  appearence=99", "TRandomFilter 2x5 spread 99"},
      {"mosaic\n  cols=2000000000\n  rows=3000\n  appearence=5", "TRandomFilter 256x256 spread 5"},
      {"curling\n  action=10\n  direction=00000001", "TRollEffect2 shape 15 kind 3"},
      {"curling\n  action=01\n  direction=1", "TRollEffect2 shape 15 kind 5"},
      {"curling\n  action=10\n  direction=01", "TRollEffect2 shape 14 kind 2"},
      {"dissolve\n  checked=1", "TAlphaFilter"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Block);
    showtest::Show s(std::string("[Main]\nobject TheEffect: AnEffect\n  time=1000\nend\n[Times]\nopt_slidescount=1\n"
                                 "opt_synchpos1=5000\n[Slide1]\nobject TheEffect: ") +
                     r.Block + "\nend\n");
    double duration = 0, smooth = 0;
    auto effect = foundation::TRef<TQelEffect>::Adopt(s.Source->GetSlideTransition(0, duration, smooth));
    ASSERT_TRUE(effect);
    render3d::TEffectRecord record;
    showmodel::FillEffectRecord(*effect, record);
    EXPECT_EQ(record.Kind, effect->Kind);
    TDrawFilter* f = render3d::CreateTransitionFilter(640, 480, &record, duration, nullptr);
    EXPECT_EQ(Describe(f), r.Filter);
    if (f) f->Free();
  }
}

TEST(EffectRecord, TransitionStateTakesTheFiltersLengthSmoothnessAndPosition) {
  auto filter = foundation::MakeRef<showmodel::TQelFilter>();
  filter->Duration = 1500;
  filter->SmoothLine = 0.25f;
  render3d::TEffectRecord record;
  render3d::TTransitionState state;
  showmodel::FillTransitionState(*filter, 300, record, state);
  EXPECT_EQ(state.Effect, nullptr);  // no effect: no transition
  auto* effect = new TQelEffect(9);
  effect->IntParams = {1, 0x302010};
  effect->FloatParams = {0.5f, 0.125f};
  effect->Options = {true, false, true};
  filter->SetEffect(effect);
  showmodel::FillTransitionState(*filter, 300, record, state);
  ASSERT_EQ(state.Effect, &record);
  EXPECT_EQ(record.Kind, 9);
  EXPECT_EQ(record.IntParams, effect->IntParams);
  EXPECT_EQ(record.FloatParams, effect->FloatParams);
  EXPECT_EQ(record.Options, effect->Options);
  EXPECT_EQ(state.Duration, 1500);
  EXPECT_EQ(state.EdgeFactor, 0.25f);
  EXPECT_EQ(state.Position, 300);
}

// The slide-effect hook receives a custom effect's definition node.
int g_hookCalls = 0;
foundation::TRefObject* g_seenSection = nullptr;
TDrawFilter* TestSlideEffectHook(render3d::TDrawItem*, foundation::TRefObject* section) {
  ++g_hookCalls;
  g_seenSection = section;
  return new transitions::TPushFilter(4);
}

TEST(EffectRecord, CustomEffectsHandTheirDefinitionNodeToTheSlideEffectHook) {
  auto section = foundation::MakeRef<foundation::TIniSection>();
  auto effect = foundation::MakeRef<TQelEffect>(12);
  effect->Options = {true};
  effect->SetDescription(section.Get());
  render3d::TEffectRecord record;
  showmodel::FillEffectRecord(*effect, record);
  EXPECT_EQ(record.CustomSlide, section.Get());
  render3d::SetSlideEffectHook(&TestSlideEffectHook);
  g_hookCalls = 0;
  TDrawFilter* f = render3d::CreateTransitionFilter(64, 48, &record, 1000, nullptr);
  EXPECT_EQ(Describe(f), "TPushFilter dir 4");
  EXPECT_EQ(g_hookCalls, 1);
  EXPECT_EQ(g_seenSection, section.Get());
  f->Free();
  render3d::SetSlideEffectHook(nullptr);
  // Only a custom effect hands its node over.
  auto named = foundation::MakeRef<TQelEffect>(7);
  named->SetDescription(section.Get());
  showmodel::FillEffectRecord(*named, record);
  EXPECT_EQ(record.CustomSlide, nullptr);
}

// A linear filter with its factors set directly.
class TFixedLinear : public showmodel::TLinearGenerator {
 public:
  bool Prepare() override { return true; }
};

TEST(EffectRecord, GradeTexturesApplyTheObjectsFilterChainOnceInstalled) {
  showmodel::InitQelObjects();
  render3d::TFilterChainApplier apply = render3d::GetFilterChainApplier();
  ASSERT_NE(apply, nullptr);
  auto ramp = foundation::TRef<imaging::TSysBitmap>::Adopt(imaging::CreateSysBitmap(256, 2, imaging::pfA8R8G8B8));
  auto fill = [&] {
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 256; ++x)
        reinterpret_cast<uint32_t*>(ramp->Row(y))[x] = 0xFF000000u | uint32_t(x) << 16 | uint32_t(x) << 8 | uint32_t(x);
  };
  fill();
  auto linear = foundation::MakeRef<TFixedLinear>();
  for (int ch = 0; ch < 3; ++ch) {
    linear->M[ch] = 2;
    linear->O[ch] = -10;
  }
  apply(linear.Get(), ramp.Get(), 256, 1);
  for (int32_t x = 0; x < 256; x += 15) {
    const uint32_t p = reinterpret_cast<uint32_t*>(ramp->Row(0))[x];
    const int want = std::clamp(2 * x - 10, 0, 255);
    EXPECT_EQ(int(p & 0xFF), want) << x;
    EXPECT_EQ(int((p >> 16) & 0xFF), want) << x;
    EXPECT_EQ(reinterpret_cast<uint32_t*>(ramp->Row(1))[x] & 0xFF, uint32_t(x)) << x;  // outside the rows given
  }
  // An object that is not a filter changes nothing.
  fill();
  auto other = foundation::MakeRef<foundation::TIniSection>();
  apply(other.Get(), ramp.Get(), 256, 2);
  EXPECT_EQ(reinterpret_cast<uint32_t*>(ramp->Row(0))[100] & 0xFF, 100u);
}

}  // namespace
