// The system version and locale the program reads: a fixed modern version
// (so the newer code paths are chosen), the thread locale id from the
// environment's language, and the code-page information of single-byte pages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform::os {

struct OsVersionInfo {
  uint32_t size = 148;
  uint32_t majorVersion = 0, minorVersion = 0, buildNumber = 0, platformId = 0;
  std::string csdVersion;  // service-pack text, at most 127 characters
};

// Platform 2, version 10.0, build 19045, no service pack; false when the
// record size is below 148.
bool getVersionEx(OsVersionInfo& info);
// Replaces what getVersionEx answers (tests); nullopt restores it.
void setVersionOverride(std::optional<OsVersionInfo> info);

// The locale id of LC_ALL, LC_MESSAGES or LANG ("de_DE.UTF-8" gives 0x0407);
// 1033 when unknown. A test may force a value (0 clears the override).
uint32_t getThreadLocale();
void setThreadLocaleOverride(uint32_t lcid);

// Code-page information: the pages of this system are single-byte (no
// lead-byte ranges).
struct CpInfo {
  uint32_t maxCharSize = 1;
  uint8_t defaultChar[2] = {'?', 0};
  uint8_t leadByte[12] = {};
};
bool getCPInfo(uint32_t codePage, CpInfo& info);

}  // namespace platform::os
