#include "imaging/kvIcoFile.h"

#include "foundation/kpExceptions.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvBitmapLoader.h"

namespace imaging {

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

int32_t Side(uint8_t v) { return v == 0 ? 256 : v; }

}  // namespace

TIcoFile::TIcoFile(foundation::TStream* Stream, bool OwnsStream, const std::u16string& Name)
    : FName(Name), FStream(Stream), FOwnsStream(OwnsStream) {
  if (!Stream) foundation::QelAssertFail(std::string_view(""));
  FBase = Stream->GetPosition();
  uint8_t header[6];
  if (Stream->ReadBuf(header, 6) != 6) return;
  const uint16_t reserved = header[0] | (header[1] << 8), type = header[2] | (header[3] << 8),
                 count = header[4] | (header[5] << 8);
  if (reserved != 0 || (type != 1 && type != 2) || count == 0) return;
  FCursor = type == 2;
  // Entries past the end of the file are not entries: the directory ends
  // with the data that is there.
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t e[16];
    if (Stream->ReadBuf(e, 16) != 16) break;
    TIconDirEntry d;
    d.Width = e[0];
    d.Height = e[1];
    d.ColorCount = e[2];
    d.Reserved = e[3];
    d.Planes = static_cast<uint16_t>(e[4] | (e[5] << 8));
    d.BitCount = static_cast<uint16_t>(e[6] | (e[7] << 8));
    d.BytesInRes = e[8] | (e[9] << 8) | (e[10] << 16) | (static_cast<uint32_t>(e[11]) << 24);
    d.ImageOffset = e[12] | (e[13] << 8) | (e[14] << 16) | (static_cast<uint32_t>(e[15]) << 24);
    FEntries.push_back(d);
  }
  FCount = static_cast<int32_t>(FEntries.size());
}

void TIcoFile::Dispose() {
  if (FOwnsStream && FStream) FStream->Free();
  FStream = nullptr;
  foundation::TRefObject::Dispose();
}

TImage* TIcoFile::GetImage(int32_t Index) {
  if (Index < 0 || Index >= FCount || !FStream) return nullptr;
  const int64_t at = FBase + FEntries[static_cast<size_t>(Index)].ImageOffset;
  const int64_t size = FStream->GetSize();
  if (size >= 0 && at >= size) return nullptr;
  FStream->SetPosition(at);
  uint8_t sig[8];
  const int32_t got = FStream->ReadBuf(sig, 8);
  FStream->SetPosition(at);
  if (got == 8 && std::equal(sig, sig + 8, kPngSignature)) return LoadImageFromStreamNamed(FStream, u".png");
  TDirectBitmap* b = LoadIconDIB(FStream);
  return b ? WrapBitmapAsImage(b, true, u"") : nullptr;
}

TImage* TIcoFile::GetBestImage(int32_t Width, int32_t Height, bool UseMipLevels) {
  if (FCount == 0) return nullptr;
  int32_t small = -1, large = -1;
  for (int32_t i = 0; i < FCount; ++i) {
    const TIconDirEntry& e = FEntries[static_cast<size_t>(i)];
    const int32_t w = Side(e.Width), h = Side(e.Height), depth = e.BitCount;
    if (w < Width && h < Height) {
      if (small < 0) {
        small = i;
        continue;
      }
      const TIconDirEntry& s = FEntries[static_cast<size_t>(small)];
      if (w > Side(s.Width) || h > Side(s.Height) || depth > s.BitCount) small = i;
    } else {
      if (large < 0) {
        large = i;
        continue;
      }
      const TIconDirEntry& l = FEntries[static_cast<size_t>(large)];
      if (w < Side(l.Width) || h < Side(l.Height) || depth > l.BitCount) large = i;
    }
  }
  const int32_t pick = large >= 0 ? large : small;
  if (pick < 0) return nullptr;
  TImage* image = GetImage(pick);
  if (!image || !UseMipLevels || !image->Store || Width < 1 || Height < 1) return image;
  TBitmap* base = image->GetBitmap();
  if (!base) return image;
  int32_t w = base->Width, h = base->Height, level = 0;
  TBitmap* levelBitmap = nullptr;
  while (w >= 2 * Width && h >= 2 * Height) {
    TBitmap* next = image->Store->GetBitmap(level + 1, nullptr, nullptr);
    if (!next) break;
    ++level;
    levelBitmap = next;
    w = next->Width;
    h = next->Height;
  }
  if (!levelBitmap) return image;
  TImage* result = WrapBitmapAsImage(levelBitmap, false, u"");
  if (!result) return image;
  // The decoded image owns the level's bitmap: the result keeps it alive.
  result->Store->AddAttachment(image);
  return result;
}

}  // namespace imaging
