// Button objects: skins loaded from the theme folder (with the "aqua"
// fallback), state pictures generated through "Button: " names and shared,
// preloaded state pictures, the transform that sizes the button by the
// parent's height, and the button opacity.
#include <gtest/gtest.h>

#include <string>

#include "showmodel/kvQelObjects.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/support/FixtureShow.h"

namespace {

using namespace objtest;

struct ButtonSlide : SlideFixture {
  explicit ButtonSlide(const std::string& objects, bool withAqua = false) : SlideFixture(objects) {
    Tree.write("buttons/skin.fake", "FAKE 12 6 120");
    Tree.write("buttons/blue/btn.ini", testsupport::ButtonSkinIni("skin.fake", "\n"));
    if (withAqua) Tree.write("buttons/aqua/btn.ini", testsupport::ButtonSkinIni("skin.fake", "\n"));
    Slide->Host->ButtonPath = Tree.internal("buttons") + u"\\";
  }
};

std::string Button(const std::string& name, const std::string& keys, const std::string& keyPoint = "ScaleX=10\nScaleY=10\n") {
  return "object " + name + ": Button\nGUID={" + name + "}\n" + keys + "object K: KeyPoint\nTime=0\n" + keyPoint +
         "end\nend\n";
}

TEST(ButtonObject, ThemeSkinGivesTheStatePicturesThroughTheGenerator) {
  ButtonSlide f(Button("A", "Theme=BLUE\nBtnOpacity=50\n") + Button("B", "Theme=blue\n"));
  f.Build();
  f.At(0);
  auto* a = f.Get<TQelButton>("A");
  auto* b = f.Get<TQelButton>("B");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->ButtonWidth, 12);
  EXPECT_EQ(a->ButtonHeight, 6);
  EXPECT_FLOAT_EQ(a->BtnMinWidth, 40);
  ASSERT_NE(a->Image, nullptr);
  EXPECT_EQ(a->Image->Params.Width, 12);
  EXPECT_EQ(a->Image->Params.Height, 6);
  EXPECT_EQ(a->Image->Store, b->Image->Store);  // one generated picture for equal keys
  // Scale Y 10: a tenth of the slide's 600 pixels, the proportions kept.
  EXPECT_FLOAT_EQ(a->ScaleYEff, 10);
  EXPECT_FLOAT_EQ(a->ScaleXEff, 10);
  RecordingDrawer d;
  f.Slide->Draw(&d);
  ASSERT_EQ(d.Of("image").size(), 2u);
  EXPECT_FLOAT_EQ(d.Of("image")[0].Params.Opacity, 50);  // the button's own opacity
  EXPECT_FLOAT_EQ(d.Of("image")[1].Params.Opacity, 100);
  EXPECT_EQ(d.Of("image")[0].Image, a->Image);
}

TEST(ButtonObject, PreloadedStatesSwitchPicturesWithoutGeneratingAgain) {
  ButtonSlide f(Button("A", "Theme=blue\n"));
  f.Build();
  f.At(0);
  auto* a = f.Get<TQelButton>("A");
  RecordingDrawer d;
  a->Preload(&d);
  ASSERT_TRUE(a->NormalPicture && a->HoverPicture && a->PressedPicture);
  EXPECT_NE(a->HoverPicture->Store, a->NormalPicture->Store);
  EXPECT_EQ(d.Of("prepare").size(), 3u);
  a->SetState(1);
  EXPECT_EQ(a->Image, a->HoverPicture);
  EXPECT_TRUE(a->Changed[1]);
  a->SetState(2);
  EXPECT_EQ(a->Image, a->PressedPicture);
  a->SetState(0);
  EXPECT_EQ(a->Image, a->NormalPicture);
}

TEST(ButtonObject, MissingThemeFallsBackToAquaElseShowsThePlaceholder) {
  {
    ButtonSlide f(Button("A", "Theme=green\n"), true);
    f.Build();
    f.At(0);
    auto* a = f.Get<TQelButton>("A");
    EXPECT_EQ(a->Theme, u"aqua");
    ASSERT_NE(a->Image, nullptr);
    EXPECT_EQ(a->Image->Params.Width, 12);
  }
  {
    ButtonSlide f(Button("A", "Theme=green\n"));
    accesstest::PlaceholderRecorder recorder;
    f.Build();
    f.At(0);
    auto* a = f.Get<TQelButton>("A");
    ASSERT_NE(a->Image, nullptr);
    EXPECT_EQ(accesstest::PlaceholderRecorder::Count, 1);
    RecordingDrawer d;
    EXPECT_NO_THROW(f.Slide->Draw(&d));
  }
}

// A button's shadow is cast by its skin's shape: the shadow names the
// button's own picture as its source (without one it is a filled rectangle).
TEST(ButtonObject, TheShadowIsCastByTheButtonsOwnPicture) {
  ButtonSlide f(Button("A", "Theme=blue\nShadowEnable=1\n"));
  f.Build();
  f.At(0);
  auto* a = f.Get<TQelButton>("A");
  ASSERT_TRUE(a && a->Image);
  ASSERT_NE(a->Shadow, nullptr);
  const std::u16string source = a->Shadow->Params.SourceKey;
  EXPECT_EQ(source.rfind(u"Button: ", 0), 0u);
  // The name leads back to the very picture that is drawn.
  foundation::TRef<imaging::TImage> again =
      foundation::TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(f.Accessor.Get(), source));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Store, a->Image->Store);
}

}  // namespace
