// Colour filters on lookup tables: each filter's formula on identity ramps
// and volume tables, chains in block order, the chain's kind and revision
// key, and reuse across reloads.
#include "showmodel/kvObjectFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "imaging/SysBitmap.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/showmodel/KeyFrameFixture.h"

namespace {

using namespace showmodel;
using foundation::TRef;
using kftest::Loaded;

constexpr TObjectTimes kTimes{4000, 1000, 1000};

int L(int n) { return 8 * n + n / 4; }

TRef<imaging::TSysBitmap> Ramp() {
  auto b = TRef<imaging::TSysBitmap>::Adopt(imaging::CreateSysBitmap(256, 16, imaging::pfA8R8G8B8));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 256; ++x) {
      uint8_t* p = b->Row(y) + 4 * x;
      p[0] = p[1] = p[2] = uint8_t(x);
      p[3] = 255;
    }
  return b;
}

TRef<imaging::TSysBitmap> Volume() {
  auto b = TRef<imaging::TSysBitmap>::Adopt(imaging::CreateSysBitmap(32, 1024, imaging::pfA8R8G8B8));
  for (int i = 0; i < 32; ++i)
    for (int j = 0; j < 32; ++j)
      for (int k = 0; k < 32; ++k) {
        uint8_t* p = b->Row(32 * i + j) + 4 * k;
        p[0] = uint8_t(L(i));
        p[1] = uint8_t(L(j));
        p[2] = uint8_t(L(k));
        p[3] = 255;
      }
  return b;
}

// The filters of the only key frame of an image whose key frame holds the
// given "Filter" blocks.
struct Filtered : Loaded {
  explicit Filtered(const std::string& filters)
      : Loaded("object P: Image\n  GUID={A}\n  object K: KeyPoint\n" + filters + "  end\nend\n", kTimes) {}
  TObjectFilter* Head() { return Props->KeyFrames.Items[0]->Filters; }
};

std::string Filter(const std::string& name, const std::string& keys = "") {
  return "    object " + name + ": Filter\n" + keys + "    end\n";
}

// Channel value c of a ramp graded through the chain.
std::vector<int> GradedRamp(TObjectFilter* head) {
  auto r = Ramp();
  GradeLookupTable(head, r.Get(), lutRamp);
  std::vector<int> out(256);
  for (int x = 0; x < 256; ++x) out[size_t(x)] = r->Row(0)[4 * x];
  return out;
}

TEST(ObjectFilters, BrightnessAndContrast) {
  {
    Filtered f(Filter("BrightContrast", "      Bright=20\n      Contrast=0\n"));
    const auto v = GradedRamp(f.Head());
    for (int c = 0; c < 256; ++c) {
      const int want = std::min(255, c + 20);
      EXPECT_TRUE(v[size_t(c)] == want || v[size_t(c)] == want - 1) << c << " " << v[size_t(c)];
    }
  }
  {
    Filtered f(Filter("BrightContrast", "      Contrast=100\n"));
    const auto v = GradedRamp(f.Head());
    for (int c = 0; c < 256; ++c) EXPECT_EQ(v[size_t(c)], c <= 127 ? 0 : 255) << c;
  }
  {
    Filtered f(Filter("BrightContrast",
                      "      Contrast=-100\n      Bright=500\n"));  // bright clamped to 100... at m 0 it has no effect
    const auto v = GradedRamp(f.Head());
    for (int c = 0; c < 256; ++c) EXPECT_EQ(v[size_t(c)], 127) << c;
  }
}

