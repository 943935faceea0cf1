// The layer's one start-up call: each area's backend chosen by the
// configuration or the environment, and each area's swap answering the
// backend it replaced.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/api.h"
#include "platform/color/api.h"
#include "platform/os/api.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/fonts/api.h"
#include "platform/gpu/api.h"
#include "platform/sound/api.h"
#include "platform/window/api.h"
#include "tests/support/TempTree.h"

namespace os = platform::os;
namespace color = platform::color;
namespace window = platform::window;
namespace gpu = platform::gpu;
using platform::Backend;
using platform::PlatformConfig;
using qeltest::TempTree;

// The system's font backend lives for the whole process (threads may measure
// text while it exits), and fontconfig keeps part of its configuration where
// the leak checker cannot follow it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

class StartPlatform : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::stopPlatform();
    unsetenv("QEL_CLOCK");
    unsetenv("QEL_COLOR");
    unsetenv("QEL_WINDOW");
    unsetenv("QEL_GPU");
    unsetenv("QEL_FONTS");
    unsetenv("QEL_MONITOR_ICC");
  }
};

}  // namespace

TEST_F(StartPlatform, ManualOsRunsOnVirtualTimeFromItsStart) {
  PlatformConfig config;
  config.window = Backend::Headless;
  config.os = Backend::Manual;
  config.manualClockStartMs = 4294967290ull;
  platform::startPlatform(config);
  EXPECT_EQ(&os::clock(), os::manualClockBackend());
  EXPECT_EQ(os::nowMs(), 4294967290ull);
  os::processManualClock().advance(11);
  EXPECT_EQ(os::nowMs(), 4294967301ull);
  EXPECT_EQ(os::timeGetTime(), 5u);  // the 32-bit value wrapped

  platform::stopPlatform();
  EXPECT_EQ(&os::clock(), os::linuxClockBackend());
}

TEST_F(StartPlatform, ColorBackendsFollowTheConfiguration) {
  TempTree t;
  t.write("display.icc", "profile");
  setenv("QEL_MONITOR_ICC", t.path("display.icc").c_str(), 1);

  PlatformConfig config;
  config.window = Backend::Headless;
  platform::startPlatform(config);
  EXPECT_EQ(color::getICMProfile(), t.internal("display.icc"));

  config.color = Backend::Headless;
  platform::startPlatform(config);
  EXPECT_EQ(color::getICMProfile(), u"");
  EXPECT_EQ(color::getColorDirectory(), u"");

  config.color = Backend::Manual;
  config.manualMonitorProfile = u"Z:\\profiles\\fixed.icc";
  platform::startPlatform(config);
  EXPECT_EQ(color::getICMProfile(), u"Z:\\profiles\\fixed.icc");
  EXPECT_EQ(color::getColorDirectory(), u"");

  platform::stopPlatform();
  EXPECT_EQ(color::getICMProfile(), t.internal("display.icc"));
}

TEST_F(StartPlatform, StartRegistersTheColorAreasOptionalEntries) {
  PlatformConfig config;
  config.window = Backend::Headless;
  config.color = Backend::Manual;
  config.manualMonitorProfile = u"Z:\\p.icc";
  platform::startPlatform(config);
  os::LibraryHandle mscms = os::loadLibrary(u"mscms.dll");
  ASSERT_NE(mscms, 0u);
  auto directory = reinterpret_cast<color::ColorDirectoryEntry>(os::getProcAddress(mscms, "GetColorDirectoryW"));
  auto standard = reinterpret_cast<color::StandardColorSpaceProfileEntry>(
      os::getProcAddress(mscms, "GetStandardColorSpaceProfileW"));
  ASSERT_NE(directory, nullptr);
  ASSERT_NE(standard, nullptr);
  // They answer through the installed backend: the manual one has no folder.
  EXPECT_EQ(directory(), u"");
  EXPECT_EQ(standard(0x73524742), u"");
  EXPECT_TRUE(os::freeLibrary(mscms));
}

TEST_F(StartPlatform, WindowBackendFollowsTheConfiguration) {
  PlatformConfig config;
  config.window = Backend::Manual;  // windows have no manual backend: the headless one serves
  platform::startPlatform(config);
  EXPECT_EQ(&window::windowBackend(), window::headlessWindowBackend());
  setenv("QEL_WINDOW", "offscreen", 1);
  EXPECT_EQ(platform::platformConfigFromEnvironment().window, Backend::Headless);
  setenv("QEL_WINDOW", "sdl", 1);
  EXPECT_EQ(platform::platformConfigFromEnvironment().window, Backend::Linux);
  platform::stopPlatform();
  EXPECT_EQ(&window::windowBackend(), window::headlessWindowBackend());
  EXPECT_EQ(gpu::currentGpuBackend(), gpu::linuxGpuBackend());
}

