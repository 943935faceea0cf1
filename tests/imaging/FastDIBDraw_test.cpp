// DIBs drawn into device contexts of the window layer: a window's back
// surface through getDC, 1:1 block transfers of 24- and 32-bit DIBs (rows
// either way up, clipped to the surface), and the alpha draw of 32-bit DIBs.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/Startup.h"
#include "imaging/kvFastDIB.h"
#include "platform/window/api.h"

using namespace imaging;
namespace pw = platform::window;

namespace {

class DibDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    StartImaging();
    pw::setWindowBackend(nullptr);
    pw::WndClass c;
    c.lpfnWndProc = &pw::defWindowProc;
    c.className = u"DibDrawWin";
    pw::registerClass(c);
    wnd = pw::createWindowEx(0, u"DibDrawWin", u"", pw::WS_VISIBLE, 0, 0, 4, 2, 0, 0, 0, nullptr);
    dc = pw::getDC(wnd);
    ASSERT_NE(dc, 0u);
  }
  void TearDown() override {
    pw::releaseDC(wnd, dc);
    pw::destroyWindow(wnd);
  }
  std::vector<uint8_t> Surface() {
    int32_t w, h;
    std::vector<uint8_t> bits;
    EXPECT_TRUE(pw::windowSurface(wnd, w, h, bits));
    return bits;
  }
  static foundation::TRef<TFastDIB> Dib(int32_t w, int32_t h, int32_t bits) {
    auto d = foundation::MakeRef<TFastDIB>();
    d->SetSize(w, h, bits);
    return d;
  }
  pw::HWND wnd = 0;
  pw::HDC dc = 0;
};

TEST_F(DibDraw, BlockTransferTakesImageRowsFromTheTop) {
  auto d = Dib(2, 2, 24);  // bottom-up: image row 0 is the last row in memory
  d->Row(1)[0] = 11;       // image row 0, column 0, blue
  d->Row(0)[3] = 22;       // image row 1, column 1, blue
  EXPECT_EQ(pw::getDeviceCaps(dc, pw::BITSPIXEL), 32);
  ASSERT_TRUE(d->Draw(dc, 1, 0, 2, 2, 0, 0));
  const auto s = Surface();
  EXPECT_EQ(s[(0 * 4 + 1) * 4], 11);
  EXPECT_EQ(s[(0 * 4 + 1) * 4 + 3], 255) << "24-bit pixels arrive opaque";
  EXPECT_EQ(s[(1 * 4 + 2) * 4], 22);
  // Clipped at the surface's edge: nothing written outside.
  ASSERT_TRUE(d->Draw(dc, 3, 1, 2, 2, 0, 0));
  EXPECT_EQ(Surface()[(1 * 4 + 3) * 4], 11);
  auto pal = Dib(2, 2, 8);
  EXPECT_FALSE(pal->Draw(dc, 0, 0, 2, 2, 0, 0)) << "the surfaces take 24 and 32 bits";
}

TEST_F(DibDraw, AlphaDrawBlendsOverTheDestination) {
  auto ground = Dib(4, 2, 24);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 12; ++i) ground->Row(r)[i] = 100;
  ASSERT_TRUE(ground->Draw(dc, 0, 0, 4, 2, 0, 0));
  auto top = Dib(3, 1, 32);
  const uint8_t px[12] = {200, 200, 200, 128, 7, 8, 9, 255, 50, 60, 70, 0};
  std::copy_n(px, 12, top->Row(0));
  ASSERT_TRUE(top->AlphaDraw(dc, 1, 1, 3, 1, 0, 0));
  const auto s = Surface();
  const uint8_t* row1 = s.data() + 1 * 4 * 4;
  EXPECT_EQ(row1[0], 100) << "left of the drawing";
  EXPECT_EQ(row1[4], 150) << "100 - ((128 x (100 - 200)) shr 8)";
  EXPECT_EQ(row1[8], 7) << "alpha 255 copies";
  EXPECT_EQ(row1[10], 9);
  EXPECT_EQ(row1[12], 100) << "alpha 0 keeps";
  // A 24-bit DIB is drawn as it is.
  auto plain = Dib(1, 1, 24);
  plain->Row(0)[0] = 42;
  ASSERT_TRUE(plain->AlphaDraw(dc, 0, 0, 1, 1, 0, 0));
  EXPECT_EQ(Surface()[0], 42);
}

}  // namespace
