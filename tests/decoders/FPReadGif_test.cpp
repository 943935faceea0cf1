// The GIF reader: blocks, extensions, palettes, LZW decoding, frames and skipping.
#include "decoders/FPReadGif.h"

#include <gtest/gtest.h>

#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/GifWriter.h"

using namespace decoders;
using decoders_test::Released;
using decoders_test::ScopedLogCapture;
using decoders_test::StreamOf;
using testsupport::Bytes;
using testsupport::GifFrame;
using testsupport::GifSpec;

namespace {

GifFrame Frame(uint16_t w, uint16_t h, Bytes indexes) {
  GifFrame f;
  f.width = w, f.height = h, f.indexes = std::move(indexes);
  return f;
}

const std::vector<uint32_t> kPalette4 = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};

struct Reader {
  Released<foundation::TMemoryStream> stream;
  Released<TFPReaderGif> reader{new TFPReaderGif()};
  imaging::TDirectBitmap* first = nullptr;
  explicit Reader(const Bytes& file) : stream(StreamOf(file)) {}
  ~Reader() { foundation::FreeObj(first); }
  imaging::TDirectBitmap* Read() {
    reader->InternalRead(stream.get(), first);
    return first;
  }
};

uint32_t Px(imaging::TDirectBitmap* b, int x, int y) { return imaging::LoadU32(b->Row(y) + x * 4); }

TEST(GifReader, OneImageWithAGlobalPalette) {
  GifSpec s;
  s.width = 3, s.height = 2;
  s.globalPalette = kPalette4;
  s.frames = {Frame(3, 2, {0, 1, 2, 3, 2, 1})};
  Bytes file = testsupport::WriteGif(s);
  Reader r(file);
  ASSERT_TRUE(r.reader->InternalCheck(r.stream.get()));
  EXPECT_EQ(r.stream->GetPosition(), 0);
  auto* b = r.Read();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->PixelFormat, imaging::pfA8R8G8B8);
  const uint32_t expect[6] = {0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF00FF00, 0xFFFF0000};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Px(b, i % 3, i / 3), expect[i]) << i;
  EXPECT_EQ(r.reader->Animated, 0);
  EXPECT_EQ(r.reader->LoopCount, 1);
  EXPECT_EQ(int(r.reader->Header.ScreenWidth), 3);
  // Left in front of the trailer.
  EXPECT_EQ(r.stream->GetPosition(), static_cast<int64_t>(file.size()) - 1);
  imaging::TDirectBitmap* next = nullptr;
  EXPECT_TRUE(r.reader->ReadNextFrame(r.stream.get(), next));
  EXPECT_EQ(next, nullptr);
}

TEST(GifReader, LoopExtensionAndSecondImageMakeItAnimated) {
  struct Case {
    std::optional<uint16_t> loops;
    int frames;
    uint8_t animated;
    int32_t loopCount;
  } cases[] = {{65535, 1, 1, 0}, {2, 1, 1, 2}, {std::nullopt, 1, 0, 1}, {std::nullopt, 2, 1, 1}};
  for (const Case& c : cases) {
    GifSpec s;
    s.width = 1, s.height = 1;
    s.globalPalette = kPalette4;
    s.loops = c.loops;
    for (int i = 0; i < c.frames; ++i) s.frames.push_back(Frame(1, 1, {uint8_t(i + 1)}));
    Bytes file = testsupport::WriteGif(s);
    Reader r(file);
    ASSERT_NE(r.Read(), nullptr);
    EXPECT_EQ(r.reader->Animated, c.animated);
    EXPECT_EQ(r.reader->LoopCount, c.loopCount);
    if (c.frames == 2) {
      EXPECT_EQ(file[static_cast<size_t>(r.stream->GetPosition())], ',');
      imaging::TDirectBitmap* second = nullptr;
      ASSERT_TRUE(r.reader->ReadNextFrame(r.stream.get(), second));
      Released<imaging::TDirectBitmap> keep(second);
      ASSERT_NE(second, nullptr);
      EXPECT_EQ(Px(second, 0, 0), 0xFF00FF00u);
      EXPECT_FALSE(r.reader->SkipFrame(r.stream.get()));
    }
  }
}

