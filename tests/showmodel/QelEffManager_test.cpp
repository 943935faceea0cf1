// Transition definitions over the project: references, built-in names,
// lengths, enabled states and custom-effect variants.
#include "showmodel/QelEffManager.h"

#include <gtest/gtest.h>

#include "tests/showmodel/KeyFrameFixture.h"

namespace {

using foundation::TRef;
using showmodel::TQELEffectManager;

TRef<TQELEffectManager> Manager(foundation::TIniFile* ini) {
  return TRef<TQELEffectManager>::Adopt(new TQELEffectManager(ini, 0, 0));
}

TEST(EffectManager, DefaultIsTheRootTimeOnlyWhileADefinitionIsInUse) {
  struct Row {
    const char* definitions;
    int32_t time;
  } rows[] = {
      {"", 0},
      {"  object Fade: dissolve\n    checked=0\n  end\n", 0},
      {"  object Fade: dissolve\n    checked=1\n  end\n", 1500},
      {"  object P: push\n    key=direction\n    direction=0100\n  end\n", 1500},
      {"  object P: push\n    key=direction\n    direction=0000\n  end\n", 0},
  };
  for (const Row& r : rows) {
    auto ini = kftest::ParseIni(std::string("[Main]\nobject TheEffect: AnEffect\n  time=1500\n") + r.definitions +
                                "end\n[Times]\nopt_slidescount=2\n[Slide1]\n[Slide2]\n");
    auto m = Manager(ini.Get());
    // Slides without an effect refer to "default"; the reference is written.
    EXPECT_EQ(m->GetEffectTime(0), r.time) << r.definitions;
    EXPECT_EQ(m->GetEffectTime(1), r.time) << r.definitions;
    EXPECT_EQ(m->GetSlideEffect(0)->GetName(), u"default");
    EXPECT_EQ(m->GetEffectTime(2), 0);  // past the slides
    EXPECT_EQ(m->GetEffectTime(-1), 1500);
  }
}

TEST(EffectManager, LengthsOfReferencesAndDefinitions) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n  time=1200\n  object Fade: dissolve\n    checked=1\n    time=700\n  end\nend\n"
      "[Times]\nopt_slidescount=6\n"
      "[Slide1]\nobject TheEffect: AnEffect\n  ref=quick\nend\n"
      "[Slide2]\nobject TheEffect: AnEffect\n  ref=Fade\n  time=900\nend\n"
      "[Slide3]\nobject TheEffect: AnEffect\n  ref=Fade\nend\n"
      "[Slide4]\ntime=400\nobject TheEffect: gates\n  direction=1\n  time=333\nend\n"
      "[Slide5]\nobject TheEffect: AnEffect\n  ref=defowntime\nend\n"
      "[Slide6]\nobject TheEffect: gates\nend\n");
  auto m = Manager(ini.Get());
  EXPECT_EQ(m->GetEffectTime(0), 0);    // quick
  EXPECT_EQ(m->GetEffectTime(1), 900);  // a reference's own time
  EXPECT_EQ(m->GetEffectTime(2), 0);    // a reference without one
  EXPECT_EQ(m->GetEffectTime(3), 400);  // in place: the slide section's time
  EXPECT_EQ(m->GetEffectTime(5), 1200);  // in place without: the root's
  // defowntime without its own time takes the root's and keeps it.
  EXPECT_EQ(m->GetEffectTime(4), 1200);
  EXPECT_EQ(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(m->GetSlideEffect(4)->Node, u"time")), u"1200");
  // A named definition reads the root (the block that holds it).
  EXPECT_EQ(m->FindDefinition(u"fade")->GetTime(), 1200);
  // Values of a reference fall back to its definition, then to the root.
  EXPECT_EQ(m->GetSlideEffect(2)->GetValue(u"checked"), u"1");
  EXPECT_EQ(m->GetSlideEffect(0)->GetValue(u"time"), u"1200");
  EXPECT_EQ(m->GetSlideEffect(2)->GetTypeName(), u"dissolve");
  EXPECT_EQ(m->GetSlideEffect(0)->GetTypeName(), u"quick");
}

