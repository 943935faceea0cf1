// Coverage of the scan converter against the exact area of shapes in each
// pixel (polygon clipping per pixel), the fill rules, strokes, the path
// rules of the raster helper and degenerate input.
#include "text/kvRasterizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "imaging/kvBitmap.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/AssertionText.h"
#include "text/kvRasterizerTypes.h"
#include "text/kvRasterizerUtils.h"
#include "text/kvSvgUtils.h"

using namespace text;
using foundation::TFloatPoint;

namespace {

using Poly = std::vector<TFloatPoint>;

// Signed area of a polygon clipped to the unit pixel (px, py) (Sutherland-Hodgman).
double ClippedArea(const Poly& poly, int px, int py) {
  std::vector<std::pair<double, double>> p;
  for (auto q : poly) p.emplace_back(q.X, q.Y);
  auto clip = [&](auto inside, auto cross) {
    std::vector<std::pair<double, double>> out;
    for (size_t i = 0; i < p.size(); ++i) {
      auto a = p[i], b = p[(i + 1) % p.size()];
      const bool ia = inside(a), ib = inside(b);
      if (ia) out.push_back(a);
      if (ia != ib) out.push_back(cross(a, b));
    }
    p = out;
  };
  const double x0 = px, x1 = px + 1, y0 = py, y1 = py + 1;
  auto atX = [](double x) {
    return [x](std::pair<double, double> a, std::pair<double, double> b) {
      const double t = (x - a.first) / (b.first - a.first);
      return std::pair<double, double>{x, a.second + t * (b.second - a.second)};
    };
  };
  auto atY = [](double y) {
    return [y](std::pair<double, double> a, std::pair<double, double> b) {
      const double t = (y - a.second) / (b.second - a.second);
      return std::pair<double, double>{a.first + t * (b.first - a.first), y};
    };
  };
  clip([&](auto a) { return a.first >= x0; }, atX(x0));
  clip([&](auto a) { return a.first <= x1; }, atX(x1));
  clip([&](auto a) { return a.second >= y0; }, atY(y0));
  clip([&](auto a) { return a.second <= y1; }, atY(y1));
  double s = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    auto a = p[i], b = p[(i + 1) % p.size()];
    s += a.first * b.second - b.first * a.second;
  }
  return s / 2;
}

// Collects the coverage the rasterizer reports.
struct Grid {
  int w, h;
  std::vector<int> cov;
  Grid(int w_, int h_) : w(w_), h(h_), cov(size_t(w_ * h_), 0) {}
  int& at(int x, int y) { return cov[size_t(y * w + x)]; }
};

Grid Rasterize(const std::vector<Poly>& contours, int w, int h, bool evenOdd) {
  Grid g(w, h);
  auto* outline = new TOutline();
  auto* r = new TRasterizer();
  int lastRow = -1;
  outline->OnSpan = [&](int32_t row, int32_t first, int32_t last, const int16_t* c) {
    EXPECT_GE(row, lastRow) << "rows come top to bottom";
    EXPECT_GE(row, 0);
    EXPECT_LT(row, h);
    EXPECT_GE(first, 0);
    EXPECT_LT(last, w);
    lastRow = row;
    for (int x = first; x <= last; ++x) {
      EXPECT_GT(c[x], 0);
      g.at(x, row) += c[x];
    }
  };
  outline->Reset();
  outline->EvenOdd = evenOdd;
  for (const auto& c : contours) {
    outline->MoveTo(c[0]);
    for (size_t i = 1; i < c.size(); ++i) outline->AddPoint(c[i]);
  }
  r->Rasterize(outline, w, h);
  r->Free();
  outline->Free();
  return g;
}

