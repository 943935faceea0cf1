// The frame tree of a drawn form: positioned, optionally clipping nodes with
// at most one handler each, the update pass that keeps their device
// positions, clips and dirty rectangles, the paint walk, and mouse dispatch
// with capture and hover through the form's frame device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controls/kvDrawFrameUtils.h"
#include "foundation/SysObj.h"
#include "text/GraphicsParams.h"
#include "windowing/kvEvents.h"

namespace render3d {
class TDrawSurfaceEx;
}
namespace text {
class TTextElement;
struct TTextFontMetrics;
}  // namespace text

namespace controls {

class TDrawFrame;
class TFrameDevice;

// Frame flags.
enum : uint8_t {
  dfPathDirty = 1,
  dfInvalid = 2,
  dfMoved = 4,
  dfVisible = 8,
  dfClipping = 16,
  dfShowing = 32,
  dfClipped = 64,
};

// The effective clip shared by the frames below one clipping frame.
class TClipRef {
 public:
  explicit TClipRef(const TRect& rect) : Rect(rect) {}
  void AddRef() { ++RefCount; }
  // Frees itself when the count drops to zero.
  void Release();
  int32_t RefCount = 0;
  TRect Rect;
};

class TFrameHandler;

class TFrameDevice : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFrameDevice)
  TFrameDevice();
  void Dispose() override;

  virtual void SetUpdatePending(bool pending) = 0;
  virtual int32_t RefreshMouse(TDrawFrame* root);
  virtual TPoint GetOrigin(TDrawFrame* frame) = 0;
  virtual void InvalidateRect(const TRect& rect, const TPoint& origin) = 0;
  virtual text::TTextElement* CreateTextElement(const std::u16string& text, int32_t start, int32_t count,
                                                const text::TFontParams& font, int32_t flags) = 0;
  virtual void MeasureText(text::TTextFontMetrics& metrics, const text::TFontParams& font) = 0;

  void AddPending(TFrameHandler* handler);
  bool RemovePending(TFrameHandler* handler);
  void ProcessPending();
  void UpdateFrames(TDrawFrame* root, const TPoint& origin, const TRect& clipRect);
  void PaintFrames(TDrawFrame* root, render3d::TDrawSurfaceEx* surface, const TPoint& origin,
                   const TRect& clipRect);
  int32_t MouseEvent(TDrawFrame* root, const TPoint& pos, const TPoint& screenPos, int32_t shift, int32_t kind,
                     int32_t buttonOrDelta, bool inside);
  int32_t MouseMove(TDrawFrame* root, const TPoint& pos, const TPoint& screenPos);
  int32_t MouseWheel(TDrawFrame* root, int32_t shift, int32_t delta);
  bool SetShiftBit(int32_t bit, bool down);
  int32_t PendingCount() const { return FPendingCount; }
  // Invalidates the frame's visible area; for a subtree also drops the
  // frames' clips and showing state.
  void HideArea(TDrawFrame* frame);
  void HideSubtree(TDrawFrame* frame);

  foundation::TRef<TMouseEx> Mouse;
  TPoint LastPos{};
  int32_t PointerInside = 0;
  TDrawFrame* Hovered = nullptr;  // not held: a frame clears it when disposed
  float DpiX = 96, DpiY = 96;
  uint8_t UpdatePending = 0;
  int32_t DefaultCursor = 0;
  // The origin the last update pass was given; invalidated rectangles are
  // reported with it.
  TPoint PassOrigin{};

 private:
  friend class TDrawFrame;
  struct TPassContext {
    TClipRef* Clip;
    TPoint Origin;
    bool Moved;
  };
  void UpdateFrame(TDrawFrame* frame, TPassContext& ctx);
  void ShowArea(TDrawFrame* frame, bool wasShowing);
  void PaintFrame(TDrawFrame* frame, render3d::TDrawSurfaceEx* surface);
  TDrawFrame* HitFrame(TDrawFrame* frame, int32_t x, int32_t y);
  void Invalidate(const TRect& rect) { InvalidateRect(rect, PassOrigin); }

  std::vector<TFrameHandler*> FPending;  // not held: a handler leaves the list when disposed
  std::vector<TFrameHandler*> FSpare;
  int32_t FPendingCount = 0;
};