TEST(GifReader, TheFirstImageKeepsItsGraphicControlWhenASecondImageFollows) {
  // No loop extension: the read goes on to find the second image, past that
  // image's own graphic control.
  GifSpec s;
  s.width = 1, s.height = 1;
  s.globalPalette = kPalette4;
  GifFrame first = Frame(1, 1, {1});
  first.graphicControl = true, first.delay = 10, first.disposal = 1;
  GifFrame second = Frame(1, 1, {2});
  second.graphicControl = true, second.delay = 20, second.disposal = 2;
  second.transparent = true, second.transparentIndex = 2;
  s.frames = {first, second};
  Bytes file = testsupport::WriteGif(s);
  Reader r(file);
  ASSERT_NE(r.Read(), nullptr);
  EXPECT_EQ(r.reader->Animated, 1);
  EXPECT_EQ(uint16_t(r.reader->GraphicControl.DelayTime), 10);
  EXPECT_EQ(r.reader->GraphicControl.Packedbit >> 2, 1);
  EXPECT_EQ(file[static_cast<size_t>(r.stream->GetPosition())], '!');  // the second image's extension
  imaging::TDirectBitmap* next = nullptr;
  ASSERT_TRUE(r.reader->ReadNextFrame(r.stream.get(), next));
  Released<imaging::TDirectBitmap> keep(next);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(uint16_t(r.reader->GraphicControl.DelayTime), 20);
  EXPECT_EQ(r.reader->GraphicControl.Packedbit >> 2, 2);
  EXPECT_EQ(Px(next, 0, 0), 0x0000FF00u);  // index 2 is this frame's transparent key
}

TEST(GifReader, TransparencyAndPalettes) {
  // Background index 3 without a graphic control: entry 3 is transparent.
  GifSpec s;
  s.width = 2, s.height = 1, s.background = 3;
  s.globalPalette = kPalette4;
  s.frames = {Frame(2, 1, {3, 1})};
  Reader r(testsupport::WriteGif(s));
  auto* b = r.Read();
  EXPECT_EQ(Px(b, 0, 0), 0x000000FFu);
  EXPECT_EQ(Px(b, 1, 0), 0xFFFF0000u);

  // A graphic control names the key instead; a 16-colour table pads to transparent black.
  std::vector<uint32_t> sixteen(16, 0x102030);
  GifSpec g;
  g.width = 2, g.height = 1, g.background = 3;
  g.globalPalette = sixteen;
  GifFrame f = Frame(2, 1, {3, 5});
  f.graphicControl = true, f.transparent = true, f.transparentIndex = 5;
  g.frames = {f};
  Reader rg(testsupport::WriteGif(g));
  auto* bg = rg.Read();
  EXPECT_EQ(Px(bg, 0, 0), 0xFF102030u);
  EXPECT_EQ(Px(bg, 1, 0), 0x00102030u);
  EXPECT_EQ(rg.reader->GlobalPalette->Count, 16);
  EXPECT_EQ(rg.reader->GlobalPalette->Colors[16], 0u);
  EXPECT_EQ(rg.reader->GlobalPalette->Colors[255], 0u);

  // Neither a global nor a local table: a transparent picture, not a read out of range.
  GifSpec none;
  none.width = 2, none.height = 2;
  none.frames = {Frame(2, 2, {0, 1, 2, 3})};
  Reader rn(testsupport::WriteGif(none));
  auto* bn = rn.Read();
  ASSERT_NE(bn, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Px(bn, i % 2, i / 2), 0u);
}

