// The texture store: per image, the multi-textures made for each reduction
// level, atlas grid, premultiplication and texture manager, built and
// uploaded once and shared by every draw. The store hangs on the image's
// bitmap store as an attachment and so lives exactly as long as the image
// data. Lookups come from the GUI thread and from loader threads: each store
// has its own lock, held only for lookups and insertion, never while a
// bitmap is produced or a texture built.
#pragma once

#include <mutex>

#include "render3d/Dev3DTiles.h"

namespace render3d {

struct TTextureOptions {
  int32_t Level = 0;
  int32_t AtlasColumns = 0, AtlasRows = 0;
  bool Atlas = false;
  bool Premultiplied = false;
};

class TTexItem : public TRefObject {
 public:
  QEL_CLASSNAME(TTexItem)
  void Dispose() override;
  bool Matches(TTextureManager6* manager, const TTextureOptions& options) const;
  TTextureManager6* Manager = nullptr;  // not owned
  TMultiTexture6* Texture = nullptr;    // owned
  TTextureOptions Options;
  TTexItem* Next = nullptr;
};

class TTexStore : public TRefObject {
 public:
  QEL_CLASSNAME(TTexStore)
  void Dispose() override;
  TTexItem* Find(TTextureManager6* manager, const TTextureOptions& options) const;
  int32_t ItemCount() const;
  std::mutex Lock;  // guards the buckets and their chains
  TTexItem* Buckets[8] = {};
};

// The image's store, made and attached when missing and create is set.
TTexStore* GetTexStore(imaging::TImage* image, bool create);

class TTextureSource : public TRefObject {
 public:
  QEL_CLASSNAME(TTextureSource)
  explicit TTextureSource(T3DScreen* screen);
  void Dispose() override;
  // The cached texture of the image for these options (made when missing);
  // it belongs to the store. Null when the image has no bitmap.
  TMultiTexture6* GetTexture(imaging::TImage* image, const TTextureOptions& options);

  T3DScreen* Screen = nullptr;
  TTextureManager6* Manager = nullptr;  // owned
};

}  // namespace render3d
