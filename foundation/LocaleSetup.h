// Start-up step that puts the user's locale month and day names into the
// date-formatting tables.
#pragma once

#include "platform/os/clock.h"

namespace foundation {

// Copies every non-empty locale name over the built-in one.
void SetupLocaleNames(const platform::os::LocaleDateNames& names);
// The start-up step: the names of the user's locale, when it gives any.
void InitLocaleSetup();

}  // namespace foundation
