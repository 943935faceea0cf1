#include "foundation/kvBitUtils.h"

#include <algorithm>

#include "foundation/kpExceptions.h"

namespace foundation {

int32_t NextPowerOfTwo(int32_t value) {
  uint32_t v = static_cast<uint32_t>(value);
  uint32_t smear = v;
  smear |= smear >> 1;
  smear |= smear >> 2;
  smear |= smear >> 4;
  smear |= smear >> 8;
  smear |= smear >> 16;
  uint32_t top = smear & ~(smear >> 1);  // the highest set bit alone
  if (top != v) top <<= 1;
  return static_cast<int32_t>(top);
}

TBitSet::TBitSet(int32_t count) {
  if (count > 0) SetCount(count);
}

void TBitSet::Clear() {
  FCount = 0;
  std::vector<uint8_t>().swap(FBits);
}

void TBitSet::SetCount(int32_t n) {
  if (n == FCount) return;
  if (n <= 0) {
    Clear();
    return;
  }
  if (n < FCount) {
    int32_t i = n;
    for (; i < FCount && (i & 7) != 0; ++i) FBits[static_cast<size_t>(i >> 3)] &= static_cast<uint8_t>(~(1u << (i & 7)));
    for (int32_t byte = i >> 3; byte <= (FCount - 1) >> 3 && i < FCount; ++byte) FBits[static_cast<size_t>(byte)] = 0;
  } else {
    FBits.resize(static_cast<size_t>((n - 1) / 8 + 1), 0);
  }
  FCount = n;
}

bool TBitSet::GetBit(int32_t index) const {
  if (index < 0 || index >= FCount) return false;
  return (FBits[static_cast<size_t>(index >> 3)] >> (index & 7)) & 1;
}

void TBitSet::SetBit(int32_t index, bool value) {
  if (index < 0 || index >= FCount) return;
  uint8_t mask = static_cast<uint8_t>(1u << (index & 7));
  if (value)
    FBits[static_cast<size_t>(index >> 3)] |= mask;
  else
    FBits[static_cast<size_t>(index >> 3)] &= static_cast<uint8_t>(~mask);
}

int32_t TBitSet::Find(bool value, int32_t start, int32_t count) const {
  int64_t s = start, c = count;
  if (s < 0) {
    c += s;
    s = 0;
  }
  int64_t end = s + std::min<int64_t>(c, static_cast<int64_t>(FCount) - s);
  if (s >= end) return static_cast<int32_t>(s);
  auto bit = [&](int64_t i) { return ((FBits[static_cast<size_t>(i >> 3)] >> (i & 7)) & 1) != 0; };
  while (s < end && (s & 7) != 0) {
    if (bit(s) == value) return static_cast<int32_t>(s);
    ++s;
  }
  const uint8_t skip = value ? 0x00 : 0xFF;
  while (end - s >= 8 && FBits[static_cast<size_t>(s >> 3)] == skip) s += 8;
  int64_t first = s;
  while (s < end) {
    if (s != first && (s & 7) == 0) QelAssertFail("");
    if (bit(s) == value) return static_cast<int32_t>(s);
    ++s;
  }
  return static_cast<int32_t>(end);
}

int32_t TBitSet::FindLast(bool value) const {
  for (int32_t i = FCount - 1; i >= 0; --i)
    if (GetBit(i) == value) return i;
  return FCount;
}

}  // namespace foundation
