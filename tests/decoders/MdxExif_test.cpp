// The Exif reader over hand-built APP1 segments spliced into real JPEGs, in
// both byte orders, with camera-like layouts and hostile directories.
#include "decoders/MdxExif.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/MetadataMaker.h"

namespace {

using decoders::TExif;
using foundation::TMemoryStream;
using foundation::TRef;
using testsupport::Bytes;
using testsupport::TiffBuilder;

Bytes SmallJpeg() {
  testsupport::JpegSpec spec;
  spec.width = 16;
  spec.height = 8;
  return testsupport::MakeJpeg(spec);
}

TRef<TMemoryStream> StreamOf(const Bytes& b) {
  auto s = TRef<TMemoryStream>::Adopt(new TMemoryStream());
  if (!b.empty()) s->WriteBuf(b.data(), static_cast<int32_t>(b.size()));
  s->SetPosition(0);
  return s;
}

TExif Load(const Bytes& jpeg) {
  TExif exif;
  auto s = StreamOf(jpeg);
  exif.LoadFromJPEG(s.Get());
  return exif;
}

Bytes WithApp1(const TiffBuilder& t) {
  return testsupport::SpliceSegment(SmallJpeg(), 0xE1, t.App1Payload());
}

// The tags a camera writes, with the values of the reader's documented cases.
TiffBuilder CameraLike(bool big) {
  TiffBuilder t(big);
  t.ifd0 = {t.Ascii(0x010E, "Harbour at dusk"), t.Ascii(0x010F, "MakerCo"), t.Ascii(0x0110, "Model X100"),
            t.Short(0x0112, 6), t.Rational(0x011A, 300, 1), t.Rational(0x011B, 72, 1),
            t.Ascii(0x0131, "Firmware 1.2"), t.Ascii(0x0132, "2019:05:01 10:00:00"),
            t.Ascii(0x013B, "A. Photographer"), t.Ascii(0x8298, "(c) 2019")};
  Bytes comment = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'H', 'o', 'l', 'i', 'd', 'a', 'y'};
  t.exif = {t.Rational(0x829A, 10, 2500), t.Rational(0x829D, 28, 10), t.Short(0x8822, 1),
            t.Short(0x8827, 400), t.Ascii(0x9003, "2019:05:01 12:34:56"), t.Ascii(0x9004, "2019:05:01 12:35:00"),
            t.Rational(0x9102, 5, 1), t.Rational(0x9201, 7, 1, testsupport::kTiffSRational),
            t.Rational(0x9202, 400, 100), t.Rational(0x9205, 35, 10), t.Short(0x9207, 5), t.Short(0x9208, 2),
            t.Short(0x9209, 25), t.Rational(0x920A, 50, 1), t.Undefined(0x9286, comment),
            t.Undefined(0x927C, Bytes(600, 0xA5)),  // a maker note, skipped
            t.Long(0xA002, 1024), t.Short(0xA003, 768)};
  t.gps = {t.Raw(0x0000, testsupport::kTiffByte, 4, 0x00000302), t.Ascii(0x0001, "N"),
           t.Rational(0x0002, 52, 1)};
  t.ifd1 = {t.Short(0x0103, 6)};
  t.thumbnail = SmallJpeg();
  return t;
}

class ExifByteOrder : public ::testing::TestWithParam<bool> {};

