// Opening shows: packed (appended to a copy of a real executable) and loose
// previews, file maps, rotations, colour set-up and the embedded transform.
#include "container/kvQelLoader2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "AccessTestEnv.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/kvUTF8.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TempTree.h"

namespace {

using accesstest::PlaceholderRecorder;
using container::TFileAccessor;
using container::TQelShowLocator;
using foundation::TRef;
using testsupport::ContainerBuilder;

std::string Project(const std::string& body) { return "\xEF\xBB\xBF" + body; }

std::string Utf8(const std::u16string& s) { return foundation::MessageToUtf8(s); }

TRef<TQelShowLocator> Open(const std::u16string& file, std::u16string& error) {
  return TRef<TQelShowLocator>::Adopt(container::OpenShow(file, error));
}

std::string ReadName(TQelShowLocator* locator, const std::u16string& name) {
  TRef<foundation::TStream> s = TRef<foundation::TStream>::Adopt(locator->Accessor->OpenStream(name));
  return s ? accesstest::ReadStreamText(s.Get()) : "<none>";
}

struct GlobalsGuard {
  ~GlobalsGuard() {
    container::SetPreviewNames(u"", u"");
    container::SetCurrentShowLocator(nullptr);
    container::SetCommandLineProfile(nullptr, false);
    container::SetNoColorManagement(false);
    container::SetStoreRoots({}, -1);
    container::InstallPathAliases({});
    imaging::SetDisplayColorProfile(nullptr, false);
  }
};

// ---- file map and rotation lines ----

TEST(FileMap, LinesSplitAtTheFirstUnquotedEquals) {
  struct Row {
    std::u16string line;
    bool taken;
    std::u16string key, target;
  } rows[] = {
      {u";\"C:\\old\\a=b.jpg\"=\"x.jpg\"", true, u"C:\\OLD\\A=B.JPG", u"x.jpg"},
      {u"pic.jpg = other.jpg ", true, u"PIC.JPG", u"other.jpg"},
      {u";no equals here", false, u"", u""},
      {u"left=", false, u"", u""},
      {u"=right", false, u"", u""},
      {u"\"\"=\"x\"", false, u"", u""},
      {u"\"unclosed=x", false, u"", u""},
  };
  for (const Row& r : rows) {
    TRef<container::TMappedFileSource> source =
        TRef<container::TMappedFileSource>::Adopt(new container::TMappedFileSource());
    EXPECT_EQ(source->AddFileMapLine(r.line), r.taken) << Utf8(r.line);
    if (!r.taken) continue;
    std::u16string target;
    ASSERT_TRUE(source->FindMapping(r.key, target)) << Utf8(r.line);
    EXPECT_EQ(target, r.target);
  }
}

TEST(FileMap, OnlyTheFirstMappingOfANameCounts) {
  TRef<container::TMappedFileSource> source =
      TRef<container::TMappedFileSource>::Adopt(new container::TMappedFileSource());
  source->AddFileMapLine(u"a.jpg=first.jpg");
  source->AddFileMapLine(u"A.JPG=second.jpg");
  std::u16string target;
  ASSERT_TRUE(source->FindMapping(u"a.Jpg", target));
  EXPECT_EQ(target, u"first.jpg");
}

TEST(RotationMap, OrientationsGiveTheTurnsAndSwapQuarterTurns) {
  TRef<container::TMappedFileSource> source =
      TRef<container::TMappedFileSource>::Adopt(new container::TMappedFileSource());
  EXPECT_TRUE(source->AddRotationLine(u";\"IMG1.JPG\"=6"));
  EXPECT_TRUE(source->AddRotationLine(u";\"img3.jpg\"=3"));
  EXPECT_TRUE(source->AddRotationLine(u";\"img8.jpg\"=8"));
  EXPECT_TRUE(source->AddRotationLine(u";\"img1b.jpg\"=1"));
  for (const char16_t* bad : {u";\"img5.jpg\"=5", u"\"img.jpg\"=6", u";\"\"=6", u";\"img.jpg\"=6x", u";\"img.jpg\"="})
    EXPECT_FALSE(source->AddRotationLine(bad)) << Utf8(bad);
  imaging::TImageParams p;
  p.Name = u"img1.jpg";
  p.Width = 4000;
  p.Height = 3000;
  EXPECT_TRUE(source->QueryOrientation(p));
  EXPECT_EQ(p.Width, 3000);
  EXPECT_EQ(p.Height, 4000);
  p = {u"IMG3.JPG", 40, 30, nullptr};
  EXPECT_TRUE(source->QueryOrientation(p));
  EXPECT_EQ(p.Width, 40);
  p = {u"img8.jpg", 40, 30, nullptr};
  EXPECT_TRUE(source->QueryOrientation(p));
  EXPECT_EQ(p.Width, 30);
  for (const char16_t* none : {u"img1b.jpg", u"img5.jpg", u"unknown.jpg"}) {
    p = {none, 40, 30, nullptr};
    EXPECT_FALSE(source->QueryOrientation(p)) << Utf8(none);
    EXPECT_EQ(p.Width, 40);
  }
}

// Each orientation turns the picture its own way: the level a store makes
// through the orientation query holds, at every pixel, the source
// pixel the turn puts there (a W x H picture; 6 a clockwise quarter turn,
// 8 a counter-clockwise one, 3 a half turn).
TEST(RotationMap, EachOrientationTurnsThePixelsItsOwnWay) {
  TRef<container::TMappedFileSource> source =
      TRef<container::TMappedFileSource>::Adopt(new container::TMappedFileSource());
  ASSERT_TRUE(source->AddRotationLine(u";\"cw.jpg\"=6"));
  ASSERT_TRUE(source->AddRotationLine(u";\"ccw.jpg\"=8"));
  ASSERT_TRUE(source->AddRotationLine(u";\"half.jpg\"=3"));
  imaging::TLevelProvider provider = [&](imaging::TImageParams& p) { return source->QueryOrientation(p); };
  constexpr int W = 3, H = 2;
  // The source pixel (x, y) is told by its blue byte: 1 + x + 10 y.
  auto sourcePixel = [](int x, int y) { return uint8_t(1 + x + 10 * y); };
  struct Case {
    const char16_t* name;
    int width, height;
    std::function<std::pair<int, int>(int, int)> from;  // destination (x, y) -> source (x, y)
  } cases[] = {
      {u"cw.jpg", H, W, [](int x, int y) { return std::pair{y, H - 1 - x}; }},
      {u"ccw.jpg", H, W, [](int x, int y) { return std::pair{W - 1 - y, x}; }},
      {u"half.jpg", W, H, [](int x, int y) { return std::pair{W - 1 - x, H - 1 - y}; }},
  };
  for (const Case& c : cases) {
    imaging::TSysBitmap* picture = imaging::CreateSysBitmap(W, H, imaging::pfR8G8B8);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        uint8_t* px = picture->Row(y) + x * 3;
        px[0] = sourcePixel(x, y);
        px[1] = 0x55;
        px[2] = 0xAA;
      }
    auto store = TRef<imaging::TWrapperBitmapStore>::Adopt(
        new imaging::TWrapperBitmapStore(c.name, picture, true, provider));
    auto* level = dynamic_cast<imaging::TSysBitmap*>(store->GetBitmap(0, nullptr, nullptr));
    ASSERT_NE(level, nullptr) << Utf8(c.name);
    ASSERT_EQ(level->Width, c.width) << Utf8(c.name);
    ASSERT_EQ(level->Height, c.height) << Utf8(c.name);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        auto [sx, sy] = c.from(x, y);
        EXPECT_EQ(level->Row(y)[x * 3], sourcePixel(sx, sy)) << Utf8(c.name) << " at " << x << "," << y;
        EXPECT_EQ(level->Row(y)[x * 3 + 1], 0x55);
      }
  }
}

