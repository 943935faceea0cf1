// The first three bytes choose the DIB (width, height, 8 or 4 bits); the rest
// is run-length data, decoded into rows that must never be overrun.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/FuzzSupport.h"
#include "imaging/Startup.h"
#include "imaging/kvFastDIB.h"

QEL_FUZZ_TARGET(data, size) {
  static bool started = (imaging::StartImaging(), true);
  (void)started;
  if (size < 3) return 0;
  auto* dib = new imaging::TFastDIB;
  const int32_t width = 1 + data[0] % 64, height = 1 + data[1] % 64;
  const bool four = data[2] & 1;
  dib->SetSize(width, height, four ? 4 : 8);
  std::span<const uint8_t> rest(data + 3, size - 3);
  if (four)
    dib->DecodeRLE4(rest);
  else
    dib->DecodeRLE8(rest);
  dib->Free();
  return 0;
}