TEST_P(ExifByteOrder, ACameraLikeBlockGivesEveryFieldItsText) {
  TExif e = Load(WithApp1(CameraLike(GetParam())));
  EXPECT_TRUE(e.HasExif);
  EXPECT_EQ(e.Description, u"Harbour at dusk");
  EXPECT_EQ(e.Make, u"MakerCo");
  EXPECT_EQ(e.Model, u"Model X100");
  EXPECT_EQ(e.Orientation, 6);
  EXPECT_EQ(e.OrientationText, u"Rotated 90 right");
  EXPECT_EQ(e.XResolution, 300u);
  EXPECT_EQ(e.YResolution, 72u);
  EXPECT_EQ(e.Software, u"Firmware 1.2");
  EXPECT_EQ(e.DateTime, u"2019:05:01 10:00:00");
  EXPECT_EQ(e.Artist, u"A. Photographer");
  EXPECT_EQ(e.RightsNotice, u"(c) 2019");
  EXPECT_EQ(e.ExposureTimeText, u"1/250 seconds");
  EXPECT_EQ(e.FNumberText, u"2.8");
  EXPECT_EQ(e.ExposureProgram, 1);
  EXPECT_EQ(e.ExposureProgramText, u"Manual Control");
  EXPECT_EQ(e.IsoSpeed, 400);
  EXPECT_EQ(e.DateTimeTaken, u"2019:05:01 12:34:56");
  EXPECT_EQ(e.DateTimeDigitized, u"2019:05:01 12:35:00");
  EXPECT_EQ(e.CompressedBitsText, u"5.0");
  EXPECT_EQ(e.ShutterSpeedText, u"1/128 seconds");
  EXPECT_EQ(e.ApertureText, u"4.0");
  EXPECT_EQ(e.MaxApertureText, u"3.5");
  EXPECT_EQ(e.MeteringMode, 5);
  EXPECT_EQ(e.MeteringModeText, u"Pattern");
  EXPECT_EQ(e.LightSourceText, u"Flourescent");
  EXPECT_EQ(e.FlashText, u"Flash (Auto)");
  EXPECT_EQ(e.FocalLengthText, u"50/1 mm");
  EXPECT_EQ(e.UserComment, u"Holiday");
  EXPECT_EQ(e.PixelWidth, 1024);  // LONG keeps its value
  EXPECT_EQ(e.PixelHeight, 0);    // SHORT keeps only its low 8 bits: 768 = 0x300
}

INSTANTIATE_TEST_SUITE_P(LittleAndBigEndian, ExifByteOrder, ::testing::Values(false, true));

TEST(Exif, SmallValuesOfShortAndTextsOfUpToFourBytesLiveInTheEntry) {
  for (bool big : {false, true}) {
    TiffBuilder t(big);
    t.ifd0 = {t.Ascii(0x010F, "Abc"), t.Short(0x0112, 3)};
    t.exif = {t.Short(0xA002, 200), t.Short(0x9207, 255), t.Short(0x9209, 0), t.Short(0x8822, 0),
              t.Short(0x9208, 255)};
    TExif e = Load(WithApp1(t));
    EXPECT_EQ(e.Make, u"Abc") << big;
    EXPECT_EQ(e.OrientationText, u"Rotated 180") << big;
    EXPECT_EQ(e.PixelWidth, 200) << big;
    EXPECT_EQ(e.MeteringModeText, u"Unknown") << big;
    EXPECT_EQ(e.FlashText, u"No Flash") << big;
    EXPECT_EQ(e.ExposureProgramText, u"Unknown") << big;
    EXPECT_EQ(e.LightSourceText, u"Other") << big;
  }
}

TEST(Exif, TheFirstUserCommentOfTheImageDirectoryWinsThereTheExifOneAlways) {
  TiffBuilder t(false);
  t.ifd0 = {t.Ascii(0x9286, "first comment"), t.Ascii(0x9286, "second comment")};
  EXPECT_EQ(Load(WithApp1(t)).UserComment, u"first comment");
  t.exif = {t.Ascii(0x9286, "  from exif  ")};
  EXPECT_EQ(Load(WithApp1(t)).UserComment, u"  from exif");
}

TEST(Exif, TextsDecodeAsUtf8WhenValidElseInTheAnsiCodePage) {
  TiffBuilder t(false);
  t.ifd0 = {t.Ascii(0x010E, "Caf\xC3\xA9 "), t.Ascii(0x010F, "Caf\xE9")};
  TExif e = Load(WithApp1(t));
  EXPECT_EQ(e.Description, u"Caf\u00E9");  // trailing blank removed
  EXPECT_EQ(e.Make, u"Caf\u00E9");         // CP1252 0xE9
}

