// The ICC marker scan and the colour profile a JPEG store carries: the first
// APP2 segment's bytes after its 14 identifier and sequence bytes, nothing
// after the start of scan, a guarded short segment, and the log lines of
// damaged marker sequences.
#include "decoders/kvJpegPas.h"

#include <gtest/gtest.h>

#include "container/kvPartialStream.h"
#include "decoders/SysJpegLoader.h"
#include "imaging/kvColorProfile.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/IccMaker.h"
#include "tests/support/JpegMaker.h"

namespace {

using decoders_test::LoadStore;
using decoders_test::Released;
using decoders_test::ScopedLogCapture;
using decoders_test::StreamOf;
using testsupport::Bytes;
using testsupport::JpegSpec;
using testsupport::SplicePlace;

const Bytes& SmallJpeg() {
  static const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{24, 16, 3, 90, false, 0, true});
  return jpeg;
}

Bytes Scan(const Bytes& data) {
  Released<foundation::TMemoryStream> s(StreamOf(data));
  return decoders::ScanJpegIccProfile(s.get());
}

TEST(ScanJpegIccProfile, TakesTheFirstApp2Only) {
  const Bytes icc = testsupport::MakeWideGamutIccProfile();
  const Bytes other = {1, 2, 3, 4, 5, 6, 7};
  Bytes jpeg = testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(other), SplicePlace::BeforeSos);
  jpeg = testsupport::SpliceSegment(jpeg, 0xE2, testsupport::IccApp2Payload(icc), SplicePlace::AfterSoi);
  EXPECT_EQ(Scan(jpeg), icc);
}

TEST(ScanJpegIccProfile, ANonIccApp2GivesItsOwnBytes) {
  Bytes payload(14, 'Q');  // any identifier: its content is not compared
  const Bytes body = {9, 8, 7, 6, 5};
  payload.insert(payload.end(), body.begin(), body.end());
  EXPECT_EQ(Scan(testsupport::SpliceSegment(SmallJpeg(), 0xE2, payload, SplicePlace::BeforeSos)), body);
}

TEST(ScanJpegIccProfile, NothingFromFilesWithoutAUsableApp2) {
  const Bytes icc = testsupport::MakeSRGBIccProfile();
  struct Case {
    const char* label;
    Bytes data;
  } cases[] = {
      {"no app2", SmallJpeg()},
      {"app2 after the start of scan",
       testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(icc), SplicePlace::AfterSosHeader)},
      {"no start of image", Bytes(SmallJpeg().begin() + 2, SmallJpeg().end())},
      {"empty", {}},
      {"length field 15", testsupport::InsertBytes(SmallJpeg(), 2, Bytes{0xFF, 0xE2, 0x00, 0x0F, 'I', 'C', 'C'})},
      {"length field 2", testsupport::InsertBytes(SmallJpeg(), 2, Bytes{0xFF, 0xE2, 0x00, 0x02})},
      {"length field cut", Bytes{0xFF, 0xD8, 0xFF, 0xE2, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TRUE(Scan(c.data).empty());
  }
}

TEST(ScanJpegIccProfile, ALengthOf16GivesAnEmptyProfile) {
  Bytes seg = {0xFF, 0xE2, 0x00, 0x10};
  for (int i = 0; i < 14; ++i) seg.push_back('x');
  EXPECT_TRUE(Scan(testsupport::InsertBytes(SmallJpeg(), 2, seg)).empty());
}

TEST(ScanJpegIccProfile, ASegmentCutShortKeepsItsDeclaredLength) {
  // Declares 100 profile bytes, the file ends after 3 of them.
  Bytes data = {0xFF, 0xD8, 0xFF, 0xE2, 0x00, 100 + 16};
  for (int i = 0; i < 14; ++i) data.push_back('I');
  data.insert(data.end(), {0xAA, 0xBB, 0xCC});
  const Bytes got = Scan(data);
  ASSERT_EQ(got.size(), 100u);
  EXPECT_EQ(got[0], 0xAA);
  EXPECT_EQ(got[2], 0xCC);
  EXPECT_EQ(got[3], 0);
}

TEST(ScanJpegIccProfile, StartsAtOffsetZeroWhateverThePosition) {
  const Bytes icc = testsupport::MakeSRGBIccProfile();
  const Bytes jpeg = testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(icc));
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  s->SetPosition(100);
  EXPECT_EQ(decoders::ScanJpegIccProfile(s.get()), icc);
}

