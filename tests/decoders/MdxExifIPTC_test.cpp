// The JPEG segment walk, Adobe resource blocks and IPTC data, over segments
// built byte by byte and spliced into real JPEGs; whole photo files read by
// both metadata readers.
#include "decoders/MdxExifIPTC.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoders/MdxExif.h"
#include "decoders/MdxExifJpegUtils.h"
#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvStream.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/MetadataMaker.h"

namespace {

using namespace decoders;
using foundation::TMemoryStream;
using foundation::TRef;
using testsupport::AdobeResourceBlock;
using testsupport::App13Payload;
using testsupport::Bytes;
using testsupport::IptcDataSet;
using testsupport::IptcText;

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

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes JpegWithIptc(const Bytes& iptc, bool photoshop25 = false) {
  Bytes app13 = App13Payload({AdobeResourceBlock(0x03ED, Bytes(16, 1)), AdobeResourceBlock(0x0404, iptc)},
                             photoshop25);
  return testsupport::SpliceSegment(SmallJpeg(), 0xED, app13);
}

TRef<TIPTCData> LoadIptc(const Bytes& jpeg) {
  auto d = TRef<TIPTCData>::Adopt(new TIPTCData());
  auto s = StreamOf(jpeg);
  d->LoadFromJPEG(s.Get());
  return d;
}

// ---- Segment walk -------------------------------------------------------------

std::vector<uint8_t> Walk(const Bytes& jpeg, const TJPEGMarkerSet& markers) {
  std::vector<uint8_t> found;
  auto s = StreamOf(jpeg);
  auto p = JPEGHeader(s.Get(), markers, false);
  while (p->MoveNext()) found.push_back(p->Current()->Marker());
  return found;
}

TEST(JpegSegments, TheWalkHandsOutTheChosenMarkersWithTheirPayloads) {
  Bytes jpeg = testsupport::SpliceSegment(SmallJpeg(), 0xE5, Bytes{1, 2, 3});
  TJPEGMarkerSet m;
  m.set(0xE5);
  m.set(0xDB);
  auto s = StreamOf(jpeg);
  auto p = JPEGHeader(s.Get(), m, false);
  ASSERT_TRUE(p->MoveNext());
  EXPECT_EQ(p->Current()->Marker(), 0xE5);
  ASSERT_EQ(p->Current()->Data()->GetSize(), 3);
  EXPECT_EQ(p->Current()->Data()->ReadByte(), 1);
  ASSERT_TRUE(p->MoveNext());
  EXPECT_EQ(p->Current()->Marker(), 0xDB);  // the quantization tables
}

TEST(JpegSegments, FillBytesBeforeAMarkerAreSkipped) {
  Bytes jpeg = SmallJpeg();
  Bytes seg = {0xFF, 0xFF, 0xFF, 0xE1, 0x00, 0x04, 'a', 'b'};
  jpeg.insert(jpeg.begin() + 2, seg.begin(), seg.end());
  TJPEGMarkerSet m;
  m.set(0xE1);
  EXPECT_EQ(Walk(jpeg, m), std::vector<uint8_t>{0xE1});
}

TEST(JpegSegments, ASegmentBehindTheScanDataIsNotReached) {
  // The APP13 segment sits between the entropy-coded data and EOI.
  Bytes payload = App13Payload({AdobeResourceBlock(0x0404, {0x1C, 2, 5, 0, 1, 'x'})});
  Bytes seg = {0xFF, 0xED, static_cast<uint8_t>((payload.size() + 2) >> 8), static_cast<uint8_t>(payload.size() + 2)};
  seg.insert(seg.end(), payload.begin(), payload.end());
  Bytes plain = SmallJpeg();
  Bytes jpeg = testsupport::InsertBytes(plain, plain.size() - 2, seg);
  TJPEGMarkerSet m;
  m.set(0xED);
  EXPECT_TRUE(Walk(jpeg, m).empty());
  EXPECT_TRUE(LoadIptc(jpeg)->IsEmpty());
}

TEST(JpegSegments, AStreamWithoutSoiIsRefusedWithItsMessage) {
  auto s = StreamOf(Bytes{0x89, 'P', 'N', 'G'});
  TJPEGMarkerSet m;
  try {
    JPEGHeader(s.Get(), m, false);
    FAIL() << "no exception";
  } catch (const EInvalidJPEGHeader& e) {
    EXPECT_EQ(e.Message(), u"JPEG header is not valid");
  }
}

TEST(JpegSegments, AnOwnedStreamIsFreedWhenTheWalkEndsOrTheHeaderIsRefused) {
  int live = foundation::LiveObjectCount();
  {
    auto* s = new TMemoryStream();
    Bytes jpeg = SmallJpeg();
    s->WriteBuf(jpeg.data(), static_cast<int32_t>(jpeg.size()));
    s->SetPosition(0);
    TJPEGMarkerSet m;
    m.set(0xE0);
    auto p = JPEGHeader(s, m, true);
    while (p->MoveNext()) {
    }
  }
  {
    auto* s = new TMemoryStream();
    s->WriteByte(0);
    s->WriteByte(0);
    s->SetPosition(0);
    EXPECT_THROW(JPEGHeader(s, TJPEGMarkerSet(), true), EInvalidJPEGHeader);
  }
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

TEST(JpegSegments, AStreamEndingInsideALengthRaisesTheReadError) {
  Bytes cut = {0xFF, 0xD8, 0xFF, 0xE1, 0x00};
  auto s = StreamOf(cut);
  auto p = JPEGHeader(s.Get(), TJPEGMarkerSet(), false);
  EXPECT_THROW(p->MoveNext(), foundation::EStreamReadError);
}

// ---- Adobe blocks ------------------------------------------------------------

TEST(AdobeBlocks, NamesArePaddedToAnEvenSizeWithTheirLengthByte) {
  // Name length 0: one pad byte follows. Name length 1: none.
  Bytes two = Concat({AdobeResourceBlock(0x0404, {0x1C, 1, 2, 3, 4}, ""), AdobeResourceBlock(0x0405, {9}, "N")});
  ASSERT_EQ(two[6], 0);  // length byte
  ASSERT_EQ(two[7], 0);  // its pad
  auto s = StreamOf(two);
  auto a = TRef<TAdobeBlock>::Adopt(new TAdobeBlock(s.Get()));
  EXPECT_EQ(a->Signature, "8BIM");
  EXPECT_EQ(a->TypeID, 0x0404);
  EXPECT_EQ(a->Name, "");
  EXPECT_EQ(a->GetData()->GetSize(), 5);
  EXPECT_TRUE(a->IsIPTCBlock());
  auto b = TRef<TAdobeBlock>::Adopt(new TAdobeBlock(s.Get()));
  EXPECT_EQ(b->TypeID, 0x0405);
  EXPECT_EQ(b->Name, "N");
  EXPECT_EQ(b->GetData()->GetSize(), 1);
  EXPECT_FALSE(b->IsIPTCBlock());
  EXPECT_EQ(s->GetPosition(), s->GetSize());
}

TEST(AdobeBlocks, TheIdentifierDecidesWhereTheBlocksStart) {
  for (bool ps25 : {false, true}) {
    Bytes payload = App13Payload({AdobeResourceBlock(0x0404, {0x1C, 2, 105, 0, 2, 'H', 'i'})}, ps25);
    Bytes jpeg = testsupport::SpliceSegment(SmallJpeg(), 0xED, payload);
    TJPEGMarkerSet m;
    m.set(0xED);
    auto s = StreamOf(jpeg);
    auto p = JPEGHeader(s.Get(), m, false);
    ASSERT_TRUE(p->MoveNext());
    EXPECT_TRUE(p->Current()->IsAdobeApp13());
    EXPECT_EQ(p->Current()->AdobeHeaderSize(), ps25 ? 19 : 14);
    auto blocks = p->Current()->GetEnumerator();
    ASSERT_TRUE(blocks.MoveNext());
    EXPECT_EQ(blocks.Current()->TypeID, 0x0404);
    EXPECT_FALSE(blocks.MoveNext());
  }
}

TEST(AdobeBlocks, ShortOrForeignApp13SegmentsAreNotAdobeData) {
  Bytes shortOne(std::begin("Photoshop 3.0"), std::end("Photoshop 3.0"));  // 14 bytes
  shortOne.resize(19, 0);
  Bytes foreign(40, 'z');
  for (const Bytes& payload : {shortOne, foreign}) {
    Bytes jpeg = testsupport::SpliceSegment(SmallJpeg(), 0xED, payload);
    TJPEGMarkerSet m;
    m.set(0xED);
    auto s = StreamOf(jpeg);
    auto p = JPEGHeader(s.Get(), m, false);
    ASSERT_TRUE(p->MoveNext());
    EXPECT_FALSE(p->Current()->IsAdobeApp13());
    EXPECT_FALSE(p->Current()->GetEnumerator().MoveNext());
  }
}

TEST(AdobeBlocks, ALyingDataSizeReadsOnlyWhatIsThere) {
  Bytes block = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0x7F, 0xFF, 0xFF, 0xFE, 0x1C, 2, 5};
  auto s = StreamOf(block);
  auto a = TRef<TAdobeBlock>::Adopt(new TAdobeBlock(s.Get()));
  EXPECT_EQ(a->GetData()->GetSize(), 3);
  Bytes negative = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, 0xFF, 0xFF, 0xFF, 0xF0, 0x1C};
  auto s2 = StreamOf(negative);
  auto b = TRef<TAdobeBlock>::Adopt(new TAdobeBlock(s2.Get()));
  EXPECT_EQ(b->GetData()->GetSize(), 0);
}

