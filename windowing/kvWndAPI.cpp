#include "windowing/kvWndAPI.h"

#include <cstring>

#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "foundation/kvLog.h"
#include "platform/os/api.h"

namespace windowing {

namespace pw = platform::window;
using foundation::QelAssertFail;

TWndAPI* WindowApiClass = nullptr;
platform::os::ThreadId MainThreadId = 0;

namespace {

class TWndHook : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TWndHook)
  TWndHook* Next = nullptr;
  HWND Wnd = 0;
  TWndHandler Handler;
  WNDPROC PrevProc = nullptr;
};

class THookStore : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(THookStore)
  HWND Wnd = 0;
  TStoreHandler Handler;
  THookStore* Next = nullptr;
};

TWndHook* g_hooks = nullptr;
THookStore* g_stores = nullptr;
TDumbWindow* g_creatingDumb = nullptr;
uint16_t g_dumbAtom = 0;

TWndHook* FindHook(HWND wnd) {
  for (TWndHook* h = g_hooks; h; h = h->Next)
    if (h->Wnd == wnd) return h;
  return nullptr;
}

void UnlinkHook(TWndHook* hook) {
  for (TWndHook** link = &g_hooks; *link; link = &(*link)->Next) {
    if (*link == hook) {
      *link = hook->Next;
      hook->Next = nullptr;
      return;
    }
  }
}

TWndAPI& Api() {
  QEL_ASSERT(WindowApiClass != nullptr, "the window API is not installed");
  return *WindowApiClass;
}

}  // namespace

// ---- TWndAPI ----

char16_t* TWndAPI::AllocWideBuffer(int32_t count) {
  auto* b = new char16_t[static_cast<size_t>(count > 0 ? count : 0) + 1];
  std::memset(b, 0, (static_cast<size_t>(count > 0 ? count : 0) + 1) * sizeof(char16_t));
  return b;
}

void TWndAPI::FreeWideBuffer(char16_t* buffer) { delete[] buffer; }

char16_t* TWndAPI::StringToWideBuffer(const std::u16string& s) {
  if (s.empty()) return nullptr;
  char16_t* b = AllocWideBuffer(static_cast<int32_t>(s.size()));
  std::memcpy(b, s.data(), s.size() * sizeof(char16_t));
  return b;
}

void TWndAPI::WideBufferToString(std::u16string& s, const char16_t* buffer, int32_t length) {
  if (!buffer) {
    s.clear();
    return;
  }
  if (length < 0)
    s = std::u16string(buffer);
  else
    s.assign(buffer, static_cast<size_t>(length));
}

uint16_t TWndAPI::RegisterClass(const pw::WndClass& cls) { return pw::registerClass(cls); }

bool TWndAPI::UnregisterClass(const std::u16string& className, uintptr_t instance) {
  return pw::unregisterClass(className, instance);
}

HWND TWndAPI::CreateWindow(const TWndCreateParams& p, void* param) {
  return pw::createWindowEx(p.ExStyle, p.ClassName, p.WindowName, p.Style, p.X, p.Y, p.Width, p.Height, p.Parent, 0,
                            HInstance, param);
}

bool TWndAPI::DestroyWindow(HWND wnd) { return pw::destroyWindow(wnd); }

int32_t TWndAPI::ShowCommandValue(int32_t command) {
  static constexpr int32_t kValues[12] = {0, 3, 6, 9, 5, 10, 3, 2, 7, 8, 4, 1};
  return command >= 0 && command < 12 ? kValues[command] : pw::SW_SHOWNORMAL;
}

bool TWndAPI::ShowWindow(HWND wnd, int32_t command, bool direct) {
  const int32_t value = ShowCommandValue(command);
  if (direct) {
    pw::showWindow(wnd, value);
    return true;
  }
  pw::WindowPlacement p;
  if (!pw::getWindowPlacement(wnd, p)) return false;
  p.showCmd = static_cast<uint32_t>(value);
  return pw::setWindowPlacement(wnd, p);
}

