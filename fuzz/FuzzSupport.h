// Helpers shared by the fuzz targets: a failed property ends the run so the
// fuzzer records the input, and the input bytes become a stream at 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "foundation/kvStream.h"

namespace fuzzing {

// Pictures are decoded only up to this many pixels, so a header that promises
// a huge picture is explored at a scale the fuzzer's memory limit allows.
constexpr int64_t kMaxDecodedPixels = int64_t(4) << 20;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// A new memory stream holding the bytes, positioned at their start.
inline foundation::TMemoryStream* StreamOf(const uint8_t* data, size_t size) {
  auto* s = new foundation::TMemoryStream();
  if (size > 0) s->WriteBuf(data, static_cast<int32_t>(size));
  s->SetPosition(0);
  return s;
}

}  // namespace fuzzing
