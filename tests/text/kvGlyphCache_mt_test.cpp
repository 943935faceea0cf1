// The process-wide font cache shared by threads that build texts from the
// local fonts, load stored caches and render cached texts at the same time.
#include "text/kvGlyphCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "foundation/kvStream.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/GlyphStreams.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

using namespace text;

TEST(GlyphCacheThreads, BuildLoadAndRenderConcurrently) {
  QEL_REQUIRE_PINNED_FONTS();
  InitWinFontUtils();
  InitGdiDynamicFunctions();
  InitFontSubstitute();
  InitWinTextVectorizer();
  GlobalFontCache()->SetCacheId(u"threads");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < 6; ++round) {
        // Build from the local fonts: every thread adds glyphs to the same font.
        auto* lines = new foundation::TStringList();
        lines->Add(t % 2 ? u"Shared glyphs abc" : u"shared Glyphs xyz");
        TFontParams f = DefaultFontParams();
        f.Size = 10 + float(round);
        TCachedVectorText* text = CreateCachedVectorText(f, lines);
        lines->Free();
        // Load a stored cache under a key other threads load too.
        const std::u16string key = u"Stored" + std::u16string(1, char16_t(u'0' + round % 3)) + u":";
        const std::string bytes = testsupport::GlyphCacheStream(key, {{1, 0, 5, 0, 9, 2, 12, testsupport::SquarePoints(0, 5)}});
        auto* s = new foundation::TMemoryStream();
        s->WriteBuf(bytes.data(), int32_t(bytes.size()));
        s->SetPosition(0);
        auto* cache = new TGlyphCache();
        cache->LoadFromStream(s);
        s->Free();
        GlobalFontCache()->AddLoadedCache(cache, TGlyphOrigin::Stored);
        // Render the built text's glyphs.
        for (int j = 0; j < text->GetGlyphCount(0); ++j) {
          TPath p;
          TGlyphPlacement g;
          text->GetGlyphPath(p, 0, j);
          text->GetGlyphInfo(g, 0, j);
          if (g.Advance <= 0) failures++;
        }
        TVectorLineMetrics m;
        text->GetLineMetrics(m, 0);
        if (m.Width <= 0) failures++;
        text->Free();
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(GlobalFontCache()->CacheCount(TGlyphOrigin::Stored), 3);  // each key once
  int32_t idx = 0;
  TGlyphCache* arial = GlobalFontCache()->FindCache(u"Arial:", TGlyphOrigin::Local, idx);
  ASSERT_NE(arial, nullptr);
  // Every distinct glyph once, whichever thread made it: "Shared glyphs abc" and
  // "shared Glyphs xyz" use S s h a r e d space G g l y p h s b c x z.
  std::vector<uint16_t> seen;
  for (auto* g : arial->Glyphs) {
    for (uint16_t s : seen) EXPECT_NE(s, g->Info.ID.GlyphIndex);
    seen.push_back(g->Info.ID.GlyphIndex);
  }
  EXPECT_EQ(seen.size(), 17u);
  DoneFontCache();
  DoneWinTextVectorizer();
  DoneFontSubstitute();
  DoneGdiDynamicFunctions();
  DoneDWTextUtils();
  DoneTextServices();
}
