// Key frames: loading from project blocks, the cursors that find the key
// frames around a time, interpolation, time scaling and reloads. Expected
// values are worked out from the interpolation formula in the test.
#include "showmodel/kvQelKeyFrames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "tests/showmodel/KeyFrameFixture.h"

namespace {

using namespace showmodel;
using kftest::Loaded;

constexpr TObjectTimes kTimes{4000, 1000, 1000};

// Linear interpolation between (t0, a) and (t1, b), held outside.
double Lin(double t, double t0, double a, double t1, double b) {
  if (t <= t0) return a;
  if (t >= t1) return b;
  return a + (b - a) * (t - t0) / (t1 - t0);
}

const char* kTwoFrames = R"(object Photo: Image
  GUID={A}
  object K0: KeyPoint
    Time=0
    Opacity=0
    Position=0,0
    ScaleX=50
    ScaleY=50
    Angle=0
  end
  object K1: KeyPoint
    Time=1000
    Opacity=100
    Position=50,-20
    ScaleX=150
    ScaleY=100
    Angle=90
  end
end
)";

TEST(KeyFrames, InterpolatesEveryParameterBetweenTwoKeyFrames) {
  Loaded l(kTwoFrames, kTimes);
  ASSERT_EQ(l.Props->KeyFrames.Count(), 2);
  for (double t : {-100.0, 0.0, 1.0, 250.0, 500.0, 999.0, 1000.0, 1500.0, 4000.0}) {
    EXPECT_NEAR(l.At(t, kpOpacity), Lin(t, 0, 0, 1000, 100), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpPosX], Lin(t, 0, 0, 1000, 50), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpPosY], Lin(t, 0, 0, 1000, -20), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpScaleX], Lin(t, 0, 50, 1000, 150), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpScaleY], Lin(t, 0, 50, 1000, 100), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpAngle], Lin(t, 0, 0, 1000, 90), 1e-4) << t;
    // Keys no key frame writes keep their defaults: Pos.Z 0, Zoom 100.
    EXPECT_EQ(l.Props->Values[kpPosZ], 0.0f);
    EXPECT_EQ(l.Props->Values[kpFrameS], 100.0f);
  }
}

TEST(KeyFrames, AnyOrderOfTimesGivesTheSameValues) {
  Loaded l(kTwoFrames, kTimes);
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) times.push_back(-500 + i * 27.3);
  std::mt19937 rng(7);
  std::shuffle(times.begin(), times.end(), rng);
  for (double t : times) EXPECT_NEAR(l.At(t, kpOpacity), Lin(t, 0, 0, 1000, 100), 1e-4) << t;
}

TEST(KeyFrames, GroupsSwitchParametersOnAndOff) {
  // K0 animates opacity and position, K1 only scale, K2 opacity again: each
  // group interpolates between the key frames that enable it.
  Loaded l(R"(object P: Image
  GUID={A}
  object K0: KeyPoint
    Time=0
    grps=3
    Opacity=20
    Position=10,10
    ScaleX=999
  end
  object K1: KeyPoint
    Time=1000
    grps=4
    ScaleX=80
    Opacity=999
  end
  object K2: KeyPoint
    Time=2000
    grps=1
    Opacity=60
  end
end
)",
           kTimes);
  for (double t : {0.0, 500.0, 1000.0, 1500.0, 2000.0, 3000.0}) {
    EXPECT_NEAR(l.At(t, kpOpacity), Lin(t, 0, 20, 2000, 60), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpPosX], 10, 1e-6);
    EXPECT_NEAR(l.Props->Values[kpScaleX], 80, 1e-6);  // one enabling key frame: its value throughout
    EXPECT_EQ(l.Props->Values[kpScaleY], 100.0f);      // the key is missing: the default
    EXPECT_EQ(l.Props->Values[kpAngle], 0.0f);         // group never enabled
    EXPECT_EQ(l.Props->Values[kpFrameS], 100.0f);
  }
  // After the last position key frame its fraction runs 0 to 1 towards the span's end.
  l.At(2500, kpOpacity);
  EXPECT_NEAR(l.Props->Cursors[kgPos].Fraction, 2500.0 / 4000.0, 1e-9);
  EXPECT_NEAR(l.Props->Cursors[kgOpacity].Fraction, 500.0 / 2000.0, 1e-9);
}

