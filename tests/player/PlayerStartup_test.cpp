// Start-up services the show locator relies on: the show file to open and
// the colour settings from the command line.
#include "player/PlayerStartup.h"

#include <gtest/gtest.h>

#include <string>

#include "container/kvQelLoader2.h"
#include "container/kvQelVirtualFiles.h"
#include "container/kvQelFileAccessor2.h"
#include "tests/container/AccessTestEnv.h"
#include "showmodel/kvQelSource2.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TempTree.h"

namespace {

using foundation::TRef;

TEST(LocateShowFile, NamesByExtension) {
  qeltest::TempTree t;
  t.write("Bundle.app/Contents/Resources/slideshow.dat", "show");
  t.mkdir("Empty.app");
  struct Row {
    std::u16string in, out;
  } rows[] = {
      {u"Z:\\opt\\shows\\player", u"Z:\\opt\\shows\\player"},  // Linux: the container appended to the player
      {u"Z:\\shows\\Show.EXE", u"Z:\\shows\\Show.EXE"},
      {t.internal("Bundle.app"), t.internal("Bundle.app/Contents/Resources/slideshow.dat")},
      {t.internal("Empty.app"), t.internal("Empty.qlshow")},
      {t.internal("Upper.APP"), t.internal("Upper.APP")},  // exactly ".app" only
      {u"Z:\\shows\\show.qlshow", u"Z:\\shows\\show.qlshow"},
  };
  for (const Row& r : rows) EXPECT_EQ(player::LocateShowFile(r.in), r.out) << foundation::MessageToUtf8(r.in);
  container::SetPreviewNames(t.internal("Bundle.app"), t.internal("Project.qel"));
  EXPECT_EQ(player::LocateShowFile(t.internal("BUNDLE.app")), t.internal("BUNDLE.app"));
  container::SetPreviewNames(u"", u"");
}

TRef<foundation::TCommandsStorage> Commands(const std::u16string& line) {
  TRef<foundation::TCommandsStorage> storage = TRef<foundation::TCommandsStorage>::Adopt(new foundation::TCommandsStorage());
  TRef<foundation::TStringList> tokens = TRef<foundation::TStringList>::Adopt(new foundation::TStringList());
  foundation::ParseCommandLine(line, tokens.Get(), storage.Get());
  return storage;
}

TEST(SetupColorProfile, SwitchesSetTheLocatorsColourSettings) {
  qeltest::TempTree t;
  t.mkdir("folder.icc");
  struct Row {
    std::u16string line;
    bool noicc;
    imaging::TColorProfile* profile;
    bool anyProfile;
  } rows[] = {
      {u"player", false, nullptr, false},
      {u"player -noicc -icc sRGB", true, nullptr, false},
      {u"player -icc srgb", false, imaging::SRGBColorProfile, true},
      {u"player -icc ADOBERGB", false, imaging::AdobeRGBColorProfile, true},
      {u"player -icc RaderAZO", false, imaging::RaderAZOColorProfile, true},
      {u"player -icc " + t.internal("missing.icc"), false, nullptr, false},
      {u"player -icc " + t.internal("folder.icc"), false, nullptr, false},
  };
  for (const Row& r : rows) {
    container::SetNoColorManagement(false);
    container::SetCommandLineProfile(nullptr, false);
    TRef<foundation::TCommandsStorage> c = Commands(r.line);
    player::SetupColorProfile(c.Get());
    EXPECT_EQ(container::NoColorManagement(), r.noicc) << foundation::MessageToUtf8(r.line);
    EXPECT_EQ(container::CommandLineProfile().Get(), r.profile) << foundation::MessageToUtf8(r.line);
  }
  // A file that exists and reads becomes the profile.
  t.write("mine.icc", std::string(200, 'x'));
  TRef<foundation::TCommandsStorage> c = Commands(u"player -icc " + t.internal("mine.icc"));
  player::SetupColorProfile(c.Get());
  ASSERT_NE(container::CommandLineProfile().Get(), nullptr);
  EXPECT_EQ(container::CommandLineProfile()->Data.size(), 200u);
  container::SetCommandLineProfile(nullptr, false);
}

TEST(ShowPlayCheck, OpenersRefuseAShowThePlayerCannotStart) {
  showmodel::InitQelSource();
  qeltest::TempTree t;
  struct Row {
    const char* project;
    const char16_t* error;  // empty: the show opens
  } rows[] = {
      {"[Main]\r\n", u"The show has no slides"},
      {"[Main]\r\n[Times]\r\nopt_slidescount=0\r\nopt_synchpos1=4000\r\n", u"The show has no slides"},
      {"[Main]\r\n[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=4000\r\nopt_synchpos2=1000\r\n",
       u"Incorrect time"},
      {"[Main]\r\n[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=4000\r\n[Slide1]\r\n", u""},
  };
  const container::TShowPlayCheck previous = container::ShowPlayCheckHook;
  player::InstallShowPlayCheck();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.project);
    testsupport::ContainerBuilder b;
    b.AddDeflated("Project.qel", r.project);
    b.WriteFile(t.path("show"));
    std::u16string error;
    auto packed = TRef<container::TQelShowLocator>::Adopt(container::OpenShow(t.internal("show"), error));
    const std::u16string want = r.error;
    EXPECT_EQ(packed.Get() != nullptr, want.empty());
    EXPECT_NE(error.find(want), std::u16string::npos) << foundation::MessageToUtf8(error);
    EXPECT_EQ(error.empty(), want.empty());
    // The loose project of the preview is refused alike.
    t.write("Project.qel", r.project);
    error.clear();
    auto preview =
        TRef<container::TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("Project.qel"), error));
    EXPECT_EQ(preview.Get() != nullptr, want.empty());
    EXPECT_NE(error.find(want), std::u16string::npos) << foundation::MessageToUtf8(error);
  }
  // Without the player's check the openers take any show that reads.
  container::ShowPlayCheckHook = nullptr;
  testsupport::ContainerBuilder b;
  b.AddDeflated("Project.qel", rows[0].project);
  b.WriteFile(t.path("show"));
  std::u16string error;
  auto open = TRef<container::TQelShowLocator>::Adopt(container::OpenShow(t.internal("show"), error));
  EXPECT_NE(open.Get(), nullptr);
  container::ShowPlayCheckHook = previous;
  container::SetStoreRoots({}, -1);
  container::InstallPathAliases({});
}

}  // namespace
