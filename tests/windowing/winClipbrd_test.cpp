// The clipboard: text and images round-trip through the layer (and its fake
// desktop clipboard), changes are announced once, a clipboard held elsewhere
// reads as empty, and foreign DIB data is checked before it is read.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/Startup.h"
#include "imaging/SysBitmapStore.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/winClipbrd.h"
#include "WindowingFixture.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

struct Counter : TEventHandler {
  int n = 0;
  void HandleEvent(foundation::TRefObject*, int32_t, foundation::TRefObject*) override { ++n; }
};

class ClipTest : public windowing_test::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    static bool once = false;
    if (!once) {
      once = true;
      imaging::StartImaging();
    }
    pw::headless().reset();
    pw::headless().useFakeClipboard(GetParam_fake());
    InitWinClipbrd();
    counter = new Counter;
    Clipboard->Subscribe(ceClipboardChanged, counter);
    app->ProcessMessages();
    counter->n = 0;
  }
  void TearDown() override {
    DoneWinClipbrd();
    counter->Free();
    pw::headless().useFakeClipboard(false);
    AppTest::TearDown();
  }
  virtual bool GetParam_fake() { return true; }
  Counter* counter = nullptr;
};

std::vector<uint8_t> Dib8(int w, int h, uint32_t compression, const std::vector<uint8_t>& pixels, uint32_t hs = 40,
                          uint32_t clrUsed = 0) {
  std::vector<uint8_t> b(hs, 0);
  auto put = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  put(0, hs);
  put(4, static_cast<uint32_t>(w));
  put(8, static_cast<uint32_t>(h));
  b[12] = 1;
  b[14] = 8;
  put(16, compression);
  put(20, static_cast<uint32_t>(pixels.size()));
  put(32, clrUsed);
  const uint32_t colors = clrUsed ? clrUsed : 256;
  for (uint32_t i = 0; i < colors; ++i) {
    const uint32_t c = (i << 16) | ((255 - i) << 8) | (i / 2);
    b.insert(b.end(), reinterpret_cast<const uint8_t*>(&c), reinterpret_cast<const uint8_t*>(&c) + 4);
  }
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

TEST_F(ClipTest, TextRoundTripsAndIsAnnouncedOnce) {
  Clipboard->SetText(u"abc\u00e9f");
  app->ProcessMessages();  // the listener's notification
  EXPECT_EQ(counter->n, 1);
  Clipboard->CheckTimer().Callback(nullptr);  // the 100 ms check finds nothing new
  EXPECT_EQ(counter->n, 1);
  std::u16string t;
  Clipboard->ReadText(t);
  EXPECT_EQ(t, u"abc\u00e9f");
  EXPECT_TRUE(Clipboard->TextStartsWith(u"abc", false));
  EXPECT_FALSE(Clipboard->TextStartsWith(u"ABC", false));
  EXPECT_TRUE(Clipboard->TextStartsWith(u"ABC", true));
  EXPECT_TRUE(Clipboard->TextStartsWith(u"", false));
  EXPECT_FALSE(Clipboard->TextStartsWith(u"abc\u00e9fg", false));
  // Another program changes it: announced through the listener.
  pw::headless().setForeignClipboardText("zz");
  app->ProcessMessages();
  EXPECT_EQ(counter->n, 2);
  Clipboard->ReadText(t);
  EXPECT_EQ(t, u"zz");
}

TEST_F(ClipTest, AWriteTheListenerMissedIsAnnouncedOnTheCheckTick) {
  // No message processing: only the check tick sees the write.
  Clipboard->SetText(u"x");
  EXPECT_TRUE(IsTimerActive(Clipboard->CheckTimer()));
  Clipboard->CheckTimer().Callback(nullptr);
  EXPECT_EQ(counter->n, 1);
  EXPECT_FALSE(IsTimerActive(Clipboard->CheckTimer()));
  app->ProcessMessages();
  EXPECT_EQ(counter->n, 1) << "the listener's late notice finds nothing new";
}

TEST_F(ClipTest, AClipboardHeldElsewhereReadsEmptyAndWritesNothing) {
  Clipboard->SetText(u"keep");
  ASSERT_TRUE(pw::openClipboard(0));  // another holder
  std::u16string t = u"junk";
  Clipboard->ReadText(t);
  EXPECT_TRUE(t.empty());
  Clipboard->SetText(u"lost");
  EXPECT_FALSE(Clipboard->TextStartsWith(u"k", false));
  EXPECT_EQ(Clipboard->ReadBitmap(), nullptr);
  pw::closeClipboard();
  Clipboard->ReadText(t);
  EXPECT_EQ(t, u"keep");
  EXPECT_EQ(static_cast<TClipboard*>(Clipboard)->OpenCount(), 0);
}

TEST_F(ClipTest, ImagesRoundTripAndEmptyImagesAreRefused) {
  foundation::TRef<imaging::TDibBitmap> src =
      foundation::TRef<imaging::TDibBitmap>::Adopt(imaging::CreateDibBitmap(3, 2, 32));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = src->ScanLines()[y] + x * 4;
      p[0] = static_cast<uint8_t>(10 * x);
      p[1] = static_cast<uint8_t>(20 * y);
      p[2] = 7;
      p[3] = 255;
    }
  imaging::TImage* img = imaging::WrapBitmapAsImage(src.Detach(), true, u"");
  Clipboard->SetBitmap(img);
  imaging::TImage* back = Clipboard->ReadBitmap();
  ASSERT_NE(back, nullptr);
  imaging::TBitmap* b = back->GetBitmap();
  ASSERT_EQ(b->Width, 3);
  ASSERT_EQ(b->Height, 2);
  auto* sb = dynamic_cast<imaging::TSysBitmap*>(b);
  ASSERT_NE(sb, nullptr);
  EXPECT_EQ(sb->ScanLines()[1][2 * 4 + 0], 20);
  EXPECT_EQ(sb->ScanLines()[1][2 * 4 + 1], 20);
  back->Free();
  img->Free();
  foundation::TRef<imaging::TDibBitmap> empty =
      foundation::TRef<imaging::TDibBitmap>::Adopt(imaging::CreateDibBitmap(1, 1, 32));
  imaging::TImage* zero = imaging::WrapBitmapAsImage(empty.Detach(), true, u"");
  zero->GetBitmap()->Width = 0;  // a 0 x 1 image
  const uint32_t seq = pw::getClipboardSequenceNumber();
  EXPECT_FALSE(Clipboard->SetBitmap(zero));
  EXPECT_EQ(pw::getClipboardSequenceNumber(), seq) << "unchanged";
  zero->GetBitmap()->Width = 1;
  zero->Free();
  EXPECT_FALSE(Clipboard->SetBitmap(nullptr));
}

