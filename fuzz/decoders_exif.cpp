// The Exif reader over arbitrary bytes: as a whole file, or as the payload of
// an APP1 segment behind SOI (so the directory walk is reached at once).
// Whatever the input, the reader ends, raises at most the stream read error,
// and leaves no object behind (the wrapper counts them).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "decoders/MdxExif.h"
#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"

using fuzzing::Check;

QEL_FUZZ_TARGET(data, size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes;
  if (data[0] & 1) {
    // APP1: "Exif\0\0" and the rest as the TIFF structure.
    size_t n = size - 1 > 65000 ? 65000 : size - 1;
    bytes = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>((n + 8) >> 8), static_cast<uint8_t>(n + 8),
             'E',  'x',  'i',  'f',  0,    0};
    bytes.insert(bytes.end(), data + 1, data + 1 + n);
  } else {
    bytes.assign(data + 1, data + size);
  }
  {
    foundation::TMemoryStream* s = fuzzing::StreamOf(bytes.data(), bytes.size());
    decoders::TExif exif;
    try {
      exif.LoadFromJPEG(s);
    } catch (const foundation::EStreamReadError&) {
    }
    Check(exif.HasExif || exif.Make.empty());
    s->Free();
  }
  return 0;
}
