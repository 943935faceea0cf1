// The window-API layer every window call of the program goes through
// (replaceable as a whole through WindowApiClass), window subclassing by an
// object's method, the hook store keyed by window handle, the hidden tool
// window for code that needs a handle but shows nothing, and the entry points
// bound at run time.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "platform/window/api.h"

namespace windowing {

using platform::window::HWND;
using platform::window::LPARAM;
using platform::window::LRESULT;
using platform::window::Msg;
using platform::window::Rect;
using platform::window::WNDPROC;
using platform::window::WPARAM;

struct TWndMessage {
  uint32_t Msg = 0;
  uint64_t WParam = 0;
  int64_t LParam = 0;
  int64_t Result = 0;
};

struct TWndHookMessage {
  HWND Wnd = 0;
  uint32_t Msg = 0;
  uint64_t WParam = 0;
  int64_t LParam = 0;
};

struct TWndCreateParams {
  std::u16string ClassName;
  std::u16string WindowName;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  HWND Parent = 0;
  uintptr_t Instance = 0;
};

using TWndHandler = foundation::TMethod<int32_t(TWndHookMessage& msg)>;
using TStoreHandler = foundation::TMethod<int64_t(TWndHookMessage& msg)>;

// The module instance every window and class of the program is made with.
constexpr uintptr_t HInstance = 0x400000;

class TWndAPI : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TWndAPI)
  virtual char16_t* AllocWideBuffer(int32_t count);
  virtual void FreeWideBuffer(char16_t* buffer);
  virtual char16_t* StringToWideBuffer(const std::u16string& s);
  virtual void WideBufferToString(std::u16string& s, const char16_t* buffer, int32_t length);
  virtual uint16_t RegisterClass(const platform::window::WndClass& cls);
  virtual bool UnregisterClass(const std::u16string& className, uintptr_t instance);
  virtual HWND CreateWindow(const TWndCreateParams& params, void* param);
  virtual bool DestroyWindow(HWND wnd);
  virtual bool ShowWindow(HWND wnd, int32_t command, bool direct);
  virtual LRESULT CallWindowProc(WNDPROC proc, HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  // True for a message other than WM_QUIT. The platform's error value -1
  // is logged and answers false, so a loop ends instead of dispatching an
  // invalid record for ever.
  virtual bool GetMessage(Msg& msg, HWND wnd, uint32_t filterMin, uint32_t filterMax);
  virtual bool PeekMessage(Msg& msg, HWND wnd, uint32_t filterMin, uint32_t filterMax, uint32_t remove);
  virtual bool PostMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  virtual LRESULT SendMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  virtual bool SendNotifyMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  virtual bool TranslateMessage(const Msg& msg);
  virtual LRESULT DispatchMessage(const Msg& msg);
  virtual void GetWindowText(std::u16string& s, HWND wnd);
  virtual bool SetWindowText(HWND wnd, const std::u16string& s);
  virtual intptr_t GetWindowLongPtr(HWND wnd, int32_t index);
  virtual intptr_t SetWindowLongPtr(HWND wnd, int32_t index, intptr_t value);
  virtual Rect GetWindowRect(HWND wnd);
  virtual int32_t MessageBox(HWND wnd, const std::u16string& text, const std::u16string& caption, uint32_t type);
  virtual uint32_t RegisterWindowMessage(const std::u16string& name);

  // Subclassing: the window's procedure becomes the common hook procedure,
  // which hands every message to the handler until WM_DESTROY. The previous
  // procedure is answered (and kept in the hook).
  static WNDPROC HookWindow(HWND wnd, TWndHandler handler);
  static void UnhookWindow(HWND wnd, TWndHandler handler, WNDPROC previous);
  // The platform value of a show command 0..11.
  static int32_t ShowCommandValue(int32_t command);
};

// The class reference every call goes through; InitWndAPI fills it.
extern TWndAPI* WindowApiClass;
extern platform::os::ThreadId MainThreadId;

LRESULT CallWndHandler(TWndHandler handler, HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
LRESULT CallDefWindowProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
// The hook store: answers the address of HookStoreWndProc, which the caller
// installs as the window's procedure.
WNDPROC AddWindowProcHook(HWND wnd, TStoreHandler handler);
bool RemoveWindowProcHook(HWND wnd);
LRESULT HookStoreWndProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
// The common hook procedure HookWindow installs.
LRESULT HookWndProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);

// Run-time bound entry points; E_NOTIMPL (or false) when missing.
int32_t GetDwmCompositionEnabled(bool& enabled);
int32_t CallDwmSetWindowAttribute(HWND wnd, uint32_t attribute, const void* value, uint32_t size);
bool CallAddClipboardFormatListener(HWND wnd);
bool CallRemoveClipboardFormatListener(HWND wnd);

// A hidden popup tool window: a handle for code that needs one and shows
// nothing.
class TDumbWindow : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDumbWindow)
  void Dispose() override;
  virtual void WndProc(TWndMessage& msg);
  void HandleNeeded();
  void SetBounds(const Rect& rect);
  void DestroyHandle();
  HWND Handle() const { return FHandle; }

 private:
  friend LRESULT DumbClassProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  int32_t HookProc(TWndHookMessage& msg);
  HWND FHandle = 0;
  HWND FHookedHandle = 0;
  WNDPROC FPrevProc = nullptr;
};

// Unit start (main thread): records the main thread, installs TWndAPI.
void InitWndAPI();
// Number of live subclassing hooks and store entries (tests).
int32_t WndHookCount();
int32_t HookStoreCount();

}  // namespace windowing
