// Converted images: the field list, refusals with the stream untouched, the
// payload decoded once into level 0, the opaque green substitute of the
// declared size for payloads that do not decode, halving for other levels,
// the profile without ICC data, and the names under which the registry
// finds them.
#include "decoders/SysGfxLoader.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "container/kvPartialStream.h"
#include "decoders/SysJpegLoader.h"
#include "imaging/kvICCColorProfile.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/JpegMaker.h"

namespace {

using decoders_test::LoadStore;
using decoders_test::Released;
using decoders_test::StreamOf;
using testsupport::Bytes;

using Fields = std::vector<std::pair<std::string, std::string>>;

void PutText(Bytes& out, const std::string& text, int declared = -1) {
  const int n = declared >= 0 ? declared : static_cast<int>(text.size());
  out.push_back(static_cast<uint8_t>(n & 0xFF));
  out.push_back(static_cast<uint8_t>(n >> 8));
  out.insert(out.end(), text.begin(), text.end());
}

Bytes GfxHeader(const Fields& fields) {
  Bytes out = {'K', 'V', 'G', 'F', static_cast<uint8_t>(fields.size() & 0xFF), static_cast<uint8_t>(fields.size() >> 8)};
  for (const auto& [name, value] : fields) {
    PutText(out, name);
    PutText(out, value);
  }
  return out;
}

Fields StandardFields(int w, int h) {
  return {{"File", "holiday.png"}, {"Width", std::to_string(w)}, {"Height", std::to_string(h)}, {"OriginalSize", "1234"}};
}

Bytes Deflated(const Bytes& data) {
  const std::string packed = testsupport::RawDeflate(std::string(data.begin(), data.end()));
  return Bytes(packed.begin(), packed.end());
}

// A 3 x 2 24-bit BMP, bottom-up rows.
Bytes SmallBmp() {
  testsupport::BmpSpec spec;
  spec.width = 3;
  spec.height = 2;
  spec.bits = 24;
  // stored bottom row first: white, black, grey / blue, green, red (values 0xRRGGBB)
  spec.pixels = testsupport::BmpPackRows(3, 2, 24, {0xFFFFFF, 0x000000, 0x808080, 0x0000FF, 0x00FF00, 0xFF0000});
  return testsupport::WriteBmp(spec);
}

Bytes GfxFile(const Fields& fields, const Bytes& payload) {
  Bytes out = GfxHeader(fields);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

uint32_t Pixel32(imaging::TSysBitmap* b, int x, int y) { return imaging::LoadU32(b->Row(y) + x * 4); }

imaging::TSysBitmap* Level(imaging::TBitmapStore* store, int level) {
  return dynamic_cast<imaging::TSysBitmap*>(
      store->GetBitmap(level, imaging::pfA8R8G8B8, imaging::TSysBitmap::StaticClass()));
}

TEST(GfxLoader, DecodesThePayloadIntoLevelZero) {
  const Bytes file = GfxFile(StandardFields(3, 2), Deflated(SmallBmp()));
  Released<foundation::TMemoryStream> s(StreamOf(file, 5));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"slide.kvgfx"));
  ASSERT_NE(store.get(), nullptr);
  auto* gfx = dynamic_cast<decoders::TGfxBitmapStore*>(store.get());
  ASSERT_NE(gfx, nullptr);
  EXPECT_EQ(store->Params.Width, 3);
  EXPECT_EQ(store->Params.Height, 2);
  EXPECT_EQ(store->Params.PixelFormat, imaging::pfA8R8G8B8);
  EXPECT_EQ(gfx->Image->FileName, u"holiday.png");
  EXPECT_EQ(gfx->Image->OriginalSize, 1234);
  EXPECT_EQ(gfx->Image->Name, u"slide.kvgfx");
  EXPECT_EQ(s->GetPosition(), s->GetSize());
  imaging::TSysBitmap* b = Level(store.get(), 0);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(gfx->Image->Decoded);
  EXPECT_EQ(gfx->Image->Payload, nullptr);  // released once decoded
  EXPECT_EQ(Pixel32(b, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(Pixel32(b, 1, 0), 0xFF00FF00u);
  EXPECT_EQ(Pixel32(b, 2, 0), 0xFFFF0000u);
  EXPECT_EQ(Pixel32(b, 0, 1), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel32(b, 2, 1), 0xFF808080u);
  // Level 1 is halved from level 0; the loader itself never delivers it.
  imaging::TMipLevelResult r;
  gfx->LoadMipLevel(r, 1);
  EXPECT_EQ(r.Bitmap, nullptr);
  imaging::TSysBitmap* half = Level(store.get(), 1);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->Width, 2);
  EXPECT_EQ(half->Height, 1);
  // The level-0 bitmap belongs to the image.
  gfx->LoadMipLevel(r, 0);
  EXPECT_FALSE(r.Owned);
  EXPECT_EQ(r.Bitmap, gfx->Image->Bitmap);
}

TEST(GfxLoader, TheColourProfileHasNoIccDataAndTransformsNothing) {
  const Bytes file = GfxFile(StandardFields(3, 2), Deflated(SmallBmp()));
  Released<foundation::TMemoryStream> s(StreamOf(file));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"pic.png"));
  ASSERT_NE(store.get(), nullptr);
  auto* profile = dynamic_cast<decoders::TDumpColorProfile*>(store->ColorProfile);
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(profile->Name, u"pic.png");
  EXPECT_TRUE(profile->Data.empty());
  imaging::TSysBitmap* b = Level(store.get(), 0);
  Released<imaging::TSysBitmap> copy(imaging::CreateSysBitmap(b->Width, b->Height, imaging::pfA8R8G8B8));
  copy->CopyFrom(b);
  Released<imaging::TColorTransform> t(imaging::CreateICCColorTransform(profile, imaging::SRGBColorProfile));
  profile->_AddRef();
  imaging::SRGBColorProfile->_AddRef();
  EXPECT_FALSE(t->TransformBitmap(copy.get()));
  for (int y = 0; y < b->Height; ++y) EXPECT_EQ(0, std::memcmp(copy->Row(y), b->Row(y), size_t(b->Width) * 4));
}

