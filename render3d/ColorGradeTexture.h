// The colour-grade texture of a show object: a 32 x 32 x 32 volume texture
// (mode 1) or a 256 x 16 ramp filled from a table bitmap or the identity,
// graded by the object's filter chain, and rebuilt on demand after the
// device lost it.
#pragma once

#include "render3d/Dev3DScreen.h"

namespace render3d {

// Applies an object's filter chain (first filter) to the rectangle
// (0, 0, width, rows) of a 32-bit bitmap in place. The show model installs
// it at start-up; without it filters change nothing.
using TFilterChainApplier = void (*)(TRefObject* first, imaging::TSysBitmap* bitmap, int32_t width, int32_t rows);
void SetFilterChainApplier(TFilterChainApplier applier);
TFilterChainApplier GetFilterChainApplier();

class TCustomColorGradeTexture : public TCustomColoringTexture {
 public:
  QEL_CLASSNAME(TCustomColorGradeTexture)
  TCustomColorGradeTexture(T3DScreen* screen, uint8_t mode);
  void Dispose() override;
  TBaseTexture* GetTexture() override;
  // A new filter chain (not owned): the texture is rebuilt at once.
  void SetSource(TRefObject* filters);
  void SetBitmap(imaging::TSysBitmap* bitmap, bool owns);

  bool OwnsBitmap = false;
  imaging::TSysBitmap* Bitmap = nullptr;
  uint8_t Mode = 1;
  TRefObject* Filters = nullptr;  // not owned
};

}  // namespace render3d
