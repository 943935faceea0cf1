// Feeds arbitrary bytes to the acm area's ADPCM streams. The first 8 bytes
// choose the format (MS or IMA, channels, block align, samples per block,
// coefficients); the rest is the data, converted in one call with the end
// mark. Checks that no more is written or consumed than there is.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/acm/api.h"

using fuzzing::Check;
namespace acm = platform::acm;

QEL_FUZZ_TARGET(data, size) {
  if (size < 8) return 0;
  acm::WaveFormat src;
  bool ms = (data[0] & 1) == 0;
  src.tag = ms ? 2 : 0x11;
  src.channels = uint16_t(1 + ((data[0] >> 1) & 1));
  src.samplesPerSec = 22050;
  src.blockAlign = uint16_t(data[1] | ((data[2] & 0x1F) << 8));
  src.bitsPerSample = 4;
  src.avgBytesPerSec = 11025;
  uint16_t spb = uint16_t(data[3] | (data[4] << 8));
  src.extra = {uint8_t(spb), uint8_t(spb >> 8)};
  size_t pos = 5;
  if (ms) {
    uint8_t count = data[5] % 9;  // 0-8 coefficient pairs
    src.extra.push_back(count);
    src.extra.push_back(0);
    pos = 6;
    for (int i = 0; i < count * 4 && pos < size; ++i) src.extra.push_back(data[pos++]);
  }
  acm::WaveFormat dst;
  dst.tag = 1;
  dst.channels = src.channels;
  dst.samplesPerSec = src.samplesPerSec;
  dst.bitsPerSample = 16;
  dst.blockAlign = uint16_t(2 * src.channels);
  dst.avgBytesPerSec = dst.blockAlign * dst.samplesPerSec;
  acm::AcmStream s = acm::openStream(src, dst);
  if (!s) return 0;
  std::vector<uint8_t> input(data + pos, data + size);
  uint32_t out = 0;
  Check(acm::streamSize(s, uint32_t(input.size()) + src.blockAlign, out));
  std::vector<uint8_t> pcm(out);
  acm::StreamHeader h;
  h.source = input.data();
  h.sourceLength = uint32_t(input.size());
  h.destination = pcm.data();
  h.destinationLength = out;
  acm::prepareHeader(s, h);
  int32_t r = acm::convert(s, h, acm::kConvertBlockAlign | acm::kConvertEnd);
  Check(r == acm::kOk || r == acm::kErrorMalformed);
  Check(h.sourceUsed <= h.sourceLength && h.destinationUsed <= h.destinationLength);
  acm::unprepareHeader(s, h);
  Check(acm::closeStream(s));
  return 0;
}