TEST(KeyFrames, OriginsAndTimeTexts) {
  struct Row {
    const char* origin;
    const char* time;
    double expected;
  } rows[] = {
      {"SlideBegin", "250", 250},    {"prevEFFECTend", "250", 1250}, {"NextEffectBegin", "250.9", 3000 + 250},
      {"SlideEnd", "-500", 3500},    {"SlideEnd", "abc", 4000},      {"Nowhere", "70", 70},
      {"NextEffectBegin", "", 3000}, {"SlideBegin", ".5", 0},
  };
  for (const Row& r : rows) {
    Loaded l(std::string("object P: Image\n  GUID={A}\n  object K: KeyPoint\n    Origin=") + r.origin +
                 "\n    Time=" + r.time + "\n  end\nend\n",
             TObjectTimes{4000, 1000, 1000});
    ASSERT_EQ(l.Props->KeyFrames.Count(), 1);
    EXPECT_EQ(l.Props->KeyFrames.Items[0]->Time, r.expected) << r.origin << " " << r.time;
  }
}

TEST(KeyFrames, ObjectTypesDecideWhichGroupsAKeyFrameMayEnable) {
  struct Row {
    const char* type;
    const char* extra;
    int32_t groups;
  } rows[] = {
      {"Image", "", 255},     {"Image", "AnimEnable=1", 127},
      {"Video", "", 255},     {"Box", "", 63},
      {"Frame", "", 63},      {"ViewPort", "", 63},
      {"Whatever", "", 63},   {"Text", "", 127},
      {"Button", "", 127},    {"Splitter", "", 0},
      {"MaskStencil", "", 0}, {"MaskContent", "", 0},
  };
  for (const Row& r : rows) {
    Loaded l(std::string("object P: ") + r.type + "\n  GUID={A}\n  " + r.extra +
                 "\n  object K: KeyPoint\n    Opacity=10\n  end\nend\n",
             kTimes);
    ASSERT_EQ(l.Props->KeyFrames.Count(), 1);
    EXPECT_EQ(l.Props->KeyFrames.Items[0]->Groups, r.groups) << r.type << " " << r.extra;
  }
  // "grps" that is not a number counts as all groups; a Splitter never reads it.
  Loaded bad("object P: Image\n  GUID={A}\n  object K: KeyPoint\n    grps=x\n  end\nend\n", kTimes);
  EXPECT_EQ(bad.Props->KeyFrames.Items[0]->Groups, 255);
  Loaded split("object P: Splitter\n  GUID={A}\n  object K: KeyPoint\n    Opacity=10\n  end\nend\n", kTimes);
  EXPECT_EQ(split.At(0, kpOpacity), 100.0f);
}

TEST(KeyFrames, SortingKeepsBlockOrderForEqualTimes) {
  Loaded l(R"(object P: Image
  GUID={A}
  object A: KeyPoint
    Time=500
    Opacity=10
  end
  object B: KeyPoint
    Time=500
    Opacity=20
  end
  object C: KeyPoint
    Time=100
    Opacity=30
  end
end
)",
           kTimes);
  ASSERT_EQ(l.Props->KeyFrames.Count(), 3);
  std::vector<std::u16string> names;
  for (TQelKeyFrame* k : l.Props->KeyFrames.Items) names.push_back(foundation::TIniItem::GetName(k->Node));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"C", u"A", u"B"}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(l.Props->KeyFrames.Items[size_t(i)]->Index, i);
  EXPECT_TRUE(l.Props->OrderChanged);
  // From C (100) to A (500); A and B share a time, so after 500 B holds.
  EXPECT_NEAR(l.At(300, kpOpacity), Lin(300, 100, 30, 500, 10), 1e-4);
  EXPECT_NEAR(l.At(500, kpOpacity), 20, 1e-4);
  EXPECT_NEAR(l.At(800, kpOpacity), 20, 1e-4);
}

TEST(KeyFrames, KeyFramesCloserThanATenThousandthGiveFractionZero) {
  Loaded l(R"(object P: Image
  GUID={A}
  object A: KeyPoint
    Time=0
    Opacity=10
  end
  object B: KeyPoint
    Time=1000
    Opacity=20
  end
  object C: KeyPoint
    Time=1000
    Opacity=90
  end
end
)",
           kTimes);
  EXPECT_NEAR(l.At(999, kpOpacity), Lin(999, 0, 10, 1000, 20), 1e-4);
  EXPECT_NEAR(l.At(1000, kpOpacity), 90, 1e-4);
  // Within the zero-length span B..C the earlier values hold.
  l.Props->KeyFrames.Items[2]->Time = 1000.00005;
  l.Props->MarkKeyFramesChanged();
  EXPECT_NEAR(l.At(1000, kpOpacity), 20, 1e-4);
  EXPECT_EQ(l.Props->Cursors[kgOpacity].InvSpan, 0.0);
}

