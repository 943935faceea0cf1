#include "showmodel/kvQelSlideHost.h"

#include <cstring>

#include "foundation/kpExceptions.h"
#include "imaging/ShadowGenerator2.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapAlphaUtils.h"
#include "imaging/SysBitmapResize.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/kvLoadCallBack.h"

namespace showmodel {

namespace {

// The generators' progress: the program-wide load callback; "stop" when it
// answers false.
void Progress(void*, bool& Abort) {
  if (!imaging::LoadCallBack(-1)) Abort = true;
}

bool StartsWith(const std::u16string& s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && std::u16string_view(s).substr(0, prefix.size()) == prefix;
}

imaging::TImage* WrapBitmap(imaging::TSysBitmap* Bitmap, const std::u16string& Name) {
  QEL_ASSERT(imaging::BitmapToImageHook, "slide host: no bitmap image maker");
  return imaging::BitmapToImageHook(Bitmap, true, Name);
}

}  // namespace

TQelSlideHost::TQelSlideHost(container::TFileAccessor* aAccessor, bool aOwnsAccessor, const std::u16string& aButtonPath,
                             TRenderSizeQuery aRenderSizeQuery, TSectionQuery aSectionQuery,
                             TEffectResourceQuery aEffectResourceQuery)
    : RenderSizeQuery(std::move(aRenderSizeQuery)),
      EffectResourceQuery(std::move(aEffectResourceQuery)),
      Accessor(aAccessor),
      OwnsAccessor(aOwnsAccessor),
      ButtonPath(aButtonPath),
      SectionQuery(std::move(aSectionQuery)) {
  QEL_ASSERT(RenderSizeQuery, "TQelSlideHost.Create: no render-size query");
  QEL_ASSERT(SectionQuery, "TQelSlideHost.Create: no section query");
  QEL_ASSERT(Accessor, "TQelSlideHost.Create: no accessor");
  Accessor->_AddRef();
  ButtonProducers = new imaging::TButtonProducerHost(
      [this](const std::u16string& Name) { return container::TFileAccessor::LoadImage(Accessor, ButtonPath + Name); },
      Progress);
  MaskGenerator = new imaging::TMaskGenerator(Progress);
  foundation::TRef<imaging::TColorProfile> display = imaging::GetDisplayColorProfile();
  DisplayProfile = display.Detach();
  ImageCallback =
      Accessor->Source->AddImageCallback([this](const std::u16string& Name) { return GenerateResourceTexture(Name); });
}

void TQelSlideHost::Dispose() {
  // The generator leaves the source before the accessor may go.
  foundation::FreeAndNil(ImageCallback);
  foundation::FreeAndNil(ButtonProducers);
  foundation::FreeAndNil(MaskGenerator);
  foundation::FreeAndNil(DisplayProfile);
  foundation::FreeAndNil(Accessor);
  foundation::TRefObject::Dispose();
}

imaging::TButtonProducer* TQelSlideHost::GetButtonProducer(const std::u16string& SkinName) {
  return ButtonProducers->GetProducer(SkinName);
}

void TQelSlideHost::QueryRenderSize(int32_t& Width, int32_t& Height) { RenderSizeQuery(Width, Height); }

imaging::TImage* TQelSlideHost::GenerateResourceTexture(const std::u16string& Name) {
  container::TFileAccessor* accessor = Accessor;
  const imaging::TShadowImageLoader loader = [accessor](const std::u16string& N) {
    return container::TFileAccessor::LoadImage(accessor, N);
  };
  if (StartsWith(Name, u"Button: ")) {
    imaging::TButtonKey key;
    imaging::ParseButtonKey(Name, key);
    imaging::TButtonProducer* producer = GetButtonProducer(key.SkinName);
    if (!producer->Loaded) return nullptr;
    return producer->GenerateButton(key.State, key.Width, key.Hue, key.Saturation, key.Lightness);
  }
  if (StartsWith(Name, u"Shadow: ")) {
    imaging::TShadowParams params;
    imaging::ParseShadowKey(Name, params);
    auto generator = foundation::MakeRef<imaging::TShadowGenerator>(Progress);
    return generator->GenerateShadowImage(params, loader);
  }
  if (StartsWith(Name, u"Mask: ")) {
    foundation::TRef<imaging::TImage> source =
        foundation::TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(Accessor, Name.substr(6)));
    imaging::TBitmap* level = source ? source->Store->GetBitmap(0, imaging::pfA8R8G8B8, nullptr) : nullptr;
    auto* sys = dynamic_cast<imaging::TSysBitmap*>(level);
    if (!sys || sys->Width <= 0 || sys->Height <= 0) return nullptr;
    imaging::TSysBitmap* copy = imaging::CreateSysBitmap(sys->Width, sys->Height, imaging::pfA8R8G8B8);
    for (int32_t y = 0; y < sys->Height; ++y) std::memcpy(copy->Row(y), sys->Row(y), size_t(sys->Width) * 4);
    const bool sourceHasAlpha = source->Store->Params.PixelFormat && source->Store->Params.PixelFormat->HasAlpha;
    if (!sourceHasAlpha || imaging::IsBitmapOpaque(copy)) imaging::BrightnessToAlpha32(copy);
    return WrapBitmap(copy, Name);
  }
  if (StartsWith(Name, u"PresetedMask:")) {
    imaging::TMaskParams params;
    imaging::ParseMaskKey(Name, params);
    return imaging::GenerateMaskImage(MaskGenerator, params);
  }
  if (StartsWith(Name, u"SlideEffectBuffer:")) {
    int32_t w = 0, h = 0;
    QueryRenderSize(w, h);
    if (w <= 0 || h <= 0) return nullptr;
    return WrapBitmap(imaging::CreateSysBitmap(w, h, imaging::pfA8R8G8B8), u"zaglushka for slide-effect buffer");
  }
  if (StartsWith(Name, u"EffectResource:")) {
    constexpr size_t at = 15;
    if (Name.size() <= at || Name[at] < u'0' || Name[at] > u'9' || !EffectResourceQuery) return nullptr;
    foundation::TRef<imaging::TImage> resource =
        foundation::TRef<imaging::TImage>::Adopt(EffectResourceQuery(Name[at] - u'0'));
    auto* sys = resource ? dynamic_cast<imaging::TSysBitmap*>(resource->Store->GetBitmap(0, imaging::pfA8R8G8B8, nullptr))
                         : nullptr;
    int32_t w = 0, h = 0;
    QueryRenderSize(w, h);
    if (!sys || w <= 0 || h <= 0) return nullptr;
    imaging::TSysBitmap* out = imaging::CreateSysBitmap(w, h, imaging::pfA8R8G8B8);
    imaging::ResizeBitmap32(out, sys, {0, 0, w, h}, {0, 0, sys->Width, sys->Height}, 0);
    return WrapBitmap(out, u"effect resource");
  }
  return nullptr;
}

}  // namespace showmodel