TEST(ClipDib, EightBitTablesAndRunLengthData) {
  imaging::StartImaging();
  // 2 x 2, 8 bits, rows padded to 4 bytes.
  auto raw = Dib8(2, 2, imaging::BI_RGB, {1, 2, 0, 0, 3, 4, 0, 0});
  imaging::TFastDIB* d = ReadClipboardDib(raw);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Palette[255], (255u << 16) | (0u << 8) | 127u);
  EXPECT_EQ(d->Row(1)[1], 4);
  d->Free();
  // RLE8: a run of 2 of index 9, end of line, 2 of index 5, end of bitmap.
  auto rle = Dib8(2, 2, imaging::BI_RLE8, {2, 9, 0, 0, 2, 5, 0, 1});
  d = ReadClipboardDib(rle);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Row(0)[0], 9);
  EXPECT_EQ(d->Row(1)[1], 5);
  d->Free();
  // A V5 header (124 bytes) with 2 colours used.
  auto v5 = Dib8(2, 1, imaging::BI_RGB, {1, 0, 0, 0}, 124, 2);
  d = ReadClipboardDib(v5);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Palette[1], (1u << 16) | (254u << 8));
  EXPECT_EQ(d->Row(0)[0], 1);
  d->Free();
}

TEST(ClipDib, ForeignDataThatDoesNotFitIsDeclined) {
  imaging::StartImaging();
  auto good = Dib8(2, 2, imaging::BI_RGB, {1, 2, 0, 0, 3, 4, 0, 0});
  auto shortBlock = good;
  shortBlock.resize(good.size() - 1);
  EXPECT_EQ(ReadClipboardDib(shortBlock), nullptr);
  auto badHeader = good;
  badHeader[0] = 44;
  EXPECT_EQ(ReadClipboardDib(badHeader), nullptr);
  EXPECT_EQ(ReadClipboardDib(Dib8(2, 2, imaging::BI_RGB, {0, 0, 0, 0, 0, 0, 0, 0}, 40, 300)), nullptr)
      << "more colours than 8 bits hold";
  auto huge = good;
  const int32_t big = 1 << 30;
  std::memcpy(&huge[4], &big, 4);
  EXPECT_EQ(ReadClipboardDib(huge), nullptr);
  auto rleSize = Dib8(2, 2, imaging::BI_RLE8, {2, 9, 0, 1});
  const uint32_t claimed = 1000;
  std::memcpy(&rleSize[20], &claimed, 4);
  EXPECT_EQ(ReadClipboardDib(rleSize), nullptr) << "the run-length data claims more than the block holds";
  EXPECT_EQ(ReadClipboardDib(std::vector<uint8_t>(39, 0)), nullptr);
}

}  // namespace