// Exact coverage (0..256) of the union; Signs: per contour +1 adds, -1 subtracts its area.
std::vector<double> Exact(const std::vector<Poly>& contours, const std::vector<int>& signs, int w, int h) {
  std::vector<double> e(size_t(w * h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double a = 0;
      for (size_t i = 0; i < contours.size(); ++i) a += signs[i] * std::fabs(ClippedArea(contours[i], x, y));
      e[size_t(y * w + x)] = a * 256;
    }
  return e;
}

Poly Rect(float x, float y, float w, float h) { return {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}; }
Poly Reversed(Poly p) { return Poly(p.rbegin(), p.rend()); }
Poly Rotated(const Poly& p, float cx, float cy, double deg) {
  const double a = deg * M_PI / 180;
  Poly out;
  for (auto q : p)
    out.push_back({float(cx + (q.X - cx) * std::cos(a) - (q.Y - cy) * std::sin(a)),
                   float(cy + (q.X - cx) * std::sin(a) + (q.Y - cy) * std::cos(a))});
  return out;
}
Poly Circle(float cx, float cy, float r, int n) {
  Poly p;
  for (int i = 0; i < n; ++i) p.push_back({float(cx + r * std::cos(2 * M_PI * i / n)), float(cy + r * std::sin(2 * M_PI * i / n))});
  return p;
}

// A cubic or quadratic outline flattened into its chords (the chords are
// the figure the rasterizer sees; their slopes take every value).
Poly CubicCircle(float cx, float cy, float r) {
  const float k = 0.5523f * r;
  const TFloatPoint q[13] = {{cx + r, cy},     {cx + r, cy + k}, {cx + k, cy + r}, {cx, cy + r}, {cx - k, cy + r},
                             {cx - r, cy + k}, {cx - r, cy},     {cx - r, cy - k}, {cx - k, cy - r}, {cx, cy - r},
                             {cx + k, cy - r}, {cx + r, cy - k}, {cx + r, cy}};
  Poly p{q[0]};
  for (int i = 0; i < 12; i += 3) FlattenCubic(q[i], q[i + 1], q[i + 2], q[i + 3], [&](TFloatPoint v) { p.push_back(v); });
  return p;
}
Poly QuadraticPetal(float x, float y, float w, float h) {
  Poly p{{x, y}};
  FlattenQuadratic({x, y}, {x + w * 0.9f, y - h * 0.7f}, {x + w, y + h}, [&](TFloatPoint v) { p.push_back(v); });
  FlattenQuadratic({x + w, y + h}, {x + w * 0.1f, y + h * 1.3f}, {x, y}, [&](TFloatPoint v) { p.push_back(v); });
  return p;
}

struct Case {
  const char* name;
  std::vector<Poly> contours;
  std::vector<int> signs;
  bool evenOdd;
  int w = 32, h = 32;
};

}  // namespace

