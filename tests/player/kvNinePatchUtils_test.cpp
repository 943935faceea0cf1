#include "player/kvNinePatchUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "foundation/kpExceptions.h"
#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"

using foundation::TRect;
using foundation::TRef;
using imaging::TDirectBitmap;
using player::T9Patch;

namespace {

TRef<TDirectBitmap> Bitmap(int w, int h, uint32_t fill) {
  auto b = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(w, h, imaging::pfA8R8G8B8));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) std::memcpy(b->Row(y) + 4 * x, &fill, 4);
  return b;
}

uint32_t At(TDirectBitmap* b, int x, int y) {
  uint32_t v;
  std::memcpy(&v, b->Row(y) + 4 * x, 4);
  return v;
}
void Set(TDirectBitmap* b, int x, int y, uint32_t v) { std::memcpy(b->Row(y) + 4 * x, &v, 4); }

// The skin of the picture tests: 7 x 6, caps left 2, top 2, right 3,
// bottom 1, so columns 0-1 | 2-3 | 4-6 and rows 0-1 | 2-4 | 5, each of the
// nine pieces one colour.
const uint32_t kPieceColours[3][3] = {{0xFFFF0000, 0xFF00FF00, 0xFF0000FF},
                                      {0xFFFFFF00, 0xFF00FFFF, 0xFFFF00FF},
                                      {0xFF808080, 0xFF402010, 0xFF102040}};
const int kSkinCols[4] = {0, 2, 4, 7};
const int kSkinRows[4] = {0, 2, 5, 6};

TRef<TDirectBitmap> PieceSkin(const uint32_t colours[3][3]) {
  auto b = Bitmap(7, 6, 0);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      for (int y = kSkinRows[r]; y < kSkinRows[r + 1]; ++y)
        for (int x = kSkinCols[c]; x < kSkinCols[c + 1]; ++x) Set(b.Get(), x, y, colours[r][c]);
  return b;
}

// "Over" of a colour on an opaque pixel in real numbers, rounded: the
// reference the fixed-point compositing must stay within 2 levels of.
uint32_t OverOpaque(uint32_t pixel, uint32_t colour) {
  const double a = double(colour >> 24) / 255.0;
  uint32_t r = 0xFF000000;
  for (int shift = 0; shift < 24; shift += 8) {
    const double s = (colour >> shift) & 0xFF, p = (pixel >> shift) & 0xFF;
    r |= uint32_t(std::lround(s * a + p * (1 - a))) << shift;
  }
  return r;
}

void ExpectNear(uint32_t got, uint32_t want, int x, int y) {
  for (int shift = 0; shift < 32; shift += 8)
    EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 2)
        << "pixel " << x << "," << y << " channel shift " << shift << std::hex << " got " << got << " want " << want;
}

// The picture expected from the piece skin drawn into dest: each destination
// piece (cut by hand below) holds its piece's colour over the background.
void ExpectPiecePicture(TDirectBitmap* target, const int cols[4], const int rows[4], uint32_t background,
                        const uint32_t colours[3][3]) {
  for (int y = 0; y < target->Height; ++y)
    for (int x = 0; x < target->Width; ++x) {
      uint32_t want = background;
      for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
          if (x >= cols[c] && x < cols[c + 1] && y >= rows[r] && y < rows[r + 1])
            want = OverOpaque(background, colours[r][c]);
      ExpectNear(At(target, x, y), want, x, y);
    }
}

}  // namespace

TEST(NinePatch, CutPositions) {
  struct Case {
    int32_t a, b, m0, m1;
    int32_t cuts[4];
  };
  const Case cases[] = {
      {0, 16, 10, 10, {0, 8, 8, 16}},  // narrower than both caps: each cap 8 wide, no centre
      {0, 30, 10, 10, {0, 10, 20, 30}},
      {0, 7, 2, 3, {0, 2, 4, 7}},
      {0, 5, 3, 3, {0, 2, 2, 5}},     // mid (0 + 3 + 5 - 3) div 2 = 2
      {-7, -2, 2, 2, {-7, -5, -4, -2}},  // mid -9 div 2 = -4: toward zero
      {10, 15, -4, -9, {10, 10, 15, 15}},  // negative caps count as 0
      {0, 0, 5, 5, {0, 0, 0, 0}},
      {0, 10, 2147483647, 2147483647, {0, 5, 5, 10}},
  };
  for (const Case& c : cases) {
    int32_t cuts[4];
    player::NinePatchCuts(c.a, c.b, c.m0, c.m1, cuts);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(cuts[i], c.cuts[i]) << c.a << ".." << c.b << " caps " << c.m0 << "," << c.m1;
  }
}