TEST(KeyFrames, ZoomCompensatesFrameOffsets) {
  struct Row {
    const char* zoom1;
    double t, frameX;
  } rows[] = {
      // Zoom 100 -> 200, Frame.X 0 -> 50: at 0.5 zoom 150, d = 0.5, x = (1 x 50 x 0.5) / 0.5.
      {"200", 500, (1.0 * 50 * 0.5) / 0.5},
      {"200", 250, (1.0 * 50 * 0.25) / 0.25},
      {"200", 1000, 50},
      {"100", 500, 25},  // constant zoom: linear
  };
  for (const Row& r : rows) {
    Loaded l(std::string("object P: Image\n  GUID={A}\n  object A: KeyPoint\n    Time=0\n    Zoom=100\n    "
                         "OffsX=0\n  end\n  object B: KeyPoint\n    Time=1000\n    Zoom=") +
                 r.zoom1 + "\n    OffsX=50\n  end\nend\n",
             kTimes);
    EXPECT_NEAR(l.At(r.t, kpFrameX), r.frameX, 1e-4) << r.zoom1 << " " << r.t;
  }
  // Zoom 100 -> 300, Frame.Y 10 -> 40, unit scale 0.01: the compensated rule.
  Loaded l(
      "object P: Image\n  GUID={A}\n  object A: KeyPoint\n    Time=0\n    Zoom=100\n    OffsY=10\n  end\n"
      "  object B: KeyPoint\n    Time=1000\n    Zoom=300\n    OffsY=40\n  end\nend\n",
      kTimes);
  const double f = 0.3, z = 100 + 200 * f, d = z * 0.01 - 1;
  const double want = (((300 * 0.01 - 1) * 40 - (100 * 0.01 - 1) * 10) * f + (100 * 0.01 - 1) * 10) / d;
  EXPECT_NEAR(l.At(300, kpFrameY), want, 1e-3);
}

TEST(KeyFrames, ScaledTimesStillAnimate) {
  // The slide plays twice as long as authored: key frames at 0 and 1000 move
  // to 0 and 2000, and the next evaluation must rebuild its cursors.
  Loaded l(kTwoFrames, TObjectTimes{4000, 1000, 1000});
  ScaleObjectTimes(l.Props.Get(), TObjectTimes{8000, 1000, 1000}, 2.0f);
  EXPECT_EQ(l.Props->KeyFrames.Items[1]->Time, 2000);
  EXPECT_EQ(l.Props->TimeScale, 2.0);
  for (double t : {0.0, 500.0, 1000.0, 1999.0, 2000.0, 5000.0}) {
    EXPECT_NEAR(l.At(t, kpOpacity), Lin(t, 0, 0, 2000, 100), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpScaleX], Lin(t, 0, 50, 2000, 150), 1e-4) << t;
  }
  // A single key frame that enables colour grading keeps it after scaling.
  Loaded one("object P: Image\n  GUID={A}\n  object K: KeyPoint\n    Time=100\n    Opacity=40\n  end\nend\n", kTimes);
  EXPECT_EQ(one.Props->Cursors[kgColor].Last, 0);
  ScaleObjectTimes(one.Props.Get(), TObjectTimes{8000, 1000, 1000}, 2.0f);
  EXPECT_EQ(one.Props->Cursors[kgColor].Last, -1);  // reset by scaling...
  EXPECT_EQ(one.At(300, kpOpacity), 40.0f);
  EXPECT_EQ(one.Props->Cursors[kgColor].Last, 0);  // ...and rebuilt by the next evaluation
  // A scale too small to use counts as 1; times round half to even.
  Loaded odd(
      "object P: Image\n  GUID={A}\n  object K: KeyPoint\n    Time=5\n  end\n"
      "  object L: KeyPoint\n    Time=15\n  end\nend\n",
      kTimes);
  ScaleObjectTimes(odd.Props.Get(), kTimes, 0.5f);
  EXPECT_EQ(odd.Props->KeyFrames.Items[0]->Time, 2);
  EXPECT_EQ(odd.Props->KeyFrames.Items[1]->Time, 8);
  ScaleObjectTimes(odd.Props.Get(), kTimes, 0.00001f);
  EXPECT_EQ(odd.Props->TimeScale, 1.0);
}