TEST_F(StartPlatform, ManualFontsKnowOnlyTheNamedFiles) {
  PlatformConfig config;
  config.window = Backend::Headless;
  config.fonts = Backend::Manual;  // no files: no fonts at all
  platform::startPlatform(config);
  platform::fonts::FontBackend* manual = platform::fonts::fontBackend();
  EXPECT_NE(manual, platform::fonts::linuxFontBackend());
  EXPECT_TRUE(manual->fallbackFamilies(u"Arial").empty());
  config.fonts = Backend::Headless;  // fonts need no display: the system's
  platform::startPlatform(config);
  EXPECT_EQ(platform::fonts::fontBackend(), platform::fonts::linuxFontBackend());
  EXPECT_FALSE(platform::fonts::fontBackend()->fallbackFamilies(u"Arial").empty());
  platform::stopPlatform();
  EXPECT_EQ(platform::fonts::fontBackend(), platform::fonts::linuxFontBackend());
}

TEST_F(StartPlatform, EnvironmentWordsChooseEachArea) {
  struct Row {
    const char* clock;
    const char* colour;
    Backend os, color;
  } rows[] = {
      {nullptr, nullptr, Backend::Linux, Backend::Linux},
      {"manual", "headless", Backend::Manual, Backend::Headless},
      {"real", "manual", Backend::Linux, Backend::Manual},
      {"offscreen", "none", Backend::Headless, Backend::Headless},
      {"MANUAL", "sdl", Backend::Linux, Backend::Linux},  // words are lower case
      {"", "bogus", Backend::Linux, Backend::Linux},
  };
  for (const Row& r : rows) {
    if (r.clock) setenv("QEL_CLOCK", r.clock, 1);
    else unsetenv("QEL_CLOCK");
    if (r.colour) setenv("QEL_COLOR", r.colour, 1);
    else unsetenv("QEL_COLOR");
    PlatformConfig c = platform::platformConfigFromEnvironment();
    EXPECT_EQ(c.os, r.os) << (r.clock ? r.clock : "(unset)");
    EXPECT_EQ(c.color, r.color) << (r.colour ? r.colour : "(unset)");
  }
}

// Every area the build makes (QEL_PLATFORM_AREAS) starts through its own row,
// in the build's order, each with its own variable.
TEST_F(StartPlatform, EveryAreaOfTheBuildHasARowWithItsOwnVariable) {
  std::string built = QEL_PLATFORM_AREA_LIST, rows;
  auto areas = platform::platformAreas();
  for (const platform::PlatformArea& area : areas) rows += (rows.empty() ? "" : ",") + std::string(area.name);
  EXPECT_EQ(rows, built);
  for (size_t i = 0; i < areas.size(); ++i)
    for (size_t j = i + 1; j < areas.size(); ++j) EXPECT_STRNE(areas[i].variable, areas[j].variable);
  for (Backend b : {Backend::Linux, Backend::Headless, Backend::Manual}) {
    Backend back = Backend::Linux;
    ASSERT_TRUE(platform::parseBackend(platform::backendName(b), back));
    EXPECT_EQ(back, b);
  }
}

TEST(PlatformSwaps, EachSetAnswersTheBackendItReplaced) {
  os::ManualClock mine(7);
  EXPECT_EQ(os::setClockBackend(&mine), nullptr);
  EXPECT_EQ(os::nowMs(), 7u);
  EXPECT_EQ(os::setClockBackend(nullptr), &mine);
  {
    os::ScopedManualClock outer(100);
    {
      os::ScopedManualClock inner(200);
      EXPECT_EQ(os::nowMs(), 200u);
    }
    // The inner scope gives back the outer clock, not the real one.
    EXPECT_EQ(os::nowMs(), 100u);
  }
  EXPECT_EQ(&os::clock(), os::linuxClockBackend());

  EXPECT_EQ(color::setColorBackend(color::headlessColorBackend()), nullptr);
  EXPECT_EQ(color::setColorBackend(nullptr), color::headlessColorBackend());
}

TEST_F(StartPlatform, SoundBackendFollowsTheConfiguration) {
  namespace sound = platform::sound;
  PlatformConfig config;
  config.window = Backend::Headless;
  config.sound = Backend::Headless;  // QEL_SOUND=none: no device, the show runs on the tick clock
  platform::startPlatform(config);
  sound::SoundDevice* device = reinterpret_cast<sound::SoundDevice*>(1);
  EXPECT_EQ(sound::directSoundCreate8(nullptr, &device, nullptr), sound::DSERR_NODRIVER);
  EXPECT_EQ(device, nullptr);
  // The bound entry of "dsound" reaches the same constructor.
  os::LibraryHandle dsound = os::loadLibrary(u"DSOUND.DLL");
  ASSERT_NE(dsound, 0u);
  auto create = reinterpret_cast<sound::DirectSoundCreateEntry>(os::getProcAddress(dsound, "DirectSoundCreate8"));
  ASSERT_NE(create, nullptr);
  EXPECT_EQ(create(nullptr, &device, nullptr), sound::DSERR_NODRIVER);
  config.sound = Backend::Manual;
  platform::startPlatform(config);
  EXPECT_EQ(create(nullptr, &device, nullptr), sound::DS_OK);
  ASSERT_NE(device, nullptr);
  device->release();
  EXPECT_TRUE(os::freeLibrary(dsound));
  setenv("QEL_SOUND", "none", 1);
  EXPECT_EQ(platform::platformConfigFromEnvironment().sound, Backend::Headless);
  unsetenv("QEL_SOUND");
  platform::stopPlatform();
  EXPECT_EQ(&sound::soundBackend(), sound::sdlSoundBackend());
}
