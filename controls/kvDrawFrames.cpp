#include "controls/kvDrawFrames.h"

#include <utility>

#include "foundation/kpExceptions.h"
#include "render3d/kvDrawForm.h"

namespace controls {

using foundation::TRef;

// ---- Clip references --------------------------------------------------------

void TClipRef::Release() {
  --RefCount;
  QEL_ASSERT(RefCount >= 0, "TClipRef.RefCount");
  if (RefCount == 0) delete this;
}

// ---- Frames -----------------------------------------------------------------

TDrawFrame::TDrawFrame(TFrameDevice* device) : Device(TRef<TFrameDevice>::AddRef(device)) {}

TDrawFrame* TDrawFrame::Root() {
  TDrawFrame* f = this;
  while (f->ParentFrame) f = f->ParentFrame;
  return f;
}

void TDrawFrame::SetClipRef(TClipRef* clip) {
  if (clip == ClipRef) return;
  if (clip) clip->AddRef();
  TClipRef* old = std::exchange(ClipRef, clip);
  if (old) old->Release();
}

void TDrawFrame::MarkPath() {
  for (TDrawFrame* f = this; f && !(f->Flags & dfPathDirty); f = f->ParentFrame) f->Flags |= dfPathDirty;
  if (Device) Device->InvalidateRect(EmptyRect, Device->PassOrigin);
}

void TDrawFrame::Invalidate() {
  if (Flags & dfInvalid) return;
  Flags |= dfInvalid;
  MarkPath();
}

void TDrawFrame::SetVisible(bool visible) {
  if (IsVisible() == visible) return;
  Flags = visible ? (Flags | dfVisible) : (Flags & ~dfVisible);
  if (!ParentFrame || ParentFrame->ClipRef) MarkPath();
}

void TDrawFrame::SetPosition(int32_t x, int32_t y) {
  if (Position.X == x && Position.Y == y) return;
  if (Handler) Handler->Moving();
  Position = TPoint{x, y};
  Flags |= dfMoved;
  if (ClipRef) MarkPath();
  if (Handler) Handler->Moved();
}

void TDrawFrame::SetClipRect(const TRect& rect) {
  if (SameRect(rect, ClipRect)) return;
  ClipRect = rect;
  if (ClipRef) MarkPath();
}

void TDrawFrame::SetClipping(bool clipping) {
  if (IsClipping() == clipping) return;
  Flags = clipping ? (Flags | dfClipping) : (Flags & ~dfClipping);
  if (ClipRef) MarkPath();
}

TPoint TDrawFrame::AbsOrigin() const {
  TPoint p{};
  const TDrawFrame* f = this;
  for (; f; f = f->ParentFrame) {
    p.X += f->Position.X;
    p.Y += f->Position.Y;
    if (!f->ParentFrame) break;
  }
  if (f && f->Device) {
    const TPoint o = f->Device->GetOrigin(const_cast<TDrawFrame*>(f));
    p.X += o.X;
    p.Y += o.Y;
  }
  return p;
}

TPoint TDrawFrame::FrameToScreen(const TPoint& p) const {
  const TPoint o = AbsOrigin();
  return TPoint{o.X + p.X, o.Y + p.Y};
}

void TDrawFrame::Dispose() {
  if (Device && Device->Hovered == this) Device->Hovered = nullptr;
  if (ParentFrame) {
    TDrawFrame* parent = ParentFrame;
    const int32_t index = FrameIndex;
    QEL_ASSERT(index >= 0 && index < parent->ChildCount() && parent->Child(index) == this,
               "TDrawFrame.fIndex mismatch");
    // The parent's reference is the one being released now.
    parent->ChildFrames[static_cast<size_t>(index)].Detach();
    parent->ChildFrames.erase(parent->ChildFrames.begin() + index);
    for (int32_t i = index; i < parent->ChildCount(); ++i) parent->Child(i)->FrameIndex = i;
    ParentFrame = nullptr;
  }
  if (Handler) {
    if (Device) Device->RemovePending(Handler);
    Handler->Frame.Detach();  // the handler's reference is not the one keeping us
    Handler = nullptr;
  }
  if (Device && (Flags & dfShowing)) Device->HideArea(this);
  SetClipRef(nullptr);
  std::vector<TRef<TDrawFrame>> children = std::move(ChildFrames);
  ChildFrames.clear();
  for (auto& child : children) {
    child->ParentFrame = nullptr;
    child->FrameIndex = -1;
    if (TFrameHandler* h = child->Handler) h->SetFrame(nullptr);
  }
  children.clear();
  Device.Reset();
  TRefObject::Dispose();
}

TDrawFrame* CreateRootFrame(TFrameDevice* device) { return new TDrawFrame(device); }

TDrawFrame* InsertFrame(TDrawFrame* parent, int32_t index) {
  if (!parent || index < 0 || index > parent->ChildCount()) return nullptr;
  auto frame = TRef<TDrawFrame>::Adopt(new TDrawFrame(parent->Device.Get()));
  TDrawFrame* result = frame.Get();
  frame->ParentFrame = parent;
  parent->ChildFrames.insert(parent->ChildFrames.begin() + index, std::move(frame));
  for (int32_t i = index; i < parent->ChildCount(); ++i) parent->Child(i)->FrameIndex = i;
  // A new visible frame must take part in the next pass.
  if (parent->ClipRef || !parent->ParentFrame) result->MarkPath();
  return result;
}

TDrawFrame* AddFrameAfter(TDrawFrame* parent, TDrawFrame* sibling) {
  if (!parent) return nullptr;
  if (sibling && sibling->ParentFrame == parent) return InsertFrame(parent, sibling->FrameIndex + 1);
  return InsertFrame(parent, parent->ChildCount());
}

TDrawFrame* AddFrameBefore(TDrawFrame* parent, TDrawFrame* sibling) {
  if (!parent) return nullptr;
  if (sibling && sibling->ParentFrame == parent) return InsertFrame(parent, sibling->FrameIndex);
  return InsertFrame(parent, 0);
}

TDrawFrame* RemoveFrame(TDrawFrame* parent, int32_t index) {
  if (!parent || index < 0 || index >= parent->ChildCount()) return nullptr;
  TDrawFrame* frame = parent->ChildFrames[static_cast<size_t>(index)].Detach();
  parent->ChildFrames.erase(parent->ChildFrames.begin() + index);
  for (int32_t i = index; i < parent->ChildCount(); ++i) parent->Child(i)->FrameIndex = i;
  frame->ParentFrame = nullptr;
  frame->FrameIndex = -1;
  if (frame->Device) {
    if (frame->Device->Hovered == frame) frame->Device->Hovered = nullptr;
    frame->Device->HideSubtree(frame);
  }
  parent->MarkPath();
  return frame;
}

// ---- Handlers ---------------------------------------------------------------

void TFrameHandler::Invalidate() {
  if (Frame) Frame->Invalidate();
}

bool TFrameHandler::RequestDeferredUpdate() {
  if (!Frame || !Frame->Device) return false;
  Frame->Device->AddPending(this);
  return true;
}

void TFrameHandler::SetFrame(TDrawFrame* frame) {
  QEL_ASSERT(!frame || !frame->Handler, "");
  TRef<TDrawFrame> old = std::move(Frame);
  TFrameDevice* oldDevice = old ? old->Device.Get() : nullptr;
  if (old) {
    QEL_ASSERT(old->Handler == this, "");
    if (oldDevice && (old->Flags & dfShowing)) {
      oldDevice->HideArea(old.Get());
      old->Flags &= uint8_t(~(dfShowing | dfClipped));
      ShowingChanged(false);
    }
    old->Handler = nullptr;
  }
  if (frame) {
    Frame = TRef<TDrawFrame>::AddRef(frame);
    frame->Handler = this;
    frame->Invalidate();
  }
  TFrameDevice* newDevice = frame ? frame->Device.Get() : nullptr;
  if (PendingIndex != 0 && oldDevice != newDevice) {
    if (oldDevice) oldDevice->RemovePending(this);
    if (newDevice) newDevice->AddPending(this);
  }
  // old is released here, after the links are cleared.
}

namespace {
// Main thread only, like the drawn forms that use them.
std::vector<TFrameHandler*> GDeferred;  // each holds one reference
int32_t GBracketDepth = 0;

void FlushDeferred() {
  // Handlers freed here may release others; they join the list and go too.
  while (!GDeferred.empty()) {
    std::vector<TFrameHandler*> list = std::move(GDeferred);
    GDeferred.clear();
    for (TFrameHandler* h : list) h->Free();
  }
}
}  // namespace

void EnterUpdateBracket() { ++GBracketDepth; }

void LeaveUpdateBracket() {
  QEL_ASSERT(GBracketDepth > 0, "Update bracket below zero");
  if (--GBracketDepth == 0) FlushDeferred();
}

int32_t UpdateBracketDepth() { return GBracketDepth; }
int32_t DeferredReleaseCount() { return static_cast<int32_t>(GDeferred.size()); }
void DoneDrawFrames() { FlushDeferred(); }

void TFrameHandler::Dispose() {
  if (Flags() & foundation::ofDisposed) return;  // the deferred free of the memory
  DisposeHandler();
  windowing::TEventHandler::Dispose();
  if (!FreeDeferred) {
    FreeDeferred = 1;
    _AddRef();  // keeps the memory: Free sees a count above zero
    GDeferred.push_back(this);
  }
}

void TFrameHandler::DisposeHandler() {
  if (Frame) {
    TRef<TDrawFrame> frame = Frame;
    if (frame->Device) frame->Device->RemovePending(this);
    SetFrame(nullptr);
    // A handler's frame leaves the tree with it.
    if (frame->ParentFrame) {
      TDrawFrame* parent = frame->ParentFrame;
      TRef<TDrawFrame>::Adopt(RemoveFrame(parent, frame->FrameIndex));
    }
  }
  PendingIndex = 0;
}

// ---- Device -----------------------------------------------------------------

TFrameDevice::TFrameDevice() : Mouse(foundation::MakeRef<TMouseEx>()) {
  FPending.resize(64);
  FSpare.resize(64);
}

void TFrameDevice::Dispose() {
  for (int32_t i = 0; i < FPendingCount; ++i)
    if (FPending[static_cast<size_t>(i)]) FPending[static_cast<size_t>(i)]->PendingIndex = 0;
  FPendingCount = 0;
  Hovered = nullptr;
  Mouse.Reset();
  TRefObject::Dispose();
}

void TFrameDevice::AddPending(TFrameHandler* handler) {
  const int32_t at = handler->PendingIndex - 1;
  if (at >= 0 && at < FPendingCount && FPending[static_cast<size_t>(at)] == handler) return;
  if (FPendingCount == static_cast<int32_t>(FPending.size())) FPending.resize(FPending.size() * 2);
  FPending[static_cast<size_t>(FPendingCount)] = handler;
  handler->PendingIndex = ++FPendingCount;
  if (!UpdatePending) {
    UpdatePending = 1;
    SetUpdatePending(true);
  }
}

bool TFrameDevice::RemovePending(TFrameHandler* handler) {
  const int32_t at = handler->PendingIndex - 1;
  if (at < 0 || at >= FPendingCount || FPending[static_cast<size_t>(at)] != handler) return false;
  FPending[static_cast<size_t>(at)] = nullptr;
  handler->PendingIndex = 0;
  return true;
}

void TFrameDevice::ProcessPending() {
  if (!UpdatePending) return;
  // Handlers that ask again during the pass go into the fresh list and run
  // in the next pass.
  std::swap(FPending, FSpare);
  const int32_t count = std::exchange(FPendingCount, 0);
  if (FPending.size() < 64) FPending.resize(64);
  for (int32_t i = 0; i < count; ++i) {
    TFrameHandler* h = std::exchange(FSpare[static_cast<size_t>(i)], nullptr);
    if (!h) continue;
    QEL_ASSERT(h->PendingIndex == i + 1, "TFrameDevice.PendingIndex");
    h->PendingIndex = 0;
    h->DeferredUpdate();
  }
  if (UpdatePending && FPendingCount == 0) {
    UpdatePending = 0;
    SetUpdatePending(false);
  }
}

int32_t TFrameDevice::RefreshMouse(TDrawFrame* root) {
  return MouseEvent(root, LastPos, Mouse->ScreenPos, Mouse->Shift, mkMove, 0, PointerInside != 0);
}

void TFrameDevice::HideArea(TDrawFrame* frame) {
  if (!(frame->Flags & dfShowing)) return;
  TRect r = OffsetRectBy(frame->ClientRect, frame->AbsPos.X, frame->AbsPos.Y);
  if ((frame->Flags & dfClipped) && frame->ClipRef) r = IntersectRects(r, frame->ClipRef->Rect);
  if (!IsRectEmpty(r)) Invalidate(r);
}

void TFrameDevice::ShowArea(TDrawFrame* frame, bool wasShowing) {
  frame->Flags &= uint8_t(~(dfShowing | dfClipped));
  if (frame->ClipRef && !IsRectEmpty(frame->ClientRect)) {
    const TRect r = OffsetRectBy(frame->ClientRect, frame->AbsPos.X, frame->AbsPos.Y);
    const TRect v = IntersectRects(r, frame->ClipRef->Rect);
    if (!IsRectEmpty(v)) {
      Invalidate(v);
      frame->Flags |= dfShowing;
      if (!SameRect(v, r)) frame->Flags |= dfClipped;
    } else {
      frame->Flags |= dfClipped;
    }
  }
  const bool showing = (frame->Flags & dfShowing) != 0;
  if (showing != wasShowing && frame->Handler) frame->Handler->ShowingChanged(showing);
}

void TFrameDevice::HideSubtree(TDrawFrame* frame) {
  const bool wasShowing = (frame->Flags & dfShowing) != 0;
  HideArea(frame);
  frame->SetClipRef(nullptr);
  frame->Flags &= uint8_t(~(dfPathDirty | dfShowing | dfClipped));
  if (wasShowing && frame->Handler) frame->Handler->ShowingChanged(false);
  for (int32_t i = 0; i < frame->ChildCount(); ++i) HideSubtree(frame->Child(i));
}

void TFrameDevice::UpdateFrames(TDrawFrame* root, const TPoint& origin, const TRect& clipRect) {
  if (!root) return;
  PassOrigin = origin;
  if (IsRectEmpty(clipRect)) {
    HideSubtree(root);
    root->Flags &= uint8_t(~(dfPathDirty | dfInvalid | dfMoved));
    return;
  }
  TClipRef* clip = (root->ClipRef && SameRect(root->ClipRef->Rect, clipRect)) ? root->ClipRef : new TClipRef(clipRect);
  clip->AddRef();  // held for the pass
  TPassContext ctx{clip, TPoint{0, 0}, true};
  UpdateFrame(root, ctx);
  clip->Release();
}

void TFrameDevice::UpdateFrame(TDrawFrame* frame, TPassContext& ctx) {
  if (!frame->IsVisible()) {
    HideSubtree(frame);
    return;
  }
  const TPassContext saved = ctx;
  ctx.Origin.X += frame->Position.X;
  ctx.Origin.Y += frame->Position.Y;
  TClipRef* clip = ctx.Clip;
  TClipRef* fresh = nullptr;
  if (frame->IsClipping()) {
    const TRect r = IntersectRects(OffsetRectBy(frame->ClipRect, ctx.Origin.X, ctx.Origin.Y), ctx.Clip->Rect);
    if (IsRectEmpty(r)) {
      HideSubtree(frame);
      ctx = saved;
      return;
    }
    if (!SameRect(r, ctx.Clip->Rect)) {
      if (frame->ClipRef && frame->ClipRef != ctx.Clip && SameRect(frame->ClipRef->Rect, r))
        clip = frame->ClipRef;
      else
        clip = fresh = new TClipRef(r);
    }
  }
  if (fresh) fresh->AddRef();  // held while the subtree is updated
  const bool moved = (ctx.Moved || (frame->Flags & dfMoved)) &&
                     (frame->AbsPos.X != ctx.Origin.X || frame->AbsPos.Y != ctx.Origin.Y);
  const bool changed = moved || !frame->ClipRef || !SameRect(frame->ClipRef->Rect, clip->Rect);
  if ((frame->Flags & dfInvalid) || changed) {
    const bool wasShowing = (frame->Flags & dfShowing) != 0;
    HideArea(frame);
    frame->AbsPos = ctx.Origin;
    frame->SetClipRef(clip);
    if (frame->Flags & dfInvalid) {
      TRect client = EmptyRect;
      if (frame->Handler) frame->Handler->GetClientRect(client);
      frame->ClientRect = client;
    }
    ShowArea(frame, wasShowing);
  }
  ctx.Clip = clip;
  ctx.Moved = moved;
  const bool pathDirty = (frame->Flags & dfPathDirty) != 0;
  // Children may be removed by handlers called in the pass; walk by index.
  for (int32_t i = 0; i < frame->ChildCount(); ++i) {
    TDrawFrame* child = frame->Child(i);
    if (changed || (pathDirty && (child->Flags & dfPathDirty))) UpdateFrame(child, ctx);
  }
  frame->Flags &= uint8_t(~(dfPathDirty | dfInvalid | dfMoved));
  ctx = saved;
  if (fresh) fresh->Release();
}

void TFrameDevice::PaintFrames(TDrawFrame* root, render3d::TDrawSurfaceEx* surface, const TPoint& origin,
                               const TRect& clipRect) {
  if (!root || !surface) return;
  const TPoint savedOrigin = surface->Origin;
  const TRect savedClip = surface->ClipRect;
  surface->Origin = origin;
  surface->ClipRect = clipRect;
  PaintFrame(root, surface);
  surface->Origin = savedOrigin;
  surface->ClipRect = savedClip;
}

void TFrameDevice::PaintFrame(TDrawFrame* frame, render3d::TDrawSurfaceEx* surface) {
  if (!frame->IsVisible() || (!frame->Handler && frame->ChildFrames.empty())) return;
  const TPoint savedOrigin = surface->Origin;
  const TRect savedClip = surface->ClipRect;
  surface->Origin.X += frame->Position.X;
  surface->Origin.Y += frame->Position.Y;
  bool skip = false;
  if (frame->IsClipping()) {
    const TRect c = IntersectRects(OffsetRectBy(frame->ClipRect, surface->Origin.X, surface->Origin.Y), savedClip);
    if (IsRectEmpty(c))
      skip = true;
    else
      surface->ClipRect = c;
  }
  if (!skip) {
    if (frame->Handler) {
      TRect client = frame->ClientRect;
      if (frame->Flags & dfInvalid) {
        client = EmptyRect;
        frame->Handler->GetClientRect(client);
      }
      if (!IsRectEmpty(client) && surface->IsVisible(client)) frame->Handler->Paint(surface);
    }
    for (int32_t i = 0; i < frame->ChildCount(); ++i) PaintFrame(frame->Child(i), surface);
  }
  surface->Origin = savedOrigin;
  surface->ClipRect = savedClip;
}

TDrawFrame* TFrameDevice::HitFrame(TDrawFrame* frame, int32_t x, int32_t y) {
  if (!frame->IsVisible()) return nullptr;
  x -= frame->Position.X;
  y -= frame->Position.Y;
  if (frame->IsClipping() && !RectContains(frame->ClipRect, x, y)) return nullptr;
  for (int32_t i = frame->ChildCount() - 1; i >= 0; --i)
    if (TDrawFrame* hit = HitFrame(frame->Child(i), x, y)) return hit;
  if (frame->Handler) {
    Mouse->X = x;
    Mouse->Y = y;
    const int32_t code = frame->Handler->HitTest(*Mouse);
    if (code != 0) {
      Mouse->HitCode = code;
      return frame;
    }
  }
  return nullptr;
}

namespace {
bool ButtonHeld(int32_t button, int32_t shift) {
  switch (button) {
    case mbLeft: return (shift & ssLeft) != 0;
    case mbRight: return (shift & ssRight) != 0;
    case mbMiddle: return (shift & ssMiddle) != 0;
    default: return true;
  }
}
}  // namespace

int32_t TFrameDevice::MouseEvent(TDrawFrame* root, const TPoint& pos, const TPoint& screenPos, int32_t shift,
                                 int32_t kind, int32_t buttonOrDelta, bool inside) {
  TRef<TMouseEx> hold = Mouse;  // a handler may dispose of the device
  TMouseEx& m = *hold;
  LastPos = pos;
  m.X = pos.X;
  m.Y = pos.Y;
  m.ScreenPos = screenPos;
  m.Kind = kind;
  m.Shift = shift;
  if (kind == mkWheel) {
    m.Wheel = buttonOrDelta;
    m.Button = 0;
  } else {
    m.Button = buttonOrDelta;
    m.Wheel = 0;
  }
  m.Cursor = DefaultCursor;
  const int32_t realKind = m.Kind, realButton = m.Button;
  bool upDelivered = false;
  if (m.Captured && Hovered) {
    for (TDrawFrame* f = Hovered; f && f != root; f = f->ParentFrame) {
      m.X -= f->Position.X;
      m.Y -= f->Position.Y;
    }
    TFrameHandler* h = Hovered->Handler;
    m.HitCode = h ? h->HitTest(m) : 0;
    const bool released = !ButtonHeld(m.CapturedButton, shift);
    if (released) {
      // The button-up (the real one, or one made up when the release
      // happened where we could not see it) reaches the captured frame while
      // the capture is still set, so the handler can tell a click inside it;
      // the rest of the event then runs as a move.
      m.Kind = mkUp;
      m.Button = m.CapturedButton;
    }
    m.Cursor = DefaultCursor;
    if (h) h->MouseEvent(m);
    if (released) {
      m.Captured = 0;
      m.CapturedHit = 0;
      upDelivered = true;
      m.Kind = realKind == mkUp && realButton == m.CapturedButton ? mkMove : realKind;
      m.Button = m.Kind == mkMove ? mbNone : realButton;
      m.X = pos.X;
      m.Y = pos.Y;
    } else {
      m.Kind = realKind;
      m.Button = realButton;
    }
  } else if (m.Captured) {
    m.Captured = 0;  // the captured frame went away
    m.CapturedHit = 0;
  }
  if (!m.Captured) {
    m.CapturedButton = 0;
    PointerInside = inside ? 1 : 0;
    TDrawFrame* target = nullptr;
    m.HitCode = 0;
    if (inside && root) target = HitFrame(root, pos.X, pos.Y);
    if (!target) m.HitCode = 0;
    const bool changed = target != Hovered;
    if (changed) {
      TDrawFrame* old = Hovered;
      if (old && old->Handler) old->Handler->MouseLeave();
      Hovered = target;
    }
    if (target && target->Handler && (changed || !upDelivered)) {
      m.Cursor = 0;
      target->Handler->MouseEvent(m);
    }
    if (target && !upDelivered && m.Kind == mkDown &&
        (m.Button == mbLeft || m.Button == mbRight || m.Button == mbMiddle)) {
      m.Captured = 1;
      m.CapturedButton = m.Button;
      m.CapturedHit = m.HitCode;
    }
  }
  m.Kind = realKind;
  m.Button = realButton;
  m.X = pos.X;
  m.Y = pos.Y;
  return m.Cursor;
}

int32_t TFrameDevice::MouseMove(TDrawFrame* root, const TPoint& pos, const TPoint& screenPos) {
  return MouseEvent(root, pos, screenPos, Mouse->Shift, mkMove, 0, true);
}

int32_t TFrameDevice::MouseWheel(TDrawFrame* root, int32_t shift, int32_t delta) {
  const int32_t s = (Mouse->Shift & ssButtons) | (shift & ~ssButtons);
  return MouseEvent(root, LastPos, Mouse->ScreenPos, s, mkWheel, delta, PointerInside != 0);
}

bool TFrameDevice::SetShiftBit(int32_t bit, bool down) {
  const int32_t mask = 1 << bit;
  const int32_t next = down ? (Mouse->Shift | mask) : (Mouse->Shift & ~mask);
  if (next == Mouse->Shift) return false;
  Mouse->Shift = next;
  return true;
}

}  // namespace controls