TEST(KeyFrames, ChildrenAreEvaluatedWithTheirParentAndReusedByGuid) {
  const std::string text = R"(object Root: Frame
  GUID={R}
  object A: Image
    GUID={A}
    object K: KeyPoint
      Time=0
      Opacity=0
    end
    object L: KeyPoint
      Time=1000
      Opacity=100
    end
  end
  object B: Text
    GUID={B}
  end
end
)";
  Loaded l(text, kTimes);
  ASSERT_EQ(l.Props->Children.size(), 2u);
  TQelObjectProps* a = l.Props->Children[0];
  TQelObjectProps* b = l.Props->Children[1];
  EXPECT_EQ(a->Guid, u"{A}");
  EXPECT_EQ(a->Parent, l.Props.Get());
  EXPECT_EQ(b->IndexInParent, 1);
  EvaluateObjectProps(l.Props.Get(), 400, true);
  EXPECT_NEAR(a->Values[kpOpacity], 40, 1e-4);
  TQelKeyFrame* k0 = a->KeyFrames.Items[0];
  // Reloading the same block keeps every object.
  LoadObjectProps(l.Props.Get(), kftest::FirstObject(l.Ini.Get()), kTimes);
  EXPECT_EQ(l.Props->Children[0], a);
  EXPECT_EQ(l.Props->Children[1], b);
  EXPECT_EQ(a->KeyFrames.Items[0], k0);
  // Swapped children are found by GUID.
  std::string swapped = text;
  swapped.replace(swapped.find("{A}"), 3, "{X}");
  swapped.replace(swapped.find("{B}"), 3, "{A}");
  swapped.replace(swapped.find("{X}"), 3, "{B}");
  auto ini = kftest::ParseIni("[S]\n" + swapped);
  LoadObjectProps(l.Props.Get(), kftest::FirstObject(ini.Get()), kTimes);
  EXPECT_EQ(l.Props->Children[0], b);
  EXPECT_EQ(l.Props->Children[1], a);
  EXPECT_EQ(a->IndexInParent, 1);
}

TEST(KeyFrames, AChildObjectWithoutGuidFailsTheLoad) {
  kftest::StartUnits();
  auto ini = kftest::ParseIni("[S]\nobject P: Frame\n  GUID={P}\n  object C: Image\n    Name=x\n  end\nend\n");
  auto props = foundation::MakeRef<TQelObjectProps>();
  try {
    LoadObjectProps(props.Get(), kftest::FirstObject(ini.Get()), kTimes);
    FAIL() << "no assertion";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), u"QelObject GUID not Assigned");
  }
}

TEST(KeyFrames, AFailedReloadReleasesTheChildrenNoBlockClaimed) {
  Loaded l(
      "object R: Frame\n  GUID={R}\n  object A: Image\n    GUID={A}\n  end\n  object B: Image\n    GUID={B}\n"
      "  end\nend\n",
      kTimes);
  TQelObjectProps* b = l.Props->Children[1];
  b->_AddRef();  // watched
  auto ini = kftest::ParseIni(
      "[S]\nobject R: Frame\n  GUID={R}\n  object X: Image\n    GUID={X}\n  end\n"
      "  object Y: Image\n  end\nend\n");
  EXPECT_THROW(LoadObjectProps(l.Props.Get(), kftest::FirstObject(ini.Get()), kTimes), foundation::EAssertionFailed);
  EXPECT_EQ(b->RefCount(), 1);  // released by the failed load, not leaked
  EXPECT_EQ(b->Parent, nullptr);
  b->Free();
}

TEST(KeyFrames, DeeplyNestedObjectsFailCleanly) {
  kftest::StartUnits();
  std::string text = "[S]\n";
  for (int i = 0; i < 2000; ++i) text += "object O: Frame\nGUID={" + std::to_string(i) + "}\n";
  for (int i = 0; i < 2000; ++i) text += "end\n";
  auto ini = kftest::ParseIni(text);
  auto props = foundation::MakeRef<TQelObjectProps>();
  EXPECT_THROW(LoadObjectProps(props.Get(), kftest::FirstObject(ini.Get()), kTimes), foundation::EAssertionFailed);
}