TEST(ScanJpegIccProfile, LogsDamagedMarkerSequences) {
  {
    ScopedLogCapture log;
    Scan(Bytes{0x12, 0x34});
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], u"Error: marker expected at 0");
  }
  {
    ScopedLogCapture log;
    Scan(Bytes{0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xE0, 0x00, 0x02});
    ASSERT_EQ(log.Lines().size(), 3u);
    EXPECT_EQ(log.Lines()[0], u"Error: duplicate $FF encountered at 3");
    EXPECT_EQ(log.Lines()[1], u"Error: duplicate $FF encountered at 4");
    EXPECT_EQ(log.Lines()[2], u"Jpeg Marker expected");
  }
  {
    ScopedLogCapture log;
    Scan(Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0x00});
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], u"Error: marker expected at 8");
  }
}

TEST(ScanJpegIccProfile, InMemoryBytesGiveWhatTheStreamGives) {
  // Each file scanned over a stream that allows a position past its end (a
  // memory stream) and over one that refuses it (a window), and over the same
  // bytes in memory with the matching rule: same profile, same log lines.
  const Bytes icc = testsupport::MakeWideGamutIccProfile();
  Bytes cut = {0xFF, 0xD8, 0xFF, 0xE2, 0x00, 100 + 16};
  for (int i = 0; i < 14; ++i) cut.push_back('I');
  cut.insert(cut.end(), {0xAA, 0xBB, 0xCC});
  const Bytes files[] = {
      testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(icc)),
      testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(icc), SplicePlace::BeforeSos),
      SmallJpeg(),
      cut,
      Bytes{0x12, 0x34},
      Bytes{0xFF, 0xD8, 0xFF, 0xFF, 0xFF, 0xE0, 0x00, 0x02},
      Bytes{0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 'h', 'i', 0x00},
      Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x40, 0x00, 1, 2, 3},  // a segment running past the end
      {},
  };
  int index = 0;
  for (const Bytes& file : files) {
    SCOPED_TRACE(index++);
    for (bool window : {false, true}) {
      Released<foundation::TMemoryStream> memory(StreamOf(file));
      foundation::TStream* stream = memory.get();
      Released<container::TPartialStream> view(
          window ? new container::TPartialStream(memory.get(), 0, memory->GetSize(), false) : nullptr);
      if (window) stream = view.get();
      Bytes expected;
      std::vector<std::u16string> streamLines;
      {
        ScopedLogCapture log;
        expected = decoders::ScanJpegIccProfile(stream);
        streamLines = log.Lines();
      }
      ScopedLogCapture log;
      EXPECT_EQ(decoders::ScanJpegIccProfile(file.data(), static_cast<int64_t>(file.size()), window), expected);
      EXPECT_EQ(log.Lines(), streamLines);
    }
  }
}

TEST(JpegStoreProfile, EmbeddedProfileOfTheStore) {
  const Bytes wide = testsupport::MakeWideGamutIccProfile();
  const Bytes srgb = testsupport::MakeSRGBIccProfile("sRGB IEC61966-2.1");
  ASSERT_GE(imaging::FindBytes(srgb, "sRGB IEC61966-2.1", 512), 0);  // where the reader looks
  {
    Released<foundation::TMemoryStream> s(
        StreamOf(testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(wide))));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"wide.jpg"));
    ASSERT_NE(store.get(), nullptr);
    ASSERT_NE(store->ColorProfile, nullptr);
    EXPECT_EQ(store->ColorProfile->Data, wide);
    EXPECT_EQ(store->ColorProfile->Name, u"wide.jpg");
    EXPECT_EQ(s->GetPosition(), s->GetSize());  // the whole file was read into memory
  }
  {
    Released<foundation::TMemoryStream> s(
        StreamOf(testsupport::SpliceSegment(SmallJpeg(), 0xE2, testsupport::IccApp2Payload(srgb))));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"srgb.jpg"));
    ASSERT_NE(store.get(), nullptr);
    EXPECT_EQ(store->ColorProfile, imaging::SRGBColorProfile);
  }
  {
    Released<foundation::TMemoryStream> s(StreamOf(SmallJpeg()));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"plain.jpg"));
    ASSERT_NE(store.get(), nullptr);
    EXPECT_EQ(store->ColorProfile, nullptr);
  }
}

}  // namespace