TEST(NinePatch, InitCopiesTheRectangleAndGuardsItsInput) {
  auto skin = PieceSkin(kPieceColours);
  T9Patch p;
  player::InitNinePatch(p, skin.Get(), {-2, -1, 3, 3}, 1, -5, 1, 1);
  ASSERT_TRUE(p.Image);
  EXPECT_EQ(p.ImageRect.Right, 3);  // clipped to the bitmap: columns 0..2, rows 0..2
  EXPECT_EQ(p.ImageRect.Bottom, 3);
  EXPECT_EQ(p.Top, 0);  // a negative cap counts as 0
  EXPECT_EQ(At(p.Image.Get(), 2, 2), kPieceColours[1][1]);
  EXPECT_EQ(At(p.Image.Get(), 0, 0), kPieceColours[0][0]);

  player::InitNinePatch(p, skin.Get(), {7, 0, 9, 6}, 0, 0, 0, 0);
  EXPECT_FALSE(p.Image);  // nothing of the rectangle inside the bitmap
  player::InitNinePatchWhole(p, nullptr, 1, 1, 1, 1);
  EXPECT_FALSE(p.Image);

  // The centre flag: set for a uniform centre, not for a mixed or an empty one.
  player::InitNinePatchWhole(p, skin.Get(), 2, 2, 3, 1);
  EXPECT_EQ(p.Flags & player::npUniformCenter, 1u);
  Set(skin.Get(), 3, 4, 0xFF00FFFE);
  player::InitNinePatchWhole(p, skin.Get(), 2, 2, 3, 1);
  EXPECT_EQ(p.Flags & player::npUniformCenter, 0u);
  player::InitNinePatchWhole(p, skin.Get(), 4, 3, 3, 3);
  EXPECT_EQ(p.Flags & player::npUniformCenter, 0u);
  player::ClearNinePatch(p);
  EXPECT_FALSE(p.Image);
}

TEST(NinePatch, PiecesLandInTheirCutsOverTheBackground) {
  const uint32_t background = 0xFF101010;
  // Opaque pieces, and the same pieces half transparent (the centre takes
  // the fill path in both: it is uniform).
  uint32_t translucent[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) translucent[r][c] = (kPieceColours[r][c] & 0xFFFFFF) | (uint32_t(60 + 40 * (r * 3 + c)) << 24);
  for (auto* colours : {kPieceColours, static_cast<const uint32_t(*)[3]>(translucent)}) {
    auto skin = PieceSkin(colours);
    T9Patch p;
    player::InitNinePatchWhole(p, skin.Get(), 2, 2, 3, 1);
    ASSERT_EQ(p.Flags & player::npUniformCenter, 1u);
    auto target = Bitmap(30, 20, background);
    player::DrawNinePatch(target.Get(), {3, 2, 23, 17}, p);
    // Destination cuts: x 3, 5, 20, 23 and y 2, 4, 16, 17.
    const int cols[4] = {3, 5, 20, 23}, rows[4] = {2, 4, 16, 17};
    ExpectPiecePicture(target.Get(), cols, rows, background, colours);

    // Squeezed below its caps into (1, 1, 5, 3):
    // x: mid = (1 + 2 + 5 - 3) div 2 = 2, cuts 1, min(3, 2) = 2, max(2, 2) = 2, 5;
    // y: mid = (1 + 2 + 3 - 1) div 2 = 2, cuts 1, 2, max(2, 2) = 2, 3.
    auto small = Bitmap(10, 6, background);
    player::DrawNinePatch(small.Get(), {1, 1, 5, 3}, p);
    const int scols[4] = {1, 2, 2, 5}, srows[4] = {1, 2, 2, 3};
    ExpectPiecePicture(small.Get(), scols, srows, background, colours);
  }
}