// The coverage is the exact area of the figure in each pixel for any edge,
// within 1/255 (the rounding to 256ths and float arithmetic): slanted edges
// at arbitrary positions, curves, holes under both rules, shapes cut by
// every border of the target, edges from far outside, and a target wide
// enough that its rows are handed out in several bands.
TEST(RasterizerCoverage, MatchesExactAreaOfShapes) {
  const Poly square = Rect(4.25f, 3.5f, 20.5f, 17.75f);
  const Poly odd = Rect(5.137f, 4.911f, 19.42f, 16.063f);
  const Poly tri = {{3.3f, 28.1f}, {27.9f, 2.2f}, {29.4f, 30.6f}};
  const Poly sliver = {{0.7f, 10.2f}, {31.3f, 11.9f}, {1.1f, 10.9f}};    // nearly horizontal edges
  const Poly needle = {{15.1f, 0.3f}, {15.9f, 31.6f}, {15.4f, 31.2f}};   // nearly vertical ones
  const Poly inner = Rect(10, 10, 8, 6);
  const Poly innerOdd = Rect(10.33f, 9.71f, 7.9f, 5.85f);
  const float far = 3e7f;
  const std::vector<Case> cases = {
      {"axis-aligned rectangle", {square}, {1}, false},
      {"rectangle, even-odd", {square}, {1}, true},
      {"rectangle off the sixteenths rotated 30 degrees", {Rotated(odd, 16, 16, 30)}, {1}, false},
      {"rectangle rotated -71 degrees, even-odd", {Rotated(odd, 16.2f, 15.9f, -71)}, {1}, true},
      {"rectangle rotated 3.7 degrees", {Rotated(odd, 16, 16, 3.7)}, {1}, false},
      {"triangle", {tri}, {1}, false},
      {"triangle given counter-clockwise", {Reversed(tri)}, {1}, false},
      {"sliver of nearly horizontal edges", {sliver}, {1}, false},
      {"needle of nearly vertical edges, even-odd", {needle}, {1}, true},
      {"circle of 360 sides", {Circle(16.3f, 15.7f, 12.4f, 360)}, {1}, false},
      {"circle from cubics", {CubicCircle(15.77f, 16.21f, 13.1f)}, {1}, false},
      {"petal from quadratics, even-odd", {QuadraticPetal(3.4f, 6.1f, 25.3f, 19.2f)}, {1}, true},
      {"hole by opposite direction, non-zero", {square, Reversed(inner)}, {1, -1}, false},
      {"hole by same direction, even-odd", {square, inner}, {1, -1}, true},
      {"rotated ring with hole", {Rotated(odd, 16, 16, 12), Rotated(Reversed(innerOdd), 16, 16, 12)}, {1, -1}, false},
      {"rotated ring, same direction, even-odd", {Rotated(odd, 16, 16, -23), Rotated(innerOdd, 16, 16, -23)}, {1, -1}, true},
      {"cubic circle with a cubic hole, even-odd", {CubicCircle(16, 16, 14.3f), CubicCircle(16.4f, 15.2f, 6.6f)}, {1, -1}, true},
      {"shape partly outside the target", {Rect(-5.5f, -7.25f, 20, 50)}, {1}, false},
      {"rotated shape cut by all four borders", {Rotated(Rect(-6.3f, -4.1f, 44.2f, 40.7f), 16, 16, 17)}, {1}, false},
      {"slanted edges from far outside", {{{-far, -far * 0.37f}, {far, 9.3f}, {13.7f, far}}}, {1}, false},
      {"wide target handed out in bands", {Rotated(Rect(3.3f, 2.7f, 2990.4f, 18.9f), 1500, 12, 0.21)}, {1}, false, 3000, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Grid g = Rasterize(c.contours, c.w, c.h, c.evenOdd);
    const auto e = Exact(c.contours, c.signs, c.w, c.h);
    double maxErr = 0, total = 0;
    for (int i = 0; i < c.w * c.h; ++i) {
      maxErr = std::max(maxErr, std::fabs(g.cov[size_t(i)] - e[size_t(i)]));
      total += e[size_t(i)];
    }
    EXPECT_LE(maxErr, 256.0 / 255.0);
    EXPECT_GT(total, 256.0 * 5) << "the shape reaches into the target";
  }
}

TEST(RasterizerCoverage, FillRules) {
  const Poly a = Rect(2, 2, 10, 10);
  // Coincident opposite figures cancel under non-zero.
  Grid cancel = Rasterize({a, Reversed(a)}, 16, 16, false);
  for (int v : cancel.cov) EXPECT_EQ(v, 0);
  // A figure inside another of the same direction: filled under non-zero, a hole under even-odd.
  const Poly in = Rect(5, 5, 3, 3);
  Grid nz = Rasterize({a, in}, 16, 16, false);
  Grid eo = Rasterize({a, in}, 16, 16, true);
  EXPECT_EQ(nz.at(6, 6), 256);
  EXPECT_EQ(eo.at(6, 6), 0);
  EXPECT_EQ(eo.at(3, 3), 256);
  EXPECT_EQ(nz.at(12, 6), 0);
  // Three nested figures of one direction, the inner two starting half-way
  // into a pixel: windings 1, 2 and 3. Pixel (x, 8) below lies half in each
  // of two windings, so even-odd covers the half with the odd one.
  const Poly mid = Rect(4.5f, 4, 7.5f, 8), core = Rect(7.5f, 6, 3, 4);
  Grid nz3 = Rasterize({a, mid, core}, 16, 16, false);
  Grid eo3 = Rasterize({a, mid, core}, 16, 16, true);
  const struct {
    int x, y, nonZero, evenOdd;
  } pixels[] = {
      {3, 8, 256, 256},  // winding 1
      {4, 8, 256, 128},  // half winding 1, half winding 2
      {6, 8, 256, 0},    // winding 2
      {7, 8, 256, 128},  // half winding 2, half winding 3
      {8, 8, 256, 256},  // winding 3
      {9, 3, 256, 256},  // winding 1 above the middle figure
  };
  for (const auto& p : pixels) {
    EXPECT_EQ(nz3.at(p.x, p.y), p.nonZero) << p.x << "," << p.y;
    EXPECT_EQ(eo3.at(p.x, p.y), p.evenOdd) << p.x << "," << p.y;
  }
}

TEST(RasterizerCoverage, HalfPixelEdgesAndNeighbours) {
  Grid g = Rasterize({Rect(0.5f, 1, 3, 2)}, 8, 8, false);
  EXPECT_EQ(g.at(0, 1), 128);
  EXPECT_EQ(g.at(1, 1), 256);
  EXPECT_EQ(g.at(3, 2), 128);
  EXPECT_EQ(g.at(4, 1), 0);
  EXPECT_EQ(g.at(1, 0), 0);
  EXPECT_EQ(g.at(1, 3), 0);
}

// Edges from one clamp (-2^26 pixels) to the other keep their direction
// and fill exactly the strip between them; coordinates beyond the clamp,
// infinite or not a number, are held at it.
TEST(RasterizerCoverage, EdgesSpanningTheClampKeepTheirDirection) {
  const float big = 67108864.0f;
  // A tall thin band from -2^26 to +2^26 in y, x from 4 to 6.
  Grid g = Rasterize({{{4, -big}, {6, -big}, {6, big}, {4, big}}}, 16, 8, false);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) EXPECT_EQ(g.at(x, y), (x == 4 || x == 5) ? 256 : 0) << x << "," << y;
  EXPECT_EQ(OutlineCoord(big), MaxOutlineCoord);
  EXPECT_EQ(OutlineCoord(-big), -MaxOutlineCoord);
  EXPECT_EQ(OutlineCoord(std::numeric_limits<float>::infinity()), MaxOutlineCoord);
  EXPECT_EQ(OutlineCoord(std::nanf("")), -MaxOutlineCoord);
  EXPECT_EQ(OutlineCoord(12.3f), 12.3f);
}

