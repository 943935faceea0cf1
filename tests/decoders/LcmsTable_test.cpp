// The LittleCMS table and the colour transforms it serves: the process-wide
// table, profile ranges, and ICC transforms of decoded JPEGs, which change
// pixels for a wide-gamut profile and leave them exactly alone for profiles
// that cannot be used.
#include "decoders/LcmsTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "decoders/SysJpegLoader.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvICCColorProfile.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/IccMaker.h"
#include "tests/support/JpegMaker.h"

namespace {

using decoders_test::LoadStore;
using decoders_test::Released;
using decoders_test::StreamOf;
using testsupport::Bytes;

TEST(LcmsDll, OneTableForTheProcessUntilANewOneIsAsked) {
  decoders::TLcmsDll* a = decoders::GetLcmsDll(false);
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->Loaded());
  EXPECT_EQ(decoders::GetLcmsDll(false), a);
  const int32_t made = decoders::LcmsDllInstancesMade();
  decoders::TLcmsDll* b = decoders::GetLcmsDll(true);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->Loaded());
  EXPECT_EQ(decoders::LcmsDllInstancesMade(), made + 1);
  EXPECT_EQ(decoders::GetLcmsDll(false), b);
}

TEST(LcmsDll, ProfilesFromARangeOfBytes) {
  decoders::TLcmsDll* t = decoders::GetLcmsDll(false);
  Bytes icc = testsupport::MakeSRGBIccProfile();
  const int32_t n = static_cast<int32_t>(icc.size());
  Bytes padded(5 + icc.size(), 0);
  std::copy(icc.begin(), icc.end(), padded.begin() + 5);
  struct Case {
    const char* label;
    const Bytes* bytes;
    int32_t start, count;
    bool opens;
  } cases[] = {
      {"whole", &icc, 0, n, true},
      {"negative start counts from 0", &icc, -7, n, true},
      {"count cut to the end", &padded, 5, n + 100, true},
      {"inside a larger array", &padded, 5, n, true},
      {"empty count", &icc, 0, 0, false},
      {"start past the end", &icc, n, 10, false},
      {"header cut short", &icc, 0, 100, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    cmsHPROFILE p = decoders::OpenProfileFromRange(t, c.bytes->data(), static_cast<int32_t>(c.bytes->size()) - 1,
                                                   c.start, c.count);
    EXPECT_EQ(p != nullptr, c.opens);
    if (p) cmsCloseProfile(p);
  }
  EXPECT_EQ(decoders::OpenProfileFromRange(nullptr, icc.data(), n - 1, 0, n), nullptr);
}

// The decoded level 0 of a JPEG carrying profile bytes, as a fresh 24-bit copy.
struct DecodedWithProfile {
  imaging::TSysBitmap* bitmap = nullptr;
  imaging::TColorProfile* profile = nullptr;
  ~DecodedWithProfile() {
    foundation::FreeObj(bitmap);
    foundation::FreeObj(profile);
  }
};

void DecodeWithProfile(const Bytes& iccPayload, DecodedWithProfile& out) {
  Bytes jpeg = testsupport::MakeJpeg(testsupport::JpegSpec{40, 30, 3, 95, false, 0, false});
  if (!iccPayload.empty())
    jpeg = testsupport::SpliceSegment(jpeg, 0xE2, testsupport::IccApp2Payload(iccPayload));
  Released<foundation::TMemoryStream> s(StreamOf(jpeg));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"p.jpg"));
  ASSERT_NE(store.get(), nullptr);
  imaging::TSysBitmap* level =
      dynamic_cast<imaging::TSysBitmap*>(store->GetBitmap(0, imaging::pfR8G8B8, imaging::TSysBitmap::StaticClass()));
  ASSERT_NE(level, nullptr);
  out.bitmap = imaging::CreateSysBitmap(level->Width, level->Height, imaging::pfR8G8B8);
  out.bitmap->CopyFrom(level);
  out.profile = store->ColorProfile;
  if (out.profile) out.profile->_AddRef();
}

