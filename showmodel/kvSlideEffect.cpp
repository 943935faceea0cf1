#include "showmodel/kvSlideEffect.h"

#include <atomic>

#include "render3d/Dev3DEffects2.h"
#include "transitions/kvDrawFilter.h"

namespace showmodel {

namespace {
std::atomic<TEffectSlideFilterFactory> g_effectSlideFactory{nullptr};
}  // namespace

void SetEffectSlideFilterFactory(TEffectSlideFilterFactory factory) { g_effectSlideFactory.store(factory); }

transitions::TDrawFilter* CreateSlideEffectFilter(render3d::TDrawItem* incoming, foundation::TRefObject* section) {
  if (section)
    if (TEffectSlideFilterFactory make = g_effectSlideFactory.load())
      if (transitions::TDrawFilter* f = make(incoming, section)) return f;
  return new transitions::TAlphaFilter();
}

void InitSlideEffects() { render3d::SetSlideEffectHook(&CreateSlideEffectFilter); }

}  // namespace showmodel
