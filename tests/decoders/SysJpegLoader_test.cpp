// The JPEG loader through the registry: pixels equal to the library's own
// decode at every directly decoded level, halving above level 3, greyscale
// widening, CMYK, refusals with the stream untouched, decoding errors as
// "JPEG error #<code>" exceptions, cut-short files and hostile scan counts.
#include "decoders/SysJpegLoader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include <jpeglib.h>
#include <jerror.h>

#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/IccMaker.h"
#include "tests/support/JpegMaker.h"

namespace {

using decoders_test::LoadStore;
using decoders_test::Released;
using decoders_test::StreamOf;
using testsupport::Bytes;
using testsupport::JpegSpec;

imaging::TSysBitmap* Level(imaging::TBitmapStore* store, int32_t level) {
  imaging::TBitmap* b = store->GetBitmap(level, imaging::pfR8G8B8, imaging::TSysBitmap::StaticClass());
  auto* sys = dynamic_cast<imaging::TSysBitmap*>(b);
  EXPECT_NE(sys, nullptr);
  return sys;
}

// Our bitmap holds blue, green, red; the reference decode red, green, blue.
void ExpectSameAsReference(imaging::TSysBitmap* bitmap, const testsupport::DecodedJpeg& ref) {
  ASSERT_EQ(bitmap->Width, ref.width);
  ASSERT_EQ(bitmap->Height, ref.height);
  ASSERT_EQ(bitmap->PixelFormat, imaging::pfR8G8B8);
  int mismatches = 0;
  for (int y = 0; y < ref.height; ++y) {
    const uint8_t* row = bitmap->Row(y);
    for (int x = 0; x < ref.width; ++x) {
      const uint8_t* r = &ref.pixels[(size_t(y) * ref.width + x) * ref.components];
      const uint8_t* p = row + size_t(x) * 3;
      if (ref.components == 1) {
        mismatches += !(p[0] == r[0] && p[1] == r[0] && p[2] == r[0]);
      } else {
        mismatches += !(p[0] == r[2] && p[1] == r[1] && p[2] == r[0]);
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

struct DecodeCase {
  const char* label;
  JpegSpec spec;
};

class JpegDecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(JpegDecodeTest, EveryDirectLevelEqualsTheLibrarysOwnDecode) {
  const Bytes jpeg = testsupport::MakeJpeg(GetParam().spec);
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"photo.jpg"));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_NE(dynamic_cast<decoders::TJpegBitmapStore*>(store.get()), nullptr);
  EXPECT_EQ(store->Params.Width, GetParam().spec.width);
  EXPECT_EQ(store->Params.Height, GetParam().spec.height);
  EXPECT_EQ(store->Params.PixelFormat, imaging::pfR8G8B8);
  for (int level = 0; level <= 3; ++level) {
    SCOPED_TRACE(level);
    ExpectSameAsReference(Level(store.get(), level), testsupport::DecodeJpegReference(jpeg, level));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, JpegDecodeTest,
    ::testing::Values(DecodeCase{"baseline", JpegSpec{96, 64, 3, 90, false, 0, true}},
                      DecodeCase{"progressive", JpegSpec{96, 64, 3, 85, true, 0, true}},
                      DecodeCase{"restarts", JpegSpec{96, 64, 3, 90, false, 2, true}},
                      DecodeCase{"progressive_restarts", JpegSpec{80, 56, 3, 75, true, 1, false}},
                      DecodeCase{"no_subsampling", JpegSpec{33, 17, 3, 95, false, 0, false}},
                      DecodeCase{"odd_1001", JpegSpec{1001, 9, 3, 90, false, 0, true}}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.label); });

TEST(JpegLoader, ScaledLevelsAndHalvingAboveLevelThree) {
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{1600, 1200, 3, 80, false, 0, true});
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"big.JPEG"));
  ASSERT_NE(store.get(), nullptr);
  const int expected[6][2] = {{1600, 1200}, {800, 600}, {400, 300}, {200, 150}, {100, 75}, {50, 38}};
  // Asked for level 5 first: levels 4 and 3 are made on the way, 3 by decoding.
  imaging::TSysBitmap* l5 = Level(store.get(), 5);
  ASSERT_NE(l5, nullptr);
  EXPECT_EQ(l5->Width, expected[5][0]);
  EXPECT_EQ(l5->Height, expected[5][1]);
  for (int level = 4; level >= 1; --level) {
    imaging::TSysBitmap* b = Level(store.get(), level);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, expected[level][0]) << level;
    EXPECT_EQ(b->Height, expected[level][1]) << level;
  }
  // Level 3 comes from the compressed data at 1/8, not from halving level 2.
  ExpectSameAsReference(Level(store.get(), 3), testsupport::DecodeJpegReference(jpeg, 3));
  // The loader itself declines every level above 3.
  auto* js = dynamic_cast<decoders::TJpegBitmapStore*>(store.get());
  ASSERT_NE(js, nullptr);
  for (int level : {-1, 4, 9}) {
    imaging::TMipLevelResult r;
    js->LoadMipLevel(r, level);
    EXPECT_EQ(r.Bitmap, nullptr) << level;
  }
}

