#include "imaging/ShadowGenerator2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/DropShadow2.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kpShadowProducer2.h"

using namespace imaging;
using foundation::TRef;

namespace {

TShadowParams Params200x100() {
  TShadowParams p;
  p.Rect = {0, 0, 200, 100};
  p.Margin = {16, 16};
  p.SourceAlpha = 0;
  p.ShadowSize = 16;
  p.ShadowSpreadIndex = 0;
  p.GradientKind = 8;
  p.ColorAlpha = p.Color2Alpha = 255;
  return p;
}

TEST(ShadowKeys, BuildsTheDocumentedText) {
  TShadowParams p = Params200x100();
  EXPECT_EQ(BuildShadowKey(p), u"Shadow: 0:0:200:100:16:16:0:16:0:8:255:255:0");
  p.Rect = {0.25f, 1.5f, 12.5f, 3.0f};
  p.ShadowSize = 1.3333f;
  p.Margin = {-2.125f, 0.004f};
  EXPECT_EQ(BuildShadowKey(p), u"Shadow: 0.25:1.5:12.5:3:-2.12:0:0:1.33:0:8:255:255:0");
  const std::u16string full = GetShadowResourceKey(p);
  EXPECT_EQ(full, p.Key + u":N\\A");
}

TEST(ShadowKeys, RoundTripAndEquality) {
  std::vector<TShadowParams> sets;
  sets.push_back(Params200x100());
  TShadowParams q;
  q.Rect = {3, 4, 1280.5f, 720.25f};
  q.Margin = {0.5f, 7};
  q.SourceAlpha = 77;
  q.ShadowSize = 33.75f;
  q.ShadowSpreadIndex = 9;
  q.GradientKind = 3;
  q.ColorAlpha = 12;
  q.Color2Alpha = 200;
  q.MipLevel = 2;
  q.SourceKey = u"Button: skin:1:2:3";
  sets.push_back(q);
  for (TShadowParams p : sets) {
    TShadowParams copy = p;
    EXPECT_EQ(BuildShadowKey(p), BuildShadowKey(copy));
    TShadowParams back;
    back.Key = u"stale";
    ParseShadowKey(GetShadowResourceKey(p), back);
    EXPECT_TRUE(back.Key.empty());
    EXPECT_EQ(back.Rect.Left, p.Rect.Left);
    EXPECT_EQ(back.Rect.Top, p.Rect.Top);
    EXPECT_EQ(back.Rect.Right, p.Rect.Right);
    EXPECT_EQ(back.Rect.Bottom, p.Rect.Bottom);
    EXPECT_EQ(back.Margin.X, p.Margin.X);
    EXPECT_EQ(back.Margin.Y, p.Margin.Y);
    EXPECT_EQ(back.SourceAlpha, p.SourceAlpha);
    EXPECT_EQ(back.ShadowSize, p.ShadowSize);
    EXPECT_EQ(back.ShadowSpreadIndex, p.ShadowSpreadIndex);
    EXPECT_EQ(back.GradientKind, p.GradientKind);
    EXPECT_EQ(back.ColorAlpha, p.ColorAlpha);
    EXPECT_EQ(back.Color2Alpha, p.Color2Alpha);
    EXPECT_EQ(back.MipLevel, p.MipLevel);
    EXPECT_EQ(back.SourceKey, p.SourceKey);
    EXPECT_EQ(BuildShadowKey(back), BuildShadowKey(p));
  }
  TShadowParams a = sets[0], b = sets[0];
  b.SetSize(16.5f);
  EXPECT_NE(BuildShadowKey(a), BuildShadowKey(b));
}

TEST(ShadowKeys, ParsesDefaultsAndColonsInTheSource) {
  TShadowParams p;
  ParseShadowKey(u"Shadow: 0:0:10:20:1:2:x:3:1:y:9:8:0:Button: a:b:c:d", p);
  EXPECT_EQ(p.SourceAlpha, 255);
  EXPECT_EQ(p.GradientKind, 8);
  EXPECT_EQ(p.ShadowSize, 3);
  EXPECT_EQ(p.Rect.Bottom, 20);
  EXPECT_EQ(p.SourceKey, u"Button: a:b:c:d");
  // Fewer fields leave the rest as they were; bad numbers give 0.
  TShadowParams q = Params200x100();
  ParseShadowKey(u"Shadow: 1:zz:3", q);
  EXPECT_EQ(q.Rect.Left, 1);
  EXPECT_EQ(q.Rect.Top, 0);
  EXPECT_EQ(q.Rect.Right, 3);
  EXPECT_EQ(q.Rect.Bottom, 100);
  EXPECT_EQ(q.ShadowSize, 16);
  for (const char16_t* junk : {u"", u"Sha", u"Shadow: ", u":::::::::::::::::", u"Shadow: 1e999:nan:inf:-0"}) {
    TShadowParams r;
    ParseShadowKey(junk, r);
    EXPECT_TRUE(std::isfinite(r.Rect.Left) && std::isfinite(r.Rect.Top) && std::isfinite(r.Rect.Right));
  }
}

TEST(ShadowKeys, SettersKeepTheKeyForEqualValues) {
  TShadowParams p = Params200x100();
  GetShadowResourceKey(p);
  const std::u16string key = p.Key;
  p.SetRect({0, 0, 200, 100});
  p.SetMargin({16, 16});
  p.SetSize(16);
  p.SetSourceAlpha(0);
  p.SetSpreadIndex(0);
  p.SetColorAlpha(255);
  p.SetColor2Alpha(255);
  p.SetSourceBits(8);
  p.SetMipLevel(0);
  EXPECT_EQ(p.Key, key);
  p.SetMipLevel(1);
  EXPECT_TRUE(p.Key.empty());
}

TEST(ShadowParams, NormaliseAndReduce) {
  TShadowParams p;
  p.Rect = {0, 0, 400, 100};
  ASSERT_TRUE(NormaliseShadowParams(p));
  EXPECT_EQ(p.Rect.Right, 400);
  EXPECT_EQ(p.Rect.Bottom, 100);
  p.Rect = {0, 0, 800, 200};
  ASSERT_TRUE(NormaliseShadowParams(p));
  EXPECT_EQ(p.Rect.Right, 400);
  EXPECT_EQ(p.Rect.Bottom, 100);
  p.Rect = {0, 0, 0, 50};
  EXPECT_FALSE(NormaliseShadowParams(p));
  EXPECT_EQ(p.Rect.Bottom, 50);
  p.Rect = {1, 0, 10, 10};
  EXPECT_THROW(NormaliseShadowParams(p), foundation::EAssertionFailed);

  struct Case {
    float w, h;
    int level;
  };
  const Case cases[] = {{800, 800, 0}, {1000, 1000, 1}, {20000, 10, 1}, {20001, 10, 2}, {10000, 70, 0}, {0, 0, 0}};
  for (const auto& c : cases) {
    float w = c.w, h = c.h;
    int32_t level;
    const float f = ReduceShadowSize(w, h, level);
    EXPECT_EQ(level, c.level) << c.w << "x" << c.h;
    EXPECT_EQ(f, float(1 << c.level));
    EXPECT_EQ(w, c.w / f);
  }
  float w = std::numeric_limits<float>::infinity(), h = 5;
  EXPECT_EQ(ReduceShadowSize(w, h), 1.0f);
}

// An image of Width x Height in Format, for the loader and the shadow objects.
TImage* ImageOf(int w, int h, TPixelFormat* f, uint8_t alpha = 255) {
  TSysBitmap* b = CreateSysBitmap(w, h, f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < f->BytesPerPixel; ++c) b->Row(y)[x * f->BytesPerPixel + c] = c == 3 ? alpha : 0;
  return WrapBitmapAsImage(b, true, u"img");
}

TEST(ShadowObjects, CreateNamesTheSourceAndTheSize) {
  std::vector<std::u16string> asked;
  TShadowImageLoader loader = [&](const std::u16string& key) {
    asked.push_back(key);
    return ImageOf(4, 4, pfA8R8G8B8);
  };
  TShadowParams p = Params200x100();
  TImage* rgb = ImageOf(2, 2, pfR8G8B8);
  TImage* argb = ImageOf(2, 2, pfA8R8G8B8);
  TShadow* a = CreateShadow(rgb, u"pic.png", p, 2, loader);
  EXPECT_EQ(asked.back(), u"Shadow: 0:0:200:100:16:16:0:32:0:8:255:255:0:N\\A");
  EXPECT_EQ(a->Params.SourceKey, u"N\\A");
  EXPECT_EQ(a->Params.ShadowSize, 16);
  EXPECT_TRUE(a->Params.Key.empty());
  ASSERT_NE(a->Image, nullptr);
  TShadow* b = CreateShadow(argb, u"pic.png", p, 1, loader);
  EXPECT_EQ(asked.back(), u"Shadow: 0:0:200:100:16:16:0:16:0:8:255:255:0:pic.png");
  p.IgnoreSource = true;
  TShadow* c = CreateShadow(argb, u"pic.png", p, 1, loader);
  EXPECT_EQ(c->Params.SourceKey, u"N\\A");
  EXPECT_TRUE(b->Matches(b->Params));
  TShadowParams other = Params200x100();
  EXPECT_FALSE(c->Matches(other)) << "IgnoreSource differs";
  EXPECT_TRUE(a->Matches(other));
  other.SetSize(17);
  EXPECT_FALSE(a->Matches(other));
  for (auto* o : {a, b, c}) o->Free();
  rgb->Free();
  argb->Free();
}

TEST(ShadowObjects, NormalisedShadows) {
  std::u16string asked;
  TShadowImageLoader loader = [&](const std::u16string& key) {
    asked = key;
    return ImageOf(4, 4, pfA8R8G8B8);
  };
  TShadowParams p;
  p.Rect = {0, 0, 800, 200};
  p.ShadowSize = 40;
  TShadow* s = CreateNormalisedShadow(p, loader);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Normalised);
  // Normalised to 400 x 100; size sqrt(400 x 100) x 40 / 400 = 20.
  EXPECT_EQ(asked, u"Shadow: 0:0:400:100:0:0:0:20:0:8:255:255:0:N\\A");
  TShadowParams bigger = p;
  bigger.Rect = {0, 0, 1600, 400};
  EXPECT_TRUE(s->Matches(bigger));
  EXPECT_FALSE(bigger.NormalisedKey.empty());
  TShadowParams other = p;
  other.Rect = {0, 0, 100, 100};
  EXPECT_FALSE(s->Matches(other));
  s->Free();
  p.Rect = {0, 0, 0, 0};
  EXPECT_EQ(CreateNormalisedShadow(p, loader), nullptr);
}

