#include "decoders/MdxExifIPTC.h"

#include <algorithm>

#include "container/kvPartialStream.h"
#include "decoders/MdxExifJpegUtils.h"
#include "foundation/kpStringUtils.h"

namespace decoders {

using foundation::TStream;

namespace {

std::u16string Decimal(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

bool IsNumeric(uint8_t record, uint8_t tag) {
  if (record == 1) return tag == 0 || tag == 20 || tag == 22 || tag == 120 || tag == 122;
  return record == 2 && tag == 0;
}

}  // namespace

// ---- Tags ------------------------------------------------------------------

TIPTCTag::TIPTCTag(TIPTCSection* section, uint8_t tagNumber) : FTagNumber(tagNumber), FSection(section) {}

void TIPTCTag::Dispose() {
  if (FSection) FSection->Detach(this);
  FValue.clear();
  TRefObject::Dispose();
}

std::u16string TIPTCTag::AsString() const {
  if (FSection && IsNumeric(FSection->RecordNumber(), FTagNumber)) {
    const auto& v = FValue;
    if (v.size() == 1) return Decimal(v[0]);
    if (v.size() == 2) return Decimal((v[0] << 8) | v[1]);
    if (v.size() == 4) {
      uint32_t u = (static_cast<uint32_t>(v[0]) << 24) | (static_cast<uint32_t>(v[1]) << 16) |
                   (static_cast<uint32_t>(v[2]) << 8) | v[3];
      return Decimal(static_cast<int32_t>(u));
    }
  }
  bool utf8 = FSection && FSection->Owner() && FSection->Owner()->UTF8Encoded;
  std::u16string s;
  if (!FValue.empty())
    foundation::AnsiBytesToUnicode(s, FValue.data(), FValue.size(), 0, static_cast<int>(FValue.size()),
                                   utf8 ? 65001u : 0u);
  return s;
}

// ---- Sections --------------------------------------------------------------

TIPTCSection::TIPTCSection(TIPTCData* owner, uint8_t record) : FRecord(record), FOwner(owner) {}

void TIPTCSection::Dispose() {
  Clear();
  TRefObject::Dispose();
}

TIPTCTag* TIPTCSection::Add(uint8_t tagNumber) { return Insert(Count(), tagNumber); }

TIPTCTag* TIPTCSection::Insert(int32_t index, uint8_t tagNumber) {
  QEL_ASSERT(index >= 0 && index <= Count(), u"IPTC tag index out of range");
  if (FSorted && index < Count() && FTags[static_cast<size_t>(index)]->FTagNumber < tagNumber) FSorted = false;
  auto* tag = new TIPTCTag(this, tagNumber);
  FTags.insert(FTags.begin() + index, tag);
  FModified = true;
  return tag;
}

TIPTCTag* TIPTCSection::Find(uint8_t tagNumber) const {
  for (TIPTCTag* t : FTags) {
    if (t->FTagNumber == tagNumber) return t;
    if (FSorted && t->FTagNumber > tagNumber) break;
  }
  return nullptr;
}

void TIPTCSection::Detach(TIPTCTag* tag) {
  auto it = std::find(FTags.begin(), FTags.end(), tag);
  if (it != FTags.end()) FTags.erase(it);
  tag->FSection = nullptr;
  FModified = true;
}

void TIPTCSection::Clear() {
  while (!FTags.empty()) {
    TIPTCTag* t = FTags.back();
    Detach(t);
    t->Free();
  }
  FSorted = true;
}

// ---- The data --------------------------------------------------------------

TIPTCData::TIPTCData() {
  for (int i = 0; i < 9; ++i) FSections[i] = new TIPTCSection(this, static_cast<uint8_t>(i + 1));
}

void TIPTCData::Dispose() {
  for (auto*& s : FSections) {
    if (s) s->Free();
    s = nullptr;
  }
  TRefObject::Dispose();
}

void TIPTCData::Clear() {
  for (auto* s : FSections)
    if (s) s->Clear();
}

bool TIPTCData::IsEmpty() const {
  for (auto* s : FSections)
    if (s && s->Count() > 0) return false;
  return true;
}

void TIPTCData::LoadFromStream(TStream* stream) {
  Clear();
  bool wasUtf8 = UTF8Encoded;
  UTF8Encoded = AlwaysAssumeUTF8Encoding;
  while (stream->GetPosition() <= stream->GetSize() - 5) {
    uint8_t marker = stream->ReadByte();
    if (marker != 0x1C) {
      stream->SetPosition(stream->GetPosition() - 1);
      break;
    }
    uint8_t record = stream->ReadByte();
    if (record == 0 || record > 9) {
      std::string m = "Invalid IPTC record number (" + std::to_string(record) + ")";
      throw EInvalidIPTCData(std::string_view(m));
    }
    uint8_t tagNumber = stream->ReadByte();
    uint32_t size = stream->ReadWordBE();
    if (size & 0x8000) {
      uint32_t n = size & 0x7FFF;
      if (n != 1 && n != 2 && n != 4) {
        std::string m = "Invalid IPTC tag size field (" + std::to_string(n) + ")";
        throw EInvalidIPTCData(std::string_view(m));
      }
      size = 0;
      for (uint32_t i = 0; i < n; ++i) size = (size << 8) | stream->ReadByte();
    }
    // The value holds what the stream has: a size beyond its end is never
    // allocated in full.
    int64_t left = std::max<int64_t>(0, stream->GetSize() - stream->GetPosition());
    std::vector<uint8_t> value(static_cast<size_t>(std::min<int64_t>(size, left)));
    int32_t got = value.empty() ? 0 : stream->ReadBuf(value.data(), static_cast<int32_t>(value.size()));
    value.resize(got > 0 ? static_cast<size_t>(got) : 0);
    TIPTCSection* section = FSections[record - 1];
    TIPTCTag* tag = section->Add(tagNumber);
    if (record == 1 && tagNumber == 90 && value.size() == 3 && value[0] == 0x1B && value[1] == 0x25 &&
        value[2] == 0x47)
      UTF8Encoded = true;
    tag->SetValue(std::move(value));
  }
  if (IsEmpty()) UTF8Encoded = wasUtf8;
  for (auto* s : FSections) {
    s->FModified = false;
    s->FSorted = true;
    for (size_t i = 1; i < s->FTags.size(); ++i)
      if (s->FTags[i]->TagNumber() < s->FTags[i - 1]->TagNumber()) s->FSorted = false;
  }
}

void TIPTCData::LoadFromJPEG(TStream* stream) {
  try {
    TJPEGMarkerSet markers;
    markers.set(0xED);
    // The walk reads marker bytes one at a time: a block cache keeps that
    // from becoming one system call per byte on a file.
    auto cache = foundation::TRef<container::TCachedReadStream>::Adopt(
        new container::TCachedReadStream(stream, false, 4096));
    cache->SetPosition(stream->GetPosition());
    auto parser = JPEGHeader(cache.Get(), markers, false);
    while (parser->MoveNext()) {
      TAdobeApp13Enumerator blocks = parser->Current()->GetEnumerator();
      while (blocks.MoveNext()) {
        if (blocks.Current()->IsIPTCBlock()) {
          TStream* data = blocks.Current()->GetData();
          data->SetPosition(0);
          LoadFromStream(data);
          return;
        }
      }
    }
    Clear();
  } catch (...) {
    Clear();
  }
}

std::u16string TIPTCData::GetAppString(uint8_t tagNumber) const {
  TIPTCTag* t = Section(2)->Find(tagNumber);
  return t ? t->AsString() : std::u16string();
}

std::vector<std::u16string> TIPTCData::GetAppStrings(uint8_t tagNumber) const {
  std::vector<std::u16string> r;
  const TIPTCSection* s = Section(2);
  for (int32_t i = 0; i < s->Count(); ++i)
    if (s->Tag(i)->TagNumber() == tagNumber) r.push_back(s->Tag(i)->AsString());
  return r;
}

std::u16string TrimFirstValue(const std::vector<std::u16string>& values) {
  if (values.empty()) return {};
  const std::u16string& s = values.front();
  size_t a = 0, b = s.size();
  while (a < b && s[a] < 33) ++a;
  while (b > a && s[b - 1] < 33) --b;
  return s.substr(a, b - a);
}

}  // namespace decoders
