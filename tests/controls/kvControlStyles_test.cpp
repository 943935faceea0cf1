#include "controls/kvControlStyles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "controls/kvFrameControlStyles.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvImage.h"
#include "platform/os/paths.h"
#include "tests/controls/ControlsTestEnv.h"

namespace {

using controls::TStylesStore;
using controls::TStyleState;
using foundation::TByteString;
using foundation::TRef;

TByteString B(const std::string& s) { return TByteString::FromBytes(s); }

TRef<TStylesStore> FromText(const std::string& text, uint8_t scheme) {
  auto stream = foundation::MakeRef<foundation::TStringStream>(text);
  return TRef<TStylesStore>::Adopt(
      new TStylesStore(stream.Get(), scheme == controls::kLightScheme ? u"lightcolors" : u"darkcolors"));
}

TRef<TStylesStore> BuiltIn(uint8_t scheme) { return FromText(controls::BuiltInStylesText(), scheme); }

// Expected colours below are worked out by hand from the blend rule
// min + round((max - min) * x) per channel, clamped to 0..255: light scheme
// min F0 (240), max 10 (16); dark scheme min 38 (56), max F0 (240).
struct StateCase {
  uint8_t scheme;
  const char* section;
  const char16_t* state;
  uint32_t fone, color, frame;
};

TEST(StyleSheet, BuiltInStatesResolveToTheBlendRule) {
  const uint8_t L = controls::kLightScheme, D = controls::kDarkScheme;
  const StateCase cases[] = {
      {L, "default", u"def", 0xFFF0F0F0, 0xFF101010, 0xFF101010},
      {D, "default", u"def", 0xFF383838, 0xFFF0F0F0, 0xFFF0F0F0},
      // light scheme: the button section is replaced by its light variant
      {L, "btn", u"hot", 0xFFE5F1FB, 0xFF0078D7, 0xFF0078D7},
      {D, "btn", u"hot", 0xFF5D5D5D, 0xFF0078D7, 0xFF0078D7},  // default.hot: 56 + round(36.8)
      {L, "btn", u"hot", 0xFFE5F1FB, 0xFF0078D7, 0xFF0078D7},
      {L, "spdbtn", u"down", 0xFFCCE4F7, 0xFF005499, 0xFF005499},  // alias key to light_btn.down
      // "press" exists nowhere for buttons: the "def" of "default"
      {D, "btn", u"press", 0xFF383838, 0xFFF0F0F0, 0xFFF0F0F0},
      {D, "scroll", u"press", 0xFFA6A6A6, 0xFF383838, 0xFF383838},  // 0.6: 56 + 110
      {L, "scroll", u"def", 0xFFC8C8C8, 0xFFF0F0F0, 0xFFF0F0F0},    // ScrollDef 0.18: 240 - 40
      {D, "scroll", u"hot", 0xFF949494, 0xFF383838, 0xFF383838},    // ScrollHot 0.5: 56 + 92
      // radiobtn: "press" is an alias of radiobtn.hot; "focused" falls back
      {D, "radiobtn", u"press", 0xFF383838, 0xFF0078D7, 0xFF0078D7},
      {L, "radiobtn", u"press", 0xFFF0F0F0, 0xFF1080C0, 0xFF1080C0},
      {L, "radiobtn", u"focused", 0xFFF0F0F0, 0xFF1080C0, 0xFF1080C0},
      {L, "txt", u"def", 0xFFFFFFFF, 0xFF101010, 0xFF3D3D3D},  // -0.1: 262 clamped; 0.8: 240 - 179
      {D, "txt", u"def", 0xFF262626, 0xFFF0F0F0, 0xFFCBCBCB},  // -0.1: 56 - 18; 0.8: 56 + 147
      {L, "txt", u"sel", 0xFF1080C0, 0xFFF0F0F0, 0xFFF0F0F0},
      {L, "default", u"dlg", 0xFFFBFBFB, 0xFF101010, 0xFF101010},  // -0.05: 240 + 11
      {D, "default", u"dlg", 0xFF2F2F2F, 0xFFF0F0F0, 0xFFF0F0F0},  // -0.05: 56 - 9
      {L, "default", u"info", 0xFFFFFFE0, 0xFF101010, 0xFF101010},
      {L, "nosuchsection", u"nosuchstate", 0xFFF0F0F0, 0xFF101010, 0xFF101010},
  };
  TRef<TStylesStore> stores[2] = {BuiltIn(L), BuiltIn(D)};
  for (const auto& c : cases) {
    for (float scale : {1.0f, 1.25f}) {
      TStyleState* s = stores[c.scheme]->GetStateByName(B(c.section), c.state, scale);
      ASSERT_NE(s, nullptr);
      SCOPED_TRACE(std::string(c.section) + " scheme " + std::to_string(c.scheme) + " scale " + std::to_string(scale));
      EXPECT_EQ(s->FoneColor, c.fone);
      EXPECT_EQ(s->Color, c.color);
      EXPECT_EQ(s->FrameColor, c.frame);
      EXPECT_EQ(s->Scale, scale);
    }
  }
}

TEST(StyleSheet, ScalesAreCachedUnderTheirOwnKeys) {
  auto store = BuiltIn(controls::kDarkScheme);
  TStyleState* one = store->GetStateByName(B("radiobtn"), u"hot", 1.0f);
  TStyleState* big = store->GetStateByName(B("radiobtn"), u"hot", 1.25f);
  ASSERT_NE(one, big);
  EXPECT_EQ(store->GetStateByName(B("radiobtn"), u"press", 1.25f), big);  // the alias reaches the same object
  EXPECT_EQ(store->GetStateByName(B("radiobtn"), u"hot", 1.0f), one);
  foundation::TIniList* object = one->Object;
  EXPECT_EQ(object, big->Object);
  EXPECT_EQ(foundation::TIniItem::GetInteger(foundation::TIniList::FindKey(object, u"%idx"), -1),
            store->States->IndexOf(one));
  EXPECT_EQ(foundation::TIniItem::GetInteger(foundation::TIniList::FindKey(object, u"%idx125"), -1),
            store->States->IndexOf(big));
  EXPECT_GE(store->States->IndexOf(big), 0);
  // A state asked for unscaled first is taken over by the first scaled request.
  TStyleState* raw = store->GetStateByName(B("scroll"), u"hot", 0.0f);
  EXPECT_EQ(raw->Scale, 0.0f);
  EXPECT_EQ(raw->Generator.Get(), nullptr);
  TStyleState* scaled = store->GetStateByName(B("scroll"), u"hot", 1.5f);
  EXPECT_EQ(scaled, raw);
  EXPECT_EQ(raw->Scale, 1.5f);
  EXPECT_NE(raw->Generator.Get(), nullptr);
  EXPECT_EQ(foundation::TIniItem::GetInteger(foundation::TIniList::FindKey(raw->Object, u"%idx150"), -1),
            store->States->IndexOf(raw));
}

TEST(StyleSheet, ColourTexts) {
  auto store = FromText(
      "[darkcolors]\r\nmin = #000000\r\nmax = #C8C8C8\r\naccent = #123456\r\nalias = accent\r\n"
      "half = 0.5\r\nloop1 = loop2\r\nloop2 = loop1\r\nself = self\r\nlong1 = long2\r\n",
      controls::kDarkScheme);
  const uint32_t def = 0x01020304;
  const std::pair<const char*, uint32_t> cases[] = {
      {"", def},
      {"#FF0000", 0xFFFF0000},
      {"0.5", 0xFF646464},   // 200 * 0.5
      {"1", 0xFFC8C8C8},
      {"1.5", 0xFFFFFFFF},   // 300 clamped
      {"-0.5", 0xFF000000},  // below the background, clamped
      {"0.25xyz", 0xFF323232},  // the number prefix is read, the rest ignored
      {"-", def},            // no digit: no number
      {"-x", def},
      {"-.", def},
      {"accent", 0xFF123456},
      {"alias", 0xFF123456},  // a name naming a name
      {"half", 0xFF646464},
      {"nosuchname", def},
      {"loop1", def},  // a cycle ends at the depth limit
      {"self", def},
      {"long1", def},  // names a name the scheme lacks
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(store->ParseColor(B(text), def), want) << text;
  }
  // GetColor looks the name up first, then reads it as a colour text.
  EXPECT_EQ(store->GetColor(B("accent"), def), 0xFF123456u);
  EXPECT_EQ(store->GetColor(B("0.5"), def), 0xFF646464u);
  EXPECT_EQ(store->GetColor(B("loop2"), def), def);
  EXPECT_EQ(controls::ResolveStyleColor(store.Get(), u"alias", def), 0xFF123456u);
  EXPECT_EQ(controls::ResolveStyleColor(store.Get(), u"", def), def);
  EXPECT_EQ(controls::ResolveStyleColor(store.Get(), u"#00FF00", def), 0xFF00FF00u);
}

TEST(StyleSheet, ChainsOfSixteenResolveAndLongerOnesGiveTheDefault) {
  std::string text = "[lightcolors]\r\n";
  for (int i = 0; i < 20; ++i) text += "n" + std::to_string(i) + " = n" + std::to_string(i + 1) + "\r\n";
  text += "n20 = #ABCDEF\r\n";
  auto store = FromText(text, controls::kLightScheme);
  // n5 reaches the colour after 16 lookups (n5 .. n20); n4 needs 17.
  EXPECT_EQ(store->ParseColor(B("n5"), 7), 0xFFABCDEFu);
  EXPECT_EQ(store->ParseColor(B("n4"), 7), 7u);
}

TEST(StyleSheet, MinAndMaxTakeColoursAndNamesOnly) {
  struct Case {
    const char* scheme;
    uint32_t min, max;
  };
  const Case cases[] = {
      {"min = 0.5\r\nmax = 0.2\r\n", 0xFFFFFFFF, 0xFF000000},
      {"min = bg\r\nbg = #102030\r\nmax = fg\r\nfg = 0.9\r\n", 0xFF102030, 0xFF000000},
      {"min = max\r\nmax = min\r\n", 0xFFFFFFFF, 0xFF000000},
      {"min = -\r\nmax = #405060,128\r\n", 0xFFFFFFFF, 0x80405060},
  };
  for (const auto& c : cases) {
    auto store = FromText(std::string("[lightcolors]\r\n") + c.scheme, controls::kLightScheme);
    EXPECT_EQ(store->MinColor, c.min) << c.scheme;
    EXPECT_EQ(store->MaxColor, c.max) << c.scheme;
  }
}

TEST(StyleSheet, EmptySheetGivesWhiteBackgroundAndBlackForeground) {
  auto store = FromText("", controls::kLightScheme);
  EXPECT_EQ(store->MinColor, 0xFFFFFFFFu);
  EXPECT_EQ(store->MaxColor, 0xFF000000u);
  EXPECT_FALSE(store->IsDark);
  TStyleState* def = store->GetStateByName(B("btn"), u"def", 1.0f);
  EXPECT_EQ(def->FoneColor, 0xFFFFFFFFu);
  EXPECT_EQ(def->Color, 0xFF000000u);
  EXPECT_EQ(store->Blend(0.5f), 0xFF7F7F7Fu);  // 255 + round(-127.5) = 255 - 128 (ties to even)
  EXPECT_EQ(store->BlendTable[0], 0xFFFFFFFFu);
  EXPECT_EQ(store->BlendTable[255], 0xFF000000u);
  EXPECT_EQ(store->BlendTable[51], 0xFFCCCCCCu);  // 51/255 = 0.2: 255 - 51
}

TEST(StyleSheet, ColourStylesOfBothSchemes) {
  auto dark = BuiltIn(controls::kDarkScheme);
  auto light = BuiltIn(controls::kLightScheme);
  EXPECT_TRUE(dark->IsDark);
  EXPECT_FALSE(light->IsDark);
  auto d = foundation::MakeRef<controls::TColorStyles>(dark.Get(), 1.0f);
  EXPECT_EQ(d->DefFill, 0xFF383838u);
  EXPECT_EQ(d->TextFill, 0xFF262626u);
  EXPECT_EQ(d->SelFill, 0xFF0078D7u);
  EXPECT_EQ(d->TextFrame, 0xFFCBCBCBu);
  EXPECT_EQ(d->Light3D, 0xFFCBCBCBu);     // 0.8
  EXPECT_EQ(d->HiLight3D, 0xFFB9B9B9u);   // 0.7
  EXPECT_EQ(d->Shadow3D, 0xFF828282u);    // 0.4
  EXPECT_EQ(d->DkShadow3D, 0xFF6F6F6Fu);  // 0.3
  EXPECT_EQ(d->InfoFill, 0xFFFFFFE0u);
  EXPECT_EQ(d->DialogFill, 0xFF2F2F2Fu);
  EXPECT_EQ(d->AltFill, 0xFF131313u);  // -0.2: 56 - 37
  EXPECT_EQ(d->SelTint, 0xFF949494u);  // 0.5
  // accent: selected fill + (default frame - selected fill) * 96 div 256
  EXPECT_EQ(d->Accent, 0xFF5AA5E0u);
  EXPECT_EQ(d->AccentFont1.Color.R, 0x5A);
  EXPECT_EQ(d->AccentFont1.BgColor.R, 0x2F);
  auto l = foundation::MakeRef<controls::TColorStyles>(light.Get(), 1.0f);
  EXPECT_EQ(l->AltFill, 0xFFC3C3C3u);  // 0.2: 240 - 45
  EXPECT_EQ(l->SelTint, 0xFF64AAD2u);  // 1080C0 toward F0F0F0 by 96/256
  EXPECT_EQ(l->Accent, 0xFF10567Eu);   // 1080C0 toward 101010 by 96/256
  auto scaled = foundation::MakeRef<controls::TControlStyles>(light.Get(), 1.25, 1.5);
  EXPECT_EQ(scaled->DefState->Scale, 1.25f);
  EXPECT_EQ(scaled->ScaleY, 1.5);
}

TEST(StyleSheet, IconsResolveTheirColoursThroughTheScheme) {
  auto store = BuiltIn(controls::kDarkScheme);
  imaging::TImage* sep = store->GetIcon(u"DropDownSep", 16, 21, 0xFFFF0000u, 0);
  ASSERT_NE(sep, nullptr);
  auto* bitmap = dynamic_cast<imaging::TSysBitmap*>(sep->GetBitmap());
  ASSERT_NE(bitmap, nullptr);
  // The one-pixel line at x 0 between y 3 and 18 has the layer colour 0.4 = 828282.
  const uint8_t* p = bitmap->Row(10);
  EXPECT_EQ(p[0], 0x82);
  EXPECT_EQ(p[1], 0x82);
  EXPECT_EQ(p[2], 0x82);
  EXPECT_EQ(p[3], 255);
  EXPECT_EQ(bitmap->Row(10)[5 * 4 + 3], 0);  // beside the line: transparent
  sep->Free();
  EXPECT_EQ(store->GetIcon(u"NoSuchIcon", 16, 16, 0, 0), nullptr);
}

class StylesFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() /
          ("qel_styles_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::u16string Write(const std::string& bytes) {
    const auto path = dir / "styles.txt";
    std::ofstream(path, std::ios::binary) << bytes;
    return platform::os::fromPosixPath(path.string());
  }
  std::filesystem::path dir;
};

