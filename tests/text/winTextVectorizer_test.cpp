// The outline record parser on hand-built buffers, the black-box fit, the
// glyph-key style text, and the vectorizer over the pinned fonts.
#include "text/winTextVectorizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/AssertionText.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextElement.h"

using namespace text;

namespace {

// Outline records, built by hand.
struct Records {
  std::vector<uint8_t> b;
  size_t header = 0;
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  }
  void u16(uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
  void fx(double v) { u32(uint32_t(int32_t(std::lround(v * 65536)))); }
  void Polygon(double x, double y, uint32_t type = 24) {
    End();
    header = b.size();
    u32(0);
    u32(type);
    fx(x);
    fx(y);
  }
  void Curve(uint16_t kind, std::vector<std::pair<double, double>> pts) {
    u16(kind);
    u16(uint16_t(pts.size()));
    for (auto [x, y] : pts) {
      fx(x);
      fx(y);
    }
  }
  void End() {
    if (b.size() > header) {
      const uint32_t n = uint32_t(b.size() - header);
      for (int i = 0; i < 4; ++i) b[header + size_t(i)] = uint8_t(n >> (8 * i));
    }
  }
};

std::vector<TPathItem> Items(const TPath& p) { return {p.Items.begin(), p.Items.begin() + p.Count}; }

TFontParams Font(std::u16string name, float size, uint8_t style = 0) {
  TFontParams f;
  InitFontParams(f, name, size, style, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), true);
  return f;
}

}  // namespace

TEST(GlyphOutlineRecords, KindsOfCurveRecords) {
  Records r;
  r.Polygon(1, 2);
  r.Curve(1, {{3, 2}, {3, 4.5}});
  r.Curve(2, {{0, 0}, {2, 4}, {6, 8}});           // three points: control, midpoint, control, end
  r.Curve(3, {{1, 1}, {2, 2}, {3, 3}, {9, 9}});   // one full cubic; the fourth point is ignored
  r.Curve(2, {{5, 5}});                           // a one-point quadratic adds nothing
  r.Curve(7, {{5, 5}, {6, 6}});                   // other kinds are skipped
  r.Polygon(-0.5, 0.25);
  r.Curve(1, {{1, 1}});
  r.End();
  TPath p;
  ReadGlyphOutline(r.b, p);
  const std::vector<TPathItem> want = {
      {1, 2, 0},   {3, 2, 1},   {3, 4.5f, 1}, {0, 0, 2}, {1, 2, 2}, {2, 4, 2}, {6, 8, 2},
      {1, 1, 3},   {2, 2, 3},   {3, 3, 3},    {-0.5f, 0.25f, 0}, {1, 1, 1}};
  const auto got = Items(p);
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_FLOAT_EQ(got[i].X, want[i].X) << i;
    EXPECT_FLOAT_EQ(got[i].Y, want[i].Y) << i;
    EXPECT_EQ(got[i].Kind, want[i].Kind) << i;
  }
}

TEST(GlyphOutlineRecords, BadHeaderAndDamagedRecords) {
  Records bad;
  bad.Polygon(0, 0, 25);
  bad.End();
  TPath p;
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { ReadGlyphOutline(bad.b, p); }),
            u"GetGlyphOutline: don't exist HeaderType");
  // A curve record promising more points than the buffer holds reads only
  // what is there; a header size of 0 gives its start point and ends the
  // walk instead of looping.
  Records r;
  r.Polygon(0, 0);
  r.Curve(1, {{1, 1}, {2, 2}});
  r.End();
  r.b[16 + 2] = 200;  // point count
  TPath q;
  ReadGlyphOutline(r.b, q);
  EXPECT_EQ(q.Count, 3);
  r.b[0] = r.b[1] = 0;
  TPath z;
  ReadGlyphOutline(r.b, z);
  EXPECT_EQ(z.Count, 1);
}

TEST(GlyphOutlineRecords, BlackBoxFit) {
  TPath p;
  AddPathPoint(p, -2, 0, 0);
  AddPathPoint(p, 4, 0, 1);
  FitGlyphToBlackBox(p, 1, 10);  // left of A: shifted right by 3
  EXPECT_FLOAT_EQ(p.Items[0].X, 1);
  EXPECT_FLOAT_EQ(p.Items[1].X, 7);
  FitGlyphToBlackBox(p, 1, 3);  // wider than A + B = 4: compressed toward its left edge
  EXPECT_FLOAT_EQ(p.Items[0].X, 1);
  EXPECT_FLOAT_EQ(p.Items[1].X, 4);
}

