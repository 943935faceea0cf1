// Feeds arbitrary bytes to the MPEG audio probe, with and without a bit-rate
// hint, and checks what must hold for any input it accepts: the first frame
// lies inside the stream, the audio range ends at or before the stream's end,
// the format is 16-bit PCM of one or two channels at a standard rate, and
// the frame duration is a number.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/MpegInfo.h"
#include "foundation/kvStream.h"
#include "audio/Startup.h"
#include "fuzz/FuzzSupport.h"

using fuzzing::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  audio::StartAudio();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = fuzzing::StreamOf(data, size);
  for (uint32_t hint : {0u, 800u, 64000u}) {
    audio::TMediaInfo info;
    std::memset(&info, 0, sizeof(info));
    if (!audio::TMpegInfo::Read(s, info, hint)) continue;
    Check(info.FormatCode == audio::mfcMpeg);
    Check(info.DataOffset + 4 <= size);
    Check(uint64_t(info.DataOffset) + info.DataSize <= size);
    Check(info.Format.nChannels == 1 || info.Format.nChannels == 2);
    Check(info.Format.wBitsPerSample == 16 && info.Format.nSamplesPerSec >= 8000);
    Check(!std::isnan(info.FrameDuration));
  }
  s->Free();
  return 0;
}
