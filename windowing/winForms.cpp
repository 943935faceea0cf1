#include "windowing/winForms.h"

#include <cmath>
#include <mutex>

#include "foundation/kpExceptions.h"
#include "foundation/kpTypes.h"
#include "imaging/SysBitmap.h"
#include "windowing/kvApplication.h"
#include "windowing/kvHooks.h"
#include "windowing/winFormUtils.h"

namespace windowing {

namespace pw = platform::window;
using foundation::QelAssertFail;

namespace {

constexpr uint32_t WS_SYSMENU = 0x00080000u, WS_MINIMIZEBOX = 0x00020000u, WS_MAXIMIZEBOX = 0x00010000u;
constexpr uint32_t WS_EX_WINDOWEDGE = 0x100u, WS_EX_CONTROLPARENT = 0x10000u, WS_EX_CONTEXTHELP = 0x400u;
constexpr uint32_t WM_NCLBUTTONDOWN = 0xA1, WM_NCRBUTTONDOWN = 0xA4, WM_NCMBUTTONDOWN = 0xA7,
                   WM_NCXBUTTONDOWN = 0xAB, WM_NCPAINT = 0x85, WM_IME_STARTCOMPOSITION = 0x10D,
                   WM_MENUCHAR = 0x120, WM_CHANGEUISTATE = 0x127, WM_SYSCOMMAND = 0x112;
constexpr int32_t HTLEFT = 10, HTBOTTOMRIGHT = 17;
// TWndAPI.ShowWindow command numbers.
constexpr int32_t cmdHide = 0, cmdShowMaximized = 1, cmdShowMinimized = 7, cmdShowNoActivate = 10,
                  cmdShowNormal = 11;
constexpr uint32_t kRestylingFlag = 1;

TWinFormController* g_creating = nullptr;
std::recursive_mutex g_createLock;
uint32_t g_taskbarMessage = 0;
int32_t g_releaseMessage = -1;
uint16_t g_atom = 0;
bool g_brushMade = false;
TFormColor g_brushColor;

TFormColor EnsureDefaultColor() {
  TFormColor c;
  if (!GetDefaultFormColor(c)) {
    SetDefaultFormColor(0xF0, 0xF0, 0xF0);  // COLOR_BTNFACE
    GetDefaultFormColor(c);
  }
  c.A = 255;
  if (!g_brushMade || !(g_brushColor == c)) {
    g_brushColor = c;
    g_brushMade = true;
  }
  return c;
}

uintptr_t BrushValue() {
  // The layer has no brushes; the class keeps the colour as its background
  // (non-zero: the background is erased).
  return 0x1000000u | (uintptr_t{g_brushColor.R}) | (uintptr_t{g_brushColor.G} << 8) |
         (uintptr_t{g_brushColor.B} << 16);
}

void RegisterFormWindowClass() {
  if (g_atom) return;
  EnsureDefaultColor();
  pw::WndClass cls;
  cls.style = pw::CS_VREDRAW | pw::CS_HREDRAW | pw::CS_DBLCLKS;
  cls.lpfnWndProc = &InitialFormWindowProc;
  cls.hInstance = HInstance;
  cls.hCursor = pw::loadSystemCursor(pw::IDC_ARROW);
  cls.hbrBackground = BrushValue();
  cls.className = u"TKvForm";
  g_atom = WindowApiClass->RegisterClass(cls);
  if (!g_atom) foundation::RaiseLastSystemError();
}

TFormController* MakeWinFormController(TKvForm* form) {
  auto* c = new TWinFormController;
  c->Attach(form);
  return c;
}

}  // namespace

int32_t FormReleaseMessage() { return g_releaseMessage; }
uint32_t TaskbarButtonCreatedMessage() { return g_taskbarMessage; }

int32_t EffectiveBorderIcons(int32_t borderStyle, int32_t icons) {
  switch (borderStyle) {
    case 0:
    case 4: return 0;
    case 5: return icons & ~biMaximize;
    case 6: return icons & ~(biMinimize | biMaximize);
    default: return icons;
  }
}

TFormStyles FormWindowStyles(int32_t windowState, int32_t borderStyle, int32_t borderIcons, bool visible,
                             bool stayOnTop) {
  static constexpr uint32_t kFramed = pw::WS_CLIPSIBLINGS | pw::WS_CLIPCHILDREN | pw::WS_CAPTION | pw::WS_THICKFRAME;
  TFormStyles s;
  switch (borderStyle) {
    case 0: s.Style = pw::WS_POPUP; break;
    case 1: s = {kFramed, WS_EX_WINDOWEDGE}; break;
    case 2:
    case 3: s = {kFramed, WS_EX_WINDOWEDGE | pw::WS_EX_TOOLWINDOW}; break;
    case 4: s = {pw::WS_POPUP | pw::WS_BORDER, WS_EX_WINDOWEDGE}; break;
    case 5:
    case 6: s = {pw::WS_CAPTION, WS_EX_WINDOWEDGE}; break;
    default: QelAssertFail(std::string_view("winForms: invalid border style"));
  }
  s.ExStyle |= WS_EX_CONTROLPARENT;
  if (stayOnTop) s.ExStyle |= pw::WS_EX_TOPMOST;
  if (visible) s.Style |= pw::WS_VISIBLE;
  if (windowState & 1) s.Style |= pw::WS_MINIMIZE;
  if (windowState & 2) s.Style |= pw::WS_MAXIMIZE;
  if (borderIcons & biSystemMenu) {
    s.Style |= WS_SYSMENU;
    if (borderIcons & biMinimize) s.Style |= WS_MINIMIZEBOX;
    if (borderIcons & biMaximize) s.Style |= WS_MAXIMIZEBOX;
  }
  if (borderIcons & biHelp) s.ExStyle |= WS_EX_CONTEXTHELP;
  return s;
}

// ---- the class procedure ----

pw::LRESULT InitialFormWindowProc(HWND wnd, uint32_t msg, pw::WPARAM wParam, pw::LPARAM lParam) {
  TWinFormController* c = g_creating;
  if (!c) return 0;
  if (!c->FInstalledProc) {
    c->FHandle = wnd;
    c->FHookedWindow = wnd;
    c->FInstalledProc = AddWindowProcHook(wnd, foundation::MethodOf<&TWinFormController::FormWindowProc>(c));
    WindowApiClass->SetWindowLongPtr(wnd, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(c->FInstalledProc));
  }
  const pw::LRESULT r = c->FInstalledProc(wnd, msg, wParam, lParam);
  g_creating = nullptr;
  return r;
}

// ---- TWinFormController ----

TWinFormController::TWinFormController() = default;

void TWinFormController::Dispose() {
  if (FHandle) {
    const HWND h = FHandle;
    WindowApiClass->DestroyWindow(h);
    FHandle = 0;
  }
  if (FInstalledProc) {
    RemoveWindowProcHook(FHookedWindow);
    FInstalledProc = nullptr;
    FHookedWindow = 0;
  }
  TCustomWinFormController::Dispose();
}

TRect TWinFormController::GetDefaultBounds() {
  pw::Rect work;
  pw::systemParametersInfo(pw::SPI_GETWORKAREA, 0, &work, 0);
  const int32_t ww = work.right - work.left, wh = work.bottom - work.top;
  const int32_t w = foundation::MulDivInt(ww - pw::getSystemMetrics(pw::SM_CXFRAME), 3, 4);
  const int32_t h = foundation::MulDivInt(
      wh - pw::getSystemMetrics(pw::SM_CYFRAME) + pw::getSystemMetrics(pw::SM_CYCAPTION), 3, 4);
  const int32_t left = work.left + (ww - w) / 2, top = work.top + (wh - h) / 2;
  return TRect{left, top, left + w, top + h};
}

void TWinFormController::NeedWindow(const char* operation) {
  if (!FHandle) QelAssertFail(std::string("winForms: ") + operation + " needs a window");
}

bool TWinFormController::HasCapture() { return FHandle && pw::getCapture() == FHandle; }

TPoint TWinFormController::ClientToScreen(TPoint pt) {
  CreateFormWindow();
  pw::Point p{pt.X, pt.Y};
  pw::clientToScreen(FHandle, p);
  return TPoint{p.x, p.y};
}

TPoint TWinFormController::ScreenToClient(TPoint pt) {
  CreateFormWindow();
  pw::Point p{pt.X, pt.Y};
  pw::screenToClient(FHandle, p);
  return TPoint{p.x, p.y};
}

bool TWinFormController::ContainsScreenPoint(TPoint pt) {
  if (!FHandle || !TFormController::ContainsScreenPoint(pt)) return false;
  HWND w = pw::windowFromPoint(pw::Point{pt.X, pt.Y});
  if (!w || pw::getWindowThreadProcessId(w, nullptr) != platform::os::currentThreadId()) return false;
  for (; w; w = pw::getParent(w)) {
    if (w == FHandle) return true;
    if (pw::topLevelOf(w) == w) break;  // owners are not parents
  }
  return false;
}

bool TWinFormController::SetBounds(const TRect& r) {
  if (!FHandle) return false;
  pw::setWindowPos(FHandle, 0, r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top,
                   pw::SWP_NOZORDER | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
  return true;
}

bool TWinFormController::SetCaption(const std::u16string& caption) {
  if (!FHandle) return false;
  WindowApiClass->SetWindowText(FHandle, caption);
  return true;
}

bool TWinFormController::SetCursor(int32_t cursor) {
  TFormUpdate u;
  u.Kind = fuCursor;
  u.Cursor = cursor;
  ApplyUpdates(&u, 1);
  if (FHandle) {
    pw::Point pt;
    pw::getCursorPos(pt);
    const HWND under = pw::windowFromPoint(pt);
    if (under == FHandle) {
      const LPARAM pos = static_cast<LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(pt.y)) << 16) |
                                             static_cast<uint16_t>(pt.x));
      if (WindowApiClass->SendMessage(FHandle, pw::WM_NCHITTEST, 0, pos) == pw::HTCLIENT) SetCursorById(cursor);
    } else if (under) {
      RefreshCursorUnderMouse();
    }
  }
  return true;
}

