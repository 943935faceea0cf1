// Glyph caches and cached vector texts: streams written by the test support
// and read back, size scaling of outlines and placements, origins kept
// apart, missing glyphs, counts beyond the stream, and texts built from the
// local fonts.
#include "text/kvGlyphCache.h"

#include <gtest/gtest.h>

#include <string>
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
using namespace testsupport;

namespace {

foundation::TMemoryStream* StreamOf(const std::string& bytes) {
  auto* s = new foundation::TMemoryStream();
  if (!bytes.empty()) s->WriteBuf(bytes.data(), int32_t(bytes.size()));
  s->SetPosition(0);
  return s;
}

TGlyphCache* LoadCache(const std::string& bytes) {
  auto* s = StreamOf(bytes);
  auto* c = new TGlyphCache();
  try {
    c->LoadFromStream(s);
  } catch (...) {
    c->Free();
    s->Free();
    throw;
  }
  s->Free();
  return c;
}

TCachedVectorText* ReadText(const std::string& bytes, TGlyphOrigin origin, std::vector<std::u16string>* keys = nullptr) {
  auto* s = StreamOf(bytes);
  TCachedVectorText* t = nullptr;
  try {
    ReadCachedVectorText(t, s, [&](const std::u16string& k) {
      if (keys) keys->push_back(k);
    }, origin);
  } catch (...) {
    s->Free();
    throw;
  }
  s->Free();
  return t;
}

class GlyphCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { GlobalFontCache()->SetCacheId(u"test " + std::u16string(1, char16_t(u'A' + counter_++ % 26))); }
  void TearDown() override { DoneFontCache(); }
  static int counter_;
};
int GlyphCacheTest::counter_ = 0;

}  // namespace

TEST_F(GlyphCacheTest, GlyphCacheStreamReadsPlacementsAndOutlines) {
  TGlyphCache* c = LoadCache(GlyphCacheStream(u"Verdana:Bold", {{7, 1, 10, 2, 40, 9, 72, SquarePoints(1, 10)},
                                                                {9, 0, 0, 20, 40, 9, 72, {}}}));
  EXPECT_EQ(c->FontKey, u"Verdana:Bold");
  ASSERT_EQ(c->Glyphs.size(), 2u);
  int32_t pos = 0;
  TGlyphData* g = c->FindGlyph(7, pos);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(pos, 0);
  EXPECT_EQ(g->Info.AWidth, 1);
  EXPECT_EQ(g->Info.BWidth, 10);
  EXPECT_EQ(g->Info.CWidth, 2);
  EXPECT_EQ(g->Info.Ascent, 40);
  EXPECT_EQ(g->Info.Descent, 9);
  EXPECT_EQ(g->Info.Advance, 0);  // not stored
  EXPECT_EQ(g->Info.Height, 0);
  EXPECT_EQ(g->Info.PenX, 0);
  EXPECT_EQ(g->Info.ID.FontSize, 72);
  ASSERT_EQ(g->Path.Count, 4);
  EXPECT_FLOAT_EQ(g->Path.Items[1].X, 11);
  EXPECT_EQ(g->Path.Items[1].Kind, 1);
  EXPECT_EQ(c->FindGlyph(8, pos), nullptr);
  EXPECT_EQ(pos, -1);
  c->Free();
}