TEST(KeyFrames, SurplusKeyFramesAndChildrenAreReleasedOnReload) {
  Loaded l(kTwoFrames, kTimes);
  auto ini =
      kftest::ParseIni("[S]\nobject Photo: Image\n  GUID={A}\n  object K0: KeyPoint\n    Opacity=30\n  end\nend\n");
  TQelKeyFrame* k1 = l.Props->KeyFrames.Items[1];
  k1->_AddRef();  // watched: the list's reference must go
  LoadObjectProps(l.Props.Get(), kftest::FirstObject(ini.Get()), kTimes);
  EXPECT_EQ(l.Props->KeyFrames.Count(), 1);
  EXPECT_EQ(k1->RefCount(), 1);
  EXPECT_EQ(k1->Owner, nullptr);
  k1->Free();
  EXPECT_EQ(l.At(700, kpOpacity), 30.0f);
  EXPECT_EQ(l.Props->Values[kpScaleX], 100.0f);
}

TEST(KeyFrames, ReleasingAKeyFrameTakesItOutOfItsOwnersList) {
  Loaded l(R"(object P: Image
  GUID={A}
  object A: KeyPoint
    Time=0
    Opacity=0
  end
  object B: KeyPoint
    Time=500
    Opacity=100
  end
  object C: KeyPoint
    Time=1000
    Opacity=20
  end
end
)",
           kTimes);
  EXPECT_NEAR(l.At(750, kpOpacity), Lin(750, 500, 100, 1000, 20), 1e-4);
  l.Props->KeyFrames.Items[1]->Free();  // the list's reference
  ASSERT_EQ(l.Props->KeyFrames.Count(), 2);
  EXPECT_EQ(l.Props->KeyFrames.Items[1]->Index, 1);
  EXPECT_EQ(foundation::TIniItem::GetName(l.Props->KeyFrames.Items[1]->Node), u"C");
  EXPECT_NEAR(l.At(750, kpOpacity), Lin(750, 0, 0, 1000, 20), 1e-4);
  l.Props->KeyFrames.Items[0]->Free();
  EXPECT_EQ(l.Props->Cursors[kgOpacity].Last, -1);  // fewer than two: cursors reset
  EXPECT_EQ(l.At(100, kpOpacity), 20.0f);
}

TEST(KeyFrames, SetParamValueIsSeenByTheNextEvaluation) {
  Loaded l(kTwoFrames, kTimes);
  TQelKeyFrame* k1 = l.Props->KeyFrames.Items[1];
  SetParamValue(k1, kpOpacity, 60.25f);
  EXPECT_EQ(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(k1->Node, u"Opacity")), u"60.25");
  EXPECT_NEAR(l.At(500, kpOpacity), 30.125, 1e-4);
  SetParamValue(k1, kpPosY, -7.5f);
  EXPECT_EQ(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(k1->Node, u"Position")), u"50,-7.5");
  EXPECT_NEAR(l.At(500, kpPosY), -3.75, 1e-4);
  // A pair component beyond the list grows it; the group bit and "grps" follow.
  Loaded m("object P: Image\n  GUID={A}\n  object K: KeyPoint\n    grps=1\n    CenterPos=\n  end\nend\n", kTimes);
  TQelKeyFrame* k = m.Props->KeyFrames.Items[0];
  SetParamValue(k, kpCenterY, 12.0f);
  EXPECT_EQ(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(k->Node, u"CenterPos")), u",12");
  EXPECT_EQ(k->Groups, 1 | 16);
  EXPECT_EQ(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(k->Node, u"grps")), u"17");
  EXPECT_EQ(m.At(0, kpCenterY), 12.0f);
  EXPECT_EQ(m.Props->Values[kpCenterX], 0.0f);  // an empty component reads as 0
}

TEST(KeyFrames, GetParamValueReportsWhetherTheGroupIsOn) {
  Loaded l(
      "object P: Image\n  GUID={A}\n  object K: KeyPoint\n    grps=1\n    Opacity=junk\n    ScaleX=5\n"
      "    Position=7,x\n  end\nend\n",
      kTimes);
  TQelKeyFrame* k = l.Props->KeyFrames.Items[0];
  float v = -1;
  EXPECT_TRUE(GetParamValue(k, kpOpacity, v));
  EXPECT_EQ(v, 100.0f);  // not a number: the default
  EXPECT_FALSE(GetParamValue(k, kpScaleX, v));
  EXPECT_EQ(v, 100.0f);
  EXPECT_FALSE(GetParamValue(nullptr, kpPosX, v));
  k->Groups = 3;
  EXPECT_TRUE(GetParamValue(k, kpPosY, v));
  EXPECT_EQ(v, 0.0f);  // an unparsable pair component reads as 0
  EXPECT_THROW(GetParamValue(k, 15, v), foundation::EAssertionFailed);
}

