#include "foundation/LocaleSetup.h"

#include "foundation/DateFormatting.h"
#include "foundation/kpExceptions.h"

namespace foundation {

namespace {
void CopyNames(std::u16string* table, const std::string* names, int count) {
  for (int i = 0; i < count; ++i)
    if (!names[i].empty()) table[i] = MessageFromUtf8(names[i]);
}
}  // namespace

void SetupLocaleNames(const platform::os::LocaleDateNames& names) {
  CopyNames(ShortMonthNames, names.shortMonths, 12);
  CopyNames(LongMonthNames, names.longMonths, 12);
  CopyNames(ShortDayNames, names.shortDays, 7);
  CopyNames(LongDayNames, names.longDays, 7);
}

void InitLocaleSetup() {
  platform::os::LocaleDateNames names;
  if (platform::os::getLocaleDateNames(names)) SetupLocaleNames(names);
}

}  // namespace foundation