TEST(JpegLoader, AFlatPictureOfManyPixelsIsStillAccepted) {
  // The most compressible real content: one grey over 4000 x 3000.
  const testsupport::Bytes pixels(size_t(4000) * 3000, 0x77);
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{4000, 3000, 1, 75, true, 0, true}, pixels);
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"flat.jpg"));
  ASSERT_NE(store.get(), nullptr);
  imaging::TSysBitmap* b = Level(store.get(), 3);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Width, 500);
  EXPECT_NEAR(b->Row(100)[0], 0x77, 2);  // 236 dithered greys
  // Even this picture leaves the limit a wide margin.
  EXPECT_LT(int64_t(4000) * 3000 / int64_t(jpeg.size()), decoders::JpegMaxPixelsPerByte / 2);
}

TEST(JpegLoader, OddWidthRoundsScaledSizesUp) {
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{1001, 15, 3, 90, false, 0, true});
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"odd.jpg"));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(Level(store.get(), 1)->Width, 501);
  EXPECT_EQ(Level(store.get(), 1)->Height, 8);
  EXPECT_EQ(Level(store.get(), 3)->Width, 126);
}

TEST(JpegLoader, GreyscaleBecomesTwentyFourBitsOfAtMost236Greys) {
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{300, 200, 1, 90, false, 0, true});
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"grey.jfif"));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(store->Params.PixelFormat, imaging::pfR8G8B8);
  std::vector<float> progress;
  store->Progress = [&](float f) {
    progress.push_back(f);
    return true;
  };
  imaging::TSysBitmap* b = Level(store.get(), 0);
  ASSERT_NE(b, nullptr);
  std::set<uint8_t> greys;
  bool equal = true;
  for (int y = 0; y < b->Height; ++y)
    for (int x = 0; x < b->Width; ++x) {
      const uint8_t* p = b->Row(y) + x * 3;
      equal = equal && p[0] == p[1] && p[1] == p[2];
      greys.insert(p[0]);
    }
  EXPECT_TRUE(equal);
  EXPECT_LE(greys.size(), 236u);
  EXPECT_GT(greys.size(), 100u);  // the pattern spans the whole range
  ExpectSameAsReference(b, testsupport::DecodeJpegReference(jpeg, 0, "gray236"));
  // Widening reports from 0.5 upwards; the level ends with 1.0.
  ASSERT_FALSE(progress.empty());
  EXPECT_FLOAT_EQ(progress.back(), 1.0f);
  EXPECT_TRUE(std::any_of(progress.begin(), progress.end(), [](float f) { return f >= 0.5f && f < 1.0f; }));
}

TEST(JpegLoader, CmykImagesDecodeToTheirRgbColours) {
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{64, 40, 4, 95, false, 0, false});
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"print.jpe"));
  ASSERT_NE(store.get(), nullptr);
  imaging::TSysBitmap* b = Level(store.get(), 0);
  ASSERT_NE(b, nullptr);
  const auto ref = testsupport::DecodeJpegReference(jpeg, 0, "cmyk");
  ASSERT_EQ(ref.components, 4);
  int off = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      const uint8_t* c = &ref.pixels[(size_t(y) * ref.width + x) * 4];
      const uint8_t* p = b->Row(y) + x * 3;
      const int r = (c[0] * c[3] + 127) / 255, g = (c[1] * c[3] + 127) / 255, bl = (c[2] * c[3] + 127) / 255;
      off += !(p[2] == r && p[1] == g && p[0] == bl);
    }
  EXPECT_EQ(off, 0);
}