TEST_F(GlyphCacheTest, CountsBeyondTheStreamAreRefused) {
  struct Row {
    const char* name;
    std::string bytes;
    bool textStream;
  };
  ByteWriter lines;  // two billion lines promised in 28 bytes
  lines.i32(0x7FFFFFFF);
  for (int i = 0; i < 6; ++i) lines.i32(0);
  ByteWriter glyphs;  // one line of a million glyphs
  glyphs.i32(1);
  for (int i = 0; i < 6; ++i) glyphs.i32(0);
  glyphs.i32(1000000);
  ByteWriter key;  // a key of a billion characters
  key.i32(1);
  for (int i = 0; i < 6; ++i) key.i32(0);
  key.i32(1);
  key.i32(0);
  key.f32(12);
  key.u16(3);
  key.i32(1000000000);
  std::string points = GlyphCacheStream(u"K", {{1, 0, 0, 0, 0, 0, 12, SquarePoints(0, 1)}});
  points[points.size() - 4 * 12 - 4 + 3] = 0x40;  // the point count's high byte
  ByteWriter negative;
  negative.i32(-5);
  const std::vector<Row> rows = {
      {"line count", lines.text(), true},
      {"glyph count", glyphs.text(), true},
      {"key length", key.text(), true},
      {"negative count", negative.text(), true},
      {"glyph-cache glyph count", GlyphCacheStream(u"K", {}).replace(0, 4, std::string("\xff\xff\xff\x0f", 4)), false},
      {"point count", points, false},
      {"short stream", GlyphCacheStream(u"K", {{1, 0, 0, 0, 0, 0, 12, SquarePoints(0, 1)}}).substr(0, 30), false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.textStream) EXPECT_THROW(ReadText(r.bytes, TGlyphOrigin::Stored), foundation::EStreamError);
    else EXPECT_THROW(LoadCache(r.bytes), foundation::EStreamError);
  }
}

TEST_F(GlyphCacheTest, OutlinesAndPlacementsScaleWithTheReferencedSize) {
  GlobalFontCache()->AddLoadedCache(LoadCache(GlyphCacheStream(u"F:", {{3, 2, 20, 4, 50, 10, 72, SquarePoints(2, 20)}})),
                                    TGlyphOrigin::Stored);
  TCachedVectorText* t = ReadText(VectorTextStream({50, 10}, {{{0, 36, 3, u"F:"}, {13, 72, 3, u"F:"}}}),
                                  TGlyphOrigin::Stored);
  TPath half, full;
  t->GetGlyphPath(half, 0, 0);
  t->GetGlyphPath(full, 0, 1);
  ASSERT_EQ(half.Count, 4);
  EXPECT_FLOAT_EQ(half.Items[1].X, 11);  // (2 + 20) / 2
  EXPECT_FLOAT_EQ(half.Items[1].Y, -10);
  EXPECT_FLOAT_EQ(full.Items[1].X, 22);
  TGlyphPlacement h, f;
  t->GetGlyphInfo(h, 0, 0);
  t->GetGlyphInfo(f, 0, 1);
  EXPECT_EQ(h.AWidth, 1);
  EXPECT_EQ(h.BWidth, 10);
  EXPECT_EQ(h.CWidth, 2);
  EXPECT_EQ(h.Ascent, 25);
  EXPECT_EQ(h.Descent, 5);
  EXPECT_EQ(h.PenX, 0);
  // At the cached size a stored show's placements stay exactly as stored.
  EXPECT_EQ(f.AWidth, 2);
  EXPECT_EQ(f.BWidth, 20);
  EXPECT_EQ(f.CWidth, 4);
  EXPECT_EQ(f.Ascent, 50);
  EXPECT_EQ(f.PenX, 13);
  t->Free();
}

TEST_F(GlyphCacheTest, OriginsNeverShareCaches) {
  // The same key and index from a stored show and from the local fonts.
  GlobalFontCache()->AddLoadedCache(LoadCache(GlyphCacheStream(u"Verdana:", {{36, 1, 8, 1, 30, 5, 40, SquarePoints(1, 8)}})),
                                    TGlyphOrigin::Stored);
  TGlyphInfo local;
  local.ID.GlyphKey = u"Verdana:";
  local.ID.GlyphIndex = 36;
  local.ID.FontSize = 40;
  local.BWidth = 30;
  TPath wide;
  AddRectToPath(wide, 0, -30, 30, 30);
  ASSERT_TRUE(GlobalFontCache()->EnsureGlyph(u"Verdana:", TGlyphOrigin::Local, 36, [&](TGlyphInfo& i, TPath& p) {
    i = local;
    p = wide;
    return true;
  }));
  const std::string text = VectorTextStream({30, 5}, {{{0, 40, 36, u"Verdana:"}}});
  TCachedVectorText* stored = ReadText(text, TGlyphOrigin::Stored);
  TCachedVectorText* built = ReadText(text, TGlyphOrigin::Local);
  TGlyphPlacement s, b;
  stored->GetGlyphInfo(s, 0, 0);
  built->GetGlyphInfo(b, 0, 0);
  EXPECT_EQ(s.BWidth, 8);
  EXPECT_EQ(b.BWidth, 30);
  TPath sp, bp;
  stored->GetGlyphPath(sp, 0, 0);
  built->GetGlyphPath(bp, 0, 0);
  EXPECT_FLOAT_EQ(sp.Items[1].X, 9);
  EXPECT_FLOAT_EQ(bp.Items[1].X, 30);
  EXPECT_EQ(GlobalFontCache()->CacheCount(TGlyphOrigin::Stored), 1);
  EXPECT_EQ(GlobalFontCache()->CacheCount(TGlyphOrigin::Local), 1);
  stored->Free();
  built->Free();
}

