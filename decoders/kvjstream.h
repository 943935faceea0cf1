// The bytes a JPEG decoder reads: the whole file held in memory once, read
// from the start for every decode.
#pragma once

#include <cstdint>
#include <vector>

namespace decoders {

class TJStream {
 public:
  int32_t Size = 0;      // bytes in use
  int32_t Position = 0;  // read position, 0..Size
  std::vector<uint8_t> Data;  // its length is the capacity, never below Size

  // A count of 0 or less empties the buffer; a larger count grows the
  // capacity when needed and never shrinks it.
  void SetSize(int32_t Count);
  void SetPosition(int32_t NewPosition);
  // Copies the smaller of Count and the bytes left; answers 0 when nothing is left.
  int32_t Read(uint8_t* Buffer, int32_t Count);
};

}  // namespace decoders
