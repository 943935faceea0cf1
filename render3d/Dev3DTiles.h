// Tiled textures: an image of any size drawn as tile textures of nine fixed
// power-of-two sizes (none above 512 x 512), pooled per screen and reused
// between images. Tiles overlap by one pixel and are padded by edge
// replication, so bilinear filtering shows no seams; tiles on the image's
// edge are drawn with the feathered edge mesh, the others as plain quads.
//
// Threads: pictures are built on loader threads as well as the GUI thread.
// Each texture manager has one lock over its lists and every tile operation
// (allocation, return to the free list); each multi-texture has its own lock
// over building and filling its tiles.
#pragma once

#include <mutex>
#include <vector>

#include "imaging/kvImage.h"
#include "render3d/Dev3DScreen.h"

namespace render3d {

class TTextureManager6;
class TTileManager;
class TMultiTexture6;

class TTextureTile : public TCustomTexture {
 public:
  QEL_CLASSNAME(TTextureTile)
  TTextureTile(TTileManager* manager, TPoint size);
  void Paint(imaging::TSysBitmap* bitmap) override;
  T3DTexture* GetReadyTexture() override;
  void Draw(const TAffineFrame3D& plane, TFloatPoint anchor, T3DPoint camera, const TFloatRect& visible,
            uint8_t flags);
  void DrawFlat(const TAffineFrame3D& plane, TFloatPoint anchor, const TFloatRect& visible);
  // Back to the free list of its tile manager, or freed without one.
  void ReleaseTile();
  uint32_t TileColor() const;

  TTileManager* Manager = nullptr;
  TMultiTexture6* Owner = nullptr;
  TPoint SourcePos;
  TPoint UsedSize;
  bool Stale = true;
  bool Ready = false;
};

class TTileManager : public TRefObject {
 public:
  QEL_CLASSNAME(TTileManager)
  TTileManager(TTextureManager6* manager, int32_t width, int32_t height);
  void Dispose() override;
  TTextureTile* GetTile(int32_t w, int32_t h);

  TTextureManager6* Manager = nullptr;
  int32_t TileWidth = 0, TileHeight = 0;
  std::vector<TTextureTile*> FreeTiles;
  std::vector<TTextureTile*> AllTiles;  // owned
};

class TTextureManager6 : public TRefObject {
 public:
  QEL_CLASSNAME(TTextureManager6)
  explicit TTextureManager6(T3DScreen* screen);
  void Dispose() override;
  void AddTileManager(int32_t width, int32_t height);
  TTextureTile* AllocTile(int32_t w, int32_t h);
  void AddMultiTexture(TMultiTexture6* texture);
  void RemoveMultiTexture(TMultiTexture6* texture);

  T3DScreen* Screen = nullptr;
  std::vector<TTileManager*> TileManagers;  // owned, at most 16
  std::vector<TMultiTexture6*> MultiTextures;
  // Guards both lists and every tile allocation and return.
  std::recursive_mutex Lock;
};

class TMultiTexture6 : public TRefObject {
 public:
  QEL_CLASSNAME(TMultiTexture6)
  explicit TMultiTexture6(TTextureManager6* manager);
  void Dispose() override;

  // bitmap: a TSysBitmap (any bitmap with atlas set); rect inside it.
  void SetBitmap(imaging::TBitmap* bitmap, bool owns, const TRect& rect, int32_t columns, int32_t rows,
                 bool premultiplied, bool atlas);
  void ReleaseTiles();
  void Build();
  void Prepare();
  void Refresh();
  void Draw(const TAffineFrame3D& plane, TFloatPoint anchor, T3DPoint camera, const TFloatRect& rect);
  void DrawTransformed(T3DPoint origin, TFloatPoint anchor, T3DPoint camera, foundation::TFlatVector x,
                       foundation::TFlatVector y);

  TTextureManager6* Manager = nullptr;
  int32_t Index = -1;
  std::vector<TTextureTile*> Tiles;
  bool Premultiplied = false;
  bool OwnsSource = false;
  TRect SourceRect;
  imaging::TBitmap* Source = nullptr;  // owned
  // Guards Tiles and their building, preparing and drawing; taken before
  // the manager's Lock.
  std::recursive_mutex Lock;
  int32_t Alpha = 255;
  bool PointFilter = false;
  bool Mipmapped = false;
  float LodBias = 0;
  bool EdgeAntialiasing = true;
  bool Tinted = false;
  uint8_t TintB = 0, TintG = 0, TintR = 0;
  uint32_t EdgeColor = 0;

 private:
  void AllocateTiles(int32_t x, int32_t y, int32_t w, int32_t h);
};

// Fills everything of a 32-bit bitmap outside the valid rectangle by
// repeating the rectangle's edge pixels.
void PadTileEdges(imaging::TSysBitmap* bitmap, const TRect& valid);

// The image's level-0 bitmap as a TSysBitmap in the format the texture
// wants (see the three flags).
imaging::TSysBitmap* GetTextureBitmap(imaging::TImage* image, bool alpha, bool premultiplied, bool forcePremultiplied);

class TImageTexStore;

// The multi-texture of one image for one texture manager.
class TImageTex : public TMultiTexture6 {
 public:
  QEL_CLASSNAME(TImageTex)
  TImageTex(TTextureManager6* manager, TImageTexStore* store);
  void Dispose() override;
  TImageTexStore* Store = nullptr;
};

// The image textures of one image, one per texture manager; an attachment
// of the image's bitmap store.
class TImageTexStore : public TRefObject {
 public:
  QEL_CLASSNAME(TImageTexStore)
  void Dispose() override;
  TImageTex* Find(TTextureManager6* manager);
  std::vector<TImageTex*> Entries;  // owned
  std::recursive_mutex Lock;         // guards Entries
};

TImageTexStore* GetImageTexStore(imaging::TImage* image);
TImageTex* GetImageTex(TImageTexStore* store, TTextureManager6* manager, imaging::TImage* image);

}  // namespace render3d
