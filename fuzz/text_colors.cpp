// Feeds arbitrary bytes to the colour-text parser and checks that the default
// is given exactly for an empty text or one of more than four items.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "text/GraphicsParams.h"

using namespace text;

QEL_FUZZ_TARGET(data, size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const foundation::TByteString t = foundation::TByteString::FromBytes(bytes);
  const TARGB a = ByteStrToColorDef(t, 0x01020304u);
  const TARGB b = ByteStrToColorDef(t, 0xF0E0D0C0u);
  const size_t items = size == 0 ? 0 : size_t(std::count(bytes.begin(), bytes.end(), ',')) + 1;
  if (items == 0 || items > 4) {
    if (a != 0x01020304u || b != 0xF0E0D0C0u) std::abort();
  } else if (a != b) {
    std::abort();
  }

  std::u16string wide;
  for (size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  (void)StrToColor(wide);
  return 0;
}
