// One lookup of user-interface texts by section and key, falling back to the
// caller's English default when no translation is installed.
#pragma once

#include <string>

#include "foundation/kpThreads2.h"

namespace foundation {

using TTranslateHook =
    TMethod<std::u16string(const std::u16string& section, const std::u16string& key, const std::u16string& def)>;

// Start-up only: set before any thread translates, then read without a lock.
void SetTranslateHook(TTranslateHook hook);
TTranslateHook GetTranslateHook();
std::u16string Translate(const std::u16string& section, const std::u16string& key, const std::u16string& def);

}  // namespace foundation
