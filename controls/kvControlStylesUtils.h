// Box pictures of style states: a generator makes and caches one picture per
// pixel size, and controls share the cached views by reference.
#pragma once

#include <array>
#include <cstdint>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"

namespace imaging {
class TImage;
}
namespace render3d {
class TDrawSurface;
}

namespace controls {

class TStageView;

class TStageGenerator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStageGenerator)
  explicit TStageGenerator(float scale) : Scale(scale) {}
  void Dispose() override;

  virtual TStageView* CreateView(int32_t width, int32_t height);
  // The picture of that size; nil when there is nothing to draw. The caller owns it.
  virtual imaging::TImage* Render(int32_t width, int32_t height) = 0;

  // The cached view of that size with one more reference for the caller, or a
  // new one entered in the cache. The caller frees it when done.
  TStageView* GetView(int32_t width, int32_t height);

  static int32_t BucketOf(int32_t width, int32_t height) {
    return static_cast<int32_t>(static_cast<uint32_t>(width + height) % 64u);
  }
  int32_t ViewCount() const;

  float Scale = 0;

 private:
  friend class TStageView;
  void Unlink(TStageView* view);
  // Views are not held by the cache: the last release of a view takes it out.
  std::array<TStageView*, 64> FBuckets{};
};

class TStageView : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStageView)
  TStageView(TStageGenerator* generator, int32_t width, int32_t height);
  void Dispose() override;

  // The picture, rendered on first use (nil when the generator makes none).
  imaging::TImage* GetImage();
  bool HitTest(int32_t x, int32_t y);
  void Draw(render3d::TDrawSurface* surface, int32_t x, int32_t y, const foundation::TRect& clip);

  foundation::TRef<TStageGenerator> Generator;
  TStageView* NextInBucket = nullptr;  // not held: the bucket chain
  int32_t Width = 0, Height = 0;
  foundation::TRect Bounds{};
  foundation::TRef<imaging::TImage> Image;
  bool Rendered = false;
  bool RectHit = false;
};

class TBoxGenerator : public TStageGenerator {
 public:
  QEL_CLASSNAME(TBoxGenerator)
  explicit TBoxGenerator(float scale) : TStageGenerator(scale) {}
  TStageView* CreateView(int32_t width, int32_t height) override;
  imaging::TImage* Render(int32_t width, int32_t height) override;

  uint32_t FillColor = 0;   // ARGB
  uint32_t FrameColor = 0;  // ARGB
  float FrameWidth = 0;     // unscaled pixels
  float Radius = 0;         // unscaled pixels
};

// Releases the process-wide rasterizer of the box pictures.
void DoneControlStylesUtils();

}  // namespace controls