TEST(EffectManager, MissingRootAndScreenSize) {
  auto ini = kftest::ParseIni("[Times]\nopt_slidescount=1\n");
  auto m = Manager(ini.Get());
  EXPECT_EQ(m->GetScreenWidth(), 1920);
  EXPECT_EQ(m->GetScreenHeight(), 1080);
  EXPECT_EQ(m->GetEffectTime(-1), 2000);  // the root is made with 2000
  EXPECT_EQ(m->GetSlideEffect(0), nullptr);  // no section, no effect
  EXPECT_EQ(m->GetEffectTime(0), 0);
  EXPECT_THROW(new TQELEffectManager(nullptr, 0, 0), foundation::EAssertionFailed);
}

TEST(EffectManager, DefinitionsAreNumberedRealOnesFirst) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n  object quick: dissolve\n  end\n  object Wipe: gates\n  end\nend\n");
  auto m = Manager(ini.Get());
  ASSERT_EQ(m->GetDefinitionCount(), 4);
  const char16_t* names[] = {u"quick", u"Wipe", u"default", u"defowntime"};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(foundation::TIniItem::GetName(m->GetDefinition(k)->Node), names[k]);
  EXPECT_EQ(m->GetDefinition(4), nullptr);
  m->WithBuiltIns = false;
  m->ClearCaches();
  EXPECT_EQ(m->GetDefinitionCount(), 2);
  EXPECT_EQ(m->FindDefinition(u"default"), nullptr);
}

TEST(EffectManager, EnabledStateFromOptionKeys) {
  struct Row {
    const char* keys;
    showmodel::TEffectUse use;
  } rows[] = {
      {"key=action,direction\naction=11\ndirection=111\n", showmodel::TEffectUse::All},
      {"key=action,direction\naction=10\ndirection=111\n", showmodel::TEffectUse::Some},
      {"key=action,direction\naction=01\ndirection=111\n", showmodel::TEffectUse::Some},
      {"key=action,direction\naction=11\ndirection=000\n", showmodel::TEffectUse::None},
      {"checked=1\n", showmodel::TEffectUse::All},
      {"checked=true\n", showmodel::TEffectUse::None},
  };
  for (const Row& r : rows) {
    auto ini = kftest::ParseIni(std::string("[Main]\nobject TheEffect: AnEffect\n  object H: hourhand\n") + r.keys +
                                "  end\nend\n");
    auto m = Manager(ini.Get());
    EXPECT_EQ(m->FindDefinition(u"H")->GetUse(), r.use) << r.keys;
  }
}

TEST(EffectManager, CustomEffectVariants) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n  object Stars: custom\n    sectionfield=a,b\n    a=101\n    b=11\n"
      "    slide_001_10=stars4\n  end\n  object Plain: custom\n    slide_1=plain\n  end\nend\n"
      "[effect_stars4]\nCustomEffTime=2000\n[effect_plain]\n");
  auto m = Manager(ini.Get());
  showmodel::TEffectProp* stars = m->FindDefinition(u"Stars");
  EXPECT_EQ(stars->GetVariantCount(), 6);
  EXPECT_EQ(stars->GetVariantPattern(4), u"slide_001_10");
  EXPECT_EQ(stars->GetVariantPattern(0), u"slide_100_10");
  EXPECT_TRUE(stars->IsVariantChecked(4));   // a[2] and b[0] are on
  EXPECT_FALSE(stars->IsVariantChecked(2));  // a[1] is off
  EXPECT_EQ(stars->GetVariantSection(4), foundation::TIniFile::FindSection(ini.Get(), u"effect_stars4"));
  EXPECT_EQ(stars->GetVariantSection(0), nullptr);
  showmodel::TEffectProp* plain = m->FindDefinition(u"Plain");
  EXPECT_EQ(plain->GetVariantCount(), 1);
  EXPECT_EQ(plain->GetVariantPattern(0), u"slide_1");
  EXPECT_EQ(plain->GetVariantSection(0), foundation::TIniFile::FindSection(ini.Get(), u"effect_plain"));
}

TEST(EffectManager, ReferencesInACircleEnd) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n  object A: AnEffect\n    ref=A\n  end\nend\n"
      "[Times]\nopt_slidescount=1\n[Slide1]\nobject TheEffect: AnEffect\n  ref=A\nend\n");
  auto m = Manager(ini.Get());
  EXPECT_EQ(m->GetEffectTime(0), 0);
  EXPECT_EQ(m->GetSlideEffect(0)->GetTypeName(), u"");
  EXPECT_EQ(m->GetSlideEffect(0)->GetValue(u"x"), u"");
}

}  // namespace
