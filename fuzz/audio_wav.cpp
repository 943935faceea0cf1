// Feeds arbitrary bytes to the media probe as a ".wav" file and plays what
// it accepts through the converter the format code chooses (WAV, resampled
// WAV, MS ADPCM), checking that the audio range lies inside the stream and
// that every read delivers the bytes asked for.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "audio/MusicConverters.h"
#include "audio/MusicTypes.h"
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
  audio::TMediaInfo info;
  if (audio::TMediaInfoExtractor::GetMediaInfo(s, u"fuzz.wav", info)) {
    Check(uint64_t(info.DataOffset) + info.DataSize <= size || info.FormatCode == audio::mfcMpeg);
    audio::TWavConverter* c = nullptr;
    if (info.FormatCode == audio::mfcWavPcm || info.FormatCode == audio::mfcWavFloat)
      c = new audio::TWavConverter();
    else if (info.FormatCode == audio::mfcWavAdpcm)
      c = new audio::TAdpcmConverter();
    if (c) {
      c->Stream = s;
      if (c->Open(info)) {
        for (int i = 0; i < 16; ++i) {
          bool more = c->Read(4096);
          Check(c->OutputBuffer->Used >= 4096);
          c->OutputBuffer->Consume(4096);
          if (!more) break;
        }
        c->Seek(10);
        c->Read(512);
      }
      c->Free();
    }
  }
  s->Free();
  return 0;
}
