// Icon files (DIB and PNG images of every depth, best-fit choice, mip
// levels) and the resources of executables read by file; hostile files fail
// cleanly.
#include <gtest/gtest.h>

#include "tests/support/BmpWriter.h"
#include "tests/support/IconWriter.h"
#include "tests/support/PngWriter.h"
#include "DecodersTestEnv.h"
#include "imaging/kvIcoFile.h"
#include "imaging/kvPEResources.h"

using namespace imaging;
using testsupport::Bytes;
using testsupport::IcoImage;

namespace {

foundation::TRef<foundation::TMemoryStream> Mem(const Bytes& b) {
  return foundation::TRef<foundation::TMemoryStream>::Adopt(decoders_test::StreamOf(b));
}

// A square icon DIB of the given depth, every pixel index/value 1, mask clear.
Bytes IconDib(int side, int bits) {
  testsupport::BmpSpec s;
  s.width = side;
  s.height = side * 2;
  s.bits = static_cast<uint16_t>(bits);
  if (bits <= 8) s.palette = std::vector<uint32_t>(size_t{1} << bits, 0x00102030);
  std::vector<uint32_t> values(static_cast<size_t>(side * side), bits <= 8 ? 1u : 0xFF405060u);
  s.pixels = testsupport::BmpPackRows(side, side, bits, values);
  Bytes mask = testsupport::BmpPackRows(side, side, 1, std::vector<uint32_t>(static_cast<size_t>(side * side), 0));
  s.pixels.insert(s.pixels.end(), mask.begin(), mask.end());
  return testsupport::WriteDib(s);
}

Bytes PngSquare(uint32_t side) {
  testsupport::PngImageSpec spec;
  spec.width = spec.height = side;
  spec.colorType = 6;
  Bytes rows;
  for (uint32_t y = 0; y < side; ++y)
    for (uint32_t x = 0; x < side; ++x) rows.insert(rows.end(), {200, 100, 50, 255});
  return testsupport::MakePng(spec, rows);
}

IcoImage Entry(int side, int bits, Bytes data) {
  IcoImage im;
  im.width = static_cast<uint8_t>(side == 256 ? 0 : side);
  im.height = im.width;
  im.bits = static_cast<uint16_t>(bits);
  im.data = std::move(data);
  return im;
}

foundation::TRef<TIcoFile> Ico(const Bytes& file) {
  auto s = Mem(file);
  return foundation::TRef<TIcoFile>::Adopt(new TIcoFile(s.Detach(), true, u"t.ico"));
}

TEST(IcoFile, EveryDepthDecodes) {
  for (int bits : {1, 4, 8, 24, 32}) {
    auto ico = Ico(testsupport::MakeIco({Entry(16, bits, IconDib(16, bits))}));
    ASSERT_EQ(ico->Count(), 1);
    TImage* img = ico->GetImage(0);
    ASSERT_NE(img, nullptr) << bits;
    EXPECT_EQ(img->GetBitmap()->Width, 16);
    EXPECT_EQ(img->GetBitmap()->Height, 16);
    img->Free();
  }
  auto png = Ico(testsupport::MakeIco({Entry(32, 32, PngSquare(32))}));
  TImage* img = png->GetImage(0);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->GetBitmap()->Width, 32);
  img->Free();
  EXPECT_EQ(png->GetImage(1), nullptr);
  EXPECT_EQ(png->GetImage(-1), nullptr);
}

TEST(IcoFile, BestFit) {
  auto sizes = [](std::vector<std::pair<int, int>> list) {
    std::vector<IcoImage> v;
    for (auto [side, bits] : list) v.push_back(Entry(side, bits, IconDib(side, bits == 32 ? 32 : 8)));
    return Ico(testsupport::MakeIco(v));
  };
  auto pick = [](TIcoFile* f, int w) {
    TImage* i = f->GetBestImage(w, w, false);
    const int r = i ? i->GetBitmap()->Width : -1;
    if (i) i->Free();
    return r;
  };
  auto three = sizes({{16, 32}, {32, 32}, {48, 32}});
  EXPECT_EQ(pick(three.Get(), 32), 32);
  EXPECT_EQ(pick(three.Get(), 64), 48);
  EXPECT_EQ(pick(three.Get(), 8), 16);
  auto depth = sizes({{32, 8}, {32, 32}});
  TImage* d = depth->GetBestImage(32, 32, false);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(depth->Entries()[1].BitCount, 32);
  EXPECT_EQ(d->GetBitmap()->PixelFormat->BitsPerPixel, 32);
  d->Free();
}

TEST(IcoFile, MipLevelsOfALargePng) {
  auto ico = Ico(testsupport::MakeIco({Entry(256, 32, PngSquare(256))}));
  TImage* img = ico->GetBestImage(32, 32, true);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->GetBitmap()->Width, 32);
  EXPECT_EQ(img->GetBitmap()->Height, 32);
  img->Free();
  TImage* full = ico->GetBestImage(200, 200, true);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->GetBitmap()->Width, 256);
  full->Free();
}

