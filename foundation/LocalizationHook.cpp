#include "foundation/LocalizationHook.h"

namespace foundation {

namespace {
TTranslateHook g_hook;
}

void SetTranslateHook(TTranslateHook hook) { g_hook = hook; }
TTranslateHook GetTranslateHook() { return g_hook; }

std::u16string Translate(const std::u16string& section, const std::u16string& key, const std::u16string& def) {
  return g_hook ? g_hook(section, key, def) : def;
}

}  // namespace foundation
