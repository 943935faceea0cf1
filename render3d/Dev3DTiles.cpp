#include "render3d/Dev3DTiles.h"

#include <algorithm>
#include <cstring>

#include "foundation/SysLock.h"
#include "foundation/kpExceptions.h"
#include "imaging/kvLoadCallBack.h"
#include "imaging/kvPixelFormat.h"
#include "render3d/Dev3DTileBitmap.h"

namespace render3d {

namespace {
const TPoint kTileSizes[] = {{512, 512}, {512, 256}, {256, 512}, {256, 256}, {256, 128},
                             {128, 256}, {256, 64},  {64, 256},  {64, 64}};
}

// ---- tiles ----

TTextureTile::TTextureTile(TTileManager* manager, TPoint size) : TCustomTexture(manager->Manager->Screen), Manager(manager) {
  SetSize(size.X, size.Y);
}

uint32_t TTextureTile::TileColor() const {
  uint8_t a = Alpha;
  if (Owner && Owner->Tinted) return MakeARGB(a, Owner->TintR, Owner->TintG, Owner->TintB);
  return MakeARGB(a, 255, 255, 255);
}

void TTextureTile::Paint(imaging::TSysBitmap* bitmap) {
  if (!imaging::LoadCallBack(0)) return;
  if (Owner && Owner->Source) {
    imaging::TBitmap* src = Owner->Source;
    bitmap->CopyRect({0, 0, UsedSize.X, UsedSize.Y}, src, {SourcePos.X, SourcePos.Y}, 0);
    if (!imaging::LoadCallBack(0)) return;
    TRect valid{std::max(0, -SourcePos.X), std::max(0, -SourcePos.Y), std::min(UsedSize.X, src->Width - SourcePos.X),
                std::min(UsedSize.Y, src->Height - SourcePos.Y)};
    if (valid.Right > valid.Left && valid.Bottom > valid.Top) PadTileEdges(bitmap, valid);
  }
  Stale = false;
  Ready = false;
}

T3DTexture* TTextureTile::GetReadyTexture() {
  T3DTexture* t = GetTexture();
  if (t && Stale) {
    Filled = false;
    t = GetTexture();
  }
  if (t && !Ready) {
    TCustomTexture::GetReadyTexture();
    foundation::SysSleep(1);
    Ready = true;
    imaging::LoadCallBack(0);
  }
  return t;
}

void TTextureTile::Draw(const TAffineFrame3D& plane, TFloatPoint anchor, T3DPoint camera, const TFloatRect& visible,
                        uint8_t flags) {
  if (Alpha == 0 || !Owner || !Screen) return;
  T3DScreen::TEdgeMesh mesh;
  Screen->BuildEdgeMesh(mesh, plane, anchor, camera, visible, flags);
  for (auto& p : mesh.TexPoints) {
    p.X = std::clamp(p.X, 1.0f, float(UsedSize.X - 1));
    p.Y = std::clamp(p.Y, 1.0f, float(UsedSize.Y - 1));
  }
  PointFilter = Owner->PointFilter;
  uint32_t c = TileColor();
  TCustomTexture* t[1] = {this};
  Screen->DrawEdgeMesh(t, mesh, c, c, c, c, flags);
  Ready = true;
}

void TTextureTile::DrawFlat(const TAffineFrame3D& plane, TFloatPoint anchor, const TFloatRect& v) {
  if (!Screen || !Screen->IsReady()) return;
  TVertexBuffer* q = Screen->QuadBatch.Get();
  TCustomTexture* t[1] = {this};
  q->SetTextures(t);
  q->Blend = Owner && Owner->Tinted;
  PointFilter = Owner && Owner->PointFilter;
  auto P = [&](float x, float y) {
    double dx = double(x) - anchor.X, dy = double(y) - anchor.Y;
    return T3DPoint{float(plane.Origin.X + plane.U.X * dx + plane.V.X * dy),
                    float(plane.Origin.Y + plane.U.Y * dx + plane.V.Y * dy),
                    float(plane.Origin.Z + plane.U.Z * dx + plane.V.Z * dy)};
  };
  uint32_t c = TileColor();
  TFloatPoint lb{v.Left, v.Bottom}, lt{v.Left, v.Top}, rb{v.Right, v.Bottom}, rt{v.Right, v.Top};
  q->AddTriangle(P(lb.X, lb.Y), P(lt.X, lt.Y), P(rb.X, rb.Y), {&lb, 1}, {&lt, 1}, {&rb, 1}, c, c, c);
  q->AddTriangle(P(rb.X, rb.Y), P(lt.X, lt.Y), P(rt.X, rt.Y), {&rb, 1}, {&lt, 1}, {&rt, 1}, c, c, c);
  q->Flush();
  q->Blend = false;
  Ready = true;
}

void TTextureTile::ReleaseTile() {
  TTileManager* m = Manager;
  if (m && m->Manager) {
    std::lock_guard<std::recursive_mutex> g(m->Manager->Lock);
    if (Manager) {
      Owner = nullptr;
      Stale = true;
      Ready = false;
      Manager->FreeTiles.push_back(this);
      return;
    }
  }
  Owner = nullptr;
  Free();
}

TTileManager::TTileManager(TTextureManager6* manager, int32_t width, int32_t height)
    : Manager(manager), TileWidth(width), TileHeight(height) {}

void TTileManager::Dispose() {
  // Tiles still in a multi-texture stay with it (freed when it lets them
  // go); idle ones go now.
  std::vector<TTextureTile*> all;
  all.swap(AllTiles);
  for (TTextureTile* t : all) {
    bool idle = std::find(FreeTiles.begin(), FreeTiles.end(), t) != FreeTiles.end();
    t->Manager = nullptr;
    if (idle) t->Free();
  }
  FreeTiles.clear();
  TRefObject::Dispose();
}

TTextureTile* TTileManager::GetTile(int32_t w, int32_t h) {
  TTextureTile* t;
  if (!FreeTiles.empty()) {
    t = FreeTiles.back();
    FreeTiles.pop_back();
  } else {
    if (!Manager->Screen) return nullptr;
    t = new TTextureTile(this, {TileWidth, TileHeight});
    AllTiles.push_back(t);
  }
  t->UsedSize = {std::min(w, TileWidth), std::min(h, TileHeight)};
  return t;
}

// ---- the texture manager ----

TTextureManager6::TTextureManager6(T3DScreen* screen) : Screen(screen) {
  QEL_ASSERT(screen != nullptr, u"TTextureManager6: no screen");
  for (TPoint s : kTileSizes) AddTileManager(s.X, s.Y);
}

void TTextureManager6::Dispose() {
  std::lock_guard<std::recursive_mutex> g(Lock);
  for (TMultiTexture6* m : MultiTextures) {
    m->Manager = nullptr;
    m->Index = -1;
  }
  MultiTextures.clear();
  for (TTileManager* t : TileManagers) t->Free();
  TileManagers.clear();
  TRefObject::Dispose();
}

void TTextureManager6::AddTileManager(int32_t width, int32_t height) {
  QEL_ASSERT(TileManagers.size() < 16, u"TTextureManager6: too many tile managers");
  TileManagers.push_back(new TTileManager(this, width, height));
}

TTextureTile* TTextureManager6::AllocTile(int32_t w, int32_t h) {
  std::lock_guard<std::recursive_mutex> g(Lock);
  for (;;) {
    int64_t best = 0;
    for (TTileManager* m : TileManagers)
      best = std::max(best, int64_t(std::min(w, m->TileWidth)) * std::min(h, m->TileHeight));
    if (best == 0) return nullptr;
    TTileManager* chosen = nullptr;
    int64_t leastWaste = 0;
    for (TTileManager* m : TileManagers) {
      int64_t covered = int64_t(std::min(w, m->TileWidth)) * std::min(h, m->TileHeight);
      int64_t waste = int64_t(m->TileWidth) * m->TileHeight - covered;
      if (covered == best && (!chosen || waste < leastWaste)) {
        chosen = m;
        leastWaste = waste;
      }
    }
    if (TTextureTile* t = chosen->GetTile(w, h)) return t;
    TileManagers.erase(std::find(TileManagers.begin(), TileManagers.end(), chosen));
    chosen->Free();
  }
}

void TTextureManager6::AddMultiTexture(TMultiTexture6* texture) {
  std::lock_guard<std::recursive_mutex> g(Lock);
  texture->Index = static_cast<int32_t>(MultiTextures.size());
  MultiTextures.push_back(texture);
}

void TTextureManager6::RemoveMultiTexture(TMultiTexture6* texture) {
  std::lock_guard<std::recursive_mutex> g(Lock);
  if (texture->Manager != this) return;  // detached meanwhile
  QEL_ASSERT(texture->Index >= 0 && size_t(texture->Index) < MultiTextures.size() &&
                 MultiTextures[size_t(texture->Index)] == texture,
             u"TMultiTexture6: not at its index");
  TMultiTexture6* last = MultiTextures.back();
  MultiTextures[size_t(texture->Index)] = last;
  last->Index = texture->Index;
  MultiTextures.pop_back();
  texture->Index = -1;
}

// ---- multi-textures ----

TMultiTexture6::TMultiTexture6(TTextureManager6* manager) : Manager(manager) {
  QEL_ASSERT(manager != nullptr, u"TMultiTexture6: no texture manager");
  Manager->AddMultiTexture(this);
}

void TMultiTexture6::Dispose() {
  ReleaseTiles();
  if (Source) Source->Free();
  Source = nullptr;
  TTextureManager6* m = Manager;
  if (m) m->RemoveMultiTexture(this);
  Manager = nullptr;
  TRefObject::Dispose();
}

void TMultiTexture6::ReleaseTiles() {
  std::lock_guard<std::recursive_mutex> g(Lock);
  std::vector<TTextureTile*> tiles;
  tiles.swap(Tiles);
  for (TTextureTile* t : tiles) t->ReleaseTile();
}

void TMultiTexture6::SetBitmap(imaging::TBitmap* bitmap, bool owns, const TRect& rect, int32_t columns, int32_t rows,
                               bool premultiplied, bool atlas) {
  QEL_ASSERT(bitmap != nullptr, u"TMultiTexture6.SetBitmap: no bitmap");
  QEL_ASSERT(rect.Right > rect.Left && rect.Bottom > rect.Top, u"TMultiTexture6.SetBitmap: empty rectangle");
  QEL_ASSERT(rect.Left >= 0 && rect.Top >= 0 && rect.Right <= bitmap->Width && rect.Bottom <= bitmap->Height,
             u"TMultiTexture6.SetBitmap: rectangle outside the bitmap");
  std::lock_guard<std::recursive_mutex> g(Lock);
  if (Source) Source->Free();
  Source = nullptr;
  ReleaseTiles();
  OwnsSource = owns;
  SourceRect = rect;
  Premultiplied = premultiplied;
  if (atlas) {
    Source = new TTileBitmap(bitmap, std::max(columns, 1), std::max(rows, 1), owns);
  } else {
    auto* sys = dynamic_cast<imaging::TSysBitmap*>(bitmap);
    QEL_ASSERT(sys != nullptr, u"TMultiTexture6.SetBitmap: not a system bitmap");
    Source = new imaging::TCropBitmap(rect, sys, owns);
  }
}

void TMultiTexture6::AllocateTiles(int32_t x, int32_t y, int32_t w, int32_t h) {
  while (h > 0 && Manager) {
    TTextureTile* tile = Manager->AllocTile(w + 2, h + 2);
    QEL_ASSERT(tile != nullptr, u"TMultiTexture6: no tile for a strip");
    tile->SetMipmapped(Mipmapped);
    tile->SetPremultiplied(Premultiplied);
    tile->Owner = this;
    tile->SourcePos = {x - 1, y - 1};
    Tiles.push_back(tile);
    int32_t uw = tile->UsedSize.X, uh = tile->UsedSize.Y;
    if (uw - 2 < w) AllocateTiles(x + uw - 2, y, w - uw + 2, uh - 2);
    y += uh - 2;
    h -= uh - 2;
  }
}

void TMultiTexture6::Build() {
  std::lock_guard<std::recursive_mutex> g(Lock);
  if (!Tiles.empty() || !Source) return;
  // Device textures are made and filled by the first Prepare.
  AllocateTiles(0, 0, Source->Width, Source->Height);
}

void TMultiTexture6::Prepare() {
  std::lock_guard<std::recursive_mutex> g(Lock);
  if (Tiles.empty()) Build();
  for (TTextureTile* t : Tiles) {
    t->SetMipmapped(Mipmapped);
    t->LodBias = LodBias;
    t->SetPremultiplied(Premultiplied);
    if (t->Stale) t->Filled = false;
    t->GetTexture();
  }
}

void TMultiTexture6::Refresh() {
  std::lock_guard<std::recursive_mutex> g(Lock);
  if (Tiles.empty()) Build();
  for (TTextureTile* t : Tiles) {
    t->SetMipmapped(Mipmapped);
    t->LodBias = LodBias;
    t->GetReadyTexture();
  }
}

void TMultiTexture6::Draw(const TAffineFrame3D& plane, TFloatPoint anchor, T3DPoint camera, const TFloatRect& rect) {
  if (Alpha == 0) return;
  Prepare();
  std::lock_guard<std::recursive_mutex> g(Lock);
  for (TTextureTile* t : Tiles) {
    t->Alpha = uint8_t(Alpha & 0xFF);
    float sx = float(t->SourcePos.X), sy = float(t->SourcePos.Y);
    TFloatRect r{rect.Left - sx, rect.Top - sy, rect.Right - sx, rect.Bottom - sy};
    TFloatRect visible{std::max(r.Left, 1.0f), std::max(r.Top, 1.0f), std::min(r.Right, float(t->UsedSize.X - 1)),
                       std::min(r.Bottom, float(t->UsedSize.Y - 1))};
    if (visible.Right <= visible.Left || visible.Bottom <= visible.Top) continue;
    uint8_t flags = 0;
    if (EdgeAntialiasing && !PointFilter) {
      if (r.Left >= 1) flags |= 1;
      if (r.Top >= 1) flags |= 2;
      if (r.Right <= t->UsedSize.X - 1) flags |= 4;
      if (r.Bottom <= t->UsedSize.Y - 1) flags |= 8;
    }
    TFloatPoint a{anchor.X - sx, anchor.Y - sy};
    if (flags)
      t->Draw(plane, a, camera, visible, flags);
    else
      t->DrawFlat(plane, a, visible);
  }
}

void TMultiTexture6::DrawTransformed(T3DPoint origin, TFloatPoint anchor, T3DPoint camera, foundation::TFlatVector x,
                                     foundation::TFlatVector y) {
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, {origin.X, origin.Y, 0}, {x.X, x.Y, 0}, {y.X, y.Y, 0},
                                {0, 0, x.X * y.Y - x.Y * y.X});
  TFloatRect r{float(SourceRect.Left), float(SourceRect.Top), float(SourceRect.Right), float(SourceRect.Bottom)};
  Draw(plane, anchor, camera, r);
}