// ---- IPTC ----------------------------------------------------------------------

TEST(Iptc, ApplicationRecordTextsByDatasetNumber) {
  struct Field {
    uint8_t tag;
    const char* text;
  };
  const Field fields[] = {{5, "Object"}, {40, "Handle with care"}, {85, "Staff"}, {90, "Lisbon"},
                          {92, "Alfama"}, {95, "Lisboa"}, {101, "Portugal"}, {103, "REF-7"},
                          {105, "Trams at noon"}, {110, "Agency"}, {115, "Own work"}, {116, "(c) 2021"},
                          {120, "A yellow tram climbs the hill."}, {122, "Editor One"}};
  std::vector<Bytes> sets = {IptcDataSet(2, 0, {0x00, 0x04})};
  for (const auto& f : fields) sets.push_back(IptcText(2, f.tag, f.text));
  sets.push_back(IptcText(2, 80, "  First Byline\t"));
  sets.push_back(IptcText(2, 80, "Second Byline"));
  auto d = LoadIptc(JpegWithIptc(Concat(sets)));
  for (const auto& f : fields) {
    std::string t = f.text;
    EXPECT_EQ(d->GetAppString(f.tag), std::u16string(t.begin(), t.end())) << int(f.tag);
  }
  EXPECT_EQ(d->GetAppString(0), u"4");  // the record version is a number
  auto bylines = d->GetAppStrings(iptcBylines);
  ASSERT_EQ(bylines.size(), 2u);
  EXPECT_EQ(bylines[0], u"  First Byline\t");
  EXPECT_EQ(bylines[1], u"Second Byline");
  EXPECT_EQ(TrimFirstValue(bylines), u"First Byline");
  EXPECT_EQ(TrimFirstValue({}), u"");
  EXPECT_TRUE(d->GetAppStrings(iptcWritersOrEditors).size() == 1);
  EXPECT_TRUE(d->GetAppStrings(26).empty());
}

