// Arbitrary bytes as an icon or cursor file: the directory is read, each
// image (up to eight) is decoded, and the best image for a few sizes is
// picked with and without mip levels. Images whose headers promise more
// than the fuzzing pixel cap are not decoded (they would only spend time).
#include <cstddef>
#include <cstdint>

#include "decoders/Startup.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/kvIcoFile.h"

using fuzzing::Check;
using fuzzing::kMaxDecodedPixels;
using fuzzing::StreamOf;

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint32_t Be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The pixels an image's own header promises (PNG or DIB); 0 when unknown.
int64_t Promised(const uint8_t* data, size_t size, uint32_t offset) {
  if (size < 24 || offset > size - 24) return 0;
  const uint8_t* p = data + offset;
  double pixels;
  if (p[0] == 0x89 && p[1] == 'P') {
    pixels = double(Be32(p + 16)) * double(Be32(p + 20));
  } else {
    const double w = int32_t(Le32(p + 4)), h = int32_t(Le32(p + 8));
    pixels = (w < 0 ? -w : w) * (h < 0 ? -h : h) / 2;
  }
  return pixels > 1e12 ? int64_t(1e12) : int64_t(pixels);
}

bool AllSmall(const imaging::TIcoFile* ico, const uint8_t* data, size_t size) {
  for (const auto& e : ico->Entries())
    if (Promised(data, size, e.ImageOffset) > kMaxDecodedPixels) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  decoders::StartDecoders();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  auto* ico = new imaging::TIcoFile(s, true, u"fuzz.ico");
  Check(ico->Count() <= 65535);
  try {
    for (int32_t i = 0; i < ico->Count() && i < 8; ++i) {
      if (Promised(data, size, ico->Entries()[size_t(i)].ImageOffset) > kMaxDecodedPixels) continue;
      if (imaging::TImage* img = ico->GetImage(i)) {
        Check(img->GetBitmap() != nullptr);
        img->Free();
      }
    }
    if (ico->Count() <= 64 && AllSmall(ico, data, size)) {
      for (int32_t want : {16, 32, 300}) {
        if (imaging::TImage* img = ico->GetBestImage(want, want, want == 16)) {
          imaging::TBitmap* b = img->GetBitmap();
          Check(b != nullptr && b->Width > 0 && b->Height > 0);
          img->Free();
        }
      }
    }
  } catch (const foundation::Exception&) {
    // a header, colour table or image cut short
  }
  ico->Free();
  return 0;
}
