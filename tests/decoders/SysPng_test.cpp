// The PNG object model, chunk reading, image data decoding and conversion.
#include "decoders/SysPng.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <memory>
#include <random>

#include "decoders/SysPngLoader.h"
#include "decoders/SysPngUtils.h"
#include "foundation/kvStream.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/PngWriter.h"

using namespace decoders;
using decoders_test::Released;
using decoders_test::StreamOf;
using testsupport::Bytes;
using testsupport::MakePng;
using testsupport::PngChunk;
using testsupport::PngImageSpec;
using testsupport::WritePng;
using imaging::LoadU32;

namespace {

class Png : public ::testing::Test {
 protected:
  void SetUp() override { InitSysPng(); }
};

std::unique_ptr<TPNGObject> Decode(const Bytes& file) {
  Released<foundation::TMemoryStream> s(StreamOf(file));
  auto png = std::make_unique<TPNGObject>();
  png->LoadFromStream(s.get());
  return png;
}

// Raises the exception of loading file, checks its class and message.
template <class E>
void ExpectLoadError(const Bytes& file, const char* message, const char* what) {
  Released<foundation::TMemoryStream> s(StreamOf(file));
  TPNGObject png;
  try {
    png.LoadFromStream(s.get());
    ADD_FAILURE() << what << ": no exception";
  } catch (const E& e) {
    if (message) {
      EXPECT_STREQ(e.what(), message) << what;
    }
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": other exception " << e.what();
  }
}

Bytes Rgb(uint32_t w, uint32_t h, uint32_t seed = 7) {
  std::mt19937 gen(seed);
  Bytes b(size_t(w) * h * 3);
  for (auto& v : b) v = static_cast<uint8_t>(gen());
  return b;
}

PngImageSpec Spec(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0) {
  PngImageSpec s;
  s.width = w, s.height = h, s.depth = depth, s.colorType = type, s.interlace = interlace;
  return s;
}

std::vector<PngChunk> Chunks(const PngImageSpec& spec, const Bytes& rows, std::vector<PngChunk> before = {},
                             std::vector<PngChunk> after = {}) {
  std::vector<PngChunk> c = {testsupport::PngIhdr(spec)};
  c.insert(c.end(), before.begin(), before.end());
  c.push_back({"IDAT", testsupport::PngImageData(spec, rows)});
  c.insert(c.end(), after.begin(), after.end());
  c.push_back({"IEND", {}});
  return c;
}

// ---- Chunk stream -------------------------------------------------------------

TEST_F(Png, StructuralErrorsRaiseTheirExceptionsWithTheSystemTexts) {
  const PngImageSpec spec = Spec(2, 2, 8, 2);
  const Bytes rows = Rgb(2, 2);
  Bytes notPng = MakePng(spec, rows);
  notPng[1] = 'Q';
  ExpectLoadError<EPNGInvalidFileHeader>(notPng, pnglang::EPngInvalidFileHeaderText, "signature");

  auto chunks = Chunks(spec, rows);
  ExpectLoadError<EPNGIHDRNotFirst>(WritePng({{"gAMA", testsupport::PngBigEndian32(45455)}, chunks[0]}),
                                    pnglang::EPngIHDRNotFirstText, "gAMA first");
  ExpectLoadError<EPNGUnknownCriticalChunk>(WritePng({chunks[0], {"QZRT", {1}}, chunks[1], chunks[2]}),
                                            pnglang::EPngUnknownCriticalChunkText, "critical");
  ExpectLoadError<EPNGNoImageData>(WritePng({chunks[0], chunks[2]}), pnglang::EPngNoImageDataText, "no IDAT");
  ExpectLoadError<foundation::EStreamReadError>(WritePng({chunks[0], chunks[1]}), nullptr, "no IEND");

  struct HeaderCase {
    Bytes ihdr;
    const char* text;
  } headers[] = {
      {Bytes{0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0}, pnglang::EPngInvalidIHDRText},
      {testsupport::PngIhdrData(65536, 1, 8, 2), pnglang::EPngSizeExceedsText},
      {testsupport::PngIhdrData(1, 70000, 8, 2), pnglang::EPngSizeExceedsText},
      {testsupport::PngIhdrData(2, 2, 8, 2, 0, 1), pnglang::EPngUnknownCompressionText},
      {testsupport::PngIhdrData(2, 2, 8, 2, 2), pnglang::EPngUnknownInterlaceText},
      // Far more pixels than the file's data can hold: refused before anything is allocated.
      {testsupport::PngIhdrData(65535, 65535, 8, 6), pnglang::EPngSizeExceedsText},
      {testsupport::PngIhdrData(16000, 16000, 8, 2), pnglang::EPngSizeExceedsText},
      {testsupport::PngIhdrData(2, 2, 8, 5), pnglang::EPngInvalidIHDRText},  // no pixel layout
      {testsupport::PngIhdrData(2, 2, 3, 0), pnglang::EPngInvalidIHDRText},
  };
  for (const HeaderCase& c : headers) {
    Released<foundation::TMemoryStream> s(StreamOf(WritePng({{"IHDR", c.ihdr}, chunks[1], chunks[2]})));
    TPNGObject png;
    try {
      png.LoadFromStream(s.get());
      ADD_FAILURE() << c.text;
    } catch (const foundation::Exception& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
  }

  ExpectLoadError<EPNGInvalidPalette>(WritePng({chunks[0], {"PLTE", Bytes(4)}, chunks[1], chunks[2]}),
                                      pnglang::EPngInvalidPaletteText, "PLTE of 4");
  ExpectLoadError<EPNGInvalidPalette>(WritePng({chunks[0], {"PLTE", Bytes(771)}, chunks[1], chunks[2]}),
                                      pnglang::EPngInvalidPaletteText, "PLTE of 257");
  ExpectLoadError<EPNGInvalidPalette>(WritePng({chunks[0], {"tRNS", Bytes(257)}, chunks[1], chunks[2]}),
                                      pnglang::EPngInvalidPaletteText, "tRNS of 257");
  // An IHDR without the image type for its depth has no copy routine.
  const PngImageSpec odd = Spec(2, 2, 4, 2);
  ExpectLoadError<EPngInvalidIHDR>(WritePng({testsupport::PngIhdr(odd), chunks[1], chunks[2]}),
                                   pnglang::EPngInvalidIHDRText, "truecolour 4 bits");
}

TEST_F(Png, AChunkLengthBeyondTheFileIsAShortRead) {
  auto chunks = Chunks(Spec(2, 2, 8, 2), Rgb(2, 2));
  Bytes file = WritePng({chunks[0], {"teXt", Bytes(10)}, chunks[1], chunks[2]});
  // The length of the ancillary chunk (after the 8-byte signature and 25 bytes of IHDR) claims 2 GB.
  file[33] = 0x7F, file[34] = 0xFF, file[35] = 0xFF, file[36] = 0xF0;
  ExpectLoadError<foundation::EStreamReadError>(file, nullptr, "huge length");
  file[33] = 0xFF;  // above 2^31
  ExpectLoadError<foundation::EStreamReadError>(file, nullptr, "length above 2^31");
}

TEST_F(Png, ChunkListKeepsTheChunksReadInFileOrder) {
  const PngImageSpec spec = Spec(3, 2, 8, 2);
  const Bytes rows = Rgb(3, 2);
  Bytes ztxt = {'C', 'o', 'm', 0, 0};
  Bytes packed = testsupport::ZlibCompress(Bytes{'h', 'e', 'l', 'l', 'o'});
  ztxt.insert(ztxt.end(), packed.begin(), packed.end());
  auto png = Decode(WritePng(Chunks(spec, rows,
                                    {{"cHRM", Bytes(32)},
                                     {"tIME", {0x07, 0xE9, 12, 31, 23, 59, 58}},
                                     {"tEXt", {'K', 'e', 'y', 0, 'v', 'a', 'l'}},
                                     {"zTXt", ztxt},
                                     {"prVt", {1, 2, 3}}})));
  std::vector<std::string> names;
  for (int32_t i = 0; i < png->Chunks.Count(); ++i) names.push_back(png->Chunks.Item(i)->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"IHDR", "tIME", "tEXt", "zTXt", "prVt", "IDAT", "IEND"}));
  auto* time = png->Chunks.ItemFromClass<TChunktIME>();
  ASSERT_NE(time, nullptr);
  EXPECT_EQ(time->Year, 2025);
  EXPECT_EQ(time->Second, 58);
  auto* text = png->Chunks.ItemFromClass<TChunktEXt>();
  EXPECT_EQ(text->Keyword, "Key");
  EXPECT_EQ(text->Text, "val");
  auto* z = png->Chunks.ItemFromClass<TChunkzTXt>();
  EXPECT_EQ(z->Keyword, "Com");
  EXPECT_EQ(z->Text, "hello");
  TChunk* generic = png->Chunks.Item(4);
  EXPECT_EQ(generic->GetName(), "");
  EXPECT_EQ(generic->DataSize, 3);
  EXPECT_EQ(generic->Data[2], 3);
  EXPECT_EQ(png->Width(), 3);
  EXPECT_EQ(png->Height(), 2);
}