class TDrawFrame : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDrawFrame)
  explicit TDrawFrame(TFrameDevice* device);
  void Dispose() override;

  void SetPosition(int32_t x, int32_t y);
  TPoint GetPosition() const { return Position; }
  void SetVisible(bool visible);
  bool IsVisible() const { return (Flags & dfVisible) != 0; }
  void SetClipping(bool clipping);
  void SetClipRect(const TRect& rect);
  bool IsClipping() const { return (Flags & dfClipping) != 0; }
  void Invalidate();
  // The frame's origin on the screen.
  TPoint AbsOrigin() const;
  TPoint FrameToScreen(const TPoint& p) const;
  int32_t ChildCount() const { return static_cast<int32_t>(ChildFrames.size()); }
  TDrawFrame* Child(int32_t i) const { return ChildFrames[static_cast<size_t>(i)].Get(); }
  TDrawFrame* Root();

  foundation::TRef<TFrameDevice> Device;  // nil once disposed
  TDrawFrame* ParentFrame = nullptr;  // not held: the parent holds this frame
  int32_t FrameIndex = -1;
  std::vector<foundation::TRef<TDrawFrame>> ChildFrames;
  TFrameHandler* Handler = nullptr;  // not held: the handler holds the frame
  uint8_t Flags = dfVisible;
  TPoint Position{};
  TRect ClipRect{};
  TPoint AbsPos{};
  TClipRef* ClipRef = nullptr;  // holds one count
  TRect ClientRect{};

  void MarkPath();
  void SetClipRef(TClipRef* clip);
};

// The tree operations. A new frame is owned by its parent (the root by the
// caller); RemoveFrame hands the parent's reference to the caller.
TDrawFrame* CreateRootFrame(TFrameDevice* device);
TDrawFrame* InsertFrame(TDrawFrame* parent, int32_t index);
TDrawFrame* AddFrameAfter(TDrawFrame* parent, TDrawFrame* sibling);
TDrawFrame* AddFrameBefore(TDrawFrame* parent, TDrawFrame* sibling);
TDrawFrame* RemoveFrame(TDrawFrame* parent, int32_t index);

// The object that reacts to one frame: painting, mouse, deferred updates.
// Releasing a handler never frees its memory at once: its disposal runs,
// and the memory waits on a process-wide list until the outermost update
// bracket of a drawn form ends, so a handler released inside an event stays
// readable until the pass around it is done. Subclasses release their
// resources in DisposeHandler, which runs once.
class TFrameHandler : public windowing::TEventHandler {
 public:
  QEL_CLASSNAME(TFrameHandler)
  void Dispose() final;
  virtual void DisposeHandler();

  virtual void Refresh() {}
  virtual void Moving() {}
  virtual void Moved() {}
  virtual void ShowingChanged(bool showing) { (void)showing; }
  virtual void GetClientRect(TRect& rect) { (void)rect; }
  virtual void Paint(render3d::TDrawSurfaceEx* surface) { (void)surface; }
  virtual int32_t HitTest(TMouseEx& mouse) {
    (void)mouse;
    return 0;
  }
  virtual void MouseEvent(TMouseEx& mouse) { (void)mouse; }
  virtual void MouseLeave() {}
  virtual void DeferredUpdate() {}

  void Invalidate();
  bool RequestDeferredUpdate();
  // Attaches to a frame (which must have no handler) or detaches (nil).
  void SetFrame(TDrawFrame* frame);

  foundation::TRef<TDrawFrame> Frame;  // the frame points back at its handler
  uint8_t FreeDeferred = 0;
  int32_t PendingIndex = 0;  // 1 + the slot in the device's pending list
};

// The update bracket of drawn forms: the end of the outermost one frees the
// handlers released meanwhile.
void EnterUpdateBracket();
void LeaveUpdateBracket();
int32_t UpdateBracketDepth();
int32_t DeferredReleaseCount();
// Frees the handlers still waiting (the library's finalisation).
void DoneDrawFrames();

}  // namespace controls