TEST(Exif, AnApp1AfterAnApp0OfUnusualLengthIsFoundBySearching) {
  Bytes jpeg = SmallJpeg();
  // Replace the usual 16-byte APP0 by one of 40 bytes, then the APP1 behind it.
  ASSERT_EQ(jpeg[2], 0xFF);
  ASSERT_EQ(jpeg[3], 0xE0);
  size_t app0Len = (jpeg[4] << 8) | jpeg[5];
  Bytes app0 = {0xFF, 0xE0, 0x00, 40};
  app0.resize(2 + 40, 0x20);
  TiffBuilder t(true);
  t.ifd0 = {t.Ascii(0x0110, "Found")};
  Bytes p = t.App1Payload();
  Bytes app1 = {0xFF, 0xE1, static_cast<uint8_t>((p.size() + 2) >> 8), static_cast<uint8_t>(p.size() + 2)};
  app1.insert(app1.end(), p.begin(), p.end());
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), app0.begin(), app0.end());
  out.insert(out.end(), app1.begin(), app1.end());
  out.insert(out.end(), jpeg.begin() + 4 + static_cast<long>(app0Len), jpeg.end());
  TExif e = Load(out);
  EXPECT_TRUE(e.HasExif);
  EXPECT_EQ(e.Model, u"Found");
}

TEST(Exif, WithoutSoiOrWithoutApp1NothingIsRead) {
  TExif none = Load(SmallJpeg());
  EXPECT_FALSE(none.HasExif);
  EXPECT_TRUE(none.Make.empty());
  TiffBuilder t(false);
  t.ifd0 = {t.Ascii(0x010F, "X")};
  Bytes jpeg = WithApp1(t);
  jpeg[1] = 0xD9;
  TExif bad = Load(jpeg);
  EXPECT_FALSE(bad.HasExif);
  EXPECT_TRUE(bad.Make.empty());
}

TEST(Exif, AStreamShorterThanTwoBytesRaisesTheReadError) {
  TExif e;
  auto s = StreamOf(Bytes{0xFF});
  EXPECT_THROW(e.LoadFromJPEG(s.Get()), foundation::EStreamReadError);
}

TEST(Exif, LoadingAgainClearsWhatTheLastFileGave) {
  TExif e;
  auto a = StreamOf(WithApp1(CameraLike(false)));
  e.LoadFromJPEG(a.Get());
  ASSERT_FALSE(e.Make.empty());
  auto b = StreamOf(SmallJpeg());
  e.LoadFromJPEG(b.Get());
  EXPECT_TRUE(e.Make.empty());
  EXPECT_EQ(e.IsoSpeed, 0);
  EXPECT_FALSE(e.HasExif);
}

struct RationalCase {
  uint32_t num, den;
  const char16_t* decimal;
  const char16_t* fraction;
  const char16_t* shutter;
};

TEST(Exif, RationalTexts) {
  // Worked out by hand from the rules: two decimals with one trailing zero
  // dropped; fractions reduced to 1/n when the numerator divides the
  // denominator; shutter 1/round(2^x).
  const RationalCase cases[] = {
      {28, 10, u"2.8", u"28/10", u"1/7 seconds"},       // 2^2.8 = 6.96
      {4, 1, u"4.0", u"4/1", u"1/16 seconds"},
      {1, 3, u"0.33", u"1/3", u"1/1 seconds"},          // 2^0.333 = 1.26
      {10, 1250, u"0.01", u"1/125", u"1/1 seconds"},
      {7, 1000000, u"0.0", u"0", u"1/1 seconds"},       // 0.000007 -> "0.00" -> "0.0"
      {0, 5, u"0.0", u"0/5", u"1/1 seconds"},
      {6643856, 1000000, u"6.64", u"0", u"1/100 seconds"},
      {20000, 1, u"20000.0", u"20000/1", u""},          // 16000 < x < 65535
      {70000, 1, u"70000.0", u"70000/1", u"1 seconds"},
      {0xFFFFFFF9u, 1, u"4294967289.0", u"-7/1", u"1 seconds"},  // -7 read as unsigned
      {1000, 1, u"1000.0", u"1000/1", u""},             // 2^1000 has no whole-number text
      {5, 0, u"", u"", u""},                            // zero denominators give nothing
      {0, 0, u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den));
    EXPECT_EQ(decoders::ExifDecimalText(c.num, c.den), c.decimal);
    EXPECT_EQ(decoders::ExifFractionText(c.num, c.den), c.fraction);
    EXPECT_EQ(decoders::ExifShutterSpeedText(c.num, c.den), c.shutter);
  }
}

