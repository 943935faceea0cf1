// The FFmpeg loader: library file names, the folder rules (a failed folder is
// not tried again until it changes, a partial load is completed from another
// folder), the system fallback and the missing-entry assertion.
#include "video/kpFFLoad.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/kpExceptions.h"
#include "platform/os/paths.h"
#include "tests/video/VideoTestEnv.h"
#include "video/FFMpegDll2.h"

using namespace video;
namespace fs = std::filesystem;

namespace {

const char* kSystemDir = "/usr/lib/x86_64-linux-gnu/";

struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/qel_ffload_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
  void Link(const std::string& soname) { fs::create_symlink(std::string(kSystemDir) + soname, path / soname); }
  std::u16string Internal() const { return platform::os::fromPosixPath(path.string()); }
};

bool SystemHasFFmpeg() { return fs::exists(std::string(kSystemDir) + "libavformat.so.59"); }

// Each test starts from a fresh load state without the system fallback, and
// leaves the libraries loaded from the system for the rest of the program.
class FFLoad : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SystemHasFFmpeg()) GTEST_SKIP() << "FFmpeg 5.1 is not installed";
    ResetFFMpegLoadForTesting();
    FFLoader()->SystemFallback = false;
    FFMpegCreateHardwareDevice = false;
  }
  void TearDown() override {
    ResetFFMpegLoadForTesting();
    FFMpegLibraryFolder.clear();
    FFMpegCreateHardwareDevice = true;
    LoadFFMpeg();
  }
};

TEST(FFLoaderNames, DebianSonames) {
  auto* l = new TFFLoader();
  EXPECT_EQ(l->FileName(TLibrary::avUtil), u"libavutil.so.57");
  EXPECT_EQ(l->FileName(TLibrary::swScale), u"libswscale.so.6");
  EXPECT_EQ(l->FileName(TLibrary::swResample), u"libswresample.so.4");
  EXPECT_EQ(l->FileName(TLibrary::avCodec), u"libavcodec.so.59");
  EXPECT_EQ(l->FileName(TLibrary::avFormat), u"libavformat.so.59");
  EXPECT_EQ(l->FileName(TLibrary::avFilter), u"");
  EXPECT_EQ(l->FileName(TLibrary::avDevice), u"");
  EXPECT_DOUBLE_EQ(RationalAsDouble(30000, 1001), 30000.0 / 1001.0);
  l->Free();
}

TEST_F(FFLoad, AFailedFolderIsNotRetriedUntilTheFolderChanges) {
  TempDir empty;
  FFMpegLibraryFolder = empty.Internal();
  EXPECT_FALSE(LoadFFMpeg());
  // The libraries arrive, but the same folder is not tried again.
  for (const char* so : {"libavutil.so.57", "libswscale.so.6", "libswresample.so.4", "libavcodec.so.59",
                         "libavformat.so.59"})
    empty.Link(so);
  EXPECT_FALSE(LoadFFMpeg());
  EXPECT_EQ(FFLoader()->Libraries[0].Handle, 0u);
  // Another spelling of the folder is another folder: it is tried.
  FFMpegLibraryFolder = empty.Internal() + u"\\";
  EXPECT_TRUE(LoadFFMpeg());
  EXPECT_TRUE(FFMpegLoaded());
  EXPECT_TRUE(LoadFFMpeg());
}

TEST_F(FFLoad, APartialFolderIsCompletedFromAnotherFolder) {
  TempDir partial, full;
  partial.Link("libavutil.so.57");
  partial.Link("libswscale.so.6");
  FFMpegLibraryFolder = partial.Internal();
  EXPECT_FALSE(LoadFFMpeg());
  TFFLoader* l = FFLoader();
  EXPECT_NE(l->Libraries[int(TLibrary::avUtil)].Handle, 0u);
  EXPECT_NE(l->Libraries[int(TLibrary::swScale)].Handle, 0u);
  EXPECT_EQ(l->Libraries[int(TLibrary::swResample)].Handle, 0u);
  auto utilHandle = l->Libraries[int(TLibrary::avUtil)].Handle;
  for (const char* so : {"libswresample.so.4", "libavcodec.so.59", "libavformat.so.59"}) full.Link(so);
  FFMpegLibraryFolder = full.Internal();
  EXPECT_TRUE(LoadFFMpeg());
  // Only what was missing was loaded from the second folder.
  EXPECT_EQ(l->Libraries[int(TLibrary::avUtil)].Handle, utilHandle);
  EXPECT_NE(l->Libraries[int(TLibrary::avFormat)].Handle, 0u);
}

TEST_F(FFLoad, TheSystemSearchServesAFolderWithoutLibrariesWhenAllowed) {
  TempDir empty;
  FFLoader()->SystemFallback = true;
  FFMpegLibraryFolder = empty.Internal();
  EXPECT_TRUE(LoadFFMpeg());
}

TEST_F(FFLoad, AMissingEntryPointRaisesTheLoadAssertion) {
  // avutil does not export avformat's first entry point.
  platform::os::LibraryHandle util = platform::os::loadLibrary(u"libavutil.so.57");
  ASSERT_NE(util, 0u);
  try {
    BindFFLibrary(TLibrary::avFormat, util);
    FAIL() << "no assertion";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Load function avformat_alloc_context error"), std::string::npos) << e.what();
  }
  platform::os::freeLibrary(util);
}

}  // namespace