void TWinFormController::ApplyState(int32_t state) {
  if (state == 3) {
    pw::WindowPlacement p;
    pw::getWindowPlacement(FHandle, p);
    p.flags = pw::WPF_RESTORETOMAXIMIZED;
    p.showCmd = pw::SW_MINIMIZE;
    pw::setWindowPlacement(FHandle, p);
    // The layer keeps a placement of a hidden window for its next showing.
    if (!pw::isWindowVisible(FHandle)) pw::showWindow(FHandle, pw::SW_MINIMIZE);
    return;
  }
  WindowApiClass->ShowWindow(FHandle, (state & 1) ? cmdShowMinimized : (state & 2) ? cmdShowMaximized : cmdShowNormal,
                             true);
}

bool TWinFormController::SetVisible(bool visible) {
  if (!FForm || FForm->Visible() == visible) return false;
  if (visible) {
    CreateFormWindow();
    ApplyState(FForm->WindowState());
    return true;
  }
  if (!FHandle) return false;
  if (FOwner && FOwner->FHandle) {
    pw::enableWindow(FOwner->FHandle, true);
    pw::setActiveWindow(FOwner->FHandle);
  }
  WindowApiClass->ShowWindow(FHandle, cmdHide, true);
  return true;
}

bool TWinFormController::SetShowInTaskbar(bool show) {
  if (!FHandle) return false;
  TFormUpdate u;
  u.Kind = fuTaskbar;
  u.ShowInTaskbar = show;
  ApplyUpdates(&u, 1);
  RecreateHandle();
  return true;
}