LRESULT TWndAPI::CallWindowProc(WNDPROC proc, HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return pw::callWindowProc(proc, wnd, msg, wParam, lParam);
}

LRESULT TWndAPI::DefWindowProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return pw::defWindowProc(wnd, msg, wParam, lParam);
}

bool TWndAPI::GetMessage(Msg& msg, HWND wnd, uint32_t filterMin, uint32_t filterMax) {
  const int32_t r = pw::getMessage(msg, wnd, filterMin, filterMax);
  if (r == -1) {
    if (foundation::TLog* log = foundation::GetLog())
      log->Add(u"GetMessage failed with error " +
               foundation::MessageFromUtf8(std::to_string(platform::os::getLastError())));
    return false;
  }
  return r != 0;
}

bool TWndAPI::PeekMessage(Msg& msg, HWND wnd, uint32_t filterMin, uint32_t filterMax, uint32_t remove) {
  return pw::peekMessage(msg, wnd, filterMin, filterMax, remove);
}

bool TWndAPI::PostMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return pw::postMessage(wnd, msg, wParam, lParam);
}

LRESULT TWndAPI::SendMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return pw::sendMessage(wnd, msg, wParam, lParam);
}

bool TWndAPI::SendNotifyMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return pw::sendNotifyMessage(wnd, msg, wParam, lParam);
}

bool TWndAPI::TranslateMessage(const Msg& msg) { return pw::translateMessage(msg); }
LRESULT TWndAPI::DispatchMessage(const Msg& msg) { return pw::dispatchMessage(msg); }

void TWndAPI::GetWindowText(std::u16string& s, HWND wnd) {
  const int32_t n = pw::getWindowTextLength(wnd);
  s = pw::getWindowText(wnd);
  if (static_cast<int32_t>(s.size()) > n) s.resize(static_cast<size_t>(n));
}

bool TWndAPI::SetWindowText(HWND wnd, const std::u16string& s) { return pw::setWindowText(wnd, s); }

intptr_t TWndAPI::GetWindowLongPtr(HWND wnd, int32_t index) { return pw::getWindowLongPtr(wnd, index); }

intptr_t TWndAPI::SetWindowLongPtr(HWND wnd, int32_t index, intptr_t value) {
  return pw::setWindowLongPtr(wnd, index, value);
}

Rect TWndAPI::GetWindowRect(HWND wnd) {
  Rect r;
  if (pw::isIconic(wnd)) {
    pw::WindowPlacement p;
    if (pw::getWindowPlacement(wnd, p)) r = p.rcNormalPosition;
  } else {
    pw::getWindowRect(wnd, r);
  }
  const auto style = static_cast<uint32_t>(pw::getWindowLongPtr(wnd, pw::GWL_STYLE));
  const HWND parent = static_cast<HWND>(pw::getWindowLongPtr(wnd, pw::GWLP_HWNDPARENT));
  if ((style & pw::WS_CHILD) && parent) {
    pw::Point a{r.left, r.top}, b{r.right, r.bottom};
    pw::screenToClient(parent, a);
    pw::screenToClient(parent, b);
    r = Rect{a.x, a.y, b.x, b.y};
  }
  return r;
}

// Message boxes belong to the shell area; until it exists the text goes to
// the debug output and the box answers OK (1).
int32_t TWndAPI::MessageBox(HWND, const std::u16string& text, const std::u16string& caption, uint32_t) {
  platform::os::outputDebugString(foundation::MessageToUtf8(caption) + ": " + foundation::MessageToUtf8(text));
  return 1;
}

uint32_t TWndAPI::RegisterWindowMessage(const std::u16string& name) { return pw::registerWindowMessage(name); }

WNDPROC TWndAPI::HookWindow(HWND wnd, TWndHandler handler) {
  QEL_ASSERT(platform::os::currentThreadId() == MainThreadId, "TWndAPI.HookWindow: not on the main thread");
  QEL_ASSERT(pw::isWindow(wnd), "TWndAPI.HookWindow: no such window");
  auto* hook = new TWndHook;
  hook->Wnd = wnd;
  hook->Handler = handler;
  hook->Next = g_hooks;
  g_hooks = hook;
  hook->PrevProc = reinterpret_cast<WNDPROC>(
      Api().SetWindowLongPtr(wnd, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(&HookWndProc)));
  return hook->PrevProc;
}

