// A transition drawn by an effect slide: the slide follows the transition's
// progress, takes its background from the two slides by its mode, and its
// effect-buffer images show the two slides' targets only while a frame is
// drawn.
#include "showmodel/kvSlideEffect.h"

#include <gtest/gtest.h>

#include "render3d/Dev3DDrawer.h"
#include "showmodel/kvSlideProducer.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/ShowFixture.h"

namespace {

using foundation::TRef;
using showmodel::TQelSlide;
using showmodel::TRealSlideFilter;
using showmodel::TSlideProducer;

const char* kShow =
    "[Main]\nopt_scr_width=800\nopt_scr_height=600\nobject TheEffect: AnEffect\n  time=1000\n"
    "  object Swirl: custom\n    slide_1=swirl\n    bstyle=4\n    CustomEffBg=2\n    TransparentBg=0\n"
    "    userprops=1\n    prop1=name:Speed;id:speed\n    speed=7\n  end\nend\n[Times]\nopt_slidescount=2\nopt_synchpos1=4000\n"
    "opt_synchpos2=8000\n[Slide1]\nbstyle=1\nbcolor=255\n[Slide2]\nbstyle=3\nbcolorstyle=2\nbcolor1=65280\n"
    "bcolor2=16711680\nobject TheEffect: AnEffect\n  ref=Swirl\n  time=1500\nend\n"
    "[effect_swirl]\nCustomEffTime=2000\nCustomEffBg=3\nTransparentBg=1\nopt_scr_width=400\nopt_scr_height=300\n"
    "object Container: Root\n"
    "  object Out: Image\n    GUID={1}\n    ReplaceWithEffectBuffer=1\n  end\n"
    "  object In: Image\n    GUID={2}\n    ReplaceWithEffectBuffer=2\n  end\n"
    "  object Box: Box\n    GUID={3}\n    Size=400,300\n"
    "    object K0: KeyPoint\n      Time=0\n      Opacity=0\n    end\n"
    "    object K1: KeyPoint\n      Time=2000\n      Opacity=100\n    end\n  end\nend\n"
    "[effect_own]\nCustomEffBg=0\n";

struct Fixture {
  showtest::Show Show{kShow};
  TRef<TSlideProducer> Producer;
  TRef<TQelSlide> Outgoing, Incoming;

  Fixture() {
    objtest::StartUnits();
    Producer = TRef<TSlideProducer>::Adopt(new TSlideProducer(Show.Source.Get(), false, {}, nullptr));
    Producer->SetTiming(TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0)).Get());
    Producer->SetRenderSize(800, 600, 100, 100, false);
    Outgoing = TRef<TQelSlide>::Adopt(Producer->CreateSlide(0, 0));
    Incoming = TRef<TQelSlide>::Adopt(Producer->CreateSlide(1, 0));
  }
  TRef<TRealSlideFilter> Filter(const char16_t* section) {
    transitions::TDrawFilter* f = showmodel::CreateSlideEffectFilter(
        Incoming.Get(), foundation::TIniFile::FindSection(Show.Ini.Get(), section));
    auto* real = dynamic_cast<TRealSlideFilter*>(f);
    EXPECT_NE(real, nullptr);
    if (!real) f->Free();
    return TRef<TRealSlideFilter>::Adopt(real);
  }
};

TEST(SlideEffect, TheEffectSlideFollowsTheProgress) {
  Fixture fx;
  auto f = fx.Filter(u"effect_swirl");
  ASSERT_NE(f->EffSlide, nullptr);
  EXPECT_TRUE(f->EffSlide->IsEffectSlide());
  EXPECT_EQ(f->TransparentBg, 1);
  EXPECT_EQ(f->BackgroundMode, showmodel::ebBlend);
  EXPECT_DOUBLE_EQ(f->EffSlide->Start, 0);
  EXPECT_DOUBLE_EQ(f->EffSlide->End, 2000);
  ASSERT_EQ(f->EffSlide->Children.size(), 3u);
  f->SetProgress(0.25);
  EXPECT_DOUBLE_EQ(f->EffSlide->LocalTime, 500);
  EXPECT_NEAR(f->EffSlide->Children[2]->ParamOpacity(), 25, 0.01);
  f->SetProgress(1);
  EXPECT_NEAR(f->EffSlide->Children[2]->ParamOpacity(), 100, 0.01);
  // The effect slide is built for its own design size, scaled to the slide.
  EXPECT_FLOAT_EQ(f->EffSlide->Size.X, 800);
}

