// Feeds arbitrary bytes to the BMP loader and to the icon DIB reader, and
// checks what must hold for any input: a refusal leaves the stream where it
// was, a decoded picture is within the pixel cap, and an icon image is
// always "A8R8G8B8".
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoders/SysBitmapLoader.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/ImagingInit.h"
#include "imaging/kvBitmapLoader.h"

using fuzzing::Check;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  imaging::InitImaging();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  imaging::TLevelProvider none;
  imaging::TBitmapStore* store = decoders::LoadBmpBitmapStore(s, u"fuzz.bmp", false, none);
  if (store) {
    Check(int64_t(store->Params.Width) * store->Params.Height <= (int64_t(1) << 28));
    store->Free();
  } else {
    Check(s->GetPosition() == 0);
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