// ---- packed shows ----

class PackedShow : public ::testing::Test {
 protected:
  // A copy of this test program, the player stand-in, with a show appended.
  std::u16string MakeShow(const ContainerBuilder& b, const std::string& file = "show") {
    std::filesystem::copy_file("/proc/self/exe", tree_.path(file));
    b.AppendToFile(tree_.path(file));
    return tree_.internal(file);
  }
  qeltest::TempTree tree_;
  GlobalsGuard globals_;
};

TEST_F(PackedShow, OpensAndResolvesNamesThroughTheFileMap) {
  ContainerBuilder b;
  b.AddDeflated("Project.qel", Project("[Main]\r\nQelVersion=10.25\r\n"
                                       "[FileMap]\r\n;\"C:\\old\\a=b.fake\"=\"C:\\Shows\\pic.fake\"\r\n"
                                       "chain1.fake=chain2.fake\r\nchain2.fake=C:\\Shows\\pic.fake\r\n"
                                       "loop1.fake=loop2.fake\r\nloop2.fake=loop1.fake\r\n"));
  b.AddStored("C:\\Shows\\pic.fake", "FAKE 16 8 42");
  b.AddDeflated("C:\\Shows\\deflated.txt", std::string(100000, 'd'));
  b.AddEnciphered("C:\\Shows\\secret.txt", "enciphered text");
  b.AddStored("%styles%\\Frame.fake", "FAKE 4 4 9");
  b.Add({"C:\\Shows\\damaged.fake", "FAKE 4 4 1", 0, true, std::nullopt, std::string("99999999999"), false, false});
  const std::u16string file = MakeShow(b);
  std::u16string error;
  TRef<TQelShowLocator> show = Open(file, error);
  ASSERT_TRUE(show) << Utf8(error);
  EXPECT_TRUE(show->Packed);
  EXPECT_EQ(show->Version, u"10.25");
  EXPECT_EQ(show->ProjectName, u"Project.qel");
  EXPECT_EQ(show->Accessor->BaseFolder, tree_.internal() + u"\\");
  EXPECT_EQ(ReadName(show.Get(), u"c:\\shows\\deflated.txt"), std::string(100000, 'd'));
  EXPECT_EQ(ReadName(show.Get(), u"C:\\Shows\\secret.txt"), "enciphered text");
  EXPECT_EQ(ReadName(show.Get(), u"%styles%\\Frame.fake"), "FAKE 4 4 9");
  // No fall back to the disk for a packed show.
  tree_.write("disk.txt", "on disk");
  EXPECT_EQ(ReadName(show.Get(), tree_.internal("disk.txt")), "<none>");

  const int before = accesstest::gFakeDecodes.load();
  TRef<imaging::TImage> a =
      TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(show->Accessor, u"C:\\old\\a=b.fake"));
  TRef<imaging::TImage> b2 = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(show->Accessor, u"c:\\OLD\\A=B.FAKE"));
  TRef<imaging::TImage> c = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(show->Accessor, u"chain1.fake"));
  EXPECT_EQ(accesstest::FirstGrey(a.Get()), 42);
  EXPECT_EQ(accesstest::FirstGrey(c.Get()), 42);
  EXPECT_EQ(a->Store, b2->Store);  // one handle per name and source
  EXPECT_EQ(accesstest::gFakeDecodes.load(), before + 2);

  // A mapping cycle ends; a damaged entry is a missing one.
  for (const char16_t* name : {u"loop1.fake", u"C:\\Shows\\damaged.fake", u"C:\\Shows\\absent.fake"}) {
    PlaceholderRecorder recorder;
    TRef<imaging::TImage> p;
    ASSERT_NO_THROW(p = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(show->Accessor, name)));
    ASSERT_TRUE(p);
    EXPECT_EQ(PlaceholderRecorder::Line1, u" Image not found ") << Utf8(name);
  }
}