void TWndAPI::UnhookWindow(HWND wnd, TWndHandler handler, WNDPROC previous) {
  QEL_ASSERT(platform::os::currentThreadId() == MainThreadId, "TWndAPI.UnhookWindow: not on the main thread");
  QEL_ASSERT(previous != nullptr, "TWndAPI.UnhookWindow: no previous procedure");
  TWndHook* hook = FindHook(wnd);
  if (!hook) return;
  QEL_ASSERT(hook->PrevProc == previous, "TWndAPI.UnhookWindow: another previous procedure");
  hook->Handler = TWndHandler{};
  if (pw::isWindow(wnd) &&
      reinterpret_cast<WNDPROC>(Api().GetWindowLongPtr(wnd, pw::GWLP_WNDPROC)) == &HookWndProc)
    Api().SetWindowLongPtr(wnd, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(previous));
  UnlinkHook(hook);
  hook->Free();
}

LRESULT HookWndProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TWndHook* hook = FindHook(wnd);
  if (!hook) return 0;
  LRESULT result;
  if (hook->Handler) {
    // The hook stays alive while its handler runs, whatever the handler does.
    hook->_AddRef();
    try {
      result = CallWndHandler(hook->Handler, wnd, msg, wParam, lParam);
    } catch (...) {
      hook->Free();
      throw;
    }
    const bool unlinked = hook->RefCount() == 1;
    hook->Free();
    if (unlinked) return result;  // unhooked during its own call
    if (msg != pw::WM_DESTROY) return result;
    hook->Handler = TWndHandler{};
  } else {
    result = hook->PrevProc ? Api().CallWindowProc(hook->PrevProc, wnd, msg, wParam, lParam) : 0;
  }
  if (pw::isWindow(wnd) && reinterpret_cast<WNDPROC>(Api().GetWindowLongPtr(wnd, pw::GWLP_WNDPROC)) == &HookWndProc)
    Api().SetWindowLongPtr(wnd, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(hook->PrevProc));
  UnlinkHook(hook);
  hook->Free();
  return result;
}

LRESULT CallWndHandler(TWndHandler handler, HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (!handler) return 0;
  TWndHookMessage m{wnd, msg, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
  return static_cast<LRESULT>(handler(m));
}

LRESULT CallDefWindowProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  return Api().DefWindowProc(wnd, msg, wParam, lParam);
}

WNDPROC AddWindowProcHook(HWND wnd, TStoreHandler handler) {
  auto* store = new THookStore;
  store->Wnd = wnd;
  store->Handler = handler;
  store->Next = g_stores;
  g_stores = store;
  return &HookStoreWndProc;
}

bool RemoveWindowProcHook(HWND wnd) {
  for (THookStore** link = &g_stores; *link; link = &(*link)->Next) {
    if ((*link)->Wnd == wnd) {
      THookStore* store = *link;
      *link = store->Next;
      store->Free();
      return true;
    }
  }
  return false;
}

LRESULT HookStoreWndProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  THookStore* store = g_stores;
  while (store && store->Wnd != wnd) store = store->Next;
  if (!store) return 0;
  TWndHookMessage m{wnd, msg, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)};
  return static_cast<LRESULT>(store->Handler(m));
}

int32_t WndHookCount() {
  int32_t n = 0;
  for (TWndHook* h = g_hooks; h; h = h->Next) ++n;
  return n;
}

int32_t HookStoreCount() {
  int32_t n = 0;
  for (THookStore* s = g_stores; s; s = s->Next) ++n;
  return n;
}

// ---- bound entry points ----

int32_t GetDwmCompositionEnabled(bool& enabled) {
  auto fn = reinterpret_cast<int32_t (*)(int32_t*)>(pw::optionalEntry("DWMAPI.DLL", "DwmIsCompositionEnabled"));
  if (!fn) return pw::E_NOTIMPL;
  int32_t on = 0;
  const int32_t hr = fn(&on);
  if (hr >= 0) enabled = on != 0;
  return hr;
}