TEST(GfxLoader, TheFirstOfTwoFieldsCounts) {
  Fields f = StandardFields(3, 2);
  f.insert(f.begin() + 2, {"Width", "77"});
  f.push_back({"Extra", "kept"});
  Released<foundation::TMemoryStream> s(StreamOf(GfxFile(f, Deflated(SmallBmp()))));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"a.kvgfx"));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(store->Params.Width, 3);
  auto* gfx = dynamic_cast<decoders::TGfxBitmapStore*>(store.get());
  std::u16string extra;
  EXPECT_TRUE(gfx->Image->GetFieldText(u"Extra", extra));
  EXPECT_EQ(extra, u"kept");
}

TEST(GfxLoader, RefusalsKeepTheStreamWhereItWas) {
  const Bytes payload = Deflated(SmallBmp());
  Bytes cutText = GfxHeader({{"File", "x"}});
  cutText[4] = 2;  // two pairs announced
  PutText(cutText, "Width");
  PutText(cutText, "3", 50);  // its count exceeds what is left
  Bytes cutPayload = GfxFile(StandardFields(3, 2), payload);
  struct Case {
    const char* label;
    Bytes data;
  } cases[] = {
      {"no magic", Bytes{'K', 'V', 'G', 'X', 0, 0}},
      {"short magic", Bytes{'K', 'V'}},
      {"field count 0", GfxFile({}, payload)},
      {"missing OriginalSize", GfxFile({{"File", "f"}, {"Width", "3"}, {"Height", "2"}}, payload)},
      {"width not an integer", GfxFile({{"File", "f"}, {"Width", "3px"}, {"Height", "2"}, {"OriginalSize", "1"}}, payload)},
      {"value text cut short", cutText},
      {"name text cut short", Bytes{'K', 'V', 'G', 'F', 1, 0, 4}},
      {"negative width", GfxFile(StandardFields(-3, 2), payload)},
      {"zero height", GfxFile(StandardFields(3, 0), payload)},
      {"huge declared size", GfxFile(StandardFields(100000, 100000), payload)},
      {"more pixels than the payload can hold", GfxFile(StandardFields(5000, 5000), payload)},
      {"no payload for a large size", GfxFile(StandardFields(3000, 2000), {})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    foundation::TMemoryStream* s = StreamOf(c.data, 9);
    s->_AddRef();
    imaging::TLevelProvider none;
    EXPECT_EQ(decoders::LoadGfxBitmapStore(s, u"x.kvgfx", true, none), nullptr);
    EXPECT_EQ(s->GetPosition(), 9);
    EXPECT_EQ(s->_Release(), 1);
    s->Free();
  }
}

TEST(GfxLoader, AFieldCountCutShortRaisesTheReadError) {
  Released<foundation::TMemoryStream> s(StreamOf(Bytes{'K', 'V', 'G', 'F', 1}, 4));
  imaging::TLevelProvider none;
  EXPECT_THROW(decoders::LoadGfxBitmapStore(s.get(), u"x.kvgfx", false, none), foundation::EStreamReadError);
  EXPECT_EQ(s->GetPosition(), 4);
}

TEST(GfxLoader, PayloadsThatDoNotDecodeGiveTheGreenBitmapOfTheDeclaredSize) {
  Bytes bomb(3 * 1024 * 1024, 0x41);  // inflates far beyond any 5 x 4 BMP
  const Bytes good = Deflated(SmallBmp());
  struct Case {
    const char* label;
    Bytes payload;
  } cases[] = {
      {"no payload", {}},
      {"not deflate", Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x12}},
      {"deflate of something else", Deflated(Bytes{'h', 'e', 'l', 'l', 'o'})},
      {"deflate cut short", Bytes(good.begin(), good.begin() + 10)},
      {"larger than any bitmap of the size", Deflated(bomb)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Released<foundation::TMemoryStream> s(StreamOf(GfxFile(StandardFields(5, 4), c.payload)));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"broken.bmp"));
    ASSERT_NE(store.get(), nullptr);
    imaging::TSysBitmap* b = Level(store.get(), 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, 5);
    EXPECT_EQ(b->Height, 4);
    bool green = true;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) green = green && Pixel32(b, x, y) == decoders::GfxLoadFailColor;
    EXPECT_TRUE(green);
    EXPECT_FALSE(dynamic_cast<decoders::TGfxBitmapStore*>(store.get())->Image->Decoded);
  }
}

