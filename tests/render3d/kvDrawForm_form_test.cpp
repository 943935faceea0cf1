// Drawn forms on a fake form controller: the surface factory runs at
// creation, the surface follows the client area on visibility, size and
// window-state changes, a paint message paints the whole form, closing
// hides and frees, acceleration changes remake the surface, and freeing the
// last drawn form ends the application.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imaging/Startup.h"
#include "render3d/kvDrawForm.h"
#include "windowing/kvApplication.h"

using namespace render3d;
using foundation::TRect;
using windowing::TFormUpdate;

namespace {

// A controller without a window: client area 120 x 90, handle 0x55; it
// carries visibility and bounds out at once, as a window would.
class TFakeController : public windowing::TFormController {
 public:
  TRect GetDefaultBounds() override { return TRect{10, 20, 130, 110}; }
  bool HasCapture() override { return false; }
  TPoint ClientToScreen(TPoint pt) override { return TPoint{pt.X + 10, pt.Y + 20}; }
  TPoint ScreenToClient(TPoint pt) override { return TPoint{pt.X - 10, pt.Y - 20}; }
  bool SetBounds(const TRect& r) override {
    Client = TRect{0, 0, r.Right - r.Left, r.Bottom - r.Top};
    TFormUpdate u;
    u.Kind = windowing::fuResized;
    u.X = r.Left;
    u.Y = r.Top;
    u.Width = r.Right - r.Left;
    u.Height = r.Bottom - r.Top;
    ApplyUpdates(&u, 1);
    return true;
  }
  bool SetCaption(const std::u16string&) override { return false; }
  bool SetCursor(int32_t) override { return false; }
  bool SetVisible(bool v) override {
    TFormUpdate u;
    u.Kind = windowing::fuVisible;
    u.Visible = v;
    ApplyUpdates(&u, 1);
    return true;
  }
  bool SetShowInTaskbar(bool) override { return false; }
  bool SetStayOnTop(bool) override { return false; }
  bool SetWindowState(int32_t) override { return false; }
  bool SetBorderStyle(int32_t) override { return false; }
  bool SetBorderIcons(int32_t) override { return false; }
  void Activate() override {}
  void Close() override {}
  void SetCapture() override {}
  void ReleaseCapture() override {}
  void Invalidate() override {}
  void InvalidateRect(const TRect&) override {}
  TRect GetClientRect() override { return Client; }
  TPoint GetClientOrigin() override { return TPoint{10, 20}; }
  uintptr_t GetHandle() override { return 0x55; }
  TRect Client{0, 0, 120, 90};
};

windowing::TFormController* MakeFake(windowing::TKvForm* form) {
  auto* c = new TFakeController;
  c->Attach(form);
  return c;
}

// What the drawer saw: bounds, fills and presented rectangles.
struct TDrawLog {
  std::vector<std::string> Lines;
  void Add(const std::string& s) { Lines.push_back(s); }
};

std::string RectText(const TRect& r) {
  return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) + "," +
         std::to_string(r.Bottom);
}

class TLogDrawer : public TDevDrawer {
 public:
  TLogDrawer(TDrawLog* L, bool A) : Log(L), Accel(A) {}
  bool IsAccelerated() override { return Accel; }
  void SetBounds(uintptr_t W, const TRect& R) override {
    TDevDrawer::SetBounds(W, R);
    Log->Add("bounds " + std::to_string(W) + " " + RectText(R));
  }
  void FillRect(const TRect& R, uint32_t) override { Log->Add("fill " + RectText(R)); }
  void DrawImage(imaging::TImage*, const TRect&, TSurfaceTransform&) override {}
  bool Present(TRefreshParams* P) override {
    Log->Add("present " + RectText(P->Rect));
    return true;
  }
  TDrawLog* Log;
  bool Accel;
};

TDrawLog* g_log = nullptr;
std::vector<bool> g_factoryCalls;

// A factory entry that always makes a surface over a logging drawer.
bool TestFactory(TDrawForm* form, bool accelerated) {
  g_factoryCalls.push_back(accelerated);
  form->SetSurface(new TDevDrawSurface(new TLogDrawer(g_log, accelerated)));
  return true;
}

class TTestForm : public TDrawForm {
 public:
  explicit TTestForm(bool accelerated) : TDrawForm(accelerated, MakeFake) {}
  void PaintSurface(TDevDrawSurface* s) override {
    ++Paints;
    s->FillRect(TRect{0, 0, 1000, 1000}, 0xFF000000);
  }
  void Moved() override { ++Moves; }
  int32_t Paints = 0, Moves = 0;
};

class TFakeApp : public windowing::TApplication {
 public:
  void Finalize() override {}
  bool IsQuitting() override { return false; }
  std::u16string GetTitle() override { return u""; }
  void SetTitle(const std::u16string&) override {}
  void Initialize() override {}
  void Run() override {}
  void ProcessMessages() override {}
  void AddObject(foundation::TRefObject*) override {}
  void RemoveObject(foundation::TRefObject*) override {}
  bool WakeUp(int32_t) override { return true; }
};

