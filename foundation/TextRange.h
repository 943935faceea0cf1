// Range clamping shared by the text units: a requested part of a string or
// buffer is cut to what exists, never read past its end.
#pragma once

#include <algorithm>
#include <cstddef>

namespace foundation {

// Clamps a 1-based range to a text of len units; 0-based first index and count.
inline void ClampRange(size_t len, int start, int count, size_t& first, size_t& n) {
  size_t st = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  if (st > len) st = len;
  const size_t c = count < 0 ? 0 : static_cast<size_t>(count);
  first = st;
  n = std::min(c, len - st);
}

// Clamps a 0-based range to a buffer of len bytes.
inline void ClampBufferRange(size_t len, int start, int count, size_t& first, size_t& n) {
  size_t st = start < 0 ? 0 : static_cast<size_t>(start);
  if (st > len) st = len;
  const size_t c = count < 0 ? 0 : static_cast<size_t>(count);
  first = st;
  n = std::min(c, len - st);
}

}  // namespace foundation
