// The parameters of animated images cut from a grid of frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"

namespace imaging {

struct TImageAnimationParams {
  bool Enable = false;             // "AnimEnable"
  int32_t Columns = 1;             // "AnimColumns"
  int32_t Rows = 1;                // "AnimRows"
  int32_t Count = 1;               // "AnimCount"
  std::vector<int32_t> Durations;  // "AnimInterval", ms per frame
  int32_t RepCount = 0;            // "AnimRepCount"
  double Offset = 0.0;             // "AnimOffset"
};

extern const TImageAnimationParams DefaultImageAnimationParams;

// At most this many frames are taken from a show's "AnimCount" (show data):
// a larger count is cut to it before anything is allocated.
inline constexpr int32_t kMaxAnimationFrames = 65536;

// Durations gets Params.Count entries from the comma list Text; the last item
// repeats; an empty text gives 100 ms per frame. Count is first held in
// 0 .. kMaxAnimationFrames, so Durations always has Count entries.
void ParseImageAnimationDurations(const std::u16string& Text, TImageAnimationParams& Params);
bool SameImageAnimationParams(const TImageAnimationParams& A, const TImageAnimationParams& B);
void GetAnimationFrameRect(foundation::TFloatRect& Rect, int32_t Width, int32_t Height, int32_t Columns,
                           int32_t Rows, int32_t Column, int32_t Row);

}  // namespace imaging
