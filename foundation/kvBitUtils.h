// Bit helpers (population count, next power of two) and a growable set of
// bits.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/SysObj.h"

namespace foundation {

// Number of set bits by the parallel method (pairs, nibbles, bytes).
constexpr uint32_t PopCount32(uint32_t v) {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0Fu;
  return (v * 0x01010101u) >> 24;
}

// The number of set bits of every byte value, made from PopCount32 when the
// program is built, so it exists before any code counts bits.
inline constexpr std::array<uint8_t, 256> kBitCountTable = [] {
  std::array<uint8_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(PopCount32(i));
  return t;
}();

// Number of set bits, by adding the table entries of the four bytes.
inline uint32_t PopCount(uint32_t v) {
  return kBitCountTable[v & 0xFF] + kBitCountTable[(v >> 8) & 0xFF] + kBitCountTable[(v >> 16) & 0xFF] +
         kBitCountTable[v >> 24];
}

// The smallest power of two >= value (0 gives 0).
int32_t NextPowerOfTwo(int32_t value);

// A growable set of bits, least significant bit of each byte first. Bits at
// and above the count are always 0.
class TBitSet : public TRefObject {
 public:
  explicit TBitSet(int32_t count = 0);

  int32_t Count() const { return FCount; }
  const std::vector<uint8_t>& Bytes() const { return FBits; }

  void Clear();
  void SetCount(int32_t n);
  // False for an index outside 0..count-1.
  bool GetBit(int32_t index) const;
  // An index outside 0..count-1 is ignored.
  void SetBit(int32_t index, bool value);
  // The first index in start..start+count-1 (cut to the set) whose bit equals
  // value; the end of that range when none.
  int32_t Find(bool value, int32_t start, int32_t count) const;
  // The last index whose bit equals value; the count when none.
  int32_t FindLast(bool value) const;

 private:
  std::vector<uint8_t> FBits;
  int32_t FCount = 0;
};

}  // namespace foundation