void PadTileEdges(imaging::TSysBitmap* b, const TRect& v) {
  QEL_ASSERT(b->BytesPerPixel() == 4, u"PadTileEdges: not 32 bits per pixel");
  const int32_t W = b->Width, H = b->Height;
  float fraction = 0, step = H > 0 ? 1.0f / H : 0;
  for (int32_t y = v.Top; y < v.Bottom; ++y) {
    if (!b->DoProgress(fraction)) return;
    fraction += step;
    auto* row = reinterpret_cast<uint32_t*>(b->Row(y));
    for (int32_t x = 0; x < v.Left; ++x) row[x] = row[v.Left];
    for (int32_t x = v.Right; x < W; ++x) row[x] = row[v.Right - 1];
  }
  for (int32_t y = 0; y < v.Top; ++y) {
    if (!b->DoProgress(fraction)) return;
    fraction += step;
    std::memcpy(b->Row(y), b->Row(v.Top), size_t(W) * 4);
  }
  for (int32_t y = v.Bottom; y < H; ++y) {
    if (!b->DoProgress(fraction)) return;
    fraction += step;
    std::memcpy(b->Row(y), b->Row(v.Bottom - 1), size_t(W) * 4);
  }
}

imaging::TSysBitmap* GetTextureBitmap(imaging::TImage* image, bool alpha, bool premultiplied, bool forcePremultiplied) {
  imaging::TPixelFormat* f = image->Params.PixelFormat;
  bool hasAlpha = f && f->HasAlpha;
  const char16_t* name;
  if (hasAlpha && alpha && ((f->Premultiplied && premultiplied) || forcePremultiplied))
    name = u"A8r8g8b8";
  else if (hasAlpha)
    name = u"A8R8G8B8";
  else
    name = u"R8G8B8";
  return dynamic_cast<imaging::TSysBitmap*>(
      image->Store->GetBitmap(0, imaging::PixelFormatByName(name), imaging::TSysBitmap::StaticClass()));
}

