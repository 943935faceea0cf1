// Doubles to 32-bit integers, each helper named for how it rounds and what
// it does with values it cannot represent. All of them give 0 for NaN, so no
// input reaches an undefined conversion.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace foundation {

inline constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();
inline constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4,
// -2.5 -> -2), held within [lo, hi]: larger values and +infinity give hi,
// smaller ones and -infinity give lo; NaN gives 0. Rounds in the default
// floating-point mode (to nearest), which the program never changes.
inline int32_t RoundEvenSaturated(double v, int32_t lo = kInt32Min, int32_t hi = kInt32Max) {
  if (std::isnan(v)) return 0;
  const double r = std::nearbyint(v);
  if (r <= double(lo)) return lo;
  if (r >= double(hi)) return hi;
  return static_cast<int32_t>(r);
}

// As RoundEvenSaturated for finite values; NaN and both infinities give 0
// (a length or position computed from a division by zero counts as none).
inline int32_t RoundEvenFiniteOrZero(double v, int32_t lo = kInt32Min, int32_t hi = kInt32Max) {
  return std::isfinite(v) ? RoundEvenSaturated(v, lo, hi) : 0;
}

}  // namespace foundation
