// A walk over the marker segments at the head of a JPEG stream (no decoding)
// that hands out the segments of chosen markers, and the resource blocks of an
// Adobe APP13 segment, where the IPTC block of a photograph lives.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvStream.h"

namespace decoders {

class EInvalidJPEGHeader : public foundation::TCommonException {
 public:
  using foundation::TCommonException::TCommonException;
  QEL_CLASSNAME(EInvalidJPEGHeader)
};

class TAdobeBlock;
class TAdobeApp13Enumerator;

// A marker segment: its marker byte and its payload (the bytes after the
// length field).
class TUserJPEGSegment : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TUserJPEGSegment)
  TUserJPEGSegment();
  void Dispose() override;

  // An APP13 segment of at least 20 bytes that begins with one of the two
  // Photoshop identifiers; sets the Adobe header size (14 or 19, else 0).
  bool IsAdobeApp13();
  // The resource blocks of the payload; yields nothing unless IsAdobeApp13.
  TAdobeApp13Enumerator GetEnumerator();

  uint8_t Marker() const { return FMarker; }
  foundation::TMemoryStream* Data() const { return FData; }
  int32_t AdobeHeaderSize() const { return FAdobeHeaderSize; }

 protected:
  int32_t FAdobeHeaderSize = 0;
  foundation::TMemoryStream* FData = nullptr;
  uint8_t FMarker = 0;
};

// A segment read by the parser: length bytes from the stream's position
// (as far as the stream goes; nothing for a standalone marker).
class TFoundJPEGSegment : public TUserJPEGSegment {
 public:
  QEL_CLASSNAME(TFoundJPEGSegment)
  TFoundJPEGSegment(uint8_t marker, foundation::TStream* stream, int32_t length);
};

// One image resource block: signature, type id, name and data.
class TAdobeBlock : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TAdobeBlock)
  // Loads from the stream when one is given.
  explicit TAdobeBlock(foundation::TStream* stream = nullptr);
  void Dispose() override;

  // The typed fields raise the stream read error at the end of the stream;
  // signature, name and data are read as far as it goes.
  void LoadFromStream(foundation::TStream* stream);
  // Type 0x0404 with more than 4 data bytes, the first one 0x1C.
  bool IsIPTCBlock();
  foundation::TMemoryStream* GetData() const { return FData; }

  std::string Signature;
  uint16_t TypeID = 0;
  std::string Name;

 private:
  foundation::TMemoryStream* FData = nullptr;
};

// Walks the blocks of an APP13 payload.
class TAdobeApp13Enumerator {
 public:
  TAdobeApp13Enumerator(foundation::TStream* data, int64_t start);
  bool MoveNext();
  TAdobeBlock* Current() const { return FCurrent.Get(); }

 private:
  foundation::TRef<TAdobeBlock> FCurrent;
  int64_t FPosition;
  foundation::TStream* FStream;
};

using TJPEGMarkerSet = std::bitset<256>;

// One walk over the segments. MoveNext stops at EOI or at a byte that does
// not start a marker (the scan data behind a skipped SOS segment).
class TJPEGHeaderParser : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TJPEGHeaderParser)
  // Raises EInvalidJPEGHeader unless the stream's current position holds SOI.
  TJPEGHeaderParser(foundation::TStream* stream, const TJPEGMarkerSet& markers, bool ownsStream);
  void Dispose() override;

  bool MoveNext();
  TFoundJPEGSegment* Current() const { return FCurrent.Get(); }

 private:
  void ReleaseStream();

  foundation::TRef<TFoundJPEGSegment> FCurrent;
  uint8_t FLastMarker = 0;
  TJPEGMarkerSet FMarkers;
  int64_t FNextPos = 0;
  int64_t FStartPos = 0;
  foundation::TStream* FStream = nullptr;
  bool FOwnsStream = false;
};

// A new parser over the stream for the given markers.
foundation::TRef<TJPEGHeaderParser> JPEGHeader(foundation::TStream* stream, const TJPEGMarkerSet& markers,
                                              bool ownsStream);

}  // namespace decoders