TEST(NinePatch, StretchedPiecesInterpolateBilinearly) {
  // A 4 x 1 skin with caps 1 and 1 drawn 7 wide: centre source columns 1..2
  // (red 0 and 200) over 5 columns at positions 0, .25, .5, .75, 1, weights
  // 0, 16384, 32768, 49152 and 0 on the next pair: 0, 50, 100, 150, 200.
  auto line = Bitmap(4, 1, 0);
  const uint32_t reds[4] = {10, 0, 200, 250};
  for (int x = 0; x < 4; ++x) Set(line.Get(), x, 0, 0xFF000000 | (reds[x] << 16));
  T9Patch p;
  player::InitNinePatchWhole(p, line.Get(), 1, 0, 1, 0);
  auto target = Bitmap(7, 1, 0xFF000000);
  player::DrawNinePatch(target.Get(), {0, 0, 7, 1}, p);
  const uint32_t expected[7] = {10, 0, 50, 100, 150, 200, 250};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(At(target.Get(), x, 0), 0xFF000000 | (expected[x] << 16)) << x;

  // Both axes: a 4 x 4 skin with caps 1 whose 2 x 2 centre holds blue 0, 100
  // over 200, 40, drawn 5 x 5, so the centre is 3 x 3 at positions 0, .5, 1.
  auto square = Bitmap(4, 4, 0xFF0000FF);
  Set(square.Get(), 1, 1, 0xFF000000);
  Set(square.Get(), 2, 1, 0xFF000064);
  Set(square.Get(), 1, 2, 0xFF0000C8);
  Set(square.Get(), 2, 2, 0xFF000028);
  player::InitNinePatchWhole(p, square.Get(), 1, 1, 1, 1);
  auto t2 = Bitmap(5, 5, 0xFF000000);
  player::DrawNinePatch(t2.Get(), {0, 0, 5, 5}, p);
  // Row 0: 0, 50, 100. Row 2: 200, 120, 40. Row 1 halves between them:
  // 100, 50 + 35 = 85, 100 - 30 = 70.
  const uint32_t centre[3][3] = {{0, 50, 100}, {100, 85, 70}, {200, 120, 40}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(At(t2.Get(), 1 + x, 1 + y), 0xFF000000 | centre[y][x]) << x << "," << y;

  // Width 1 samples the first source column.
  auto three = Bitmap(3, 1, 0);
  for (int x = 0; x < 3; ++x) Set(three.Get(), x, 0, 0xFF000000 | uint32_t(30 * (x + 1)));
  player::InitNinePatchWhole(p, three.Get(), 0, 0, 0, 0);
  auto one = Bitmap(1, 1, 0xFF000000);
  player::DrawNinePatch(one.Get(), {0, 0, 1, 1}, p);
  EXPECT_EQ(At(one.Get(), 0, 0), 0xFF00001Eu);
}

TEST(NinePatch, ClippedDrawingShowsTheSamePixels) {
  auto skin = Bitmap(6, 5, 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) Set(skin.Get(), x, y, (uint32_t(90 + 30 * y) << 24) | uint32_t(x * 40 << 16) | uint32_t(y * 50));
  T9Patch p;
  player::InitNinePatchWhole(p, skin.Get(), 2, 1, 2, 2);
  auto whole = Bitmap(40, 30, 0xFF203040);
  player::DrawNinePatch(whole.Get(), {0, 0, 20, 15}, p);
  auto clipped = Bitmap(30, 20, 0xFF203040);
  player::DrawNinePatch(clipped.Get(), {-5, -3, 15, 12}, p);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const bool inside = x < 15 && y < 12;
      EXPECT_EQ(At(clipped.Get(), x, y), inside ? At(whole.Get(), x + 5, y + 3) : 0xFF203040u) << x << "," << y;
    }
  // Entirely outside, empty or inverted rectangles draw nothing.
  auto before = Bitmap(30, 20, 0xFF203040);
  for (const TRect& r : {TRect{30, 0, 50, 10}, TRect{5, 5, 5, 15}, TRect{10, 10, 4, 4},
                         TRect{-2147483647, -2147483647, -2147483000, 5}}) {
    player::DrawNinePatch(clipped.Get(), r, p);
  }
  player::DrawNinePatch(before.Get(), {0, 0, 30, 20}, T9Patch{});  // an empty patch
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const bool inside = x < 15 && y < 12;
      ASSERT_EQ(At(clipped.Get(), x, y), inside ? At(whole.Get(), x + 5, y + 3) : 0xFF203040u) << x << "," << y;
      ASSERT_EQ(At(before.Get(), x, y), 0xFF203040u);
    }
}

TEST(NinePatch, HugeDestinationIsBoundedByTheTarget) {
  auto skin = PieceSkin(kPieceColours);
  T9Patch p;
  player::InitNinePatchWhole(p, skin.Get(), 2, 2, 3, 1);
  auto target = Bitmap(8, 8, 0xFF000000);
  player::DrawNinePatch(target.Get(), {-2147483647, -2147483647, 2147483647, 2147483647}, p);
  // The target lies deep inside the centre piece.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(At(target.Get(), x, y), kPieceColours[1][1]);
}

TEST(NinePatch, TargetMustBe32BitArgb) {
  auto skin = PieceSkin(kPieceColours);
  T9Patch p;
  player::InitNinePatchWhole(p, skin.Get(), 2, 2, 3, 1);
  auto rgb = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(4, 4, imaging::pfR8G8B8));
  EXPECT_THROW(player::DrawNinePatch(rgb.Get(), {0, 0, 4, 4}, p), foundation::EAssertionFailed);
  // A skin of another format is converted at init.
  auto rgbSkin = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(3, 3, imaging::pfR8G8B8));
  rgbSkin->Row24(1)[1] = imaging::TFColor{0x30, 0x20, 0x10};
  player::InitNinePatchWhole(p, rgbSkin.Get(), 1, 1, 1, 1);
  ASSERT_TRUE(p.Image);
  EXPECT_EQ(p.Image->PixelFormat, imaging::pfA8R8G8B8);
  EXPECT_EQ(At(p.Image.Get(), 1, 1), 0xFF102030u);
}