TEST(IcoFile, BadHeadersAndHostileDirectories) {
  Bytes good = testsupport::MakeIco({Entry(16, 32, IconDib(16, 32))});
  Bytes reserved = good;
  reserved[0] = 1;
  Bytes type3 = good;
  type3[2] = 3;
  for (const Bytes& b : {reserved, type3, testsupport::MakeIco({}, 1), Bytes{0, 0, 1}}) {
    auto ico = Ico(b);
    EXPECT_EQ(ico->Count(), 0);
    EXPECT_EQ(ico->GetBestImage(16, 16, true), nullptr);
  }
  // A count far past the end: only the entries that are there.
  auto many = Ico(testsupport::MakeIco({Entry(16, 32, IconDib(16, 32))}, 1, 65535));
  EXPECT_LE(many->Count(), 65535);
  // An offset past the end and a truncated image give nil (or a stream error), never a crash.
  IcoImage far = Entry(16, 32, IconDib(16, 32));
  far.offsetOverride = 0x7FFFFFF0;
  auto farIco = Ico(testsupport::MakeIco({far}));
  EXPECT_EQ(farIco->GetImage(0), nullptr);
  Bytes cut = good;
  cut.resize(good.size() - 40);
  auto cutIco = Ico(cut);
  try {
    // The icon reader is lenient with a short mask; what it gives is whole.
    if (TImage* i = cutIco->GetImage(0)) {
      EXPECT_EQ(i->GetBitmap()->Width, 16);
      i->Free();
    }
  } catch (const foundation::Exception&) {
    // A short colour row raises the stream's read error.
  }
  auto cursor = Ico(testsupport::MakeIco({Entry(16, 32, IconDib(16, 32))}, 2));
  EXPECT_TRUE(cursor->IsCursor());
}

TEST(PEResources, ListsEveryResourceWithItsNames) {
  std::vector<testsupport::PeResource> res = {{u"3", u"1", 1033, Bytes(10, 1)},
                                              {u"3", u"2", 1031, Bytes(20, 2)},
                                              {u"14", u"MAINICON", 1033, Bytes(6, 3)},
                                              {u"RCDATA_X", u"Thing", 0, Bytes{9, 8, 7}}};
  for (bool plus : {false, true}) {
    testsupport::PeOptions o;
    o.pe32plus = plus;
    const Bytes pe = testsupport::MakePe(res, o);
    auto s = Mem(pe);
    auto list = foundation::MakeRef<TPEResourceList>();
    ASSERT_TRUE(list->Load(s.Get()));
    ASSERT_EQ(list->Count(), 4);
    TPEResourceItem* two = list->FindResource(u"3", u"2");
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->Language, u"1031");
    EXPECT_EQ(two->Size, 20u);
    EXPECT_EQ(pe[static_cast<size_t>(two->Position)], 2);
    TPEResourceItem* main = list->FindResource(u"14", u"MAINICON");
    ASSERT_NE(main, nullptr);
    TPEResourceItem* named = list->FindResource(u"RCDATA_X", u"Thing");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(pe[static_cast<size_t>(named->Position) + 2], 7);
    EXPECT_EQ(list->FindResource(u"3", u"9"), nullptr);
  }
}

TEST(PEResources, RefusalsAndLoops) {
  auto load = [](const Bytes& b, int* count = nullptr) {
    auto s = Mem(b);
    auto list = foundation::MakeRef<TPEResourceList>();
    const bool ok = list->Load(s.Get());
    if (count) *count = list->Count();
    return ok;
  };
  std::vector<testsupport::PeResource> res = {{u"3", u"1", 1033, Bytes(10, 1)}, {u"5", u"7", 1033, Bytes(4, 2)}};
  testsupport::PeOptions none;
  none.withRsrc = false;
  EXPECT_FALSE(load(testsupport::MakePe(res, none))) << "no resource section";
  EXPECT_FALSE(load(Bytes{'M', 'Z'}));
  Bytes notPe = testsupport::MakePe(res);
  notPe[0x80] = 'X';
  EXPECT_FALSE(load(notPe));
  Bytes far = testsupport::MakePe(res);
  far[0x3C] = 0xFF;
  far[0x3F] = 0x7F;  // PE header offset past the end
  EXPECT_FALSE(load(far));
  // The first type points back at the root: the other resources still load.
  testsupport::PeOptions loop;
  loop.rootLoop = true;
  int count = 0;
  EXPECT_TRUE(load(testsupport::MakePe(res, loop), &count));
  EXPECT_EQ(count, 1);
  // Cut anywhere: never a crash.
  const Bytes whole = testsupport::MakePe(res);
  for (size_t cut = 0; cut < whole.size(); cut += 7) load(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
}

}  // namespace
