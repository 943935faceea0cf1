// The BMP and GIF loaders: stores, atlases, disposal and the tiles tag.
#include "decoders/SysGifLoader.h"

#include <gtest/gtest.h>

#include "container/kvZLib.h"
#include "decoders/SysBitmapLoader.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/GifWriter.h"

using namespace decoders;
using decoders_test::Released;
using decoders_test::StreamOf;
using testsupport::Bytes;
using testsupport::GifFrame;
using testsupport::GifSpec;

namespace {

// Palette: 0 transparent key, 1 red, 2 green, 3 blue.
const std::vector<uint32_t> kPalette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;

GifFrame Frame(uint16_t left, uint16_t top, uint16_t w, uint16_t h, Bytes idx, uint8_t disposal = 0,
               uint16_t delay = 0) {
  GifFrame f;
  f.left = left, f.top = top, f.width = w, f.height = h, f.indexes = std::move(idx);
  f.graphicControl = true, f.transparent = true, f.transparentIndex = 0, f.disposal = disposal, f.delay = delay;
  return f;
}

Bytes Animated(uint16_t w, uint16_t h, std::vector<GifFrame> frames, std::optional<uint16_t> loops = 0) {
  GifSpec s;
  s.width = w, s.height = h, s.globalPalette = kPalette, s.loops = loops, s.frames = std::move(frames);
  return testsupport::WriteGif(s);
}

struct Loaded {
  foundation::TRef<imaging::TBitmapStore> store;
  imaging::TDirectBitmap* bitmap = nullptr;
  decoders::TTilesTag* tag = nullptr;
};

Loaded Load(const Bytes& file, bool atlas) {
  imaging::TLevelProvider none;
  auto* s = StreamOf(file);
  Loaded l{foundation::TRef<imaging::TBitmapStore>::Adopt(
      atlas ? LoadGifAtlasBitmapStore(s, u"a.gif|framesatlas", true, none)
            : LoadGifBitmapStore(s, u"a.gif", true, none))};
  if (!l.store.Get()) {
    s->Free();
    return l;
  }
  l.bitmap = dynamic_cast<imaging::TDirectBitmap*>(static_cast<imaging::TWrapperBitmapStore*>(l.store.Get())->Bitmap);
  l.tag = imaging::TBitmapStore::FindAttachment<decoders::TTilesTag>(l.store.Get());
  return l;
}

uint32_t Px(imaging::TDirectBitmap* b, int x, int y) { return imaging::LoadU32(b->Row(y) + x * 4); }

TEST(GifLoader, AtlasTimingAndTag) {
  Bytes file = Animated(2, 1, {Frame(0, 0, 2, 1, {1, 1}, 0, 10), Frame(0, 0, 2, 1, {2, 2}, 0, 0),
                               Frame(0, 0, 2, 1, {3, 3}, 0, 25)},
                        3);
  Loaded l = Load(file, true);
  ASSERT_NE(l.bitmap, nullptr);
  EXPECT_EQ(l.bitmap->Width, 6);
  EXPECT_EQ(l.bitmap->Height, 1);
  EXPECT_EQ(Px(l.bitmap, 0, 0), kRed);
  EXPECT_EQ(Px(l.bitmap, 3, 0), kGreen);
  EXPECT_EQ(Px(l.bitmap, 5, 0), kBlue);
  ASSERT_NE(l.tag, nullptr);
  EXPECT_EQ(l.tag->FrameWidth, 2);
  EXPECT_EQ(l.tag->FrameHeight, 1);
  EXPECT_EQ(l.tag->Columns, 3);
  EXPECT_EQ(l.tag->FrameCount, 3);
  EXPECT_EQ(l.tag->Rows, 1);
  EXPECT_EQ(l.tag->TotalDuration, 400);
  EXPECT_EQ(l.tag->MeanDuration, 133);
  EXPECT_EQ(std::string(l.tag->Delays.View()), "100,50,250");
  EXPECT_EQ(l.tag->LoopCount, 3);

  // The plain name gives the first frame, without a tag.
  Loaded still = Load(file, false);
  ASSERT_NE(still.bitmap, nullptr);
  EXPECT_EQ(still.bitmap->Width, 2);
  EXPECT_EQ(still.tag, nullptr);
  // A file that is not animated gives its first frame even as an atlas.
  Loaded single = Load(Animated(2, 1, {Frame(0, 0, 2, 1, {2, 2})}, std::nullopt), true);
  ASSERT_NE(single.bitmap, nullptr);
  EXPECT_EQ(single.bitmap->Width, 2);
  EXPECT_EQ(single.tag, nullptr);
}

TEST(GifLoader, WithoutALoopExtensionEachFrameKeepsItsOwnGraphicControl) {
  // Animated only because a second image follows: the first frame's delay is
  // its own, and the second frame's transparent key still applies.
  struct Case {
    std::optional<uint16_t> loops;
    int32_t loopCount;
  } cases[] = {{std::nullopt, 1}, {0, 0}};
  for (const Case& c : cases) {
    GifFrame second = Frame(0, 0, 2, 1, {0, 3}, 0, 20);
    Loaded l = Load(Animated(2, 1, {Frame(0, 0, 2, 1, {1, 2}, 0, 10), second}, c.loops), true);
    ASSERT_NE(l.bitmap, nullptr);
    ASSERT_NE(l.tag, nullptr);
    EXPECT_EQ(std::string(l.tag->Delays.View()), "100,200");
    EXPECT_EQ(l.tag->TotalDuration, 300);
    EXPECT_EQ(l.tag->LoopCount, c.loopCount);
    EXPECT_EQ(Px(l.bitmap, 2, 0), kRed);  // see-through pixel of frame 2 filled from cell 0
    EXPECT_EQ(Px(l.bitmap, 3, 0), kBlue);
  }
}

TEST(GifLoader, DisposalRulesFillSeeThroughPixels) {
  // Restore-to-previous: frame 1 keeps (1), frame 2 restores (3); frame 3's hole comes from cell 0.
  Loaded prev = Load(Animated(2, 1, {Frame(0, 0, 2, 1, {1, 2}, 1), Frame(0, 0, 2, 1, {3, 0}, 3),
                                     Frame(0, 0, 2, 1, {0, 3}, 0)}),
                     true);
  ASSERT_NE(prev.bitmap, nullptr);
  EXPECT_EQ(Px(prev.bitmap, 3, 0), kGreen);  // cell 1's hole from cell 0
  EXPECT_EQ(Px(prev.bitmap, 4, 0), kRed);    // cell 2's hole from cell 0, not cell 1 (blue)
  // Restore-to-background: the previous frame's rectangle stays clear.
  Loaded bg = Load(Animated(2, 2, {Frame(0, 0, 2, 2, {1, 1, 1, 1}, 0), Frame(0, 0, 1, 1, {2}, 2),
                                   Frame(0, 0, 2, 2, {0, 0, 0, 0}, 0)}),
                   true);
  ASSERT_NE(bg.bitmap, nullptr);
  EXPECT_EQ(Px(bg.bitmap, 2, 0), kGreen);
  EXPECT_EQ(Px(bg.bitmap, 3, 1), kRed);
  EXPECT_EQ(Px(bg.bitmap, 4, 0), 0u);
  EXPECT_EQ(Px(bg.bitmap, 5, 0), kRed);
  EXPECT_EQ(Px(bg.bitmap, 4, 1), kRed);
}

TEST(GifLoader, FramesLargerThanTheScreenStayInTheirCell) {
  Loaded l = Load(Animated(2, 2, {Frame(0, 0, 2, 2, {1, 1, 1, 1}), Frame(1, 1, 4, 4, Bytes(16, 3))}), true);
  ASSERT_NE(l.bitmap, nullptr);
  EXPECT_EQ(l.bitmap->Width, 4);
  EXPECT_EQ(Px(l.bitmap, 1, 1), kRed);  // cell 0 untouched
  EXPECT_EQ(Px(l.bitmap, 3, 1), kBlue);
  EXPECT_EQ(Px(l.bitmap, 2, 0), kRed);
}

TEST(GifLoader, AtlasStaysBelowThePixelLimit) {
  const int64_t saved = GifAtlasPixelLimit;
  GifAtlasPixelLimit = 5;  // a 1 x 1 screen: at most 4 frames
  std::vector<GifFrame> frames;
  for (int i = 0; i < 10; ++i) frames.push_back(Frame(0, 0, 1, 1, {uint8_t(1 + i % 3)}, 0, 1));
  Loaded l = Load(Animated(1, 1, frames), true);
  GifAtlasPixelLimit = saved;
  ASSERT_NE(l.bitmap, nullptr);
  EXPECT_EQ(l.bitmap->Width, 4);
  EXPECT_EQ(l.tag->FrameCount, 4);
  EXPECT_EQ(l.tag->TotalDuration, 40);
}

TEST(GifLoader, DeclinesWhatItCannotRead) {
  imaging::TLevelProvider none;
  for (Bytes data : {Bytes{'G', 'I'}, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14},
                     Animated(2, 1, {Frame(0, 0, 0, 0, {})})}) {
    Released<foundation::TMemoryStream> s(StreamOf(data));
    EXPECT_EQ(LoadGifBitmapStore(s.get(), u"x.gif", false, none), nullptr);
  }
}