TEST(ObjectFilters, Levels) {
  struct Row {
    const char* keys;
    int black, white;
    double gamma;
  } rows[] = {
      {"      Min=10\n      Max=210\n", 10, 210, 1.0},
      {"      Med=50\n", 0, 255, 50.0 / 150.0},
      {"      Med=-50\n      Min=-40\n      Max=900\n", 0, 255, 150.0 / 50.0},
      {"      Med=-100\n", 0, 255, 10.0},
      {"      Med=99\n", 0, 255, 0.1},  // 1/199 held at 0.1
  };
  for (const Row& r : rows) {
    Filtered f(Filter("Levels", r.keys));
    const auto v = GradedRamp(f.Head());
    for (int c = 0; c < 256; ++c) {
      const double base = std::clamp(double(std::max(0, c - r.black)) / (r.white - r.black), 0.0, 1.0);
      const double want = std::floor(255 * std::pow(base, r.gamma));
      EXPECT_NEAR(v[size_t(c)], want, 1.0) << r.keys << " c=" << c;
    }
  }
  // Min = Max: everything above the black point is white.
  Filtered same(Filter("Levels", "      Min=100\n      Max=100\n"));
  auto v = GradedRamp(same.Head());
  for (int c = 0; c < 256; ++c) EXPECT_EQ(v[size_t(c)], c > 100 ? 255 : 0) << c;
  // Min above Max with a fractional gamma: a defined table (black), never NaN.
  Filtered inverted(Filter("Levels", "      Min=200\n      Max=50\n      Med=30\n"));
  EXPECT_FALSE(inverted.Head()->PrepareFailed);
  v = GradedRamp(inverted.Head());
  for (int c = 0; c < 256; ++c) EXPECT_EQ(v[size_t(c)], 0) << c;
}

TEST(ObjectFilters, InvertTwiceIsTheIdentityAndChainsActInBlockOrder) {
  Filtered twice(Filter("Invert") + Filter("Invert"));
  auto v = GradedRamp(twice.Head());
  for (int c = 0; c < 256; ++c) EXPECT_EQ(v[size_t(c)], c);
  // Levels then Invert differs from Invert then Levels.
  Filtered a(Filter("Levels", "      Min=100\n") + Filter("Invert"));
  Filtered b(Filter("Invert") + Filter("Levels", "      Min=100\n"));
  const auto va = GradedRamp(a.Head()), vb = GradedRamp(b.Head());
  EXPECT_EQ(va[0], 255);  // 0 -> 0 -> 255
  EXPECT_EQ(vb[0], 255);  // 0 -> 255 -> 255
  EXPECT_EQ(va[255], 0);  // 255 -> 255 -> 0
  EXPECT_EQ(vb[255], 0);  // 255 -> 0 -> 0
  EXPECT_EQ(va[150], 255 - int(255 * 50 / 155.0));
  EXPECT_EQ(vb[150], int(255 * (105 - 100) / 155.0));
}

TEST(ObjectFilters, ColourisationFamily) {
  struct Pixel {
    int b, g, r;
  } pixels[] = {{0, 0, 0}, {255, 255, 255}, {10, 200, 90}, {128, 64, 32}, {250, 3, 77}};
  auto run = [&](const std::string& block, auto expected) {
    Filtered f(block);
    auto bmp = foundation::TRef<imaging::TSysBitmap>::Adopt(imaging::CreateSysBitmap(8, 1, imaging::pfA8R8G8B8));
    for (size_t i = 0; i < std::size(pixels); ++i) {
      uint8_t* p = bmp->Row(0) + 4 * i;
      p[0] = uint8_t(pixels[i].b), p[1] = uint8_t(pixels[i].g), p[2] = uint8_t(pixels[i].r), p[3] = 7;
    }
    ApplyFilterChain(f.Head(), bmp.Get(), int32_t(std::size(pixels)), 1);
    for (size_t i = 0; i < std::size(pixels); ++i) {
      const Pixel& px = pixels[i];
      const int y = (13933 * px.r + 46871 * px.g + 7471 * px.b) >> 16;
      const uint8_t* p = bmp->Row(0) + 4 * i;
      EXPECT_EQ(p[0], expected(px.b, 0, y)) << block << i;
      EXPECT_EQ(p[1], expected(px.g, 1, y)) << block << i;
      EXPECT_EQ(p[2], expected(px.r, 2, y)) << block << i;
      EXPECT_EQ(p[3], 255);
    }
  };
  // Grey #808080 at full amount: the luminance, white held at 255.
  run(Filter("Colorization", "      Color=#808080\n      Amount=100\n"),
      [](int, int, int y) { return std::min(255, y); });
  // Sepia 155,130,99 at 50 %: A = 128.
  const int k[3] = {99, 130, 155};  // b, g, r
  run(Filter("Colorization", "      Color=155,130,99\n      Amount=50\n"), [&](int c, int ch, int y) {
    const int t = (y * k[ch]) / 128;
    return std::min(255, c + ((t - c) * 128) / 256);
  });
  run(Filter("Colorisation2", "      Color=155,130,99\n      Amount=50\n"), [&](int c, int ch, int) {
    const double t = std::floor(c * k[ch] / 256.0);
    return std::min(255, c + int(std::floor((t - c) * 128 / 256.0)));
  });
  run(Filter("Colorisation3", "      Color=155,130,99\n      Amount=50\n"), [&](int c, int ch, int) {
    const int t = std::min(255, int(std::floor(c * k[ch] / 128.0)));
    return std::min(255, c + ((t - c) * 128) / 256);
  });
  // No colour: transparent black, so everything goes to black at full amount.
  run(Filter("Colorization", "      Color=nonsense\n"), [](int, int, int) { return 0; });
}

