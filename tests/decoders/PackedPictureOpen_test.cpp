// Opening and decoding a picture of a packed show costs a fixed number of
// system calls beyond the reads of its bytes, whatever the picture's size or
// the length of its embedded profile: counted through the file layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvUTF8.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "tests/decoders/DecodersTestEnv.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/IccMaker.h"
#include "tests/support/JpegMaker.h"

namespace {

using testsupport::Bytes;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

struct PackedShow {
  std::string path;
  std::u16string internal;
  PackedShow(const std::vector<std::pair<std::string, Bytes>>& entries) {
    path = (std::filesystem::temp_directory_path() / ("qel_syscalls_" + std::to_string(std::random_device{}()))).string();
    std::filesystem::copy_file("/proc/self/exe", path);
    testsupport::ContainerBuilder b;
    std::string project = "\xEF\xBB\xBF[Main]\r\nQelVersion=10.00\r\n[FileMap]\r\n";
    for (const auto& [name, bytes] : entries) {
      b.AddStored("C:\\Shows\\Pictures\\" + name, Str(bytes));
      project += ";\"C:\\Old\\" + name + "\"=\"C:\\Shows\\Pictures\\" + name + "\"\r\n";
    }
    b.AddDeflated("Project.qel", project);
    b.AppendToFile(path);
    internal = platform::os::fromPosixPath(path);
  }
  ~PackedShow() { std::filesystem::remove(path); }
};

class PackedPictureOpen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    foundation::InitFileApiClass();
    foundation::InitFileUtils();
    foundation::InitFileStreams();
    container::InitFileAccessor();
    container::InitQelLoader();
  }
};

struct Cost {
  platform::os::FileCallCounts calls;
  int32_t width = 0;
};

// Opens the picture through the accessor, decodes it at full size, frees it.
Cost OpenAndDecode(container::TQelShowLocator* locator, const std::string& name) {
  const platform::os::FileCallCounts before = platform::os::fileCallCounts();
  imaging::TImage* image = container::TFileAccessor::LoadImage(locator->Accessor, foundation::MessageFromUtf8("C:\\Old\\" + name));
  Cost c;
  if (imaging::TBitmap* b = image->GetBitmap()) c.width = b->Width;
  image->Free();
  const platform::os::FileCallCounts after = platform::os::fileCallCounts();
  c.calls.opens = after.opens - before.opens;
  c.calls.closes = after.closes - before.closes;
  c.calls.reads = after.reads - before.reads;
  c.calls.writes = after.writes - before.writes;
  c.calls.seeks = after.seeks - before.seeks;
  c.calls.stats = after.stats - before.stats;
  return c;
}

TEST_F(PackedPictureOpen, FixedSystemCallsBeyondTheReads) {
  const Bytes small = testsupport::MakeJpeg(testsupport::JpegSpec{160, 120, 3, 90, false, 0, true});
  const Bytes large = testsupport::MakeJpeg(testsupport::JpegSpec{1600, 1200, 3, 90, false, 0, true});
  // A profile in an APP2 segment: its bytes are found in the
  // picture's bytes already read, not by reading the file again.
  const Bytes profile = testsupport::MakeWideGamutIccProfile();
  const Bytes withProfile =
      testsupport::SpliceSegment(small, 0xE2, testsupport::IccApp2Payload(profile), testsupport::SplicePlace::AfterSoi);
  PackedShow show({{"small.jpg", small}, {"large.jpg", large}, {"profiled.jpg", withProfile}});
  std::u16string error;
  container::TQelShowLocator* locator = container::OpenShow(show.internal, error);
  ASSERT_NE(locator, nullptr) << foundation::MessageToUtf8(error);
  struct Row {
    const char* name;
    int32_t width;
    size_t bytes;
  } rows[] = {{"small.jpg", 160, small.size()}, {"large.jpg", 1600, large.size()}, {"profiled.jpg", 160, withProfile.size()}};
  uint64_t others = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const Cost c = OpenAndDecode(locator, r.name);
    EXPECT_EQ(c.width, r.width);
    // The position of a file stream lives in user space: no seek at all.
    EXPECT_EQ(c.calls.seeks, 0u);
    EXPECT_EQ(c.calls.writes, 0u);
    // The picture's bytes in chunks of the entry window (32 KB), the
    // profile found among them, nothing read twice.
    EXPECT_LE(c.calls.reads, r.bytes / 32768 + 2);
    // Opening the container's file for the entry: the same few calls for
    // every picture, whatever its size or profile.
    const uint64_t rest = c.calls.opens + c.calls.closes + c.calls.stats;
    EXPECT_LE(rest, 6u);
    if (others == 0) others = rest;
    EXPECT_EQ(rest, others);
  }
  locator->Free();
}

}  // namespace