int32_t CallDwmSetWindowAttribute(HWND wnd, uint32_t attribute, const void* value, uint32_t size) {
  auto fn = reinterpret_cast<int32_t (*)(HWND, uint32_t, const void*, uint32_t)>(
      pw::optionalEntry("DWMAPI.DLL", "DwmSetWindowAttribute"));
  return fn ? fn(wnd, attribute, value, size) : pw::E_NOTIMPL;
}

bool CallAddClipboardFormatListener(HWND wnd) {
  auto fn = reinterpret_cast<bool (*)(HWND)>(pw::optionalEntry("user32.dll", "AddClipboardFormatListener"));
  return fn && fn(wnd);
}

bool CallRemoveClipboardFormatListener(HWND wnd) {
  auto fn = reinterpret_cast<bool (*)(HWND)>(pw::optionalEntry("user32.dll", "RemoveClipboardFormatListener"));
  return fn && fn(wnd);
}

// ---- TDumbWindow ----

LRESULT DumbClassProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TDumbWindow* self = g_creatingDumb;
  if (!self) return 0;
  self->FHandle = wnd;
  self->FHookedHandle = wnd;
  self->FPrevProc = TWndAPI::HookWindow(wnd, foundation::MethodOf<&TDumbWindow::HookProc>(self));
  const LRESULT r = CallWndHandler(foundation::MethodOf<&TDumbWindow::HookProc>(self), wnd, msg, wParam, lParam);
  g_creatingDumb = nullptr;
  return r;
}

void TDumbWindow::WndProc(TWndMessage& msg) {
  msg.Result = Api().DefWindowProc(FHandle, msg.Msg, static_cast<WPARAM>(msg.WParam), static_cast<LPARAM>(msg.LParam));
}

int32_t TDumbWindow::HookProc(TWndHookMessage& m) {
  TWndMessage msg{m.Msg, m.WParam, m.LParam, 0};
  WndProc(msg);
  if (m.Msg == pw::WM_DESTROY) FHandle = 0;
  return static_cast<int32_t>(msg.Result);
}

void TDumbWindow::HandleNeeded() {
  if (FHandle) return;
  if (!g_dumbAtom) {
    pw::WndClass cls;
    cls.lpfnWndProc = &DumbClassProc;
    cls.hInstance = HInstance;
    cls.className = u"TDumbWindow";
    g_dumbAtom = Api().RegisterClass(cls);
    QEL_ASSERT(g_dumbAtom != 0, "TDumbWindow: the class cannot be registered");
  }
  TWndCreateParams p;
  p.ClassName = u"TDumbWindow";
  p.Style = pw::WS_POPUP;
  p.ExStyle = pw::WS_EX_TOOLWINDOW;
  g_creatingDumb = this;
  Api().CreateWindow(p, nullptr);
  g_creatingDumb = nullptr;
  QEL_ASSERT(FHandle != 0, "TDumbWindow: the window cannot be created");
}

void TDumbWindow::SetBounds(const Rect& r) {
  HandleNeeded();
  pw::setWindowPos(FHandle, 0, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   pw::SWP_HIDEWINDOW | pw::SWP_NOACTIVATE | pw::SWP_NOREDRAW | pw::SWP_NOZORDER);
}

void TDumbWindow::DestroyHandle() {
  if (FHandle) Api().DestroyWindow(FHandle);
}

void TDumbWindow::Dispose() {
  if (FHandle) DestroyHandle();
  if (FPrevProc) {
    TWndAPI::UnhookWindow(FHookedHandle, foundation::MethodOf<&TDumbWindow::HookProc>(this), FPrevProc);
    FPrevProc = nullptr;
    FHookedHandle = 0;
  }
  TRefObject::Dispose();
}

void InitWndAPI() {
  MainThreadId = platform::os::currentThreadId();
  static TWndAPI* api = new TWndAPI;
  WindowApiClass = api;
}

}  // namespace windowing