class DrawForm : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool once = false;
    if (!once) {
      once = true;
      imaging::StartImaging();
    }
    g_log = &Log;
    g_factoryCalls.clear();
    Previous = SetSurfaceFactory(TestFactory);
    App = new TFakeApp;
  }
  void TearDown() override {
    SetSurfaceFactory(Previous);
    if (App) App->Free();
    g_log = nullptr;
  }
  TDrawLog Log;
  TSurfaceFactory Previous = nullptr;
  TFakeApp* App = nullptr;
};

TEST_F(DrawForm, CreationRunsTheFactoryAndShowingSizesAndPaintsTheSurface) {
  auto* f = new TTestForm(false);
  ASSERT_EQ(g_factoryCalls, std::vector<bool>{false});
  ASSERT_NE(f->Surface, nullptr);
  EXPECT_TRUE(Log.Lines.empty());  // nothing sized before the form shows
  f->SetVisible(true);             // kind 5: sized to the client area and repainted
  ASSERT_EQ(Log.Lines.size(), 3u);
  EXPECT_EQ(Log.Lines[0], "bounds 85 0,0,120,90");
  EXPECT_EQ(Log.Lines[1], "fill 0,0,120,90");  // the paint pass covers the drawer
  EXPECT_EQ(Log.Lines[2], "present 0,0,120,90");
  EXPECT_EQ(f->Paints, 1);
  // A new size: resized to the new client area and painted again.
  Log.Lines.clear();
  f->SetBoundsRect(TRect{10, 20, 60, 50});
  ASSERT_GE(Log.Lines.size(), 2u);
  EXPECT_EQ(Log.Lines[0], "bounds 85 0,0,50,30");
  EXPECT_EQ(Log.Lines.back(), "present 0,0,50,30");
  f->Free();
}

TEST_F(DrawForm, HiddenFormsOnlyResizeAndMovesReachMoved) {
  auto* f = new TTestForm(false);
  f->Changed(windowing::fuResized);  // not visible: sized, not painted
  EXPECT_EQ(Log.Lines, std::vector<std::string>{"bounds 85 0,0,120,90"});
  EXPECT_EQ(f->Paints, 0);
  f->Changed(windowing::fuMoved);
  EXPECT_EQ(f->Moves, 1);
  EXPECT_EQ(Log.Lines.size(), 1u);
  f->Changed(windowing::fuWindowState);
  EXPECT_EQ(Log.Lines.size(), 2u);
  f->Free();
}

TEST_F(DrawForm, PaintMessagePaintsTheWholeFormWhateverRectangleItNames) {
  auto* f = new TTestForm(false);
  f->ResizeSurface(false);
  Log.Lines.clear();
  f->Paint(TRect{5, 5, 6, 6});
  // The form is 120 x 90 (its default bounds), the drawer the same.
  ASSERT_EQ(Log.Lines.size(), 2u);
  EXPECT_EQ(Log.Lines[0], "fill 0,0,120,90");
  EXPECT_EQ(Log.Lines[1], "present 0,0,120,90");
  f->Free();
}

TEST_F(DrawForm, ClosingHidesAndAsksToFreeTheForm) {
  auto* f = new TTestForm(false);
  f->SetVisible(true);
  int32_t action = 0;
  f->GetCloseAction(action);
  EXPECT_EQ(action, 2);
  EXPECT_FALSE(f->Visible());
  f->Free();
}

TEST_F(DrawForm, RecreateSurfaceOnlyWhenTheAccelerationChanges) {
  auto* f = new TTestForm(false);
  EXPECT_FALSE(f->IsAccelerated());
  TDevDrawSurface* first = f->Surface;
  f->RecreateSurface(false);
  EXPECT_EQ(f->Surface, first);
  EXPECT_EQ(g_factoryCalls.size(), 1u);
  f->RecreateSurface(true);
  EXPECT_EQ(g_factoryCalls, (std::vector<bool>{false, true}));
  EXPECT_TRUE(f->IsAccelerated());
  // The new surface is sized at once (the form is hidden, so not painted).
  EXPECT_EQ(Log.Lines.back(), "bounds 85 0,0,120,90");
  EXPECT_EQ(f->Paints, 0);
  // Painting reaches the form through the new surface.
  f->Paint(TRect{});
  EXPECT_EQ(f->Paints, 1);
  f->Free();
}

TEST_F(DrawForm, WithoutSurfaceNothingHappens) {
  SetSurfaceFactory(nullptr);
  auto* f = new TTestForm(true);
  EXPECT_EQ(f->Surface, nullptr);
  EXPECT_FALSE(f->IsAccelerated());
  f->ResizeSurface(true);
  f->Paint(TRect{0, 0, 10, 10});
  f->RecreateSurface(false);
  EXPECT_EQ(f->Surface, nullptr);
  EXPECT_EQ(f->Paints, 0);
  f->Free();
}

TEST_F(DrawForm, FreeingTheLastDrawnFormTerminatesTheApplication) {
  const int32_t before = windowing::GetFormCount();
  ASSERT_EQ(before, 0);
  auto* a = new TTestForm(false);
  auto* b = new TTestForm(false);
  a->Free();
  EXPECT_FALSE(App->Terminated());
  b->Free();
  EXPECT_TRUE(App->Terminated());
}

}  // namespace
