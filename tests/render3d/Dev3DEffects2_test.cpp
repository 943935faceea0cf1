// The transition factory: which filter each effect kind and option set
// gives, with the parameters read from the effect record.
#include "render3d/Dev3DEffects2.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <typeinfo>

#include "transitions/kvDrawEffects.h"

using namespace render3d;
using namespace transitions;
using foundation::TRect;

namespace {

TEffectRecord Effect(int32_t kind, std::initializer_list<int> flags, std::vector<int32_t> ints = {},
                     std::vector<float> floats = {}) {
  TEffectRecord e;
  e.Kind = kind;
  e.Options.assign(12, false);
  for (int f : flags) e.Options[size_t(f)] = true;
  e.IntParams = std::move(ints);
  e.FloatParams = std::move(floats);
  return e;
}

struct Made {
  TDrawFilter* F;
  explicit Made(TDrawFilter* f) : F(f) {}
  ~Made() {
    if (F) F->Free();
  }
};

TDrawFilter* Create(const TEffectRecord& e, int32_t w = 200, int32_t h = 100) {
  return CreateTransitionFilter(w, h, &e, 1000, nullptr);
}

struct KindCase {
  int32_t Kind;
  std::initializer_list<int> Flags;
  const std::type_info* Type;  // null: no filter
  bool Reverse;
};

TEST(TransitionFactory, EachKindAndOptionGivesItsFilter) {
  const KindCase cases[] = {
      {1, {}, &typeid(TAlphaFilter), false},
      {2, {6}, &typeid(TClockEffect), false},
      {2, {}, nullptr, false},
      {3, {2}, &typeid(TCircleFilter), false},
      {3, {3, 0}, &typeid(TRhombFilter), true},
      {3, {4}, &typeid(TSquareFilter), false},
      {3, {}, nullptr, false},
      {4, {0}, &typeid(THLines), true},
      {4, {1}, &typeid(TVLines), true},
      {4, {2}, &typeid(TDiagLines), true},  // the gate diagonal of direction 1 runs reversed
      {4, {4}, &typeid(THLines), false},
      {4, {5}, &typeid(TVLines), false},
      {4, {7}, &typeid(TDiagLines), false},
      {4, {}, nullptr, false},
      {5, {1}, &typeid(TVLines), false},
      {5, {3}, &typeid(THLines), false},
      {5, {7}, &typeid(TDiagLines), false},
      {5, {}, nullptr, false},
      {6, {}, &typeid(TRandomFilter), false},
      {7, {2}, &typeid(TPushFilter), false},
      {7, {}, nullptr, false},
      {8, {3}, &typeid(TSlideFilter), false},
      {8, {}, nullptr, false},
      {9, {}, &typeid(TRollEffect2), false},
      {10, {0}, &typeid(TOverturnEffect), false},
      {10, {}, nullptr, false},
      {11, {1}, &typeid(TTwoSlidesEffect), false},
      {11, {}, nullptr, false},
      {0, {}, &typeid(TAlphaFilter), false},
      {13, {}, &typeid(TAlphaFilter), false},
  };
  for (const KindCase& c : cases) {
    const TEffectRecord e = Effect(c.Kind, c.Flags, {50, 50, 10, 7}, {0.2f, 0.5f, 10.0f});
    Made m(Create(e));
    SCOPED_TRACE("kind " + std::to_string(c.Kind) + " first flag " +
                 std::to_string(c.Flags.size() ? *c.Flags.begin() : -1));
    if (c.Type == nullptr) {
      EXPECT_EQ(m.F, nullptr);
      continue;
    }
    ASSERT_NE(m.F, nullptr);
    EXPECT_EQ(typeid(*m.F), *c.Type);
    EXPECT_EQ(m.F->Reverse, c.Reverse);
  }
}

TEST(TransitionFactory, BroomCodesFromTheOptions) {
  // code 16: direction 8 reversed; 1: direction 1; 9: direction 1 reversed.
  const struct {
    std::initializer_list<int> Flags;
    int32_t Direction;
    bool Reverse;
  } cases[] = {{{1, 2}, 8, true}, {{3}, 1, false}, {{1, 3}, 1, true}, {{10}, 6, false}, {{9, 8}, 7, false}};
  for (const auto& c : cases) {
    Made m(Create(Effect(2, c.Flags, {}, {0.25f}), 300, 100));
    auto* b = dynamic_cast<TBroomEffect*>(m.F);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Direction, c.Direction);
    EXPECT_EQ(b->Reverse, c.Reverse);
    EXPECT_FLOAT_EQ(b->Offset, (300 + 100) * 0.5f * 0.25f);
  }
  Made clock(Create(Effect(2, {6, 1})));
  auto* c = dynamic_cast<TClockEffect*>(clock.F);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->Mirror);
}

