// Placeholders of missing pictures drawn as vector text over the fonts, and
// the plain picture standing in when no vectorizer is installed.
#include <gtest/gtest.h>

#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvImage.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace {

struct Picture {
  int w = 0, h = 0;
  std::vector<imaging::TFColorA> px;
};

Picture Take(imaging::TImage* image) {
  Picture p;
  imaging::TBitmap* b = image->GetBitmap();
  p.w = b->Width;
  p.h = b->Height;
  std::vector<imaging::TFColorA> row(size_t(p.w));
  for (int y = 0; y < p.h; ++y) {
    b->GetPixels32(row, 0, 0, y, p.w);
    p.px.insert(p.px.end(), row.begin(), row.end());
  }
  image->Free();
  return p;
}

}  // namespace

TEST(PlaceholderText, MissingPicturesShowTheirLines) {
  QEL_REQUIRE_PINNED_FONTS();
  testsupport::ScopedFontBackend fonts;
  // The container started the text library on the system's fonts; this test
  // starts its units one by one on the pinned ones.
  text::StopText();
  text::InitWinFontUtils();
  text::InitGdiDynamicFunctions();
  text::InitFontSubstitute();
  const container::TPlaceholderProducer previous = container::PlaceholderProducerHook;
  container::PlaceholderProducerHook = container::VectorTextPlaceholderProducer;

  // No vectorizer yet: the plain grey picture.
  Picture plain = Take(container::CreatePlaceholderImage(u"C:\\photos\\x.jpg", false, false));
  EXPECT_EQ(plain.w, container::kPlaceholderWidth);

  text::InitWinTextVectorizer();
  Picture a = Take(container::CreatePlaceholderImage(u"C:\\photos\\x.jpg", false, false));
  Picture b = Take(container::CreatePlaceholderImage(u"C:\\photos\\a much longer file name.jpg", true, false));
  // Two lines of Arial 72 (96 pixels, lines about 1.15 em apart) at scale
  // 0.5: about 2 x 55 pixels high; the longer second line makes the second
  // picture wider.
  EXPECT_GT(a.h, 100);
  EXPECT_LT(a.h, 125);
  EXPECT_GT(b.w, a.w);
  for (const Picture* p : {&a, &b}) {
    // Opaque grey background, light text.
    EXPECT_EQ(p->px[0].R, 100);
    EXPECT_EQ(p->px[0].A, 255);
    int light = 0, top = p->h, bottom = -1;
    for (int y = 0; y < p->h; ++y)
      for (int x = 0; x < p->w; ++x) {
        const auto& c = p->px[size_t(y * p->w + x)];
        EXPECT_EQ(c.A, 255);
        if (c.R == 230 && c.G == 230 && c.B == 230) {
          ++light;
          top = std::min(top, y);
          bottom = std::max(bottom, y);
        }
      }
    EXPECT_GT(light, 100);
    EXPECT_LT(top, p->h / 2);     // ink in the first line
    EXPECT_GT(bottom, p->h / 2);  // and in the second
  }
  container::PlaceholderProducerHook = previous;
  text::DoneWinTextVectorizer();
  text::DoneFontSubstitute();
  text::DoneGdiDynamicFunctions();
  text::DoneDWTextUtils();
  text::DoneTextServices();
}
