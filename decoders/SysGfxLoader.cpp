#include "decoders/SysGfxLoader.h"

#include <algorithm>

#include "container/kvPartialStream.h"
#include "container/kvZLib.h"
#include "foundation/kvStringUtils.h"
#include "foundation/kvUTF8.h"
#include "imaging/ImagingAssert.h"
#include "imaging/kvBitmapLoader.h"

namespace decoders {

namespace {

const std::vector<std::u16string> kGfxExtensions{u".kvgfx", u".bmp", u".dib", u".png", u".gif|framesatlas"};

// A container entry's read callback and chunk size, carried over to another
// partial stream so later reading reports through the same callback.
void CopyReadCallback(container::TPartialStream* From, container::TPartialStream* To) {
  if (From->ReadCallback()) To->SetReadCallback(From->ReadCallback(), From->ChunkSize());
}

// A memory stream that refuses to grow past a limit: the inflated payload can
// never be larger than a BMP file of the declared size, whatever the deflate
// data says.
class TCappedMemoryStream : public foundation::TMemoryStream {
 public:
  explicit TCappedMemoryStream(int64_t Limit) : limit_(Limit) {}
  int32_t Write(std::span<const uint8_t> Buffer, int32_t Offset, int32_t Count) override {
    if (GetPosition() + Count > limit_) return 0;
    return TMemoryStream::Write(Buffer, Offset, Count);
  }

