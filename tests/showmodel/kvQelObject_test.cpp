// The show-object base: trees built from project blocks through the factory,
// keys and their defaults, the time window, placement and fit, hide modes,
// hit testing, change tracking, disposal and the colour-grade wrapper.
// Expected geometry is worked out by hand from the slide size and the
// picture size written in each test.
#include "showmodel/kvQelObject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/kpExceptions.h"
#include "tests/showmodel/ObjectFixture.h"

namespace {

using namespace objtest;

std::string Picture(SlideFixture& f, const std::string& file, int w, int h) {
  return Utf8(f.FakePicture(file, w, h, 77));
}

// One image block with the extra keys and key-frame values given.
std::string ImageBlock(const std::string& name, const std::string& file, const std::string& keys,
                       const std::string& keyPoint = "") {
  return "object " + name + ": Image\nGUID={" + name + "}\nImageName=" + file + "\n" + keys +
         "object K0: KeyPoint\nTime=0\n" + keyPoint + "end\nend\n";
}

TEST(ShowObjects, FactoryBuildsEachKindAndSkipsUnknownCodes) {
  SlideFixture f(R"(object Back: Box
GUID={1}
end
object Cut: Splitter
GUID={2}
end
object Rim: Frame
GUID={3}
end
object Odd: Whatever
GUID={4}
end
object Photo: Image
GUID={5}
end
)");
  f.Build();
  ASSERT_EQ(f.Slide->Children.size(), 4u);  // the unknown kind is skipped
  EXPECT_NE(f.Get<TQelBox>("Back"), nullptr);
  EXPECT_NE(f.Get<TQelBox>("Rim"), nullptr);
  ASSERT_NE(f.Get<TQelBox>("Cut"), nullptr);
  EXPECT_TRUE(f.Get<TQelBox>("Cut")->IsSplitter);
  EXPECT_FALSE(f.Get<TQelBox>("Back")->IsSplitter);
  EXPECT_NE(f.Get<TQelImage>("Photo"), nullptr);
  EXPECT_EQ(f.Find("Odd"), nullptr);
  EXPECT_EQ(f.Find("Photo")->IndexInParent(), 3);
  EXPECT_EQ(f.Find("Photo")->Parent, f.Slide.Get());
  EXPECT_EQ(CreateObjectByType(0, nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateObjectByType(200, nullptr, nullptr), nullptr);
}

TEST(ShowObjects, KeysTakeTheirDefaultsAndAcceptAnyCase) {
  SlideFixture f(R"(object Plain: Box
GUID={1}
end
object Set: Box
GUID={2}
FitMode=cover
PosMode=ABSOLUTE
CenterMode=Absolute
TranspForClick=1
ShadowEnable=1
ShadowOpacity=30
ShadowDistance=4
ShadowAngle=90
HideMode=3
ChildInvis=1
Action=next
end
object Odd: Box
GUID={3}
FitMode=Stretch
TranspForClick=true
end
)");
  f.Build();
  TQelObject* plain = f.Find("Plain");
  EXPECT_EQ(plain->FitMode, fmPlaceInto);
  EXPECT_EQ(plain->PosMode, pmPercent);
  EXPECT_EQ(plain->CenterMode, pmPercent);
  EXPECT_FALSE(plain->ShadowEnable);
  EXPECT_EQ(plain->ShadowOpacity, 59.0f);
  EXPECT_EQ(plain->ShadowDistance, 1.5f);
  EXPECT_EQ(plain->ShadowAngle, 45.0);
  EXPECT_FALSE(plain->HideBack || plain->HideFront);
  TQelObject* set = f.Find("Set");
  EXPECT_EQ(set->FitMode, fmCover);
  EXPECT_EQ(set->PosMode, pmAbsolute);
  EXPECT_EQ(set->CenterMode, pmAbsolute);
  EXPECT_TRUE(set->TranspForClick);
  EXPECT_TRUE(set->ShadowEnable);
  EXPECT_EQ(set->ShadowOpacity, 30.0f);
  EXPECT_EQ(set->ShadowDistance, 4.0f);
  EXPECT_EQ(set->ShadowAngle, 90.0);
  EXPECT_TRUE(set->HideBack && set->HideFront);
  EXPECT_TRUE(set->ChildInvis);
  EXPECT_EQ(set->Action, u"next");
  // Unknown words and texts other than "1"/"0" give the defaults.
  TQelObject* odd = f.Find("Odd");
  EXPECT_EQ(odd->FitMode, fmPlaceInto);
  EXPECT_FALSE(odd->TranspForClick);
}

TEST(ShowObjects, PlaceIntoFitsThePictureIntoItsParentAroundTheAnchor) {
  SlideFixture f("");
  const std::string pic = Picture(f, "p.fake", 200, 100);
  SlideFixture g(ImageBlock("Photo", pic, ""));
  g.Build();
  g.At(0);
  auto* photo = g.Get<TQelImage>("Photo");
  ASSERT_NE(photo, nullptr);
  ASSERT_NE(photo->Image, nullptr);
  // 800 x 600 slide, 200 x 100 picture: scale min(4, 6) = 4, centred.
  EXPECT_FLOAT_EQ(photo->ScaleXEff, 4);
  EXPECT_FLOAT_EQ(photo->ScaleYEff, 4);
  EXPECT_FLOAT_EQ(photo->Size.X, 200);
  EXPECT_FLOAT_EQ(photo->RectOrigin.X, -100);
  EXPECT_FLOAT_EQ(photo->RectOrigin.Y, -50);
  T3DPoint c[4];
  photo->GetCorners(c, 4, 0);
  EXPECT_FLOAT_EQ(c[0].X, 0);
  EXPECT_FLOAT_EQ(c[0].Y, 100);
  EXPECT_FLOAT_EQ(c[2].X, 800);
  EXPECT_FLOAT_EQ(c[2].Y, 500);
  // A margin moves every corner outwards along the axes.
  photo->GetCorners(c, 4, 10);
  EXPECT_FLOAT_EQ(c[0].X, -10);
  EXPECT_FLOAT_EQ(c[0].Y, 90);
  EXPECT_FLOAT_EQ(c[2].X, 810);
  EXPECT_THROW(photo->GetCorners(c, 3, 0), foundation::Exception);
  TFloatPoint screen[4];
  photo->GetScreenCorners(screen, 4);
  EXPECT_NEAR(screen[1].X, 800, 1e-3);  // z = 0 projects onto itself
  EXPECT_NEAR(screen[1].Y, 100, 1e-3);
}

TEST(ShowObjects, PositionsInPercentReachTheParentsEdgesAndScaleAndCentreMoveIt) {
  SlideFixture f("");
  const std::string pic = Picture(f, "p.fake", 200, 100);
  SlideFixture g(ImageBlock("A", pic, "", "Position=100,100\n") +
                 ImageBlock("B", pic, "", "Position=-50,0\nScaleX=50\nScaleY=25\nCenterPos=100,-100\n") +
                 ImageBlock("C", pic, "PosMode=Absolute\n", "Position=30,-40\nZPos=50\n"));
  g.Build();
  g.At(0);
  // Anchor of A on the slide's bottom-right corner.
  EXPECT_FLOAT_EQ(g.Find("A")->Frame.Origin.X, 800);
  EXPECT_FLOAT_EQ(g.Find("A")->Frame.Origin.Y, 600);
  // B: anchor a quarter of the width left of the middle; scale 4 x 0.5 and 4 x 0.25;
  // the anchor at the right-top corner of the rectangle.
  TQelObject* b = g.Find("B");
  EXPECT_FLOAT_EQ(b->Frame.Origin.X, 200);
  EXPECT_FLOAT_EQ(b->ScaleXEff, 2);
  EXPECT_FLOAT_EQ(b->ScaleYEff, 1);
  EXPECT_FLOAT_EQ(b->RectOrigin.X, -200);
  EXPECT_FLOAT_EQ(b->RectOrigin.Y, 0);
  // C: absolute position in the parent's units; depth in halves of the parent's height.
  TQelObject* c = g.Find("C");
  EXPECT_FLOAT_EQ(c->Frame.Origin.X, 430);
  EXPECT_FLOAT_EQ(c->Frame.Origin.Y, 260);
  EXPECT_FLOAT_EQ(c->Frame.Origin.Z, 150);
}

TEST(ShowObjects, FitNoneCentreAbsoluteAndZeroSizesGiveSoundPlacements) {
  SlideFixture f("");
  const std::string pic = Picture(f, "p.fake", 200, 100);
  SlideFixture g(ImageBlock("None", pic, "FitMode=None\nCenterMode=Absolute\n", "CenterPos=10,5\n") +
                 ImageBlock("Cover", pic, "FitMode=Cover\n") + "object Empty: Box\nGUID={E}\nFitMode=Cover\nend\n");
  g.Build();
  g.At(0);
  TQelObject* none = g.Find("None");
  EXPECT_FLOAT_EQ(none->ScaleXEff, 1);  // the picture's own pixels
  EXPECT_FLOAT_EQ(none->RectOrigin.X, -10 - 100);
  EXPECT_FLOAT_EQ(none->RectOrigin.Y, -5 - 50);
  EXPECT_FLOAT_EQ(g.Find("Cover")->ScaleXEff, 6);  // 1 / min(200/800, 100/600)
  TQelObject* empty = g.Find("Empty");
  EXPECT_EQ(empty->ScaleXEff, 0);
  EXPECT_FALSE(empty->FrameValid);
  RecordingDrawer d;
  g.Slide->Draw(&d);
  EXPECT_TRUE(d.Of("box").empty());

  // Everything in a slide of size 0: nothing is infinite, nothing is hit.
  SlideFixture z(ImageBlock("P", pic, "FitMode=Cover\n") + ImageBlock("Q", pic, ""), 0, 0);
  z.Build();
  z.At(0);
  for (const char* n : {"P", "Q"}) {
    EXPECT_TRUE(std::isfinite(z.Find(n)->ScaleXEff)) << n;
    EXPECT_EQ(z.Find(n)->ScaleXEff, 0) << n;
  }
}

TEST(ShowObjects, HideModesFollowTheSideFacingTheViewer) {
  SlideFixture f("");
  const std::string pic = Picture(f, "p.fake", 200, 100);
  struct Row {
    int mode;
    bool shownFront, shownBack;
  } rows[] = {{0, true, true}, {1, false, true}, {2, true, false}, {3, false, false}};
  for (const Row& r : rows) {
    const std::string keys = "HideMode=" + std::to_string(r.mode) + "\n";
    SlideFixture g(ImageBlock("Front", pic, keys) + ImageBlock("Back", pic, keys, "AngleY=180\n") +
                   ImageBlock("Edge", pic, keys, "AngleX=150\n"));
    g.Build();
    g.At(0);
    EXPECT_EQ(g.Find("Front")->IsShownSide(), r.shownFront) << r.mode;
    EXPECT_EQ(g.Find("Back")->IsShownSide(), r.shownBack) << r.mode;
    EXPECT_EQ(g.Find("Edge")->IsShownSide(), r.shownBack) << r.mode;  // turned past 90 degrees
    RecordingDrawer d;
    g.Slide->Draw(&d);
    EXPECT_EQ(d.Of("image").size(), size_t(r.shownFront) + 2 * size_t(r.shownBack)) << r.mode;
  }
}

TEST(ShowObjects, ChildInvisHidesTheDescendantsOfAHiddenObject) {
  SlideFixture f("");
  const std::string pic = Picture(f, "p.fake", 200, 100);
  const std::string child = ImageBlock("Kid", pic, "");
  for (bool childInvis : {true, false}) {
    SlideFixture g("object Holder: Box\nGUID={H}\nSize=100,100\nHideMode=3\nChildInvis=" +
                   std::string(childInvis ? "1" : "0") + "\n" + child + "end\n");
    g.Build();
    g.At(0);
    EXPECT_EQ(g.Find("Kid")->HiddenByAncestor, childInvis);
    RecordingDrawer d;
    g.Slide->Draw(&d);
    EXPECT_EQ(d.Of("image").size(), childInvis ? 0u : 1u);
    EXPECT_TRUE(d.Of("box").empty());  // hidden from both sides
  }
}

TEST(ShowObjects, TimeWindowIncludesBothEndsWithinTheTolerance) {
  SlideFixture f("object B: Box\nGUID={B}\nSize=10,10\nDeltaTime1=500\nDeltaTime2=1000\nend\n");
  f.Build();
  struct Row {
    double t;
    bool visible;
  } rows[] = {{499.9, false}, {500 - 0.000001, true}, {500, true}, {3000, true},
              {3000 + 0.000001, true}, {3000.001, false}, {-1, false}};
  TQelObject* b = f.Find("B");
  for (const Row& r : rows) {
    f.At(r.t);
    EXPECT_EQ(b->VisibleNow, r.visible) << r.t;
  }
}

TEST(ShowObjects, HitTestingFindsTheTopmostAndHonoursEdgesFiltersAndDegenerateFrames) {
  SlideFixture f(R"(object Under: Box
GUID={1}
Size=400,300
end
object Over: Box
GUID={2}
Size=400,300
TranspForClick=1
end
object Flat: Box
GUID={3}
Size=400,300
object K: KeyPoint
Time=0
ScaleX=0
end
end
)");
  f.Build();
  f.At(0);
  // 400 x 300 in 800 x 600: scale 2, covering the whole slide.
  TFloatPoint local;
  EXPECT_EQ(f.Slide->HitTest(400, 300, local, nullptr, nullptr), f.Find("Over"));
  EXPECT_FLOAT_EQ(local.X, 0);
  EXPECT_EQ(f.Slide->HitTest(0, 0, local, nullptr, nullptr), f.Find("Over"));  // the edge counts
  EXPECT_FLOAT_EQ(local.X, -200);
  EXPECT_FLOAT_EQ(local.Y, -150);
  EXPECT_EQ(f.Slide->HitTest(800, 600, local, nullptr, nullptr), f.Find("Over"));
  auto clickable = [](TQelObject* o, void*) { return !o->TranspForClick; };
  EXPECT_EQ(f.Slide->HitTest(400, 300, local, clickable, nullptr), f.Find("Under"));
  EXPECT_EQ(f.Find("Under")->HitTest(-0.01f, 300, local, nullptr, nullptr), nullptr);
  EXPECT_EQ(f.Find("Under")->HitTest(400, 600.01f, local, nullptr, nullptr), nullptr);
  // Scale 0 gives a degenerate frame that is never hit, deep or not.
  EXPECT_FALSE(f.Find("Flat")->FrameValid);
  EXPECT_EQ(f.Find("Flat")->HitTestAt(400, 300, local, false), nullptr);
  EXPECT_EQ(f.Find("Under")->HitTestAt(400, 300, local, false), f.Find("Under"));
}

TEST(ShowObjects, ChangesAreTrackedUntilTheFrameIsDrawn) {
  SlideFixture f(R"(object B: Box
GUID={B}
Size=100,100
object K0: KeyPoint
Time=0
Opacity=100
end
object K1: KeyPoint
Time=1000
Opacity=0
end
end
)");
  f.Build();
  f.At(0);
  RecordingDrawer d;
  f.Slide->Draw(&d);
  f.Slide->CommitFrameState(true);
  EXPECT_FALSE(f.Slide->IsChanged());
  f.At(0);  // the same time again: nothing visible moved
  EXPECT_FALSE(f.Slide->IsChanged());
  f.At(500);  // the opacity changed
  EXPECT_TRUE(f.Find("B")->Changed[1]);
  EXPECT_TRUE(f.Slide->IsChanged());
  f.Slide->Draw(&d);
  f.Slide->CommitFrameState(true);
  f.At(500);
  EXPECT_FALSE(f.Slide->IsChanged());
  f.Find("B")->SetShadowAngle(10);  // a content setter
  EXPECT_TRUE(f.Find("B")->Changed[0]);
}

TEST(ShowObjects, DisposalReleasesEveryChildOnceAndAChildLeavesItsParent) {
  SlideFixture f("object A: Box\nGUID={A}\nobject A1: Box\nGUID={A1}\nend\nend\nobject B: Box\nGUID={B}\nend\n");
  f.Build();
  TQelObject* b = f.Find("B");
  TQelObjectProps* bProps = b->Props;
  b->Free();  // alone: leaves the slide's list
  ASSERT_EQ(f.Slide->Children.size(), 1u);
  EXPECT_EQ(bProps->Owner, nullptr);
  // A reload makes it again from its (ownerless) properties and keeps A.
  TQelObject* a = f.Find("A");
  f.Slide->LoadFromProps(f.Props.Get(), true);
  ASSERT_EQ(f.Slide->Children.size(), 2u);
  EXPECT_EQ(f.Slide->Children[0], a);
  EXPECT_EQ(f.Slide->Children[1]->Name, "B");
  EXPECT_EQ(a->RefCount(), 1);
  // Properties that already have an owner cannot make a second object.
  EXPECT_THROW(TQelObject::Create<TQelBox>(nullptr, a->Props), foundation::Exception);
}

TEST(ShowObjects, MainImageIsThePlainImageWithAnImageIndex) {
  SlideFixture f("");
  const std::string pic = Picture(f, "p.fake", 200, 100);
  SlideFixture g("object Frame: Frame\nGUID={F}\n" + ImageBlock("First", pic, "") + "end\n" +
                 ImageBlock("Second", pic, "ImageIndex=0\n") + ImageBlock("Third", pic, "ImageIndex=1\n"));
  g.Build();
  std::u16string name;
  TFloatPoint size{-1, -1};
  EXPECT_EQ(FindMainImageHook(g.Slide.Get(), name, size), g.Find("Second"));
  EXPECT_EQ(Utf8(name), pic);
  EXPECT_EQ(size.X, -1);  // not loaded yet: unchanged
  g.At(0);
  FindMainImageHook(g.Slide.Get(), name, size);
  EXPECT_EQ(size.X, 200);
  EXPECT_EQ(size.Y, 100);
  SlideFixture none(ImageBlock("Only", pic, ""));
  none.Build();
  EXPECT_EQ(FindMainImageHook(none.Slide.Get(), name, size), nullptr);
}

TEST(ShowObjects, ColourGradeTextureRefillsOnlyWhenTheFilterChanges) {
  StartUnits();
  auto ini = kftest::ParseIni("[S]\nobject Invert: Filter\nend\n");
  TObjectFilter* filter = CreateFilter(kftest::FirstObject(ini.Get()));
  ASSERT_NE(filter, nullptr);
  RecordingDrawer d;
  auto wrapper = MakeRef<TColorGradeWrapper>(filter);
  auto* tex = static_cast<FakeGradeTexture*>(wrapper->GetTexture(&d, 2, nullptr));
  ASSERT_NE(tex, nullptr);
  EXPECT_EQ(tex->Fills, 1);
  EXPECT_EQ(tex->LastSource, filter);
  wrapper->SetSource(filter);
  wrapper->GetTexture(&d, 2, nullptr);
  EXPECT_EQ(tex->Fills, 1);  // unchanged chain: kept
  BumpRevision(filter);
  wrapper->SetSource(filter);
  wrapper->GetTexture(&d, 2, nullptr);
  EXPECT_EQ(tex->Fills, 2);
  // The lookup-bitmap variant is another texture.
  auto* lut = static_cast<FakeGradeTexture*>(wrapper->GetTexture(&d, 3, nullptr));
  EXPECT_TRUE(lut->LookupVariant);
  EXPECT_EQ(d.GradeTexturesMade, 2);
  wrapper.Reset();
  EXPECT_EQ(filter->RefCount(), 1);
  filter->Free();
}

}  // namespace
