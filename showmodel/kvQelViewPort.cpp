#include "showmodel/kvQelViewPort.h"

#include <mutex>

#include "foundation/kvByteStringLists.h"
#include "showmodel/kvQelSlideHost.h"

namespace showmodel {

TDrawThroughMaskHook DrawThroughMaskHook = nullptr;

namespace {

TCreateObjectHook gPrevious = nullptr;
bool gInstalled = false;

TQelObject* CreateMaskObject(uint8_t TypeCode, TQelObject* Parent, TQelObjectProps* Props) {
  switch (TypeCode) {
    case otViewPort:
      return TQelObject::Create<TQelViewPort>(Parent, Props);
    case otMaskStencil:
      return TQelObject::Create<TQelMaskStencil>(Parent, Props);
    case otMaskContent:
      return TQelObject::Create<TQelMaskContent>(Parent, Props);
  }
  return gPrevious ? gPrevious(TypeCode, Parent, Props) : nullptr;
}

foundation::TIniItem* KeyOf(TQelObjectProps* P, std::u16string_view name) {
  return P ? FindNodeKey(P, name) : nullptr;
}

void TakeParentSize(TQelObject* o) {
  if (o->Parent) o->Size = o->Parent->Size;
}

}  // namespace

void TQelViewPort::LoadKeys(TQelObjectProps* P, bool Reload) {
  foundation::TCommaList list;
  list.Split(foundation::TIniItem::GetRawValue(KeyOf(P, u"Size")), ',');
  const int32_t w = list.GetCount() > 0 ? foundation::TByteString::FromUnicode(list.GetString(0)).ToIntDef(0) : 0;
  const int32_t h = list.GetCount() > 1 ? foundation::TByteString::FromUnicode(list.GetString(1)).ToIntDef(0) : 0;
  TQelSlideHost* host = GetSlideHost();
  FollowsSlide = host && w == host->DesignSize[0] && h == host->DesignSize[1];
  Size = {float(w), float(h)};
  if (FollowsSlide && GetSlide()) Size = GetSlide()->Size;
  TQelObject::LoadKeys(P, Reload);
}

void TQelViewPort::UpdateTransform(bool Recurse) {
  if (FollowsSlide && GetSlide()) Size = GetSlide()->Size;
  TQelObject::UpdateTransform(Recurse);
}

void TQelViewPort::FindParts(TQelMaskStencil*& Stencil, TQelMaskContent*& Content) {
  Stencil = nullptr;
  Content = nullptr;
  for (TQelObject* c : Children) {
    if (auto* s = dynamic_cast<TQelMaskStencil*>(c)) Stencil = s;
    if (auto* m = dynamic_cast<TQelMaskContent*>(c)) Content = m;
  }
}

void TQelViewPort::Draw(TQelDrawer* Drawer) {
  TQelMaskStencil* stencil = nullptr;
  TQelMaskContent* content = nullptr;
  FindParts(stencil, content);
  if (!stencil || !content) return;
  // The host keeps no mask background picture yet: a content without
  // children of its own is drawn over nothing.
  BackgroundImage = nullptr;
  if (VisibleNow && FrameValid && IsShownSide() && !HiddenByAncestor) {
    DrawContent(Drawer);
    CommitFrameState(false);
  } else {
    CommitFrameState(true);
  }
}

void TQelViewPort::DrawContent(TQelDrawer* Drawer) {
  TQelMaskStencil* stencil = nullptr;
  TQelMaskContent* content = nullptr;
  FindParts(stencil, content);
  if (stencil && content && DrawThroughMaskHook) DrawThroughMaskHook(Drawer, stencil, content, BackgroundImage, GetOpacity());
}

void TQelMaskStencil::LoadKeys(TQelObjectProps* P, bool Reload) {
  TQelObject::LoadKeys(P, Reload);
  TakeParentSize(this);
  TranspForClick = foundation::TIniItem::GetBool(KeyOf(P, u"TranspForClick"), true);
}

void TQelMaskStencil::UpdateTransform(bool Recurse) {
  TakeParentSize(this);
  TQelObject::UpdateTransform(Recurse);
}

TQelObject* TQelMaskStencil::HitTest(float, float, TFloatPoint&, THitFilter, void*) {
  // The mask's shapes are not what the viewer sees: clicks pass to the
  // content and to what lies beneath.
  return nullptr;
}

void TQelMaskContent::LoadKeys(TQelObjectProps* P, bool Reload) {
  TQelObject::LoadKeys(P, Reload);
  TakeParentSize(this);
  TranspForClick = foundation::TIniItem::GetBool(KeyOf(P, u"TranspForClick"), true);
}

void TQelMaskContent::UpdateTransform(bool Recurse) {
  TakeParentSize(this);
  TQelObject::UpdateTransform(Recurse);
}

void InitViewPorts() {
  // Once only: hooks installed after this one (video objects) chain to it,
  // and taking the head again would point this hook back at them, a loop
  // that never ends for an object neither makes.
  if (gInstalled) return;
  gPrevious = CreateObjectHook ? CreateObjectHook : CreateObjectByType;
  CreateObjectHook = CreateMaskObject;
  gInstalled = true;
}

void DoneViewPorts() {
  if (!gInstalled) return;
  // A hook chained on top keeps this one as its fallback: it stays.
  if (CreateObjectHook == CreateMaskObject) CreateObjectHook = gPrevious;
  gPrevious = nullptr;
  gInstalled = false;
}

}  // namespace showmodel