TEST_F(PackedShow, NamesWithADecoderOptionOpenTheirOwnEntryElseTheFileBeforeTheBar) {
  // An animated picture is asked for as "<name>|framesatlas": the container
  // holds the file under its plain name, or a converted atlas under the whole.
  ContainerBuilder b;
  b.AddDeflated("Project.qel", Project("[Main]\r\nQelVersion=10.25\r\n"
                                       "[FileMap]\r\nold.gif=C:\\Shows\\anim.gif\r\n"));
  b.AddStored("C:\\Shows\\anim.gif", "GIF bytes");
  b.AddDeflated("C:\\Shows\\conv.gif", "plain GIF");
  b.AddStored("C:\\Shows\\conv.gif|framesatlas", "converted atlas");
  std::u16string error;
  TRef<TQelShowLocator> show = Open(MakeShow(b), error);
  ASSERT_TRUE(show) << Utf8(error);
  EXPECT_EQ(ReadName(show.Get(), u"C:\\Shows\\anim.gif|framesatlas"), "GIF bytes");
  EXPECT_EQ(ReadName(show.Get(), u"c:\\shows\\ANIM.GIF|framesatlas"), "GIF bytes");
  EXPECT_EQ(ReadName(show.Get(), u"old.gif|framesatlas"), "GIF bytes");  // the file map applies to the part
  EXPECT_EQ(ReadName(show.Get(), u"C:\\Shows\\conv.gif|framesatlas"), "converted atlas");
  EXPECT_EQ(ReadName(show.Get(), u"C:\\Shows\\conv.gif"), "plain GIF");
  EXPECT_EQ(ReadName(show.Get(), u"C:\\Shows\\absent.gif|framesatlas"), "<none>");
  // Still no fall back to the disk through the bar.
  tree_.write("disk.gif", "on disk");
  EXPECT_EQ(ReadName(show.Get(), tree_.internal("disk.gif") + u"|framesatlas"), "<none>");
}