TEST(KeyFrameNames, ParametersGroupsAndObjectTypes) {
  InitKeyFrames();
  struct Row {
    const char* name;
    int32_t group, param;
  } rows[] = {
      {"Pos.X", 1, 1},       {"pos.y", 1, 2},    {"Pos.T", 1, -1},   {"Pos.t", 1, -1},    {"Opacity", 0, 0},
      {"Opacity.T", 0, -1},  {"Frame.S", 7, 12}, {"Angle", 3, 6},    {"Angle.Y", 3, 8},   {"Pos.W", 1, -1},
      {"Nothing.X", -1, -1}, {"", -1, -1},       {"Color.T", 6, -1}, {"Center.Y", 4, 10}, {"Scale.X.T", -1, -1},
  };
  for (const Row& r : rows) {
    int32_t param = 99;
    EXPECT_EQ(ParseParamName(r.name, param), r.group) << r.name;
    EXPECT_EQ(param, r.param) << r.name;
  }
  struct TypeRow {
    const char16_t* word;
    uint8_t id;
  } types[] = {{u"AniImage", 5}, {u"box", 2},          {u"BUTTON", 7},       {u"Frame", 1},
               {u"Image", 4},    {u"MaskStencil", 10}, {u"maskcontent", 11}, {u"Splitter", 3},
               {u"Text", 6},     {u"Video", 8},        {u"ViewPort", 9},     {u"Viewport", 9},
               {u"", 0},         {u"Bx", 0},           {u"\u00C9", 0},       {u"Maskother", 0}};
  for (const TypeRow& t : types) EXPECT_EQ(ObjectTypeFromName(t.word), t.id);
  // The derived tables.
  EXPECT_EQ(GroupParamRange[kgColor].First, 255);
  EXPECT_EQ(GroupParamRange[kgColor].End, 0);
  EXPECT_EQ(GroupParamRange[kgPos].First, 1);
  EXPECT_EQ(GroupParamRange[kgPos].End, 4);
  EXPECT_EQ(ParamPair[kpPosY], 0);
  EXPECT_EQ(ParamPair[kpCenterX], 1);
  EXPECT_EQ(ParamPair[kpOpacity], -1);
}

TEST(KeyFrames, AspectCorrectsTheUnitScales) {
  Loaded l("object P: Image\n  GUID={A}\n  EnableAspect=1\n  Aspect=2\nend\n", kTimes);
  ApplyAspect(l.Props.Get(), 100, 100);  // 1 <= 2: Y grows
  EXPECT_FLOAT_EQ(l.Props->UnitScaleY, 100 * (2.0f / 100) * 0.01f);
  EXPECT_FLOAT_EQ(l.Props->UnitScaleX, 0.01f);
  ApplyAspect(l.Props.Get(), 400, 100);  // 4 > 2: X grows
  EXPECT_FLOAT_EQ(l.Props->UnitScaleX, (400.0f / (100 * 2)) * 0.01f);
  EXPECT_FLOAT_EQ(l.Props->UnitScaleY, 0.01f);
  ApplyAspect(l.Props.Get(), 0, 100);
  EXPECT_FLOAT_EQ(l.Props->UnitScaleX, 0.01f);
}

TEST(KeyFrames, NoKeyFrameKeepsDefaultsAndDeltaTimesScale) {
  Loaded l("object P: Image\n  GUID={A}\n  DeltaTime1=250\n  DeltaTime2=x\nend\n", kTimes);
  for (int32_t p = 0; p < KeyFrameParamCount; ++p) EXPECT_EQ(l.At(500, p), KeyFrameParams[p].Default);
  EXPECT_EQ(GetDeltaTime(l.Props.Get(), 0), 250);
  EXPECT_EQ(GetDeltaTime(l.Props.Get(), 1), 0);
  ScaleObjectTimes(l.Props.Get(), kTimes, 2.0f);
  EXPECT_EQ(GetDeltaTime(l.Props.Get(), 0), 500);
  EXPECT_EQ(GetNodeValue(l.Props.Get(), u"DeltaTime1", u"d"), u"250");
  EXPECT_EQ(GetNodeValue(l.Props.Get(), u"Missing", u"d"), u"d");
}

}  // namespace
