// Feeds arbitrary bytes to the BMP loader and to the icon DIB reader, and
// checks what must hold for any input: a refusal leaves the stream where it
// was, a decoded picture stays within the loader's own limit (at most 1,024
// pixels a byte of file beyond 64 Ki pixels: run-length codes, the most
// compact form), and an icon image is always "A8R8G8B8". Run-length headers
// promising more than the fuzzing pixel cap are not decoded: each would take
// a second and crowd out the rest of the corpus (uncompressed rows must lie
// in the input, so those stay small and every header is tried).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoders/SysBitmapLoader.h"
#include "decoders/Startup.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/kvBitmapLoader.h"

using fuzzing::Check;
using fuzzing::kMaxDecodedPixels;
using fuzzing::StreamOf;

namespace {

int64_t Get32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// The pixels a run-length info header at "at" promises; 0 for other headers.
int64_t Promised(const uint8_t* data, size_t size, size_t at) {
  if (size < at + 20 || Get32(data + at) < 40) return 0;
  const int64_t compression = Get32(data + at + 16);
  if (compression != 1 && compression != 2) return 0;
  const int64_t w = Get32(data + at + 4), h = Get32(data + at + 8);
  return (w < 0 ? -w : w) * (h < 0 ? -h : h);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  decoders::StartDecoders();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  if (Promised(data, size, 14) <= kMaxDecodedPixels) {
    imaging::TLevelProvider none;
    imaging::TBitmapStore* store = decoders::LoadBmpBitmapStore(s, u"fuzz.bmp", false, none);
    if (store) {
      Check(int64_t(store->Params.Width) * store->Params.Height <= 1024 * int64_t(size) + 65536);
      store->Free();
    } else {
      Check(s->GetPosition() == 0);
    }
  }
  if (Promised(data, size, size > 14 ? 14 : 0) > kMaxDecodedPixels) {
    s->Free();
    return 0;
  }
  s->SetPosition(size > 14 ? 14 : 0);
  try {
    imaging::TDirectBitmap* icon = imaging::LoadIconDIB(s);
    if (icon) {
      Check(icon->PixelFormat == imaging::pfA8R8G8B8);
      icon->Free();
    }
  } catch (const foundation::EStreamReadError&) {
    // a header, colour table or masks cut short
  }
  s->Free();
  return 0;
}
