// Viewports: one subtree of a slide shown through the shape of another. The
// viewport's mask stencil child is drawn as the mask, its mask content child
// as the picture, combined by the draw manager.
#pragma once

#include "showmodel/kvQelObject.h"

namespace showmodel {

class TQelMaskStencil;
class TQelMaskContent;

class TQelViewPort : public TQelObject {
 public:
  QEL_CLASSNAME(TQelViewPort)
  void InitDefaults() override { Size = {1, 1}; }
  void LoadKeys(TQelObjectProps* Props, bool Reload) override;
  void UpdateTransform(bool Recurse) override;
  void Draw(TQelDrawer* Drawer) override;
  void DrawContent(TQelDrawer* Drawer) override;
  // The last stencil and the last content among the children.
  void FindParts(TQelMaskStencil*& Stencil, TQelMaskContent*& Content);

  imaging::TImage* BackgroundImage = nullptr;  // not referenced; the host's
  bool FollowsSlide = false;  // "Size" was the design size: the slide's size
};

// The mask: never hit by clicks, it and everything below it.
class TQelMaskStencil : public TQelObject {
 public:
  QEL_CLASSNAME(TQelMaskStencil)
  void LoadKeys(TQelObjectProps* Props, bool Reload) override;
  void UpdateTransform(bool Recurse) override;
  TQelObject* HitTest(float X, float Y, TFloatPoint& Local, THitFilter Filter, void* FilterData) override;
};

class TQelMaskContent : public TQelObject {
 public:
  QEL_CLASSNAME(TQelMaskContent)
  void LoadKeys(TQelObjectProps* Props, bool Reload) override;
  void UpdateTransform(bool Recurse) override;
};

// Draws the content through the stencil onto the current target at the
// opacity; filled by the draw manager's start-up (nothing is drawn without).
using TDrawThroughMaskHook = void (*)(TQelDrawer* Drawer, TQelObject* Stencil, TQelObject* Content,
                                      imaging::TImage* Background, float Opacity);
extern TDrawThroughMaskHook DrawThroughMaskHook;

// Chains the three kinds into the object factory (once).
void InitViewPorts();
// Puts the hook it found back while it is still the head of the chain.
void DoneViewPorts();

}  // namespace showmodel
