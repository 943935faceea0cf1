// The Exif reader: the first APP1 segment of a JPEG stream, its first image
// directory and the Exif sub-directory, kept as raw numbers and display texts
// for the text macros of slides.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvStream.h"

namespace decoders {

class TExif {
 public:
  TExif() { Clear(); }

  // Every text empty, every number 0, no Exif.
  void Clear();
  // Reads the stream from its start through a 1 KB block cache. Raises the
  // stream read error only when the first two bytes, the sub-directory's
  // entry count or a rational lie past the end; any other content that is not
  // understood leaves its fields empty.
  void LoadFromJPEG(foundation::TStream* stream);

  std::u16string Description;
  std::u16string Make;
  std::u16string Model;
  uint8_t Orientation = 0;
  std::u16string OrientationText;
  std::u16string RightsNotice;
  bool HasExif = false;
  std::u16string DateTime;
  std::u16string DateTimeTaken;
  std::u16string DateTimeDigitized;
  std::u16string UserComment;
  std::u16string ExposureTimeText;
  std::u16string FocalLengthText;
  std::u16string FNumberText;
  std::u16string ShutterSpeedText;
  std::u16string ApertureText;
  std::u16string MaxApertureText;
  uint8_t ExposureProgram = 0;
  std::u16string ExposureProgramText;
  int32_t PixelWidth = 0;
  int32_t PixelHeight = 0;
  uint32_t XResolution = 0;
  uint32_t YResolution = 0;
  uint8_t MeteringMode = 0;
  std::u16string MeteringModeText;
  uint8_t LightSource = 0;
  std::u16string LightSourceText;
  uint8_t Flash = 0;
  std::u16string FlashText;
  uint16_t IsoSpeed = 0;
  std::u16string Software;
  std::u16string Artist;
  std::u16string CompressedBitsText;

 private:
  struct Entry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0;    // swapped; BYTE and SHORT keep their low 8 bits
    uint8_t raw[4] = {};   // the value field as stored, for short texts
  };
  bool ReadEntry(Entry& e);
  uint16_t Swap16(uint16_t v) const;
  uint32_t Swap32(uint32_t v) const;
  std::u16string ReadText(const Entry& e);
  std::u16string ReadUserComment(const Entry& e);
  // The two numbers of a rational at base + offset; the position is restored.
  void ReadRational(uint32_t offset, uint32_t& num, uint32_t& den);
  uint32_t ReadLongAt(uint32_t offset, uint32_t previous);
  void ReadFirstDirectory();
  void ReadExifDirectory();

  foundation::TStream* FStream = nullptr;
  int64_t FBase = 0;
  uint32_t FExifOffset = 0;
  bool FBigEndian = false;
  uint8_t FEntryBytes[12] = {};
};

// The display texts of the value tables (values outside a table give its
// last text).
std::u16string ExifOrientationText(uint32_t value);
std::u16string ExifExposureProgramText(uint32_t value);
std::u16string ExifMeteringModeText(uint32_t value);
std::u16string ExifLightSourceText(uint32_t value);
std::u16string ExifFlashText(uint32_t value);

// Rational texts. A zero denominator (or a value that is not finite) gives
// an empty text.
std::u16string ExifDecimalText(uint32_t num, uint32_t den);
std::u16string ExifFractionText(uint32_t num, uint32_t den);
std::u16string ExifShutterSpeedText(uint32_t num, uint32_t den);

}  // namespace decoders