TEST(BmpLoader, WrapsTheDecodedBitmapOrDeclines) {
  imaging::TLevelProvider none;
  testsupport::BmpSpec spec;
  spec.width = 2, spec.height = 1, spec.bits = 24;
  spec.pixels = testsupport::BmpPackRows(2, 1, 24, {0x112233, 0x445566});
  auto* s = StreamOf(testsupport::WriteBmp(spec));
  Released<imaging::TBitmapStore> store(LoadBmpBitmapStore(s, u"a.bmp", true, none));
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(store->Params.Width, 2);
  EXPECT_EQ(store->Params.PixelFormat, imaging::pfR8G8B8);
  EXPECT_EQ(store->ColorProfile, nullptr);
  auto* b = dynamic_cast<imaging::TSysBitmap*>(store->GetBitmap(0, nullptr, nullptr));
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Row(0)[3], 0x66);

  Bytes broken = testsupport::WriteBmp(spec);
  broken.resize(20);  // the colour table/header cut short raises inside: declined
  Released<foundation::TMemoryStream> t(StreamOf(broken, 5));
  EXPECT_EQ(LoadBmpBitmapStore(t.get(), u"a.bmp", true, none), nullptr);
  EXPECT_EQ(t->GetPosition(), 5);
}

}  // namespace
