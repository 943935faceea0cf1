// The bilinear sampler of the affine drawer: 24-bit sources are copied,
// 32-bit sources blended over the destination by their alpha.
#pragma once

#include "imaging/SysAffineDrawer.h"

namespace imaging {

class TBilinearDrawer : public TImageDrawer {
 public:
  QEL_CLASSNAME(TBilinearDrawer)
  using TImageDrawer::TImageDrawer;
  bool InitSampler() override;
};

}  // namespace imaging