// Files of 2 or 5 and more components have no colour space the library can
// convert from: it would hand out that many bytes per pixel, more than a
// 24-bit row holds. The decode fails with a library error instead.
TEST(JpegLoader, ComponentsOfNoKnownColourSpaceFailTheDecode) {
  for (int components : {2, 5, 10}) {
    SCOPED_TRACE(components);
    // More than 4 components cannot share one scan: progressive scans take them one by one.
    const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{40, 24, components, 90, components > 4, 0, false});
    Released<foundation::TMemoryStream> s(StreamOf(jpeg));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"odd.jpg"));
    ASSERT_NE(store.get(), nullptr);
    for (int level : {0, 3}) {
      try {
        store->GetBitmap(level, imaging::pfR8G8B8, nullptr);
        ADD_FAILURE() << "no exception at level " << level;
      } catch (const foundation::EAssertionFailed& e) {
        EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(JERR_CONVERSION_NOTIMPL));
      }
    }
  }
}

struct RefusalCase {
  const char* label;
  Bytes data;
};

TEST(JpegLoader, RefusesWithThePositionRestoredAndTheStreamKept) {
  const Bytes good = testsupport::MakeJpeg(JpegSpec{32, 32, 3, 90, false, 0, true});
  const std::vector<RefusalCase> cases = {
      {"empty", {}},
      {"not a jpeg", Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 2, 3, 4, 5, 6, 7, 8}},
      {"soi only", Bytes{0xFF, 0xD8}},
      {"zero width", testsupport::SetJpegFrameSize(good, 0, 32)},
      {"zero height", testsupport::SetJpegFrameSize(good, 32, 0)},
      {"huge declared size", testsupport::SetJpegFrameSize(good, 65000, 65000)},
      {"more pixels than the file can hold", testsupport::SetJpegFrameSize(good, 8000, 8000)},
      {"cut inside the header", Bytes(good.begin(), good.begin() + 40)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    for (size_t prefix : {size_t(0), size_t(7)}) {
      foundation::TMemoryStream* s = StreamOf(c.data, prefix);
      s->_AddRef();  // the loader must not free a stream it declines, owned or not
      imaging::TLevelProvider none;
      imaging::TBitmapStore* store = decoders::LoadJpegBitmapStore(s, u"x.jpg", true, none);
      EXPECT_EQ(store, nullptr);
      EXPECT_EQ(s->GetPosition(), static_cast<int64_t>(prefix));
      EXPECT_EQ(s->_Release(), 1);
      s->Free();
    }
  }
}

TEST(JpegLoader, AcceptingWithOwnershipFreesTheStreamAndReadsFromItsPosition) {
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{40, 24, 3, 90, false, 0, true});
  foundation::TMemoryStream* s = StreamOf(jpeg, 0);
  s->_AddRef();
  imaging::TLevelProvider none;
  Released<imaging::TBitmapStore> store(decoders::LoadJpegBitmapStore(s, u"a.jpg", true, none));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(s->_Release(), 0);  // only our extra reference was left
}

TEST(JpegLoader, DecodingErrorsReachTheCallerAsJpegErrors) {
  Bytes jpeg = testsupport::MakeJpeg(JpegSpec{48, 32, 3, 90, false, 0, true});
  // Point the first component at quantization table 3, which the file never defines:
  // the header parses, the decode fails.
  size_t sof = 2;
  while (!(jpeg[sof] == 0xFF && jpeg[sof + 1] == 0xC0)) sof += 2 + ((jpeg[sof + 2] << 8) | jpeg[sof + 3]);
  jpeg[sof + 10 + 2] = 3;
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"bad.jpg"));
  ASSERT_NE(store.get(), nullptr);
  try {
    store->GetBitmap(0, imaging::pfR8G8B8, nullptr);
    FAIL() << "no exception";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(JERR_NO_QUANT_TABLE));
    EXPECT_EQ(e.File(), "kvJpegPas");
    EXPECT_EQ(e.Line(), 162);
  }
  // The loader is usable again afterwards: the same failure, not a crash.
  EXPECT_THROW(store->GetBitmap(1, imaging::pfR8G8B8, nullptr), foundation::EAssertionFailed);
}