TEST_F(PackedShow, FailuresGiveNoLocatorAndTheirText) {
  ContainerBuilder noProject;
  noProject.AddStored("other.txt", "x");
  std::u16string error;
  EXPECT_FALSE(Open(MakeShow(noProject, "noproject"), error));
  EXPECT_EQ(error, u"Executable SlideShow Open Error");

  // A project entry that is not INI text at all is still read as INI (no
  // error), but one that cannot be read is refused the same way.
  ContainerBuilder badProject;
  badProject.Add({"Project.qel", "x", 0, true, std::nullopt, std::string("-5"), false, false});
  error.clear();
  EXPECT_FALSE(Open(MakeShow(badProject, "badproject"), error));
  EXPECT_EQ(error, u"Executable SlideShow Open Error");

  tree_.write("plain", std::string(500, 'p'));
  error = u"unchanged?";
  EXPECT_FALSE(Open(tree_.internal("plain"), error));
  EXPECT_NE(error, u"Executable SlideShow Open Error");

  error.clear();
  EXPECT_FALSE(Open(tree_.internal("missing"), error));
  EXPECT_EQ(error, u"Slideshow File not Found");

  // A directory block that does not inflate: refused with its reason, no exception.
  std::string bytes(100, '\xCC');
  bytes += std::string(16, '\xFF');
  int64_t dirStart = 100;
  bytes.append(reinterpret_cast<const char*>(&dirStart), 8);
  bytes += ".dne";
  tree_.write("corrupt", bytes);
  error.clear();
  TRef<TQelShowLocator> corrupt;
  ASSERT_NO_THROW(corrupt = Open(tree_.internal("corrupt"), error));
  EXPECT_FALSE(corrupt);
  EXPECT_FALSE(error.empty());
}

TEST_F(PackedShow, SourceMadeOnceThroughTheShowModelHook) {
  ContainerBuilder b;
  b.AddStored("Project.qel", Project("[Main]\r\n"));
  std::u16string error;
  TRef<TQelShowLocator> show = Open(MakeShow(b), error);
  ASSERT_TRUE(show);
  container::TCreateQelSource previous = container::CreateQelSourceHook;
  static TFileAccessor* seenAccessor;
  static foundation::TIniFile* seenIni;
  static bool seenOwns;
  container::CreateQelSourceHook = [](TFileAccessor* a, foundation::TIniFile* i, bool owns) -> foundation::TRefObject* {
    seenAccessor = a;
    seenIni = i;
    seenOwns = owns;
    return new container::TMappingStr(u"stand-in source");
  };
  foundation::TRefObject* s1 = show->GetSourceObject();
  foundation::TRefObject* s2 = show->GetSourceObject();
  container::CreateQelSourceHook = previous;
  EXPECT_NE(s1, nullptr);
  EXPECT_EQ(s1, s2);
  EXPECT_EQ(seenAccessor, show->Accessor);
  EXPECT_EQ(seenIni, show->ProjectIni);
  EXPECT_FALSE(seenOwns);
}

// ---- loose projects ----

