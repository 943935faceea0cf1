#include "windowing/kvApplication.h"

#include <algorithm>

#include "foundation/kpExceptions.h"
#include "platform/os/clock.h"
#include "platform/window/api.h"

namespace windowing {

namespace pw = platform::window;
using foundation::MethodOf;
using foundation::TRefObject;

TApplication* Application = nullptr;
TApplicationFactory ApplicationFactory = nullptr;
int32_t WakeUpMessage = -1;
int32_t DefaultPresentationMode = 0;

namespace {
TCustomWinApplication* g_customApp = nullptr;
TWinApplication* g_winApp = nullptr;
TClipbrdNotifier* g_notifiers = nullptr;
}  // namespace

TCustomWinApplication* CurrentCustomWinApplication() { return g_customApp; }
TWinApplication* CurrentWinApplication() { return g_winApp; }
TClipbrdNotifier* ClipbrdNotifierChain() { return g_notifiers; }

// ---- TApplication ----

TApplication::TApplication() : TPostEventListEx(1024, 1) {
  QEL_ASSERT(Application == nullptr, "a second application object");
  FCallEventId = RegisterHandler(MethodOf<&TApplication::HandleCall>(this));
  Application = this;
}

void TApplication::Dispose() {
  if (FCallEventId) RemoveHandler(FCallEventId, MethodOf<&TApplication::HandleCall>(this));
  FCallEventId = 0;
  if (Application == this) Application = nullptr;
  TPostEventListEx::Dispose();
}

void TApplication::HandleCall(TRefObject* sender, uint32_t id, TRefObject* param) {
  QEL_ASSERT(sender == this, "TApplication.HandleCall: another sender");
  QEL_ASSERT(id == FCallEventId, "TApplication.HandleCall: another id");
  auto* call = dynamic_cast<TCallHandle*>(param);
  QEL_ASSERT(call != nullptr, "TApplication.HandleCall: not a call handle");
  if (call->RefCount() > 1) {
    if (call->Method) call->Method(call->Ptr, call->Value, call->Obj);
    if (call->RefCount() > 1) call->Free();
  }
}

void TApplication::Terminate() {
  if (FTerminated.exchange(true)) return;
  if (OnTerminate) OnTerminate(this);
}

void TCallHandle::Dispose() {
  Method = {};
  Ptr = nullptr;
  Value = 0;
  foundation::FreeAndNil(Obj);
  TRefObject::Dispose();
}

// ---- TCustomWinApplication ----

TCustomWinApplication::TCustomWinApplication() {
  QEL_ASSERT(g_customApp == nullptr, "a second windows application object");
  FDrainEvent = new foundation::TEvent;
  FLock = new foundation::TCriticalSection;
  QEL_ASSERT(HookManager != nullptr && WakeUpMessage != -1, "the application unit is not started");
  HookManager->AddMsgHook(this, {static_cast<uint32_t>(WakeUpMessage)},
                          MethodOf<&TCustomWinApplication::HandlePosted>(this));
  g_customApp = this;
}

void TCustomWinApplication::Dispose() {
  QEL_ASSERT(FFinalized.load(), "Application MUST be finalesed before destroy!");
  if (HookManager)
    HookManager->RemoveMsgHook(this, {static_cast<uint32_t>(WakeUpMessage)},
                               MethodOf<&TCustomWinApplication::HandlePosted>(this));
  delete FObjects;
  FObjects = nullptr;
  foundation::FreeAndNil(FLock);
  foundation::FreeAndNil(FDrainEvent);
  if (g_customApp == this) g_customApp = nullptr;
  TApplication::Dispose();
}

void TCustomWinApplication::Initialize() { CreateHandle(); }

void TCustomWinApplication::AddObject(TRefObject* obj) {
  FLock->Enter();
  if (!FObjects) FObjects = new std::vector<TRefObject*>;
  FObjects->push_back(obj);
  FLock->Leave();
}

void TCustomWinApplication::RemoveObject(TRefObject* obj) {
  FLock->Enter();
  const bool found = FObjects && std::find(FObjects->begin(), FObjects->end(), obj) != FObjects->end();
  if (!found) {
    FLock->Leave();
    foundation::QelAssertFail("TCustomWinApplication.RemoveObject: not registered");
  }
  FObjects->erase(std::find(FObjects->begin(), FObjects->end(), obj));
  if (FObjects->empty()) {
    delete FObjects;
    FObjects = nullptr;
  }
  FLock->Leave();
}

int32_t TCustomWinApplication::RegisteredObjectCount() {
  FLock->Enter();
  const auto n = FObjects ? static_cast<int32_t>(FObjects->size()) : 0;
  FLock->Leave();
  return n;
}

void TCustomWinApplication::SignalDrain() { FDrainEvent->SetEvent(); }

bool TCustomWinApplication::WakeUp(int32_t ticket) {
  if (FFinalized.load()) return false;
  const HWND wnd = GetHandle();
  // The window is already gone but the final drain has yet to run: the event
  // stays queued for it.
  if (!wnd) return FFinalizing.load();
  if (WindowApiClass->PostMessage(wnd, static_cast<uint32_t>(WakeUpMessage), static_cast<WPARAM>(ticket), 0))
    return true;
  // A post that raced with the window's destruction is still run by the
  // final drain.
  return FFinalizing.load() && !FFinalized.load();
}

void TCustomWinApplication::HandlePosted(HWND, TWndMessage& msg, bool& handled) {
  handled = true;
  const bool ran = ProcessPosted(static_cast<int32_t>(static_cast<uint32_t>(msg.WParam)));
  QEL_ASSERT(ran, "TCustomWinApplication.HandlePosted: the ticket is not queued");
}

void TCustomWinApplication::Finalize() {
  FFinalizing = true;
  const uint32_t start = platform::os::timeGetTime();
  bool timedOut = true;
  while (platform::os::timeGetTime() - start < 30000) {
    ProcessAllPosted();
    if (RegisteredObjectCount() == 0) {
      timedOut = false;
      break;
    }
    if (FDrainEvent->WaitFor(100)) FDrainEvent->ResetEvent();
  }
  FFinalized = true;
  ProcessAllPosted();
  if (timedOut) foundation::QelAssertFail("TCustomWinApplication.Finalize: registered objects did not go");
}

// ---- TWinApplication ----

TWinApplication::TWinApplication() {
  QEL_ASSERT(g_winApp == nullptr, "a second windows application object");
  g_winApp = this;
}

void TWinApplication::Dispose() {
  if (g_winApp == this) g_winApp = nullptr;
  TCustomWinApplication::Dispose();
}

void TWinApplication::CreateHandle() {
  pw::WndClass cls;
  cls.style = pw::CS_HREDRAW | pw::CS_VREDRAW | pw::CS_OWNDC;
  cls.lpfnWndProc = &TWinApplication::WndProc;
  cls.hInstance = HInstance;
  cls.hCursor = 32512;  // the arrow
  cls.className = u"TWinApplication";
  if (!WindowApiClass->RegisterClass(cls)) foundation::RaiseLastSystemError();
  TWndCreateParams p;
  p.ClassName = u"TWinApplication";
  p.Style = 0x06CF0000u;
  p.ExStyle = pw::WS_EX_TOOLWINDOW;
  p.Instance = HInstance;
  const HWND wnd = WindowApiClass->CreateWindow(p, nullptr);
  if (!wnd) foundation::RaiseLastSystemError();
  FHandle = wnd;
  if (g_notifiers) SetClipboardListener(true);
}

void TWinApplication::SetClipboardListener(bool on) {
  const HWND wnd = GetHandle();
  if (!wnd) return;
  if (on)
    CallAddClipboardFormatListener(wnd);
  else
    CallRemoveClipboardFormatListener(wnd);
}

void TWinApplication::SetTitle(const std::u16string& title) {
  FTitle = title;
  if (const HWND wnd = GetHandle()) WindowApiClass->SetWindowText(wnd, title);
}

LRESULT TWinApplication::WndProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  TWinApplication* app = g_winApp;
  if (!app) return WindowApiClass->DefWindowProc(wnd, msg, wParam, lParam);
  TWndMessage rec{msg, static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam), 0};
  bool handled = false;
  if (msg == pw::WM_CLIPBOARDUPDATE && wnd == app->GetHandle()) {
    std::vector<TClipbrdNotifier*> chain;
    for (TClipbrdNotifier* n = g_notifiers; n; n = n->Next) chain.push_back(n);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->Changed();
  }
  try {
    HookManager->CallBefore(app, wnd, rec, handled);
  } catch (...) {
    foundation::ShowExceptionMessage(std::current_exception(), foundation::GetExceptionAddress());
  }
  if (!handled) rec.Result = WindowApiClass->DefWindowProc(wnd, msg, wParam, lParam);
  HookManager->CallAfter(app, wnd, rec);
  return static_cast<LRESULT>(rec.Result);
}