TEST(JpegLoader, ErrorTextKeepsTheCode) {
  EXPECT_EQ(decoders::JpegErrorText(43), u"JPEG error #43");
  EXPECT_EQ(decoders::JpegErrorText(0), u"JPEG error #0");
}

TEST(JpegLoader, AFileCutInsideTheScanDataDecodesWithoutError) {
  const Bytes full = testsupport::MakeJpeg(JpegSpec{120, 90, 3, 90, false, 0, true});
  for (bool progressive : {false, true}) {
    const Bytes jpeg = progressive ? testsupport::MakeJpeg(JpegSpec{120, 90, 3, 90, true, 0, true}) : full;
    const size_t scan = testsupport::ScanDataOffset(jpeg);
    const Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(scan + (jpeg.size() - scan) / 3));
    Released<foundation::TMemoryStream> s(StreamOf(cut));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"cut.jpg"));
    ASSERT_NE(store.get(), nullptr);
    imaging::TSysBitmap* b = nullptr;
    ASSERT_NO_THROW(b = Level(store.get(), 0));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, 120);
    EXPECT_EQ(b->Height, 90);
  }
}

// A progressive file whose last scan is repeated: each repeat is only a
// warning to the library, but every scan is a pass over the whole image.
Bytes RepeatLastScan(const Bytes& jpeg, int times) {
  size_t pos = 2, lastSos = 0;
  while (pos + 3 < jpeg.size()) {
    if (jpeg[pos] != 0xFF) break;
    const uint8_t m = jpeg[pos + 1];
    if (m == 0xD9) break;
    if (m == 0xDA) {
      lastSos = pos;
      pos += 2 + ((jpeg[pos + 2] << 8) | jpeg[pos + 3]);
      while (pos + 1 < jpeg.size() && !(jpeg[pos] == 0xFF && jpeg[pos + 1] != 0 &&
                                        !(jpeg[pos + 1] >= 0xD0 && jpeg[pos + 1] <= 0xD7)))
        ++pos;
      continue;
    }
    pos += 2 + ((jpeg[pos + 2] << 8) | jpeg[pos + 3]);
  }
  Bytes scan(jpeg.begin() + static_cast<std::ptrdiff_t>(lastSos), jpeg.begin() + static_cast<std::ptrdiff_t>(pos));
  Bytes out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(pos));
  for (int i = 0; i < times; ++i) out.insert(out.end(), scan.begin(), scan.end());
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(pos), jpeg.end());
  return out;
}

TEST(JpegLoader, TooManyScansStopTheDecodeWithAnError) {
  const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{64, 64, 3, 90, true, 0, true});
  {
    Released<foundation::TMemoryStream> s(StreamOf(RepeatLastScan(jpeg, 100)));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"many.jpg"));
    ASSERT_NE(store.get(), nullptr);
    EXPECT_NO_THROW(store->GetBitmap(0, imaging::pfR8G8B8, nullptr));
  }
  {
    Released<foundation::TMemoryStream> s(StreamOf(RepeatLastScan(jpeg, decoders::JpegMaxScans + 10)));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"toomany.jpg"));
    ASSERT_NE(store.get(), nullptr);
    try {
      store->GetBitmap(0, imaging::pfR8G8B8, nullptr);
      FAIL() << "no exception";
    } catch (const foundation::EAssertionFailed& e) {
      EXPECT_EQ(std::string(e.what()), "JPEG error #" + std::to_string(JERR_BAD_PROGRESSION));
    }
  }
}

