#include "showmodel/kvQelSlideHost.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/kpExceptions.h"
#include "foundation/kvIniUtils.h"
#include "foundation/kvStrings.h"
#include "imaging/ShadowGenerator2.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapAlphaUtils.h"
#include "imaging/SysBitmapResize.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/kvLoadCallBack.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextImages.h"
#include "text/kvTextProducer2.h"

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

// The show's identity for the glyph cache: a 32-bit little-endian character
// count and that many UTF-16 characters. False when the entry is missing or
// shorter than its count says.
bool ReadExeGuid(container::TFileAccessor* Accessor, std::u16string& Id) {
  foundation::TRef<foundation::TStream> s =
      foundation::TRef<foundation::TStream>::Adopt(Accessor->OpenStream(u"ExeGUID"));
  if (!s) return false;
  uint8_t head[4];
  if (s->ReadBuf(head, 4) != 4) return false;
  const uint32_t count = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 | uint32_t(head[3]) << 24;
  // An identity is a short text: a count beyond what the entry holds (or
  // beyond 64K characters when its size is not known) is damage.
  const int64_t size = s->GetSize();
  if (size >= 0 ? int64_t(count) * 2 > size - 4 : count > 65536) return false;
  std::vector<uint8_t> bytes(size_t(count) * 2);
  if (count > 0 && s->ReadBuf(bytes.data(), int32_t(bytes.size())) != int32_t(bytes.size())) return false;
  Id.resize(count);
  for (uint32_t i = 0; i < count; ++i) Id[i] = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return true;
}

// "TextWithSize:" w ":" h ":" text: the text in the default font, as large
// as 90 % of the width or 20 % of the height allows, light grey on a dark
// grey panel inside a light grey rim of 2 % of the height.
imaging::TImage* SizedTextPicture(const std::u16string& Name) {
  int32_t w = 0, h = 0;
  std::u16string textLine;
  foundation::ParseTextWithSizeKey(Name, w, h, textLine);
  QEL_ASSERT(w >= 1 && h >= 1, "TextWithSize: the size must be positive");
  // Without a font layer the accessor's own rules stand in.
  if (!foundation::TRef<text::TVectorizer>::Adopt(text::CreateVectorizer())) return nullptr;
  auto lines = foundation::MakeRef<foundation::TStringList>();
  lines->Add(textLine);
  auto producer = foundation::MakeRef<text::TTextProducer>();
  producer->OnProgress = [](text::TTextProducer*, bool& Cancel) { Progress(nullptr, Cancel); };
  producer->SetVectorText(text::CreateVectorText(text::DefaultFontParams(), lines.Get()), true);
  const foundation::TFloatRect bounds = text::GetVectorTextBounds(producer->VectorText, 1, 0);
  const double tw = bounds.Right - bounds.Left, th = bounds.Bottom - bounds.Top;
  const double scale = (w * 0.9) / (h * 0.2) <= tw / th ? w * 0.9 / tw : h * 0.2 / th;

  imaging::TSysBitmap* out = imaging::CreateSysBitmap(w, h, imaging::pfA8R8G8B8);
  const int32_t inset = static_cast<int32_t>(std::nearbyint(h * 0.02));
  for (int32_t y = 0; y < h; ++y) {
    imaging::TFColorA* row = out->Rows32(y);
    const bool rowInside = y >= inset && y < h - inset;
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t grey = rowInside && x >= inset && x < w - inset ? 100 : 170;
      row[x] = imaging::TFColorA{grey, grey, grey, 255};
    }
  }
  auto* rendered = static_cast<imaging::TDirectBitmap*>(producer->RenderBitmap(
      text::MakeARGB(170, 170, 170, 255), text::MakeARGB(100, 100, 100, 255), scale, false, false, {0, 0}));
  // Centred; a text larger than the picture is cut on both sides.
  const int32_t ox = (w - rendered->Width) / 2, oy = (h - rendered->Height) / 2;
  for (int32_t y = std::max(0, oy); y < std::min(h, oy + rendered->Height); ++y) {
    const int32_t x0 = std::max(0, ox), x1 = std::min(w, ox + rendered->Width);
    if (x0 < x1)
      std::memcpy(out->Rows32(y) + x0, rendered->Row(y - oy) + size_t(x0 - ox) * 4, size_t(x1 - x0) * 4);
  }
  rendered->Free();
  return WrapBitmap(out, u"Sized Text Zaglushka");
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
  std::u16string id;
  if (ReadExeGuid(Accessor, id)) text::GlobalFontCache()->SetCacheId(id);
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
  if (StartsWith(Name, text::TextImageKeyPrefix)) {
    text::TVectorText* vt = nullptr;
    text::TTextParams params;
    const text::TEntryOpener opener = [accessor](const std::u16string& N) { return accessor->OpenStream(N); };
    const foundation::TPoint size = text::LoadKeyedVectorText(Name, opener, vt, params);
    if (!vt) return nullptr;
    // Never smaller than 1 x 1: an empty text still has a picture.
    auto* store = new text::TTextBitmapStore(text::TextBitmapStoreName, {std::max(1, size.X), std::max(1, size.Y)},
                                             imaging::pfA8R8G8B8, {}, vt, params);
    auto* image = new imaging::TImage(store);
    store->_Release();
    return image;
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
  if (StartsWith(Name, u"TextWithSize:")) return SizedTextPicture(Name);
  return nullptr;
}

}  // namespace showmodel
