// Preset masks: soft-edged rounded rectangles and ellipses, named by
// "PresetedMask:" keys that the show's resource generator renders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "imaging/kvImage.h"

namespace imaging {

struct TMaskParams {
  uint8_t Kind = 0;  // 0 rounded rectangle, 1 ellipse
  float Softness = 0;
  float CornerRadius = 0;
  int32_t Width = 512;
  int32_t Height = 512;
};

std::u16string BuildPresetMaskKey(const TMaskParams& Params);
// Unreadable sizes give 512, an unreadable or unknown kind 0, unreadable
// percentages 0.
void ParseMaskKey(const std::u16string& Text, TMaskParams& Params);

// The grey value at distance D of an edge at B with a soft width C.
uint8_t ShapeValue(float D, float B, float C);

class TMaskGenerator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMaskGenerator)
  using TProgress = std::function<void(void* Sender, bool& Abort)>;
  explicit TMaskGenerator(TProgress Progress) : Progress(std::move(Progress)) {}
  TProgress Progress;
};

// A new image of the mask (R8G8B8, grey), named by its key; nil for a size of
// 0 or less or beyond the bitmap pixel cap.
TImage* GenerateMaskImage(TMaskGenerator* Generator, const TMaskParams& Params);

}  // namespace imaging