struct RecordingDrawer : IShadowDrawer {
  struct Call {
    TImage* image;
    T3DPoint origin;
    TFloatPoint offset;
    T3DPoint xs, ys;
    TImageDrawParams params;
  };
  std::vector<Call> calls;
  int prepared = 0;
  void PrepareImageTexture(TImage*, const TImageDrawParams&) override { ++prepared; }
  void DrawImage(TImage* i, T3DPoint o, TFloatPoint off, T3DPoint xs, T3DPoint ys,
                 const TImageDrawParams& p) override {
    calls.push_back({i, o, off, xs, ys, p});
  }
};

TEST(ShadowObjects, DrawPlacesTheImage) {
  auto* sh = new TShadow;
  sh->Params.Rect = {0, 0, 100, 50};
  sh->Params.Margin = {10, 10};
  sh->Image = ImageOf(140, 90, pfA8R8G8B8);
  sh->DistanceScale = 2;
  RecordingDrawer d;
  const uint8_t colour[3] = {10, 20, 30};
  sh->Draw(&d, {5, 6, 0}, {2, 4}, {1, 0, 0}, {0, 1, 0}, 10, 90, 0, colour);
  EXPECT_TRUE(d.calls.empty()) << "opacity 0 draws nothing";
  sh->PrepareTexture(&d);
  EXPECT_EQ(d.prepared, 1);
  sh->Draw(&d, {5, 6, 0}, {2, 4}, {1, 0, 0}, {0, 1, 0}, 10, 90, 50, colour);
  ASSERT_EQ(d.calls.size(), 1u);
  const auto& c = d.calls[0];
  // d = sqrt(1 x 1) x 2 x 10 / 100 = 0.2 straight down; the image is 20 wider
  // and higher than 120 x 70, so the origin moves back by 10 each way.
  EXPECT_NEAR(c.origin.X, -5, 1e-5);
  EXPECT_NEAR(c.origin.Y, -3.8, 1e-5);
  EXPECT_EQ(c.origin.Z, 0);
  EXPECT_EQ(c.offset.X, 2);
  EXPECT_EQ(c.xs.X, 1);
  EXPECT_EQ(c.ys.Y, 1);
  EXPECT_EQ(c.params.Opacity, 50);
  EXPECT_EQ(c.params.ColorFlag, 1);
  EXPECT_EQ(c.params.Color[2], 30);
  // In the object's plane, at mip level 1: m = 2; axes (2, 0, 1) and (0, 3, 0).
  sh->Params.PlaneOffset = true;
  sh->Params.MipLevel = 1;
  sh->Draw(&d, {0, 0, 0}, {2, 4}, {2, 0, 1}, {0, 3, 0}, 100, 0, 100, colour);
  const auto& e = d.calls[1];
  const double dist = std::sqrt(2.0 * 3.0) * 2 * 100 / 100;  // L counts x and y only
  EXPECT_NEAR(e.origin.X, 2 * dist - 2 * 2 * 10, 1e-4);      // bx = m (140 - 120) / 2 = 20 along (2, 0, 1)
  EXPECT_NEAR(e.origin.Z, dist - 2 * 10, 1e-4);
  EXPECT_NEAR(e.origin.Y, -3 * 2 * 10, 1e-4);
  EXPECT_EQ(e.xs.X, 4);
  EXPECT_EQ(e.offset.X, 1);
  sh->Free();
}