class RasterHelperTest : public ::testing::Test {
 protected:
  void SetUp() override { h = new TRasterHelper(); }
  void TearDown() override {
    if (h->Painting()) h->EndPaint()->Free();
    h->Free();
  }
  // Paints with opaque white over transparent black and answers the alpha grid.
  std::vector<int> Alpha(int w, int hh) {
    imaging::TBitmap* b = h->EndPaint();
    auto* d = dynamic_cast<imaging::TDirectBitmap*>(b);
    std::vector<int> out;
    for (int y = 0; y < hh; ++y)
      for (int x = 0; x < w; ++x) out.push_back(d->Row32(y)[x].A);
    b->Free();
    return out;
  }
  TRasterHelper* h = nullptr;
};

TEST_F(RasterHelperTest, PathRules) {
  struct Row {
    const char* name;
    std::vector<TPathItem> items;
    bool result;
  };
  const std::vector<Row> rows = {
      {"begins with a line", {{1, 1, 1}, {5, 1, 1}, {5, 5, 1}}, false},
      {"line right after a close", {{1, 1, 0}, {5, 1, 1}, {5, 5, 1}, {0, 0, 9}, {1, 5, 1}}, false},
      {"quadratic as the last item", {{1, 1, 0}, {5, 1, 1}, {5, 5, 1}, {3, 8, 2}}, false},
      {"cubic lacking its end", {{1, 1, 0}, {5, 1, 1}, {5, 5, 3}, {3, 8, 2}}, false},
      {"x is not a number", {{1, 1, 0}, {std::nanf(""), 1, 1}, {5, 5, 1}}, false},
      {"well-formed", {{1, 1, 0}, {5, 1, 1}, {5, 5, 1}, {1, 5, 1}, {0, 0, 9}}, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TPath p;
    for (auto it : r.items) AddPathPoint(p, it.X, it.Y, it.Kind);
    // A good figure first: a failing path paints nothing, also before its fault.
    TPath withGood;
    AddRectToPath(withGood, 0, 0, 8, 8);
    AddPathPoint(withGood, 0, 0, 9);
    for (auto it : r.items) AddPathPoint(withGood, it.X, it.Y, it.Kind);
    h->BeginPaint(8, 8, 0);
    EXPECT_EQ(h->DrawPath(withGood, false), r.result);
    const auto a = Alpha(8, 8);
    int painted = 0;
    for (int v : a) painted += v != 0;
    EXPECT_EQ(painted != 0, r.result);
  }
  TPath bad;
  AddPathPoint(bad, 1, 1, 0);
  AddPathPoint(bad, 2, 2, 5);
  h->BeginPaint(4, 4, 0);
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { h->DrawPath(bad, false); }), u"Unknown Path Command");
}

