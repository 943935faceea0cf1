// Draw surfaces over a recording drawer: clipping to the paint pass, the
// surface origin, transformed bounds, tiling, the paint flow and its refresh
// rectangle, and image text elements measured and drawn through a fake font
// service with fixed metrics.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/Startup.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "render3d/kvDrawForm.h"
#include "render3d/kvImageText.h"
#include "tests/support/AssertionText.h"

using namespace render3d;
using foundation::TRect;

namespace {

bool Same(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
#define EXPECT_RECT(r, l, t, rr, b) EXPECT_TRUE(Same((r), TRect{l, t, rr, b}))

imaging::TImage* MakeImage(int32_t w, int32_t h) {
  auto* b = imaging::CreateSysBitmap(w, h, imaging::pfR8G8B8);
  return imaging::WrapBitmapAsImage(b, true, u"img");
}

struct TCall {
  char Kind;  // 'F' fill, 'I' image, 'P' present
  TRect Rect;
  float X = 0, Y = 0;
};

class TRecDrawer : public TDevDrawer {
 public:
  std::vector<TCall>* Log;
  explicit TRecDrawer(std::vector<TCall>* L) : Log(L) {}
  void FillRect(const TRect& R, uint32_t) override { Log->push_back({'F', R}); }
  void DrawImage(imaging::TImage*, const TRect& Clip, TSurfaceTransform& T) override {
    Log->push_back({'I', Clip, T.OriginX, T.OriginY});
  }
  bool Present(TRefreshParams* P) override {
    Log->push_back({'P', P->Rect});
    return true;
  }
};

// Fixed metrics: every character 7 pixels wide, one pixel of overhang on
// either side, ascent 9, descent 3; rendered text is a (7 * n) x 12 picture.
class TFakeFonts : public text::TFontUtils {
 public:
  int32_t Renders = 0;
  void GetFontMetrics(text::TFontMetrics& M, const text::TFontParams&) override {
    M.Ascent = 9;
    M.Descent = 3;
    M.Height = 12;
  }
  void GetUnderline(const text::TFontParams&, int32_t& P, int32_t& T) override {
    P = 2;
    T = 1;
  }
  int32_t GetTextExtent(const text::TFontParams&, const std::u16string&, int32_t, int32_t Count, int32_t& L,
                        int32_t& R) override {
    L = R = Count > 0 ? 1 : 0;
    return 7 * std::max(Count, 0);
  }
  imaging::TImage* RenderText(const text::TFontParams&, const std::u16string&, int32_t, int32_t Count,
                              foundation::TPoint& Offset) override {
    ++Renders;
    Offset = {-1, -9};
    return MakeImage(7 * Count, 12);
  }
};

TFakeFonts* g_fonts = nullptr;

class Env : public ::testing::Environment {
 public:
  void SetUp() override {
    imaging::StartImaging();
    g_fonts = new TFakeFonts;
    text::SetFontUtils(g_fonts);
  }
  void TearDown() override {
    text::SetFontUtils(nullptr);
    imaging::StopImaging();
  }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new Env);

struct Fixture {
  std::vector<TCall> log;
  TRecDrawer* drawer = new TRecDrawer(&log);
  TDevDrawSurface* surface = new TDevDrawSurface(drawer);
  Fixture() { surface->SetBounds(77, TRect{0, 0, 100, 80}); }
  ~Fixture() { surface->Free(); }
  void Paint(const TRect& r, TDevDrawSurface::TPaintCallback cb) {
    surface->PaintCallback = std::move(cb);
    surface->Paint(r);
  }
};

TEST(DrawSurface, OutsideAPaintPassNothingIsDrawn) {
  Fixture f;
  f.surface->FillRect(TRect{0, 0, 10, 10}, 0xFF000000);
  auto* img = MakeImage(4, 4);
  f.surface->DrawImageAt(img, TRect{0, 0, 100, 100}, 1, 1);
  EXPECT_FALSE(f.surface->IsVisible(TRect{0, 0, 10, 10}));
  img->Free();
  EXPECT_TRUE(f.log.empty());
}

TEST(DrawSurface, FillsAreMovedByTheOriginAndClippedToTheDirtyArea) {
  Fixture f;
  f.Paint(TRect{0, 0, 12, 22}, [](TDevDrawSurface* s) {
    s->Origin = {10, 20};
    s->FillRect(TRect{0, 0, 5, 5}, 0xFF112233);
  });
  ASSERT_EQ(f.log.size(), 2u);
  EXPECT_EQ(f.log[0].Kind, 'F');
  // (10, 20, 15, 25) cut by the invalidated (0, 0, 12, 22)
  EXPECT_RECT(f.log[0].Rect, 10, 20, 12, 22);
  EXPECT_EQ(f.log[1].Kind, 'P');
  EXPECT_RECT(f.log[1].Rect, 0, 0, 12, 22);
  // after the pass the clip is closed again
  EXPECT_RECT(f.surface->ClipRect, 0, 0, 0, 0);
  EXPECT_RECT(f.drawer->Dirty, 0, 0, 0, 0);
}

TEST(DrawSurface, PaintInvalidatesOnlyInsideTheDrawerAndRefreshesTheUnion) {
  Fixture f;
  f.Paint(TRect{-20, 50, 30, 200}, [](TDevDrawSurface* s) {
    s->InvalidateRect(TRect{90, 0, 95, 5});
    s->FillRect(TRect{0, 0, 100, 80}, 0xFF000000);
  });
  ASSERT_EQ(f.log.size(), 2u);
  EXPECT_RECT(f.log[0].Rect, 0, 0, 95, 80);
  EXPECT_RECT(f.log[1].Rect, 0, 0, 95, 80);
  // a pass that dirtied nothing presents nothing
  f.log.clear();
  f.Paint(TRect{}, nullptr);
  EXPECT_TRUE(f.log.empty());
}

TEST(DrawSurface, ImagesDrawAtTheirPositionPlusOriginAndTheTransformIsRestored) {
  Fixture f;
  auto* img = MakeImage(10, 10);
  f.Paint(TRect{0, 0, 100, 80}, [&](TDevDrawSurface* s) {
    s->Origin = {3, 4};
    s->DrawImageAt(img, TRect{0, 0, 100, 100}, 5, 6);      // inside the clip: the whole visible area
    s->DrawImageAt(img, TRect{0, 0, 8, 8}, 5, 6);          // clipped
    s->DrawImageAt(img, TRect{0, 0, 100, 100}, 200, 200);  // outside: not drawn
  });
  ASSERT_EQ(f.log.size(), 3u);
  EXPECT_RECT(f.log[0].Rect, 0, 0, 100, 80);
  EXPECT_FLOAT_EQ(f.log[0].X, 8);
  EXPECT_FLOAT_EQ(f.log[0].Y, 10);
  EXPECT_RECT(f.log[1].Rect, 3, 4, 11, 12);
  EXPECT_EQ(f.log[2].Kind, 'P');
  EXPECT_FLOAT_EQ(f.surface->Transform.OriginX, 200);
  img->Free();
}

TEST(SurfaceTransform, AxesChooseTheKindAndBoundsFollowMirroring) {
  TSurfaceTransform t;
  InitSurfaceTransform(t);
  SetSurfaceTransformAxes(t, {-1, 0}, {0, 1});
  EXPECT_EQ(t.Kind, 1);
  t.OriginX = 50;
  EXPECT_RECT(GetTransformedBounds(t, 10, 10), 40, 0, 50, 10);
  SetSurfaceTransformAxes(t, {1, 0}, {0, 1});
  EXPECT_EQ(t.Kind, 0);
  SetSurfaceTransformAxes(t, {0.5f, 0.5f}, {-0.5f, 0.5f});
  EXPECT_EQ(t.Kind, 2);
  t.OriginX = 0;
  // corners (0,0), (5,5), (-5,5), (0,10)
  EXPECT_RECT(GetTransformedBounds(t, 10, 10), -5, 0, 5, 10);
  SetSurfaceTransformAxes(t, {1.5f, 0}, {0, 0.25f});
  t.OriginX = 0.5f;
  t.OriginY = 0.5f;
  // x from 0.5 to 15.5, y from 0.5 to 3: floor / ceiling
  EXPECT_RECT(GetTransformedBounds(t, 10, 10), 0, 0, 16, 3);
}

TEST(DrawSurface, TilingStartsAtTheStartPointColumnAndCoversTheRectangle) {
  Fixture f;
  auto* img = MakeImage(10, 10);
  f.Paint(TRect{0, 0, 100, 80}, [&](TDevDrawSurface* s) { s->DrawTiled(TRect{-5, 0, 25, 10}, img, {0, 0}); });
  // truncation toward zero: -5 div 10 = 0, so the first column is x = 0
  std::vector<float> xs;
  for (auto& c : f.log)
    if (c.Kind == 'I') xs.push_back(c.X);
  EXPECT_EQ(xs, (std::vector<float>{0, 10, 20}));
  img->Free();
}

TEST(DrawSurface, AForeignTextElementIsRejected) {
  class TOther : public TImageTextElement {
   public:
    QEL_CLASSNAME(TOther)
    using TImageTextElement::TImageTextElement;
  };
  class TPlain : public text::TTextElement {
   public:
    QEL_CLASSNAME(TPlainElement)
    TPlain() : TTextElement(text::TFontParams{}, 0) {}
    void GetFontMetrics(text::TTextFontMetrics&) override {}
    void GetCaretPos(int32_t, int32_t&, int32_t&) override {}
    bool IsClusterContinuation(int32_t) override { return false; }
    int32_t GetUnderlineThickness() override { return 0; }
    int32_t GetUnderlinePosition() override { return 0; }
    int32_t GetRangeWidth(int32_t, int32_t) override { return 0; }
    void GetExtent(text::TTextExtent&) override {}
    text::TTextElement* CloneRange(int32_t, int32_t) override { return nullptr; }
  };
  Fixture f;
  auto* plain = new TPlain;
  std::u16string msg;
  f.Paint(TRect{0, 0, 10, 10}, [&](TDevDrawSurface* s) {
    msg = testsupport::AssertionMessageOf([&] { s->DrawText(plain, {0, 0}, TRect{0, 0, 10, 10}); });
  });
  EXPECT_EQ(msg, u"Wrong TextElement type: TPlainElement");
  plain->Free();
}

// ---- image text elements ----

text::TFontParams FontIn(uint8_t r) {
  text::TFontParams p;
  text::InitFontParams(p, u"Any", 10, 0, text::MakeFColor(r, 0, 0), text::MakeFColor(255, 255, 255), true);
  return p;
}

TEST(ImageText, MeasuresThroughTheFontServices) {
  auto* e = CreateImageTextElement(u"xxHello", 3, 5, FontIn(0), 0);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Text, u"Hello");
  text::TTextExtent x;
  e->GetExtent(x);
  EXPECT_EQ(x.Width, 35);
  EXPECT_EQ(x.InkLeft, 1);
  EXPECT_EQ(x.InkWidth, 33);
  EXPECT_EQ(x.AfterInk, 1);
  int32_t b = -1, a = -1;
  e->GetCaretPos(0, b, a);
  EXPECT_EQ(b, a);
  e->GetCaretPos(2, b, a);
  EXPECT_EQ(b, 7);
  EXPECT_EQ(a, 14);
  e->GetCaretPos(99, b, a);  // beyond the end: the last character
  EXPECT_EQ(b, 28);
  EXPECT_EQ(a, 35);
  EXPECT_EQ(e->GetUnderlinePosition(), 2);
  EXPECT_EQ(e->GetUnderlineThickness(), 1);
  text::TTextFontMetrics m;
  e->GetFontMetrics(m);
  EXPECT_EQ(m.Ascent, 9);
  EXPECT_EQ(m.Height, 12);
  auto* sub = e->CloneRange(2, 3);
  EXPECT_EQ(static_cast<TImageTextElement*>(sub)->Text, u"ell");
  EXPECT_EQ(sub->GetWidth(), 21);
  sub->Free();
  e->Free();
}

TEST(ImageText, ThreeColourSlotsMostRecentlyUsedFirst) {
  auto* e = CreateImageTextElement(u"Hi", 1, 2, FontIn(1), 0);
  foundation::TPoint off;
  auto renderIn = [&](uint8_t r) {
    e->Font = FontIn(r);
    const int32_t before = g_fonts->Renders;
    e->GetPiece(0, off);
    return g_fonts->Renders - before;
  };
  EXPECT_EQ(renderIn(1), 1);
  EXPECT_EQ(renderIn(2), 1);
  EXPECT_EQ(renderIn(3), 1);
  EXPECT_EQ(renderIn(4), 1);  // takes K3's slot
  EXPECT_EQ(renderIn(1), 0);
  EXPECT_EQ(renderIn(3), 1);
  EXPECT_EQ(renderIn(1), 0);
  e->Free();
}

TEST(ImageText, DrawnAtPositionPlusPieceOffsetAndClippedOnlyWhenItLeavesTheClip) {
  Fixture f;
  auto* e = f.surface->CreateTextElement(u"Hey", 1, 3, FontIn(0), 0);
  f.Paint(TRect{0, 0, 100, 80}, [&](TDevDrawSurface* s) {
    s->Origin = {2, 3};
    s->DrawText(e, {10, 20}, TRect{0, 0, 100, 80});  // picture (9, 11, 30, 23): inside
    s->DrawText(e, {10, 20}, TRect{0, 0, 20, 80});   // leaves the clip: visible cut to it
    s->DrawText(e, {10, 20}, TRect{50, 0, 60, 80});  // the picture misses the clip
  });
  ASSERT_EQ(f.log.size(), 3u);
  EXPECT_RECT(f.log[0].Rect, 0, 0, 100, 80);
  EXPECT_FLOAT_EQ(f.log[0].X, 11);
  EXPECT_FLOAT_EQ(f.log[0].Y, 14);
  EXPECT_RECT(f.log[1].Rect, 2, 3, 22, 80);
  EXPECT_EQ(f.log[2].Kind, 'P');
  e->Free();
}

}  // namespace