// ---- rendering ----

TEST(ShadowRendering, GradientKinds) {
  auto c = TRef<TSysBitmap>::Adopt(CreateSysBitmap(2, 3, pfA8R8G8B8));
  FillShadowGradient(c.Get(), nullptr, 0, 255, 5);
  EXPECT_EQ(c->Row(0)[3], 170);
  EXPECT_EQ(c->Row(1)[3], 85);
  EXPECT_EQ(c->Row(2)[7], 0);
  EXPECT_EQ(c->Row(0)[0], 0);
  auto one = TRef<TSysBitmap>::Adopt(CreateSysBitmap(3, 1, pfA8R8G8B8));
  FillShadowGradient(one.Get(), nullptr, 40, 200, 4);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(one->Row(0)[4 * x + 3], 40);
  // Kind 3 on 4 x 3 from 200 to 0: 200 - 200 (x + y) div 7, truncated toward zero.
  auto k = TRef<TSysBitmap>::Adopt(CreateSysBitmap(4, 3, pfA8R8G8B8));
  FillShadowGradient(k.Get(), nullptr, 200, 0, 3);
  EXPECT_EQ(k->Row(0)[3], 200);
  EXPECT_EQ(k->Row(1)[4 * 1 + 3], 200 - 400 / 7);
  EXPECT_EQ(k->Row(2)[4 * 3 + 3], 200 - 1000 / 7);
  FillShadowGradient(k.Get(), nullptr, 9, 0, 8);
  EXPECT_EQ(k->Row(2)[4 * 3 + 3], 9);
  FillShadowGradient(k.Get(), nullptr, 1, 2, 9);  // unknown kind: unchanged
  EXPECT_EQ(k->Row(2)[4 * 3 + 3], 9);
}

