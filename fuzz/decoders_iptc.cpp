// The JPEG segment walk, the Adobe resource blocks and the IPTC reader over
// arbitrary bytes: as a whole file, as an APP13 payload behind SOI, or as the
// data of an IPTC resource block. Loading never raises, and nothing is left
// behind.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "decoders/MdxExifIPTC.h"
#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"


QEL_FUZZ_TARGET(data, size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes;
  size_t n = size - 1 > 65000 ? 65000 : size - 1;
  const uint8_t* rest = data + 1;
  switch (data[0] % 3) {
    case 0:
      bytes.assign(rest, rest + n);
      break;
    case 1:
      bytes = {0xFF, 0xD8, 0xFF, 0xED, static_cast<uint8_t>((n + 16) >> 8), static_cast<uint8_t>(n + 16)};
      for (char c : std::string("Photoshop 3.0", 14)) bytes.push_back(static_cast<uint8_t>(c));
      bytes.insert(bytes.end(), rest, rest + n);
      break;
    default: {
      // One IPTC resource block around the rest.
      size_t block = 12 + n + (n & 1);
      bytes = {0xFF, 0xD8, 0xFF, 0xED, static_cast<uint8_t>((block + 16) >> 8), static_cast<uint8_t>(block + 16)};
      for (char c : std::string("Photoshop 3.0", 14)) bytes.push_back(static_cast<uint8_t>(c));
      const uint8_t head[] = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0,
                              static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
      bytes.insert(bytes.end(), head, head + sizeof head);
      bytes.insert(bytes.end(), rest, rest + n);
      if (n & 1) bytes.push_back(0);
      break;
    }
  }
  {
    foundation::TMemoryStream* s = fuzzing::StreamOf(bytes.data(), bytes.size());
    auto* iptc = new decoders::TIPTCData();
    iptc->LoadFromJPEG(s);
    for (uint8_t tag : {0, 5, 25, 80, 90, 105, 120}) {
      (void)iptc->GetAppString(tag);
      (void)decoders::TrimFirstValue(iptc->GetAppStrings(tag));
    }
    iptc->Free();
    s->Free();
  }
  return 0;
}