void TWinApplication::HandleException() {
  if (const HWND capture = pw::getCapture()) WindowApiClass->SendMessage(capture, pw::WM_CANCELMODE, 0, 0);
  foundation::ShowExceptionMessage(std::current_exception(), foundation::GetExceptionAddress());
}

void TWinApplication::Run() {
  while (!IsQuitting()) {
    Msg msg;
    if (!WindowApiClass->GetMessage(msg, 0, 0, 0)) {
      FQuitting = true;
      continue;
    }
    try {
      if (msg.message == pw::WM_MOUSEWHEEL) {
        const pw::Point pt{static_cast<int16_t>(msg.lParam & 0xFFFF),
                           static_cast<int16_t>((msg.lParam >> 16) & 0xFFFF)};
        const HWND under = pw::windowFromPoint(pt);
        if (under && under != msg.hwnd &&
            pw::getWindowThreadProcessId(under, nullptr) == platform::os::currentThreadId())
          msg.hwnd = under;
      }
      WindowApiClass->TranslateMessage(msg);
      WindowApiClass->DispatchMessage(msg);
    } catch (...) {
      HandleException();
    }
  }
  Dispatch(this, 0, nullptr);
  Finalize();
}

void TWinApplication::ProcessMessages() {
  Msg msg;
  while (WindowApiClass->PeekMessage(msg, 0, 0, 0, pw::PM_REMOVE)) {
    if (msg.message == pw::WM_QUIT) {
      FQuitting = true;
      return;
    }
    try {
      WindowApiClass->TranslateMessage(msg);
      WindowApiClass->DispatchMessage(msg);
    } catch (...) {
      HandleException();
    }
  }
}