TEST(ShadowRendering, CanvasWithoutSource) {
  auto gen = TRef<TShadowGenerator>::Adopt(new TShadowGenerator({}));
  TShadowParams p = Params200x100();
  p.SourceAlpha = 30;
  float s = 0;
  TSysBitmap* c = gen->MakeShadowCanvas(p, {}, s);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(s, 1);
  EXPECT_EQ(c->Width, 232);
  EXPECT_EQ(c->Height, 132);
  auto alpha = [&](int x, int y) { return c->Row(y)[4 * x + 3]; };
  EXPECT_EQ(alpha(0, 0), 30);
  EXPECT_EQ(alpha(15, 50), 30);
  EXPECT_EQ(alpha(16, 16), 255);
  EXPECT_EQ(alpha(215, 115), 255);
  EXPECT_EQ(alpha(216, 115), 30);
  EXPECT_EQ(c->Row(20)[4 * 20], 0);
  c->Free();
  p.Rect = {0, 0, 0, 0};
  p.Margin = {0, 0};
  EXPECT_EQ(gen->MakeShadowCanvas(p, {}, s), nullptr);
  p.Rect = {0, 0, std::numeric_limits<float>::quiet_NaN(), 5};
  EXPECT_EQ(gen->MakeShadowCanvas(p, {}, s), nullptr);
  EXPECT_EQ(gen->GenerateShadowImage(p, {}), nullptr);
}