TEST(SlideEffect, BackgroundsByMode) {
  Fixture fx;
  auto blend = fx.Filter(u"effect_swirl");
  blend->SetProgress(0.5);
  blend->ApplyBackground(fx.Outgoing.Get(), fx.Incoming.Get());
  TQelSlide* e = blend->EffSlide;
  EXPECT_EQ(e->Background.Style, showmodel::bsSolid);
  EXPECT_EQ(e->Background.Color1.R, 255);
  EXPECT_EQ(e->Background2.Style, showmodel::bsGradientBox6);
  EXPECT_FLOAT_EQ(e->BgMix, 0.5f);
  objtest::RecordingDrawer d;
  e->Draw(&d);
  auto boxes = d.Of("box");
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].Box.Color1, 0xFFFF0000u);  // the outgoing slide's red, whole
  EXPECT_EQ(boxes[1].Box.FillMode, 6);           // the incoming gradient, half mixed in
  EXPECT_EQ(boxes[1].Box.Color1, 0x8000FF00u);

  for (int mode : {1, 2}) {
    auto f = fx.Filter(u"effect_swirl");
    f->BackgroundMode = mode;
    f->ApplyBackground(fx.Outgoing.Get(), fx.Incoming.Get());
    EXPECT_EQ(f->EffSlide->Background.Style, mode == 1 ? showmodel::bsSolid : showmodel::bsGradientBox6);
    EXPECT_FLOAT_EQ(f->EffSlide->BgMix, 0);
  }
  auto own = fx.Filter(u"effect_own");
  const uint8_t style = own->EffSlide->Background.Style;
  own->ApplyBackground(fx.Outgoing.Get(), fx.Incoming.Get());
  EXPECT_EQ(own->EffSlide->Background.Style, style);
  EXPECT_THROW(own->ApplyBackground(nullptr, fx.Incoming.Get()), foundation::EAssertionFailed);
}

TEST(SlideEffect, BufferImagesShowTheTwoTargetsForOneFrame) {
  Fixture fx;
  auto f = fx.Filter(u"effect_swirl");
  f->SetProgress(0.5);
  auto* out = dynamic_cast<showmodel::TQelImage*>(f->EffSlide->Children[0]);
  auto* in = dynamic_cast<showmodel::TQelImage*>(f->EffSlide->Children[1]);
  ASSERT_TRUE(out && in && out->Image && in->Image);
  auto a = foundation::MakeRef<showmodel::TTiming>(1);  // any object stands for a target
  auto b = foundation::MakeRef<showmodel::TTiming>(2);
  f->AttachSlideTargets(a.Get(), b.Get());
  ASSERT_NE(out->Image->Attachments, nullptr);
  EXPECT_GE(out->Image->Attachments->IndexOf(a.Get()), 0);
  EXPECT_LT(out->Image->Attachments->IndexOf(b.Get()), 0);
  EXPECT_GE(in->Image->Attachments->IndexOf(b.Get()), 0);
  f->EndDraw();
  EXPECT_LT(out->Image->Attachments->IndexOf(a.Get()), 0);
  EXPECT_LT(in->Image->Attachments->IndexOf(b.Get()), 0);
}

TEST(SlideEffect, WithoutASectionACrossFade) {
  Fixture fx;
  transitions::TDrawFilter* f = showmodel::CreateSlideEffectFilter(fx.Incoming.Get(), nullptr);
  EXPECT_NE(dynamic_cast<transitions::TAlphaFilter*>(f), nullptr);
  f->Free();
  // A slide that no producer made cannot carry one.
  auto orphan = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(fx.Producer->Host, 0, nullptr));
  EXPECT_THROW(showmodel::CreateSlideEffectFilter(orphan.Get(), nullptr), foundation::EAssertionFailed);
}