TEST_F(StylesFile, MissingFileGivesTheBuiltInSheet) {
  const std::u16string names[] = {platform::os::fromPosixPath((dir / "none.txt").string())};
  TRef<TStylesStore> store = TRef<TStylesStore>::Adopt(controls::LoadStylesStore(controls::kLightScheme, names, 1));
  EXPECT_EQ(store->MinColor, 0xFFF0F0F0u);
  EXPECT_EQ(store->MaxColor, 0xFF101010u);
}

TEST_F(StylesFile, EmptyFileGivesTheDefaults) {
  const std::u16string names[] = {Write("")};
  TRef<TStylesStore> store = TRef<TStylesStore>::Adopt(controls::LoadStylesStore(controls::kDarkScheme, names, 1));
  EXPECT_EQ(store->MinColor, 0xFFFFFFFFu);
  EXPECT_EQ(store->MaxColor, 0xFF000000u);
  EXPECT_EQ(store->GetStateByName(B("btn"), u"def", 1.0f)->FoneColor, 0xFFFFFFFFu);
}

TEST_F(StylesFile, DamagedFileKeepsWhatItCanAndDefaultsTheRest) {
  std::string bytes = "[darkcolors]\r\nmin = #203040\r\n";
  bytes += std::string("\x00\xFF\xFE[[[ object\r\nend\r\nend\r\n= = =\r\n\x01\x02", 30);
  bytes += "\r\n[default]\r\nobject def\r\n  fone = 0.5\r\n";  // never closed
  const std::u16string names[] = {Write(bytes)};
  TRef<TStylesStore> store = TRef<TStylesStore>::Adopt(controls::LoadStylesStore(controls::kDarkScheme, names, 1));
  EXPECT_EQ(store->MinColor, 0xFF203040u);
  EXPECT_EQ(store->MaxColor, 0xFF000000u);
  TStyleState* s = store->GetStateByName(B("btn"), u"hot", 1.0f);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Color, store->DefColor);
}

TEST(StyleSheet, ProcessStoresAreMadeOnceAndFollowTheScheme) {
  TStylesStore* dark = controls::GetStylesStore(controls::kDarkScheme);
  TStylesStore* light = controls::GetStylesStore(controls::kLightScheme);
  ASSERT_NE(dark, nullptr);
  ASSERT_NE(light, nullptr);
  EXPECT_NE(dark, light);
  EXPECT_EQ(controls::GetStylesStore(controls::kDarkScheme), dark);
  EXPECT_TRUE(dark->IsDark);
  EXPECT_FALSE(light->IsDark);
}

}  // namespace
