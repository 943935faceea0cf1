// The registrations of the image loaders: their order, their extensions, the
// profile readers, the colour-transform hook, and the contract that a loader
// declining data hands the stream on untouched so another loader of the same
// extension can take it.
#include "decoders/DecodersInit.h"

#include <gtest/gtest.h>

#include "decoders/SysBitmapLoader.h"
#include "decoders/SysGfxLoader.h"
#include "decoders/SysGifLoader.h"
#include "decoders/SysJpegLoader.h"
#include "decoders/SysMusIcoLoader.h"
#include "decoders/SysPngLoader.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvICCColorProfile.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/JpegMaker.h"

namespace {

using decoders_test::LoadStore;
using decoders_test::Released;
using decoders_test::StreamOf;

TEST(DecodersInit, LoadersAreRegisteredInTheirFixedOrder) {
  using Exts = std::vector<std::u16string>;
  const std::vector<std::pair<imaging::TImageLoaderFunc, Exts>> expected = {
      {&decoders::LoadGfxBitmapStore, {u".kvgfx", u".bmp", u".dib", u".png", u".gif|framesatlas"}},
      {&decoders::LoadBmpBitmapStore, {u".bmp", u".dib"}},
      {&decoders::LoadJpegBitmapStore, {u".jpg", u".jpeg", u".jpe", u".jfif"}},
      {&decoders::LoadPngBitmapStore, {u".png"}},
      {&decoders::LoadMusicIconBitmapStore, {u".mp3", u".wma", u".ogg", u".wav", u".m4a", u".flac"}},
      {&decoders::LoadGifBitmapStore, {u".gif"}},
      {&decoders::LoadGifFirstFrameBitmapStore, {u".gif_first_frame"}},
      {&decoders::LoadGifAtlasBitmapStore, {u".gif|framesatlas"}},
  };
  const auto& loaders = imaging::ImageLoaders();
  ASSERT_EQ(loaders.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(loaders[i].Loader, expected[i].first);
    EXPECT_EQ(loaders[i].Extensions, expected[i].second);
  }
}

TEST(DecodersInit, JpegProfileReaderAndTransformHook) {
  bool found = false;
  for (const auto& item : imaging::ProfileLoaders())
    if (item.Loader == &decoders::ReadJpegColorProfile) {
      found = true;
      EXPECT_EQ(item.Extensions, (std::vector<std::u16string>{u".jpg", u".jpeg", u".jpe", u".jfif"}));
    }
  EXPECT_TRUE(found);
  EXPECT_EQ(imaging::CreateColorTransformHook, &imaging::CreateICCColorTransform);
}

TEST(DecodersInit, StartingTwiceRegistersOnce) {
  const size_t before = imaging::ImageLoaders().size();
  decoders::InitDecoders();
  EXPECT_EQ(imaging::ImageLoaders().size(), before);
}

TEST(DecodersInit, ExtensionsCompareWithoutCaseAndReachTheJpegLoader) {
  const testsupport::Bytes jpeg = testsupport::MakeJpeg(testsupport::JpegSpec{16, 16, 3, 90, false, 0, true});
  for (const char16_t* name : {u"p.jpg", u"p.JPG", u"p.jpeg", u"p.Jpe", u"p.jfif", u"noext"}) {
    Released<foundation::TMemoryStream> s(StreamOf(jpeg, 3));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), name));
    EXPECT_NE(dynamic_cast<decoders::TJpegBitmapStore*>(store.get()), nullptr);
  }
  // A JPEG under a name only the converted-image loader claims: declined, untouched.
  Released<foundation::TMemoryStream> s(StreamOf(jpeg, 3));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"p.kvgfx"));
  EXPECT_EQ(store.get(), nullptr);
  EXPECT_EQ(s->GetPosition(), 3);
}

}  // namespace
