// The simple case-folding tables, stored as run-length records.
#pragma once

#include <cstdint>

namespace foundation {

// One record of a folding table: the running code point (0 at the start of a
// table) advances by Step |Count| times; each time, the low 16 bits of that
// code point's folding are its own low 16 bits plus Delta (Count > 0) or
// minus Delta (Count < 0), wrapping in 16 bits.
struct __attribute__((packed)) TFoldingRun {
  uint16_t Step;
  uint16_t Delta;
  int8_t Count;
};
static_assert(sizeof(TFoldingRun) == 5, "folding records are 5 bytes");

inline constexpr int CommonFoldingRunCount = 218;
inline constexpr int SimpleFoldingRunCount = 10;

// The common one-to-one foldings (applied first), then those that only the
// simple folding has (U+1E9E and the capitals with prosgegrammeni).
extern const TFoldingRun CommonFoldingRuns[CommonFoldingRunCount];
extern const TFoldingRun SimpleFoldingRuns[SimpleFoldingRunCount];

}  // namespace foundation
