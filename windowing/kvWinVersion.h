// The Windows version read once at start-up, the small version class code
// paths choose by, and the system locale record.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

namespace windowing {

extern int32_t OsPlatformId;
extern int32_t OsMajorVersion;
extern int32_t OsMinorVersion;
extern int32_t OsBuildNumber;
extern std::u16string OsServicePack;

// The class of a version (0..13; 2 never occurs).
int32_t WindowsVersionClass(int32_t major, int32_t minor, const std::u16string& servicePack);
// The class of the version read at start-up.
int32_t GetWindowsVersion();

struct TSysLocale {
  int32_t DefaultLCID = 0;
  int32_t PriLangID = 0;
  int32_t SubLangID = 0;
  bool FarEast = false;
  bool MiddleEast = false;
  std::bitset<256> LeadBytes;
};
void GetSysLocale(TSysLocale& locale);

// Unit start: reads the version and computes its class.
void InitWinVersion();

}  // namespace windowing
