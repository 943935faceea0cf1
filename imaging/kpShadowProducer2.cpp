#include "imaging/kpShadowProducer2.h"

#include <cstring>

#include "imaging/ImagingAssert.h"
#include "imaging/SysBitmapStore.h"

namespace imaging {

TShadowProducer::TShadowProducer(TProgress aProgress) : Progress(std::move(aProgress)) {
  DropShadow = new TDropShadow(Progress);
}

void TShadowProducer::Dispose() {
  foundation::FreeAndNil(DropShadow);
  foundation::TRefObject::Dispose();
}

TImage* TShadowProducer::Produce(TImage* Image) {
  IMG_ASSERT(Image && Image->Store, "");
  auto* source = dynamic_cast<TSysBitmap*>(Image->Store->GetBitmap(0, pfA8R8G8B8, TSysBitmap::StaticClass()));
  IMG_ASSERT(source && source->BytesPerPixel() == 4, "");
  DropShadow->SetSize(Radius);
  DropShadow->Make(source);
  TSysBitmap* mask = DropShadow->Mask;
  IMG_ASSERT(mask && mask->BytesPerPixel() == 1, "");
  TSysBitmap* out = CreateSysBitmap(mask->Width, mask->Height, pfA8R8G8B8);
  const uint32_t alpha = Color >> 24, rgb = Color & 0x00FFFFFFu;
  bool abort = false;
  for (int32_t y = 0; y < out->Height; ++y) std::memset(out->Row(y), 0, static_cast<size_t>(out->Width) * 4);
  for (int32_t y = 0; y < out->Height; ++y) {
    const uint8_t* m = mask->Row(y);
    uint8_t* d = out->Row(y);
    for (int32_t x = 0; x < out->Width; ++x, d += 4) {
      uint32_t v;
      if (m[x] == 0)
        v = rgb;
      else if (m[x] == 255)
        v = Color;
      else
        v = rgb | ((m[x] * alpha / 255) << 24);
      std::memcpy(d, &v, 4);
    }
    if (Progress) Progress(this, abort);
    if (abort) break;
  }
  return WrapBitmapAsImage(out, true, Image->Params.Name);
}

}  // namespace imaging
