// Native child windows of a form: a class named after the object's class,
// a window made inside a parent and subclassed so that the object's WndProc
// sees its messages; bounds, text, visibility and font.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "windowing/kvWndAPI.h"

namespace windowing {

struct TCreateParams {
  std::u16string Caption;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  void* Param = nullptr;
};

class TWinControl : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TWinControl)
  void Dispose() override;
  // Makes the window inside the parent. Called once after construction (the
  // class and creation parameters come from the derived class's overrides).
  void Create(HWND parent);
  virtual void CreateParams(TCreateParams& params);
  // Fills the class description; the class name comes in as the object's
  // class name.
  virtual void GetWindowClass(platform::window::WndClass& cls) = 0;
  virtual int32_t WndProc(TWndHookMessage& msg);

  void CreateHandle(HWND parent);
  void SetParentWindow(HWND parent);
  void SetBoundsRect(const Rect& rect);
  Rect GetBoundsRect();
  void SetText(const std::u16string& text);
  void SetVisible(bool visible);

  HWND Handle() const { return FHandle; }
  uintptr_t Font() const { return FFont; }
  const std::u16string& WindowClassName() const { return FClassName; }

 private:
  friend LRESULT ControlFirstMessageProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);
  void Unsubclass();
  HWND FHandle = 0;
  uintptr_t FFont = 0;
  WNDPROC FClassWndProc = nullptr;
  WNDPROC FPrevWndProc = nullptr;
  std::u16string FClassName;
};

// The class procedure of every control class.
LRESULT ControlFirstMessageProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);

}  // namespace windowing