TEST(ShadowRendering, CanvasFromASource) {
  auto gen = TRef<TShadowGenerator>::Adopt(new TShadowGenerator({}));
  TShadowParams p;
  p.Rect = {2, 1, 6, 4};
  p.Margin = {3, 2};
  p.SourceKey = u"src";
  TShadowImageLoader loader = [](const std::u16string& key) -> TImage* {
    if (key != u"src") return nullptr;
    TSysBitmap* b = CreateSysBitmap(8, 6, pfA8R8G8B8);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 8; ++x) std::memcpy(b->Row(y) + 4 * x, std::array<uint8_t, 4>{1, 2, 3, uint8_t(x * 10 + y)}.data(), 4);
    return WrapBitmapAsImage(b, true, u"src");
  };
  float s = 0;
  TSysBitmap* c = gen->MakeShadowCanvas(p, loader, s);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->Width, 10);
  EXPECT_EQ(c->Height, 7);
  EXPECT_EQ(c->Row(0)[3], 0);
  // Source pixel (2 + i, 1 + j) lands at (3 + i, 2 + j).
  EXPECT_EQ(c->Row(2)[4 * 3 + 3], 2 * 10 + 1);
  EXPECT_EQ(c->Row(4)[4 * 6 + 3], 5 * 10 + 3);
  EXPECT_EQ(c->Row(5)[4 * 6 + 3], 0);
  c->Free();
  // A rectangle beyond the source is cut to it.
  p.Rect = {5, 3, 500, 400};
  c = gen->MakeShadowCanvas(p, loader, s);
  ASSERT_NE(c, nullptr);
  c->Free();
}

