// The version class table and the system locale record.
#include <gtest/gtest.h>

#include "platform/os/version.h"
#include "windowing/kvWinVersion.h"

using namespace windowing;

namespace {

TEST(WinVersion, ClassTable) {
  struct Case {
    int major, minor;
    const char16_t* sp;
    int expected;
  } cases[] = {
      {2, 0, u"", 0},   {3, 51, u"", 6},   {4, 0, u"", 1},   {4, 10, u" A ", 3}, {4, 10, u"", 4},
      {4, 89, u"B", 4}, {4, 90, u"", 5},   {5, 0, u"", 7},   {5, 1, u"", 8},     {5, 2, u"", 9},
      {5, 7, u"", 9},   {6, 0, u"", 10},   {6, 1, u"", 11},  {6, 2, u"", 12},    {6, 3, u"", 13},
      {10, 0, u"", 13},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WindowsVersionClass(c.major, c.minor, c.sp), c.expected) << c.major << "." << c.minor;
}

TEST(WinVersion, StartUpReadsTheSystemVersionOnce) {
  InitWinVersion();
  EXPECT_EQ(OsPlatformId, 2);
  EXPECT_EQ(OsMajorVersion, 10);
  EXPECT_EQ(GetWindowsVersion(), 13);
  platform::os::OsVersionInfo old;
  old.majorVersion = 4;
  old.minorVersion = 10;
  old.platformId = 1;
  old.buildNumber = 0x04000AAA;
  old.csdVersion = " A ";
  platform::os::setVersionOverride(old);
  InitWinVersion();
  EXPECT_EQ(OsBuildNumber, 0x0AAA) << "only the low word on platform 1";
  EXPECT_EQ(OsServicePack, u" A ");
  EXPECT_EQ(GetWindowsVersion(), 3);
  platform::os::setVersionOverride(std::nullopt);
  InitWinVersion();
}

TEST(WinVersion, LocaleRecord) {
  InitWinVersion();
  platform::os::setThreadLocaleOverride(0x0419);
  TSysLocale l;
  GetSysLocale(l);
  EXPECT_EQ(l.DefaultLCID, 0x0419);
  EXPECT_EQ(l.PriLangID, 25);
  EXPECT_EQ(l.SubLangID, 1);
  EXPECT_TRUE(l.MiddleEast) << "version 10 on platform 2";
  EXPECT_FALSE(l.FarEast);
  EXPECT_TRUE(l.LeadBytes.none());
  platform::os::setThreadLocaleOverride(0x0804);
  GetSysLocale(l);
  EXPECT_EQ(l.PriLangID, 4);
  EXPECT_EQ(l.SubLangID, 2);
  platform::os::setThreadLocaleOverride(0);
}

}  // namespace