TEST_F(RasterHelperTest, PaintLifecycleAssertions) {
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { h->BeginPaint(0, 5, 0); }), u"TRasterHelper.BeginPaint: W or H = 0");
  EXPECT_FALSE(h->Painting());
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { h->EndPaint(); }), u"No Previous Call of TRasterHelper.BeginPaint");
  h->BeginPaint(2, 2, 0);
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { h->BeginPaint(2, 2, 0); }),
            u"Previous TRasterHelper.BeginPaint not Closed");
  h->EndPaint()->Free();
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { h->BeginPaintOn(nullptr); }), u"ABitmap Parameter Not Assigned");
  auto* rgb = new imaging::TDirectBitmap(2, 2, imaging::pfR8G8B8);
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { h->BeginPaintOn(rgb); }), u"Ivalid ABitmap PixelFormat");
  rgb->Free();
}

TEST_F(RasterHelperTest, Strokes) {
  TPath seg;
  AddPathPoint(seg, 2, 4, 0);
  AddPathPoint(seg, 10, 4, 1);
  // Width 0.00005 draws nothing and succeeds.
  h->BeginPaint(12, 8, 0);
  EXPECT_TRUE(h->StrokePath(seg, 0.00005f, false));
  for (int v : Alpha(12, 8)) EXPECT_EQ(v, 0);
  // Mode 2: one rectangle of the pen width around the segment: (2, 3)-(10, 5).
  h->BeginPaint(12, 8, 0);
  EXPECT_TRUE(h->StrokePath(seg, 2, false));
  EXPECT_EQ(h->StrokeMode, 0);
  auto a = Alpha(12, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x) EXPECT_EQ(a[size_t(y * 12 + x)], (x >= 2 && x < 10 && y >= 3 && y < 5) ? 255 : 0);
  // Mode 1: each side a separate contour of zero area.
  h->BeginPaint(12, 8, 0);
  EXPECT_TRUE(h->StrokePath(seg, 2, true));
  for (int v : Alpha(12, 8)) EXPECT_EQ(v, 0);
  // A closed square outline in mode 1 leaves a ring of the pen width.
  TPath sq;
  AddRectToPath(sq, 4, 4, 8, 8);
  h->BeginPaint(16, 16, 0);
  EXPECT_TRUE(h->StrokePath(sq, 2, true));
  a = Alpha(16, 16);
  EXPECT_EQ(a[size_t(4 * 16 + 8)], 255);   // on the top side
  EXPECT_EQ(a[size_t(3 * 16 + 8)], 255);   // half the pen outside it
  EXPECT_EQ(a[size_t(8 * 16 + 8)], 0);     // the middle stays empty
  EXPECT_EQ(a[size_t(1 * 16 + 8)], 0);
}

TEST_F(RasterHelperTest, CompositesColourWithCoverage) {
  TPath p;
  AddRectToPath(p, 0.5f, 0, 2, 1);
  h->BeginPaint(4, 1, 0xFF000000u);  // opaque black
  h->Color = 0xFFFF0000u;           // opaque red
  ASSERT_TRUE(h->DrawPath(p, false));
  auto* b = dynamic_cast<imaging::TDirectBitmap*>(h->EndPaint());
  const auto* px = b->Row32(0);
  EXPECT_EQ(px[0].R, 126);  // coverage 128: alpha 255 x 128 shr 8 = 127, over black 255 x 127 shr 8
  EXPECT_EQ(px[1].R, 255);
  EXPECT_EQ(px[3].R, 0);
  EXPECT_EQ(px[1].A, 255);
  b->Free();
  // A red-first bitmap gets red in its red byte.
  auto* abgr = new imaging::TDirectBitmap(2, 1, imaging::pfA8B8G8R8);
  for (int x = 0; x < 2; ++x) reinterpret_cast<uint32_t*>(abgr->Row(0))[x] = 0;
  h->BeginPaintOn(abgr);
  TPath all;
  AddRectToPath(all, 0, 0, 2, 1);
  ASSERT_TRUE(h->DrawPath(all, false));
  EXPECT_EQ(h->EndPaint(), abgr);
  EXPECT_EQ(abgr->Row(0)[0], 255);  // red is the first byte of A8B8G8R8
  EXPECT_EQ(abgr->Row(0)[2], 0);
  abgr->Free();
}

