// Frame conversion into YUV images and bitmaps, the gray table, the aspect
// class and the error texts.
#include "video/FFMpegUtils2.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "imaging/kvPixelFormat.h"
#include "tests/video/VideoTestEnv.h"

using namespace video;
namespace ff = platform::ffmpeg;

namespace {

TEST(FrameConversion, NV12SplitsEvenAndOddChromaBytes) {
  const int w = 1920, h = 1080;
  std::vector<uint8_t> y(static_cast<size_t>(w) * h), uv(static_cast<size_t>(w) * h / 2);
  for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<uint8_t>(i * 7);
  for (int r = 0; r < h / 2; ++r)
    for (int k = 0; k < w / 2; ++k) {
      uv[static_cast<size_t>(r) * w + 2 * k] = static_cast<uint8_t>(k + r);      // U
      uv[static_cast<size_t>(r) * w + 2 * k + 1] = static_cast<uint8_t>(k * 3);  // V
    }
  uint8_t* data[8] = {y.data(), uv.data()};
  int linesize[8] = {w, w};
  auto* img = new TMemoryYUVImage(w, h);
  TFFVideoFormatConvertor* conv = nullptr;
  ASSERT_TRUE(CopyFrameToYUV(img, data, linesize, ff::kPixNV12, conv));
  EXPECT_EQ(conv, nullptr);  // no converter for NV12
  EXPECT_EQ(img->PlaneWidth(kPlaneU), 960);
  EXPECT_EQ(img->PlaneHeight(kPlaneU), 540);
  for (int r : {0, 17, 539})
    for (int k : {0, 1, 500, 959}) {
      EXPECT_EQ(img->Row(kPlaneU, r)[k], static_cast<uint8_t>(k + r));
      EXPECT_EQ(img->Row(kPlaneV, r)[k], static_cast<uint8_t>(k * 3));
    }
  EXPECT_EQ(img->Row(kPlaneY, 1079)[1919], y[static_cast<size_t>(1079) * w + 1919]);
  EXPECT_EQ(img->LockedCount, 0);
  img->Free();
}

TEST(FrameConversion, YUV420PCopiesIntoGrayThroughTheTable) {
  const uint16_t* t = GrayTable();
  // v = trunc(i x 219/255 + 16); R5G6B5 with v div 8, v div 4, v div 8.
  EXPECT_EQ(t[0], (2 << 11) | (4 << 5) | 2);
  EXPECT_EQ(t[255], (29 << 11) | (58 << 5) | 29);
  EXPECT_EQ(t[128], (15 << 11) | (31 << 5) | 15);  // v = 125
  std::vector<uint8_t> y = {0, 128, 255, 128}, u(1, 128), v(1, 128);
  uint8_t* data[8] = {y.data(), u.data(), v.data()};
  int linesize[8] = {2, 1, 1};
  auto* img = new TMemoryYUVImage(2, 2, false, true);
  TFFVideoFormatConvertor* conv = nullptr;
  ASSERT_TRUE(CopyFrameToYUV(img, data, linesize, ff::kPixYUV420P, conv));
  auto* row = reinterpret_cast<uint16_t*>(img->Row(kPlaneGray, 1));
  EXPECT_EQ(row[0], t[255]);
  EXPECT_EQ(row[1], t[128]);
  img->Free();
}

TEST(FrameConversion, BGRAIntoAThreePlaneImageFailsAndUnlocksEverything) {
  std::vector<uint8_t> px(4 * 4 * 4, 0x80);
  uint8_t* data[8] = {px.data()};
  int linesize[8] = {16};
  auto* img = new TMemoryYUVImage(4, 4);
  TFFVideoFormatConvertor* conv = nullptr;
  EXPECT_FALSE(CopyFrameToYUV(img, data, linesize, ff::kPixBGRA, conv));
  EXPECT_EQ(img->LockedCount, 0);
  auto* rgba = new TMemoryYUVImage(4, 4, true);
  EXPECT_TRUE(CopyFrameToYUV(rgba, data, linesize, ff::kPixBGRA, conv));
  EXPECT_EQ(rgba->Row(kPlaneRGBA, 3)[15], 0x80);
  // A plane that cannot be locked fails the frame and unlocks the others.
  img->RefusedPlanes = 1u << kPlaneV;
  std::vector<uint8_t> yp(16), up(4), vp(4);
  uint8_t* yuv[8] = {yp.data(), up.data(), vp.data()};
  int yl[8] = {4, 2, 2};
  EXPECT_FALSE(CopyFrameToYUV(img, yuv, yl, ff::kPixYUV420P, conv));
  EXPECT_EQ(img->LockedCount, 0);
  EXPECT_FALSE(CopyFrameToYUV(img, yuv, yl, -1, conv));
  img->Free();
  rgba->Free();
}

// 4:2:2 frames go through swscale; the context is made once per format and size.
TEST(FrameConversion, TheConverterKeepsItsContextForOneFormatAndSize) {
  auto make422 = [](int w, int h, std::vector<uint8_t>& y, std::vector<uint8_t>& u, std::vector<uint8_t>& v) {
    y.assign(static_cast<size_t>(w) * h, 100);
    u.assign(static_cast<size_t>(w / 2) * h, 90);
    v.assign(static_cast<size_t>(w / 2) * h, 160);
  };
  std::vector<uint8_t> y, u, v;
  make422(64, 48, y, u, v);
  uint8_t* data[8] = {y.data(), u.data(), v.data()};
  int linesize[8] = {64, 32, 32};
  auto* img = new TMemoryYUVImage(64, 48);
  TFFVideoFormatConvertor* conv = nullptr;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(CopyFrameToYUV(img, data, linesize, 4 /* YUV422P */, conv));
  ASSERT_NE(conv, nullptr);
  EXPECT_EQ(conv->ContextsMade, 1);
  EXPECT_EQ(img->Row(kPlaneY, 47)[63], 100);
  EXPECT_NEAR(img->Row(kPlaneU, 23)[31], 90, 1);
  EXPECT_NEAR(img->Row(kPlaneV, 0)[0], 160, 1);
  // Another format: a new context.
  ASSERT_TRUE(CopyFrameToYUV(img, data, linesize, 13 /* YUVJ422P */, conv));
  EXPECT_EQ(conv->ContextsMade, 2);
  // Another size: a new one again; a target without pitches gets the
  // converter's own buffer, then a copy.
  auto* small = new TMemoryYUVImage(32, 24);
  small->ReportPitch = false;
  std::vector<uint8_t> y2, u2, v2;
  make422(32, 24, y2, u2, v2);
  uint8_t* d2[8] = {y2.data(), u2.data(), v2.data()};
  int l2[8] = {32, 16, 16};
  ASSERT_TRUE(CopyFrameToYUV(small, d2, l2, 4, conv));
  EXPECT_EQ(conv->ContextsMade, 3);
  EXPECT_EQ(small->Row(kPlaneY, 23)[31], 100);
  EXPECT_NEAR(small->Row(kPlaneV, 11)[15], 160, 1);
  conv->Free();
  img->Free();
  small->Free();
}

TEST(FrameConversion, BitmapsTakeOnly24Bits) {
  std::vector<uint8_t> y(16, 235), u(4, 128), v(4, 128);
  uint8_t* data[8] = {y.data(), u.data(), v.data()};
  int linesize[8] = {4, 2, 2};
  TFFVideoFormatConvertor* conv = nullptr;
  imaging::TSysBitmap* b32 = imaging::CreateSysBitmap(4, 4, imaging::pfA8R8G8B8);
  EXPECT_FALSE(CopyFrameToBitmap(b32, data, linesize, ff::kPixYUV420P, conv));
  imaging::TSysBitmap* b24 = imaging::CreateSysBitmap(4, 4, imaging::pfR8G8B8);
  ASSERT_TRUE(CopyFrameToBitmap(b24, data, linesize, ff::kPixYUV420P, conv));
  // Video white (235) is full white.
  EXPECT_GE(b24->Row(3)[3 * 3 + 1], 250);
  EXPECT_FALSE(CopyFrameToBitmap(b24, nullptr, linesize, ff::kPixYUV420P, conv));
  b32->Free();
  b24->Free();
  conv->Free();
}

// Rows that are separate blocks (a pitch that does not lead from one row to
// the next) are filled row by row: nothing is written between them.
TEST(FrameConversion, ScatteredRowsAreWrittenOneByOne) {
  const int w = 8, h = 4, gap = 64;
  std::vector<uint8_t> y(w * h, 235), u(w * h / 4, 128), v(w * h / 4, 128);
  uint8_t* data[8] = {y.data(), u.data(), v.data()};
  int linesize[8] = {w, w / 2, w / 2};
  std::vector<uint8_t> store(static_cast<size_t>(h) * (w * 3 + gap), 0xA5);
  imaging::TScanLines rows;
  for (int r = 0; r < h; ++r) rows.push_back(store.data() + static_cast<size_t>(r) * (w * 3 + gap));
  auto* b = new imaging::TSysBitmap(imaging::TSize{w, h}, imaging::pfR8G8B8, rows, w * 3);
  TFFVideoFormatConvertor* conv = nullptr;
  ASSERT_TRUE(CopyFrameToBitmap(b, data, linesize, ff::kPixYUV420P, conv));
  for (int r = 0; r < h; ++r) {
    const uint8_t* row = store.data() + static_cast<size_t>(r) * (w * 3 + gap);
    for (int i = 0; i < w * 3; ++i) EXPECT_GE(row[i], 250) << r << " " << i;
    for (int i = w * 3; i < w * 3 + gap; ++i) ASSERT_EQ(row[i], 0xA5) << r << " " << i;
  }
  b->Free();
  conv->Free();
}

TEST(AspectClass, RatiosWithinAThousandth) {
  struct Case {
    float ratio;
    int cls;
  } cases[] = {{0, 0}, {1.3334f, 1}, {1.34f, 0}, {1.7778f, 2}, {16.0f / 9, 2}, {4.0f / 3, 1}, {2.35f, 0}};
  for (auto c : cases) EXPECT_EQ(AspectClassOf(c.ratio), c.cls) << c.ratio;
}

TEST(ErrorTexts, TableEntriesPrefixesAndUnknownCodes) {
  EXPECT_EQ(FormatErrorText(u"movie.mp4", ff::kErrorInvalidData),
            u"movie.mp4: Invalid data found when processing input");
  EXPECT_EQ(FormatErrorText(u"", 7), u"Error number 7 occurred");
  EXPECT_EQ(FormatErrorText(u"", ff::kErrorEOF), u"End of file");
  EXPECT_EQ(FormatErrorText(u"", -875574520), u"HTTP or RTSP error: not found(404)");
  EXPECT_EQ(FormatErrorText(u"", -10035), u"WSAEWOULDBLOCK");
  EXPECT_EQ(FormatErrorText(u"", -2), u"No such file or directory");
  EXPECT_EQ(FormatErrorText(u"", -12), u"Not enough space / Out of memory");
  // This system's errno numbers find the text of their meaning.
  EXPECT_EQ(FormatErrorText(u"", -ETIMEDOUT), u"Connection timed out");
  EXPECT_EQ(FormatErrorText(u"", -ENOSYS), u"Function not implemented");
  EXPECT_EQ(FormatErrorText(u"x", -ECONNREFUSED), u"x: Connection refused");
}

}  // namespace