TEST(Exif, ZeroDenominatorsInAFileLeaveTheTextsEmpty) {
  TiffBuilder t(false);
  t.exif = {t.Rational(0x829A, 1, 0), t.Rational(0x829D, 28, 0), t.Rational(0x9201, 7, 0),
            t.Rational(0x920A, 50, 0), t.Rational(0x9202, 0, 0)};
  TExif e = Load(WithApp1(t));
  EXPECT_TRUE(e.HasExif);
  EXPECT_EQ(e.ExposureTimeText, u"");
  EXPECT_EQ(e.FNumberText, u"");
  EXPECT_EQ(e.ShutterSpeedText, u"");
  EXPECT_EQ(e.FocalLengthText, u"");
  EXPECT_EQ(e.ApertureText, u"");
}

TEST(Exif, HostileDirectoriesEndCleanly) {
  // Offsets anywhere, counts past the end, a sub-directory that points back
  // at the first one, and texts without terminators or beyond the limit.
  TiffBuilder t(false);
  t.ifd0 = {t.Raw(0x010E, testsupport::kTiffAscii, 20000, 8),          // count above 10000
            t.Raw(0x010F, testsupport::kTiffAscii, 9000, 0x7FFFFFF0),  // text past the end
            t.Raw(0x0110, testsupport::kTiffAscii, 4, 0x41424344),     // inline, no terminator
            t.Raw(0x011A, testsupport::kTiffRational, 1, 0xFFFFFFF0),  // resolution past the end
            t.Raw(0x8769, testsupport::kTiffLong, 1, 8)};              // Exif directory = IFD0
  TExif e = Load(WithApp1(t));
  EXPECT_TRUE(e.HasExif);
  EXPECT_EQ(e.Description, u"");
  EXPECT_EQ(e.Make, u"");
  EXPECT_EQ(e.Model, u"DCBA");
  EXPECT_EQ(e.XResolution, 0u);
}

TEST(Exif, ARationalOrASubDirectoryCountPastTheEndRaisesTheReadError) {
  TiffBuilder t(true);
  t.exif = {t.Raw(0x829D, testsupport::kTiffRational, 1, 0x00FFFFF0)};
  TExif e;
  auto s = StreamOf(WithApp1(t));
  EXPECT_THROW(e.LoadFromJPEG(s.Get()), foundation::EStreamReadError);

  TiffBuilder u(false);
  u.ifd0 = {u.Raw(0x8769, testsupport::kTiffLong, 1, 0x0FFFFFFF)};
  auto s2 = StreamOf(WithApp1(u));
  EXPECT_THROW(e.LoadFromJPEG(s2.Get()), foundation::EStreamReadError);
}

TEST(Exif, AnImageDirectoryCountOfZeroReadsUpToAHundredEntries) {
  TiffBuilder t(false);
  t.ifd0 = {t.Ascii(0x010F, "Counted")};
  Bytes p = t.App1Payload();
  // The count is at TIFF offset 8, behind "Exif\0\0".
  p[6 + 8] = 0;
  p[6 + 9] = 0;
  TExif e = Load(testsupport::SpliceSegment(SmallJpeg(), 0xE1, p));
  EXPECT_EQ(e.Make, u"Counted");
}

TEST(Exif, TruncatedFilesNeverReadOutside) {
  Bytes full = WithApp1(CameraLike(false));
  int live = foundation::LiveObjectCount();
  for (size_t n = 2; n < 700 && n < full.size(); n += 7) {
    Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
    TExif e;
    auto s = StreamOf(cut);
    try {
      e.LoadFromJPEG(s.Get());
    } catch (const foundation::EStreamReadError&) {
      // a rational or the sub-directory count behind the cut
    }
  }
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

}  // namespace