TEST(Iptc, KeywordsAloneGiveNoHeadline) {
  auto d = LoadIptc(JpegWithIptc(Concat({IptcText(2, 25, "tram"), IptcText(2, 25, "city")})));
  EXPECT_FALSE(d->IsEmpty());
  EXPECT_EQ(d->GetAppString(iptcHeadline), u"");
  EXPECT_EQ(d->GetAppStrings(25).size(), 2u);
}

TEST(Iptc, TheCodedCharacterSetDecidesUtf8) {
  const std::string utf8City = "Sa\xC3\xA3o";  // "Saão" in UTF-8
  Bytes withEsc = Concat({IptcDataSet(1, 90, {0x1B, 0x25, 0x47}), IptcText(2, 90, utf8City)});
  auto a = LoadIptc(JpegWithIptc(withEsc));
  EXPECT_TRUE(a->UTF8Encoded);
  EXPECT_EQ(a->GetAppString(iptcCity), u"Sa\u00E3o");
  auto b = LoadIptc(JpegWithIptc(IptcText(2, 90, utf8City)));
  EXPECT_FALSE(b->UTF8Encoded);
  EXPECT_EQ(b->GetAppString(iptcCity), u"Sa\u00C3\u00A3o");  // the same bytes in CP1252
  auto c = TRef<TIPTCData>::Adopt(new TIPTCData());
  c->AlwaysAssumeUTF8Encoding = true;
  auto s = StreamOf(JpegWithIptc(IptcText(2, 90, utf8City)));
  c->LoadFromJPEG(s.Get());
  EXPECT_EQ(c->GetAppString(iptcCity), u"Sa\u00E3o");
}

