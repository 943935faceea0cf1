#include "decoders/MdxExif.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "container/kvPartialStream.h"
#include "foundation/SysObj.h"
#include "foundation/kpStringUtils.h"
#include "foundation/kvUTF8.h"

namespace decoders {

using foundation::TStream;

namespace {

std::u16string Ascii(const char* s) {
  std::u16string r;
  for (; *s; ++s) r.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return r;
}

void TrimTrailingBlanks(std::u16string& s) {
  while (!s.empty() && s.back() <= u' ') s.pop_back();
}

// Bytes of a text entry: trailing zeros dropped, UTF-8 when valid, else the
// ANSI code page.
std::u16string DecodeText(const uint8_t* bytes, size_t n) {
  while (n > 0 && bytes[n - 1] == 0) --n;
  std::u16string s;
  if (n == 0) return s;
  if (!foundation::UTF8BytesToUnicode(bytes, n, 0, static_cast<int>(n), s))
    foundation::AnsiBytesToUnicode(s, bytes, n, 0, static_cast<int>(n), 0);
  TrimTrailingBlanks(s);
  return s;
}

// Reads up to n bytes; answers the number read (never raises).
int32_t ReadSome(TStream* s, uint8_t* buf, int32_t n) {
  return s->ReadBuf(buf, n);
}

}  // namespace

std::u16string ExifOrientationText(uint32_t v) {
  static const char* const kTexts[] = {"Normal", "Mirrored", "Rotated 180", "Rotated 180, mirrored",
                                       "Rotated 90 left, mirrored", "Rotated 90 right",
                                       "Rotated 90 right, mirrored", "Rotated 90 left"};
  if (v >= 1 && v <= 8) return Ascii(kTexts[v - 1]);
  return u"Unknown";
}

std::u16string ExifExposureProgramText(uint32_t v) {
  static const char* const kTexts[] = {"Unknown", "Manual Control", "Normal Program", "Aperture Priority",
                                       "Shutter Priority", "Creative Program", "Action Program",
                                       "Portrait Mode", "Landscape Mode"};
  if (v <= 8) return Ascii(kTexts[v]);
  return u"Unknown";
}

std::u16string ExifMeteringModeText(uint32_t v) {
  static const char* const kTexts[] = {"Unknown", "Average", "Center Weighted Average", "Spot",
                                       "Multi Spot", "Pattern", "Partial", "Other"};
  if (v <= 7) return Ascii(kTexts[v]);
  return u"Unknown";
}

std::u16string ExifLightSourceText(uint32_t v) {
  switch (v) {
    case 1: return u"Daylight";
    case 2: return u"Flourescent";
    case 3: return u"Tungsten";
    case 10: return u"Flash";
    case 17: return u"Standard Light A";
    case 18: return u"Standard Light B";
    case 19: return u"Standard Light C";
    case 20: return u"D55";
    case 21: return u"D65";
    case 22: return u"D75";
    case 255: return u"Other";
    default: return u"Unknown";
  }
}

std::u16string ExifFlashText(uint32_t v) {
  switch (v) {
    case 1: return u"Flash";
    case 5: return u"Flash No Strobe";
    case 7: return u"Flash Strobe";
    case 25: return u"Flash (Auto)";
    default: return u"No Flash";
  }
}

std::u16string ExifDecimalText(uint32_t num, uint32_t den) {
  if (den == 0) return {};
  double x = static_cast<double>(num) / static_cast<double>(den);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", x);
  std::u16string s = Ascii(buf);
  if (s.size() > 1 && s.back() == u'0') s.pop_back();
  return s;
}

std::u16string ExifFractionText(uint32_t num, uint32_t den) {
  if (den == 0) return {};
  if (den == 1000000) return u"0";
  if (num != 0 && den % num == 0) {
    den /= num;
    num = 1;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d/%d", static_cast<int32_t>(num), static_cast<int32_t>(den));
  return Ascii(buf);
}

std::u16string ExifShutterSpeedText(uint32_t num, uint32_t den) {
  if (den == 0) return {};
  float x = static_cast<float>(static_cast<double>(num) / static_cast<double>(den));
  if (!std::isfinite(x)) return {};
  if (x > 16000.0f && x < 65535.0f) return {};
  if (x <= 16000.0f) {
    double p = std::nearbyint(std::exp2(static_cast<double>(x)));
    // Beyond 64-bit integers the whole number cannot be formatted.
    if (!std::isfinite(p) || p >= 9223372036854775807.0) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "1/%lld seconds", static_cast<long long>(p));
    return Ascii(buf);
  }
  return u"1 seconds";
}

void TExif::Clear() {
  Description.clear();
  Make.clear();
  Model.clear();
  Orientation = 0;
  OrientationText.clear();
  RightsNotice.clear();
  HasExif = false;
  DateTime.clear();
  DateTimeTaken.clear();
  DateTimeDigitized.clear();
  UserComment.clear();
  ExposureTimeText.clear();
  FocalLengthText.clear();
  FNumberText.clear();
  ShutterSpeedText.clear();
  ApertureText.clear();
  MaxApertureText.clear();
  ExposureProgram = 0;
  ExposureProgramText.clear();
  PixelWidth = 0;
  PixelHeight = 0;
  XResolution = 0;
  YResolution = 0;
  MeteringMode = 0;
  MeteringModeText.clear();
  LightSource = 0;
  LightSourceText.clear();
  Flash = 0;
  FlashText.clear();
  IsoSpeed = 0;
  Software.clear();
  Artist.clear();
  CompressedBitsText.clear();
  FExifOffset = 0;
  FBigEndian = false;
  FBase = 0;
}

uint16_t TExif::Swap16(uint16_t v) const {
  return FBigEndian ? static_cast<uint16_t>((v >> 8) | (v << 8)) : v;
}

uint32_t TExif::Swap32(uint32_t v) const {
  if (!FBigEndian) return v;
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

bool TExif::ReadEntry(Entry& e) {
  // A short read keeps the bytes of the entry before; nothing left ends the walk.
  if (ReadSome(FStream, FEntryBytes, 12) <= 0) return false;
  const uint8_t* b = FEntryBytes;
  auto le16 = [&](int i) { return static_cast<uint16_t>(b[i] | (b[i + 1] << 8)); };
  auto le32 = [&](int i) {
    return static_cast<uint32_t>(b[i]) | (static_cast<uint32_t>(b[i + 1]) << 8) |
           (static_cast<uint32_t>(b[i + 2]) << 16) | (static_cast<uint32_t>(b[i + 3]) << 24);
  };
  e.tag = Swap16(le16(0));
  e.type = Swap16(le16(2));
  e.count = Swap32(le32(4));
  uint32_t v = Swap32(le32(8));
  for (int i = 0; i < 4; ++i) e.raw[i] = b[8 + i];
  if (e.type == 1 || e.type == 3) {
    if (e.tag == 0x8827 && (!FBigEndian || e.type == 3)) {
      // The ISO speed keeps its whole value in either byte order (the low
      // byte alone would show ISO 400 as 144).
      if (FBigEndian) v >>= 16;
    } else {
      v = FBigEndian ? ((v >> 16) & 0xFF) : (v & 0xFF);
    }
  }
  e.value = v;
  return true;
}

std::u16string TExif::ReadText(const Entry& e) {
  if (e.count > 10000) return {};
  if (e.count <= 4) return DecodeText(e.raw, e.count);
  std::vector<uint8_t> bytes(e.count);
  int64_t keep = FStream->GetPosition();
  FStream->SetPosition(FBase + e.value);
  int32_t got = ReadSome(FStream, bytes.data(), static_cast<int32_t>(e.count));
  FStream->SetPosition(keep);
  return DecodeText(bytes.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

std::u16string TExif::ReadUserComment(const Entry& e) {
  std::u16string s = ReadText(e);
  if (s.size() >= 5 && s.compare(0, 5, u"ASCII") == 0) {
    s.erase(0, std::min<size_t>(8, s.size()));
    size_t a = 0;
    while (a < s.size() && s[a] == u' ') ++a;
    s.erase(0, a);
    while (!s.empty() && s.back() == u' ') s.pop_back();
  }
  TrimTrailingBlanks(s);
  return s;
}

void TExif::ReadRational(uint32_t offset, uint32_t& num, uint32_t& den) {
  int64_t keep = FStream->GetPosition();
  FStream->SetPosition(FBase + offset);
  // Past the end this raises the stream read error to the caller.
  num = Swap32(FStream->ReadDWord());
  den = Swap32(FStream->ReadDWord());
  FStream->SetPosition(keep);
}

uint32_t TExif::ReadLongAt(uint32_t offset, uint32_t previous) {
  int64_t keep = FStream->GetPosition();
  FStream->SetPosition(FBase + offset);
  uint8_t b[4];
  int32_t got = ReadSome(FStream, b, 4);
  FStream->SetPosition(keep);
  if (got < 4) return previous;
  return Swap32(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

void TExif::ReadFirstDirectory() {
  uint8_t cb[2] = {0, 0};
  ReadSome(FStream, cb, 2);
  uint32_t count = Swap16(static_cast<uint16_t>(cb[0] | (cb[1] << 8)));
  if (count == 0) count = 100;
  bool haveComment = false;
  Entry e;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadEntry(e) || e.tag == 0) break;
    switch (e.tag) {
      case 0x010E: Description = ReadText(e); break;
      case 0x010F: Make = ReadText(e); break;
      case 0x0110: Model = ReadText(e); break;
      case 0x0131: Software = ReadText(e); break;
      case 0x0132: DateTime = ReadText(e); break;
      case 0x013B: Artist = ReadText(e); break;
      case 0x0112:
        Orientation = static_cast<uint8_t>(e.value);
        OrientationText = ExifOrientationText(Orientation);
        break;
      case 0x8298: RightsNotice = ReadText(e); break;
      case 0x011A: XResolution = ReadLongAt(e.value, XResolution); break;
      case 0x011B: YResolution = ReadLongAt(e.value, YResolution); break;
      case 0x8769: FExifOffset = e.value; break;
      case 0x9286:
        if (!haveComment) {
          UserComment = ReadUserComment(e);
          haveComment = true;
        }
        break;
      default: break;
    }
  }
}

void TExif::ReadExifDirectory() {
  FStream->SetPosition(FBase + FExifOffset);
  uint32_t count = Swap16(FStream->ReadWord());
  Entry e;
  uint32_t num = 0, den = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!ReadEntry(e) || e.tag == 0) break;
    switch (e.tag) {
      case 0x829A:
        ReadRational(e.value, num, den);
        ExposureTimeText = ExifFractionText(num, den);
        if (!ExposureTimeText.empty()) ExposureTimeText += u" seconds";
        break;
      case 0x829D:
        ReadRational(e.value, num, den);
        FNumberText = ExifDecimalText(num, den);
        break;
      case 0x8822:
        ExposureProgram = static_cast<uint8_t>(e.value);
        ExposureProgramText = ExifExposureProgramText(ExposureProgram);
        break;
      case 0x8827: IsoSpeed = static_cast<uint16_t>(e.value); break;
      case 0x9003: DateTimeTaken = ReadText(e); break;
      case 0x9004: DateTimeDigitized = ReadText(e); break;
      case 0x9102:
        ReadRational(e.value, num, den);
        CompressedBitsText = ExifDecimalText(num, den);
        break;
      case 0x9201:
        ReadRational(e.value, num, den);
        ShutterSpeedText = ExifShutterSpeedText(num, den);
        break;
      case 0x9202:
        ReadRational(e.value, num, den);
        ApertureText = ExifDecimalText(num, den);
        break;
      case 0x9205:
        ReadRational(e.value, num, den);
        MaxApertureText = ExifDecimalText(num, den);
        break;
      case 0x9207:
        MeteringMode = static_cast<uint8_t>(e.value);
        MeteringModeText = ExifMeteringModeText(MeteringMode);
        break;
      case 0x9208:
        LightSource = static_cast<uint8_t>(e.value);
        LightSourceText = ExifLightSourceText(LightSource);
        break;
      case 0x9209:
        Flash = static_cast<uint8_t>(e.value);
        FlashText = ExifFlashText(Flash);
        break;
      case 0x920A:
        ReadRational(e.value, num, den);
        FocalLengthText = ExifFractionText(num, den);
        if (!FocalLengthText.empty()) FocalLengthText += u" mm";
        break;
      case 0x9286: UserComment = ReadUserComment(e); break;
      case 0xA002: PixelWidth = static_cast<int32_t>(e.value); break;
      case 0xA003: PixelHeight = static_cast<int32_t>(e.value); break;
      default: break;
    }
  }
}

void TExif::LoadFromJPEG(TStream* stream) {
  Clear();
  auto cache = foundation::TRef<container::TCachedReadStream>::Adopt(
      new container::TCachedReadStream(stream, false, 1024));
  FStream = cache.Get();
  struct Reset {
    TStream*& s;
    ~Reset() { s = nullptr; }
  } reset{FStream};

  FStream->SetPosition(0);
  uint16_t soi = FStream->ReadWord();
  if (soi != 0xD8FF) return;

  uint8_t seg[9] = {};
  ReadSome(FStream, seg, 9);
  if (seg[0] == 0xFF && seg[1] == 0xE0) {
    FStream->SetPosition(20);
    ReadSome(FStream, seg, 9);
  }
  if (!(seg[0] == 0xFF && seg[1] == 0xE1)) {
    int64_t from = FStream->GetPosition();
    std::vector<uint8_t> buf(2000);
    int32_t got = ReadSome(FStream, buf.data(), 2000);
    FStream->SetPosition(from);
    for (int32_t i = 0; i + 3 <= got; ++i) {
      if (buf[i] == 0xFF && buf[i + 1] == 0xE1) {
        FStream->SetPosition(from + i);
        ReadSome(FStream, seg, 9);
        break;
      }
    }
  }
  if (!(seg[0] == 0xFF && seg[1] == 0xE1)) return;
  HasExif = true;
  FBase = FStream->GetPosition() + 1;

  uint8_t head[11] = {};
  ReadSome(FStream, head, 11);
  FBigEndian = head[1] == 'M' && head[2] == 'M';
  uint32_t dir = static_cast<uint32_t>(head[5]) | (static_cast<uint32_t>(head[6]) << 8) |
                 (static_cast<uint32_t>(head[7]) << 16) | (static_cast<uint32_t>(head[8]) << 24);
  dir = Swap32(dir);
  FStream->SetPosition(FBase + dir);
  ReadFirstDirectory();
  if (FExifOffset != 0) ReadExifDirectory();
}

}  // namespace decoders