TEST(PreviewProject, LooseProjectOpensWithAliasesStoresAndAnyCase) {
  GlobalsGuard globals;
  qeltest::TempTree t;
  t.write("Show/Media/Pic.FAKE", "FAKE 2 2 11");
  t.write("Show/photos/beach.fake", "FAKE 2 2 22");
  t.write("Show/clip.fake", "FAKE 2 2 33");
  t.write("StoreA/Slide Styles/Frame.fake", "FAKE 2 2 44");
  // Written on a system that ignores case: the link names its target in other case.
  t.write("StoreB/Transitions/Wipe.fake.qellnk", "item1=TRANSITIONS\\real\\Wipe.FAKE\r\n");
  t.write("StoreB/Transitions/Real/wipe.fake", "FAKE 2 2 55");
  const std::u16string show = t.internal("Show");
  t.write("Show/Project.qel",
          Project("[Main]\r\nQelVersion=9.0\r\nopt_exefn=" + Utf8(show) + "\\Show.exe\r\n"
                  "[FileMap]\r\n;\"C:\\Author\\Beach.fake\"=\"" + Utf8(show) + "\\PHOTOS\\BEACH.FAKE\"\r\n"
                  "[PathModifiers]\r\nCount=1\r\nEnv0=media\r\nPath0=" + Utf8(show) + "\\media\r\nDef0=1\r\n"
                  "storepaths=" + Utf8(t.internal("StoreA")) + "|" + Utf8(t.internal("StoreB")) + "\r\n"));
  TRef<TQelShowLocator> locator =
      TRef<TQelShowLocator>::Adopt(container::OpenPreviewProject(show + u"\\project.QEL"));
  ASSERT_TRUE(locator);
  EXPECT_FALSE(locator->Packed);
  EXPECT_EQ(locator->Version, u"9.0");
  EXPECT_EQ(locator->Accessor->BaseFolder, show + u"\\");
  struct Row {
    std::u16string name;
    int grey;
  } rows[] = {
      {u"%MEDIA%\\pic.fake", 11},
      {u"C:\\author\\beach.fake", 22},
      {u"%styles%\\Frame.fake", 44},
      {u"%effects%\\Wipe.fake", 55},
      {u"%EFFECTS%/wipe.FAKE", 55},
      {u"%Styles%\\frame.FAKE", 44},
  };
  for (const Row& r : rows) {
    PlaceholderRecorder recorder;
    TRef<imaging::TImage> image = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(locator->Accessor, r.name));
    EXPECT_EQ(accesstest::FirstGrey(image.Get()), r.grey) << Utf8(r.name) << " " << Utf8(PlaceholderRecorder::Line1);
  }
  // Resolving through the link left no link file behind.
  EXPECT_FALSE(t.exists("StoreB/Transitions/Real/Wipe.FAKE.qellnk"));
  EXPECT_FALSE(t.exists("StoreB/Transitions/Real/wipe.fake.qellnk"));
  // The text before a bar names the file.
  EXPECT_EQ(ReadName(locator.Get(), show + u"\\CLIP.fake|the rest"), "FAKE 2 2 33");
  // Loose projects are opened instead of a container under their executable's name.
  container::SetPreviewNames(show + u"\\Show.exe", show + u"\\Project.qel");
  std::u16string error;
  TRef<TQelShowLocator> again = TRef<TQelShowLocator>::Adopt(container::OpenShow(show + u"\\show.EXE", error));
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->Packed);
  EXPECT_EQ(again->Version, u"9.0");
}

TEST(PreviewProject, UnreadableProjectGivesNone) {
  qeltest::TempTree t;
  EXPECT_EQ(container::OpenPreviewProject(t.internal("none.qel")), nullptr);
}

// ---- colour set-up ----

TEST(ColorSetup, ProjectOptionAndCommandLineDecideTheDisplayProfile) {
  GlobalsGuard globals;
  qeltest::TempTree t;
  t.mkdir("folder.icc");  // exists, but cannot be read as a file
  struct Row {
    std::string cm;
    bool noicc;
    imaging::TColorProfile* commandLine;
    bool off;
    imaging::TColorProfile* display;  // nullptr: left as it was
    bool embeddedOff;
  } rows[] = {
      {"", false, nullptr, true, nullptr, false},
      {"", false, imaging::AdobeRGBColorProfile, true, nullptr, false},
      {"sRGB", true, nullptr, true, nullptr, false},
      {"sRGB", false, nullptr, false, imaging::SRGBColorProfile, false},
      {"adobergb", false, nullptr, false, imaging::AdobeRGBColorProfile, true},
      {"RaderAZO", false, nullptr, false, imaging::RaderAZOColorProfile, true},
      {"*", false, nullptr, false, imaging::RaderAZOColorProfile, false},
      {"*", false, imaging::AdobeRGBColorProfile, false, imaging::AdobeRGBColorProfile, true},
      {"sRGB", false, imaging::AdobeRGBColorProfile, false, imaging::AdobeRGBColorProfile, true},
      {Utf8(t.internal("folder.icc")), false, nullptr, false, imaging::SRGBColorProfile, false},
      {Utf8(t.internal("missing.icc")), false, nullptr, false, imaging::SRGBColorProfile, false},
  };
  for (const Row& r : rows) {
    t.write("p" + r.cm.substr(0, 0) + "/Project.qel", Project("[Main]\r\nColorManagement=" + r.cm + "\r\n"));
    imaging::SetDisplayColorProfile(imaging::YUVsRGBColorProfile, false);  // a marker
    container::SetNoColorManagement(r.noicc);
    container::SetCommandLineProfile(r.commandLine, false);
    TRef<TQelShowLocator> locator = TRef<TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("p/Project.qel")));
    ASSERT_TRUE(locator);
    EXPECT_EQ(imaging::ColorManagementOff.load(), r.off) << r.cm;
    EXPECT_EQ(imaging::GetDisplayColorProfile().Get(), r.display ? r.display : imaging::YUVsRGBColorProfile) << r.cm;
    EXPECT_EQ(container::EmbeddedTransformsOff.load(), r.embeddedOff) << r.cm;
  }
}

