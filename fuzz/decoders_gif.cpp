// Feeds arbitrary bytes to the GIF loader (still picture and frames atlas)
// and to the reader's frame skipping, and checks what must hold for any
// input: the reader's errors arrive as exceptions inside the loader (never
// the process's end), an atlas is as wide as its frames and a still picture
// has the size of its first frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "container/kvZLib.h"
#include "decoders/FPReadGif.h"
#include "decoders/SysGifLoader.h"
#include "decoders/Startup.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"

using fuzzing::Check;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  decoders::StartDecoders();
  // Atlases of a few megapixels keep each input fast and within memory.
  decoders::GifAtlasPixelLimit = int64_t(4) << 20;
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  imaging::TLevelProvider none;
  for (bool atlas : {false, true}) {
    foundation::TMemoryStream* s = StreamOf(data, size);
    imaging::TBitmapStore* store = decoders::LoadGifImage(s, u"fuzz.gif", false, none, atlas);
    if (store) {
      auto* tag = imaging::TBitmapStore::FindAttachment<decoders::TTilesTag>(store);
      if (tag) Check(store->Params.Width == tag->FrameWidth * tag->FrameCount && tag->FrameCount >= 1);
      store->Free();
    }
    s->Free();
  }
  // Skipping frames walks the same data without decoding it.
  foundation::TMemoryStream* s = StreamOf(data, size);
  auto* reader = new decoders::TFPReaderGif();
  if (reader->InternalCheck(s)) {
    s->SetPosition(13);
    for (int i = 0; i < 64 && reader->SkipFrame(s); ++i) {
    }
  }
  reader->Free();
  s->Free();
  return 0;
}
