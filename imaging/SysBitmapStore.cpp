#include "imaging/SysBitmapStore.h"

#include "imaging/ImagingAssert.h"
#include "imaging/SysBitmapUtils.h"

namespace imaging {

namespace {

TImageParams ParamsOf(const std::u16string& Name, const TSize& Size, TPixelFormat* Format) {
  TImageParams p;
  p.Name = Name;
  p.Width = Size.cx;
  p.Height = Size.cy;
  p.PixelFormat = Format;
  return p;
}

}  // namespace

TSysBitmapStore::TSysBitmapStore(const std::u16string& Name, const TSize& Size, TPixelFormat* Format,
                                 const TLevelProvider& Provider) {
  Params = ParamsOf(Name, Size, Format);
  if (Provider) LevelRoutine = Provider(Params);
}

void TSysBitmapStore::GetMipLevel(TMipLevelResult& Result, int32_t Level, TPixelFormat* PixelFormat,
                                  TBitmapClass RequiredClass) {
  IMG_ASSERT(Level >= 0, "TSysBitmapStore.GetMipLevel - Index<0");
  Result = TMipLevelResult{};
  Result.Level = Level;
  LoadMipLevel(Result, Level);
  if (Result.Bitmap) {
    Result.Bitmap->Progress = Progress;
    if (LevelRoutine) {
      TBitmapReference ref{Result.Bitmap, Result.Owned};
      LevelRoutine(this, ref);
      Result.Bitmap = ref.Bitmap;
      Result.Owned = ref.Owns;
      Result.Bitmap->Progress = Progress;
    }
    return;
  }

  // Halving: images with alpha are reduced premultiplied.
  const bool alpha = Params.PixelFormat && Params.PixelFormat->HasAlpha;
  TPixelFormat* S = alpha ? pfA8r8g8b8 : pfR8G8B8;
  TPixelFormat* O = !alpha ? pfR8G8B8 : (PixelFormat == pfA8r8g8b8 ? pfA8r8g8b8 : pfA8R8G8B8);

  foundation::TRef<TSysBitmap> temp;  // a converted level 0, freed on every way out
  TSysBitmap* source = nullptr;
  // Level 0 in another format is converted into the premultiplied working
  // format. A system bitmap is converted row by row while it is reduced,
  // instead of into a copy of the whole image (that copy reported no progress
  // either). Channel conversions carry values over as they are, so data that
  // is not premultiplied first becomes "A8R8G8B8" and is then premultiplied;
  // converted straight to "A8r8g8b8" it would be taken for premultiplied data
  // and brightened when the output is un-premultiplied.
  TPixelConverter* convert = nullptr;
  TPixelConverter* premultiply = nullptr;
  if (Level == 1) {
    TBitmap* native = GetBitmap(0, nullptr, nullptr);
    auto* sys = dynamic_cast<TSysBitmap*>(native);
    TPixelFormat* nf = native->PixelFormat;
    const bool plain = S == pfA8r8g8b8 && nf != pfA8R8G8B8 && !nf->Premultiplied;
    if (sys && nf == S) {
      source = sys;
    } else if (S == pfA8r8g8b8) {
      convert = PixelConverter(plain ? pfA8R8G8B8 : S, nf);
      premultiply = plain ? PixelConverter(S, pfA8R8G8B8) : nullptr;
      IMG_ASSERT(convert && (!plain || premultiply), "");
      if (sys) {
        source = sys;
      } else {
        TSysBitmap* t = CreateSysBitmap(native->Width, native->Height, plain ? pfA8R8G8B8 : S);
        IMG_ASSERT(t, "");
        temp = foundation::TRef<TSysBitmap>::Adopt(t);
        t->CopyFrom(native);
        if (plain)  // now premultiplied, as the reduction expects
          for (int32_t y = 0; y < t->Height; ++y) premultiply->Convert(t->Row(y), t->Row(y), t->Width);
        source = t;
        convert = premultiply = nullptr;
      }
    }
  }
  if (!source) source = dynamic_cast<TSysBitmap*>(GetBitmap(Level - 1, S, TSysBitmap::StaticClass()));
  IMG_ASSERT(source, "");

  const int32_t w = (source->Width + 1) / 2, h = (source->Height + 1) / 2;
  TSysBitmap* out = nullptr;
  if ((!PixelFormat || PixelFormat == O) && RequiredClass &&
      ClassInheritsFrom(RequiredClass, TSysBitmap::StaticClass()) && DefBitmapClass) {
    TBitmap* b = DefBitmapClass(w, h, O, RequiredClass, nullptr, {});
    out = dynamic_cast<TSysBitmap*>(b);
    if (!out) foundation::FreeObj(b);
  }
  if (!out) out = CreateSysBitmap(w, h, O);
  IMG_ASSERT(out, "");
  auto outHold = foundation::TRef<TSysBitmap>::Adopt(out);
  out->Progress = Progress;
  IMG_ASSERT(O->BitsPerPixel == 24 || O->BitsPerPixel == 32, "");
  if (O == pfR8G8B8) {
    HalveBitmap24(source, out);
  } else if (S == O) {
    if (convert)
      HalveBitmap32Converted(source, convert, premultiply, out);
    else
      HalveBitmap32(source, out);
  } else {
    // The premultiplied reduction goes straight into the output's memory and
    // is un-premultiplied there row by row, with the progress a copy into the
    // output would report; a separate premultiplied bitmap would only be
    // copied once and dropped.
    if (convert)
      HalveBitmap32Converted(source, convert, premultiply, out);
    else
      HalveBitmap32(source, out);
    TPixelConverter* toOutput = PixelConverter(O, S);
    IMG_ASSERT(toOutput, "");
    const float step = 1.0f / static_cast<float>(h);
    float fraction = 0.0f;
    for (int32_t y = 0; y < h; ++y) {
      if (!out->DoProgress(fraction)) break;
      fraction += step;
      toOutput->Convert(out->Row(y), out->Row(y), w);
    }
    out->DoProgress(1.0f);
  }
  Result.Bitmap = outHold.Detach();
  Result.Owned = true;
  Result.Level = Level;
}

TBitmap* TSysBitmapStore::MatchBitmap(TBitmap* Bitmap, TBitmapClass RequiredClass, TPixelFormat* PixelFormat) {
  if (auto* w = dynamic_cast<TSysDirectWrapper*>(Bitmap)) {
    if (RequiredClass && ClassInheritsFrom(RequiredClass, TDirectBitmap::StaticClass())) {
      TDirectBitmap* d = w->Wrapped;
      if (d && (!PixelFormat || PixelFormat == d->PixelFormat) && ClassInheritsFrom(d->GetClass(), RequiredClass))
        return d;
      return nullptr;
    }
  }
  return TBitmapStore::MatchBitmap(Bitmap, RequiredClass, PixelFormat);
}

TWrapperBitmapStore::TWrapperBitmapStore(const std::u16string& Name, TBitmap* aBitmap, bool aOwns,
                                         const TLevelProvider& Provider)
    : TSysBitmapStore(Name, aBitmap ? TSize{aBitmap->Width, aBitmap->Height} : TSize{},
                      aBitmap ? aBitmap->PixelFormat : nullptr, Provider) {
  IMG_ASSERT(aBitmap, "");
  Bitmap = aBitmap;
  OwnsBitmap = aOwns;
}

void TWrapperBitmapStore::Dispose() {
  // The levels first: a cached clone never refers to the wrapped bitmap, but
  // level 0 does and is not owned by the level list.
  TBitmap* b = std::exchange(Bitmap, nullptr);
  TSysBitmapStore::Dispose();
  if (OwnsBitmap) foundation::FreeObj(b);
}

void TWrapperBitmapStore::LoadMipLevel(TMipLevelResult& Result, int32_t Level) {
  if (Level == 0) {
    Result.Bitmap = Bitmap;
    Result.Owned = false;
    Result.Level = 0;
  } else {
    Result.Bitmap = nullptr;
  }
}

TImage* WrapBitmapAsImage(TBitmap* Bitmap, bool Owns, const std::u16string& Name) {
  if (!Bitmap) return nullptr;
  TBitmap* b = Bitmap;
  if (auto* d = dynamic_cast<TDirectBitmap*>(Bitmap)) {
    b = new TSysDirectWrapper(d, Owns);
    Owns = true;
  } else if (!dynamic_cast<TSysBitmap*>(Bitmap)) {
    TSysBitmap* copy = CreateSysBitmap(Bitmap->Width, Bitmap->Height, Bitmap->PixelFormat);
    IMG_ASSERT(copy, "");
    copy->CopyFrom(Bitmap);
    if (Owns) Bitmap->Free();
    b = copy;
    Owns = true;
  }
  auto* store = new TWrapperBitmapStore(Name, b, Owns, TLevelProvider{});
  TImage* image = new TImage(store);
  store->Free();
  return image;
}

namespace {

TPixelFormat* WorkingFormat(TBitmap* b) { return b->PixelFormat->HasAlpha ? pfA8R8G8B8 : pfR8G8B8; }

// Replaces the reference by a converted copy in the working format.
void Convert(TBitmapStore* Store, TBitmapReference& Ref, TPixelFormat* Working) {
  TBitmap* copy = Ref.Bitmap->CloneAs(Working, TSysBitmap::StaticClass(), Store->Progress);
  IMG_ASSERT(copy, "Invalid Combination Of Bitmap Parameters");
  if (Ref.Owns) Ref.Bitmap->Free();
  Ref.Bitmap = copy;
  Ref.Owns = true;
}

void QuarterTurn(TBitmapStore* Store, TBitmapReference& Ref, bool Clockwise) {
  TPixelFormat* working = WorkingFormat(Ref.Bitmap);
  auto* sys = dynamic_cast<TSysBitmap*>(Ref.Bitmap);
  if (!sys || sys->PixelFormat != working) {
    Convert(Store, Ref, working);
    sys = static_cast<TSysBitmap*>(Ref.Bitmap);
  }
  TSysBitmap* out = CreateSysBitmap(sys->Height, sys->Width, working);
  IMG_ASSERT(out, "");
  out->Progress = Store->Progress;
  try {
    if (working == pfR8G8B8)
      Clockwise ? Rotate90Bitmap24(sys, out) : Rotate270Bitmap24(sys, out);
    else
      Clockwise ? Rotate90Bitmap32(sys, out) : Rotate270Bitmap32(sys, out);
  } catch (...) {
    out->Free();
    throw;
  }
  if (Ref.Owns) Ref.Bitmap->Free();
  Ref.Bitmap = out;
  Ref.Owns = true;
}

}  // namespace

void RotateBitmap90Hook(TBitmapStore* Store, TBitmapReference& Reference) { QuarterTurn(Store, Reference, true); }
void RotateBitmap270Hook(TBitmapStore* Store, TBitmapReference& Reference) { QuarterTurn(Store, Reference, false); }

void RotateBitmap180Hook(TBitmapStore* Store, TBitmapReference& Reference) {
  TPixelFormat* working = WorkingFormat(Reference.Bitmap);
  auto* sys = dynamic_cast<TSysBitmap*>(Reference.Bitmap);
  if (!(Reference.Owns && sys && sys->PixelFormat == working)) {
    Convert(Store, Reference, working);
    sys = static_cast<TSysBitmap*>(Reference.Bitmap);
  }
  if (working == pfR8G8B8)
    Rotate180Bitmap24(sys);
  else
    Rotate180Bitmap32(sys);
}

void InitSysBitmapStore() {
  BitmapToImageHook = WrapBitmapAsImage;
  TurnLevel90Hook = RotateBitmap90Hook;
  TurnLevel270Hook = RotateBitmap270Hook;
  TurnLevel180Hook = RotateBitmap180Hook;
}

}  // namespace imaging
