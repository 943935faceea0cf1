// Folder enumeration, entry descriptions, attributes and link targets.
#include "foundation/kvFileEnum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/TempTree.h"

using namespace foundation;
namespace os = platform::os;
using qeltest::TempTree;

namespace {

class FileEnumTest : public ::testing::Test {
 protected:
  void SetUp() override { InitFileApiClass(); }
  void TearDown() override { DoneFileApiClass(); }
};

std::vector<std::u16string> Names(const std::u16string& folder, const std::u16string& mask) {
  std::vector<std::u16string> names;
  EnumerateFiles(&names, folder, mask, [](void* ctx, int, const TFileParams& p, bool&) {
    static_cast<std::vector<std::u16string>*>(ctx)->push_back(p.Name);
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST_F(FileEnumTest, EnumerateCountsStopsAndReportsMissingFolders) {
  TempTree t;
  t.write("root/[A].lock", "");
  t.write("root/[B].LOCK", "");
  t.write("root/other.txt", "");
  t.mkdir("root/[A]");
  EXPECT_EQ(EnumerateFiles(nullptr, t.internal("root"), u"*.*", nullptr), 4);
  EXPECT_EQ(Names(t.internal("root"), u"*.lock"), (std::vector<std::u16string>{u"[A].lock", u"[B].LOCK"}));
  EXPECT_EQ(EnumerateFiles(nullptr, t.internal("root"), u"*.none", nullptr), 0);
  EXPECT_THROW(EnumerateFiles(nullptr, t.internal("missing"), u"*.lock", nullptr), EFolderNotFound);
  // The callback decides what counts; a stop ends the walk at once.
  int calls = 0;
  auto stopFirst = [&](bool counts) {
    calls = 0;
    return EnumerateFiles(nullptr, t.internal("root"), u"*.*", [&](void*, int accepted, const TFileParams&, bool& stop) {
      EXPECT_EQ(accepted, 0);
      ++calls;
      stop = true;
      return counts;
    });
  };
  EXPECT_EQ(stopFirst(true), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(stopFirst(false), 0);
  EXPECT_EQ(calls, 1);
  // Rejected entries do not count.
  EXPECT_EQ(EnumerateFiles(nullptr, t.internal("root"), u"*",
                           [](void*, int, const TFileParams& p, bool&) { return !p.IsDirectory; }),
            3);
}

TEST_F(FileEnumTest, FileParamsOfFilesAndFolders) {
  TempTree t;
  t.write("name.tar.gz", "12345");
  t.write("noext", "");
  t.mkdir("folder");
  TFileParams p;
  ASSERT_TRUE(GetFileParams(t.internal("name.tar.gz"), p));
  EXPECT_EQ(p.Name, u"name.tar.gz");
  EXPECT_EQ(p.ExtPos, 9);
  EXPECT_EQ(p.Name.substr(p.ExtPos - 1), u".gz");
  EXPECT_EQ(p.ShortName, u"name.tar.gz");
  EXPECT_EQ(p.Size, 5);
  EXPECT_EQ(p.CompressedSize, 5);
  EXPECT_FALSE(p.IsDirectory);
  EXPECT_EQ(p.Attributes, os::FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_GE(p.WriteTime.year, 2020);
  EXPECT_GE(p.WriteTime.month, 1);
  ASSERT_TRUE(GetFileParams(t.internal("noext"), p));
  EXPECT_EQ(p.ExtPos, 6);
  ASSERT_TRUE(GetFileParams(t.internal("folder"), p));
  EXPECT_TRUE(p.IsDirectory);
  EXPECT_EQ(p.Size, 0);
  EXPECT_EQ(p.CompressedSize, 0);
  EXPECT_FALSE(GetFileParams(t.internal("missing"), p));
  EXPECT_FALSE(GetFileParams(t.internal("folder\\."), p));
  EXPECT_FALSE(GetFileParams(t.internal("folder\\.."), p));

  uint16_t attrs = 0;
  EXPECT_TRUE(TryGetFileAttributes(t.internal("folder"), attrs));
  EXPECT_EQ(attrs, os::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_FALSE(TryGetFileAttributes(t.internal("missing"), attrs));
}

TEST_F(FileEnumTest, ReparseTargets) {
  TempTree t;
  t.write("target/inside.txt", "x");
  t.symlink(t.path("target"), "abs");
  t.symlink("target", "rel");
  std::u16string target;
  bool mountPoint = true;
  EXPECT_FALSE(GetReparseTarget(t.internal("target"), target, mountPoint));
  EXPECT_FALSE(mountPoint);
  EXPECT_FALSE(IsReparsePoint(t.internal("target")));
  EXPECT_TRUE(IsReparsePoint(t.internal("abs")));
  ASSERT_TRUE(GetReparseTarget(t.internal("abs"), target, mountPoint));
  EXPECT_EQ(target, t.internal("target"));
  EXPECT_FALSE(mountPoint);  // symbolic links only: there are no junctions here
  ASSERT_TRUE(GetReparseTarget(t.internal("rel"), target, mountPoint));
  EXPECT_EQ(target, u"target");
}

namespace {
// Refuses the listing of one folder, as the original platform refuses the
// listing of a junction's own entry.
class TRefusingAPI : public TFileAPI {
 public:
  std::u16string Refused;
  THandle FindFirstFile(const std::u16string& path, TWin32FindData& data) override {
    if (path.compare(0, Refused.size(), Refused) == 0) {
      os::setLastError(os::ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    return TFileAPI::FindFirstFile(path, data);
  }
};
}  // namespace

TEST_F(FileEnumTest, RefusedLinkListingListsTheTarget) {
  TempTree t;
  t.write("target/one.txt", "");
  t.write("target/two.txt", "");
  t.mkdir("plain");
  t.symlink("target", "link");     // relative to the link's folder
  t.symlink("loop", "loop");       // a link to itself
  auto* api = new TRefusingAPI();
  TFileAPI* saved = FileApiClass;
  FileApiClass = api;
  api->Refused = t.internal("link\\");
  EXPECT_EQ(Names(t.internal("link"), u"*.txt"), (std::vector<std::u16string>{u"one.txt", u"two.txt"}));
  // A refused plain folder is an access error; a self-referencing link ends
  // with one too instead of recursing for ever.
  api->Refused = t.internal("plain\\");
  EXPECT_THROW(EnumerateFiles(nullptr, t.internal("plain"), u"*.*", nullptr), EFolderAccessDenied);
  api->Refused = t.internal("loop\\");
  try {
    EnumerateFiles(nullptr, t.internal("loop"), u"*.*", nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const EFolderError& e) {
    EXPECT_TRUE(dynamic_cast<const EFolderAccessDenied*>(&e) || dynamic_cast<const EFolderNotFound*>(&e));
  }
  FileApiClass = saved;
  api->Free();
}
