#include "showmodel/kvQelEffect.h"

namespace showmodel {

TQelEffect::TQelEffect(int32_t kind) : Kind(kind) {}

void TQelEffect::Dispose() {
  foundation::FreeAndNil(Description);
  TRefObject::Dispose();
}

void TQelEffect::SetSmoothLine(double value) { SmoothLine = value >= 0.1 ? value : 0.001; }

TQelEffect* TQelEffect::Clone() const {
  auto* copy = new TQelEffect(Kind);
  copy->SmoothLine = SmoothLine;
  copy->VariantCount = VariantCount;
  copy->IntParams = IntParams;
  copy->FloatParams = FloatParams;
  copy->Options = Options;
  copy->SetDescription(Description);
  return copy;
}

void TQelEffect::SetDescription(foundation::TRefObject* node) {
  if (node) node->_AddRef();
  foundation::FreeObj(Description);
  Description = node;
}

void TQelFilter::Dispose() {
  foundation::FreeAndNil(Effect);
  foundation::FreeAndNil(DrawFilter);
  TRefObject::Dispose();
}

void TQelFilter::SetEffect(TQelEffect* effect) {
  foundation::FreeObj(Effect);
  Effect = effect;
}

void TQelFilter::SetDrawFilter(transitions::TDrawFilter* filter) {
  foundation::FreeObj(DrawFilter);
  DrawFilter = filter;
}

void FillEffectRecord(const TQelEffect& effect, render3d::TEffectRecord& record) {
  record.Kind = effect.Kind;
  record.IntParams = effect.IntParams;
  record.FloatParams = effect.FloatParams;
  record.Options = effect.Options;
  record.CustomSlide = effect.Kind == 12 ? effect.Description : nullptr;
}

void FillTransitionState(const TQelFilter& filter, double position, render3d::TEffectRecord& record,
                         render3d::TTransitionState& state) {
  if (filter.Effect) {
    FillEffectRecord(*filter.Effect, record);
    state.Effect = &record;
  } else {
    state.Effect = nullptr;
  }
  state.Duration = filter.Duration;
  state.EdgeFactor = filter.SmoothLine;
  state.Position = position;
}

}  // namespace showmodel
