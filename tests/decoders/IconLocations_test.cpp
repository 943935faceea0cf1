// Icon locations: executables' group icons by name, index and resource
// number, icon files by name, the icon library and its fallback, groups
// naming missing images, default sizes from the screen.
#include <gtest/gtest.h>

#include <map>

#include "DecodersTestEnv.h"
#include "foundation/kvPathMacros.h"
#include "imaging/kvIconUtils.h"
#include "tests/support/BmpWriter.h"
#include "tests/support/IconWriter.h"

using namespace imaging;
using testsupport::Bytes;
using testsupport::IcoImage;

namespace {

std::map<std::u16string, Bytes>& Files() {
  static auto* f = new std::map<std::u16string, Bytes>;
  return *f;
}

foundation::TStream* FakeRead(const std::u16string& name) {
  auto it = Files().find(name);
  return it == Files().end() ? nullptr : decoders_test::StreamOf(it->second);
}

Bytes Dib(int side) {
  testsupport::BmpSpec s;
  s.width = side;
  s.height = side * 2;
  s.bits = 32;
  s.pixels = testsupport::BmpPackRows(side, side, 32, std::vector<uint32_t>(size_t(side * side), 0xFF112233u));
  Bytes m = testsupport::BmpPackRows(side, side, 1, std::vector<uint32_t>(size_t(side * side), 0));
  s.pixels.insert(s.pixels.end(), m.begin(), m.end());
  return testsupport::WriteDib(s);
}

IcoImage E(int side) {
  IcoImage i;
  i.width = i.height = static_cast<uint8_t>(side);
  i.data = Dib(side);
  return i;
}

std::u16string Exp(const std::u16string& p) { return foundation::GetExpandedPath(p); }

class IconLocations : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = foundation::ReadFile;
    foundation::ReadFile = &FakeRead;
    Files().clear();
    DoneIconUtils();
    // An executable with three groups: MAINICON (16), "101" (24), "7" (40).
    std::vector<testsupport::PeResource> res;
    for (auto [name, side, first] : {std::tuple{u"MAINICON", 16, 1}, {u"101", 24, 10}, {u"7", 40, 20}}) {
      auto g = testsupport::IconGroupResources(name, {E(side)}, static_cast<uint16_t>(first));
      res.insert(res.end(), g.begin(), g.end());
    }
    Files()[Exp(u"Z:\\apps\\app.exe")] = testsupport::MakePe(res);
  }
  void TearDown() override {
    DoneIconUtils();
    foundation::ReadFile = saved;
  }
  static int Side(const std::u16string& location) {
    TImage* i = LoadIconImageByLocation(location, 16, 16, false);
    const int w = i ? i->GetBitmap()->Width : -1;
    if (i) i->Free();
    return w;
  }
  foundation::TReadFileFunc saved = nullptr;
};

TEST_F(IconLocations, GroupsByNameIndexAndNumber) {
  // The group list is in the executable's directory order: numbered names
  // sort as text in the writer ("101", "7", "MAINICON").
  EXPECT_EQ(Side(u"Z:\\apps\\app.exe"), 16);
  EXPECT_EQ(Side(u"Z:\\apps\\app.exe,-101"), 24);
  EXPECT_EQ(Side(u"Z:\\apps\\app.exe,1"), 40) << "the second group icon";
  EXPECT_EQ(Side(u"Z:\\apps\\app.exe,x"), 24) << "not a number: index 0";
  EXPECT_EQ(Side(u"Z:\\apps\\app.exe,-"), 24) << "an empty name: index 0";
  EXPECT_EQ(Side(u"Z:\\apps\\app.exe,9"), -1);
  EXPECT_EQ(Side(u"Z:\\apps\\missing.exe"), -1);
}

TEST_F(IconLocations, IconFilesAreReadDirectly) {
  Files()[Exp(u"Z:\\icons\\a.ICO")] = testsupport::MakeIco({E(16), E(32)});
  TImage* i = LoadIconImageByLocation(u"Z:\\icons\\a.ICO", 32, 32, false);
  ASSERT_NE(i, nullptr);
  EXPECT_EQ(i->GetBitmap()->Width, 32);
  i->Free();
  EXPECT_EQ(LoadIconByLocation(u"Z:\\icons\\none.ico"), nullptr);
}

TEST_F(IconLocations, TheFallbackLibraryMapsResourceNumbers) {
  auto g = testsupport::IconGroupResources(u"1", {E(20)}, 1);
  Files()[Exp(u"%SystemRoot%\\system32\\shell32.dll")] = testsupport::MakePe(g);
  EXPECT_EQ(Side(u"%SystemRoot%\\system32\\imageres.dll,-15"), 20);
  EXPECT_EQ(Side(u"%SystemRoot%\\system32\\imageres.dll,-999"), -1) << "maps to 5, which is absent";
  EXPECT_EQ(MapImageresToShell32(143), 172);
  EXPECT_EQ(MapImageresToShell32(36), 9);
}

TEST_F(IconLocations, AGroupNamingAMissingImageGivesNil) {
  auto g = testsupport::IconGroupResources(u"MAINICON", {E(16)}, 1);
  g.erase(g.begin());  // drop the image, keep the group
  Files()[Exp(u"Z:\\apps\\broken.exe")] = testsupport::MakePe(g);
  EXPECT_EQ(Side(u"Z:\\apps\\broken.exe"), -1);
}

TEST_F(IconLocations, DefaultSizeFollowsTheScreen) {
  struct Recording : TIconUtils {
    int w = 0, h = 0;
    TImage* CreateIconImage(const std::u16string&, int32_t W, int32_t H) override {
      w = W;
      h = H;
      return nullptr;
    }
  };
  auto* r = new Recording;
  r->_AddRef();
  SetIconUtils(r);
  IconScreenPpiHook = [] { return 144; };
  EXPECT_EQ(LoadIconImage(u"x.ico", 0, 0), nullptr);
  EXPECT_EQ(r->w, 48);
  EXPECT_EQ(r->h, 48);
  EXPECT_EQ(LoadIconImage(u"", 0, 0), nullptr);
  TIconImageRec rec;
  GetIconImage(rec, u"x.ico", 20, 0);
  EXPECT_EQ(rec.Image, nullptr);
  EXPECT_EQ(rec.Width, 0);
  IconScreenPpiHook = nullptr;
  r->Free();
}

}  // namespace
