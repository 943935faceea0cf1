// Two large pictures built at once on two threads through one texture
// manager (as the slide loader and the GUI thread do): every tile goes to
// exactly one picture, and each is painted with its own picture.
#include "Render3DTestEnv.h"

#include <set>
#include <thread>

#include "imaging/SysBitmapStore.h"
#include "render3d/Dev3DTexStore.h"

using namespace render3d;
using namespace render3d_test;

namespace {

imaging::TSysBitmap* Solid(int32_t w, int32_t h, uint32_t color) {
  auto* b = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(u"A8R8G8B8"));
  b->FillRect({0, 0, w, h}, color);
  return b;
}

TEST(TilesThreads, TwoPicturesBuiltAtOnceShareNoTile) {
  TRendererDevice* device = Get3DEngine()->CreateOffscreenDevice(64, 64);
  auto* screen = new T3DScreen();
  screen->AssignDevice(device);
  ASSERT_TRUE(screen->IsReady());
  auto* source = new TTextureSource(screen);
  // Free tiles of every size in the pools first, so both builds pop from
  // the same free lists.
  {
    imaging::TImage* warm = imaging::WrapBitmapAsImage(Solid(3000, 2000, 0xFF000000), true, u"warm");
    TMultiTexture6* w = source->GetTexture(warm, {});
    w->Build();
    warm->Free();
  }
  imaging::TImage* a = imaging::WrapBitmapAsImage(Solid(3000, 2000, 0xFFFF0000), true, u"a");
  imaging::TImage* b = imaging::WrapBitmapAsImage(Solid(3000, 2000, 0xFF0000FF), true, u"b");
  TMultiTexture6* ta = nullptr;
  TMultiTexture6* tb = nullptr;
  std::thread t1([&] {
    ta = source->GetTexture(a, {});
    ta->Prepare();
  });
  std::thread t2([&] {
    tb = source->GetTexture(b, {});
    tb->Prepare();
  });
  t1.join();
  t2.join();
  platform::gpu::drainRequests();
  ASSERT_NE(ta, nullptr);
  ASSERT_NE(tb, nullptr);
  std::set<TTextureTile*> seen;
  for (TTextureTile* t : ta->Tiles) {
    EXPECT_TRUE(seen.insert(t).second);
    EXPECT_EQ(t->Owner, ta);
  }
  for (TTextureTile* t : tb->Tiles) {
    EXPECT_TRUE(seen.insert(t).second) << "a tile in both pictures";
    EXPECT_EQ(t->Owner, tb);
  }
  EXPECT_EQ(ta->Tiles.size(), tb->Tiles.size());
  // Each picture's first tile holds its own colour.
  for (auto [tex, color] : {std::pair{ta, 0xFF0000u}, std::pair{tb, 0x0000FFu}}) {
    T3DTexture* dev = tex->Tiles[0]->GetReadyTexture();
    ASSERT_NE(dev, nullptr);
    auto px = ReadBack(dev->GetSurface(0));
    EXPECT_EQ(px[5 * 512 + 5] & 0xFFFFFF, color);
  }
  a->Free();
  b->Free();
  source->Free();
  screen->Free();
  device->Free();
}

}  // namespace
