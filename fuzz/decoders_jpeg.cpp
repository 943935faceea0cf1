// Feeds arbitrary bytes to the JPEG loader and decodes what it accepts, and
// checks what must hold for any input: a refusal leaves the stream where it
// was, the library's errors arrive as exceptions (never the process's end),
// and a decoded level has the size the header promises at its scale, from
// 1/8 down to the full size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoders/Startup.h"
#include "decoders/SysJpegLoader.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"

using fuzzing::Check;
using fuzzing::kMaxDecodedPixels;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  decoders::StartDecoders();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  decoders::ScanJpegIccProfile(s);
  s->SetPosition(0);
  imaging::TLevelProvider none;
  imaging::TBitmapStore* store = decoders::LoadJpegBitmapStore(s, u"fuzz.jpg", false, none);
  if (!store) {
    Check(s->GetPosition() == 0);
    s->Free();
    return 0;
  }
  auto* jpeg = static_cast<decoders::TJpegBitmapStore*>(store);
  const int32_t w = store->Params.Width, h = store->Params.Height;
  for (int32_t level = 3; level >= 0; --level) {
    const int64_t lw = (int64_t(w) + (1 << level) - 1) >> level, lh = (int64_t(h) + (1 << level) - 1) >> level;
    if (lw * lh > kMaxDecodedPixels) break;
    imaging::TMipLevelResult r;
    try {
      jpeg->LoadMipLevel(r, level);
    } catch (const foundation::EAssertionFailed&) {
      break;  // "JPEG error #<code>"
    }
    Check(r.Bitmap && r.Owned && r.Bitmap->Width == lw && r.Bitmap->Height == lh);
    r.Bitmap->Free();
  }
  store->Free();
  s->Free();
  return 0;
}