TEST_F(Png, ImageDataAcrossChunks) {
  const PngImageSpec spec = Spec(9, 7, 8, 2);
  const Bytes rows = Rgb(9, 7);
  const Bytes z = testsupport::PngImageData(spec, rows);
  auto split = testsupport::PngIdats(z, 10);
  std::vector<PngChunk> chunks = {testsupport::PngIhdr(spec)};
  chunks.insert(chunks.end(), split.begin(), split.end());
  // A later IDAT after another chunk is skipped, whatever it holds.
  chunks.push_back({"tEXt", {'a', 0, 'b'}});
  chunks.push_back({"IDAT", {1, 2, 3}});
  chunks.push_back({"IEND", {}});
  auto png = Decode(WritePng(chunks));
  int idats = 0;
  for (int32_t i = 0; i < png->Chunks.Count(); ++i) idats += png->Chunks.Item(i)->Name == "IDAT";
  EXPECT_EQ(idats, 1);
  const uint8_t* row = png->Header()->PictureRow(6);
  EXPECT_EQ(row[0], rows[6 * 27 + 2]);  // blue of the last row's first pixel
  EXPECT_EQ(row[2], rows[6 * 27 + 0]);

  // Data that breaks off into a non-IDAT chunk: missing image parts.
  std::vector<PngChunk> broken = {testsupport::PngIhdr(spec), split[0], {"tEXt", {'a', 0, 'b'}}, split[1],
                                  {"IEND", {}}};
  ExpectLoadError<EPNGMissingMultipleIDAT>(WritePng(broken), pnglang::EPngMissingMultipleIDATText, "broken");

  // A zero-length IDAT ends the image data: the rows not reached stay zero.
  std::vector<PngChunk> stop = {testsupport::PngIhdr(spec), {"IDAT", Bytes(z.begin(), z.begin() + 20)},
                                {"IDAT", {}}, {"IEND", {}}};
  auto part = Decode(WritePng(stop));
  const uint8_t* last = part->Header()->PictureRow(6);
  EXPECT_EQ(std::count(last, last + 27, 0), 27);

  // Damaged compressed data names zlib's reason.
  Bytes bad = z;
  bad[0] = 0x79;
  try {
    Decode(WritePng({testsupport::PngIhdr(spec), {"IDAT", bad}, {"IEND", {}}}));
    ADD_FAILURE();
  } catch (const EPNGZLIBError& e) {
    EXPECT_STREQ(e.what(), (std::string(pnglang::EPngZLIBErrorText) + zError(Z_DATA_ERROR)).c_str());
  }
}

