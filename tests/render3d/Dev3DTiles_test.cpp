// Atlas bitmaps, tiled textures and the texture store on the recording
// renderer: the border mapping of atlas cells, tile choice and allocation
// order, plain and feathered tiles, image textures per texture manager, the
// store's sharing rules and the refill after a device loss.
#include <gtest/gtest.h>

#include <algorithm>

#include "imaging/Startup.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvPixelFormat.h"
#include "render3d/Dev3DTexStore.h"
#include "render3d/Dev3DTileBitmap.h"
#include "tests/render3d/RecordingEngineEnv.h"
#include "tests/support/RecordingRenderer.h"

using namespace render3d;
using namespace render3d_test;

namespace {

imaging::TSysBitmap* Bitmap(int32_t w, int32_t h, const char16_t* format = u"A8R8G8B8") {
  auto* b = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(format));
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* p = b->Row(y) + size_t(x) * size_t(b->BytesPerPixel());
      p[0] = uint8_t(x);
      p[1] = uint8_t(y);
      p[2] = uint8_t(x + y);
      if (b->BytesPerPixel() == 4) p[3] = 255;
    }
  return b;
}

// ---- the atlas bitmap ----

TEST(TileBitmap, CellBordersRepeatTheCellsOwnEdges) {
  auto* src = Bitmap(20, 10);
  auto* tb = new TTileBitmap(src, 2, 1, true);
  EXPECT_EQ(tb->Width, 24);
  EXPECT_EQ(tb->Height, 12);
  std::vector<imaging::TFColorA> px(24);
  tb->GetPixels32(px, 0, 0, 0, 24);  // virtual row 0: a border row
  EXPECT_EQ(px[1].B, 0);             // source (0, 0)
  EXPECT_EQ(px[1].G, 0);
  EXPECT_EQ(px[1].A, 0);  // border pixels lose their alpha
  tb->GetPixels32(px, 0, 0, 5, 24);  // virtual row 5 = source row 4
  EXPECT_EQ(px[11].B, 9);   // column 11 repeats source column 9
  EXPECT_EQ(px[12].B, 10);  // column 12 repeats source column 10
  EXPECT_EQ(px[0].B, 0);
  EXPECT_EQ(px[0].A, 0);
  EXPECT_EQ(px[5].A, 255);
  EXPECT_EQ(px[5].G, 4);
  // A run across two cells: last column, last column (border), first column
  // (border), first column.
  std::vector<uint8_t> bytes(4 * 4);
  EXPECT_EQ(tb->GetPixels(bytes, 0, 10, 5, 4), 16);
  EXPECT_EQ(bytes[0], 9);
  EXPECT_EQ(bytes[4], 9);
  EXPECT_EQ(bytes[8], 10);
  EXPECT_EQ(bytes[12], 10);
  EXPECT_THROW(tb->GetPixels(bytes, 0, 24, 0, 1), foundation::EAssertionFailed);
  EXPECT_THROW(tb->GetPixels(bytes, 0, 0, 12, 1), foundation::EAssertionFailed);
  EXPECT_THROW(tb->GetPixels(bytes, 0, 0, 0, 5), foundation::EAssertionFailed);
  EXPECT_EQ(tb->GetPixels(bytes, 0, 23, 0, 9), 4);  // cut to the width
  tb->Free();
}

// ---- tiles ----

