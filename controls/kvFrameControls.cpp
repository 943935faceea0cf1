#include "controls/kvFrameControls.h"

#include <cmath>
#include <exception>
#include <string>
#include <utility>

#include "foundation/kpExceptions.h"
#include "text/kvTextServices.h"

namespace controls {

using foundation::TRef;

int32_t WheelCatchCounter = 1;

// ---- Event table with tags --------------------------------------------------

void TEventsWithTags::Dispose() {
  if (Tags) Tags->Clear();
  Tags.Reset();
  windowing::TEvents::Dispose();
}

foundation::TList* TEventsWithTags::GetTags() {
  if (!Tags) Tags = foundation::MakeRef<foundation::TList>();
  return Tags.Get();
}

// ---- Creation and disposal --------------------------------------------------

TFrameControl::TFrameControl(TDrawFrame* frame) {
  QEL_ASSERT(frame && !frame->Handler, "");
  CatchesWheel = WheelCatchCounter >= 1 ? 1 : 0;
  EnabledState = 0;
  Index = -1;
  TFrameControl* parent = nullptr;
  for (TDrawFrame* f = frame->ParentFrame; f && !parent; f = f->ParentFrame)
    parent = dynamic_cast<TFrameControl*>(f->Handler);
  QEL_ASSERT(parent || !frame->ParentFrame, "No root control");
  if (parent) {
    int32_t at = parent->ChildCount();
    if (frame->ParentFrame == parent->Frame.Get()) {
      TDrawFrame* pf = frame->ParentFrame;
      for (int32_t i = frame->FrameIndex + 1; i < pf->ChildCount(); ++i) {
        auto* sibling = dynamic_cast<TFrameControl*>(pf->Child(i)->Handler);
        if (sibling && sibling->Parent == parent) {
          at = sibling->Index;
          break;
        }
      }
    }
    QEL_ASSERT(parent->InsertChild(at, this), "Can`t insert ctrl");
  }
  SetFrame(frame);
  if (parent) parent->ChildAdded(this);
}

void TFrameControl::RemoveAndRelease() {
  if (TFrameControl* parent = Parent) {
    if (parent->FocusedChild == this) parent->SetFocusedChild(nullptr);
    TFrameControl* removed = parent->RemoveChildAt(Index);
    QEL_ASSERT(removed == this, "Ctrl`s Index mismatch");
    parent->ChildRemoved(this);
  }
  Free();
}

void TFrameControl::DisposeHandler() {
  Fire(ceDisposing, nullptr);
  std::vector<TRef<TFrameControl>> children = std::move(Children);
  Children.clear();
  FocusedChild = nullptr;
  for (auto& child : children) {
    TFrameControl* c = child.Get();
    c->Index = -1;
    ChildRemoved(c);
    c->RemovedByParent = 1;
    c->Parent = nullptr;
    child.Reset();
  }
  if (!RemovedByParent && Parent) {
    TFrameControl* parent = Parent;
    if (parent->FocusedChild == this) parent->FocusedChild = nullptr;
    const int32_t at = Index;
    QEL_ASSERT(at >= 0 && at < parent->ChildCount() && parent->Child(at) == this, "Ctrl`s Index mismatch");
    // The parent's reference is the one being released.
    parent->Children[static_cast<size_t>(at)].Detach();
    parent->Children.erase(parent->Children.begin() + at);
    for (int32_t i = at; i < parent->ChildCount(); ++i) parent->Child(i)->Index = i;
    Parent = nullptr;
    Index = -1;
    parent->ChildRemoved(this);
  }
  TFrameHandler::DisposeHandler();
  try {
    Events.Reset();
  } catch (const std::exception&) {
    foundation::QelAssertFail(std::string("Exception at FrameControl disposing ") + ClassName());
  }
}

// ---- Notifications ------------------------------------------------------------

void TFrameControl::EnabledChanged() {
  Fire(ceEnabled, nullptr);
  for (int32_t i = 0; i < ChildCount(); ++i)
    if (Child(i)->EnabledState == 0) Child(i)->EnabledChanged();
}
void TFrameControl::VisibleChanged() { Fire(ceVisible, nullptr); }
void TFrameControl::ConstrainSize(int32_t& width, int32_t& height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
}
void TFrameControl::SizeChanging() { Fire(ceSizing, nullptr); }
void TFrameControl::Resized() {
  Invalidate();
  Fire(ceSized, nullptr);
}
void TFrameControl::FocusChanged() { Fire(ceFocus, nullptr); }
void TFrameControl::SelectedChanged(bool selected) { Fire(selected ? ceSelected : ceDeselected, nullptr); }
void TFrameControl::FocusChanging() { Fire(ceFocusChanging, nullptr); }
void TFrameControl::FocusChangeDone() { Fire(ceFocusChangeDone, nullptr); }
void TFrameControl::ChildAdded(TFrameControl* child) { Fire(ceChildAdded, child); }
void TFrameControl::ChildRemoved(TFrameControl* child) { Fire(ceChildRemoved, child); }
void TFrameControl::Tick() { Fire(ceTick, nullptr); }
void TFrameControl::Changed(foundation::TRefObject* data) { Fire(ceChanged, data); }
void TFrameControl::Click() { Fire(ceClick, nullptr); }
void TFrameControl::Moving() { Fire(ceMoving, nullptr); }
void TFrameControl::Moved() { Fire(ceMoved, nullptr); }
void TFrameControl::MouseEvent(TMouseEx& mouse) { Fire(ceMouse, &mouse); }
void TFrameControl::MouseLeave() { Fire(ceMouseLeave, nullptr); }

void TFrameControl::KeyEvent(TKeyboardData& key) {
  if (!Events) return;
  auto record = foundation::MakeRef<TKeyRecord>(&key);
  Fire(ceKey, record.Get());
}

void TFrameControl::DefaultKeyEvent(TKeyboardData& key) {
  if (Events) {
    auto record = foundation::MakeRef<TKeyRecord>(&key);
    Fire(ceDefaultKey, record.Get());
  }
  if (key.Handled || Parent) return;
  if (key.Kind == kkChar && key.Key == 9 && (key.Shift & ~uint32_t(ssShift)) == 0) {
    MoveFocus(false, (key.Shift & ssShift) != 0);
    key.Handled = 1;
  } else if (key.Kind == kkKeyDown && key.Key >= 37 && key.Key <= 40) {
    MoveFocus(true, key.Key == 37 || key.Key == 38);
    key.Handled = 1;
  }
}

void TFrameControl::GetFont(text::TFontParams& font) {
  if (Parent) {
    Parent->GetFont(font);
    return;
  }
  if (TControlStyles* styles = GetControlStyles()) {
    font = styles->DefFont;
    return;
  }
  if (text::FontUtils())
    text::FontUtils()->GetDefaultFont(font);
  else
    text::InitFontParams(font, u"Arial", 9, 0, text::MakeFColor(0, 0, 0), text::MakeFColor(255, 255, 255), true);
}

TControlStyles* TFrameControl::GetControlStyles() { return Parent ? Parent->GetControlStyles() : nullptr; }

TDrawFrame* TFrameControl::GetClientFrame() { return Frame ? InsertFrame(Frame.Get(), Frame->ChildCount()) : nullptr; }

bool TFrameControl::ContainsPoint(int32_t x, int32_t y) {
  return uint32_t(x) < uint32_t(Width) && uint32_t(y) < uint32_t(Height);
}

int32_t TFrameControl::HitTest(TMouseEx& mouse) {
  if (mouse.Kind == mkWheel && !CatchesWheel) return 0;
  return ContainsPoint(mouse.X, mouse.Y) ? 1 : 0;
}

// ---- Tree ---------------------------------------------------------------------

TFrameControl* TFrameControl::NextSibling() const {
  if (!Parent) return nullptr;
  QEL_ASSERT(Index >= 0 && Index < Parent->ChildCount() && Parent->Child(Index) == this, "Ctrl`s Index mismatch");
  return Index + 1 < Parent->ChildCount() ? Parent->Child(Index + 1) : nullptr;
}

bool TFrameControl::InsertChild(int32_t index, TFrameControl* child) {
  if (!child || index < 0 || index > ChildCount()) return false;
  Children.insert(Children.begin() + index, TRef<TFrameControl>::Adopt(child));
  for (int32_t i = index; i < ChildCount(); ++i) Child(i)->Index = i;
  child->Parent = this;
  return true;
}

TFrameControl* TFrameControl::RemoveChildAt(int32_t index) {
  if (index < 0 || index >= ChildCount()) return nullptr;
  TFrameControl* child = Child(index);
  if (FocusedChild == child) SetFocusedChild(nullptr);
  child->Parent = nullptr;
  child->Index = -1;
  Children[static_cast<size_t>(index)].Detach();
  Children.erase(Children.begin() + index);
  for (int32_t i = index; i < ChildCount(); ++i) Child(i)->Index = i;
  return child;
}

TFrameControl* TFrameControl::GetRoot() {
  TFrameControl* c = this;
  while (c->Parent) c = c->Parent;
  return c;
}

// ---- Geometry -----------------------------------------------------------------

TPoint TFrameControl::GetPosition() const { return Frame ? Frame->GetPosition() : TPoint{0, 0}; }

void TFrameControl::SetPosition(int32_t x, int32_t y) {
  if (Frame) Frame->SetPosition(x, y);
}

void TFrameControl::SetSize(int32_t width, int32_t height) {
  ConstrainSize(width, height);
  if (width == Width && height == Height) return;
  SizeChanging();
  Width = width;
  Height = height;
  Resized();
}

void TFrameControl::SetBoundsRect(const TRect& rect) {
  SetPosition(rect.Left, rect.Top);
  SetSize(rect.Right - rect.Left, rect.Bottom - rect.Top);
}

TRect TFrameControl::GetBoundsRect() const {
  const TPoint p = GetPosition();
  return TRect{p.X, p.Y, p.X + Width, p.Y + Height};
}

TPoint TFrameControl::ClientToScreen(const TPoint& p) const { return Frame ? Frame->FrameToScreen(p) : p; }

TPoint TFrameControl::ScreenToClient(const TPoint& p) const {
  if (!Frame) return p;
  const TPoint o = Frame->AbsOrigin();
  return TPoint{p.X - o.X, p.Y - o.Y};
}

int32_t TFrameControl::ScaleX(double value) {
  TControlStyles* styles = GetControlStyles();
  return int32_t(std::nearbyint(value * (styles ? styles->ScaleX : 1.0)));
}

int32_t TFrameControl::ScaleY(double value) {
  TControlStyles* styles = GetControlStyles();
  return int32_t(std::nearbyint(value * (styles ? styles->ScaleY : 1.0)));
}

// ---- State --------------------------------------------------------------------

void TFrameControl::SetVisible(bool visible) {
  if (!Frame || Frame->IsVisible() == visible) return;
  Frame->SetVisible(visible);
  VisibleChanged();
}

bool TFrameControl::IsEnabled() const {
  for (const TFrameControl* c = this; c; c = c->Parent) {
    if (c->EnabledState == 1) return true;
    if (c->EnabledState == 2) return false;
  }
  return true;
}

void TFrameControl::SetEnabledState(uint8_t state) {
  if (state == EnabledState) return;
  const bool before = IsEnabled();
  EnabledState = state;
  if (IsEnabled() != before) EnabledChanged();
}

TEventsWithTags* TFrameControl::GetEvents() {
  if (!Events) Events = foundation::MakeRef<TEventsWithTags>(this);
  return Events.Get();
}

bool TFrameControl::Fire(int32_t id, foundation::TRefObject* data) { return Events ? Events->Fire(id, data) : false; }

// ---- Focus and keys -----------------------------------------------------------

void TFrameControl::SetFocused(bool flag) {
  if ((Focused != 0) == flag) return;
  Focused = flag ? 1 : 0;
  FocusChanged();
  if (FocusedChild && (FocusedChild->Focused != 0) != flag) FocusedChild->SetFocused(flag);
}

void TFrameControl::SetSelected(bool flag) {
  SelectedChanged(flag);
  if (flag && Parent && Parent->Focused)
    SetFocused(true);
  else if (!flag && Focused)
    SetFocused(false);
}

void TFrameControl::SetFocusedChild(TFrameControl* child) {
  if (child == FocusedChild) return;
  if (child && child->Parent != this) return;
  FocusChanging();
  if (TFrameControl* old = std::exchange(FocusedChild, nullptr)) old->SetSelected(false);
  FocusedChild = child;
  if (child) child->SetSelected(true);
  FocusChangeDone();
}

void TFrameControl::SetFocus() {
  if (Focused) return;
  if (Parent) {
    if (Parent->FocusedChild != this) Parent->SetFocusedChild(this);
    Parent->SetFocus();
  } else {
    SetFocused(true);
  }
}

void TFrameControl::DispatchKey(TKeyboardData& key) {
  if (FocusedChild) {
    TRef<TFrameControl> hold = TRef<TFrameControl>::AddRef(FocusedChild);
    FocusedChild->DispatchKey(key);
    if (key.Handled) return;
  } else {
    KeyEvent(key);
    if (key.Handled) return;
  }
  DefaultKeyEvent(key);
}

namespace {
void CollectCandidates(TFrameControl* c, int32_t kindBit, std::vector<TFrameControl*>& out, TFrameControl* current,
                       int32_t& currentAt) {
  if (!c->IsVisible() || !c->IsEnabled()) return;
  if (c == current) currentAt = static_cast<int32_t>(out.size());
  if (c->GetTabStop() && (c->GetFocusKinds() & kindBit)) out.push_back(c);
  for (int32_t i = 0; i < c->ChildCount(); ++i) CollectCandidates(c->Child(i), kindBit, out, current, currentAt);
}
}  // namespace

void TFrameControl::MoveFocus(bool arrows, bool backward) {
  TFrameControl* current = this;
  while (current->FocusedChild) current = current->FocusedChild;
  std::vector<TFrameControl*> list;
  // currentAt: how many candidates come before the current control in the
  // walk (-1 when it is not reached, for example inside a hidden subtree).
  int32_t currentAt = -1;
  CollectCandidates(this, arrows ? fkArrows : fkTab, list, current, currentAt);
  if (list.empty()) return;
  TFrameControl* found = nullptr;
  if (currentAt < 0) {
    found = backward ? list.back() : list.front();
  } else {
    const bool currentIsCandidate = currentAt < int32_t(list.size()) && list[size_t(currentAt)] == current;
    const int32_t after = currentIsCandidate ? currentAt + 1 : currentAt;
    if (backward)
      found = currentAt > 0 ? list[size_t(currentAt - 1)] : list.back();
    else
      found = after < int32_t(list.size()) ? list[size_t(after)] : list.front();
  }
  found->SetFocusedChild(nullptr);
  found->SetFocus();
}

void TFrameControl::UpdateMouseHover() {
  if (Frame && Frame->Device) Frame->Device->RefreshMouse(Frame->Root());
}

void TFrameControl::NotifyFontChanged() {
  bool goOn = true;
  ParentFontChanged(goOn);
  if (!goOn) return;
  for (int32_t i = 0; i < ChildCount(); ++i) Child(i)->NotifyFontChanged();
}

}  // namespace controls