TEST(GifReader, InterlacedRowsGoToTheirPlaces) {
  GifSpec s;
  s.width = 1, s.height = 11;
  std::vector<uint32_t> pal;
  for (uint32_t i = 0; i < 16; ++i) pal.push_back(i);
  s.globalPalette = pal;
  GifFrame f = Frame(1, 11, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  f.interlaced = true;
  s.frames = {f};
  Bytes file = testsupport::WriteGif(s);
  // The stored order is 0, 8, 4, 2, 6, 10, 1, 3, 5, 7, 9.
  Reader r(file);
  auto* b = r.Read();
  for (int y = 0; y < 11; ++y) EXPECT_EQ(Px(b, 0, y), 0xFF000000u | uint32_t(y)) << y;
}

TEST(GifReader, CompressedCodesUseTheTable) {
  // 1 2 (table 6 = "1 2") 6 (table 7 = "2 1", codes grow to 4 bits) 7, end.
  Bytes data = {2};
  Bytes blocks = testsupport::GifSubBlocks(testsupport::GifPackCodes({{4, 3}, {1, 3}, {2, 3}, {6, 3}, {7, 4}, {5, 4}}));
  data.insert(data.end(), blocks.begin(), blocks.end());
  // The same with the code being defined (0, then 6 = "0 0", then 7 = "0 0 0").
  Bytes kwk = {2};
  Bytes kb = testsupport::GifSubBlocks(testsupport::GifPackCodes({{4, 3}, {0, 3}, {6, 3}, {7, 3}, {5, 4}}));
  kwk.insert(kwk.end(), kb.begin(), kb.end());
  struct Case {
    Bytes raw;
    std::vector<uint8_t> expect;
  } cases[] = {{data, {1, 2, 1, 2, 2, 1}}, {kwk, {0, 0, 0, 0, 0, 0}}};
  for (const Case& c : cases) {
    GifSpec s;
    s.width = 3, s.height = 2;
    s.globalPalette = kPalette4;
    GifFrame f = Frame(3, 2, {});
    f.rawImageData = c.raw;
    s.frames = {f};
    Reader r(testsupport::WriteGif(s));
    ASSERT_NE(r.Read(), nullptr);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(r.reader->Indexes[static_cast<size_t>(i)], c.expect[static_cast<size_t>(i)]);
  }
}

TEST(GifReader, DamagedData) {
  auto withData = [](Bytes raw, bool trailer = true) {
    GifSpec s;
    s.width = 3, s.height = 2;
    s.globalPalette = kPalette4;
    GifFrame f = Frame(3, 2, {});
    f.rawImageData = std::move(raw);
    s.frames = {f};
    s.trailer = trailer;
    return testsupport::WriteGif(s);
  };
  auto message = [](const Bytes& file) -> std::string {
    Reader r(file);
    try {
      r.Read();
    } catch (const EGifError& e) {
      EXPECT_EQ(r.first, nullptr);
      return e.what();
    }
    return r.first ? "picture" : "none";
  };
  EXPECT_EQ(message(withData({12, 1, 0, 0})), "ClearCode too large");
  // The first code after the clear names an empty table entry.
  Bytes empty = {2};
  Bytes eb = testsupport::GifSubBlocks(testsupport::GifPackCodes({{4, 3}, {7, 3}}));
  empty.insert(empty.end(), eb.begin(), eb.end());
  EXPECT_EQ(message(withData(empty)), "Code too large");

  // Data that ends early: no picture, and the log says why.
  {
    ScopedLogCapture log;
    Bytes shortData = {2};
    Bytes sb = testsupport::GifSubBlocks(testsupport::GifPackCodes({{4, 3}, {1, 3}, {2, 3}}));
    shortData.insert(shortData.end(), sb.begin(), sb.end());
    EXPECT_EQ(message(withData(shortData)), "none");
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(), u"GIFWarning: DecodeTooFewBits! ");
  }
  {
    ScopedLogCapture log;
    EXPECT_EQ(message(withData({2, 200, 0x0C}, false)), "none");
    EXPECT_EQ(log.Lines().front(), u"GIFWarning: OutOfData! ");
  }

  GifSpec bad;
  bad.version = "88a";
  bad.frames = {Frame(1, 1, {0})};
  EXPECT_EQ(message(testsupport::WriteGif(bad)), "Unknown/Unsupported GIF image type");

  // Huge frames are refused before anything is allocated.
  GifSpec huge;
  huge.globalPalette = kPalette4;
  GifFrame h = Frame(65535, 65535, {});
  h.rawImageData = Bytes{2, 0};
  huge.frames = {h};
  EXPECT_NE(message(testsupport::WriteGif(huge)), "picture");
}

TEST(GifReader, SkipFrameStepsOverLocalPalettesAndData) {
  GifSpec s;
  s.width = 2, s.height = 2;
  s.globalPalette = kPalette4;
  s.frames.push_back(Frame(2, 2, {0, 0, 0, 0}));
  for (uint8_t i = 1; i <= 3; ++i) {
    GifFrame f = Frame(2, 2, {i, i, i, i});
    f.localPalette.assign(256, 0x000100 * i);  // flags 0x87: 768 bytes
    s.frames.push_back(f);
  }
  Bytes file = testsupport::WriteGif(s);
  Reader r(file);
  ASSERT_NE(r.Read(), nullptr);
  const int64_t before = r.stream->GetPosition();
  EXPECT_TRUE(r.reader->SkipFrame(r.stream.get()));
  EXPECT_GT(r.stream->GetPosition() - before, 768);
  EXPECT_TRUE(r.reader->SkipFrame(r.stream.get()));
  imaging::TDirectBitmap* third = nullptr;
  ASSERT_TRUE(r.reader->ReadNextFrame(r.stream.get(), third));
  Released<imaging::TDirectBitmap> keep(third);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(Px(third, 1, 1), 0xFF000300u);
  EXPECT_FALSE(r.reader->SkipFrame(r.stream.get()));
}

