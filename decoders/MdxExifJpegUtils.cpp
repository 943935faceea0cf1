#include "decoders/MdxExifJpegUtils.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace decoders {

using foundation::TMemoryStream;
using foundation::TStream;

namespace {

constexpr char kPhotoshop3[] = "Photoshop 3.0";  // with its zero byte: 14
constexpr char kPhotoshop25[] = "Adobe_Photoshop2.5:";  // 19

bool IsStandalone(uint8_t m) { return m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD9); }

// Copies up to count bytes from the stream's position into dest, in pieces,
// so a lying size never allocates more than the stream holds.
void CopySome(TStream* from, TMemoryStream* dest, int64_t count) {
  uint8_t buf[16384];
  while (count > 0) {
    int32_t want = static_cast<int32_t>(std::min<int64_t>(count, sizeof buf));
    int32_t got = from->ReadBuf(buf, want);
    if (got <= 0) break;
    dest->WriteBuf(buf, got);
    count -= got;
  }
  dest->SetPosition(0);
}

}  // namespace

TUserJPEGSegment::TUserJPEGSegment() : FData(new TMemoryStream()) {}

void TUserJPEGSegment::Dispose() {
  if (FData) FData->Free();
  FData = nullptr;
  TRefObject::Dispose();
}

bool TUserJPEGSegment::IsAdobeApp13() {
  FAdobeHeaderSize = 0;
  if (FMarker != 0xED || FData->GetSize() < 20) return false;
  int64_t keep = FData->GetPosition();
  uint8_t head[19] = {};
  FData->SetPosition(0);
  FData->ReadBuf(head, 19);
  FData->SetPosition(keep);
  if (std::memcmp(head, kPhotoshop3, 14) == 0) {
    FAdobeHeaderSize = 14;
  } else if (std::memcmp(head, kPhotoshop25, 19) == 0) {
    FAdobeHeaderSize = 19;
  }
  return FAdobeHeaderSize != 0;
}

TAdobeApp13Enumerator TUserJPEGSegment::GetEnumerator() {
  int64_t start = IsAdobeApp13() ? FAdobeHeaderSize : 2147483647;
  return TAdobeApp13Enumerator(FData, start);
}

TFoundJPEGSegment::TFoundJPEGSegment(uint8_t marker, TStream* stream, int32_t length) {
  FMarker = marker;
  if (length > 0) CopySome(stream, FData, length);
}

TAdobeBlock::TAdobeBlock(TStream* stream) : FData(new TMemoryStream()) {
  if (!stream) return;
  try {
    LoadFromStream(stream);
  } catch (...) {
    // A constructor that raises never reaches Dispose: release the data here.
    FData->Free();
    FData = nullptr;
    throw;
  }
}

void TAdobeBlock::Dispose() {
  if (FData) FData->Free();
  FData = nullptr;
  TRefObject::Dispose();
}

void TAdobeBlock::LoadFromStream(TStream* stream) {
  char sig[4] = {};
  int32_t got = stream->ReadBuf(sig, 4);
  Signature.assign(sig, got > 0 ? static_cast<size_t>(got) : 0);
  TypeID = stream->ReadWordBE();
  uint8_t nameLength = stream->ReadByte();
  std::string name(nameLength, '\0');
  got = nameLength > 0 ? stream->ReadBuf(name.data(), nameLength) : 0;
  name.resize(got > 0 ? static_cast<size_t>(got) : 0);
  Name = std::move(name);
  // The length byte and the name together take an even number of bytes.
  if ((nameLength & 1) == 0) stream->ReadByte();
  int32_t size = static_cast<int32_t>(stream->ReadDWordBE());
  if (size < 0) size = 0;
  FData->Clear();
  CopySome(stream, FData, size);
  if (size & 1) stream->ReadByte();
}

bool TAdobeBlock::IsIPTCBlock() {
  if (TypeID != 0x0404 || FData->GetSize() <= 4) return false;
  int64_t keep = FData->GetPosition();
  FData->SetPosition(0);
  uint8_t first = FData->ReadByte();
  FData->SetPosition(keep);
  return first == 0x1C;
}

TAdobeApp13Enumerator::TAdobeApp13Enumerator(TStream* data, int64_t start) : FPosition(start), FStream(data) {}

bool TAdobeApp13Enumerator::MoveNext() {
  FCurrent.Reset();
  if (FPosition < FStream->GetSize() - 12) {
    FStream->SetPosition(FPosition);
    FCurrent = foundation::TRef<TAdobeBlock>::Adopt(new TAdobeBlock(FStream));
    FPosition = FStream->GetPosition();
    return true;
  }
  return false;
}

TJPEGHeaderParser::TJPEGHeaderParser(TStream* stream, const TJPEGMarkerSet& markers, bool ownsStream)
    : FMarkers(markers), FStream(stream), FOwnsStream(ownsStream) {
  try {
    FStartPos = stream->GetPosition();
    // A stream shorter than two bytes raises the stream read error.
    uint16_t soi = stream->ReadWordBE();
    if (soi != 0xFFD8) throw EInvalidJPEGHeader(u"JPEG header is not valid");
  } catch (...) {
    // The parser never comes to life, so a stream it was to own goes now.
    ReleaseStream();
    throw;
  }
  FNextPos = FStartPos + 2;
}

void TJPEGHeaderParser::Dispose() {
  FCurrent.Reset();
  ReleaseStream();
  TRefObject::Dispose();
}

void TJPEGHeaderParser::ReleaseStream() {
  if (FOwnsStream && FStream) FStream->Free();
  FStream = nullptr;
}

bool TJPEGHeaderParser::MoveNext() {
  FCurrent.Reset();
  if (!FStream || FLastMarker == 0xD9) return false;
  FStream->SetPosition(FNextPos);
  uint8_t b = FStream->ReadByte();
  while (b == 0xFF) {
    uint8_t marker;
    do {
      marker = FStream->ReadByte();
    } while (marker == 0xFF);
    FLastMarker = marker;
    int32_t length = IsStandalone(marker) ? 0 : static_cast<int32_t>(FStream->ReadWordBE()) - 2;
    if (FMarkers.test(marker)) {
      FCurrent = foundation::TRef<TFoundJPEGSegment>::Adopt(new TFoundJPEGSegment(marker, FStream, length));
      FNextPos = FStream->GetPosition();
      return true;
    }
    if (marker == 0xD9) break;
    FStream->SetPosition(FStream->GetPosition() + length);
    b = FStream->ReadByte();
  }
  ReleaseStream();
  return false;
}

foundation::TRef<TJPEGHeaderParser> JPEGHeader(TStream* stream, const TJPEGMarkerSet& markers, bool ownsStream) {
  return foundation::TRef<TJPEGHeaderParser>::Adopt(new TJPEGHeaderParser(stream, markers, ownsStream));
}

}  // namespace decoders
