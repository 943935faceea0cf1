// The window side of every form: registers the "TKvForm" window class,
// creates the window with styles derived from the form's state, makes one
// method of the controller its window procedure (through the hook store),
// turns window messages into form input events and update records, and
// carries the form's property changes out on the window. Main thread only.
#pragma once

#include <cstdint>

#include "windowing/kvForms.h"
#include "windowing/kvInputTranslate.h"
#include "windowing/kvWndAPI.h"

namespace windowing {

struct TFormStyles {
  uint32_t Style = 0, ExStyle = 0;
};
// The window styles of a form state; a border style outside 0..6 is an
// assertion failure.
TFormStyles FormWindowStyles(int32_t windowState, int32_t borderStyle, int32_t borderIcons, bool visible,
                             bool stayOnTop);
int32_t EffectiveBorderIcons(int32_t borderStyle, int32_t borderIcons);
constexpr uint32_t FormStyleMask = 0x86CF0000u, FormExStyleMask = 0x00010180u;

class TCustomWinFormController : public TFormController {
 public:
  QEL_CLASSNAME(TCustomWinFormController)
  virtual bool HandleAllocated() = 0;
  virtual void CreateFormWindow() = 0;
  virtual void RecreateHandle() = 0;
};

class TWinFormController;
using TFormPaintHandler = foundation::TMethod<void(TWinFormController* controller, HWND wnd, TWndMessage& msg,
                                                   bool& handled)>;

class TWinFormController : public TCustomWinFormController {
 public:
  QEL_CLASSNAME(TWinFormController)
  TWinFormController();
  void Dispose() override;

  TRect GetDefaultBounds() override;
  bool HasCapture() override;
  TPoint ClientToScreen(TPoint pt) override;
  TPoint ScreenToClient(TPoint pt) override;
  bool ContainsScreenPoint(TPoint pt) override;
  bool SetBounds(const TRect& rect) override;
  bool SetCaption(const std::u16string& caption) override;
  bool SetCursor(int32_t cursor) override;
  bool SetVisible(bool visible) override;
  bool SetShowInTaskbar(bool show) override;
  bool SetStayOnTop(bool onTop) override;
  bool SetWindowState(int32_t state) override;
  bool SetBorderStyle(int32_t style) override;
  bool SetBorderIcons(int32_t icons) override;
  void Flash() override;
  void Activate() override;
  void Close() override;
  void SetCapture() override;
  void ReleaseCapture() override;
  void Invalidate() override;
  void InvalidateRect(const TRect& rect) override;
  TRect GetClientRect() override;
  TPoint GetClientOrigin() override;
  uintptr_t GetHandle() override;
  bool IsActive() override;
  TFormColor GetColor() override;
  void ShowModal(TFormController* owner) override;
  void ShowNoActivate(TFormController* owner) override;
  void SetImeParams(bool enabled, int32_t x, int32_t y) override;
  bool GetKeyState(int32_t virtualKey) override;
  bool SetTaskbarProgress(int32_t state, float progress) override;
  bool UpdateLayered(void* bitmap, int32_t opacity) override;
  bool HandleAllocated() override { return FHandle != 0; }
  void CreateFormWindow() override;
  void RecreateHandle() override;

  HWND Handle() const { return FHandle; }
  bool Painted() const { return FPainted; }
  bool DarkTitle() const { return FDarkTitle; }
  uint8_t ProgressFlag() const { return FProgressFlag; }
  float Progress() const { return FProgress; }
  bool CaptureOnPress = true;
  TFormPaintHandler PaintHandler;
  // The input-method composition point last applied (-2147483647 when unset).
  TPoint ImePosition() const { return FImePos; }

 private:
  friend platform::window::LRESULT InitialFormWindowProc(HWND, uint32_t, platform::window::WPARAM,
                                                          platform::window::LPARAM);
  int64_t FormWindowProc(TWndHookMessage& msg);
  void HandleFormMessage(HWND wnd, TWndMessage& msg, bool& handled);
  void AfterDefaultFormMessage(HWND wnd, TWndMessage& msg);
  void MouseMethod(uint32_t shift, int32_t x, int32_t y, int32_t button, int32_t kind);
  int32_t PlacementState();
  void ApplyState(int32_t state);
  void NeedWindow(const char* operation);
  HWND OwnerWindow();

  HWND FHandle = 0;
  platform::window::WNDPROC FInstalledProc = nullptr;
  HWND FHookedWindow = 0;
  uint32_t FFlags = 0;
  uint8_t FProgressFlag = 0;
  float FProgress = 0;
  TKeyTranslateState FKeyState;
  bool FPainted = false;
  TPoint FImePos{-2147483647, -2147483647};
  bool FDarkTitle = false;
  TWinFormController* FOwner = nullptr;
};

// The form window class procedure.
platform::window::LRESULT InitialFormWindowProc(HWND wnd, uint32_t msg, platform::window::WPARAM wParam,
                                                 platform::window::LPARAM lParam);
// The private message that frees a form (-1 before InitWinForms).
int32_t FormReleaseMessage();
uint32_t TaskbarButtonCreatedMessage();
// Unit start (after InitWndAPI, InitHooks and InitInputTranslate): registers
// "TaskbarButtonCreated", allocates the release message and installs the
// controller factory. End: unregisters the class, clears the factory.
void InitWinForms();
void DoneWinForms();

}  // namespace windowing
