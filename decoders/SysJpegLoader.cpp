#include "decoders/SysJpegLoader.h"

#include <algorithm>
#include <climits>

#include "imaging/ImagingAssert.h"
#include "imaging/kvFastDIB.h"

namespace decoders {

bool JpegFastDecoding = true;

namespace {

imaging::TPixelFormat* DeclaredFormat(const TJpegLoader* Loader) {
  IMG_ASSERT(Loader, "");
  switch (Loader->Options.PixelFormat) {
    case 0: return imaging::pfR8G8B8;
    case 1: return imaging::pfY8;
    default: IMG_ASSERT(false, "TJpegBitmapStore: PixelFormat");
  }
  return nullptr;
}

imaging::TSize LoaderSize(const TJpegLoader* Loader) {
  IMG_ASSERT(Loader, "");
  imaging::TSize size;
  Loader->GetSize(size.cx, size.cy);
  return size;
}

const std::vector<std::u16string> kJpegExtensions{u".jpg", u".jpeg", u".jpe", u".jfif"};

}  // namespace

TJpegBitmapStore::TJpegBitmapStore(const std::u16string& Name, TJpegLoader* Loader,
                                   const imaging::TLevelProvider& Provider)
    : TSysBitmapStore(Name, LoaderSize(Loader), DeclaredFormat(Loader), Provider), Loader(Loader) {
  Loader->OnProgress = [this](TJpegLoader*, uint8_t, uint8_t Percent, bool, const imaging::TRect&,
                              const std::u16string&) { OnDecodeProgress(Percent); };
}

void TJpegBitmapStore::Dispose() {
  foundation::FreeAndNil(Loader);
  TSysBitmapStore::Dispose();
}

bool TJpegBitmapStore::StoreProgress(float Fraction) { return Progress ? Progress(Fraction) : true; }

void TJpegBitmapStore::OnDecodeProgress(uint8_t Percent) {
  StoreProgress(Percent * (Loader->Options.PixelFormat == 1 ? 0.005f : 0.01f));
}

void TJpegBitmapStore::LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) {
  Result = imaging::TMipLevelResult{};
  Result.Level = Level;
  if (Level < 0 || Level > 3) return;
  Result.Bitmap = DecodeLevel(static_cast<uint8_t>(Level));
  Result.Owned = true;
  StoreProgress(1.0f);
}

imaging::TSysBitmap* TJpegBitmapStore::DecodeLevel(uint8_t Scale) {
  imaging::TSysBitmap* decoded = Loader->Decode(Scale);
  if (decoded->PixelFormat->BitsPerPixel == 24) return decoded;
  imaging::TSysBitmap* wide = nullptr;
  try {
    wide = imaging::CreateDibBitmap(decoded->Width, decoded->Height, 24);
    IMG_ASSERT(wide, "");
    const int32_t h = decoded->Height;
    for (int32_t i = 0; i < h; ++i) {
      StoreProgress(0.5f + static_cast<float>(i) * (0.5f / static_cast<float>(h)));
      const uint8_t* s = decoded->Row(i);
      uint8_t* t = wide->Row(i);
      for (int32_t x = 0; x < decoded->Width; ++x, t += 3) {
        const uint8_t v = s[x];
        if (Loader->PaletteCount > 0) {
          t[0] = Loader->Palette[v][0];
          t[1] = Loader->Palette[v][1];
          t[2] = Loader->Palette[v][2];
        } else {
          t[0] = t[1] = t[2] = v;
        }
      }
    }
  } catch (...) {
    foundation::FreeObj(wide);
    decoded->Free();
    throw;
  }
  decoded->Free();
  return wide;
}

imaging::TBitmapStore* LoadJpegBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                           imaging::TLevelProvider& Provider) {
  const int64_t start = Stream->GetPosition();
  TJpegLoader* loader = new TJpegLoader();
  loader->Options.Performance = JpegFastDecoding ? 0 : 1;
  try {
    loader->LoadHeader(Stream, INT32_MAX);
  } catch (...) {
    foundation::FreeAndNil(loader);
  }
  if (loader) {
    int32_t w = 0, h = 0;
    loader->GetSize(w, h);
    // A size no bitmap of this system may have, or one the file's bytes
    // cannot possibly describe, is refused like a zero size, before a single
    // pixel is allocated.
    const int64_t pixels = int64_t(w) * h;
    const int64_t bytes = loader->Data->Stream->Size;
    if (w == 0 || h == 0 || !imaging::BitmapSizeAllowed(w, h, 24) ||
        pixels > std::max(JpegFreePixels, bytes * JpegMaxPixelsPerByte))
      foundation::FreeAndNil(loader);
  }
  if (!loader) {
    Stream->SetPosition(start);
    return nullptr;
  }
  TJpegBitmapStore* store = new TJpegBitmapStore(Name, loader, Provider);
  // The loader holds the file's bytes: when they are the whole stream, the
  // profile is found in them instead of by reading the stream again.
  const TJStream* bytes = loader->Data->Stream;
  if (start == 0 && bytes->Size == Stream->GetSize()) {
    const int64_t after = Stream->GetPosition();
    // Whether the stream refuses a position past its end decides where a
    // segment running past the end stops the scan.
    bool pastEndFails = false;
    try {
      Stream->SetPosition(bytes->Size + 1);
    } catch (...) {
      pastEndFails = true;
    }
    Stream->SetPosition(after);
    store->ColorProfile =
        imaging::CreateColorProfile(ScanJpegIccProfile(bytes->Data.data(), bytes->Size, pastEndFails), Name);
  } else {
    const int64_t after = Stream->GetPosition();
    Stream->SetPosition(start);
    store->ColorProfile = ReadJpegColorProfile(Stream, Name);
    Stream->SetPosition(after);
  }
  if (OwnsStream) Stream->Free();
  return store;
}

imaging::TColorProfile* ReadJpegColorProfile(foundation::TStream* Stream, const std::u16string& Name) {
  return imaging::CreateColorProfile(ScanJpegIccProfile(Stream), Name);
}

void InitSysJpegLoader() {
  imaging::RegisterImageLoader(LoadJpegBitmapStore, kJpegExtensions);
  imaging::RegisterProfileLoader(ReadJpegColorProfile, kJpegExtensions);
}

}  // namespace decoders