TEST_F(Png, Transparency) {
  const PngImageSpec spec = Spec(2, 1, 8, 3);
  const Bytes rows = {0, 1};
  const PngChunk plte{"PLTE", Bytes(6, 9)};
  struct Case {
    Bytes trns;
    bool bit;
  } cases[] = {{{255, 0, 255}, true}, {{128, 0, 255}, false}, {{128}, true}, {{255, 255}, false}};
  for (const Case& c : cases) {
    auto png = Decode(WritePng(Chunks(spec, rows, {plte, {"tRNS", c.trns}})));
    EXPECT_EQ(png->Chunks.ItemFromClass<TChunktRNS>()->BitTransparency, c.bit);
  }
}

TEST_F(Png, GammaTables) {
  auto tables = [](std::vector<PngChunk> gama) {
    const PngImageSpec spec = Spec(1, 1, 8, 2);
    return Decode(WritePng(Chunks(spec, {1, 2, 3}, gama)))->GammaTable;
  };
  auto bright = tables({{"gAMA", testsupport::PngBigEndian32(100000)}});
  EXPECT_EQ(bright[0], 0);
  EXPECT_EQ(bright[255], 255);
  EXPECT_EQ(bright[64], static_cast<uint8_t>(std::nearbyint(std::pow(64 / 255.0, 1 / 2.2) * 255)));
  auto same = tables({{"gAMA", testsupport::PngBigEndian32(45455)}});
  for (int i = 0; i < 256; ++i) EXPECT_NEAR(same[i], i, 1);
  // A gAMA chunk of the wrong size is ignored.
  auto wrong = tables({{"gAMA", {1, 2}}});
  for (int i = 0; i < 256; ++i) EXPECT_EQ(wrong[i], i);
}

// ---- Pixels --------------------------------------------------------------------

