// Feeds arbitrary bytes to the PNG loader and converts what it accepts, and
// checks what must hold for any input: a refusal leaves the stream where it
// was, an accepted picture has a size within the pixel cap, and level 0
// always arrives in the declared size and format (blank when it does not
// convert).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoders/Startup.h"
#include "decoders/SysPng.h"
#include "decoders/SysPngLoader.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"

using fuzzing::Check;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  decoders::StartDecoders();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  decoders::ScanPngIccProfile(s);
  s->SetPosition(0);
  imaging::TLevelProvider none;
  imaging::TBitmapStore* store = decoders::LoadPngBitmapStore(s, u"fuzz.png", false, none);
  if (!store) {
    Check(s->GetPosition() == 0);
    s->Free();
    return 0;
  }
  const int32_t w = store->Params.Width, h = store->Params.Height;
  Check(w > 0 && h > 0 && int64_t(w) * h <= (int64_t(1) << 28));
  auto* png = static_cast<decoders::TPngBitmapStore*>(store);
  imaging::TMipLevelResult r;
  png->LoadMipLevel(r, 0);
  Check(r.Bitmap && r.Owned && r.Bitmap->Width == w && r.Bitmap->Height == h &&
        r.Bitmap->PixelFormat == store->Params.PixelFormat);
  r.Bitmap->Free();
  store->Free();
  s->Free();
  return 0;
}