class Tiles : public ::testing::Test {
 protected:
  void SetUp() override {
    Device = new TDrawDevice(7);
    Device->Bounds = {0, 0, 320, 200};
    S = new T3DScreen();
    S->AssignDevice(Device);
    M = new TTextureManager6(S);
  }
  void TearDown() override {
    for (auto* o : Owned) o->Free();
    M->Free();
    S->Free();
    Device->Free();
  }
  TRecordingRenderer* R() { return static_cast<TRecordingRenderer*>(S->Renderer); }
  size_t Count(const std::string& prefix) {
    return size_t(std::count_if(R()->Calls.begin(), R()->Calls.end(),
                                [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
  }
  template <class X>
  X* Own(X* x) {
    Owned.push_back(x);
    return x;
  }
  TMultiTexture6* Multi(int32_t w, int32_t h) {
    auto* m = Own(new TMultiTexture6(M));
    auto* b = Bitmap(w, h);
    m->SetBitmap(b, true, {0, 0, w, h}, 1, 1, false, false);
    m->Build();
    return m;
  }
  TDrawDevice* Device = nullptr;
  T3DScreen* S = nullptr;
  TTextureManager6* M = nullptr;
  std::vector<foundation::TRefObject*> Owned;
};

TEST_F(Tiles, TileChoiceAndAllocationOrder) {
  auto* small = Multi(100, 60);
  ASSERT_EQ(small->Tiles.size(), 1u);
  EXPECT_EQ(small->Tiles[0]->Width, 256);
  EXPECT_EQ(small->Tiles[0]->Height, 64);
  auto* big = Multi(1000, 1000);
  ASSERT_EQ(big->Tiles.size(), 4u);
  const TPoint used[] = {{512, 512}, {492, 512}, {512, 492}, {492, 492}};
  const TPoint pos[] = {{-1, -1}, {509, -1}, {-1, 509}, {509, 509}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(big->Tiles[i]->Width, 512);
    EXPECT_EQ(big->Tiles[i]->UsedSize.X, used[i].X) << i;
    EXPECT_EQ(big->Tiles[i]->UsedSize.Y, used[i].Y) << i;
    EXPECT_EQ(big->Tiles[i]->SourcePos.X, pos[i].X) << i;
    EXPECT_EQ(big->Tiles[i]->SourcePos.Y, pos[i].Y) << i;
  }
  auto* one = Multi(1, 1);
  ASSERT_EQ(one->Tiles.size(), 1u);
  EXPECT_EQ(one->Tiles[0]->Width, 64);
  EXPECT_EQ(one->Tiles[0]->UsedSize.X, 3);
}

TEST_F(Tiles, ReleasedTilesAreReusedByTheNextPicture) {
  auto* a = Multi(1000, 1000);
  std::vector<TTextureTile*> first = a->Tiles;
  a->ReleaseTiles();
  auto* b = Multi(1000, 1000);
  for (TTextureTile* t : first) EXPECT_NE(std::find(b->Tiles.begin(), b->Tiles.end(), t), b->Tiles.end());
}

TEST_F(Tiles, EdgeTilesAreFeatheredAndInnerTilesPlain) {
  auto* m = Multi(1500, 1500);
  ASSERT_EQ(m->Tiles.size(), 9u);
  ASSERT_TRUE(S->BeginScene());
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, {0, 0, 0}, {0.1f, 0, 0}, {0, 0.1f, 0}, {0, 0, 1});
  R()->Calls.clear();
  m->Draw(plane, {0, 0}, {160, 100, -200}, {0, 0, 1500, 1500});
  EXPECT_EQ(Count("DrawVertexList flags=5"), 1u);  // the middle tile, a plain quad
  EXPECT_EQ(Count("DrawVertexList flags=7"), 8u);  // feathered edges
  R()->Calls.clear();
  m->EdgeAntialiasing = false;
  m->Draw(plane, {0, 0}, {160, 100, -200}, {0, 0, 1500, 1500});
  EXPECT_EQ(Count("DrawVertexList flags=5"), 9u);
  R()->Calls.clear();
  m->Alpha = 0;
  m->Draw(plane, {0, 0}, {160, 100, -200}, {0, 0, 1500, 1500});
  EXPECT_EQ(Count("DrawVertexList"), 0u);
  S->EndScene(false);
}

TEST_F(Tiles, PadTileEdgesRepeatsTheValidRectangle) {
  auto* b = imaging::CreateSysBitmap(6, 5, imaging::PixelFormatByName(u"A8R8G8B8"));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = uint32_t(y * 10 + x);
  PadTileEdges(b, {1, 1, 4, 3});
  auto at = [&](int x, int y) { return reinterpret_cast<uint32_t*>(b->Row(y))[x]; };
  EXPECT_EQ(at(0, 1), 11u);
  EXPECT_EQ(at(5, 2), 23u);
  EXPECT_EQ(at(0, 0), 11u);
  EXPECT_EQ(at(5, 4), 23u);
  EXPECT_EQ(at(2, 0), 12u);
  EXPECT_EQ(at(2, 4), 22u);
  b->Free();
}

TEST_F(Tiles, ImageTexturesPerTextureManager) {
  imaging::TImage* image = imaging::WrapBitmapAsImage(Bitmap(50, 40), true, u"pic");
  TImageTexStore* store = GetImageTexStore(image);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(GetImageTexStore(image), store);
  TImageTex* mine = GetImageTex(store, M, image);
  EXPECT_EQ(GetImageTex(store, M, image), mine);
  auto* other = new TTextureManager6(S);
  TImageTex* theirs = GetImageTex(store, other, image);
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(store->Entries.size(), 2u);
  other->Free();  // leaves an entry without manager ...
  EXPECT_EQ(store->Find(M), mine);  // ... that the next lookup removes
  EXPECT_EQ(store->Entries.size(), 1u);
  image->Free();
}

// ---- the texture store ----

TEST_F(Tiles, StoreSharesOneTexturePerImageLevelAndOptions) {
  auto* source = Own(new TTextureSource(S));
  auto* other = Own(new TTextureSource(S));
  imaging::TImage* image = imaging::WrapBitmapAsImage(Bitmap(600, 300), true, u"pic");
  EXPECT_EQ(GetTexStore(image, false), nullptr);
  TTextureOptions o;
  TMultiTexture6* t0 = source->GetTexture(image, o);
  ASSERT_NE(t0, nullptr);
  EXPECT_EQ(source->GetTexture(image, o), t0);
  TTexStore* store = GetTexStore(image, false);
  ASSERT_NE(store, nullptr);
  TTextureOptions l8 = o;
  l8.Level = 8;
  TMultiTexture6* t8 = source->GetTexture(image, l8);
  EXPECT_NE(t8, t0);
  EXPECT_NE(store->Buckets[0], nullptr);
  EXPECT_NE(store->Buckets[0]->Next, nullptr);  // levels 0 and 8 share bucket 0
  TTextureOptions cols = o;
  cols.AtlasColumns = 4;  // ignored without an atlas
  EXPECT_EQ(source->GetTexture(image, cols), t0);
  cols.Atlas = true;
  cols.AtlasRows = 1;
  EXPECT_NE(source->GetTexture(image, cols), t0);
  EXPECT_NE(other->GetTexture(image, o), t0);
  EXPECT_EQ(store->ItemCount(), 4);
  image->Free();  // the store goes with the image, and its textures
}

// A device loss drops the tiles' device textures; the next draw makes and
// fills them again from the picture they keep.
TEST_F(Tiles, DeviceLossRefillsWhatIsStillUsed) {
  auto* source = Own(new TTextureSource(S));
  imaging::TImage* image = imaging::WrapBitmapAsImage(Bitmap(600, 300), true, u"pic");
  TMultiTexture6* t = source->GetTexture(image, {});
  ASSERT_TRUE(S->BeginScene());
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, {0, 0, 0}, {0.5f, 0, 0}, {0, 0.5f, 0}, {0, 0, 1});
  t->Draw(plane, {0, 0}, {160, 100, -200}, {0, 0, 600, 300});
  S->EndScene(false);
  size_t made = Count("CreateTexture");
  EXPECT_EQ(made, t->Tiles.size());
  S->ReleaseResources();
  for (TTextureTile* tile : t->Tiles) EXPECT_EQ(tile->Texture, nullptr);
  ASSERT_TRUE(S->BeginScene());
  t->Draw(plane, {0, 0}, {160, 100, -200}, {0, 0, 600, 300});
  S->EndScene(false);
  EXPECT_EQ(Count("CreateTexture"), 2 * made);
  for (TTextureTile* tile : t->Tiles) EXPECT_NE(tile->Texture, nullptr);
  image->Free();
}

// A bitmap store that notes the format each level is asked in.
class TNotingStore : public imaging::TBitmapStore {
 public:
  std::vector<std::string> Asked;
  TNotingStore(int32_t w, int32_t h, bool alpha) {
    Params.Width = w;
    Params.Height = h;
    Params.PixelFormat = imaging::PixelFormatByName(alpha ? u"A8R8G8B8" : u"R8G8B8");
  }
  void GetMipLevel(imaging::TMipLevelResult& r, int32_t level, imaging::TPixelFormat* format,
                   imaging::TBitmapClass) override {
    Asked.push_back(std::to_string(level) + " " + (format ? format->Name : std::string("any")));
    r.Bitmap = imaging::CreateSysBitmap(std::max(1, Params.Width >> level), std::max(1, Params.Height >> level),
                                        format ? format : Params.PixelFormat);
    r.Owned = true;
  }
};

TEST_F(Tiles, PremultipliedRequestsAskForTheirFormatFromLevelOne) {
  auto* source = Own(new TTextureSource(S));
  for (bool alpha : {true, false}) {
    auto* store = new TNotingStore(64, 32, alpha);
    auto* image = new imaging::TImage(store);
    store->Free();
    TTextureOptions o;
    o.Premultiplied = true;
    ASSERT_NE(source->GetTexture(image, o), nullptr);
    o.Level = 1;
    ASSERT_NE(source->GetTexture(image, o), nullptr);
    std::vector<std::string> expected = {"0 any", alpha ? "1 A8r8g8b8" : "1 any"};
    EXPECT_EQ(store->Asked, expected);
    image->Free();
  }
}

}  // namespace