// Expected pixel (B, G, R, A) of a picture from its raw rows.
struct Expect {
  PngImageSpec spec;
  const Bytes& rows;
  const Bytes& palette;  // RGB triples
  imaging::TFColorA At(uint32_t x, uint32_t y) const {
    const size_t rowBytes = testsupport::PngRowBytes(spec.width, spec.colorType, spec.depth);
    const uint8_t* r = rows.data() + rowBytes * y;
    const int d = spec.depth;
    auto sample = [&](size_t i) -> uint32_t {  // sample i of the row, reduced to 8 bits as stored
      if (d == 16) return r[i * 2];
      if (d == 8) return r[i];
      const size_t bit = i * d;
      return (r[bit / 8] >> (8 - d - bit % 8)) & ((1u << d) - 1);
    };
    switch (spec.colorType) {
      case 0: {
        uint32_t g = sample(x);
        if (d < 8) g = g * 255 / ((1u << d) - 1);
        return {uint8_t(g), uint8_t(g), uint8_t(g), 255};
      }
      case 2: return {uint8_t(sample(x * 3 + 2)), uint8_t(sample(x * 3 + 1)), uint8_t(sample(x * 3)), 255};
      case 3: {
        const uint32_t i = sample(x);
        return {palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 255};
      }
      case 4: return {uint8_t(sample(x * 2)), uint8_t(sample(x * 2)), uint8_t(sample(x * 2)), uint8_t(sample(x * 2 + 1))};
      default:
        return {uint8_t(sample(x * 4 + 2)), uint8_t(sample(x * 4 + 1)), uint8_t(sample(x * 4)), uint8_t(sample(x * 4 + 3))};
    }
  }
};

Released<imaging::TSysBitmap> Convert(TPNGObject* png) {
  imaging::TPixelFormat* f = GetPngPixelFormat(png, false);
  Released<imaging::TSysBitmap> b(imaging::CreateSysBitmap(png->Width(), png->Height(), f));
  EXPECT_TRUE(PngToBitmap(png, b.get()));
  return Released<imaging::TSysBitmap>(std::exchange(b.ptr, nullptr));
}

imaging::TFColorA PixelOf(imaging::TSysBitmap* b, int x, int y) {
  const uint8_t* p = b->Row(y) + x * b->BytesPerPixel();
  return {p[0], p[1], p[2], b->BytesPerPixel() == 4 ? p[3] : uint8_t(255)};
}

TEST_F(Png, EveryColourTypeAndDepthDecodesInBothLayouts) {
  struct Type {
    uint8_t colorType;
    std::vector<uint8_t> depths;
  } types[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {13, 9}, {8, 8}, {3, 17}};
  std::mt19937 gen(42);
  for (const Type& t : types)
    for (uint8_t depth : t.depths)
      for (uint8_t interlace : {0, 1})
        for (auto [w, h] : sizes) {
          const PngImageSpec spec = Spec(w, h, depth, t.colorType, interlace);
          Bytes rows(testsupport::PngRowBytes(w, t.colorType, depth) * h);
          for (auto& v : rows) v = static_cast<uint8_t>(gen());
          Bytes palette(768);
          for (auto& v : palette) v = static_cast<uint8_t>(gen());
          std::vector<PngChunk> before;
          if (t.colorType == 3) before.push_back({"PLTE", palette});
          auto png = Decode(WritePng(Chunks(spec, rows, before)));
          auto bmp = Convert(png.get());
          const bool alpha = t.colorType >= 3;
          EXPECT_EQ(bmp->PixelFormat, alpha ? imaging::pfA8R8G8B8 : imaging::pfR8G8B8);
          Expect e{spec, rows, palette};
          int bad = 0;
          for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
              const auto a = PixelOf(bmp.get(), x, y), b = e.At(x, y);
              bad += a.B != b.B || a.G != b.G || a.R != b.R || (alpha && a.A != b.A);
            }
          EXPECT_EQ(bad, 0) << "type " << int(t.colorType) << " depth " << int(depth) << " interlace "
                            << int(interlace) << " " << w << "x" << h;
        }
}

TEST_F(Png, TwoBitGreyScalesToFullRange) {
  auto png = Decode(MakePng(Spec(4, 1, 2, 0), {0b00011011}));
  auto b = Convert(png.get());
  const uint8_t expect[4] = {0, 85, 170, 255};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(b.get(), x, 0).G, expect[x]);
}

