#include "controls/kvFormHelpers.h"

#include "foundation/kpExceptions.h"
#include "platform/window/winevents.h"
#include "windowing/kvApplication.h"
#include "windowing/kvForms.h"

namespace controls {

namespace pw = platform::window;

namespace {
// Main thread only, apart from the system callback, which reads the id and
// the application it was registered with.
TDesktopChangeHook* g_chain = nullptr;
pw::HWINEVENTHOOK g_systemHook = 0;
std::atomic<uint32_t> g_eventId{0};
std::atomic<windowing::TApplication*> g_app{nullptr};

void DesktopSwitched(pw::HWINEVENTHOOK, uint32_t, pw::HWND, int32_t, int32_t, uint32_t, uint32_t) {
  windowing::TApplication* app = g_app.load();
  const uint32_t id = g_eventId.load();
  if (app && id && app == windowing::Application && !app->Terminated()) app->Post(id, nullptr);
}

struct TDispatch {
  static void Handle(void*, foundation::TRefObject*, uint32_t, foundation::TRefObject*) {
    // Newest first; a hook may go while it is told, so the next link is read first.
    for (TDesktopChangeHook* h = g_chain; h;) {
      TDesktopChangeHook* next = h->Next;
      if (h->OnChange) h->OnChange(h);
      h = next;
    }
  }
};

foundation::TEventHandler DispatchMethod() {
  foundation::TEventHandler m;
  m.Code = &TDispatch::Handle;
  m.Data = nullptr;
  return m;
}
}  // namespace

TDesktopChangeHook::TDesktopChangeHook() {
  if (!g_systemHook) {
    g_systemHook = pw::setWinEventHook(pw::EVENT_SYSTEM_DESKTOPSWITCH, pw::EVENT_SYSTEM_DESKTOPSWITCH, 0,
                                       &DesktopSwitched, 0, 0, pw::WINEVENT_OUTOFCONTEXT);
    windowing::TApplication* app = windowing::Application;
    if (g_systemHook && app) {
      g_eventId = app->RegisterHandler(DispatchMethod());
      g_app = app;
    }
  }
  Next = g_chain;
  g_chain = this;
}

void TDesktopChangeHook::Dispose() {
  for (TDesktopChangeHook** link = &g_chain; *link; link = &(*link)->Next) {
    if (*link == this) {
      *link = Next;
      break;
    }
  }
  Next = nullptr;
  OnChange = {};
  TRefObject::Dispose();
}

void DoneDesktopChangeHooks() {
  if (g_systemHook) pw::unhookWinEvent(g_systemHook);
  g_systemHook = 0;
  windowing::TApplication* app = g_app.exchange(nullptr);
  const uint32_t id = g_eventId.exchange(0);
  if (app && id && app == windowing::Application) app->RemoveHandler(id, DispatchMethod());
}

// ---- position keeper ----

TFormPosHelper::TFormPosHelper(windowing::TKvForm* form) : Form(form) {
  QEL_ASSERT(form != nullptr, "");
  LastState = form->WindowState();
  if (!(LastState & 2)) NormalBounds = form->Bounds();
  form->Events()->SubscribeIds({0, 7, 8, 11}, this);
}

void TFormPosHelper::Dispose() {
  // Released before it ran: the application skips it.
  FRestore.Reset();
  Form = nullptr;
  windowing::TEventHandler::Dispose();
}

namespace {
bool SameRect(const foundation::TRect& a, const foundation::TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
}  // namespace

void TFormPosHelper::HandleEvent(foundation::TRefObject*, int32_t tag, foundation::TRefObject*) {
  if (tag == 0) {
    Form = nullptr;
    FRestore.Reset();
    return;
  }
  if (!Form) return;
  const int32_t s = Form->WindowState();
  if ((LastState & 2) && !(s & 2) && !FRestore) {
    windowing::TApplication* app = windowing::Application;
    if (app && app->CallEventId() && !app->Terminated()) {
      FRestoreTo = NormalBounds;
      FRestore = foundation::MakeRef<windowing::TCallHandle>();
      FRestore->Method = foundation::MethodOf<&TFormPosHelper::RunRestore>(this);
      // The list holds its own reference; ours keeps the call alive (a call
      // whose caller let go is skipped).
      FRestore->_AddRef();
      app->Post(app->CallEventId(), FRestore.Get());
    } else if (!SameRect(Form->Bounds(), NormalBounds)) {
      Form->SetBoundsRect(NormalBounds);
    }
  }
  if (tag == 11) LastState = s;
  // While a restore waits, the platform's own restore rectangle is not the normal one.
  if (!(s & 2) && !FRestore) NormalBounds = Form->Bounds();
}

void TFormPosHelper::RunRestore(void*, int32_t, foundation::TRefObject*) {
  // The application releases the caller's reference after the call.
  FRestore.Detach();
  if (!Form || (Form->WindowState() & 2)) return;
  if (!SameRect(Form->Bounds(), FRestoreTo)) Form->SetBoundsRect(FRestoreTo);
  NormalBounds = Form->Bounds();
}

}  // namespace controls
