// Turns an image's alpha into a coloured soft shadow image.
#pragma once

#include <functional>

#include "imaging/DropShadow2.h"
#include "imaging/kvImage.h"

namespace imaging {

class TShadowProducer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TShadowProducer)
  using TProgress = std::function<void(void* Sender, bool& Abort)>;
  explicit TShadowProducer(TProgress Progress);
  void Dispose() override;
  // A new image of the blurred alpha in Color, named as Image.
  TImage* Produce(TImage* Image);

  TDropShadow* DropShadow = nullptr;
  TProgress Progress;
  uint32_t Color = 0xFF000000u;  // 0xAARRGGBB
  double Radius = 0;
};

}  // namespace imaging