TEST_F(Png, GreyscaleIgnoresGamma) {
  const Bytes rows = {10, 100, 200};
  auto plain = Decode(MakePng(Spec(3, 1, 8, 0), rows));
  auto gamma = Decode(MakePng(Spec(3, 1, 8, 0), rows, {{"gAMA", testsupport::PngBigEndian32(100000)}}));
  auto a = Convert(plain.get()), b = Convert(gamma.get());
  for (int x = 0; x < 3; ++x) EXPECT_EQ(PixelOf(a.get(), x, 0).R, PixelOf(b.get(), x, 0).R);
  EXPECT_EQ(PixelOf(b.get(), 1, 0).R, 100);
}

TEST_F(Png, IndexedTransparency) {
  Bytes palette(3 * 8);
  for (size_t i = 0; i < palette.size(); ++i) palette[i] = static_cast<uint8_t>(10 + i);
  const Bytes rows = {5, 2, 7};
  // Index 5 fully transparent, all others opaque: single mode.
  Bytes trns(8, 255);
  trns[5] = 0;
  auto png = Decode(MakePng(Spec(3, 1, 8, 3), rows, {{"PLTE", palette}, {"tRNS", trns}}));
  auto b = Convert(png.get());
  EXPECT_EQ(LoadU32(b->Row(0)), 0u);
  EXPECT_EQ(PixelOf(b.get(), 1, 0).A, 255);
  EXPECT_EQ(PixelOf(b.get(), 1, 0).R, palette[6]);
  // A single partial value keeps its alpha, like every other viewer shows it.
  trns[5] = 128;
  auto single = Decode(MakePng(Spec(3, 1, 8, 3), rows, {{"PLTE", palette}, {"tRNS", trns}}));
  auto s = Convert(single.get());
  EXPECT_EQ(PixelOf(s.get(), 0, 0).A, 128);
  EXPECT_EQ(PixelOf(s.get(), 0, 0).B, palette[17]);
  EXPECT_EQ(PixelOf(s.get(), 1, 0).A, 255);
  // A short tRNS: the entries it does not name stay opaque.
  auto shortTrns = Decode(MakePng(Spec(3, 1, 8, 3), rows, {{"PLTE", palette}, {"tRNS", Bytes{255, 255, 200}}}));
  auto st = Convert(shortTrns.get());
  EXPECT_EQ(PixelOf(st.get(), 0, 0).A, 255);
  EXPECT_EQ(PixelOf(st.get(), 1, 0).A, 200);
  // Two values below 255: partial mode takes every value as alpha.
  trns[2] = 64;
  auto partial = Decode(MakePng(Spec(3, 1, 8, 3), rows, {{"PLTE", palette}, {"tRNS", trns}}));
  auto p = Convert(partial.get());
  EXPECT_EQ(PixelOf(p.get(), 0, 0).A, 128);
  EXPECT_EQ(PixelOf(p.get(), 1, 0).A, 64);
  EXPECT_EQ(PixelOf(p.get(), 2, 0).A, 255);
}

TEST_F(Png, PaletteGammaAppliedOnce) {
  // Palette and truecolour pictures of the same colours under the same gAMA
  // come out the same, and both equal one application of the gamma curve.
  const Bytes palette = {10, 100, 200, 0, 128, 255};
  for (uint32_t gama : {100000u, 45455u, 20000u}) {
    const PngChunk g{"gAMA", testsupport::PngBigEndian32(gama)};
    auto indexed = Decode(MakePng(Spec(2, 1, 8, 3), {0, 1}, {g, {"PLTE", palette}}));
    auto truecolour = Decode(MakePng(Spec(2, 1, 8, 2), palette, {g}));
    auto a = Convert(indexed.get()), b = Convert(truecolour.get());
    const double exponent = 1.0 / (gama / 100000.0 * 2.2);
    auto curve = [&](uint8_t v) {
      return v == 0 ? 0 : static_cast<int>(std::nearbyint(std::pow(v / 255.0, exponent) * 255.0));
    };
    for (int x = 0; x < 2; ++x) {
      const auto p = PixelOf(a.get(), x, 0), q = PixelOf(b.get(), x, 0);
      EXPECT_EQ(p.R, curve(palette[3 * x])) << gama;
      EXPECT_EQ(p.G, curve(palette[3 * x + 1])) << gama;
      EXPECT_EQ(p.B, curve(palette[3 * x + 2])) << gama;
      EXPECT_EQ(p.R, q.R);
      EXPECT_EQ(p.G, q.G);
      EXPECT_EQ(p.B, q.B);
    }
  }
}

