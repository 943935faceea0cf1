// Text images from "Text: " keys: built from the local fonts when the show
// carries nothing, and read from a show's stored entries, where they render
// the same with no fonts installed (also coloured, with their glyph outlines
// stroked and with their shadows); the text bitmap store; the content
// rectangle of show objects.
#include "text/kvTextImages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "imaging/kpShadowProducer2.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvImage.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/GlyphStreams.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvQelTextThread.h"
#include "text/kvRasterizerUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

using namespace text;

namespace {

struct Entries {
  std::map<std::u16string, std::string> files;
  std::vector<std::u16string> asked;
  TEntryOpener opener() {
    return [this](const std::u16string& name) -> foundation::TStream* {
      asked.push_back(name);
      auto it = files.find(name);
      if (it == files.end()) return nullptr;
      auto* s = new foundation::TMemoryStream();
      s->WriteBuf(it->second.data(), int32_t(it->second.size()));
      s->SetPosition(0);
      return s;
    };
  }
};

std::vector<uint32_t> RenderStore(TVectorText* t, const TTextParams& p, int* w = nullptr, int* h = nullptr,
                                  int32_t* rects = nullptr) {
  const auto size = GetVectorTextSize(t, p.Scale, p.LineSpacing);
  auto* store = new TTextBitmapStore(TextBitmapStoreName, {int32_t(size.X), int32_t(size.Y)}, imaging::pfA8R8G8B8, {}, t, p);
  imaging::TBitmap* b = store->GetBitmap(0, imaging::pfA8R8G8B8, nullptr);
  std::vector<uint32_t> px;
  std::vector<imaging::TFColorA> row(size_t(b->Width));
  for (int y = 0; y < b->Height; ++y) {
    b->GetPixels32(row, 0, 0, y, b->Width);
    for (auto c : row) px.push_back(MakeARGB(c.R, c.G, c.B, c.A));
  }
  if (w) *w = b->Width;
  if (h) *h = b->Height;
  auto* wrapper = imaging::TBitmapStore::FindAttachment<TRectListWrapper>(store);
  if (rects) *rects = wrapper ? wrapper->List.Count : -1;
  store->Free();
  return px;
}

std::vector<uint32_t> Pixels(imaging::TBitmap* b) {
  std::vector<uint32_t> px;
  std::vector<imaging::TFColorA> row(size_t(b->Width));
  for (int y = 0; y < b->Height; ++y) {
    b->GetPixels32(row, 0, 0, y, b->Width);
    for (auto c : row) px.push_back(MakeARGB(c.R, c.G, c.B, c.A));
  }
  return px;
}

int Ink(const std::vector<uint32_t>& px) {
  int n = 0;
  for (uint32_t v : px) n += (v >> 24) != 0;
  return n;
}

// A text dressed as a show draws it: in a colour over an opaque background
// with underline, its glyph outlines stroked in a second colour, and the
// soft shadow its alpha casts.
struct Dressed {
  std::vector<uint32_t> fill, outline, shadow;
};

Dressed Dress(TVectorText* t, const TTextParams& p) {
  Dressed d;
  const uint32_t ink = 0xFF1E64C8u;
  auto* producer = new TTextProducer();
  producer->SetVectorText(t, false);
  producer->LineSpacing = float(p.LineSpacing);
  producer->Alignment = p.Alignment;
  imaging::TImage* fill = producer->RenderEx(ink, 0xFFF0E6D2u, p.Scale, true, false, {0, 0}, u"fill");
  d.fill = Pixels(fill->GetBitmap());
  fill->Free();
  imaging::TImage* clear = producer->RenderEx(ink, ink & 0x00FFFFFFu, p.Scale, false, false, {0, 0}, u"clear");
  auto* shadows = new imaging::TShadowProducer({});
  shadows->Radius = 3;
  shadows->Color = 0xC0302010u;
  imaging::TImage* shadow = shadows->Produce(clear);
  d.shadow = Pixels(shadow->GetBitmap());
  shadow->Free();
  shadows->Free();
  clear->Free();
  producer->Free();
  // Each glyph's outline with a pen of 1.5 pixels, closed figures, at the glyph's pen position.
  const auto size = GetVectorTextSize(t, p.Scale, p.LineSpacing);
  auto* h = new TRasterHelper();
  h->Color = 0xFFB01010u;
  h->BeginPaint(int32_t(size.X) + 4, int32_t(size.Y) + 4, 0);
  const double s = p.Scale, a = t->FontMetrics.Ascent, lh = t->FontMetrics.Ascent + t->FontMetrics.Descent;
  TPath path;
  for (int32_t i = 0; i < t->LineCount; ++i)
    for (int32_t j = 0; j < t->GetGlyphCount(i); ++j) {
      TGlyphPlacement g;
      t->GetGlyphInfo(g, i, j);
      path.Count = 0;
      t->GetGlyphPath(path, i, j);
      const float ox = float(2 + s * g.PenX), oy = float(2 + s * (a + i * lh));
      h->Transform = [s, ox, oy](TFloatPoint q) { return TFloatPoint{float(q.X * s) + ox, float(q.Y * s) + oy}; };
      EXPECT_TRUE(h->StrokePath(path, 1.5f, true));
    }
  imaging::TBitmap* b = h->EndPaint();
  d.outline = Pixels(b);
  b->Free();
  h->Free();
  return d;
}

std::u16string Escaped(std::u16string s) {
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') {
      out += u"\\n";
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

class TextImagesTest : public ::testing::Test {
 protected:
  testsupport::ScopedFontBackend fonts_;
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
    InitGdiDynamicFunctions();
    InitFontSubstitute();
    InitWinTextVectorizer();
    GlobalFontCache()->SetCacheId(u"local");
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

const std::u16string kKey = u"Text: DejaVu Sans:0.5:0:0:Underline:1:1:20:\"<H>ello\r\n<W>orld: <ABC>\"";

}  // namespace

TEST_F(TextImagesTest, StoredEntriesRenderTheSameWithoutFonts) {
  // With the fonts: nothing stored, the text is built here.
  Entries none;
  TVectorText* built = nullptr;
  TTextParams p;
  const foundation::TPoint size = LoadKeyedVectorText(kKey, none.opener(), built, p);
  EXPECT_EQ(p.FontName, u"DejaVu Sans");
  EXPECT_EQ(p.Style, fpUnderline);
  EXPECT_EQ(p.LineSpacing, 20);
  EXPECT_DOUBLE_EQ(p.Scale, 0.5);
  ASSERT_EQ(none.asked.size(), 1u);
  EXPECT_EQ(none.asked[0], Escaped(u"VectTxt2: DejaVu Sans:Underline:\"<H>ello\r\n<W>orld: <ABC>\""));
  ASSERT_EQ(built->LineCount, 2);
  const Dressed dressedWithFonts = Dress(built, p);
  int coloured = 0;
  for (uint32_t v : dressedWithFonts.fill) coloured += v != 0xFFF0E6D2u;
  EXPECT_GT(coloured, 200);
  EXPECT_GT(Ink(dressedWithFonts.outline), 300);
  EXPECT_GT(Ink(dressedWithFonts.shadow), 1000);
  int w = 0, h = 0;
  int32_t rects = 0;
  const auto withFonts = RenderStore(built, p, &w, &h, &rects);
  EXPECT_EQ(w, size.X);
  EXPECT_EQ(h, size.Y);
  EXPECT_EQ(rects, 2);
  int ink = 0;
  for (uint32_t v : withFonts) ink += (v >> 24) != 0;
  EXPECT_GT(ink, 200);
  for (uint32_t v : withFonts) EXPECT_EQ(v & 0x00FFFFFFu, 0x00FFFFFFu);  // white on transparent white

  // The show's entries: the laid-out text and the glyphs of its font, written
  // byte by byte from the glyphs built above.
  Entries show;
  foundation::TMemoryStream* vt = BuildVectTextStream(u"VectTxt2: DejaVu Sans:Underline:\"Hello\r\nWorld: ABC\"");
  show.files[Escaped(u"VectTxt2: DejaVu Sans:Underline:\"<H>ello\r\n<W>orld: <ABC>\"")] =
      std::string(reinterpret_cast<const char*>(vt->Data()), size_t(vt->GetSize()));
  vt->Free();
  int32_t idx = 0;
  TGlyphCache* local = GlobalFontCache()->FindCache(u"DejaVu Sans:Underline", TGlyphOrigin::Local, idx);
  ASSERT_NE(local, nullptr);
  std::vector<testsupport::StreamGlyph> glyphs;
  for (auto* g : local->Glyphs) {
    testsupport::StreamGlyph s{g->Info.ID.GlyphIndex, g->Info.AWidth, g->Info.BWidth, g->Info.CWidth,
                               g->Info.Ascent, g->Info.Descent, g->Info.ID.FontSize, {}};
    for (int32_t i = 0; i < g->Path.Count; ++i)
      s.points.push_back({g->Path.Items[size_t(i)].X, g->Path.Items[size_t(i)].Y, g->Path.Items[size_t(i)].Kind});
    glyphs.push_back(s);
  }
  show.files[u"VectTextCache: DejaVu Sans:Underline"] = testsupport::GlyphCacheStream(u"DejaVu Sans:Underline", glyphs);

  // Without any font: the stored entries alone.
  {
    testsupport::ScopedFontBackend noFonts(std::vector<std::string>{});
    GlobalFontCache()->SetCacheId(u"show");
    TVectorText* stored = nullptr;
    TTextParams q;
    const foundation::TPoint size2 = LoadKeyedVectorText(kKey, show.opener(), stored, q);
    EXPECT_EQ(size2.X, size.X);
    EXPECT_EQ(size2.Y, size.Y);
    const Dressed dressed = Dress(stored, q);
    EXPECT_EQ(dressed.fill, dressedWithFonts.fill);
    EXPECT_EQ(dressed.outline, dressedWithFonts.outline);
    EXPECT_EQ(dressed.shadow, dressedWithFonts.shadow);
    const auto withoutFonts = RenderStore(stored, q);
    EXPECT_EQ(withoutFonts, withFonts);
    EXPECT_EQ(GlobalFontCache()->CacheCount(TGlyphOrigin::Local), 0);  // nothing was built
  }
}

TEST_F(TextImagesTest, MissingOrDamagedGlyphCachesLeaveTheirGlyphsOut) {
  Entries show;
  const std::u16string vkey = Escaped(u"VectTxt2: DejaVu Sans:Underline:\"<H>ello\r\n<W>orld: <ABC>\"");
  foundation::TMemoryStream* vt = BuildVectTextStream(u"VectTxt2: DejaVu Sans:Underline:\"Hello\r\nWorld: ABC\"");
  show.files[vkey] = std::string(reinterpret_cast<const char*>(vt->Data()), size_t(vt->GetSize()));
  vt->Free();
  show.files[u"VectTextCache: DejaVu Sans:Underline"] = "\x05\x00";  // damaged
  GlobalFontCache()->SetCacheId(u"show");
  TVectorText* t = nullptr;
  TTextParams q;
  LoadKeyedVectorText(kKey, show.opener(), t, q);
  ASSERT_EQ(t->LineCount, 2);
  EXPECT_EQ(t->GetGlyphCount(0), 5);  // the references stay
  TPath path;
  t->GetGlyphPath(path, 0, 0);
  EXPECT_EQ(path.Count, 0);
  // Rendered: the lines have no width, so not even their bars show.
  TVectorLineMetrics m;
  t->GetLineMetrics(m, 0);
  EXPECT_EQ(m.Width, 0);
  const auto px = RenderStore(t, q);
  for (uint32_t v : px) EXPECT_EQ(v >> 24, 0u);
}

TEST_F(TextImagesTest, BoundsAndLineHeightUseTheParamsScale) {
  Entries none;
  TVectorText* t = nullptr;
  TTextParams p;
  LoadKeyedVectorText(kKey, none.opener(), t, p);
  auto* store = new TTextBitmapStore(TextBitmapStoreName, {4, 4}, imaging::pfA8R8G8B8, {}, t, p);
  foundation::TFloatRect a, b;
  store->GetTextBounds(a, 0);
  store->GetTextBounds(b, 0.5);
  EXPECT_EQ(a.Right - a.Left, b.Right - b.Left);
  EXPECT_EQ(a.Bottom - a.Top, b.Bottom - b.Top);
  EXPECT_FLOAT_EQ(store->GetLineHeight(), float((t->FontMetrics.Ascent + t->FontMetrics.Descent) * 0.5));
  store->Free();
}

TEST(BorderContentRect, KeepAspectZoomOffsetAndMargins) {
  struct Row {
    const char* name;
    TBorderParams p;
    foundation::TFloatRect want;
  };
  auto params = [](bool keep, float aspect, float zoom, float ox, bool margins = false, float ml = 0, float mr = 0) {
    TBorderParams b;
    b.KeepAspect = keep;
    b.Aspect = aspect;
    b.Zoom = zoom;
    b.Offset = {ox, 0};
    b.Margins = margins;
    b.MarginLeft = ml;
    b.MarginRight = mr;
    return b;
  };
  const std::vector<Row> rows = {
      {"aspect 1", params(true, 1, 100, 0), {50, 0, 150, 100}},
      {"zoom 50", params(true, 1, 50, 0), {75, 25, 125, 75}},
      {"zoom 50, offset 100", params(true, 1, 50, 100), {150, 25, 200, 75}},
      {"no aspect", params(false, 1, 100, 0), {0, 0, 200, 100}},
      {"margins of 50 percent", params(false, 0, 100, 0, true, 50, 50), {100, 0, 101, 100}},
      {"crossing margins", params(false, 0, 100, 0, true, 100, 100), {0, 0, 200, 100}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    foundation::TFloatRect got;
    float radius = -1;
    CalcBorderContentRect(got, r.p, 200, 100, 1, radius);
    EXPECT_FLOAT_EQ(got.Left, r.want.Left);
    EXPECT_FLOAT_EQ(got.Top, r.want.Top);
    EXPECT_FLOAT_EQ(got.Right, r.want.Right);
    EXPECT_FLOAT_EQ(got.Bottom, r.want.Bottom);
    EXPECT_EQ(radius, 0);
  }
  TBorderParams round;
  round.RoundCorners = true;
  round.CornerRadius = 10;
  foundation::TFloatRect got;
  float radius = 0;
  CalcBorderContentRect(got, round, 200, 100, 1, radius);
  EXPECT_FLOAT_EQ(radius, 10);
  TBorderParams other = round;
  other.Name = u"other";
  EXPECT_TRUE(SameBorderParams(round, other));
  other.Zoom = 99;
  EXPECT_FALSE(SameBorderParams(round, other));
}
