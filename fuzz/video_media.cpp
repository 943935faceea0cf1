// Feeds arbitrary bytes to the video decoder, the audio decoder and the GIF
// video source through a memory stream, and checks what must hold for any
// input: opening fails or succeeds without a crash or hang, decoded frames
// fit the image they are copied into, and nothing is left alive.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "video/FFMpegDll2.h"
#include "video/FFMpegVideoSource2.h"
#include "video/GifVideoSource.h"
#include "video/Startup.h"

using fuzzing::Check;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  video::StartVideo();
  video::FFMpegLibraryFolder.clear();
  video::FFMpegCreateHardwareDevice = false;
  Check(video::LoadFFMpeg());
  // Caches filled once, so an input's object count compares like with like.
  video::GrayTable();
  return 0;
}

namespace {

void Video(const uint8_t* data, size_t size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  auto* src = new video::TVideoSource2(s, true, u"fuzz", false, false);
  const video::TVideoParams& p = src->Params;
  if (src->Decoder && int64_t(p.Width) * p.Height <= fuzzing::kMaxDecodedPixels && p.Width > 0 && p.Height > 0) {
    auto* img = new video::TMemoryYUVImage(p.Width, p.Height, p.HasAlpha);
    for (int32_t n : {0, 1, 2, 7, 3, 40, 1}) {
      if (src->SetPosition(n)) src->GetFrameYUV(img);
      Check(img->LockedCount == 0);
    }
    img->Free();
  }
  src->Free();
}

void Audio(const uint8_t* data, size_t size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  auto* a = new video::TFFMpegAudio();
  if (a->Open(s, u"fuzz") && a->AudioStreamCount > 0) {
    for (int i = 0; i < 16 && a->DecodeNext(); ++i)
      Check(a->OutputLength >= 0 && (a->OutputLength == 0 || a->Output != nullptr));
    a->Seek(100000);
  }
  a->Free();
  s->Free();
}

void Gif(const uint8_t* data, size_t size) {
  // Canvases have the logical screen's size: keep them within the fuzzer's memory.
  if (size < 10 || int64_t(data[6] | data[7] << 8) * (data[8] | data[9] << 8) > fuzzing::kMaxDecodedPixels) return;
  video::TFrameSource* g =
      video::GifVideoSourceFactory(StreamOf(data, size), true, u"fuzz.gif", false, false);
  if (!g) return;
  if (int64_t(g->Params.Width) * g->Params.Height <= fuzzing::kMaxDecodedPixels) {
    auto* img = new video::TMemoryYUVImage(g->Params.Width, g->Params.Height, true);
    for (int32_t n : {1, 0, 25, 3, 12})
      if (g->SetPosition(n)) g->GetFrameYUV(img);
    img->Free();
  }
  g->Free();
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  if (size >= 3 && std::memcmp(data, "GIF", 3) == 0) {
    Gif(data, size);
    return 0;
  }
  Video(data, size);
  Audio(data, size);
  return 0;
}
