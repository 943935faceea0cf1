#include "tests/support/MetadataMaker.h"

namespace testsupport {

void TiffBuilder::Put16(Bytes& b, uint16_t v) const {
  if (big_) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
  } else {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
}

void TiffBuilder::Put32(Bytes& b, uint32_t v) const {
  if (big_) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  } else {
    for (int s = 0; s <= 24; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
  }
}

TiffEntry TiffBuilder::Ascii(uint16_t tag, const std::string& text) const {
  TiffEntry e{tag, kTiffAscii, static_cast<uint32_t>(text.size() + 1), Bytes(text.begin(), text.end())};
  e.data.push_back(0);
  return e;
}

TiffEntry TiffBuilder::Short(uint16_t tag, uint16_t value) const {
  TiffEntry e{tag, kTiffShort, 1, {}};
  Put16(e.data, value);
  return e;
}

TiffEntry TiffBuilder::Long(uint16_t tag, uint32_t value) const {
  TiffEntry e{tag, kTiffLong, 1, {}};
  Put32(e.data, value);
  return e;
}

TiffEntry TiffBuilder::Rational(uint16_t tag, uint32_t num, uint32_t den, uint16_t type) const {
  TiffEntry e{tag, type, 1, {}};
  Put32(e.data, num);
  Put32(e.data, den);
  return e;
}

TiffEntry TiffBuilder::Undefined(uint16_t tag, const Bytes& bytes) const {
  return TiffEntry{tag, kTiffUndefined, static_cast<uint32_t>(bytes.size()), bytes};
}

TiffEntry TiffBuilder::Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) const {
  TiffEntry e{tag, type, count, {}};
  e.rawValue = true;
  e.valueField = field;
  return e;
}

Bytes TiffBuilder::Build() const {
  // Directory sizes first, so every offset is known before writing.
  std::vector<TiffEntry> d0 = ifd0, dx = exif, dg = gps, d1 = ifd1;
  if (!dx.empty()) d0.push_back(Long(0x8769, 0));
  if (!dg.empty()) d0.push_back(Long(0x8825, 0));
  if (!thumbnail.empty()) {
    d1.push_back(Long(0x0201, 0));
    d1.push_back(Long(0x0202, static_cast<uint32_t>(thumbnail.size())));
  }
  auto dirSize = [](const std::vector<TiffEntry>& d) { return d.empty() ? 0u : 2u + 12u * d.size() + 4u; };
  uint32_t off0 = 8;
  uint32_t offX = off0 + static_cast<uint32_t>(dirSize(d0));
  uint32_t offG = offX + static_cast<uint32_t>(dirSize(dx));
  uint32_t off1 = offG + static_cast<uint32_t>(dirSize(dg));
  uint32_t data = off1 + static_cast<uint32_t>(dirSize(d1));

  Bytes area;
  uint32_t thumbOffset = 0;
  if (!thumbnail.empty()) {
    thumbOffset = data;
    area = thumbnail;
    if (area.size() & 1) area.push_back(0);
  }
  auto fix = [&](std::vector<TiffEntry>& d, uint16_t tag, uint32_t value) {
    for (auto& e : d)
      if (e.tag == tag && !e.rawValue) {
        e.data.clear();
        Put32(e.data, value);
      }
  };
  fix(d0, 0x8769, offX);
  fix(d0, 0x8825, offG);
  fix(d1, 0x0201, thumbOffset);

  Bytes out;
  out.push_back(big_ ? 'M' : 'I');
  out.push_back(big_ ? 'M' : 'I');
  Put16(out, 42);
  Put32(out, off0);
  auto writeDir = [&](const std::vector<TiffEntry>& d, uint32_t next) {
    if (d.empty()) return;
    Put16(out, static_cast<uint16_t>(d.size()));
    for (const auto& e : d) {
      Put16(out, e.tag);
      Put16(out, e.type);
      Put32(out, e.count);
      if (e.rawValue) {
        Put32(out, e.valueField);
      } else if (e.data.size() <= 4) {
        Bytes v = e.data;
        v.resize(4, 0);
        out.insert(out.end(), v.begin(), v.end());
      } else {
        Put32(out, data + static_cast<uint32_t>(area.size()));
        area.insert(area.end(), e.data.begin(), e.data.end());
        if (area.size() & 1) area.push_back(0);
      }
    }
    Put32(out, next);
  };
  writeDir(d0, d1.empty() ? 0 : off1);
  writeDir(dx, 0);
  writeDir(dg, 0);
  writeDir(d1, 0);
  out.insert(out.end(), area.begin(), area.end());
  return out;
}

Bytes TiffBuilder::App1Payload() const {
  Bytes out = {'E', 'x', 'i', 'f', 0, 0};
  Bytes t = Build();
  out.insert(out.end(), t.begin(), t.end());
  return out;
}

Bytes IptcDataSet(uint8_t record, uint8_t dataset, const Bytes& value, int extendedBytes) {
  Bytes out = {0x1C, record, dataset};
  if (extendedBytes == 0 && value.size() > 32767) extendedBytes = 4;
  if (extendedBytes == 0) {
    out.push_back(static_cast<uint8_t>(value.size() >> 8));
    out.push_back(static_cast<uint8_t>(value.size()));
  } else {
    out.push_back(static_cast<uint8_t>(0x80 | (extendedBytes >> 8)));
    out.push_back(static_cast<uint8_t>(extendedBytes));
    for (int i = extendedBytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value.size() >> (8 * i)));
  }
  out.insert(out.end(), value.begin(), value.end());
  return out;
}

Bytes IptcText(uint8_t record, uint8_t dataset, const std::string& text) {
  return IptcDataSet(record, dataset, Bytes(text.begin(), text.end()));
}

Bytes AdobeResourceBlock(uint16_t id, const Bytes& data, const std::string& name) {
  Bytes out = {'8', 'B', 'I', 'M', static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id)};
  out.push_back(static_cast<uint8_t>(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  if ((name.size() & 1) == 0) out.push_back(0);
  uint32_t n = static_cast<uint32_t>(data.size());
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(n >> s));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
  return out;
}

Bytes App13Payload(const std::vector<Bytes>& blocks, bool photoshop25) {
  std::string id = photoshop25 ? std::string("Adobe_Photoshop2.5:") : std::string("Photoshop 3.0", 14);
  Bytes out(id.begin(), id.end());
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace testsupport
