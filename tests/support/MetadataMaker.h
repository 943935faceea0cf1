#pragma once

// Test-side writers of photo metadata: TIFF/Exif structures in either byte
// order (IFD0, the Exif sub-directory, a GPS directory, IFD1 with a
// thumbnail), IPTC data sets, and Adobe image-resource blocks, laid out byte
// by byte so a test can also place offsets and counts anywhere it likes.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// TIFF field types.
enum : uint16_t { kTiffByte = 1, kTiffAscii = 2, kTiffShort = 3, kTiffLong = 4, kTiffRational = 5,
                  kTiffUndefined = 7, kTiffSRational = 10 };

struct TiffEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  Bytes data;              // the value in file byte order; <= 4 bytes inline, else in the data area
  bool rawValue = false;   // true: valueField is written as the value/offset field as is
  uint32_t valueField = 0; // (in file byte order) for hostile offsets
};

class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian) : big_(bigEndian) {}

  // Entries of each directory, in the order given (the pointers to the Exif
  // and GPS directories and the link to IFD1 are added by Build()).
  TiffEntry Ascii(uint16_t tag, const std::string& text) const;        // with its terminating zero
  TiffEntry Short(uint16_t tag, uint16_t value) const;
  TiffEntry Long(uint16_t tag, uint32_t value) const;
  TiffEntry Rational(uint16_t tag, uint32_t num, uint32_t den, uint16_t type = kTiffRational) const;
  TiffEntry Undefined(uint16_t tag, const Bytes& bytes) const;
  // An entry whose value/offset field holds exactly `field`.
  TiffEntry Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) const;

  std::vector<TiffEntry> ifd0, exif, gps, ifd1;
  Bytes thumbnail;  // written into the data area and named by IFD1's 0201/0202

  // The TIFF structure: header, IFD0, the Exif, GPS and IFD1 directories,
  // then the data area.
  Bytes Build() const;
  // "Exif\0\0" + Build(): an APP1 payload.
  Bytes App1Payload() const;

  bool bigEndian() const { return big_; }
  void Put16(Bytes& b, uint16_t v) const;
  void Put32(Bytes& b, uint32_t v) const;

 private:
  bool big_;
};

// One IPTC data set: 0x1C, record, dataset, size (extended form when the
// value is larger than 32767 bytes or extendedBytes is 1, 2 or 4), value.
Bytes IptcDataSet(uint8_t record, uint8_t dataset, const Bytes& value, int extendedBytes = 0);
Bytes IptcText(uint8_t record, uint8_t dataset, const std::string& text);

// One image-resource block: "8BIM", id, Pascal name padded to even, size, data padded to even.
Bytes AdobeResourceBlock(uint16_t id, const Bytes& data, const std::string& name = "");
// An APP13 payload: "Photoshop 3.0\0" (or "Adobe_Photoshop2.5:") and the blocks.
Bytes App13Payload(const std::vector<Bytes>& blocks, bool photoshop25 = false);

}  // namespace testsupport
