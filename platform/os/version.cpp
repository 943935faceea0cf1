#include "platform/os/version.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform::os {

namespace {
std::mutex g_lock;
std::optional<OsVersionInfo> g_override;
std::atomic<uint32_t> g_localeOverride{0};

struct LanguageId {
  const char* code;
  uint32_t lcid;
};
constexpr LanguageId kLanguages[] = {
    {"en", 0x0409}, {"de", 0x0407}, {"fr", 0x040C}, {"ru", 0x0419}, {"zh", 0x0804}, {"ja", 0x0411},
    {"ko", 0x0412}, {"es", 0x0C0A}, {"it", 0x0410}, {"pt", 0x0416}, {"nl", 0x0413}, {"pl", 0x0415},
    {"sv", 0x041D}, {"cs", 0x0405}, {"ar", 0x0401}, {"he", 0x040D}, {"tr", 0x041F}, {"uk", 0x0422},
};
}  // namespace

bool getVersionEx(OsVersionInfo& info) {
  if (info.size < 148) return false;
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_override) {
    const uint32_t size = info.size;
    info = *g_override;
    info.size = size;
    return true;
  }
  info.platformId = 2;
  info.majorVersion = 10;
  info.minorVersion = 0;
  info.buildNumber = 19045;
  info.csdVersion.clear();
  return true;
}

void setVersionOverride(std::optional<OsVersionInfo> info) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_override = std::move(info);
}

uint32_t getThreadLocale() {
  if (const uint32_t forced = g_localeOverride.load()) return forced;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    for (const LanguageId& l : kLanguages)
      if (std::strncmp(value, l.code, 2) == 0 && (value[2] == 0 || value[2] == '_' || value[2] == '.'))
        return l.lcid;
    break;
  }
  return 1033;
}

void setThreadLocaleOverride(uint32_t lcid) { g_localeOverride = lcid; }

bool getCPInfo(uint32_t, CpInfo& info) {
  info = CpInfo{};
  return true;
}

}  // namespace platform::os
