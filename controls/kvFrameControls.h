// The drawn-control base: a control sits on one frame of its form's frame
// tree and adds the control tree proper (parent and ordered children), focus
// and keyboard navigation, the enabled state, sizes, numbered events and
// the link to the shared style sheet.
#pragma once

#include <cstdint>
#include <vector>

#include "controls/kvDrawFrames.h"
#include "controls/kvFrameControlStyles.h"
#include "foundation/SysObj.h"
#include "foundation/kvByteString.h"
#include "foundation/kvLists.h"
#include "text/GraphicsParams.h"
#include "windowing/kvEvents.h"

namespace controls {

// Control event ids.
enum : int32_t {
  ceDisposing = 0,
  ceChanged = 1,
  ceTick = 2,
  ceSelected = 3,
  ceDeselected = 4,
  ceFocus = 5,
  ceEnabled = 6,
  ceSizing = 7,
  ceSized = 8,
  ceMoving = 9,
  ceMoved = 10,
  ceMouse = 11,
  ceMouseLeave = 12,
  ceClick = 13,
  ceKey = 14,
  ceDefaultKey = 15,
  ceChildAdded = 16,
  ceChildRemoved = 17,
  ceFocusChangeDone = 18,
  ceFocusChanging = 19,
  ceVisible = 20,
};

// Focus-move kinds a control accepts (bits of GetFocusKinds).
enum : int32_t { fkTab = 1, fkArrows = 2 };

// The event table of one control with its list of attached objects.
class TEventsWithTags : public windowing::TEvents {
 public:
  QEL_CLASSNAME(TEventsWithTags)
  explicit TEventsWithTags(foundation::TRefObject* owner) : TEvents(owner, 16) {}
  void Dispose() override;
  foundation::TList* GetTags();
  template <class T>
  T* FindTag() const {
    if (!Tags) return nullptr;
    for (int32_t i = 0; i < Tags->Count(); ++i)
      if (auto* t = dynamic_cast<T*>(static_cast<foundation::TRefObject*>(Tags->GetItem(i)))) return t;
    return nullptr;
  }
  foundation::TRef<foundation::TList> Tags;  // each entry holds one reference
};

// Controls created while it is 0 let wheel events pass to what lies beneath.
extern int32_t WheelCatchCounter;

class TFrameControl : public TFrameHandler {
 public:
  QEL_CLASSNAME(TFrameControl)
  // Builds the control on a frame without handler. A control with a parent
  // is owned by it (the creation's reference is the parent's); a root
  // control is owned by its creator.
  explicit TFrameControl(TDrawFrame* frame);
  void DisposeHandler() override;

  // Takes the control out of its parent (the parent's reference) and
  // releases it; a root control is released as it is.
  void RemoveAndRelease();

  virtual void EnabledChanged();
  virtual void VisibleChanged();
  virtual void ConstrainSize(int32_t& width, int32_t& height);
  virtual void SizeChanging();
  virtual void Resized();
  virtual void FocusChanged();
  virtual void SelectedChanged(bool selected);
  virtual void FocusChanging();
  virtual void FocusChangeDone();
  virtual void ChildAdded(TFrameControl* child);
  virtual void ChildRemoved(TFrameControl* child);
  virtual void Tick();
  virtual void Changed(foundation::TRefObject* data);
  virtual void Click();
  virtual bool GetTabStop() { return TabStop != 0; }
  virtual void SetTabStop(bool flag) { TabStop = flag ? 1 : 0; }
  virtual int32_t GetFocusKinds() { return fkTab | fkArrows; }
  virtual void KeyEvent(TKeyboardData& key);
  virtual void DefaultKeyEvent(TKeyboardData& key);
  virtual void GetFont(text::TFontParams& font);
  virtual void ParentFontChanged(bool& goOn) { (void)goOn; }
  virtual TControlStyles* GetControlStyles();
  virtual TDrawFrame* GetClientFrame();
  virtual bool ContainsPoint(int32_t x, int32_t y);
  virtual int32_t GetWidth() { return Width; }
  virtual int32_t GetHeight(int32_t width) {
    (void)width;
    return Height;
  }

  void Moving() override;
  void Moved() override;
  void GetClientRect(TRect& rect) override { rect = TRect{0, 0, Width, Height}; }
  int32_t HitTest(TMouseEx& mouse) override;
  void MouseEvent(TMouseEx& mouse) override;
  void MouseLeave() override;
  void DeferredUpdate() override { Tick(); }

  // Tree.
  TFrameControl* FirstChild() const { return ChildCount() > 0 ? Child(0) : nullptr; }
  TFrameControl* NextSibling() const;
  bool InsertChild(int32_t index, TFrameControl* child);  // takes the child's reference
  TFrameControl* RemoveChildAt(int32_t index);            // hands the reference to the caller
  TFrameControl* GetRoot();
  int32_t ChildCount() const { return static_cast<int32_t>(Children.size()); }
  TFrameControl* Child(int32_t i) const { return Children[static_cast<size_t>(i)].Get(); }

  // Geometry.
  TPoint GetPosition() const;
  void SetPosition(int32_t x, int32_t y);
  void SetSize(int32_t width, int32_t height);
  void SetBoundsRect(const TRect& rect);
  TRect GetBoundsRect() const;
  void SetWidthAuto(int32_t width) { SetSize(width, GetHeight(width)); }
  TPoint ClientToScreen(const TPoint& p) const;
  TPoint ScreenToClient(const TPoint& p) const;
  int32_t ScaleX(double value);
  int32_t ScaleY(double value);

  // State.
  const foundation::TByteString& GetName() const { return Name; }
  void SetName(const foundation::TByteString& name) { Name = name; }
  bool IsVisible() const { return Frame && Frame->IsVisible(); }
  void SetVisible(bool visible);
  void SetEnabledState(uint8_t state);
  void SetEnabled(bool enabled) { SetEnabledState(enabled ? 0 : 2); }
  bool IsEnabled() const;

  // Events.
  TEventsWithTags* GetEvents();
  bool Fire(int32_t id, foundation::TRefObject* data);
  foundation::TList* GetTags() { return GetEvents()->GetTags(); }
  template <class T>
  T* FindTag() const {
    return Events ? Events->FindTag<T>() : nullptr;
  }

  // Focus and keys.
  void SetFocusedChild(TFrameControl* child);
  void SetFocus();
  void DispatchKey(TKeyboardData& key);
  void UpdateMouseHover();
  void NotifyFontChanged();

  foundation::TByteString Name;
  TFrameControl* Parent = nullptr;  // not held: the parent holds this control
  int32_t Index = -1;
  uint8_t RemovedByParent = 0;
  std::vector<foundation::TRef<TFrameControl>> Children;
  TFrameControl* FocusedChild = nullptr;  // one of Children
  uint8_t Focused = 0;
  uint8_t TabStop = 0;
  uint8_t CatchesWheel = 0;
  uint8_t EnabledState = 0;  // 0 inherit, 1 enabled, 2 disabled
  int32_t Width = 0, Height = 0;
  foundation::TRef<TEventsWithTags> Events;
  int32_t Baseline = -1;

 private:
  void SetFocused(bool flag);
  void SetSelected(bool flag);
  void MoveFocus(bool arrows, bool backward);
};

}  // namespace controls