bool TWinFormController::SetStayOnTop(bool onTop) {
  if (!FHandle) return false;
  TFormUpdate u;
  u.Kind = fuStayOnTop;
  u.StayOnTop = onTop;
  ApplyUpdates(&u, 1);
  pw::setWindowPos(FHandle, onTop ? pw::HWND_TOPMOST : pw::HWND_NOTOPMOST, 0, 0, 0, 0,
                   pw::SWP_NOSIZE | pw::SWP_NOMOVE | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
  return true;
}

bool TWinFormController::SetWindowState(int32_t state) {
  if (!FHandle || !pw::isWindowVisible(FHandle)) return false;
  TFormUpdate u;
  u.Kind = fuWindowState;
  u.WindowState = state;
  ApplyUpdates(&u, 1);
  ApplyState(state);
  return true;
}

bool TWinFormController::SetBorderStyle(int32_t style) {
  if (!FHandle) return false;
  TFormUpdate u;
  u.Kind = fuBorderStyle;
  u.BorderStyle = style;
  ApplyUpdates(&u, 1);
  FFlags |= kRestylingFlag;
  const TFormStyles s = FormWindowStyles(FForm->WindowState(), style, EffectiveBorderIcons(style, FForm->BorderIcons()),
                                         pw::isWindowVisible(FHandle), FForm->StayOnTop());
  WindowApiClass->SetWindowLongPtr(FHandle, pw::GWL_STYLE, static_cast<intptr_t>(s.Style));
  WindowApiClass->SetWindowLongPtr(FHandle, pw::GWL_EXSTYLE, static_cast<intptr_t>(s.ExStyle));
  pw::setWindowPos(FHandle, 0, 0, 0, 0, 0,
                   pw::SWP_NOSIZE | pw::SWP_NOMOVE | pw::SWP_NOZORDER | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
  FFlags &= ~kRestylingFlag;
  NotifyChanged(fuBorderStyle);
  return true;
}

bool TWinFormController::SetBorderIcons(int32_t icons) {
  if (!FHandle) return false;
  TFormUpdate u;
  u.Kind = fuBorderIcons;
  u.BorderIcons = icons;
  ApplyUpdates(&u, 1);
  FFlags |= kRestylingFlag;
  const int32_t bs = FForm->BorderStyle();
  const TFormStyles s = FormWindowStyles(FForm->WindowState(), bs, EffectiveBorderIcons(bs, icons),
                                         pw::isWindowVisible(FHandle), FForm->StayOnTop());
  WindowApiClass->SetWindowLongPtr(FHandle, pw::GWL_STYLE, static_cast<intptr_t>(s.Style));
  WindowApiClass->SetWindowLongPtr(FHandle, pw::GWL_EXSTYLE, static_cast<intptr_t>(s.ExStyle));
  pw::setWindowPos(FHandle, 0, 0, 0, 0, 0,
                   pw::SWP_NOSIZE | pw::SWP_NOMOVE | pw::SWP_NOZORDER | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
  FFlags &= ~kRestylingFlag;
  NotifyChanged(fuBorderIcons);
  return true;
}

void TWinFormController::Flash() {
  CreateFormWindow();
  // The layer's flash request (FLASHW_ALL, 10 times, 50 ms) has no backend
  // call yet; raising the window is what the user sees.
  pw::setActiveWindow(FHandle);
}

void TWinFormController::Activate() {
  NeedWindow("Activate");
  pw::setActiveWindow(FHandle);
}

void TWinFormController::Close() {
  const int32_t action = QueryCloseAction();
  switch (action) {
    case 0: break;
    case 1: SetVisible(false); break;
    case 2:
      SetVisible(false);
      if (FHandle) WindowApiClass->PostMessage(FHandle, static_cast<uint32_t>(g_releaseMessage), 0, 0);
      break;
    case 3: SetWindowState(1); break;
    default: QelAssertFail(std::string_view("winForms: invalid close action"));
  }
}

void TWinFormController::SetCapture() {
  NeedWindow("SetCapture");
  pw::setCapture(FHandle);
  if (pw::getCapture() == FHandle) NotifyChanged(fuCapture);
}

void TWinFormController::ReleaseCapture() {
  NeedWindow("ReleaseCapture");
  if (pw::getCapture() == FHandle) pw::releaseCapture();
}

void TWinFormController::Invalidate() {
  NeedWindow("Invalidate");
  pw::invalidateRect(FHandle, nullptr, false);
}

void TWinFormController::InvalidateRect(const TRect& r) {
  NeedWindow("InvalidateRect");
  const pw::Rect pr{r.Left, r.Top, r.Right, r.Bottom};
  pw::invalidateRect(FHandle, &pr, false);
}

TRect TWinFormController::GetClientRect() {
  CreateFormWindow();
  pw::Rect r;
  pw::getClientRect(FHandle, r);
  return TRect{r.left, r.top, r.right, r.bottom};
}

TPoint TWinFormController::GetClientOrigin() {
  pw::Point p{0, 0};
  if (FHandle) pw::clientToScreen(FHandle, p);
  return FForm ? TPoint{p.x - FForm->Bounds().Left, p.y - FForm->Bounds().Top} : TPoint{p.x, p.y};
}

uintptr_t TWinFormController::GetHandle() {
  CreateFormWindow();
  return FHandle;
}

bool TWinFormController::IsActive() { return FHandle && pw::getForegroundWindow() == FHandle; }

TFormColor TWinFormController::GetColor() { return EnsureDefaultColor(); }

void TWinFormController::ShowModal(TFormController* owner) {
  if (const HWND cap = pw::getCapture()) WindowApiClass->SendMessage(cap, pw::WM_CANCELMODE, 0, 0);
  auto* winOwner = dynamic_cast<TWinFormController*>(owner);
  if (!winOwner) {
    TFormController::ShowModal(owner);
    return;
  }
  TWinFormController* remembered = FOwner;
  FOwner = winOwner;
  struct Restore {
    TWinFormController* self;
    TWinFormController* remembered;
    ~Restore() {
      if (self->FOwner && self->FOwner->FHandle) pw::enableWindow(self->FOwner->FHandle, true);
      self->FOwner = remembered;
    }
  } restore{this, remembered};
  RecreateHandle();
  if (winOwner->FHandle) pw::enableWindow(winOwner->FHandle, false);
  TFormController::ShowModal(owner);
}

void TWinFormController::ShowNoActivate(TFormController*) {
  CreateFormWindow();
  WindowApiClass->ShowWindow(FHandle, cmdShowNoActivate, true);
  if (FForm && FForm->BorderStyle() == 4)
    pw::setWindowPos(FHandle, pw::HWND_TOPMOST, 0, 0, 0, 0,
                     pw::SWP_NOSIZE | pw::SWP_NOMOVE | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
}

void TWinFormController::SetImeParams(bool enabled, int32_t x, int32_t y) {
  // The composition window follows the caret; the layer has no input-method
  // calls yet, so the position is only kept.
  if (enabled)
    FImePos = TPoint{x, y};
  else
    FImePos = TPoint{-2147483647, -2147483647};
}

bool TWinFormController::GetKeyState(int32_t vk) { return (pw::getKeyState(vk) & 0x8000) != 0; }

bool TWinFormController::SetTaskbarProgress(int32_t state, float progress) {
  static constexpr uint8_t kFlags[4] = {0, 2, 4, 8};
  if (state < 0 || state > 3) return false;
  FProgressFlag = kFlags[state];
  FProgress = progress;
  // No taskbar object can be made on this platform: the values wait.
  return false;
}

bool TWinFormController::UpdateLayered(void* bitmap, int32_t opacity) {
  CreateFormWindow();
  return UpdateLayeredFromBitmap(FHandle, static_cast<imaging::TSysBitmap*>(bitmap), opacity, true);
}

HWND TWinFormController::OwnerWindow() {
  if (FForm->ShowInTaskbar() && FForm->BorderStyle() != 4) return 0;
  if (FOwner && FOwner->FHandle) return FOwner->FHandle;
  TCustomWinApplication* app = CurrentCustomWinApplication();
  return app ? app->GetHandle() : 0;
}

void TWinFormController::CreateFormWindow() {
  if (FHandle || !FForm) return;
  RegisterFormWindowClass();
  TWndCreateParams p;
  p.ClassName = u"TKvForm";
  p.WindowName = FForm->Caption();
  const int32_t bs = FForm->BorderStyle();
  const TFormStyles s = FormWindowStyles(FForm->WindowState(), bs, EffectiveBorderIcons(bs, FForm->BorderIcons()),
                                         FForm->Visible(), FForm->StayOnTop());
  p.Style = s.Style;
  p.ExStyle = s.ExStyle;
  const TRect& b = FForm->Bounds();
  p.X = b.Left;
  p.Y = b.Top;
  p.Width = b.Right - b.Left;
  p.Height = b.Bottom - b.Top;
  p.Parent = OwnerWindow();
  p.Instance = HInstance;
  HWND previousHooked = 0;
  HWND h = 0;
  {
    std::lock_guard<std::recursive_mutex> lock(g_createLock);
    g_creating = this;
    if (FInstalledProc) {
      if (!FHookedWindow) QelAssertFail(std::string_view("winForms: a hook entry without its window"));
      previousHooked = FHookedWindow;
      FInstalledProc = nullptr;
      FHookedWindow = 0;
    }
    struct Finally {
      HWND& prev;
      ~Finally() {
        if (prev) RemoveWindowProcHook(prev);
        g_creating = nullptr;
      }
    } fin{previousHooked};
    h = WindowApiClass->CreateWindow(p, nullptr);
  }
  if (!h) foundation::RaiseLastSystemError();
  FHandle = h;
  const TFormColor c = FForm->Color();
  FDarkTitle = (c.R + c.G + c.B) / 3 < 128 ? SetDarkTitleBar(h, true) : false;
  const pw::Rect wr = WindowApiClass->GetWindowRect(h);
  pw::setWindowPos(h, 0, wr.left, wr.top, wr.right - wr.left, wr.bottom - wr.top,
                   pw::SWP_NOZORDER | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
  WindowApiClass->SendMessage(h, WM_CHANGEUISTATE, 0x30003, 0);
}

void TWinFormController::RecreateHandle() {
  if (FHandle) WindowApiClass->DestroyWindow(FHandle);
  FHandle = 0;
  CreateFormWindow();
  FPainted = false;
}

int32_t TWinFormController::PlacementState() {
  pw::WindowPlacement p;
  if (!pw::getWindowPlacement(FHandle, p)) return 0;
  if (p.showCmd == static_cast<uint32_t>(pw::SW_SHOWMINIMIZED) || p.showCmd == static_cast<uint32_t>(pw::SW_MINIMIZE))
    return (p.flags & pw::WPF_RESTORETOMAXIMIZED) ? 3 : 1;
  if (p.showCmd == static_cast<uint32_t>(pw::SW_SHOWMAXIMIZED)) return 2;
  return 0;
}

void TWinFormController::MouseMethod(uint32_t shift, int32_t x, int32_t y, int32_t button, int32_t kind) {
  bool releasedAll = false;
  if (CaptureOnPress) {
    if (kind == mkPress && !HasCapture()) SetCapture();
    if (kind == mkRelease) releasedAll = (shift & (ssLeft | ssRight | ssMiddle)) == 0;
  }
  pw::Point pt;
  if (pw::getCursorPos(pt)) {
    pw::Point origin{0, 0};
    pw::clientToScreen(FHandle, origin);
    x = pt.x - origin.x;
    y = pt.y - origin.y;
  }
  if (FForm) FForm->MouseEvent(static_cast<int32_t>(shift), x, y, button, kind);
  if (releasedAll && FHandle && pw::getCapture() == FHandle) ReleaseCapture();
}

int64_t TWinFormController::FormWindowProc(TWndHookMessage& hm) {
  const HWND wnd = hm.Wnd;
  if (g_releaseMessage >= 0 && hm.Msg == static_cast<uint32_t>(g_releaseMessage)) {
    if (FForm) FForm->Free();  // frees this controller too
    return 0;
  }
  TWndMessage msg;
  msg.Msg = hm.Msg;
  msg.WParam = hm.WParam;
  msg.LParam = hm.LParam;
  bool handled = false;
  if (HookManager) HookManager->CallBefore(this, wnd, msg, handled);
  if (!handled && FForm) {
    try {
      HandleFormMessage(wnd, msg, handled);
    } catch (const std::exception& e) {
      if (const HWND cap = pw::getCapture()) WindowApiClass->SendMessage(cap, pw::WM_CANCELMODE, 0, 0);
      WindowApiClass->MessageBox(wnd, foundation::MessageFromUtf8(e.what()), u"", 0);
    }
  }
  if (!handled) {
    msg.Result = WindowApiClass->DefWindowProc(wnd, msg.Msg, static_cast<WPARAM>(msg.WParam),
                                               static_cast<LPARAM>(msg.LParam));
    if (FForm) AfterDefaultFormMessage(wnd, msg);
  }
  if (HookManager) HookManager->CallAfter(this, wnd, msg);
  return msg.Result;
}

void TWinFormController::HandleFormMessage(HWND wnd, TWndMessage& msg, bool& handled) {
  if (TranslateMouseMessage(wnd, msg, [this](uint32_t s, int32_t x, int32_t y, int32_t b, int32_t k) {
        MouseMethod(s, x, y, b, k);
      }))
    return;
  if (TranslateWheelMessage(wnd, msg, [this](uint32_t s, int32_t x, int32_t y, int32_t steps) {
        if (FForm) FForm->MouseWheel(static_cast<int32_t>(s), x, y, steps);
      }))
    return;
  if (TranslateKeyMessage(
          wnd, msg,
          [this](uint32_t s, uint16_t& key, int32_t kind) {
            if (FForm) FForm->KeyEvent(s, key, kind);
          },
          FKeyState, true)) {
    handled = FKeyState.LastEaten;
    return;
  }
  if (g_taskbarMessage && msg.Msg == g_taskbarMessage) {
    // No taskbar object on this platform: the stored progress keeps waiting.
  }
  switch (msg.Msg) {
    case pw::WM_DESTROY: FHandle = 0; break;
    case pw::WM_ACTIVATE: {
      TFormUpdate u[2];
      u[0].Kind = fuVisible;
      u[0].Visible = pw::isWindowVisible(wnd);
      u[1].Kind = fuWindowState;
      u[1].WindowState = PlacementState();
      ApplyUpdates(u, 2);
      break;
    }
    case pw::WM_PAINT:
      if (PaintHandler) {
        PaintHandler(this, wnd, msg, handled);
      } else {
        pw::Rect r;
        pw::getClientRect(wnd, r);
        NotifyPaint(TRect{r.left, r.top, r.right, r.bottom});
        pw::validateRect(wnd, nullptr);
        handled = true;
      }
      FPainted = true;
      break;
    case pw::WM_CLOSE:
      handled = true;
      Close();
      break;
    case pw::WM_ERASEBKGND:
      if (FPainted) {
        msg.Result = 1;
        handled = true;
      }
      break;
    case pw::WM_SETCURSOR:
      if ((msg.LParam & 0xFFFF) == pw::HTCLIENT) {
        SetCursorById(FForm->Cursor());
        msg.Result = 1;
        handled = true;
      }
      break;
    case pw::WM_MOUSEACTIVATE:
      if (FForm->NoActivate()) {
        msg.Result = 3;
        handled = true;
      }
      break;
    case pw::WM_WINDOWPOSCHANGED: {
      const pw::Rect r = WindowApiClass->GetWindowRect(wnd);
      TFormUpdate u[4];
      u[0].Kind = fuMoved;
      u[0].X = r.left;
      u[0].Y = r.top;
      u[1].Kind = fuResized;
      u[1].Width = r.right - r.left;
      u[1].Height = r.bottom - r.top;
      u[2].Kind = fuStayOnTop;
      u[2].StayOnTop = (WindowApiClass->GetWindowLongPtr(wnd, pw::GWL_EXSTYLE) & pw::WS_EX_TOPMOST) != 0;
      u[3].Kind = fuWindowState;
      u[3].WindowState = PlacementState();
      ApplyUpdates(u, 4);
      break;
    }
    case pw::WM_STYLECHANGING:
      if (!(FFlags & kRestylingFlag) && msg.LParam) {
        auto* ss = reinterpret_cast<pw::StyleStruct*>(msg.LParam);
        const int32_t bs = FForm->BorderStyle();
        const TFormStyles s = FormWindowStyles(FForm->WindowState(), bs,
                                               EffectiveBorderIcons(bs, FForm->BorderIcons()), FForm->Visible(),
                                               FForm->StayOnTop());
        if (static_cast<int32_t>(msg.WParam) == pw::GWL_STYLE)
          ss->styleNew = (ss->styleNew & ~FormStyleMask) | (s.Style & FormStyleMask);
        else if (static_cast<int32_t>(msg.WParam) == pw::GWL_EXSTYLE)
          ss->styleNew = (ss->styleNew & ~FormExStyleMask) | (s.ExStyle & FormExStyleMask);
      }
      break;
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
    case WM_NCXBUTTONDOWN: NotifyChanged(fuFrameClick); break;
    case WM_IME_STARTCOMPOSITION: break;  // the position is only kept (SetImeParams)
    case WM_SYSCOMMAND:
      if ((msg.WParam & 0xFFF0) == 0xF000 && FForm->BorderStyle() == 3) {
        msg.Result = 0;
        handled = true;
      }
      break;
    case WM_MENUCHAR:
      msg.Result = 0x10000;
      handled = true;
      break;
    case pw::WM_SIZING:
      if (msg.LParam) {
        auto* pr = reinterpret_cast<pw::Rect*>(msg.LParam);
        TRect r{pr->left, pr->top, pr->right, pr->bottom};
        FForm->AdjustBounds(r);
        *pr = pw::Rect{r.Left, r.Top, r.Right, r.Bottom};
      }
      break;
    case pw::WM_CAPTURECHANGED: NotifyChanged(fuCapture); break;
    default: break;
  }
}

void TWinFormController::AfterDefaultFormMessage(HWND wnd, TWndMessage& msg) {
  TFormUpdate u;
  switch (msg.Msg) {
    case pw::WM_ACTIVATE:
      u.Kind = (msg.WParam & 0xFFFF) == static_cast<uint64_t>(pw::WA_INACTIVE) ? fuDeactivated : fuActivated;
      ApplyUpdates(&u, 1);
      break;
    case pw::WM_SETTEXT:
      u.Kind = fuCaption;
      WindowApiClass->GetWindowText(u.Caption, wnd);
      ApplyUpdates(&u, 1);
      break;
    case pw::WM_SHOWWINDOW:
      u.Kind = fuVisible;
      u.Visible = msg.WParam != 0;
      ApplyUpdates(&u, 1);
      break;
    case pw::WM_CANCELMODE:
      u.Kind = pw::getActiveWindow() == wnd ? fuActivated : fuDeactivated;
      ApplyUpdates(&u, 1);
      break;
    case pw::WM_NCHITTEST:
      if (FForm->BorderStyle() == 3 && msg.Result >= HTLEFT && msg.Result <= HTBOTTOMRIGHT) msg.Result = pw::HTCLIENT;
      break;
    default: break;  // the frame line of WM_NCPAINT/WM_NCACTIVATE: no frame to draw on
  }
  (void)WM_NCPAINT;
}

void InitWinForms() {
  if (g_releaseMessage < 0 && HookManager) g_releaseMessage = HookManager->AllocateMessage();
  if (!g_taskbarMessage) g_taskbarMessage = WindowApiClass->RegisterWindowMessage(u"TaskbarButtonCreated");
  InitInputTranslate();
  SetFormControllerFactory(&MakeWinFormController);
}

void DoneWinForms() {
  ClearFormControllerFactory();
  if (g_atom) {
    WindowApiClass->UnregisterClass(u"TKvForm", HInstance);
    g_atom = 0;
  }
  g_brushMade = false;
}

}  // namespace windowing
