#include "decoders/SysPngLoader.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "decoders/SysPngUtils.h"
#include "imaging/kvFastDIB.h"

namespace decoders {

using namespace imaging;

TPngBitmapStore::TPngBitmapStore(const std::u16string& Name, TPNGObject* APng, const TLevelProvider& Provider)
    : TSysBitmapStore(Name, TSize{APng ? APng->Width() : 0, APng ? APng->Height() : 0},
                      APng ? GetPngPixelFormat(APng, false) : nullptr, Provider),
      Png(APng) {
  QEL_ASSERT(APng, "TPngBitmapStore.Create - no PNG object");
}

void TPngBitmapStore::Dispose() {
  delete Png;
  Png = nullptr;
  TSysBitmapStore::Dispose();
}

void TPngBitmapStore::LoadMipLevel(TMipLevelResult& Result, int32_t Level) {
  Result = TMipLevelResult{};
  if (Level != 0 || !Png) return;
  // One top-down block, not cleared first: the conversion writes every pixel.
  TSysBitmap* bitmap = nullptr;
  TPixelFormat* format = GetPngPixelFormat(Png, false);
  {
    auto* dib = new TFastDIB();
    dib->ZeroFill = false;
    try {
      dib->SetSize(Png->Width(), -Png->Height(), format->BitsPerPixel);
    } catch (...) {
      dib->Free();
      throw;
    }
    bitmap = CreateDibBitmapOf(dib, true);
  }
  bool converted = false;
  try {
    converted = PngToBitmap(Png, bitmap);
    delete Png;
    Png = nullptr;
  } catch (...) {
    converted = false;
  }
  if (!converted) {
    // A picture that does not convert shows as a blank bitmap of the declared size.
    foundation::FreeObj(bitmap);
    bitmap = CreateSysBitmap(Params.Width, Params.Height, Params.PixelFormat);
  }
  Result.Bitmap = bitmap;
  Result.Owned = true;
  Result.Level = 0;
}

TBitmapStore* LoadPngBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                 TLevelProvider& Provider) {
  const int64_t start = Stream->GetPosition();
  std::unique_ptr<TPNGObject> png(new TPNGObject());
  try {
    png->LoadFromStream(Stream);
  } catch (...) {
    png.reset();
  }
  if (!png || png->Width() == 0 || png->Height() == 0 || !GetPngPixelFormat(png.get(), false)) {
    Stream->SetPosition(start);
    return nullptr;
  }
  auto* store = new TPngBitmapStore(Name, png.release(), Provider);
  const int64_t after = Stream->GetPosition();
  Stream->SetPosition(start);
  try {
    store->ColorProfile = ReadPngColorProfile(Stream, Name);
  } catch (...) {
    store->ColorProfile = nullptr;
  }
  Stream->SetPosition(after);
  if (OwnsStream) Stream->Free();
  return store;
}

TColorProfile* ReadPngColorProfile(foundation::TStream* Stream, const std::u16string& Name) {
  return CreateColorProfile(ScanPngIccProfile(Stream), Name);
}

std::vector<uint8_t> ScanPngIccProfile(foundation::TStream* Stream) {
  static const uint8_t kSig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  uint8_t sig[8];
  if (Stream->ReadBuf(sig, 8) != 8 || std::memcmp(sig, kSig, 8) != 0) return {};
  while (Stream->GetRemaining() >= 12) {
    uint8_t head[8];
    if (Stream->ReadBuf(head, 4) != 4) return {};
    const uint32_t length =
        ((uint32_t(head[0]) << 24) | (uint32_t(head[1]) << 16) | (uint32_t(head[2]) << 8) | head[3]) & 0x7FFFFFFF;
    if (Stream->ReadBuf(head + 4, 4) != 4) return {};
    if (std::memcmp(head + 4, "iCCP", 4) != 0) {
      Stream->SetPosition(Stream->GetPosition() + int64_t(length) + 4);
      continue;
    }
    const int64_t dataStart = Stream->GetPosition();
    uint8_t name[81];
    const int32_t got = Stream->ReadBuf(name, static_cast<int32_t>(std::min<uint32_t>(length, 81)));
    for (int32_t k = 0; k + 1 < got; ++k) {
      if (name[k] != 0) continue;
      Stream->SetPosition(dataStart + k + 2);
      if (name[k + 1] != 0) continue;
      const int64_t rest = int64_t(length) - k - 2;
      // Never more than the stream still holds.
      const int64_t avail = std::min<int64_t>(rest, std::max<int64_t>(Stream->GetRemaining(), 0));
      std::vector<uint8_t> packed(static_cast<size_t>(std::max<int64_t>(avail, 0)));
      const int32_t read = packed.empty() ? 0 : Stream->ReadBuf(packed.data(), static_cast<int32_t>(packed.size()));
      std::vector<uint8_t> profile;
      if (read > 0 && InflateAll(packed.data(), static_cast<size_t>(read), profile)) return profile;
    }
    return {};
  }
  return {};
}

void InitSysPngLoader() {
  InitSysPng();
  RegisterImageLoader(&LoadPngBitmapStore, {u".png"});
  RegisterProfileLoader(&ReadPngColorProfile, {u".png"});
}

}  // namespace decoders