TEST(GifReader, SkipFrameMakesEachSkippedFrameTheCurrentOne) {
  // Indexing a file by skipping needs every frame's own rectangle and graphic control.
  struct Case {
    uint16_t left, top, width, height, delay;
    uint8_t disposal;
    bool local;
  } cases[] = {{1, 2, 3, 1, 7, 1, false}, {0, 0, 1, 4, 0, 2, true}, {5, 3, 2, 2, 25, 3, false}};
  GifSpec s;
  s.width = 8, s.height = 8;
  s.globalPalette = kPalette4;
  s.frames.push_back(Frame(8, 8, Bytes(64, 0)));
  for (const Case& c : cases) {
    GifFrame f = Frame(c.width, c.height, Bytes(size_t(c.width) * c.height, 1));
    f.left = c.left, f.top = c.top;
    f.graphicControl = true, f.delay = c.delay, f.disposal = c.disposal;
    if (c.local) f.localPalette = kPalette4;
    s.frames.push_back(f);
  }
  Reader r(testsupport::WriteGif(s));
  ASSERT_NE(r.Read(), nullptr);
  for (const Case& c : cases) {
    ASSERT_TRUE(r.reader->SkipFrame(r.stream.get()));
    const TGifImageDescriptor& d = r.reader->Descriptor;
    EXPECT_EQ(uint16_t(d.Left), c.left);
    EXPECT_EQ(uint16_t(d.Top), c.top);
    EXPECT_EQ(uint16_t(d.Width), c.width);
    EXPECT_EQ(uint16_t(d.Height), c.height);
    EXPECT_EQ((d.Packedbit & 0x80) != 0, c.local);
    EXPECT_EQ(uint16_t(r.reader->GraphicControl.DelayTime), c.delay);
    EXPECT_EQ((r.reader->GraphicControl.Packedbit >> 2) & 7, c.disposal);
  }
  EXPECT_FALSE(r.reader->SkipFrame(r.stream.get()));
}

}  // namespace

namespace {

TEST(GifReader, ProgressCanStopTheRead) {
  GifSpec s;
  s.width = 1, s.height = 1;
  s.globalPalette = kPalette4;
  s.frames = {Frame(1, 1, {1})};
  for (uint8_t stopAt : {0, 1}) {
    Reader r(testsupport::WriteGif(s));
    std::vector<uint8_t> stages;
    r.reader->OnProgress = [&](TFPCustomImageReader*, uint8_t stage, uint8_t, bool, const imaging::TRect&,
                               const std::u16string&, bool& cont) {
      stages.push_back(stage);
      if (stage == stopAt) cont = false;
    };
    EXPECT_EQ(r.Read(), nullptr);
    EXPECT_EQ(stages.back(), stopAt);
  }
  Reader all(testsupport::WriteGif(s));
  std::vector<uint8_t> stages;
  all.reader->OnProgress = [&](TFPCustomImageReader*, uint8_t stage, uint8_t, bool, const imaging::TRect&,
                               const std::u16string&, bool&) { stages.push_back(stage); };
  EXPECT_NE(all.Read(), nullptr);
  EXPECT_EQ(stages, (std::vector<uint8_t>{0, 1, 2}));
}

TEST(GifReader, TheKeyColourIsRestoredForTheNextFrame) {
  // Frame 1 makes entry 2 transparent; frame 2 has no graphic control and draws entry 2 opaque.
  GifSpec s;
  s.width = 1, s.height = 1;
  s.globalPalette = kPalette4;
  GifFrame first = Frame(1, 1, {2});
  first.graphicControl = true, first.transparent = true, first.transparentIndex = 2;
  GifFrame second = Frame(1, 1, {2});
  second.graphicControl = true, second.transparent = false;
  s.frames = {first, second};
  Reader r(testsupport::WriteGif(s));
  ASSERT_NE(r.Read(), nullptr);
  EXPECT_EQ(Px(r.first, 0, 0), 0x0000FF00u);
  imaging::TDirectBitmap* next = nullptr;
  ASSERT_TRUE(r.reader->ReadNextFrame(r.stream.get(), next));
  Released<imaging::TDirectBitmap> keep(next);
  EXPECT_EQ(Px(next, 0, 0), 0xFF00FF00u);
}

}  // namespace

namespace {

class TPlainStore : public imaging::TBitmapStore {
 public:
  void GetMipLevel(imaging::TMipLevelResult&, int32_t, imaging::TPixelFormat*, imaging::TBitmapClass) override {}
};

}  // namespace

TEST(TilesTag, AttachesItselfToTheStoreThatOwnsIt) {
  auto store = foundation::TRef<TPlainStore>::Adopt(new TPlainStore());
  EXPECT_EQ(imaging::TBitmapStore::FindAttachment<decoders::TTilesTag>(store.Get()), nullptr);
  auto* tag = new decoders::TTilesTag(store.Get());
  tag->FrameCount = 3;
  EXPECT_EQ(imaging::TBitmapStore::FindAttachment<decoders::TTilesTag>(store.Get()), tag);
  // Released with the store (LeakSanitizer would see it otherwise).
  auto loose = foundation::TRef<decoders::TTilesTag>::Adopt(new decoders::TTilesTag(nullptr));
  EXPECT_EQ(loose->FrameCount, 0);
}
