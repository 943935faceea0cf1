// Transition definitions over the project: references, built-in names,
// lengths, enabled states and custom-effect variants.
#include "showmodel/QelEffManager.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

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

// ---- editing: the effect slide's section, assignment, deletion, captions

std::u16string Key(foundation::TIniList* list, std::u16string_view name) {
  foundation::TIniItem* item = foundation::TIniList::FindKey(list, name);
  return item ? foundation::TIniItem::GetValue(item) : u"<none>";
}

TEST(EffectManagerEditing, BackgroundOptionsOfEffectSlidesByStyle) {
  struct Row {
    const char* keys;
    std::vector<std::pair<std::u16string, std::u16string>> expected;
  } rows[] = {
      {"", {{u"CustomEffBg", u"0"}, {u"bstyle", u"<none>"}, {u"TransparentBg", u"0"}}},
      {"bstyle=1\n", {{u"bstyle", u"1"}, {u"bcolor", u"0"}, {u"CustomEffBg", u"0"}}},
      {"bstyle=1\nbcolor=255\n", {{u"bstyle", u"1"}, {u"bcolor", u"255"}}},
      {"bstyle=2\nbfn=sky.jpg\n", {{u"bstyle", u"2"}, {u"bfn", u"sky.jpg"}, {u"bsize", u"100"}}},
      {"bstyle=2\nbsize=50\n", {{u"bstyle", u"2"}, {u"bfn", u"<none>"}, {u"bsize", u"50"}}},
      {"bstyle=3\n",
       {{u"bstyle", u"3"}, {u"bcolor1", u"16711680"}, {u"bcolor2", u"0"}, {u"bcolorStyle", u"1"}}},
      {"bstyle=3\nbcolor2=65280\nbcolorStyle=2\n", {{u"bcolor2", u"65280"}, {u"bcolorStyle", u"2"}}},
      {"bstyle=4\n", {{u"bstyle", u"4"}, {u"CustomEffBg", u"3"}}},
      {"bstyle=4\nCustomEffBg=1\nTransparentBg=1\n",
       {{u"CustomEffBg", u"1"}, {u"TransparentBg", u"1"}}},
  };
  for (const Row& r : rows) {
    auto ini = kftest::ParseIni(std::string("[Main]\nopt_scr_width=1280\nopt_scr_height=720\n"
                                            "object TheEffect: AnEffect\n  object Stars: custom\n    slide_1=s\n") +
                                r.keys + "  end\nend\n[effect_s]\nCustomEffTime=1500\n");
    auto m = Manager(ini.Get());
    auto section = TRef<foundation::TIniSection>::Adopt(m->BuildEffectSlideSection(m->FindDefinition(u"Stars"), 0));
    ASSERT_TRUE(section);
    for (const auto& [k, v] : r.expected) EXPECT_EQ(Key(section.Get(), k), v) << r.keys << " key " << std::string(k.begin(), k.end());
    EXPECT_EQ(Key(section.Get(), u"CoverMode"), u"1");
    EXPECT_EQ(Key(section.Get(), u"opt_scr_width"), u"1280");
    EXPECT_EQ(Key(section.Get(), u"opt_scr_height"), u"720");
    EXPECT_EQ(Key(section.Get(), u"CustomEffTime"), u"1500");  // the section's own keys are copied
    // The project's section is left as it was.
    EXPECT_EQ(Key(foundation::TIniFile::FindSection(ini.Get(), u"effect_s"), u"CoverMode"), u"<none>");
  }
}

TEST(EffectManagerEditing, UserPropertiesReachTheContainerExceptOptionKeys) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n  object Stars: custom\n    sectionfield=dir\n    dir=11\n"
      "    slide_10=left\n    slide_01=right\n    userprops=3\n"
      "    prop1=name:Speed;id:speed;kind:int\n    prop2=id:dir;name:Direction\n    prop3=name:NoId\n"
      "    speed=5\n    bstyle=1\n    bcolor=42\n  end\nend\n"
      "[Times]\nopt_slidescount=1\n[Slide1]\nobject TheEffect: AnEffect\n  ref=Stars\n  speed=9\nend\n"
      "[effect_right]\nobject Container: Root\n  object Img: Image\n  end\nend\n");
  auto m = Manager(ini.Get());
  // The slide's reference: its own value of the property wins, the
  // background comes from the definition.
  auto section = TRef<foundation::TIniSection>::Adopt(m->BuildEffectSlideSection(m->GetSlideEffect(0), 1));
  ASSERT_TRUE(section);
  EXPECT_EQ(foundation::TIniItem::GetName(section.Get()), u"effect_right");
  foundation::TIniObject* c = foundation::TIniList::FindObject(section.Get(), u"Container");
  ASSERT_NE(c, nullptr);
  EXPECT_NE(foundation::TIniList::FindObject(c, u"Img"), nullptr);  // the authored objects stay
  EXPECT_EQ(Key(c, u"prop1"), u"name:Speed;id:speed;kind:int");
  EXPECT_EQ(Key(c, u"speed"), u"9");
  EXPECT_EQ(Key(c, u"prop2"), u"<none>");  // an option key
  EXPECT_EQ(Key(c, u"dir"), u"<none>");
  EXPECT_EQ(Key(c, u"prop3"), u"<none>");  // no id
  EXPECT_EQ(Key(section.Get(), u"bcolor"), u"42");

  // A missing variant section is made in the project (empty), and gets a
  // container of its own in the copy.
  auto left = TRef<foundation::TIniSection>::Adopt(m->BuildEffectSlideSection(m->FindDefinition(u"Stars"), 0));
  ASSERT_TRUE(left);
  EXPECT_NE(foundation::TIniFile::FindSection(ini.Get(), u"effect_left"), nullptr);
  foundation::TIniObject* lc = foundation::TIniList::FindObject(left.Get(), u"Container");
  ASSERT_NE(lc, nullptr);
  EXPECT_EQ(foundation::TIniItem::GetValue(lc), u"Root");
  EXPECT_EQ(Key(lc, u"speed"), u"5");
  // No variant of that number, or no pattern key for it.
  EXPECT_EQ(m->BuildEffectSlideSection(m->FindDefinition(u"Stars"), -1), nullptr);
  EXPECT_EQ(m->BuildEffectSlideSection(m->FindDefinition(u"quick"), 0), nullptr);
  EXPECT_EQ(m->BuildEffectSlideSection(nullptr, 0), nullptr);
}