TEST(GfxLoader, RegistryNamesThatReachIt) {
  const Bytes file = GfxFile(StandardFields(3, 2), Deflated(SmallBmp()));
  for (const char16_t* name : {u"a.kvgfx", u"a.bmp", u"a.DIB", u"a.png", u"clip.gif|framesatlas"}) {
    Released<foundation::TMemoryStream> s(StreamOf(file));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), name));
    EXPECT_NE(dynamic_cast<decoders::TGfxBitmapStore*>(store.get()), nullptr);
  }
  for (const char16_t* name : {u"a.jpg", u"a.gif", u"a.txt"}) {
    Released<foundation::TMemoryStream> s(StreamOf(file));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), name));
    EXPECT_EQ(store.get(), nullptr);
  }
}

TEST(GfxLoader, AContainerEntryKeepsReportingWhileThePayloadDecodes) {
  // The entry lies at offset 11 of its container; reading it reports through a callback.
  const Bytes file = GfxFile(StandardFields(3, 2), Deflated(SmallBmp()));
  foundation::TMemoryStream* base = StreamOf(file, 11);
  auto* entry = new container::TPartialStream(base, 11, static_cast<int64_t>(file.size()), true);
  int reports = 0;
  entry->SetReadCallback([&](foundation::TStream*) { ++reports; }, 256);
  entry->SetPosition(0);
  Released<container::TPartialStream> hold(entry);
  Released<imaging::TBitmapStore> store(LoadStore(entry, u"entry.kvgfx"));
  ASSERT_NE(store.get(), nullptr);
  auto* gfx = dynamic_cast<decoders::TGfxBitmapStore*>(store.get());
  auto* payload = dynamic_cast<container::TPartialStream*>(gfx->Image->Payload);
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(payload->GetSize(), static_cast<int64_t>(file.size() - GfxHeader(StandardFields(3, 2)).size()));
  EXPECT_EQ(payload->ChunkSize(), 256);
  EXPECT_TRUE(static_cast<bool>(payload->ReadCallback()));
  reports = 0;
  ASSERT_NE(Level(store.get(), 0), nullptr);
  EXPECT_TRUE(gfx->Image->Decoded);
  EXPECT_GT(reports, 0);
}

}  // namespace