// The blur written as a plain 1-D model of one row through the middle of a
// tall shape: pad 2.5 r, shrink with B-spline contributors (scale 1 / r),
// enlarge (scale r), reflecting at the borders; the vertical passes leave a
// row that is constant over the kernel's reach unchanged.
std::vector<double> PlainProfile(const std::vector<double>& row, double r) {
  auto bspline = [](double x) {
    const double a = std::fabs(x);
    if (a < 1) return 0.5 * a * a * a - a * a + 2.0 / 3;
    if (a < 2) return (2 - a) * (2 - a) * (2 - a) / 6;
    return 0.0;
  };
  auto reflect = [](long j, long n) {
    long k = j < 0 ? -j : (j < n ? j : 2 * n - j - 1);
    return std::clamp(k, 0L, n - 1);
  };
  const int pad = int(std::ceil(2.5 * r));
  std::vector<double> padded(row.size() + 2 * pad, 0.0);
  std::copy(row.begin(), row.end(), padded.begin() + pad);
  const long n = long(padded.size());
  const long m = long(std::nearbyint(n / r)) + 1;
  std::vector<double> reduced(m);
  for (long i = 0; i < m; ++i) {
    const double c = i * r, w = 2 * r;
    double sum = 0;
    for (long j = long(std::floor(c - w)); j <= long(std::ceil(c + w)); ++j) sum += padded[reflect(j, n)] * bspline((c - j) / r) / r;
    reduced[i] = std::clamp(sum, 0.0, 255.0);
  }
  std::vector<double> out(n);
  for (long i = 0; i < n; ++i) {
    const double c = i / r;
    double sum = 0;
    for (long j = long(std::floor(c - 2)); j <= long(std::ceil(c + 2)); ++j) sum += reduced[reflect(j, m)] * bspline(c - j);
    out[i] = std::clamp(sum, 0.0, 255.0);
  }
  return out;
}

TEST(ShadowRendering, BlurProfileOfAnEdge) {
  // A 60 x 80 shape, opaque on its left half; radius 4 (SetSize(3)).
  TSysBitmap* b = CreateSysBitmap(60, 80, pfA8R8G8B8);
  std::vector<double> row(60);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 60; ++x) {
      const uint8_t a = x < 30 ? 255 : 0;
      std::memcpy(b->Row(y) + 4 * x, std::array<uint8_t, 4>{0, 0, 0, a}.data(), 4);
      row[x] = a;
    }
  TImage* img = WrapBitmapAsImage(b, true, u"edge");
  auto producer = TRef<TShadowProducer>::Adopt(new TShadowProducer({}));
  producer->Radius = 3;
  producer->Color = 0xFFFFFFFFu;
  TImage* shadow = producer->Produce(img);
  ASSERT_NE(shadow, nullptr);
  auto* out = dynamic_cast<TSysBitmap*>(shadow->GetBitmap());
  ASSERT_NE(out, nullptr);
  const double r = 4;
  const int pad = 10;
  EXPECT_EQ(out->Width, 60 + 2 * pad);
  EXPECT_EQ(out->Height, 80 + 2 * pad);
  const auto want = PlainProfile(row, r);
  const int y = out->Height / 2;
  for (int x = 0; x < out->Width; ++x) {
    const uint8_t* p = out->Row(y) + 4 * x;
    EXPECT_NEAR(p[3], want[x], 1.5) << "x = " << x;
    EXPECT_EQ(p[0], 255);
  }
  // The half-way point of the edge sits at the shape's edge.
  EXPECT_NEAR(out->Row(y)[4 * (pad + 30) + 3], 128, 20);
  // The colour mapping: a half-transparent red halves the mask.
  producer->Color = 0x80FF0000u;
  TImage* red = producer->Produce(img);
  auto* rb = dynamic_cast<TSysBitmap*>(red->GetBitmap());
  auto* mask = producer->DropShadow->Mask;
  for (int x = 0; x < rb->Width; ++x) {
    const int m = mask->Row(y)[x];
    uint32_t v;
    std::memcpy(&v, rb->Row(y) + 4 * x, 4);
    const uint32_t want2 = m == 0 ? 0x00FF0000u : (m == 255 ? 0x80FF0000u : (0x00FF0000u | uint32_t(m * 128 / 255) << 24));
    EXPECT_EQ(v, want2) << x;
  }
  red->Free();
  shadow->Free();
  img->Free();
}