TEST(EffectManagerEditing, AssignCopiesKeysAndDeepCopiesBlocks) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n"
      "  object A: gates\n    direction=10\n    caption=Gate\n    object Old: X\n    end\n  end\n"
      "  object B: push\n    direction=0110\n    key=direction\n    smoothline=0.5\n"
      "    object N1: Y\n      v=1\n    end\n  end\nend\n");
  auto m = Manager(ini.Get());
  showmodel::TEffectProp* a = m->FindDefinition(u"A");
  showmodel::TEffectProp* b = m->FindDefinition(u"B");
  ASSERT_TRUE(a->Assign(b, false));
  EXPECT_EQ(a->GetValue(u"direction"), u"0110");
  EXPECT_EQ(a->GetValue(u"caption"), u"Gate");  // a key only A has stays
  EXPECT_EQ(a->GetTypeName(), u"gates");        // shallow: the type stays
  EXPECT_NE(foundation::TIniList::FindObject(a->Node, u"Old"), nullptr);
  EXPECT_EQ(a->KeyList.GetCount(), 1);  // the option keys follow the copied "key"
  EXPECT_EQ(a->GetUse(), showmodel::TEffectUse::Some);

  ASSERT_TRUE(a->Assign(b, true));
  EXPECT_EQ(a->GetTypeName(), u"push");
  EXPECT_EQ(foundation::TIniList::FindObject(a->Node, u"Old"), nullptr);
  foundation::TIniObject* n1 = foundation::TIniList::FindObject(a->Node, u"N1");
  ASSERT_NE(n1, nullptr);
  EXPECT_NE(n1, foundation::TIniList::FindObject(b->Node, u"N1"));  // a copy, not B's block
  EXPECT_EQ(Key(n1, u"v"), u"1");

  // Built-in definitions and a read-only manager refuse.
  EXPECT_FALSE(m->FindDefinition(u"quick")->Assign(b, true));
  m->ReadOnly = true;
  EXPECT_FALSE(b->Assign(a, false));
}

TEST(EffectManagerEditing, DeletingADefinitionRepointsItsSlides) {
  auto ini = kftest::ParseIni(
      "[Main]\nobject TheEffect: AnEffect\n  time=800\n"
      "  object Fade: dissolve\n    checked=1\n    caption=Soft fade\n  end\n  object Wipe: gates\n  end\nend\n"
      "[Times]\nopt_slidescount=2\n"
      "[Slide1]\nobject TheEffect: AnEffect\n  ref=Wipe\n  time=300\nend\n"
      "[Slide2]\nobject TheEffect: AnEffect\n  ref=Fade\nend\n");
  auto m = Manager(ini.Get());
  m->CaptionPrefix = u"* ";
  std::u16string caption;
  ASSERT_TRUE(m->GetCaption(caption, 0));
  EXPECT_EQ(caption, u"* Soft fade");
  ASSERT_TRUE(m->GetCaption(caption, 1));
  EXPECT_EQ(caption, u"* Wipe");  // no caption: the name
  ASSERT_TRUE(m->GetCaption(caption, 4));
  EXPECT_EQ(caption, u"* quick");
  EXPECT_FALSE(m->GetCaption(caption, 5));

  EXPECT_EQ(m->GetEffectTime(0), 300);
  EXPECT_FALSE(m->DeleteDefinition(m->FindDefinition(u"default")));
  EXPECT_FALSE(m->DeleteDefinition(m->GetSlideEffect(0)));  // a reference
  ASSERT_TRUE(m->DeleteDefinition(m->FindDefinition(u"Wipe")));
  EXPECT_EQ(m->FindDefinition(u"Wipe"), nullptr);
  EXPECT_EQ(m->GetDefinitionCount(), 4);  // Fade and the three built-ins
  EXPECT_EQ(m->GetSlideEffect(0)->GetName(), u"default");
  EXPECT_EQ(m->GetEffectTime(0), 800);  // Fade is still in use
  EXPECT_EQ(m->GetSlideEffect(1)->GetName(), u"Fade");
  // Deleting the last definition in use turns "default" off.
  ASSERT_TRUE(m->DeleteDefinition(m->FindDefinition(u"Fade")));
  EXPECT_EQ(m->GetEffectTime(0), 0);
  EXPECT_EQ(m->GetEffectTime(1), 0);
  m->ReadOnly = true;
  EXPECT_EQ(m->GetDefinitionCount(), 3);
}

}  // namespace