TEST(ColorSetup, MonitorProfileStandsForTheQuestionMark) {
  GlobalsGuard globals;
  qeltest::TempTree t;
  t.write("Project.qel", Project("[Main]\r\nColorManagement=?\r\n"));
  container::SetMonitorProfilePath(u"AdobeRGB");  // a standard name stands in for a file here
  TRef<TQelShowLocator> locator = TRef<TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("Project.qel")));
  ASSERT_TRUE(locator);
  EXPECT_EQ(imaging::GetDisplayColorProfile().Get(), imaging::AdobeRGBColorProfile);
  container::SetMonitorProfilePath(u"");
}

// ---- embedded colour transform ----

TEST_F(PackedShow, EmbeddedTableBecomesTheTransformOfAPackedShow) {
  ContainerBuilder b;
  b.AddStored("Project.qel", Project("[Main]\r\nColorManagement=sRGB\r\n"));
  b.AddStored("ColorSpaceExe_AdobeRGB].KVGFX", "KVGFX 32 1024 0");
  b.AddStored("ColorSpaceExe_RaderAZO].KVGFX", "KVGFX 16 16 0");
  std::u16string error;
  TRef<TQelShowLocator> show = Open(MakeShow(b), error);
  ASSERT_TRUE(show) << Utf8(error);
  ASSERT_FALSE(container::EmbeddedTransformsOff.load());
  container::SetCurrentShowLocator(show.Get());

  TRef<imaging::TColorTransform> t = TRef<imaging::TColorTransform>::Adopt(
      imaging::CreateColorTransformHook(imaging::AdobeRGBColorProfile, imaging::SRGBColorProfile));
  auto* embedded = dynamic_cast<container::TEmbededColorTransform*>(t.Get());
  ASSERT_NE(embedded, nullptr);
  // A table of zero differences is the identity.
  TRef<imaging::TSysBitmap> lut =
      TRef<imaging::TSysBitmap>::Adopt(imaging::CreateSysBitmap(32, 1024, imaging::pfA8R8G8B8));
  std::memset(lut->Row(0), 0x5A, 4 * 32);
  EXPECT_TRUE(embedded->TransformBitmap(lut.Get()));
  const imaging::TFColorA* row = lut->Rows32(32 * 4 + 31);
  EXPECT_EQ(row[0].B, 33);
  EXPECT_EQ(row[0].G, 255);
  EXPECT_EQ(row[0].R, 0);
  EXPECT_EQ(row[31].R, 255);
  EXPECT_EQ(lut->Rows32(0)[0].B, 0);
  // A table of another shape, or none, gives no transform.
  EXPECT_EQ(imaging::CreateColorTransformHook(imaging::RaderAZOColorProfile, imaging::SRGBColorProfile), nullptr);
  EXPECT_EQ(imaging::CreateColorTransformHook(imaging::YUVsRGBColorProfile, imaging::SRGBColorProfile), nullptr);
  // A table image its loader reports as not decoded is refused too.
  container::EmbeddedTableDecodedHook = [](imaging::TImage*) { return false; };
  EXPECT_EQ(imaging::CreateColorTransformHook(imaging::AdobeRGBColorProfile, imaging::SRGBColorProfile), nullptr);
  container::EmbeddedTableDecodedHook = nullptr;
  // With embedded transforms off the previous hook answers.
  container::EmbeddedTransformsOff = true;
  imaging::TColorTransform* fallback =
      imaging::CreateColorTransformHook(imaging::AdobeRGBColorProfile, imaging::SRGBColorProfile);
  EXPECT_EQ(dynamic_cast<container::TEmbededColorTransform*>(fallback), nullptr);
  foundation::FreeObj(fallback);
  container::EmbeddedTransformsOff = false;
}

}  // namespace