TEST_F(Png, GreyscaleColourKeyIsTransparent) {
  struct Case {
    uint8_t depth;
    Bytes rows;  // three pixels, the middle one the key
    Bytes key;
  } cases[] = {
      {8, {10, 77, 200}, {0, 77}},
      {16, {0, 10, 1, 77, 1, 78}, {1, 77}},
      {4, {0x3A, 0x50}, {0, 10}},
      {1, {0b01000000}, {0, 1}},
  };
  for (const Case& c : cases) {
    auto png = Decode(MakePng(Spec(3, 1, c.depth, 0), c.rows, {{"tRNS", c.key}}));
    EXPECT_EQ(GetPngPixelFormat(png.get(), false), imaging::pfA8R8G8B8) << int(c.depth);
    auto b = Convert(png.get());
    EXPECT_EQ(PixelOf(b.get(), 0, 0).A, 255) << int(c.depth);
    EXPECT_EQ(PixelOf(b.get(), 1, 0).A, 0) << int(c.depth);
    EXPECT_EQ(PixelOf(b.get(), 2, 0).A, 255) << int(c.depth);
  }
  // An interlaced picture marks the same pixels.
  auto png = Decode(MakePng(Spec(3, 1, 8, 0, 1), {10, 77, 77}, {{"tRNS", Bytes{0, 77}}}));
  auto b = Convert(png.get());
  EXPECT_EQ(PixelOf(b.get(), 0, 0).A, 255);
  EXPECT_EQ(PixelOf(b.get(), 1, 0).A, 0);
  EXPECT_EQ(PixelOf(b.get(), 2, 0).A, 0);
  EXPECT_EQ(PixelOf(b.get(), 0, 0).G, 10);
}

TEST_F(Png, ImageDataEndingEarlyLeavesTheRestBlank) {
  // The compressed data ends (a complete zlib stream) after two whole rows
  // and the first pixel of the third, unfiltered. A full picture of the same
  // size is decoded and freed first, so its memory is there to be reused.
  PngImageSpec spec = Spec(4, 6, 8, 6);
  spec.filter = 0;
  Bytes rows(4 * 6 * 4);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(200 + i % 50);
  { auto full = Convert(Decode(WritePng(Chunks(spec, rows))).get()); }
  Bytes raw;
  for (int y = 0; y < 3; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rows.begin() + y * 16, rows.begin() + y * 16 + (y < 2 ? 16 : 4));
  }
  auto png = Decode(WritePng({testsupport::PngIhdr(spec), {"IDAT", testsupport::ZlibCompress(raw)}, {"IEND", {}}}));
  auto b = Convert(png.get());
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 4; ++x) {
      const bool kept = y < 2 || (y == 2 && x == 0);
      const uint8_t* src = &rows[(size_t(y) * 4 + x) * 4];
      const auto p = PixelOf(b.get(), x, y);
      EXPECT_EQ(p.R, kept ? src[0] : 0) << x << "," << y;
      EXPECT_EQ(p.B, kept ? src[2] : 0) << x << "," << y;
      EXPECT_EQ(p.A, kept ? src[3] : 0) << x << "," << y;
    }
}

// A header promising 55,298 x 2,048 truecolour pixels (340 MB of picture)
// over image data that holds nothing: the load fails as a file without data
// (or with broken data) fails, and the header's planes were never made. A
// large ancillary chunk lets such a header pass the check of promised size
// against the rest of the file.
TEST_F(Png, NoPicturePlanesBeforeTheImageDataHasBegun) {
  const PngChunk padding{"qeLp", Bytes(400000, 7)};
  const PngChunk iend{"IEND", {}};
  const PngChunk rgb8{"IHDR", testsupport::PngIhdrData(55298, 2048, 8, 2)};
  struct Case {
    const char* what;
    std::vector<PngChunk> chunks;
    const char* text;  // the message of the load's exception
  } cases[] = {
      {"compressed data of no bytes", {rgb8, padding, {"IDAT", testsupport::ZlibCompress({})}, iend},
       pnglang::EPngNoImageDataText},
      {"an empty IDAT, then no more image data", {rgb8, padding, {"IDAT", {}}, iend},
       pnglang::EPngMissingMultipleIDATText},
      {"a depth truecolour cannot have", {{"IHDR", testsupport::PngIhdrData(55298, 2048, 0, 2)}, {"IDAT", {}}, iend},
       pnglang::EPngInvalidIHDRText},
  };
  for (const Case& c : cases) {
    const Bytes file = WritePng(c.chunks);
    {
      Released<foundation::TMemoryStream> s(StreamOf(file));
      TPNGObject png;
      try {
        png.LoadFromStream(s.get());
        ADD_FAILURE() << c.what << ": loaded";
      } catch (const foundation::Exception& e) {
        EXPECT_STREQ(e.what(), c.text) << c.what;
      }
      auto* h = dynamic_cast<TChunkIHDR*>(png.Chunks.Item(0));
      ASSERT_NE(h, nullptr) << c.what;
      EXPECT_EQ(h->Width, 55298u) << c.what;
      EXPECT_EQ(h->ImageData.capacity(), 0u) << c.what;
      EXPECT_EQ(h->ImageAlpha.capacity(), 0u) << c.what;
    }
    imaging::TLevelProvider none;
    Released<foundation::TMemoryStream> s(StreamOf(file, 5));
    EXPECT_EQ(LoadPngBitmapStore(s.get(), u"x.png", false, none), nullptr) << c.what;
    EXPECT_EQ(s->GetPosition(), 5) << c.what;
  }

  // Image data that begins only in the second IDAT is image data all the same.
  const PngImageSpec spec = Spec(3, 2, 8, 2);
  const Bytes rows = Rgb(3, 2);
  auto png = Decode(WritePng(
      {testsupport::PngIhdr(spec), {"IDAT", {}}, {"IDAT", testsupport::PngImageData(spec, rows)}, iend}));
  const uint8_t* row = png->Header()->PictureRow(1);
  EXPECT_EQ(row[0], rows[3 * 3 + 2]);  // blue, green, red of the second row's first pixel
  EXPECT_EQ(row[2], rows[3 * 3 + 0]);
  EXPECT_EQ(row[8], rows[3 * 3 + 6]);
}

