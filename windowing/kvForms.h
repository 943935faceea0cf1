// The platform-neutral form: the state of a top-level window (bounds,
// caption, cursor, visibility, window state, border style and icons, active
// flag, colour), its event table, and the controller that stands for the
// window system. The form never calls the window system: setters ask the
// controller, which reports back what happened as TFormUpdate records; all
// changes of one report are applied before any is announced. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kvLists.h"
#include "windowing/kvEvents.h"

namespace windowing {

using foundation::TPoint;
using foundation::TRect;

class TKvForm;
class TFormController;

// Form event ids (kinds 0..13 of a change fire kind + 1).
enum : int32_t {
  feDisposed = 0,
  feKey = 20,
  feMouse = 21,
  feWheel = 22,
  feAdjustBounds = 23,
};

// Update kinds.
enum : int32_t {
  fuActivated = 0,
  fuDeactivated = 1,
  fuCaption = 2,
  fuCapture = 3,
  fuCursor = 4,
  fuVisible = 5,
  fuMoved = 6,
  fuResized = 7,
  fuTaskbar = 8,
  fuStayOnTop = 9,
  fuWindowState = 10,
  fuBorderStyle = 11,
  fuBorderIcons = 12,
  fuFrameClick = 13,
};

// Border icons.
enum : int32_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };

class TKeybordData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKeybordData)
  uint32_t Shift = 0;
  uint16_t Key = 0;
  int32_t Kind = 0;  // 0 up, 1 down, 2 character
};

class TMouseData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMouseData)
  int32_t Shift = 0, X = 0, Y = 0, Button = 0, Kind = 0;
};

class TMouseWheelData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMouseWheelData)
  int32_t Shift = 0, X = 0, Y = 0;
};

class TAdjustBoundsData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TAdjustBoundsData)
  TRect Rect;
};

struct TFormUpdate {
  int32_t Kind = 0;
  int32_t X = 0, Y = 0;
  int32_t Width = 0, Height = 0;
  std::u16string Caption;
  int32_t Cursor = 0;
  bool Visible = false, ShowInTaskbar = false, StayOnTop = false;
  int32_t WindowState = 0, BorderStyle = 0, BorderIcons = 0;
};

// Three colour bytes and alpha, blue first in memory.
struct TFormColor {
  uint8_t B = 255, G = 255, R = 255, A = 255;
  friend bool operator==(const TFormColor&, const TFormColor&) = default;
};

class TKvForm : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKvForm)
  using TControllerFactory = TFormController* (*)(TKvForm* form);
  explicit TKvForm(TControllerFactory factory = nullptr);
  void Dispose() override;

  virtual void Paint(const TRect& updateRect) {}
  virtual void Changed(int32_t kind);
  virtual void AdjustBounds(TRect& rect);
  virtual void GetCloseAction(int32_t& action) { action = 1; }
  virtual void Resized() {}
  virtual void KeyEvent(uint32_t shift, uint16_t& key, int32_t kind);
  virtual void MouseEvent(int32_t shift, int32_t x, int32_t y, int32_t button, int32_t kind);
  virtual void MouseWheel(int32_t shift, int32_t x, int32_t y, int32_t steps);
  virtual void ShowModal(TKvForm* owner);
  virtual void ShowNoActivate(TKvForm* owner);

  void SetCaption(const std::u16string& caption);
  void SetCursor(int32_t cursor);
  void SetVisible(bool visible);
  void Hide() { SetVisible(false); }
  void SetShowInTaskbar(bool show);
  void SetWindowState(int32_t state);
  void SetBorderStyle(int32_t style);
  void SetBorderIcons(int32_t icons);
  void SetBoundsRect(const TRect& rect);

  bool IsActive();
  bool HasCapture();
  TRect GetClientRect();
  TPoint ClientToScreen(TPoint pt);
  TPoint ScreenToClient(TPoint pt);
  bool ContainsScreenPoint(int32_t x, int32_t y);
  TPoint GetClientSize();
  int32_t GetWidth() const { return FBounds.Right - FBounds.Left; }
  int32_t GetHeight() const { return FBounds.Bottom - FBounds.Top; }
  void Activate();
  void Close();

  TFormController* Controller() const { return FController; }
  TEvents* Events() const { return FEvents; }
  TKvForm* NextForm() const { return FNext; }
  const TRect& Bounds() const { return FBounds; }
  const std::u16string& Caption() const { return FCaption; }
  int32_t Cursor() const { return FCursor; }
  bool Visible() const { return FVisible; }
  bool StayOnTop() const { return FStayOnTop; }
  int32_t WindowState() const { return FWindowState; }
  int32_t BorderStyle() const { return FBorderStyle; }
  bool Active() const { return FActive; }
  bool ShowInTaskbar() const { return FShowInTaskbar; }
  int32_t BorderIcons() const { return FBorderIcons; }
  TFormColor Color() const { return FColor; }
  void SetColorValue(TFormColor c) { FColor = c; }
  bool NoActivate() const { return FNoActivate; }
  foundation::TList* Children() const { return FChildren; }

 private:
  friend class TFormController;
  friend void ApplyFormUpdates(TKvForm* form, const TFormUpdate* records, int32_t count);
  TKvForm* FNext = nullptr;
  TFormController* FController = nullptr;
  foundation::TList* FChildren = nullptr;
  TEvents* FEvents = nullptr;
  TRect FBounds;
  std::u16string FCaption;
  int32_t FCursor = 0;
  bool FVisible = false;
  bool FStayOnTop = false;
  int32_t FWindowState = 0;
  int32_t FBorderStyle = 1;
  bool FActive = false;
  bool FShowInTaskbar = false;
  TKeybordData* FKeyData = nullptr;
  TMouseData* FMouseData = nullptr;
  TMouseWheelData* FWheelData = nullptr;
  TAdjustBoundsData* FAdjustData = nullptr;
  int32_t FBorderIcons = 7;
  TFormColor FColor;
  bool FNoActivate = false;
};