TEST(SlideEffect, PreloadMakesTheFilterOnce) {
  Fixture fx;
  showmodel::InitSlideEffects();
  showmodel::TQelFilter* t = fx.Incoming->Transition;
  ASSERT_TRUE(t && t->Effect);
  ASSERT_EQ(t->Effect->Kind, 12);
  EXPECT_DOUBLE_EQ(t->Duration, 1500);
  objtest::RecordingDrawer d;
  fx.Incoming->Preload(&d);
  auto* f = dynamic_cast<TRealSlideFilter*>(t->DrawFilter);
  ASSERT_NE(f, nullptr);
  EXPECT_FLOAT_EQ(f->Duration, 1500);
  EXPECT_EQ(f->Rect.Right, 800);
  ASSERT_NE(f->EffSlide, nullptr);
  EXPECT_EQ(f->EffSlide->LastPreloadDrawer, &d);  // preloaded with the same drawer
  // Built from the section with the definition's options: its background
  // mode and transparency, not the section's own.
  EXPECT_EQ(f->BackgroundMode, showmodel::ebIncoming);
  EXPECT_EQ(f->TransparentBg, 0);
  EXPECT_EQ(f->EffSlide->Children.size(), 3u);
  // The project's section is left as it was.
  EXPECT_EQ(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(
                foundation::TIniFile::FindSection(fx.Show.Ini.Get(), u"effect_swirl"), u"CustomEffBg")),
            u"3");
  objtest::RecordingDrawer other;
  fx.Incoming->Preload(&other);
  EXPECT_EQ(t->DrawFilter, f);  // made once
  EXPECT_EQ(f->EffSlide->LastPreloadDrawer, &other);
  // The outgoing slide has no transition of that kind.
  fx.Outgoing->Preload(&d);
  EXPECT_TRUE(!fx.Outgoing->Transition || !fx.Outgoing->Transition->DrawFilter);
  showmodel::TQelSlide::PreloadTransitionHook = nullptr;
  render3d::SetSlideEffectHook(nullptr);
}

class SlideItem : public render3d::TDrawItem {
 public:
  void Draw(render3d::T3DDrawer*) override {}
};

TEST(SlideEffect, TheFactoryAnswersAnEffectSlideOnlyWithItsDrawItem) {
  Fixture fx;
  showmodel::InitSlideEffects();
  render3d::TSlideEffectHook hook = render3d::GetSlideEffectHook();
  ASSERT_NE(hook, nullptr);
  foundation::TIniSection* section = foundation::TIniFile::FindSection(fx.Show.Ini.Get(), u"effect_swirl");
  // No way yet from a draw item to its slide: a cross-fade.
  auto item = foundation::MakeRef<SlideItem>();
  transitions::TDrawFilter* f = hook(item.Get(), section);
  EXPECT_NE(dynamic_cast<transitions::TAlphaFilter*>(f), nullptr);
  f->Free();
  // With both ways filled, the effect slide's own item goes with the filter.
  static TQelSlide* incoming = nullptr;
  incoming = fx.Incoming.Get();
  TRealSlideFilter::SlideOfItem = [](render3d::TDrawItem*) { return incoming; };
  TRealSlideFilter::ItemOfSlide = [](TQelSlide*) -> render3d::TDrawItem* { return new SlideItem; };
  f = hook(item.Get(), section);
  auto* real = dynamic_cast<TRealSlideFilter*>(f);
  ASSERT_NE(real, nullptr);
  EXPECT_NE(real->EffectSlide, nullptr);  // released with the filter (the leak check would see it)
  // Built like the preload's filter: the definition's options, not the section's own.
  EXPECT_EQ(real->BackgroundMode, showmodel::ebIncoming);
  EXPECT_EQ(real->TransparentBg, 0);
  f->Free();
  TRealSlideFilter::SlideOfItem = nullptr;
  TRealSlideFilter::ItemOfSlide = nullptr;
  showmodel::TQelSlide::PreloadTransitionHook = nullptr;
  render3d::SetSlideEffectHook(nullptr);
}

}  // namespace