TEST(Iptc, ABadRecordNumberOrSizeFieldClearsEverything) {
  Bytes rec10 = Concat({IptcText(2, 105, "Kept?"), Bytes{0x1C, 10, 5, 0, 1, 'x'}});
  EXPECT_TRUE(LoadIptc(JpegWithIptc(rec10))->IsEmpty());
  Bytes badSize = Concat({IptcText(2, 105, "Kept?"), Bytes{0x1C, 2, 5, 0x80, 0x03, 0, 0, 1, 'x'}});
  EXPECT_TRUE(LoadIptc(JpegWithIptc(badSize))->IsEmpty());

  auto d = TRef<TIPTCData>::Adopt(new TIPTCData());
  auto s = StreamOf(rec10);
  try {
    d->LoadFromStream(s.Get());
    FAIL() << "no exception";
  } catch (const EInvalidIPTCData& e) {
    EXPECT_EQ(e.Message(), u"Invalid IPTC record number (10)");
  }
  auto s2 = StreamOf(badSize);
  try {
    d->LoadFromStream(s2.Get());
    FAIL() << "no exception";
  } catch (const EInvalidIPTCData& e) {
    EXPECT_EQ(e.Message(), u"Invalid IPTC tag size field (3)");
  }
}

TEST(Iptc, ExtendedSizesAndTrailingBytes) {
  Bytes big(40000, 'a');
  Bytes sets = Concat({IptcDataSet(2, 120, Bytes{'x', 'y'}, 4), IptcDataSet(2, 105, big),
                       Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}});
  auto d = TRef<TIPTCData>::Adopt(new TIPTCData());
  auto s = StreamOf(sets);
  d->LoadFromStream(s.Get());
  EXPECT_EQ(d->GetAppString(iptcCaptionOrAbstract), u"xy");
  EXPECT_EQ(d->Section(2)->Find(iptcHeadline)->ValueSize(), 40000);
  // The parse stops at the first byte that is not a tag marker, on it.
  EXPECT_EQ(s->GetPosition(), static_cast<int64_t>(sets.size()) - 7);
}