class TFormController : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFormController)
  // Links form and controller and takes the default bounds; call Attach
  // right after construction (a constructor cannot reach the derived
  // class's GetDefaultBounds).
  TFormController() = default;
  virtual void Attach(TKvForm* form);

  virtual double GetScaleX() { return 1.0; }
  virtual double GetScaleY() { return 1.0; }
  virtual TRect GetDefaultBounds() = 0;
  virtual bool HasCapture() = 0;
  virtual TPoint ClientToScreen(TPoint pt) = 0;
  virtual TPoint ScreenToClient(TPoint pt) = 0;
  virtual bool ContainsScreenPoint(TPoint pt);
  virtual bool SetBounds(const TRect& rect) = 0;
  virtual bool SetCaption(const std::u16string& caption) = 0;
  virtual bool SetCursor(int32_t cursor) = 0;
  virtual bool SetVisible(bool visible) = 0;
  virtual bool SetShowInTaskbar(bool show) = 0;
  virtual bool SetStayOnTop(bool onTop) = 0;
  virtual bool SetWindowState(int32_t state) = 0;
  virtual bool SetBorderStyle(int32_t style) = 0;
  virtual bool SetBorderIcons(int32_t icons) = 0;
  virtual void Flash() {}
  virtual void Activate() = 0;
  virtual void Close() = 0;
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
  virtual void Invalidate() = 0;
  virtual void InvalidateRect(const TRect& rect) = 0;
  virtual TRect GetClientRect() = 0;
  virtual TPoint GetClientOrigin() = 0;
  virtual uintptr_t GetHandle() = 0;
  virtual bool IsActive();
  virtual TFormColor GetColor();
  virtual void ShowModal(TFormController* owner);
  virtual void ShowNoActivate(TFormController* owner);
  virtual void SetImeParams(bool enabled, int32_t x, int32_t y) {}
  virtual bool GetKeyState(int32_t virtualKey) { return false; }
  virtual bool SetTaskbarProgress(int32_t state, float progress) { return false; }
  // bitmap: an imaging::TSysBitmap (kept opaque here).
  virtual bool UpdateLayered(void* bitmap, int32_t opacity) { return false; }

  void NotifyChanged(int32_t kind);
  void NotifyPaint(const TRect& rect);
  void ApplyUpdates(const TFormUpdate* records, int32_t count);
  int32_t QueryCloseAction();

  TKvForm* Form() const { return FForm; }
  TFormController* ModalChild() const { return FModalChild; }

 protected:
  friend class TKvForm;
  TKvForm* FForm = nullptr;
  TFormController* FModalChild = nullptr;
};

using TFormControllerFactory = TFormController* (*)(TKvForm* form);

void SetFormControllerFactory(TFormControllerFactory factory);
// Tests and the unit's end: forget the factory.
void ClearFormControllerFactory();
void SetDefaultFormColor(uint8_t r, uint8_t g, uint8_t b);
bool GetDefaultFormColor(TFormColor& color);
void ClearDefaultFormColor();
int32_t GetFormCount();
TKvForm* GetFirstForm();
TKvForm* GetNextForm(TKvForm* form);
TKvForm* FindFormByHandle(uintptr_t handle);
void ApplyFormUpdates(TKvForm* form, const TFormUpdate* records, int32_t count);

}  // namespace windowing
