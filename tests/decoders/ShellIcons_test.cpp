// The desktop icon service on this platform: dialog kinds, file types from
// the registry's classes (cached without regard to case), the fixed
// locations, and images read from the located files.
#include <gtest/gtest.h>

#include <map>

#include "DecodersTestEnv.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvPathMacros.h"
#include "imaging/winIconUtils.h"
#include "platform/os/registry.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/IconWriter.h"

using namespace imaging;
namespace po = platform::os;

namespace {

void SetDefault(po::HKEY root, const std::u16string& path, const std::u16string& value) {
  po::HKEY k = 0;
  ASSERT_EQ(po::regCreateKeyEx(root, path, po::KEY_ALL_ACCESS, &k), 0);
  std::u16string v = value;
  po::regSetValueEx(k, u"", po::REG_SZ, reinterpret_cast<const uint8_t*>(v.c_str()),
                    static_cast<uint32_t>((v.size() + 1) * 2));
  po::regCloseKey(k);
}

class ShellIcons : public ::testing::Test {
 protected:
  void SetUp() override {
    po::regResetStore();
    DoneWinIconUtils();
    InitWinIconUtils();
  }
  void TearDown() override {
    DoneWinIconUtils();
    DoneIconUtils();
    po::regResetStore();
  }
  TIconUtils* U() { return GetIconUtils(); }
};

TEST_F(ShellIcons, DialogKinds) {
  EXPECT_EQ(U()->GetDialogIconLocation(0), u"");
  EXPECT_EQ(U()->GetDialogIconLocation(1), u"%SystemRoot%\\system32\\imageres.dll,-98");
  EXPECT_EQ(U()->GetDialogIconLocation(4), u"%SystemRoot%\\system32\\imageres.dll,-81");
  EXPECT_THROW(U()->GetDialogIconLocation(5), foundation::EAssertionFailed);
}

TEST_F(ShellIcons, ExtensionsFromTheClassesCachedWithoutRegardToCase) {
  SetDefault(po::HKEY_CLASSES_ROOT, u"\\.txt", u"txtfile");
  SetDefault(po::HKEY_CLASSES_ROOT, u"\\txtfile\\DefaultIcon", u"notepad.exe,2");
  SetDefault(po::HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Classes\\.pic", u"");
  SetDefault(po::HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Classes\\.pic\\DefaultIcon", u"\"Z:\\apps\\view.exe\",-3");
  EXPECT_EQ(U()->GetExtensionIconLocation(u".TXT"), u"%SystemRoot%\\system32\\notepad.exe,2");
  const int32_t lookups = ExtensionRegistryLookups();
  EXPECT_EQ(U()->GetExtensionIconLocation(u".txt"), u"%SystemRoot%\\system32\\notepad.exe,2");
  EXPECT_EQ(ExtensionRegistryLookups(), lookups) << "the second query does not touch the registry";
  EXPECT_EQ(U()->GetExtensionIconLocation(u".pic"), u"Z:\\apps\\view.exe,-3");
  EXPECT_EQ(U()->GetExtensionIconLocation(u".EXE"), u"%SystemRoot%\\system32\\imageres.dll,-15");
  EXPECT_EQ(U()->GetExtensionIconLocation(u".none"), u"");
  EXPECT_EQ(U()->GetFileIconLocation(u"Z:\\nowhere\\a.none"), u"%SystemRoot%\\system32\\imageres.dll,-2");
  EXPECT_EQ(U()->GetFileIconLocation(u"Z:\\nowhere\\a.exe"), u"%SystemRoot%\\system32\\imageres.dll,-15");
  EXPECT_EQ(U()->GetFileIconLocation(u"Z:\\nowhere\\b.txt"), u"%SystemRoot%\\system32\\notepad.exe,2");
}

TEST_F(ShellIcons, FoldersAndDrives) {
  std::u16string loc, name;
  EXPECT_FALSE(U()->GetFolderInfo(u"Z:\\tmp", loc, name));
  EXPECT_EQ(loc, u"%SystemRoot%\\system32\\imageres.dll,-4");
  EXPECT_EQ(U()->GetFileIconLocation(u"Z:\\tmp"), u"%SystemRoot%\\system32\\imageres.dll,-4");
  EXPECT_TRUE(U()->GetFolderInfo(u"Z:\\", loc, name));
  EXPECT_EQ(loc, u"%SystemRoot%\\system32\\imageres.dll,-75") << "the drive's kind is unknown here";
}

TEST_F(ShellIcons, ImagesComeFromTheLocatedFiles) {
  testsupport::BmpSpec s;
  s.width = 16;
  s.height = 32;
  s.bits = 32;
  s.pixels = testsupport::BmpPackRows(16, 16, 32, std::vector<uint32_t>(256, 0xFF00FF00u));
  auto mask = testsupport::BmpPackRows(16, 16, 1, std::vector<uint32_t>(256, 0));
  s.pixels.insert(s.pixels.end(), mask.begin(), mask.end());
  testsupport::IcoImage im;
  im.width = im.height = 16;
  im.data = testsupport::WriteDib(s);
  static std::map<std::u16string, testsupport::Bytes> files;
  files[foundation::GetExpandedPath(u"Z:\\i\\a.ico")] = testsupport::MakeIco({im});
  const auto saved = foundation::ReadFile;
  foundation::ReadFile = [](const std::u16string& n) -> foundation::TStream* {
    auto it = files.find(n);
    return it == files.end() ? nullptr : decoders_test::StreamOf(it->second);
  };
  TImage* img = LoadIconImage(u"Z:\\i\\a.ico", 16, 16);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->GetBitmap()->Width, 16);
  img->Free();
  EXPECT_EQ(LoadIconImage(u"Z:\\i\\missing.ico", 16, 16), nullptr) << "no icon library on this system either";
  EXPECT_EQ(U()->CreateIconImage(u"Z:\\i\\a.ico", 0, 16), nullptr);
  foundation::ReadFile = saved;
}

}  // namespace