// A picture of no columns whose data ends early has no rows to blank: the
// decode ends without touching planes it does not have.
TEST_F(Png, ZeroWidthPictureWithShortDataDecodesToNothing) {
  PngImageSpec spec = Spec(0, 92, 8, 2);
  spec.filter = 0;
  auto png = Decode(
      WritePng({testsupport::PngIhdr(spec), {"IDAT", testsupport::ZlibCompress(Bytes{0})}, {"IEND", {}}}));
  EXPECT_EQ(png->Width(), 0);
}

TEST_F(Png, IndexBeyondThePaletteRaisesOnConversion) {
  auto png = Decode(MakePng(Spec(2, 1, 8, 3), {0, 3}, {{"PLTE", Bytes(6, 1)}}));
  Released<imaging::TSysBitmap> b(imaging::CreateSysBitmap(2, 1, imaging::pfA8R8G8B8));
  try {
    PngToBitmap(png.get(), b.get());
    ADD_FAILURE();
  } catch (const EPngError& e) {
    EXPECT_STREQ(e.what(), pnglang::EPngErrorPaletteText);
  }
  // The wrong size or format: nothing done.
  Released<imaging::TSysBitmap> small(imaging::CreateSysBitmap(1, 1, imaging::pfA8R8G8B8));
  EXPECT_FALSE(PngToBitmap(png.get(), small.get()));
  Released<imaging::TSysBitmap> rgb(imaging::CreateSysBitmap(2, 1, imaging::pfR8G8B8));
  EXPECT_FALSE(PngToBitmap(png.get(), rgb.get()));
}

TEST_F(Png, TruecolourColourKeyIsTransparentNotBlank) {
  for (uint8_t depth : {8, 16}) {
    Bytes rows = depth == 8 ? Bytes{10, 20, 30, 40, 50, 60} : Bytes{0, 10, 0, 20, 0, 30, 0, 10, 0, 20, 0, 31};
    const Bytes key = {0, 10, 0, 20, 0, 30};
    auto png = Decode(MakePng(Spec(2, 1, depth, 2), rows, {{"tRNS", key}}));
    EXPECT_EQ(GetPngPixelFormat(png.get(), false), imaging::pfA8R8G8B8);
    auto b = Convert(png.get());
    EXPECT_EQ(PixelOf(b.get(), 0, 0).A, 0);
    EXPECT_EQ(PixelOf(b.get(), 1, 0).A, 255);
    EXPECT_EQ(PixelOf(b.get(), 1, 0).R, depth == 8 ? 40 : 0);
  }
}

// ---- Loader ------------------------------------------------------------------------

