// IPTC (IIM) metadata from the IPTC resource block of a JPEG's Adobe APP13
// segment, answered by record and dataset number for the slide text macros.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvStream.h"

namespace decoders {

class EInvalidIPTCData : public foundation::TCommonException {
 public:
  using foundation::TCommonException::TCommonException;
  QEL_CLASSNAME(EInvalidIPTCData)
};

class TIPTCData;
class TIPTCSection;

// Application-record (record 2) dataset numbers the macros read.
enum : uint8_t {
  iptcObjectName = 5,
  iptcSpecialInstructions = 40,
  iptcBylines = 80,
  iptcBylineTitles = 85,
  iptcCity = 90,
  iptcSubLocation = 92,
  iptcProvinceOrState = 95,
  iptcCountryName = 101,
  iptcOriginalTransmissionRef = 103,
  iptcHeadline = 105,
  iptcCredit = 110,
  iptcSource = 115,
  iptcCopyrightNotice = 116,
  iptcCaptionOrAbstract = 120,
  iptcWritersOrEditors = 122,
};

class TIPTCTag : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TIPTCTag)
  TIPTCTag(TIPTCSection* section, uint8_t tagNumber);
  // Leaves its section first when it is still attached.
  void Dispose() override;

  // Decimal for the numeric datasets, else the bytes as text (UTF-8 when the
  // owning data says so, else the ANSI code page).
  std::u16string AsString() const;
  void SetValue(std::vector<uint8_t> bytes) { FValue = std::move(bytes); }
  const std::vector<uint8_t>& Value() const { return FValue; }
  int32_t ValueSize() const { return static_cast<int32_t>(FValue.size()); }
  uint8_t TagNumber() const { return FTagNumber; }
  TIPTCSection* Section() const { return FSection; }

 private:
  friend class TIPTCSection;
  std::vector<uint8_t> FValue;
  uint8_t FTagNumber;
  TIPTCSection* FSection;
};

class TIPTCSection : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TIPTCSection)
  TIPTCSection(TIPTCData* owner, uint8_t record);
  void Dispose() override;

  TIPTCTag* Add(uint8_t tagNumber);
  // An index outside 0..Count fails an assertion.
  TIPTCTag* Insert(int32_t index, uint8_t tagNumber);
  // The first tag with the number; a sorted section stops at a larger one.
  TIPTCTag* Find(uint8_t tagNumber) const;
  void Clear();

  int32_t Count() const { return static_cast<int32_t>(FTags.size()); }
  TIPTCTag* Tag(int32_t i) const { return FTags[static_cast<size_t>(i)]; }
  uint8_t RecordNumber() const { return FRecord; }
  TIPTCData* Owner() const { return FOwner; }
  bool Sorted() const { return FSorted; }
  bool Modified() const { return FModified; }

 private:
  friend class TIPTCTag;
  friend class TIPTCData;
  void Detach(TIPTCTag* tag);

  bool FSorted = true;
  uint8_t FRecord;
  bool FModified = false;
  TIPTCData* FOwner;
  std::vector<TIPTCTag*> FTags;
};

class TIPTCData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TIPTCData)
  TIPTCData();
  void Dispose() override;

  // Never raises: data that cannot be read leave the object empty.
  void LoadFromJPEG(foundation::TStream* stream);
  // Raises EInvalidIPTCData on a bad record number or size field.
  void LoadFromStream(foundation::TStream* stream);
  void Clear();
  bool IsEmpty() const;

  std::u16string GetAppString(uint8_t tagNumber) const;
  std::vector<std::u16string> GetAppStrings(uint8_t tagNumber) const;

  // Records 1..9.
  TIPTCSection* Section(int record) const { return FSections[record - 1]; }

  bool AlwaysAssumeUTF8Encoding = false;
  bool UTF8Encoded = true;

 private:
  TIPTCSection* FSections[9] = {};
};

// The first text with every character below 33 removed at both ends; empty
// for an empty list.
std::u16string TrimFirstValue(const std::vector<std::u16string>& values);

}  // namespace decoders