TEST(Iptc, ASizeBeyondTheDataIsNotAllocated) {
  Bytes huge = {0x1C, 2, 105, 0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'};
  auto d = TRef<TIPTCData>::Adopt(new TIPTCData());
  auto s = StreamOf(huge);
  d->LoadFromStream(s.Get());
  EXPECT_EQ(d->GetAppString(iptcHeadline), u"abc");
}

TEST(Iptc, SectionsKeepFileOrderAndKnowWhetherTheyAreSorted) {
  auto d = TRef<TIPTCData>::Adopt(new TIPTCData());
  auto s = StreamOf(Concat({IptcText(2, 90, "a"), IptcText(2, 25, "k"), IptcText(2, 105, "h")}));
  d->LoadFromStream(s.Get());
  TIPTCSection* app = d->Section(2);
  EXPECT_FALSE(app->Sorted());
  EXPECT_FALSE(app->Modified());
  EXPECT_EQ(app->Find(105)->AsString(), u"h");  // an unsorted walk goes to the end
  auto s2 = StreamOf(Concat({IptcText(2, 25, "k"), IptcText(2, 90, "a"), IptcText(2, 105, "h")}));
  d->LoadFromStream(s2.Get());
  EXPECT_TRUE(app->Sorted());
  EXPECT_EQ(app->Find(90)->AsString(), u"a");
  EXPECT_EQ(app->Find(91), nullptr);
  // Inserting before a smaller number makes the section unsorted.
  app->Insert(1, 100);
  EXPECT_FALSE(app->Sorted());
  EXPECT_TRUE(app->Modified());
  EXPECT_EQ(app->Tag(1)->TagNumber(), 100);
  EXPECT_THROW(app->Insert(9, 1), foundation::EAssertionFailed);
  // A tag freed while attached leaves its section.
  TIPTCTag* t = app->Tag(0);
  t->Free();
  EXPECT_EQ(app->Count(), 3);
  EXPECT_EQ(app->Tag(0)->TagNumber(), 100);
}

TEST(Iptc, ANonJpegOrAJpegWithoutIptcGivesEmptyData) {
  EXPECT_TRUE(LoadIptc(Bytes{1, 2, 3, 4, 5})->IsEmpty());
  EXPECT_TRUE(LoadIptc(Bytes{})->IsEmpty());
  EXPECT_TRUE(LoadIptc(SmallJpeg())->IsEmpty());
  // An APP13 whose resource blocks hold no IPTC block.
  Bytes app13 = App13Payload({AdobeResourceBlock(0x03ED, Bytes(16, 1))});
  EXPECT_TRUE(LoadIptc(testsupport::SpliceSegment(SmallJpeg(), 0xED, app13))->IsEmpty());
}

TEST(Iptc, CutShortFilesNeverReadOutsideAndLeakNothing) {
  Bytes full = JpegWithIptc(Concat({IptcText(2, 105, "Headline"), IptcText(2, 80, "By")}));
  int live = foundation::LiveObjectCount();
  for (size_t n = 0; n < 260 && n < full.size(); ++n) {
    Bytes cut(full.begin(), full.begin() + static_cast<long>(n));
    auto d = LoadIptc(cut);
    (void)d->GetAppString(iptcHeadline);
  }
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

}  // namespace

// ---- Whole files as cameras and photo editors lay them out -------------------

namespace {

using testsupport::TiffBuilder;

TiffBuilder CameraExif(bool big, const std::string& model) {
  TiffBuilder t(big);
  t.ifd0 = {t.Ascii(0x010F, "MakerCo"), t.Ascii(0x0110, model), t.Short(0x0112, 1),
            t.Rational(0x011A, 72, 1), t.Rational(0x011B, 72, 1), t.Short(0x0128, 2),
            t.Ascii(0x0132, "2021:07:14 09:30:00")};
  t.exif = {t.Rational(0x829A, 1, 60), t.Rational(0x829D, 56, 10), t.Short(0x8827, 200),
            t.Undefined(0x9000, {'0', '2', '3', '0'}), t.Ascii(0x9003, "2021:07:14 09:29:58"),
            t.Rational(0x920A, 35, 1), t.Undefined(0x927C, Bytes(1200, 0x5A)), t.Short(0xA001, 1),
            t.Long(0xA002, 16), t.Long(0xA003, 8)};
  t.gps = {t.Raw(0x0000, testsupport::kTiffByte, 4, big ? 0x02030000u : 0x00000302u), t.Ascii(0x0001, "N"),
           t.Ascii(0x0003, "W")};
  t.ifd1 = {t.Short(0x0103, 6), t.Rational(0x011A, 72, 1)};
  t.thumbnail = SmallJpeg();
  return t;
}

TEST(PhotoFiles, CameraAndEditorLayoutsGiveBothReadersTheirFields) {
  Bytes iptc = Concat({IptcDataSet(1, 90, {0x1B, 0x25, 0x47}), IptcDataSet(2, 0, {0x00, 0x04}),
                       IptcText(2, 105, "Harbour"), IptcText(2, 80, "Photographer"), IptcText(2, 90, "Porto"),
                       IptcText(2, 25, "boats"), IptcText(2, 120, "Boats at the quay")});
  Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e', '.', 'c', 'o', 'm',
               '/', 'x', 'a', 'p', '/', '1', '.', '0', '/', 0, '<', 'x', '/', '>'};
  struct File {
    const char* what;
    Bytes bytes;
    bool hasIptc;
  };
  // A camera writing little-endian Exif first (no JFIF), one writing
  // big-endian Exif, and an editor's save: JFIF, Exif, XMP, Photoshop blocks.
  Bytes plain = SmallJpeg();
  Bytes jfifLess(plain.begin(), plain.begin() + 2);
  jfifLess.insert(jfifLess.end(), plain.begin() + 20, plain.end());
  std::vector<File> files;
  files.push_back({"little-endian camera", testsupport::SpliceSegment(jfifLess, 0xE1, CameraExif(false, "LE-1").App1Payload()), false});
  files.push_back({"big-endian camera", testsupport::SpliceSegment(jfifLess, 0xE1, CameraExif(true, "BE-2").App1Payload()), false});
  Bytes edited = testsupport::SpliceSegment(plain, 0xED,
      App13Payload({AdobeResourceBlock(0x0404, iptc), AdobeResourceBlock(0x03ED, Bytes(16, 0)),
                    AdobeResourceBlock(0x040C, Bytes(33, 7), "thumb")}),
      testsupport::SplicePlace::BeforeSos);
  edited = testsupport::SpliceSegment(edited, 0xE1, xmp, testsupport::SplicePlace::BeforeSos);
  // The editor keeps JFIF first and the Exif right behind it.
  Bytes exif = CameraExif(false, "ED-3").App1Payload();
  Bytes seg = {0xFF, 0xE1, static_cast<uint8_t>((exif.size() + 2) >> 8), static_cast<uint8_t>(exif.size() + 2)};
  seg.insert(seg.end(), exif.begin(), exif.end());
  files.push_back({"editor", testsupport::InsertBytes(edited, 20, seg), true});

  const char16_t* models[] = {u"LE-1", u"BE-2", u"ED-3"};
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].what);
    // Still a picture the library decodes.
    EXPECT_EQ(testsupport::DecodeJpegReference(files[i].bytes).width, 16);
    decoders::TExif e;
    auto s = StreamOf(files[i].bytes);
    e.LoadFromJPEG(s.Get());
    EXPECT_TRUE(e.HasExif);
    EXPECT_EQ(e.Model, models[i]);
    EXPECT_EQ(e.OrientationText, u"Normal");
    EXPECT_EQ(e.ExposureTimeText, u"1/60 seconds");
    EXPECT_EQ(e.FNumberText, u"5.6");
    EXPECT_EQ(e.IsoSpeed, 200);
    EXPECT_EQ(e.FocalLengthText, u"35/1 mm");
    EXPECT_EQ(e.DateTimeTaken, u"2021:07:14 09:29:58");
    EXPECT_EQ(e.PixelWidth, 16);
    auto d = LoadIptc(files[i].bytes);
    if (files[i].hasIptc) {
      EXPECT_EQ(d->GetAppString(iptcHeadline), u"Harbour");
      EXPECT_EQ(d->GetAppString(iptcCity), u"Porto");
      EXPECT_EQ(d->GetAppString(iptcCaptionOrAbstract), u"Boats at the quay");
      EXPECT_EQ(TrimFirstValue(d->GetAppStrings(iptcBylines)), u"Photographer");
    } else {
      EXPECT_TRUE(d->IsEmpty());
    }
  }
}

}  // namespace