TEST(ShadowRendering, RadiusZeroAndTheContourTable) {
  auto ds = TRef<TDropShadow>::Adopt(new TDropShadow({}));
  EXPECT_EQ(ds->Radius, 3);
  auto src = TRef<TSysBitmap>::Adopt(CreateSysBitmap(5, 4, pfA8));
  for (int y = 0; y < 4; ++y) std::memset(src->Row(y), 255, 5);
  ds->SetSize(-1);
  ds->Make(src.Get());
  EXPECT_EQ(ds->Radius, 1);
  EXPECT_EQ(ds->Mask->Width, 5 + 6);
  EXPECT_EQ(ds->Mask->Height, 4 + 6);
  TCurvesData cone;
  cone.SetPreset(1);
  const auto t = MakeContourOutputTable(cone.Table);
  EXPECT_EQ(t[4095], 0);
  EXPECT_EQ(t[0], 0);
  TCurvesData linear;
  const auto id = MakeContourOutputTable(linear.Table);
  for (int i = 0; i < 4096; ++i) ASSERT_NEAR(id[i], i * 255.0 / 4095, 0.51) << i;
  // With the cone, the middle of a soft edge becomes the brightest part.
  ds->SetSize(3);
  ds->Curves->SetPreset(1);
  auto half = TRef<TSysBitmap>::Adopt(CreateSysBitmap(80, 60, pfA8));
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 80; ++x) half->Row(y)[x] = x < 40 ? 255 : 0;
  ds->Make(half.Get());
  const int mid = ds->Mask->Height / 2;
  EXPECT_LT(ds->Mask->Row(mid)[10 + 20], 10) << "deep inside: cone(255) = 0";
  EXPECT_GT(ds->Mask->Row(mid)[10 + 40], 220) << "at the edge: cone(128) = 255";
  EXPECT_GE(CapShadowRadius(1e30, 10, 10), 1.0);
  const double cap = CapShadowRadius(1e30, 10, 10);
  const double side = 10 + 2 * std::ceil(2.5 * cap);
  EXPECT_LE(side * side, double(MaxBitmapPixels));
  EXPECT_EQ(CapShadowRadius(20, 100, 100), 20);
}

TEST(ShadowRendering, GenerateFromAKey) {
  auto gen = TRef<TShadowGenerator>::Adopt(new TShadowGenerator({}));
  TShadowParams p;
  ParseShadowKey(u"Shadow: 0:0:40:20:4:4:0:3:0:8:255:255:0:N\\A", p);
  TImage* img = gen->GenerateShadowImage(p, {});
  ASSERT_NE(img, nullptr);
  auto* b = dynamic_cast<TSysBitmap*>(img->GetBitmap());
  ASSERT_NE(b, nullptr);
  // Canvas 48 x 28, radius 4, pad 10.
  EXPECT_EQ(b->Width, 68);
  EXPECT_EQ(b->Height, 48);
  EXPECT_EQ(b->Row(24)[4 * 34 + 3], 255);
  EXPECT_EQ(b->Row(0)[3], 0);
  EXPECT_EQ(img->Params.Name, u"Shadow: 0:0:40:20:4:4:0:3:0:8:255:255:0:N\\A");
  img->Free();
  // Hostile sizes: huge rectangles are reduced; no area gives nothing.
  ParseShadowKey(u"Shadow: 0:0:1e9:1e6:0:0:0:2:0:8:255:255:0:N\\A", p);
  img = gen->GenerateShadowImage(p, {});
  ASSERT_NE(img, nullptr);
  EXPECT_LE(img->GetBitmap()->Width, 10000 + 6);
  img->Free();
  ParseShadowKey(u"Shadow: 0:0:1e9:3:0:0:0:2:0:8:255:255:0:N\\A", p);  // thinner than a pixel once reduced
  EXPECT_EQ(gen->GenerateShadowImage(p, {}), nullptr);
  ParseShadowKey(u"Shadow: 0:0:-5:3:0:0:0:2:0:8:255:255:0:N\\A", p);
  EXPECT_EQ(gen->GenerateShadowImage(p, {}), nullptr);
}

}  // namespace
