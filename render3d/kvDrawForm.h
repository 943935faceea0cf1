// Draw surfaces and drawers: the abstract surface that drawn controls paint
// through, the drawer behind it that really puts pixels somewhere, and the
// transform record images are drawn with.
#pragma once

#include <cstdint>
#include <functional>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/kvImage.h"
#include "text/GraphicsParams.h"
#include "text/kvTextElement.h"
#include "windowing/kvForms.h"

namespace render3d {

using foundation::TPoint;
using foundation::TRect;

// Rectangle helpers shared by the surfaces and drawers (right and bottom
// exclusive; a rectangle without area is empty).
bool DrawRectEmpty(const TRect& R);
TRect DrawRectIntersect(const TRect& A, const TRect& B);
TRect DrawRectUnion(const TRect& A, const TRect& B);
TRect DrawRectOffset(const TRect& R, int32_t DX, int32_t DY);
bool DrawRectInside(const TRect& Inner, const TRect& Outer);
bool DrawRectsMeet(const TRect& A, const TRect& B);

struct TSurfaceTransform {
  float OriginX = 0, OriginY = 0;
  foundation::TFlatVector XAxis{1, 0};
  foundation::TFlatVector YAxis{0, 1};
  uint8_t Kind = 0;  // 0 translation only, 1 axis-aligned, 2 general
  foundation::TRefObject* Cached = nullptr;  // owned
  float Opacity = 1.0f;
  uint8_t PointFilter = 0;
};

void InitSurfaceTransform(TSurfaceTransform& T);
void FreeSurfaceTransformCache(TSurfaceTransform& T);
void OffsetSurfaceTransform(TSurfaceTransform& T, float DX, float DY);
void SetSurfaceTransformAxes(TSurfaceTransform& T, foundation::TFlatVector X, foundation::TFlatVector Y);
void ResetSurfaceTransformAxes(TSurfaceTransform& T);
TRect GetTransformedBounds(const TSurfaceTransform& T, int32_t W, int32_t H);

class TRefreshParams : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TRefreshParams)
  uintptr_t Window = 0;
  TRect Rect;
};

class TDevDrawer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDevDrawer)
  virtual bool IsAccelerated() { return false; }
  virtual void SetBounds(uintptr_t Window, const TRect& Rect);
  virtual void AddDirtyRect(const TRect& Rect);
  virtual void BeginPaint() {}
  virtual void FillRect(const TRect& Rect, uint32_t Color) = 0;
  virtual void DrawImage(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& Transform) = 0;
  virtual void EndPaint(TRect& Rect);
  virtual bool Present(TRefreshParams* Params) { (void)Params; return false; }
  TRect GetBounds() const;

  TPoint Origin;
  int32_t Width = 0, Height = 0;
  uintptr_t Window = 0;
  TRect Dirty;
};

class TDrawSurface : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDrawSurface)
  virtual bool IsVisible(const TRect& Rect) { (void)Rect; return true; }
  virtual void FillRect(const TRect& Rect, uint32_t Color) = 0;
  virtual void DrawTiled(const TRect& Rect, imaging::TImage* Image, const TPoint& Start);
  virtual void DrawText(text::TTextElement* Element, const TPoint& Position, const TRect& Clip) = 0;
  virtual void DrawImageAt(imaging::TImage* Image, const TRect& Clip, int32_t X, int32_t Y) = 0;
  virtual void DrawImageTransformed(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& Transform) = 0;
};

class TDrawSurfaceEx : public TDrawSurface {
 public:
  QEL_CLASSNAME(TDrawSurfaceEx)
  TPoint Origin;
  TRect ClipRect;
};

// Whether a colour is dark; the default text colour must contrast with the
// form colour the application set (windowing's default form colour).
bool IsDarkColor(text::TFColor Color);

class TDevDrawSurface : public TDrawSurfaceEx {
 public:
  QEL_CLASSNAME(TDevDrawSurface)
  using TPaintCallback = std::function<void(TDevDrawSurface* Surface)>;

  explicit TDevDrawSurface(TDevDrawer* Drawer);  // takes the drawer over
  void Dispose() override;

  bool IsVisible(const TRect& Rect) override;
  void FillRect(const TRect& Rect, uint32_t Color) override;
  void DrawText(text::TTextElement* Element, const TPoint& Position, const TRect& Clip) override;
  void DrawImageAt(imaging::TImage* Image, const TRect& Clip, int32_t X, int32_t Y) override;
  void DrawImageTransformed(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& Transform) override;

  virtual void Refresh(const TRect& Rect);
  virtual void SetBounds(uintptr_t Window, const TRect& Rect);
  virtual void MeasureText(text::TTextFontMetrics& Metrics, const text::TFontParams& Font);
  virtual text::TTextElement* CreateTextElement(const std::u16string& Text, int32_t Start, int32_t Count,
                                                const text::TFontParams& Font, int32_t Flags);
  virtual void Paint(const TRect& Rect);

  bool GetVisibleRect(TRect& Rect);
  TRect ClipTransformed(const TRect& Rect);
  void DrawImageClipped(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& Transform);
  void InvalidateRect(const TRect& Rect);

  TDevDrawer* Drawer = nullptr;
  TSurfaceTransform Transform;
  text::TFontParams DefaultFont;
  TPaintCallback PaintCallback;
};

// A top-level window whose content the program draws itself: a form that
// owns one draw surface and keeps it sized to its client area. Which drawer
// the surface gets is decided by the surface factory chain.
class TDrawForm : public windowing::TKvForm {
 public:
  QEL_CLASSNAME(TDrawForm)
  // Runs the surface factory with the acceleration asked for.
  explicit TDrawForm(bool Accelerated, TControllerFactory Factory = nullptr);
  void Dispose() override;

  void Paint(const TRect& UpdateRect) override;
  void Changed(int32_t Kind) override;
  void GetCloseAction(int32_t& Action) override;
  virtual void Moved() {}
  virtual void UpdateSurface(bool Repaint) { ResizeSurface(Repaint); }
  // Subclasses paint the form's content into the surface.
  virtual void PaintSurface(TDevDrawSurface* Surface) = 0;

  // Takes the surface over (the previous one is not freed here).
  void SetSurface(TDevDrawSurface* NewSurface);
  void ResizeSurface(bool Repaint);
  bool IsAccelerated();
  void RecreateSurface(bool Accelerated);

  TDevDrawSurface* Surface = nullptr;  // owned
};

// One entry of the surface factory chain: makes and attaches a surface for
// the form; True when it did. Each installed entry keeps the one it
// replaced and calls it as part of its own work; the last installed runs
// first.
using TSurfaceFactory = bool (*)(TDrawForm* Form, bool Accelerated);
TSurfaceFactory GetSurfaceFactory();
// Installs an entry and answers the one it replaces.
TSurfaceFactory SetSurfaceFactory(TSurfaceFactory Factory);

}  // namespace render3d