void TWinApplication::Terminate() {
  TApplication::Terminate();
  if (FQuitPosted.load()) return;
  if (platform::os::currentThreadId() == MainThreadId) {
    if (!FQuitPosted.exchange(true)) pw::postQuitMessage(0);
  } else {
    bool expected = false;
    if (FQuitPosted.compare_exchange_strong(expected, true)) {
      if (!pw::postThreadMessage(MainThreadId, pw::WM_QUIT, 0, 0)) FQuitPosted = false;
    }
  }
}

void TWinApplication::Finalize() {
  FFinalizing = true;
  if (g_notifiers) SetClipboardListener(false);
  if (const HWND wnd = FHandle.exchange(0)) WindowApiClass->DestroyWindow(wnd);
  WindowApiClass->UnregisterClass(u"TWinApplication", HInstance);
  TCustomWinApplication::Finalize();
}

// ---- TClipbrdNotifier ----

TClipbrdNotifier::TClipbrdNotifier() {
  Next = g_notifiers;
  g_notifiers = this;
  if (!Next && g_customApp) g_customApp->SetClipboardListener(true);
}

void TClipbrdNotifier::Dispose() {
  bool found = false;
  for (TClipbrdNotifier** link = &g_notifiers; *link; link = &(*link)->Next) {
    if (*link == this) {
      *link = Next;
      Next = nullptr;
      found = true;
      break;
    }
  }
  QEL_ASSERT(found, "TClipbrdNotifier: not in the chain");
  if (!g_notifiers && g_customApp) g_customApp->SetClipboardListener(false);
  TRefObject::Dispose();
}

void TClipbrdNotifier::Changed() {
  if (OnChange) OnChange(this);
}

// ---- unit start ----

namespace {
void CreateWinApplication() {
  if (g_winApp) return;
  if (Application) {
    TApplication* old = Application;
    Application = nullptr;
    old->Free();
  }
  auto* app = new TWinApplication;
  app->Initialize();
}

TCustomTimer* CreateApplicationTimer() { return new TThreadTimer(Application, 0, -1); }
}  // namespace

void InitWinApplication() {
  QEL_ASSERT(HookManager != nullptr, "InitWinApplication: the hook manager is not started");
  if (WakeUpMessage == -1) WakeUpMessage = HookManager->AllocateMessage();
  ApplicationFactory = &CreateWinApplication;
  TimerFactory = &CreateApplicationTimer;
  DefaultPresentationMode = 1;
}

void DoneWinApplication() {
  if (g_winApp) g_winApp->Free();
}

}  // namespace windowing
