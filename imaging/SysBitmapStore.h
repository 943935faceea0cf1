// The bitmap store every loader and generator uses: a loader supplies the
// levels it decodes directly and the store makes every other level by
// halving the level above it. TWrapperBitmapStore turns one bitmap into such
// a store. The unit also fills the image unit's hooks: any bitmap as an
// image, and the quarter and half turns applied to levels as they are made.
#pragma once

#include "imaging/SysBitmap.h"
#include "imaging/kvImage.h"

namespace imaging {

class TSysBitmapStore : public TBitmapStore {
 public:
  QEL_CLASSNAME(TSysBitmapStore)
  TSysBitmapStore(const std::u16string& Name, const TSize& Size, TPixelFormat* PixelFormat,
                  const TLevelProvider& Provider);

  void GetMipLevel(TMipLevelResult& Result, int32_t Level, TPixelFormat* PixelFormat,
                   TBitmapClass RequiredClass) override;
  TBitmap* MatchBitmap(TBitmap* Bitmap, TBitmapClass RequiredClass, TPixelFormat* PixelFormat) override;
  // A level the store's source can produce directly, or no bitmap.
  virtual void LoadMipLevel(TMipLevelResult& Result, int32_t Level) = 0;

  TLevelRoutine LevelRoutine;
};

class TWrapperBitmapStore : public TSysBitmapStore {
 public:
  QEL_CLASSNAME(TWrapperBitmapStore)
  TWrapperBitmapStore(const std::u16string& Name, TBitmap* Bitmap, bool OwnsBitmap, const TLevelProvider& Provider);
  void Dispose() override;
  void LoadMipLevel(TMipLevelResult& Result, int32_t Level) override;

  bool OwnsBitmap = false;
  TBitmap* Bitmap = nullptr;
};

TImage* WrapBitmapAsImage(TBitmap* Bitmap, bool Owns, const std::u16string& Name);
void RotateBitmap90Hook(TBitmapStore* Store, TBitmapReference& Reference);
void RotateBitmap270Hook(TBitmapStore* Store, TBitmapReference& Reference);
void RotateBitmap180Hook(TBitmapStore* Store, TBitmapReference& Reference);

void InitSysBitmapStore();

}  // namespace imaging