TEST(TransitionFactory, ShapeCentreAndMosaicSpread) {
  Made circle(Create(Effect(3, {2, 0}, {25, 75})));
  auto* cf = dynamic_cast<TCircleFilter*>(circle.F);
  ASSERT_NE(cf, nullptr);
  EXPECT_FLOAT_EQ(cf->CentreX, 0.25f);
  EXPECT_FLOAT_EQ(cf->CentreY, 0.75f);

  Made spread99(Create(Effect(6, {}, {8, 6, 99, 1234})));
  auto* r = dynamic_cast<TRandomFilter*>(spread99.F);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Columns, 8);
  EXPECT_EQ(r->Rows, 6);
  EXPECT_EQ(r->Seed, 1234);
  EXPECT_FLOAT_EQ(r->Spread, 99.0f);
  Made spread100(Create(Effect(6, {}, {8, 6, 100, 1})));
  EXPECT_FLOAT_EQ(dynamic_cast<TRandomFilter*>(spread100.F)->Spread, 1000.0f);
}

TEST(TransitionFactory, DirectionsOfPushSlideFlipAndSwap) {
  const int32_t expected[4] = {2, 4, 1, 3};
  for (int f = 0; f < 4; ++f) {
    Made push(Create(Effect(7, {f})));
    Made slide(Create(Effect(8, {f})));
    Made flip(Create(Effect(10, {f, 4}, {}, {0.3f})));
    Made swap(Create(Effect(11, {f}, {}, {0.3f, 0.1f, 15.0f})));
    EXPECT_EQ(dynamic_cast<TPushFilter*>(push.F)->Direction, expected[f]);
    EXPECT_EQ(dynamic_cast<TSlideFilter*>(slide.F)->Direction, expected[f]);
    EXPECT_EQ(dynamic_cast<TOverturnEffect*>(flip.F)->Kind, expected[f] + 4);  // F4: the second variant
    auto* s = dynamic_cast<TTwoSlidesEffect*>(swap.F);
    EXPECT_EQ(s->Direction, expected[f]);
    EXPECT_FLOAT_EQ(s->Lift, 0.1f);
  }
}

TEST(TransitionFactory, RollParameters) {
  // F1 and F3: reversed, kind 4 + 4; an axis shape. COLORREF 0x00332211.
  Made m(Create(Effect(9, {1, 3, 10, 11}, {1, 0x00332211}, {0.1f, 0.7f}), 500, 300));
  auto* r = dynamic_cast<TRollEffect2*>(m.F);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->Shape, 14);
  EXPECT_EQ(r->RollKind, 8);
  EXPECT_TRUE(r->FullTurn);
  EXPECT_EQ(r->RollRadius, 50);
  EXPECT_TRUE(r->ColourBack);
  EXPECT_EQ(r->BackColour[0], 0x33);  // blue
  EXPECT_EQ(r->BackColour[2], 0x11);  // red
  EXPECT_TRUE(r->Lift);
  EXPECT_FLOAT_EQ(r->Perspective, 0.7f);

  Made diag(Create(Effect(9, {7}, {0, 0}, {0.1f, 1.0f})));
  auto* d = dynamic_cast<TRollEffect2*>(diag.F);
  EXPECT_EQ(d->Shape, 15);
  EXPECT_EQ(d->RollKind, 2);
  EXPECT_FALSE(d->FullTurn);
}

TDrawItem* HookSlide = nullptr;
foundation::TRefObject* HookCustom = nullptr;
TDrawFilter* TestHook(TDrawItem* incoming, foundation::TRefObject* custom) {
  HookSlide = incoming;
  HookCustom = custom;
  auto* f = new TSlideFilter(1);
  return f;
}

TEST(TransitionFactory, SlideEffectsGoThroughTheHookOnceInstalled) {
  TEffectRecord e = Effect(12, {});
  foundation::TRefObject* custom = reinterpret_cast<foundation::TRefObject*>(0x1000);
  e.CustomSlide = custom;
  {
    Made before(Create(e));
    EXPECT_EQ(typeid(*before.F), typeid(TAlphaFilter));
  }
  SetSlideEffectHook(&TestHook);
  auto* slide = reinterpret_cast<TDrawItem*>(0x2000);
  Made after(CreateTransitionFilter(10, 10, &e, 500, slide));
  SetSlideEffectHook(nullptr);
  EXPECT_EQ(typeid(*after.F), typeid(TSlideFilter));
  EXPECT_EQ(HookSlide, slide);
  EXPECT_EQ(HookCustom, custom);
}

TEST(TransitionFactory, MakeInitialisesWithRectDurationAndEdge) {
  EXPECT_EQ(MakeTransitionFilter(TRect{0, 0, 10, 10}, nullptr, 100, 0.1f, nullptr), nullptr);
  const TEffectRecord none = Effect(3, {});
  EXPECT_EQ(MakeTransitionFilter(TRect{0, 0, 10, 10}, &none, 100, 0.1f, nullptr), nullptr);
  const TEffectRecord e = Effect(1, {});
  Made m(MakeTransitionFilter(TRect{10, 20, 410, 320}, &e, 800, 0.05f, nullptr));
  ASSERT_NE(m.F, nullptr);
  EXPECT_FLOAT_EQ(m.F->Duration, 800.0f);
  EXPECT_DOUBLE_EQ(m.F->InvDuration, 1.0 / 800.0);
  EXPECT_FLOAT_EQ(m.F->EdgeWidth, 20.0f);
  EXPECT_EQ(m.F->Rect.Left, 10);
  EXPECT_EQ(m.F->Rect.Bottom, 320);
}

}  // namespace
