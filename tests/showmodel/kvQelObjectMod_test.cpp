// Formula modifiers on parameters and group times: what a formula can name,
// the order in which modifiers act within one evaluation, and what a broken
// modifier yields.
#include "showmodel/kvQelObjectMod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "showmodel/kvCalcSplines.h"
#include "tests/showmodel/KeyFrameFixture.h"

namespace {

using namespace showmodel;
using kftest::Loaded;

constexpr TObjectTimes kTimes{4000, 1000, 1000};

// Two key frames 0 -> 1000 (opacity 0 -> 100, position (0, 0) -> (100, 40)),
// the first carrying the given "Mod" blocks.
std::string WithMods(const std::string& mods) {
  return "object P: Image\n  GUID={A}\n  object K0: KeyPoint\n    Time=0\n    Opacity=0\n    Position=0,0\n" + mods +
         "  end\n  object K1: KeyPoint\n    Time=1000\n    Opacity=100\n    Position=100,40\n  end\nend\n";
}

std::string Mod(const std::string& dst, const std::string& fn, const std::string& extra = "") {
  return "    object M: Mod\n      dst=" + dst + "\n      fn=" + fn + "\n" + extra + "    end\n";
}

TQelObjectMod* FirstMod(Loaded& l) { return static_cast<TQelObjectMod*>(l.Props->KeyFrames.Items[0]->Mods.at(0)); }

TEST(ObjectMods, ParameterModifierShiftsTheInterpolatedValue) {
  Loaded l(WithMods(Mod("Pos.X", "value+10")), kTimes);
  ASSERT_EQ(KeyFrameModCount(l.Props->KeyFrames.Items[0]), 1);
  for (double t : {0.0, 250.0, 500.0, 999.0}) {
    EXPECT_NEAR(l.At(t, kpPosX), t / 10 + 10, 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpPosY], t / 1000 * 40, 1e-4) << t;  // untouched
  }
}

TEST(ObjectMods, GroupModifierEasesTheGroupWithTheFlattenedCurve) {
  Loaded l(WithMods(Mod("Pos.T", "QSplineGraph(T, 0.42, 0, 0.58, 1)")), kTimes);
  TQelObjectMod* m = FirstMod(l);
  EXPECT_TRUE(m->IsGroupMod);
  EXPECT_EQ(m->GroupIndex, kgPos);
  ASSERT_EQ(m->Commands().Count, 2);
  EXPECT_EQ(m->Commands().Items[1].Func->Name, "QSplineGraph-opt(0.42:0;0.58:1)");
  // The eased fraction, from the direct solver of the same curve.
  TExpressionParser ref;
  for (double t : {0.0, 100.0, 300.0, 500.0, 700.0, 900.0}) {
    ref.Text = "QSplineGraph(" + std::to_string(t / 1000) + ", 0.42, 0, 0.58, 1)";
    ASSERT_TRUE(Compile(ref, 0, int32_t(ref.Text.size()), TCalcResolver{}));
    const double eased = ref.Commands.Items[0].C;
    EXPECT_NEAR(l.At(t, kpPosX), 100 * eased, 0.2) << t;
    EXPECT_NEAR(l.Props->Values[kpOpacity], t / 10, 1e-4) << t;  // other groups keep linear time
  }
  EXPECT_LT(l.At(200, kpPosX), 20 - 5);  // slow start
  EXPECT_GT(l.At(800, kpPosX), 80 + 5);  // slow end
}

TEST(ObjectMods, RndFlickersEveryEvaluation) {
  Loaded l(WithMods(Mod("Opacity", "value*Rnd")), kTimes);
  EXPECT_EQ(FirstMod(l)->Commands().Items[FirstMod(l)->Commands().Count - 2].Func->Name, "Rnd");
  std::set<float> seen;
  for (int i = 0; i < 20; ++i) {
    const float v = l.At(800, kpOpacity);
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 80.0f);
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 15u);
}

TEST(ObjectMods, BlockKeysAreConstantsButLibraryNamesWin) {
  Loaded l(WithMods(Mod("Pos.Y", "Amp*Sin(Pi/2)+value*0", "      Amp=5\n      Sin=7\n")), kTimes);
  EXPECT_NEAR(l.At(500, kpPosY), 5, 1e-5);
  // Amp and Sin(Pi/2) fold into the constant: value, mulc 0, addc 5.
  ASSERT_EQ(FirstMod(l)->Commands().Count, 3);
  EXPECT_EQ(FirstMod(l)->Commands().Items[2].Op, opAddC);
  EXPECT_EQ(FirstMod(l)->Commands().Items[2].C, 5);
}

TEST(ObjectMods, ModifiersOfOneSlotActInLoadOrder) {
  Loaded l(WithMods(Mod("Opacity", "value*2") + Mod("Opacity", "value+1")), kTimes);
  EXPECT_NEAR(l.At(300, kpOpacity), 30 * 2 + 1, 1e-4);
  // A disabled one is skipped.
  Loaded d(WithMods(Mod("Opacity", "value*2", "      Disable=1\n") + Mod("Opacity", "value+1")), kTimes);
  EXPECT_NEAR(d.At(300, kpOpacity), 31, 1e-4);
}

TEST(ObjectMods, GroupModifiersSeeThisEvaluationsValues) {
  // The position group's time follows the opacity of this very evaluation,
  // so a frame's values do not depend on the frame evaluated before it.
  Loaded l(WithMods(Mod("Pos.T", "Opacity/100")), kTimes);
  EXPECT_NEAR(l.At(900, kpPosX), 90, 1e-4);
  EXPECT_NEAR(l.At(500, kpPosX), 50, 1e-4);
  EXPECT_NEAR(l.At(100, kpPosX), 10, 1e-4);
  Loaded fresh(WithMods(Mod("Pos.T", "Opacity/100")), kTimes);
  EXPECT_NEAR(fresh.At(500, kpPosX), 50, 1e-4);
  // A parameter modifier reading another group's time and another parameter.
  Loaded mixed(WithMods(Mod("Pos.Y", "Opacity.T*1000 + Pos.X")), kTimes);
  EXPECT_NEAR(mixed.At(250, kpPosY), 250 + 25, 1e-3);
}