// ---- image textures ----

TImageTex::TImageTex(TTextureManager6* manager, TImageTexStore* store) : TMultiTexture6(manager), Store(store) {
  std::lock_guard<std::recursive_mutex> g(store->Lock);
  store->Entries.push_back(this);
}

void TImageTex::Dispose() {
  if (Store) {
    std::lock_guard<std::recursive_mutex> g(Store->Lock);
    auto& e = Store->Entries;
    auto it = std::find(e.begin(), e.end(), this);
    if (it != e.end()) {
      *it = e.back();
      e.pop_back();
    }
  }
  Store = nullptr;
  TMultiTexture6::Dispose();
}

void TImageTexStore::Dispose() {
  std::vector<TImageTex*> entries;
  {
    std::lock_guard<std::recursive_mutex> g(Lock);
    entries.swap(Entries);
  }
  for (TImageTex* t : entries) {
    t->Store = nullptr;
    t->Free();
  }
  TRefObject::Dispose();
}

TImageTex* TImageTexStore::Find(TTextureManager6* manager) {
  std::lock_guard<std::recursive_mutex> g(Lock);
  TImageTex* found = nullptr;
  for (size_t i = 0; i < Entries.size();) {
    TImageTex* t = Entries[i];
    if (!t->Manager) {
      t->Free();  // leaves the list
      continue;
    }
    if (t->Manager == manager) found = t;
    ++i;
  }
  return found;
}

TImageTexStore* GetImageTexStore(imaging::TImage* image) {
  if (!image || !image->Store) return nullptr;
  foundation::TList* list = image->Store->LockAttachments(true);
  TImageTexStore* found = nullptr;
  for (int32_t i = 0; i < list->Count() && !found; ++i)
    found = dynamic_cast<TImageTexStore*>(static_cast<TRefObject*>(list->GetItem(i)));
  if (!found) {
    found = new TImageTexStore();
    list->Add(found);
  }
  image->Store->UnlockAttachments();
  return found;
}

TImageTex* GetImageTex(TImageTexStore* store, TTextureManager6* manager, imaging::TImage* image) {
  if (TImageTex* t = store->Find(manager)) return t;
  auto* t = new TImageTex(manager, store);
  imaging::TSysBitmap* b = GetTextureBitmap(image, true, true, true);
  if (b) t->SetBitmap(b, false, {0, 0, b->Width, b->Height}, 1, 1, b->PixelFormat->Premultiplied, false);
  return t;
}

}  // namespace render3d
