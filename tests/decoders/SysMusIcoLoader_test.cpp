// The music-icon loader: one shared store per extension, rebuilt after its
// last reference goes, and the icon picture from the program's own PNG.
#include "decoders/SysMusIcoLoader.h"

#include <gtest/gtest.h>

#include "decoders/SysPngLoader.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

using namespace decoders;
using decoders_test::StreamOf;

namespace {

bool Registered(imaging::TImageLoaderFunc f) {
  for (const auto& e : imaging::ImageLoaders())
    if (e.Loader == f) return true;
  return false;
}

class MusicIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Registered(&LoadPngBitmapStore)) InitSysPngLoader();
    if (!Registered(&LoadMusicIconBitmapStore)) InitSysMusIcoLoader();
  }
  void TearDown() override { DoneSysMusIcoLoader(); }

  imaging::TBitmapStore* Load(const std::u16string& name) {
    imaging::TLevelProvider none;
    auto* s = StreamOf({});
    imaging::TBitmapStore* store = LoadMusicIconBitmapStore(s, name, true, none);
    return store;
  }
};

TEST_F(MusicIcon, OneStorePerExtensionWhileReferenced) {
  imaging::TBitmapStore* a = Load(u"C:/music/one.mp3");
  imaging::TBitmapStore* b = Load(u"two.MP3");
  imaging::TBitmapStore* c = Load(u"three.flac");
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(a->Params.Width, 256);
  EXPECT_EQ(a->Params.PixelFormat, imaging::pfA8R8G8B8);
  const int32_t slot = static_cast<TMusIcoStore*>(a)->Index;
  a->Free();
  b->Free();
  // Both references gone: a new request builds a new store in the same slot.
  imaging::TBitmapStore* d = Load(u"four.mp3");
  EXPECT_EQ(static_cast<TMusIcoStore*>(d)->Index, slot);
  EXPECT_EQ(d->RefCount(), 2);  // the caller's and the table's
  d->Free();
  c->Free();
}

TEST_F(MusicIcon, LevelZeroIsTheArtwork) {
  imaging::TBitmapStore* store = Load(u"x.ogg");
  auto* icon = dynamic_cast<imaging::TSysBitmap*>(store->GetBitmap(0, nullptr, nullptr));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->Width, 256);
  EXPECT_EQ(icon->Height, 256);
  // Transparent outside the sheet, opaque white on it, blue inside the note.
  EXPECT_EQ(icon->Rows32(2)[2].A, 0);
  const imaging::TFColorA sheet = icon->Rows32(200)[60];
  EXPECT_EQ(sheet.A, 255);
  EXPECT_EQ(sheet.R, 255);
  const imaging::TFColorA note = icon->Rows32(146)[94];
  EXPECT_GT(note.B, 150);
  EXPECT_LT(note.R, 100);
  // Smaller levels are halved from level 0.
  imaging::TBitmap* half = store->GetBitmap(1, nullptr, nullptr);
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->Width, 128);
  store->Free();
}

TEST_F(MusicIcon, ExtensionTextIsWrittenOnTheSheet) {
  QEL_REQUIRE_PINNED_FONTS();
  // The bare artwork first, without a vectorizer (the decoders' start-up
  // started the text library; its units start again below on the pinned
  // fonts).
  text::StopText();
  imaging::TBitmapStore* bare = Load(u"x.m4a");
  auto* plain = dynamic_cast<imaging::TSysBitmap*>(bare->GetBitmap(0, nullptr, nullptr));
  ASSERT_NE(plain, nullptr);
  std::vector<imaging::TFColorA> before;
  for (int y = 0; y < 256; ++y) before.insert(before.end(), plain->Rows32(y), plain->Rows32(y) + 256);
  bare->Free();
  DoneSysMusIcoLoader();
  InitSysMusIcoLoader();

  testsupport::ScopedFontBackend fonts;
  text::InitWinFontUtils();
  text::InitGdiDynamicFunctions();
  text::InitFontSubstitute();
  text::InitWinTextVectorizer();
  imaging::TBitmapStore* store = Load(u"song.m4a");
  auto* icon = dynamic_cast<imaging::TSysBitmap*>(store->GetBitmap(0, nullptr, nullptr));
  ASSERT_NE(icon, nullptr);
  // "M4A" in grey (98, 98, 98), 50 pixels high, its bottom 21 pixels above the sheet's, centred.
  int grey = 0, top = 256, bottom = -1, left = 256, right = -1;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      const imaging::TFColorA c = icon->Rows32(y)[x];
      const imaging::TFColorA o = before[size_t(y * 256 + x)];
      if (c.R != o.R || c.G != o.G || c.B != o.B || c.A != o.A) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        left = std::min(left, x);
        right = std::max(right, x);
      }
      grey += c.R == 98 && c.G == 98 && c.B == 98 && c.A == 255;
    }
  EXPECT_GT(grey, 200);
  EXPECT_GE(top, 256 - 21 - 50);
  EXPECT_LE(bottom, 256 - 21);
  EXPECT_GT(bottom - top, 25);  // capitals of a 50-pixel line
  EXPECT_NEAR((left + right) / 2.0, 128, 12);
  store->Free();
  text::DoneWinTextVectorizer();
  text::DoneFontSubstitute();
  text::DoneGdiDynamicFunctions();
  text::DoneDWTextUtils();
  text::DoneTextServices();
}

}  // namespace
