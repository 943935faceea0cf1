// Feeds arbitrary UTF-16 text to the integer, hexadecimal and GUID parsers
// and to the "%N" formatter, and checks the round trips that must hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/kpTypes.h"
#include "foundation/kvStringUtils.h"
#include "fuzz/FuzzSupport.h"

using namespace foundation;

QEL_FUZZ_TARGET(data, size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));

  // StrToIntDef and StrToInt agree; an accepted value prints back to a text
  // that parses to the same value.
  int32_t a = StrToIntDef(text, 17), b = StrToIntDef(text, -17);
  bool accepted = a == b;
  try {
    int32_t v = StrToInt(text);
    if (!accepted || v != a) std::abort();
    if (StrToInt(IntToStr(v)) != v) std::abort();
  } catch (const EConvertError&) {
    if (accepted) std::abort();
  }

  uint32_t value;
  int32_t pos = size > 0 ? static_cast<int32_t>(data[0] % 48) - 4 : 1;
  int32_t count = size > 1 ? static_cast<int32_t>(data[1] % 12) - 1 : 4;
  (void)ParseHexDigits(text, pos, count, value);

  TGUID g;
  if (TextToGuid(text, g)) {
    TGUID back;
    if (!TextToGuid(GUIDToString(g), back) || !(back == g)) std::abort();
  }

  const std::u16string args[] = {u"one", u"%1"};
  std::u16string formatted = FormatPercentArgs(text, args);
  if (formatted.size() > text.size() * 3) std::abort();  // each "%N" inserts at most 3 units
  return 0;
}