TEST(ObjectFilters, HueSaturationLightness) {
  Filtered grey(Filter("HSL", "      Saturation=-100\n"));
  auto v = Volume();
  ApplyFilterChain(grey.Head(), v.Get(), 32, 1024);
  for (int row : {0, 37, 500, 1023})
    for (int x = 0; x < 32; ++x) {
      const uint8_t* p = v->Row(row) + 4 * x;
      EXPECT_EQ(p[0], p[1]);
      EXPECT_EQ(p[1], p[2]);
    }
  // Half a turn takes pure red to cyan.
  Filtered turn(Filter("HSL", "      Hue=180\n"));
  auto bmp = Volume();
  ApplyFilterChain(turn.Head(), bmp.Get(), 32, 1024);
  const uint8_t* red = bmp->Row(0) + 4 * 31;  // (B, G, R) = (0, 0, 255)
  EXPECT_LE(red[2], 2);
  EXPECT_GE(red[1], 250);
  EXPECT_GE(red[0], 250);
}

TEST(ObjectFilters, VolumeTablesAreGradedOnEveryRowAndRampsOnEveryRow) {
  Filtered inv(Filter("Invert"));
  EXPECT_EQ(ChainKind(inv.Head()), fkChannel);
  auto v = Volume();
  GradeLookupTable(inv.Head(), v.Get(), lutVolume);
  for (int i : {0, 15, 31})
    for (int j : {0, 16, 31})
      for (int k : {0, 7, 31}) {
        const uint8_t* p = v->Row(32 * i + j) + 4 * k;
        EXPECT_EQ(p[0], 255 - L(i));
        EXPECT_EQ(p[1], 255 - L(j));
        EXPECT_EQ(p[2], 255 - L(k));
      }
  // A ramp graded by a channel-mixing filter carries the grade in all rows.
  Filtered mix(Filter("Colorization", "      Color=#FF0000\n"));
  EXPECT_EQ(ChainKind(mix.Head()), fkMixing);
  auto r = Ramp();
  GradeLookupTable(mix.Head(), r.Get(), lutRamp);
  EXPECT_NE(std::memcmp(r->Row(0), Ramp()->Row(0), 1024), 0);
  for (int y = 1; y < 16; ++y) EXPECT_EQ(std::memcmp(r->Row(y), r->Row(0), 1024), 0) << y;
}

