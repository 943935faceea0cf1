#include "windowing/kvWinVersion.h"

#include <algorithm>

#include "platform/os/version.h"
#include "platform/window/api.h"

namespace windowing {

int32_t OsPlatformId = 0;
int32_t OsMajorVersion = 0;
int32_t OsMinorVersion = 0;
int32_t OsBuildNumber = 0;
std::u16string OsServicePack;

namespace {
int32_t g_versionClass = 0;
}

int32_t WindowsVersionClass(int32_t major, int32_t minor, const std::u16string& sp) {
  if (major <= 2) return 0;
  if (major == 3) return 6;
  if (major == 4) {
    if (minor < 10) return 1;
    if (minor < 90) return sp.find(u'A') != std::u16string::npos ? 3 : 4;
    return 5;
  }
  if (major == 5) return minor == 0 ? 7 : minor == 1 ? 8 : 9;
  if (major == 6) return minor == 0 ? 10 : minor == 1 ? 11 : minor == 2 ? 12 : 13;
  return 13;
}

int32_t GetWindowsVersion() { return g_versionClass; }

void InitWinVersion() {
  platform::os::OsVersionInfo info;
  info.size = 148;
  if (platform::os::getVersionEx(info)) {
    OsPlatformId = static_cast<int32_t>(info.platformId);
    OsMajorVersion = static_cast<int32_t>(info.majorVersion);
    OsMinorVersion = static_cast<int32_t>(info.minorVersion);
    OsBuildNumber = static_cast<int32_t>(info.platformId == 1 ? (info.buildNumber & 0xFFFF) : info.buildNumber);
    const std::string& csd = info.csdVersion;
    OsServicePack.assign(csd.begin(), csd.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(csd.size(), 127)));
  } else {
    OsPlatformId = OsMajorVersion = OsMinorVersion = OsBuildNumber = 0;
    OsServicePack.clear();
  }
  g_versionClass = WindowsVersionClass(OsMajorVersion, OsMinorVersion, OsServicePack);
}

void GetSysLocale(TSysLocale& l) {
  l = TSysLocale{};
  l.DefaultLCID = 1033;
  l.PriLangID = 9;
  l.SubLangID = 1;
  if (const uint32_t lcid = platform::os::getThreadLocale()) {
    l.DefaultLCID = static_cast<int32_t>(lcid);
    if (lcid & 0xFFFF) {
      l.PriLangID = static_cast<int32_t>(lcid & 0x3FF);
      l.SubLangID = static_cast<int32_t>((lcid >> 10) & 0x3F);
    }
  }
  l.MiddleEast = (OsMajorVersion > 4 && OsPlatformId == 2) ||
                 platform::window::getSystemMetrics(platform::window::SM_MIDEASTENABLED) != 0;
  l.FarEast = platform::window::getSystemMetrics(platform::window::SM_DBCSENABLED) != 0;
  if (l.FarEast) {
    platform::os::CpInfo cp;
    if (platform::os::getCPInfo(0, cp)) {
      for (int i = 0; i + 1 < 12; i += 2) {
        const uint8_t lo = cp.leadByte[i], hi = cp.leadByte[i + 1];
        if (lo == 0 && hi == 0) break;
        for (int b = lo; b <= hi; ++b) l.LeadBytes.set(static_cast<size_t>(b));
      }
    }
  }
}

}  // namespace windowing
