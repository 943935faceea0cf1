// Arbitrary bytes as an embedded image profile: transforming a small bitmap
// into and out of it either applies a transform or leaves the pixels alone.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "imaging/Startup.h"
#include "imaging/kvICCColorProfile.h"

QEL_FUZZ_TARGET(data, size) {
  static bool started = (imaging::StartImaging(), true);
  (void)started;
  using namespace imaging;
  TColorProfile* p = CreateColorProfile(std::vector<uint8_t>(data, data + size), u"fuzz");
  if (!p) return 0;
  TSysBitmap* b = CreateSysBitmap(8, 2, size & 1 ? pfA8R8G8B8 : pfR8G8B8);
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 8 * b->BytesPerPixel(); ++i) b->Row(y)[i] = uint8_t(i * 31 + y);
  TColorTransform* in = CreateICCColorTransform(p, SRGBColorProfile);
  TColorTransform* out = CreateICCColorTransform(SRGBColorProfile, p);
  in->TransformBitmap(b);
  out->TransformBitmap(b);
  in->Free();
  out->Free();
  b->Free();
  p->Free();
  return 0;
}