TEST(GlyphKeys, StyleText) {
  struct Row {
    std::u16string key;
    std::u16string name;
    uint8_t style;
  };
  const std::vector<Row> rows = {
      {u"Arial", u"Arial", 0},
      {u"Arial:", u"Arial", 0},
      {u"Arial:Bold, Italic", u"Arial", 3},
      {u"Arial:Bold,\tStrikeOut", u"Arial", 9},
      {u"Arial:bold", u"Arial", 0},
      {u"Arial:Italic,Italic,Italic,Italic,Bold", u"Arial", 2},
      {u"Arial:Underline,x,StrikeOut", u"Arial", 12},
  };
  for (const auto& r : rows) {
    std::u16string name;
    uint8_t style = 0xFF;
    SplitGlyphKey(r.key, name, style);
    EXPECT_EQ(name, r.name);
    EXPECT_EQ(style, r.style) << std::string(r.key.begin(), r.key.end());
  }
}

class VectorizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
    InitGdiDynamicFunctions();
    InitFontSubstitute();
    InitWinTextVectorizer();
    v = CreateVectorizer();
  }
  void TearDown() override {
    if (v) v->Free();
    DoneWinTextVectorizer();
    DoneFontSubstitute();
    DoneGdiDynamicFunctions();
    DoneDWTextUtils();
    DoneTextServices();
  }
  TVectorizer* v = nullptr;
};

TEST_F(VectorizerTest, GlyphsOfTextElementsHaveOutlines) {
  ASSERT_NE(v, nullptr);
  TTextElementEx* e = v->CreateTextElement(Font(u"Arial", 72), u"Ho ");
  ASSERT_EQ(e->GetGlyphCount(), 3);
  TGlyphInfo h, o, sp;
  e->GetGlyphInfo(0, h);
  e->GetGlyphInfo(1, o);
  e->GetGlyphInfo(2, sp);
  e->Free();
  EXPECT_EQ(h.ID.GlyphKey, u"Arial:");
  TPath ph, po, ps;
  ASSERT_TRUE(v->GetGlyphPath(h, ph));
  ASSERT_TRUE(v->GetGlyphPath(o, po));
  ASSERT_TRUE(v->GetGlyphPath(sp, ps));
  EXPECT_EQ(ps.Count, 0);  // a space has no outline
  // "H" is straight lines, "o" quadratic splines; both above the baseline (y < 0, downward).
  int lines = 0, quads = 0;
  float minY = 0, maxY = -1e9f, minX = 1e9f, maxX = -1e9f;
  for (const auto& it : Items(ph)) {
    lines += it.Kind == 1;
    quads += it.Kind == 2;
    minY = std::min(minY, it.Y);
    maxY = std::max(maxY, it.Y);
    minX = std::min(minX, it.X);
    maxX = std::max(maxX, it.X);
  }
  EXPECT_GT(lines, 4);
  EXPECT_EQ(quads, 0);
  EXPECT_LT(minY, -40);  // a cap height of about 0.7 em of 96 pixels
  EXPECT_NEAR(maxY, 0, 0.01);
  EXPECT_GE(minX, float(h.AWidth) - 0.01f);
  EXPECT_LE(maxX, float(h.AWidth + h.BWidth) + 0.01f);
  int oq = 0;
  for (const auto& it : Items(po)) oq += it.Kind == 2;
  EXPECT_GT(oq, 4);
  EXPECT_EQ(po.Items[0].Kind, 0);
}

TEST_F(VectorizerTest, LineMetricsAndOutlineFonts) {
  TLineMetrics m;
  v->GetLineMetrics(m, Font(u"Arial", 72));
  EXPECT_GT(m.Ascent, 60);
  EXPECT_GT(m.Descent, 10);
  EXPECT_LT(m.UnderlinePosition, 0);
  EXPECT_GT(m.UnderlineThickness, 0);
  EXPECT_GT(m.StrikeOutPosition, 0);
  EXPECT_TRUE(v->IsOutlineFont(Font(u"Arial", 12)));
}

TEST_F(VectorizerTest, WithoutFontsMetricsFallBackAndNothingIsOutline) {
  testsupport::ScopedFontBackend none(std::vector<std::string>{});
  TLineMetrics m;
  v->GetLineMetrics(m, Font(u"Arial", 72));
  EXPECT_FALSE(v->IsOutlineFont(Font(u"Arial", 12)));
  EXPECT_FLOAT_EQ(m.UnderlinePosition, -float(m.Descent) * 0.5f);
  EXPECT_FLOAT_EQ(m.UnderlineThickness, float(m.Descent) * 0.25f);
  EXPECT_FLOAT_EQ(m.StrikeOutPosition, float(m.Ascent - m.Descent) * 0.5f);
}