TEST(ObjectFilters, ChainKindRevisionKeyAndDisabledFilters) {
  Filtered off(Filter("Invert", "      Disable=1\n      $rev=2\n") + Filter("HSL", "      Hue=50\n      Disable=1\n"));
  EXPECT_EQ(ChainKind(off.Head()), fkNone);
  const auto v = GradedRamp(off.Head());
  for (int c = 0; c < 256; ++c) EXPECT_EQ(v[size_t(c)], c);
  EXPECT_EQ(ChainRevisionKey(off.Head()), u"2");
  Filtered none(Filter("Invert"));
  EXPECT_EQ(ChainRevisionKey(none.Head()), u"");
  Filtered mixed(Filter("Levels") + Filter("HSL") + Filter("Invert"));
  EXPECT_EQ(ChainKind(mixed.Head()), fkMixing);
  EXPECT_EQ(ChainKind(nullptr), fkNone);
  // A value filter (a modifier) followed by a colour filter cannot be combined.
  Loaded l(
      "object P: Image\n  GUID={A}\n  object K: KeyPoint\n    object M: Mod\n      dst=Opacity\n      fn=1\n"
      "    end\n  end\nend\n",
      kTimes);
  TObjectFilter* mod = l.Props->KeyFrames.Items[0]->Mods.at(0);
  TObjectFilter* inv = CreateFilter(kftest::FirstObject(kftest::ParseIni("[S]\nobject Invert: Filter\nend\n").Get()));
  ASSERT_NE(inv, nullptr);
  mod->Next = nullptr;
  inv->Next = mod;  // block order: the modifier, then Invert
  EXPECT_THROW(ChainKind(inv), foundation::EAssertionFailed);
  inv->Next = nullptr;
  inv->Free();
}

TEST(ObjectFilters, UnknownFiltersAreDroppedAndUnchangedOnesReused) {
  Filtered f(Filter("Levels", "      id={L}\n      $rev=1\n      Min=5\n") + Filter("levels", "      Min=9\n") +
             Filter("Sharpen"));
  TObjectFilter* head = f.Head();
  ASSERT_NE(head, nullptr);
  ASSERT_NE(head->Next, nullptr);
  EXPECT_EQ(head->Next->Next, nullptr);  // "Sharpen" gave nothing
  EXPECT_EQ(head->Next->Id, "{L}");
  EXPECT_EQ(head->Id.size(), 38u);  // a new identity written into its block
  EXPECT_EQ(head->DisplayName, u"Levels");
  // Unchanged blocks: the same objects, not prepared again.
  TObjectFilter* first = head->Next;
  first->_AddRef();  // watched
  static_cast<TLevelsGenerator*>(first)->Table[0] = 77;
  LoadObjectProps(f.Props.Get(), kftest::FirstObject(f.Ini.Get()), kTimes);
  EXPECT_EQ(f.Head()->Next, first);
  EXPECT_EQ(f.Head(), head);
  EXPECT_EQ(static_cast<TLevelsGenerator*>(first)->Table[0], 77);
  // Editing a parameter bumps the revision; the next reload prepares it again.
  EXPECT_EQ(first->SetParamText(0, u"5"), 0);
  EXPECT_EQ(first->SetParamText(0, u"6"), 1);
  EXPECT_EQ(first->Revision, 2);
  LoadObjectProps(f.Props.Get(), kftest::FirstObject(f.Ini.Get()), kTimes);
  EXPECT_EQ(f.Head()->Next, first);
  EXPECT_EQ(static_cast<TLevelsGenerator*>(first)->Table[6], 0);
  first->Free();
}

TEST(ObjectFilters, ColourisationCaptionAndPreset) {
  Filtered f(Filter("Colorization", "      Preset=Sepia\n      Color=155,130,99\n"));
  std::u16string caption;
  f.Head()->GetCaption(caption);
  EXPECT_EQ(caption, u"Colorization: Sepia");
  std::u16string text;
  f.Head()->GetParamText(1, text);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(f.Head()->SetParamText(1, u"40"), 1);
  f.Head()->GetParamText(1, text);
  EXPECT_EQ(text, u"40");
  f.Head()->GetCaption(caption);
  EXPECT_EQ(caption, u"Colorization");
  std::vector<TFilterParamInfo> infos;
  f.Head()->GetParamInfos(infos);
  ASSERT_EQ(infos.size(), 2u);
  EXPECT_EQ(infos[1].Key, "Amount");
  EXPECT_EQ(infos[1].Default, 100);
}

}  // namespace