TEST_F(RasterHelperTest, DegenerateInputDrawsNothingAndStaysInside) {
  // Guard rows around the target catch writes beyond it.
  struct Row {
    const char* name;
    std::vector<TPathItem> items;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<Row> rows = {
      {"empty", {}},
      {"all edges horizontal", {{0, 2, 0}, {8, 2, 1}, {3, 2, 1}}},
      {"a single move", {{3, 3, 0}}},
      {"huge square around nothing", {{-1e30f, -1e30f, 0}, {-1e30f, -1e29f, 1}, {-1e29f, -1e29f, 1}}},
      {"infinite cubic far left", {{-inf, 0, 0}, {-inf, 100, 3}, {-1e20f, 1e20f, 2}, {-inf, 5, 1}}},
      {"huge cubic far below", {{0, 1e9f, 0}, {1e9f, 1e9f, 3}, {-1e9f, 3e9f, 2}, {0, 2e9f, 1}}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    TPath p;
    for (auto it : r.items) AddPathPoint(p, it.X, it.Y, it.Kind);
    h->BeginPaint(8, 8, 0);
    EXPECT_TRUE(h->DrawPath(p, false));
    for (int v : Alpha(8, 8)) EXPECT_EQ(v, 0);
  }
  // A huge triangle covering the target fills it fully and nothing else.
  TPath huge;
  AddPathPoint(huge, -1e12f, -1e12f, 0);
  AddPathPoint(huge, 1e12f, -1e12f, 1);
  AddPathPoint(huge, 0, 1e12f, 1);
  auto* bmp = new imaging::TDirectBitmap(8, 8, imaging::pfA8R8G8B8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) reinterpret_cast<uint32_t*>(bmp->Row(y))[x] = 0;
  h->BeginPaintOn(bmp);
  EXPECT_TRUE(h->DrawPath(huge, false));
  h->EndPaint();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(bmp->Row32(y)[x].A, 255);
  bmp->Free();
  // A huge circle by cubics with its centre in the target.
  TPath circle;
  const float r = 3e7f, k = 0.5523f * r, cx = 4, cy = 4;
  AddPathPoint(circle, cx + r, cy, 0);
  AddPathPoint(circle, cx + r, cy + k, 3);
  AddPathPoint(circle, cx + k, cy + r, 2);
  AddPathPoint(circle, cx, cy + r, 1);
  AddPathPoint(circle, cx - k, cy + r, 3);
  AddPathPoint(circle, cx - r, cy + k, 2);
  AddPathPoint(circle, cx - r, cy, 1);
  AddPathPoint(circle, cx - r, cy - k, 3);
  AddPathPoint(circle, cx - k, cy - r, 2);
  AddPathPoint(circle, cx, cy - r, 1);
  AddPathPoint(circle, cx + k, cy - r, 3);
  AddPathPoint(circle, cx + r, cy - k, 2);
  AddPathPoint(circle, cx + r, cy, 1);
  h->BeginPaint(8, 8, 0);
  EXPECT_TRUE(h->DrawPath(circle, false));
  for (int v : Alpha(8, 8)) EXPECT_EQ(v, 255);
}

TEST(PathBuilders, ShapesAndCapacity) {
  TPath p;
  EXPECT_EQ(AllocPathItem(p), 0);
  EXPECT_EQ(p.Items.size(), 16u);
  p.Count = 16;
  AllocPathItem(p);
  EXPECT_EQ(p.Items.size(), 32u);
  // A frame filled with either rule leaves only its ring.
  for (bool eo : {false, true}) {
    TPath f;
    AddFrameToPath(f, 4, 4, 8, 8, 1);
    auto* h = new TRasterHelper();
    h->BeginPaint(16, 16, 0);
    ASSERT_TRUE(h->DrawPath(f, eo));
    auto* b = dynamic_cast<imaging::TDirectBitmap*>(h->EndPaint());
    EXPECT_EQ(b->Row32(4)[8].A, 255);
    EXPECT_EQ(b->Row32(3)[8].A, 255);
    EXPECT_EQ(b->Row32(5)[8].A, 0);
    EXPECT_EQ(b->Row32(8)[8].A, 0);
    EXPECT_EQ(b->Row32(2)[8].A, 0);
    b->Free();
    h->Free();
  }
  TPath rr;
  AddRoundRectToPath(rr, 0, 0, 10, 6, 2);
  ASSERT_EQ(rr.Count, 13);
  EXPECT_EQ(rr.Items[0].Kind, 0);
  EXPECT_EQ(rr.Items[2].Kind, 2);
  EXPECT_EQ(rr.Items[3].Kind, 2);
  EXPECT_FLOAT_EQ(rr.Items[12].X, 2);
  EXPECT_FLOAT_EQ(rr.Items[12].Y, 0);
}