TEST(JpegLoader, HeaderReadKeepsTheFileAndReportsProgressiveness) {
  for (bool progressive : {false, true}) {
    const Bytes jpeg = testsupport::MakeJpeg(JpegSpec{20, 10, 1, 90, progressive, 0, true});
    Released<foundation::TMemoryStream> s(StreamOf(jpeg, 3));
    Released<decoders::TJpegLoader> loader(new decoders::TJpegLoader());
    loader->LoadHeader(s.get(), INT32_MAX);
    int32_t w = 0, h = 0;
    loader->GetSize(w, h);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 10);
    EXPECT_TRUE(loader->Data->Grayscale);
    EXPECT_EQ(loader->Options.Progressive, progressive);
    EXPECT_EQ(loader->Data->Stream->Size, static_cast<int32_t>(jpeg.size()));
    // A maximum below the file's length keeps only that many bytes.
    const int32_t max = static_cast<int32_t>(testsupport::ScanDataOffset(jpeg)) + 4;
    ASSERT_LT(max, static_cast<int32_t>(jpeg.size()));
    s->SetPosition(3);
    loader->LoadHeader(s.get(), max);
    EXPECT_EQ(loader->Data->Stream->Size, max);
    EXPECT_EQ(s->GetPosition(), 3 + max);
  }
}

TEST(JpegLoader, DefaultOptionRecord) {
  const decoders::TJpegOptions& d = decoders::JpegDefaults;
  EXPECT_EQ(d.Quality, 90);
  EXPECT_FALSE(d.Grayscale);
  EXPECT_EQ(d.Performance, 0);
  EXPECT_EQ(d.PixelFormat, 0);
  EXPECT_FALSE(d.ProgressiveDisplay);
  EXPECT_FALSE(d.Progressive);
  EXPECT_EQ(d.Scale, 0);
  EXPECT_TRUE(d.Smoothing);
  EXPECT_TRUE(decoders::JpegFastDecoding);
}

}  // namespace

namespace {

struct ProgressCall {
  uint8_t stage, percent;
  bool redraw;
};

TEST(JpegLoader, DecodeReportsStartAndEndAndRestoresTheScale) {
  const Bytes grey = testsupport::MakeJpeg(JpegSpec{64, 32, 1, 90, false, 0, true});
  const Bytes colour = testsupport::MakeJpeg(JpegSpec{64, 32, 3, 90, false, 0, true});
  for (const Bytes* jpeg : {&grey, &colour}) {
    Released<foundation::TMemoryStream> s(StreamOf(*jpeg));
    Released<decoders::TJpegLoader> loader(new decoders::TJpegLoader());
    loader->LoadHeader(s.get(), INT32_MAX);
    std::vector<ProgressCall> calls;
    loader->OnProgress = [&](decoders::TJpegLoader* sender, uint8_t stage, uint8_t percent, bool redraw,
                             const imaging::TRect&, const std::u16string& message) {
      EXPECT_EQ(sender, loader.get());
      EXPECT_TRUE(message.empty());
      calls.push_back({stage, percent, redraw});
    };
    Released<imaging::TSysBitmap> b(loader->Decode(2));
    ASSERT_NE(b.get(), nullptr);
    EXPECT_EQ(b->Width, 16);
    EXPECT_EQ(loader->Options.Scale, 0);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.front().stage, 0);
    EXPECT_EQ(calls.front().percent, 0);
    EXPECT_EQ(calls.back().stage, 2);
    EXPECT_EQ(calls.back().percent, 100);
    const bool greyscale = jpeg == &grey;
    // Only the greyscale decode is quantized: a colour map was taken.
    EXPECT_EQ(calls.back().redraw, greyscale);
    EXPECT_EQ(b->PixelFormat->BitsPerPixel, greyscale ? 8 : 24);
    EXPECT_EQ(loader->PaletteCount > 0, greyscale);
    if (greyscale) {
      EXPECT_LE(loader->PaletteCount, 236);
      for (int i = 0; i < loader->PaletteCount; ++i)
        EXPECT_TRUE(loader->Palette[i][0] == loader->Palette[i][1] && loader->Palette[i][1] == loader->Palette[i][2]);
    }
  }
}

TEST(JpegLoader, AFailedDecodeStillEndsItsProgressAndRestoresTheScale) {
  Released<decoders::TJpegLoader> loader(new decoders::TJpegLoader());
  // No header read: nothing to decode.
  std::vector<ProgressCall> calls;
  loader->OnProgress = [&](decoders::TJpegLoader*, uint8_t stage, uint8_t percent, bool redraw, const imaging::TRect&,
                           const std::u16string&) { calls.push_back({stage, percent, redraw}); };
  EXPECT_THROW(loader->Decode(3), foundation::EAssertionFailed);
  EXPECT_EQ(loader->Options.Scale, 0);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().stage, 2);
}

}  // namespace
