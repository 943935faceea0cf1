// Viewports: the parts a viewport draws, their sizes, and clicks that pass
// through the mask to the content.
#include "showmodel/kvQelViewPort.h"

#include <gtest/gtest.h>

#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelVideo.h"
#include "tests/showmodel/ObjectFixture.h"

namespace {

using namespace showmodel;

struct Through {
  static inline int Calls = 0;
  static inline TQelObject *Stencil = nullptr, *Content = nullptr;
  static void Hook(TQelDrawer*, TQelObject* s, TQelObject* c, imaging::TImage*, float) {
    ++Calls;
    Stencil = s;
    Content = c;
  }
};

const char* kViewPort = R"(object V: ViewPort
GUID={V}
Size=400,300
object S1: MaskStencil
GUID={S1}
Size=10,10
end
object C: MaskContent
GUID={C}
object Deep: Box
GUID={D}
Size=400,300
Action=nextslide
end
end
object S2: MaskStencil
GUID={S2}
object Shape: Box
GUID={SB}
Size=400,300
Action=exit
end
end
end
)";

TEST(ViewPort, DrawsTheLastStencilAndContentAndPassesClicksToTheContent) {
  InitViewPorts();
  DrawThroughMaskHook = Through::Hook;
  objtest::SlideFixture f(kViewPort);
  f.Build();
  f.At(0);
  auto* v = dynamic_cast<TQelViewPort*>(f.Find("V"));
  ASSERT_NE(v, nullptr);
  TQelMaskStencil* stencil = nullptr;
  TQelMaskContent* content = nullptr;
  v->FindParts(stencil, content);
  EXPECT_EQ(stencil, f.Find("S2"));  // the later stencil is the mask
  EXPECT_EQ(content, f.Find("C"));
  // Stencil and content take the viewport's size, whatever their own.
  EXPECT_EQ(f.Find("S1")->Size.X, v->Size.X);
  EXPECT_EQ(f.Find("S1")->Size.Y, v->Size.Y);
  EXPECT_TRUE(f.Find("S2")->TranspForClick);
  objtest::RecordingDrawer d;
  Through::Calls = 0;
  v->Draw(&d);
  EXPECT_EQ(Through::Calls, 1);
  EXPECT_EQ(Through::Stencil, f.Find("S2"));
  EXPECT_EQ(Through::Content, f.Find("C"));
  // A click over the mask's own box reaches the box inside the content.
  TFloatPoint local;
  auto clickable = [](TQelObject* o, void*) { return !o->TranspForClick; };
  EXPECT_EQ(f.Slide->HitTest(400, 300, local, clickable, nullptr), f.Find("Deep"));
  DrawThroughMaskHook = nullptr;
}

TEST(ViewPort, WithoutAStencilNothingIsDrawn) {
  InitViewPorts();
  DrawThroughMaskHook = Through::Hook;
  objtest::SlideFixture f("object V: ViewPort\nGUID={V}\nSize=1280,720\nobject C: MaskContent\nGUID={C}\nend\nend\n");
  f.Build();
  f.At(0);
  auto* v = dynamic_cast<TQelViewPort*>(f.Find("V"));
  ASSERT_NE(v, nullptr);
  // "Size" equal to the design size: the viewport follows the slide.
  EXPECT_TRUE(v->FollowsSlide);
  EXPECT_EQ(v->Size.X, 800);
  Through::Calls = 0;
  objtest::RecordingDrawer d;
  v->Draw(&d);
  EXPECT_EQ(Through::Calls, 0);
  DrawThroughMaskHook = nullptr;
}

// The object hooks chain: starting the viewports again after the video
// objects (each test program's set-up, a second start-up) keeps every kind
// reachable and the chain free of loops.
TEST(ViewPort, StartingAgainAfterTheVideoObjectsKeepsTheChain) {
  InitViewPorts();
  InitQelVideo();
  InitViewPorts();
  InitQelVideo();
  objtest::SlideFixture f(
      "object B: Box\nGUID={B}\nend\nobject V: ViewPort\nGUID={V}\nend\nobject M: Video\nGUID={M}\nend\n");
  f.Build();
  EXPECT_NE(dynamic_cast<TQelBox*>(f.Find("B")), nullptr);
  EXPECT_NE(dynamic_cast<TQelViewPort*>(f.Find("V")), nullptr);
  EXPECT_NE(dynamic_cast<TQelVideo*>(f.Find("M")), nullptr);
}

}  // namespace
