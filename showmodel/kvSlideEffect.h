// The slide-effect hook of the draw manager's transition factory: the
// filter of a transition that is itself a small slide (an effect drawn from
// a section of an effect file). Without a section the transition is a
// cross-fade; with one, the effect-layer filter is made by the factory
// registered for it.
#pragma once

#include "foundation/SysObj.h"
#include "render3d/Dev3DDrawer.h"
#include "transitions/kvDrawFilter.h"

namespace showmodel {

// Makes the effect-layer filter of an incoming slide from the effect's
// section; null when it cannot.
using TEffectSlideFilterFactory = transitions::TDrawFilter* (*)(render3d::TDrawItem* incoming,
                                                                foundation::TRefObject* section);
void SetEffectSlideFilterFactory(TEffectSlideFilterFactory factory);

// The hook itself: a cross-fade without a section, or when no effect-layer
// factory is registered or it answers null.
transitions::TDrawFilter* CreateSlideEffectFilter(render3d::TDrawItem* incoming, foundation::TRefObject* section);

// Start-up: installs CreateSlideEffectFilter as the factory's hook.
void InitSlideEffects();

}  // namespace showmodel