 private:
  int64_t limit_;
};

// The largest BMP file that can hold Width x Height pixels: file and
// information headers (up to the longest header variant), a full colour
// table and 32-bit rows.
int64_t BmpFileLimit(int32_t Width, int32_t Height) {
  const int64_t row = ((int64_t(Width) * 32 + 31) / 32) * 4;
  return 14 + 124 + 1024 + 16 + row * int64_t(Height);
}

}  // namespace

// ---- TGfxImage -------------------------------------------------------------------------------

TGfxImage::TGfxImage() : Fields(new foundation::THashList(251)) {}

void TGfxImage::Dispose() {
  if (Fields) Fields->Clear(true);
  foundation::FreeAndNil(Fields);
  foundation::FreeAndNil(Bitmap);
  foundation::FreeAndNil(Payload);
  TRefObject::Dispose();
}

TFieldValue* TGfxImage::FindField(const std::u16string& Name) {
  foundation::TKeyItem* entry = nullptr;
  if (!Fields || !Fields->TryFind(Name, entry) || !entry) return nullptr;
  return static_cast<TFieldValue*>(entry->GetItem(0));
}

bool TGfxImage::GetFieldText(const std::u16string& Name, std::u16string& Text) {
  TFieldValue* v = FindField(Name);
  if (!v) return false;
  Text = v->Value;
  return true;
}

bool TGfxImage::GetFieldInt(const std::u16string& Name, int32_t& Value) {
  TFieldValue* v = FindField(Name);
  if (!v) return false;
  try {
    Value = foundation::StrToInt(v->Value);
  } catch (const foundation::EConvertError&) {
    return false;
  }
  return true;
}

imaging::TBitmap* TGfxImage::GetBitmap() {
  if (!Payload || Bitmap) return Bitmap;
  TCappedMemoryStream* m = new TCappedMemoryStream(BmpFileLimit(Width, Height));
  container::TInflator* inflator = new container::TInflator();
  container::TPartialStream* view = nullptr;
  try {
    Payload->SetPosition(0);
    inflator->Inflate(Payload, m);
    m->SetPosition(0);
    view = new container::TPartialStream(m, 0, m->GetSize(), false);
    if (auto* source = dynamic_cast<container::TPartialStream*>(Payload)) CopyReadCallback(source, view);
    Bitmap = imaging::LoadBmpStream(view, true);
    Decoded = Bitmap != nullptr;
  } catch (...) {
    foundation::FreeAndNil(Bitmap);
  }
  if (!Bitmap) {
    auto* green = new imaging::TDirectBitmap(Width, Height, PixelFormat);
    green->FillRect(imaging::TRect{0, 0, Width, Height}, GfxLoadFailColor);
    Bitmap = green;
  }
  foundation::FreeObj(inflator);
  foundation::FreeObj(view);
  foundation::FreeObj(m);
  foundation::FreeAndNil(Payload);
  return Bitmap;
}

// ---- reading ----------------------------------------------------------------------------------

bool IsGfxPayload(foundation::TStream* Stream) {
  uint8_t magic[4] = {};
  return Stream->ReadBuf(magic, 4) == 4 && magic[0] == 'K' && magic[1] == 'V' && magic[2] == 'G' && magic[3] == 'F';
}

bool ReadGfxString(foundation::TStream* Stream, std::u16string& Text) {
  Text.clear();
  uint8_t count[2];
  if (Stream->GetSize() - Stream->GetPosition() < 2 || Stream->ReadBuf(count, 2) != 2) return false;
  const int32_t length = count[0] | (count[1] << 8);
  if (length > 0) {
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    if (Stream->ReadBuf(bytes.data(), length) == length &&
        !foundation::UTF8BytesToUnicode(bytes.data(), bytes.size(), 0, length, Text))
      Text.clear();
  }
  return true;
}

bool ReadGfxImage(TGfxImage* Image, foundation::TStream* Stream, const std::u16string& Name, bool HeaderOnly) {
  const int64_t start = Stream->GetPosition();
  auto fail = [&] {
    Stream->SetPosition(start);
    return false;
  };
  if (!IsGfxPayload(Stream)) return fail();
  uint16_t count = 0;
  try {
    count = Stream->ReadWord();
  } catch (...) {
    Stream->SetPosition(start);
    throw;
  }
  for (uint32_t i = 0; i < count; ++i) {
    std::u16string name, value;
    if (!ReadGfxString(Stream, name) || !ReadGfxString(Stream, value)) return fail();
    Image->Fields->FindOrAdd(name)->Add(new TFieldValue(std::move(value)));
  }
  if (!Image->GetFieldText(u"File", Image->FileName) || !Image->GetFieldInt(u"Width", Image->Width) ||
      !Image->GetFieldInt(u"Height", Image->Height) || !Image->GetFieldInt(u"OriginalSize", Image->OriginalSize))
    return fail();
  // The declared size becomes the store's size and, when the payload fails,
  // the size of the substitute bitmap: a size no bitmap may have is refused.
  if (!imaging::BitmapSizeAllowed(Image->Width, Image->Height, 32)) return fail();
  if (!HeaderOnly) {
    const int64_t left = std::max<int64_t>(Stream->GetSize() - Stream->GetPosition(), 0);
    auto* m = new foundation::TMemoryStream();
    int64_t copied = 0;
    try {
      if (left > 0) copied = m->CopyFrom(Stream, left);
    } catch (...) {
      copied = -1;
    }
    if (copied != left || m->GetSize() < left) {
      m->Free();
      return fail();
    }
    foundation::TStream* payload = m;
    if (auto* source = dynamic_cast<container::TPartialStream*>(Stream)) {
      auto* wrap = new container::TPartialStream(m, 0, m->GetSize(), true);
      CopyReadCallback(source, wrap);
      payload = wrap;
    }
    // The substitute for a payload that cannot hold the declared picture
    // would be an allocation nothing in the file justifies.
    if (int64_t(Image->Width) * Image->Height > std::max(GfxFreePixels, left * GfxMaxPixelsPerPayloadByte)) {
      payload->Free();
      return fail();
    }
    foundation::FreeObj(Image->Payload);
    Image->Payload = payload;
  }
  Image->PixelFormat = imaging::pfA8R8G8B8;
  Image->Name = Name;
  return true;
}

// ---- store and loader ---------------------------------------------------------------------------

namespace {
imaging::TSize ImageSize(TGfxImage* Image) {
  IMG_ASSERT(Image, "");
  return imaging::TSize{Image->Width, Image->Height};
}
}  // namespace

TGfxBitmapStore::TGfxBitmapStore(const std::u16string& Name, TGfxImage* Image,
                                 const imaging::TLevelProvider& Provider)
    : TSysBitmapStore(Name, ImageSize(Image), Image->PixelFormat, Provider), Image(Image) {}

void TGfxBitmapStore::Dispose() {
  foundation::FreeAndNil(Image);
  TSysBitmapStore::Dispose();
}

void TGfxBitmapStore::LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) {
  Result = imaging::TMipLevelResult{};
  Result.Level = Level;
  if (Level != 0) return;
  Result.Bitmap = Image->GetBitmap();
  Result.Owned = false;
}

imaging::TBitmapStore* LoadGfxBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                          imaging::TLevelProvider& Provider) {
  const int64_t start = Stream->GetPosition();
  if (!IsGfxPayload(Stream)) {
    Stream->SetPosition(start);
    return nullptr;
  }
  Stream->SetPosition(start);
  TGfxImage* image = new TGfxImage();
  bool ok = false;
  try {
    ok = ReadGfxImage(image, Stream, Name, false);
  } catch (...) {
    image->Free();
    throw;
  }
  if (!ok) {
    image->Free();
    return nullptr;
  }
  auto* store = new TGfxBitmapStore(Name, image, Provider);
  if (!store->ColorProfile) store->ColorProfile = new TDumpColorProfile(Name);
  if (OwnsStream) Stream->Free();
  return store;
}

void InitSysGfxLoader() { imaging::RegisterImageLoader(LoadGfxBitmapStore, kGfxExtensions); }

}  // namespace decoders