TEST_F(GlyphCacheTest, MissingCachesAndGlyphsAreLeftOut) {
  GlobalFontCache()->AddLoadedCache(LoadCache(GlyphCacheStream(u"F:", {{1, 1, 8, 1, 30, 5, 40, SquarePoints(1, 8)}})),
                                    TGlyphOrigin::Stored);
  // Glyph 0 exists; glyph 1 has a cache but no glyph; glyph 2 has no cache.
  TCachedVectorText* t = ReadText(VectorTextStream({30, 5}, {{{0, 40, 1, u"F:"}, {10, 40, 2, u"F:"}, {500, 40, 1, u"G:"}}}),
                                  TGlyphOrigin::Stored);
  for (int j = 1; j < 3; ++j) {
    TPath p;
    AddPathPoint(p, 5, 5, 0);  // a stale item must not survive
    t->GetGlyphPath(p, 0, j);
    EXPECT_EQ(p.Count, 0) << j;
    TGlyphPlacement g;
    g.AWidth = 99;
    t->GetGlyphInfo(g, 0, j);
    EXPECT_EQ(g.AWidth, 0) << j;
    EXPECT_EQ(g.BWidth, 0) << j;
    EXPECT_EQ(g.Ascent, 0) << j;
    EXPECT_EQ(g.PenX, 0) << j;
  }
  TVectorLineMetrics m;
  t->GetLineMetrics(m, 0);
  EXPECT_EQ(m.Width, 10);  // only the first glyph: pen 0, 1 + 8 + 1
  EXPECT_EQ(m.Ascent, 30);
  t->Free();
}

TEST_F(GlyphCacheTest, CacheIdKeepsOrDropsFonts) {
  GlobalFontCache()->SetCacheId(u"show 1");
  int32_t idx = 0;
  GlobalFontCache()->AddCache(u"A:", TGlyphOrigin::Local, idx);
  GlobalFontCache()->AddCache(u"B:", TGlyphOrigin::Stored, idx);
  GlobalFontCache()->SetCacheId(u"show 1");
  EXPECT_NE(GlobalFontCache()->FindCache(u"A:", TGlyphOrigin::Local, idx), nullptr);
  EXPECT_EQ(idx, 0);
  EXPECT_EQ(GlobalFontCache()->FindCache(u"A:", TGlyphOrigin::Stored, idx), nullptr);
  EXPECT_EQ(idx, -1);
  GlobalFontCache()->SetCacheId(u"show 2");
  EXPECT_EQ(GlobalFontCache()->CacheCount(TGlyphOrigin::Local), 0);
  EXPECT_EQ(GlobalFontCache()->CacheCount(TGlyphOrigin::Stored), 0);
  EXPECT_EQ(GlobalFontCache()->GetCacheId(), u"show 2");
}

namespace {

// A vectorizer that refuses "Bitmap Font" as an outline font and records the
// fonts it is asked for.
class TRecordingVectorizer : public TWinVectorizer {
 public:
  static inline std::vector<std::u16string> Asked;
  TTextElementEx* CreateTextElement(const TFontParams& Font, const std::u16string& Text) override {
    Asked.push_back(Font.Name);
    return TWinVectorizer::CreateTextElement(Font, Text);
  }
  bool IsOutlineFont(const TFontParams& Font) override { return Font.Name != u"Bitmap Font"; }
};

}  // namespace

class CachedTextFontsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
    InitGdiDynamicFunctions();
    InitFontSubstitute();
    InitWinTextVectorizer();
    GlobalFontCache()->SetCacheId(u"fonts");
  }
  void TearDown() override {
    DoneFontCache();
    DoneWinTextVectorizer();
    DoneFontSubstitute();
    DoneGdiDynamicFunctions();
    DoneDWTextUtils();
    DoneTextServices();
  }
};

TEST_F(CachedTextFontsTest, BuiltTextWritesAndReadsBackIdentically) {
  auto* lines = new foundation::TStringList();
  lines->Add(u"Hello");
  lines->Add(u"");
  lines->Add(u"w\u00F6rld \u0416");
  TFontParams f = DefaultFontParams();
  f.Size = 20;
  TCachedVectorText* t = CreateCachedVectorText(f, lines);
  lines->Free();
  auto* s = new foundation::TMemoryStream();
  WriteCachedVectorText(t, s);
  std::vector<std::u16string> keys;
  TCachedVectorText* r = nullptr;
  ReadCachedVectorText(r, s, [&](const std::u16string& k) { keys.push_back(k); }, TGlyphOrigin::Local);
  s->Free();
  ASSERT_EQ(r->LineCount, 3);
  EXPECT_EQ(r->FontMetrics.Ascent, t->FontMetrics.Ascent);
  EXPECT_EQ(r->FontMetrics.Descent, t->FontMetrics.Descent);
  EXPECT_EQ(r->FontMetrics.UnderlinePosition, t->FontMetrics.UnderlinePosition);
  EXPECT_EQ(r->FontMetrics.StrikeOutThickness, t->FontMetrics.StrikeOutThickness);
  size_t k = 0;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(r->GetGlyphCount(i), t->GetGlyphCount(i));
    for (int j = 0; j < t->GetGlyphCount(i); ++j) {
      const auto* a = t->Lines[size_t(i)]->Glyphs[size_t(j)];
      const auto* b = r->Lines[size_t(i)]->Glyphs[size_t(j)];
      EXPECT_EQ(a->GlyphIndex, b->GlyphIndex);
      EXPECT_EQ(a->GlyphKey, b->GlyphKey);
      EXPECT_EQ(a->PenX, b->PenX);
      EXPECT_EQ(a->FontSize, b->FontSize);
      ASSERT_LT(k, keys.size());
      EXPECT_EQ(keys[k++], a->GlyphKey);
    }
    TVectorLineMetrics ma, mb;
    t->GetLineMetrics(ma, i);
    r->GetLineMetrics(mb, i);
    EXPECT_EQ(ma.Width, mb.Width);
    EXPECT_EQ(ma.Ascent, mb.Ascent);
  }
  EXPECT_EQ(t->GetGlyphCount(1), 0);
  EXPECT_EQ(t->Lines[0]->Glyphs[0]->GlyphKey, u"Arial:");
  // Each glyph is cached once: the "l"s of both lines are one glyph.
  int32_t idx = 0;
  TGlyphCache* c = GlobalFontCache()->FindCache(u"Arial:", TGlyphOrigin::Local, idx);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Glyphs.size(), 10u);  // H e l o, w \u00F6 r d, the space and \u0416
  t->Free();
  r->Free();
}

TEST_F(CachedTextFontsTest, FontsWithoutOutlinesBecomeArial) {
  TRecordingVectorizer::Asked.clear();
  CreateVectorizer = [] { return static_cast<TVectorizer*>(new TRecordingVectorizer()); };
  auto* lines = new foundation::TStringList();
  lines->Add(u"x");
  TFontParams f = DefaultFontParams();
  f.Name = u"Bitmap Font";
  TCachedVectorText* t = CreateCachedVectorText(f, lines);
  lines->Free();
  ASSERT_EQ(TRecordingVectorizer::Asked.size(), 1u);
  EXPECT_EQ(TRecordingVectorizer::Asked[0], u"Arial");
  EXPECT_EQ(t->Lines[0]->Glyphs[0]->GlyphKey, u"Arial:");
  t->Free();
}