TEST_F(Png, LoaderAcceptsPngAndDeclinesTheRest) {
  imaging::TLevelProvider none;
  const Bytes file = MakePng(Spec(5, 4, 8, 6), Bytes(5 * 4 * 4, 0x80));
  for (Bytes data : {Bytes{1, 2, 3}, Bytes(file.begin(), file.end() - 12), Bytes()}) {
    Released<foundation::TMemoryStream> s(StreamOf(data, 3));
    EXPECT_EQ(LoadPngBitmapStore(s.get(), u"x.png", false, none), nullptr);
    EXPECT_EQ(s->GetPosition(), 3);
  }
  // Zero width: declined.
  Bytes zero = MakePng(Spec(1, 1, 8, 2), {1, 2, 3});
  zero[19] = 0;
  Released<foundation::TMemoryStream> z(StreamOf(zero));
  EXPECT_EQ(LoadPngBitmapStore(z.get(), u"x.png", false, none), nullptr);

  auto* s = StreamOf(file, 2);
  Released<imaging::TBitmapStore> store(LoadPngBitmapStore(s, u"x.png", true, none));  // takes the stream
  ASSERT_NE(store.get(), nullptr);
  EXPECT_EQ(store->Params.Width, 5);
  EXPECT_EQ(store->Params.PixelFormat, imaging::pfA8R8G8B8);
  EXPECT_EQ(store->ColorProfile, nullptr);
  imaging::TBitmap* level0 = store->GetBitmap(0, nullptr, nullptr);
  ASSERT_NE(level0, nullptr);
  auto* sys = dynamic_cast<imaging::TSysBitmap*>(level0);
  ASSERT_NE(sys, nullptr);
  EXPECT_EQ(LoadU32(sys->Row(3) + 16), 0x80808080u);
  EXPECT_EQ(static_cast<TPngBitmapStore*>(store.get())->Png, nullptr);
}

TEST_F(Png, AFailedConversionGivesABlankBitmap) {
  imaging::TLevelProvider none;
  // An index beyond a short palette, and an indexed picture without any palette.
  for (std::vector<PngChunk> before : {std::vector<PngChunk>{{"PLTE", Bytes(6, 200)}}, std::vector<PngChunk>{}}) {
    Released<foundation::TMemoryStream> s(StreamOf(MakePng(Spec(2, 2, 8, 3), {0, 9, 1, 1}, before)));
    Released<imaging::TBitmapStore> store(LoadPngBitmapStore(s.get(), u"x.png", false, none));
    ASSERT_NE(store.get(), nullptr);
    auto* b = dynamic_cast<imaging::TSysBitmap*>(store->GetBitmap(0, nullptr, nullptr));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width, 2);
    EXPECT_EQ(b->PixelFormat, imaging::pfA8R8G8B8);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(LoadU32(b->Row(y)) | LoadU32(b->Row(y) + 4), 0u);
  }
}

TEST_F(Png, IccProfileScan) {
  const Bytes profile = Rgb(40, 10);  // 1200 bytes standing for a profile
  auto iccp = [&](std::string name, uint8_t method) {
    Bytes d(name.begin(), name.end());
    d.push_back(0);
    d.push_back(method);
    Bytes z = testsupport::ZlibCompress(profile);
    d.insert(d.end(), z.begin(), z.end());
    return PngChunk{"iCCP", d};
  };
  auto scan = [](const Bytes& file) {
    Released<foundation::TMemoryStream> s(StreamOf(file));
    return ScanPngIccProfile(s.get());
  };
  const PngImageSpec spec = Spec(1, 1, 8, 2);
  EXPECT_EQ(scan(MakePng(spec, {1, 2, 3}, {iccp(std::string(79, 'N'), 0)})), profile);
  EXPECT_EQ(scan(MakePng(spec, {1, 2, 3}, {iccp("sRGB", 1)})), Bytes());
  EXPECT_EQ(scan(MakePng(spec, {1, 2, 3})), Bytes());
  // The scan goes on past the image data.
  EXPECT_EQ(scan(WritePng(Chunks(spec, {1, 2, 3}, {}, {iccp("late", 0)}))), profile);
  Bytes cut = MakePng(spec, {1, 2, 3}, {iccp("p", 0)});
  cut.resize(60);
  EXPECT_EQ(scan(cut), Bytes());

  // The loader attaches the profile and leaves the stream where the image ended.
  imaging::TLevelProvider none;
  const Bytes file = MakePng(spec, {1, 2, 3}, {iccp("wide", 0)});
  Released<foundation::TMemoryStream> s(StreamOf(file));
  Released<imaging::TBitmapStore> store(LoadPngBitmapStore(s.get(), u"p.png", false, none));
  ASSERT_NE(store.get(), nullptr);
  ASSERT_NE(store->ColorProfile, nullptr);
  EXPECT_EQ(store->ColorProfile->Name, u"p.png");
  EXPECT_EQ(s->GetPosition(), static_cast<int64_t>(file.size()));
}

}  // namespace
