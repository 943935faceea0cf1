// Feeds arbitrary bytes to the converted-image loader and decodes what it
// accepts: a refusal leaves the stream where it was, a field count cut short
// is the stream's read error, and level 0 always has the declared size
// (decoded, or the green substitute) whatever the payload holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decoders/DecodersInit.h"
#include "decoders/SysGfxLoader.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/ImagingInit.h"

using fuzzing::Check;
using fuzzing::kMaxDecodedPixels;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  imaging::InitImaging();
  decoders::InitDecoders();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  imaging::TLevelProvider none;
  imaging::TBitmapStore* store = nullptr;
  try {
    store = decoders::LoadGfxBitmapStore(s, u"fuzz.kvgfx", false, none);
  } catch (const foundation::EStreamReadError&) {
    Check(s->GetPosition() == 0);
    s->Free();
    return 0;
  }
  if (!store) {
    Check(s->GetPosition() == 0);
    s->Free();
    return 0;
  }
  auto* gfx = static_cast<decoders::TGfxBitmapStore*>(store);
  if (int64_t(store->Params.Width) * store->Params.Height <= kMaxDecodedPixels) {
    imaging::TBitmap* b = gfx->Image->GetBitmap();
    Check(b != nullptr);
    if (!gfx->Image->Decoded) Check(b->Width == store->Params.Width && b->Height == store->Params.Height);
  }
  store->Free();
  s->Free();
  return 0;
}