TEST(ObjectMods, BrokenModifiersYieldZeroOrAreIgnored) {
  struct Row {
    std::string mod;
    float posX;  // at t = 500, where Pos.X interpolates to 50
  } rows[] = {
      {Mod("Pos.X", "nosuchname+1"), 0},
      {Mod("Pos.X", "1+"), 0},
      {Mod("Pos.X", ""), 0},
      {Mod("Pos.X", "x" + std::string(300, ' ')), 0},  // longer than 256 bytes
      {Mod("Pos.X", "1/0"), 0},
      {Mod("Nothing.X", "value+1"), 50},  // unknown destination: no modifier
      {Mod("", "5"), 50},
      {Mod("Pos", "5"), 50},
      {Mod("Pos.X", "1e999"), 0},
      {Mod("Pos.X", "0/value"), 0},
  };
  for (const Row& r : rows) {
    Loaded l(WithMods(r.mod), kTimes);
    EXPECT_EQ(l.At(500, kpPosX), r.posX) << r.mod;
  }
  // A runtime NaN stays a NaN in the parameter rather than failing the frame.
  Loaded n(WithMods(Mod("Pos.X", "Sqrt(value-1000)")), kTimes);
  EXPECT_TRUE(std::isnan(n.At(500, kpPosX)));
}

TEST(ObjectMods, ASingleKeyFrameWithModifiersAnimatesTowardsTheSpanEnd) {
  Loaded l("object P: Image\n  GUID={A}\n  object K: KeyPoint\n    Time=1000\n    Opacity=50\n" +
               Mod("Opacity", "value*(1-T)") + Mod("Pos.T", "T*T") + Mod("Pos.X", "Pos.T*100") + "  end\nend\n",
           kTimes);
  for (double t : {0.0, 1000.0, 1750.0, 2500.0, 4000.0}) {
    const double f = t <= 1000 ? 0 : (t - 1000) / 3000;
    EXPECT_NEAR(l.At(t, kpOpacity), t <= 1000 ? 50 : 50 * (1 - f), 1e-4) << t;
    EXPECT_NEAR(l.Props->Values[kpPosX], t <= 1000 ? 0 : f * f * 100, 1e-3) << t;
  }
}

TEST(ObjectMods, ReloadReusesUnchangedModifiersWithoutPreparingAgain) {
  Loaded l(WithMods(Mod("Pos.X", "value+10", "      id={M1}\n      $rev=3\n")), kTimes);
  TQelObjectMod* m = FirstMod(l);
  EXPECT_EQ(m->Id, "{M1}");
  EXPECT_EQ(m->PreparedRevision, 4);
  m->Parser.Commands.Clear();  // a prepared modifier would compile again
  LoadObjectProps(l.Props.Get(), kftest::FirstObject(l.Ini.Get()), kTimes);
  EXPECT_EQ(FirstMod(l), m);
  EXPECT_EQ(m->Commands().Count, 0);
  // A new revision makes a new modifier.
  m->_AddRef();  // watched
  auto ini = kftest::ParseIni("[S]\n" + WithMods(Mod("Pos.X", "value+20", "      id={M1}\n      $rev=4\n")));
  LoadObjectProps(l.Props.Get(), kftest::FirstObject(ini.Get()), kTimes);
  EXPECT_NE(FirstMod(l), m);
  EXPECT_EQ(m->RefCount(), 1);  // the key frame let the old one go
  m->Free();
  EXPECT_NEAR(l.At(500, kpPosX), 70, 1e-4);
  // A modifier without an id gets one written into its block.
  Loaded fresh(WithMods(Mod("Pos.X", "value")), kTimes);
  EXPECT_EQ(FirstMod(fresh)->Id.size(), 38u);
}

TEST(ObjectMods, CaptionAndParameterDescriptions) {
  Loaded l(WithMods(Mod("Pos.T", "T",
                        "      Preset=Ease\n      pcount=3\n      pinfo0=name:Amount; id:Amp; type:float; range:1,9,4\n"
                        "      pinfo1=name:Skip; type:Strange\n      pinfo2= NAME : Tint ;ID:tint;TYPE:color\n")),
           kTimes);
  TQelObjectMod* m = FirstMod(l);
  std::u16string caption;
  m->GetCaption(caption);
  EXPECT_EQ(caption, u"M: T (Ease)");  // the block's name, the destination's part, the preset
  std::vector<TFilterParamInfo> infos;
  m->GetParamInfos(infos);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[0].Key, "Amp");
  EXPECT_EQ(infos[0].Caption, u"Amount");
  EXPECT_EQ(infos[0].Kind, fpkFloat);
  EXPECT_EQ(infos[0].Min, 1);
  EXPECT_EQ(infos[0].Max, 9);
  EXPECT_EQ(infos[0].Default, 4);
  EXPECT_EQ(infos[1].Key, "tint");
  EXPECT_EQ(infos[1].Kind, fpkColor);
  const int64_t rev = m->Revision;
  EXPECT_EQ(m->SetParamText(0, u"6"), 2);
  EXPECT_EQ(m->Revision, rev + 1);
  EXPECT_EQ(foundation::TIniList::FindKey(m->Node, u"Preset"), nullptr);
  EXPECT_EQ(m->SetParamText(0, u"6"), 0);
}

}  // namespace
