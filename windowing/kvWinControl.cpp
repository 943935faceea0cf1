#include "windowing/kvWinControl.h"

#include "foundation/kpExceptions.h"

namespace windowing {

namespace pw = platform::window;
using foundation::MethodOf;

namespace {
TWinControl* g_creating = nullptr;
}

LRESULT ControlFirstMessageProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  QEL_ASSERT(platform::os::currentThreadId() == MainThreadId, "a control's window off the main thread");
  TWinControl* ctrl = g_creating;
  if (!ctrl) return 0;
  ctrl->FHandle = wnd;
  ctrl->FPrevWndProc = TWndAPI::HookWindow(wnd, MethodOf<&TWinControl::WndProc>(ctrl));
  TWndHookMessage m{wnd, msg, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
  const LRESULT r = ctrl->WndProc(m);
  g_creating = nullptr;
  return r;
}

void TWinControl::Create(HWND parent) {
  FClassName = foundation::MessageFromUtf8(ClassName());
  CreateHandle(parent);
  SetParentWindow(parent);
}

void TWinControl::CreateParams(TCreateParams& params) {
  params = TCreateParams{};
  params.Style = pw::WS_CHILD;
}

void TWinControl::CreateHandle(HWND parent) {
  pw::WndClass cls;
  cls.className = FClassName;
  cls.hInstance = HInstance;
  GetWindowClass(cls);
  FClassWndProc = cls.lpfnWndProc;
  pw::WndClass existing;
  bool registered = false;
  if (pw::getClassInfo(cls.hInstance, cls.className, existing)) {
    if (existing.lpfnWndProc == &ControlFirstMessageProc)
      registered = true;
    else
      WindowApiClass->UnregisterClass(cls.className, cls.hInstance);
  }
  if (!registered) {
    pw::WndClass mine = cls;
    mine.hInstance = HInstance;
    mine.lpfnWndProc = &ControlFirstMessageProc;
    if (!WindowApiClass->RegisterClass(mine)) foundation::RaiseLastSystemError();
  }
  TCreateParams p;
  CreateParams(p);
  g_creating = this;
  const HWND wnd = pw::createWindowEx(p.ExStyle, cls.className, p.Caption, p.Style, p.X, p.Y, p.Width, p.Height,
                                      parent, 0, cls.hInstance, p.Param);
  g_creating = nullptr;
  if (!wnd) foundation::RaiseLastSystemError();
  FHandle = wnd;
}

void TWinControl::SetParentWindow(HWND parent) {
  if (!FHandle) return;
  pw::setParent(FHandle, parent);
  const LRESULT font = WindowApiClass->SendMessage(parent, pw::WM_GETFONT, 0, 0);
  WindowApiClass->SendMessage(FHandle, pw::WM_SETFONT, static_cast<WPARAM>(font), 0);
}

void TWinControl::SetBoundsRect(const Rect& r) {
  pw::setWindowPos(FHandle, 0, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   pw::SWP_NOZORDER | pw::SWP_NOACTIVATE | pw::SWP_FRAMECHANGED);
}

Rect TWinControl::GetBoundsRect() {
  pw::WindowPlacement p;
  pw::getWindowPlacement(FHandle, p);
  return p.rcNormalPosition;
}

void TWinControl::SetText(const std::u16string& text) { WindowApiClass->SetWindowText(FHandle, text); }

void TWinControl::SetVisible(bool visible) { pw::showWindow(FHandle, visible ? pw::SW_SHOW : pw::SW_HIDE); }

int32_t TWinControl::WndProc(TWndHookMessage& msg) {
  if (msg.Msg == pw::WM_SETFONT) FFont = static_cast<uintptr_t>(msg.WParam);
  if (msg.Msg == pw::WM_GETFONT && FFont) return static_cast<int32_t>(FFont);
  const auto result = static_cast<int32_t>(WindowApiClass->CallWindowProc(
      FClassWndProc, msg.Wnd, msg.Msg, static_cast<WPARAM>(msg.WParam), static_cast<LPARAM>(msg.LParam)));
  // The subclassing hands over its last message at WM_DESTROY (WM_NCDESTROY
  // goes to the class procedure), so the control lets go of its window there.
  if (msg.Msg == pw::WM_DESTROY || msg.Msg == pw::WM_NCDESTROY) Unsubclass();
  return result;
}

void TWinControl::Unsubclass() {
  if (FPrevWndProc) {
    TWndAPI::UnhookWindow(FHandle, MethodOf<&TWinControl::WndProc>(this), FPrevWndProc);
    FPrevWndProc = nullptr;
  }
  FHandle = 0;
}

void TWinControl::Dispose() {
  if (FHandle) WindowApiClass->DestroyWindow(FHandle);
  TRefObject::Dispose();
}

}  // namespace windowing