bool SamePixels(imaging::TSysBitmap* a, imaging::TSysBitmap* b) {
  for (int y = 0; y < a->Height; ++y)
    if (std::memcmp(a->Row(y), b->Row(y), size_t(a->Width) * a->BytesPerPixel()) != 0) return false;
  return true;
}

bool TransformToSRGB(imaging::TColorProfile* source, imaging::TSysBitmap* bitmap) {
  source->_AddRef();
  imaging::SRGBColorProfile->_AddRef();
  Released<imaging::TColorTransform> t(imaging::CreateColorTransformHook(source, imaging::SRGBColorProfile));
  return t->TransformBitmap(bitmap);
}

TEST(IccTransform, AWideGamutJpegChangesItsPixels) {
  DecodedWithProfile d;
  DecodeWithProfile(testsupport::MakeWideGamutIccProfile(), d);
  ASSERT_NE(d.profile, nullptr);
  // Decoding never converts by itself: whether the embedded profile is
  // applied is the caller's choice (colour management may be off).
  DecodedWithProfile plain;
  DecodeWithProfile({}, plain);
  EXPECT_EQ(plain.profile, nullptr);
  EXPECT_TRUE(SamePixels(plain.bitmap, d.bitmap));
  Released<imaging::TSysBitmap> before(imaging::CreateSysBitmap(d.bitmap->Width, d.bitmap->Height, imaging::pfR8G8B8));
  before->CopyFrom(d.bitmap);
  EXPECT_TRUE(TransformToSRGB(d.profile, d.bitmap));
  EXPECT_FALSE(SamePixels(before.get(), d.bitmap));
}

TEST(IccTransform, ProfilesThatCannotBeUsedLeaveThePixelsExactly) {
  const Bytes wide = testsupport::MakeWideGamutIccProfile();
  struct Case {
    const char* label;
    Bytes icc;
  } cases[] = {
      {"first part of a split profile", Bytes(wide.begin(), wide.begin() + static_cast<std::ptrdiff_t>(wide.size() / 2))},
      {"not a profile", Bytes{'n', 'o', 't', ' ', 'i', 'c', 'c'}},
      {"grey profile for colour pixels", testsupport::MakeGrayIccProfile()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DecodedWithProfile d;
    DecodeWithProfile(c.icc, d);
    ASSERT_NE(d.profile, nullptr);
    Released<imaging::TSysBitmap> before(
        imaging::CreateSysBitmap(d.bitmap->Width, d.bitmap->Height, imaging::pfR8G8B8));
    before->CopyFrom(d.bitmap);
    EXPECT_FALSE(TransformToSRGB(d.profile, d.bitmap));
    EXPECT_TRUE(SamePixels(before.get(), d.bitmap));
  }
}

TEST(IccTransform, SixteenBitBitmapsAreRefusedAtOnce) {
  Released<imaging::TSysBitmap> b(imaging::CreateSysBitmap(4, 4, imaging::pfR5G6B5));
  const Bytes wide = testsupport::MakeWideGamutIccProfile();
  const Bytes srgb = testsupport::MakeSRGBIccProfile();
  EXPECT_FALSE(imaging::TransformBitmapRect(b.get(), b.get(), imaging::TRect{0, 0, 4, 4}, imaging::TPoint{0, 0}, srgb,
                                            wide, 0));
}

TEST(IccTransform, PlainCopyBetweenTwoBitmapsStartsAtTheSourcePoint) {
  Released<imaging::TSysBitmap> src(imaging::CreateSysBitmap(20, 2, imaging::pfA8R8G8B8));
  Released<imaging::TSysBitmap> dst(imaging::CreateSysBitmap(20, 2, imaging::pfA8R8G8B8));
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 80; ++i) src->Row(y)[i] = static_cast<uint8_t>(i + 100 * y);
  EXPECT_FALSE(imaging::TransformBitmapRect(dst.get(), src.get(), imaging::TRect{0, 0, 20, 2}, imaging::TPoint{10, 0},
                                            {}, {}, 0));
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(0, std::memcmp(dst->Row(y), src->Row(y) + 40, 40));
    EXPECT_EQ(dst->Row(y)[40], 0);  // clipped to the 10 source columns left
  }
}

}  // namespace
