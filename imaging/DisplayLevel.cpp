#include "imaging/DisplayLevel.h"

#include <algorithm>

namespace imaging {

int32_t LevelSide(int32_t Size, int32_t Level) {
  if (Level <= 0) return Size;
  const int64_t scale = int64_t(1) << std::min(Level, 30);
  return static_cast<int32_t>((int64_t(Size) + scale - 1) / scale);
}

int32_t DisplayLevelFor(int32_t Width, int32_t Height, int32_t TargetWidth, int32_t TargetHeight,
                        int32_t MaxLevel) {
  int32_t level = 0;
  while (level < MaxLevel && LevelSide(Width, level + 1) >= TargetWidth &&
         LevelSide(Height, level + 1) >= TargetHeight)
    ++level;
  return level;
}

TSysBitmap* DisplayBitmapOfLevel(TBitmapStore* Store, int32_t Level, TColorProfile* Destination) {
  if (!Store) return nullptr;
  TBitmap* level = Store->GetBitmap(Level, pfR8G8B8, TSysBitmap::StaticClass());
  if (!level) return nullptr;
  TSysBitmap* copy = CreateSysBitmap(level->Width, level->Height, pfR8G8B8);
  try {
    copy->CopyFrom(level);
    if (TColorTransform* transform = GetColorTransform(Store->ColorProfile, Destination)) {
      try {
        transform->TransformBitmap(copy);
      } catch (...) {
        transform->Free();
        throw;
      }
      transform->Free();
    }
  } catch (...) {
    copy->Free();
    throw;
  }
  return copy;
}

}  // namespace imaging
