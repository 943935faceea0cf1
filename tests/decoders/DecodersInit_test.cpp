// The registrations of the image loaders: their order, their extensions, the
// profile readers, the colour-transform hook, and the contract that a loader
// declining data hands the stream on untouched so another loader of the same
// extension can take it.
#include "decoders/Startup.h"

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
#include "container/kvZLib.h"
#include "tests/support/GifWriter.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/PngWriter.h"

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
  decoders::StartDecoders();
  EXPECT_EQ(imaging::ImageLoaders().size(), before);
}

TEST(DecodersInit, StartingAgainAfterStoppingRegistersEverythingOnce) {
  auto readers = [] {
    int n = 0;
    for (const auto& item : imaging::ProfileLoaders())
      n += item.Loader == &decoders::ReadJpegColorProfile || item.Loader == &decoders::ReadPngColorProfile;
    return n;
  };
  const size_t loaders = imaging::ImageLoaders().size();
  ASSERT_EQ(readers(), 2);
  decoders::StopDecoders();
  EXPECT_TRUE(imaging::ImageLoaders().empty());
  decoders::StartDecoders();
  EXPECT_EQ(imaging::ImageLoaders().size(), loaders);
  EXPECT_EQ(readers(), 2);
  // The music-icon loader works again after its restart.
  Released<foundation::TMemoryStream> s(StreamOf({}));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"song.mp3"));
  EXPECT_NE(store.get(), nullptr);
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

TEST(DecodersInit, SharedExtensionsFallThroughToTheFormatsOwnLoader) {
  testsupport::PngImageSpec spec;
  spec.width = 2;
  spec.height = 2;
  const testsupport::Bytes png = testsupport::MakePng(spec, testsupport::Bytes(12, 0x80));
  for (const char16_t* name : {u"pic.png", u"pic.bmp"}) {
    SCOPED_TRACE(std::string(name, name + 7).c_str());
    Released<foundation::TMemoryStream> s(StreamOf(png, 2));
    Released<imaging::TBitmapStore> store(LoadStore(s.get(), name));
    EXPECT_NE(dynamic_cast<decoders::TPngBitmapStore*>(store.get()), nullptr);
  }
  testsupport::GifSpec gif;
  gif.width = 2;
  gif.height = 1;
  gif.globalPalette = {0xFF0000, 0x00FF00};
  testsupport::GifFrame frame;
  frame.width = 2;
  frame.indexes = {0, 1};
  frame.graphicControl = true;
  frame.delay = 10;
  gif.frames = {frame, frame};  // animated: an atlas of two cells
  Released<foundation::TMemoryStream> s(StreamOf(testsupport::WriteGif(gif)));
  Released<imaging::TBitmapStore> store(LoadStore(s.get(), u"clip.gif|framesatlas"));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(dynamic_cast<decoders::TGfxBitmapStore*>(store.get()), nullptr);
  EXPECT_NE(imaging::TBitmapStore::FindAttachment<decoders::TTilesTag>(store.get()), nullptr);
}

}  // namespace
