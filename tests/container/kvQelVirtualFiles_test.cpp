// Store roots, link files and the path routines.
#include "container/kvQelVirtualFiles.h"

#include <gtest/gtest.h>

#include "AccessTestEnv.h"
#include "tests/support/TempTree.h"

namespace {

using container::ExtractLastPathItem;
using container::ExtractPathFolder;
using container::SetStoreRoots;
using container::StripStoreMacro;
using container::VirtualResolve;

struct RootsGuard {
  ~RootsGuard() { SetStoreRoots({}, -1); }
};

TEST(PathRoutines, LastItemAndFolder) {
  struct Row {
    std::u16string path, last, folderKeep, folderDrop;
  } rows[] = {
      {u"C:\\a\\b\\", u"b", u"C:\\a\\b\\", u"C:\\a\\b"},
      {u"C:\\a\\b", u"b", u"C:\\a\\", u"C:\\a"},
      {u"pic.jpg", u"pic.jpg", u"", u""},
      {u"", u"", u"", u""},
      {u"\\", u"", u"\\", u""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ExtractLastPathItem(r.path), r.last);
    EXPECT_EQ(ExtractPathFolder(r.path, true), r.folderKeep);
    EXPECT_EQ(ExtractPathFolder(r.path, false), r.folderDrop);
  }
}

TEST(PathRoutines, StripStoreMacro) {
  struct Row {
    std::u16string in, out;
  } rows[] = {
      {u"%store%\\a.png", u"\\a.png"},
      {u"%STYLES%\\Frame.png", u"Slide Styles\\\\Frame.png"},
      {u"%Effects%x.fx", u"Transitions\\x.fx"},
      {u"%other%\\a.png", u"%other%\\a.png"},
      {u"plain.png", u"plain.png"},
      {u"%store", u"%store"},
  };
  for (const Row& r : rows) EXPECT_EQ(StripStoreMacro(r.in), r.out);
}

TEST(VirtualFiles, WithoutRootsNamesPassUnchanged) {
  EXPECT_EQ(VirtualResolve(u"%styles%\\Frame.png"), u"%styles%\\Frame.png");
  EXPECT_EQ(VirtualResolve(u"Slide Styles\\Frame.png"), u"Slide Styles\\Frame.png");
}

TEST(VirtualFiles, RootsAreSearchedInOrderAndTheWritableRootTakesMissingNames) {
  qeltest::TempTree t;
  t.write("A/both.png", "a");
  t.write("B/both.png", "b");
  t.write("B/onlyb.png", "b");
  t.write("C/onlyc.png", "c");
  RootsGuard guard;
  SetStoreRoots({t.internal("A"), t.internal("B"), t.internal("C")}, 1);
  EXPECT_EQ(VirtualResolve(u"both.png"), t.internal("A/both.png"));
  EXPECT_EQ(VirtualResolve(u"onlyb.png"), t.internal("B/onlyb.png"));
  EXPECT_EQ(VirtualResolve(u"%store%onlyc.png"), t.internal("C/onlyc.png"));
  // Missing everywhere: the writable root is where it belongs.
  EXPECT_EQ(VirtualResolve(u"nowhere.png"), t.internal("B/nowhere.png"));
  // Absolute names outside every root pass through.
  EXPECT_EQ(VirtualResolve(u"Z:\\elsewhere\\x.png"), u"Z:\\elsewhere\\x.png");
  // Absolute names under a root resolve there.
  EXPECT_EQ(VirtualResolve(t.internal("C/onlyc.png")), t.internal("C/onlyc.png"));
}

TEST(VirtualFiles, TheLastReadOnlyRootAnswersItsOwnName) {
  qeltest::TempTree t;
  t.mkdir("A");
  t.mkdir("B");
  RootsGuard guard;
  SetStoreRoots({t.internal("A"), t.internal("B")}, 0);
  EXPECT_EQ(VirtualResolve(u"x.png"), t.internal("A/x.png"));
  SetStoreRoots({t.internal("A"), t.internal("B")}, 1);
  EXPECT_EQ(VirtualResolve(u"x.png"), t.internal("B/x.png"));
}

TEST(VirtualFiles, LinkFileLeadsToItsTargetAndTheTargetsEmptyLinkGoesAgain) {
  qeltest::TempTree t;
  t.write("R/Frames/Frame2.png", "pic");
  t.write("R/Frame.png.qellnk", "item1=Frames\\Frame2.png\r\n");
  RootsGuard guard;
  SetStoreRoots({t.internal("R")}, 0);
  EXPECT_EQ(VirtualResolve(u"Frame.png"), t.internal("R/Frames/Frame2.png"));
  // The target's link file was made empty for the lookup and removed with it.
  EXPECT_FALSE(t.exists("R/Frames/Frame2.png.qellnk"));
  EXPECT_TRUE(t.exists("R/Frame.png.qellnk"));
  // While a linker lives, the target's empty link file exists and is held.
  foundation::TRef<container::TFileLinker> linker = foundation::TRef<container::TFileLinker>::Adopt(
      new container::TFileLinker(t.internal("R"), u"Frame.png", false));
  EXPECT_EQ(linker->GetTarget(), t.internal("R/Frames/Frame2.png"));
  EXPECT_EQ(linker->ItemCount(), 0);
  EXPECT_TRUE(t.exists("R/Frames/Frame2.png.qellnk"));
  linker.Reset();
  EXPECT_FALSE(t.exists("R/Frames/Frame2.png.qellnk"));
}

TEST(VirtualFiles, LinkerReadsItemsAndKeepsALinkWithItems) {
  qeltest::TempTree t;
  t.write("R/Frames/Frame2.png", "pic");
  t.write("R/Frames/Frame2.png.qellnk", "item1=Frame.png\r\nitem2=Other.png\r\nitem2=Other.png\r\nitem4=skipped\r\n");
  foundation::TRef<container::TFileLinker> linker = foundation::TRef<container::TFileLinker>::Adopt(
      new container::TFileLinker(t.internal("R"), u"Frames\\Frame2.png", true));
  EXPECT_EQ(linker->GetTarget(), t.internal("R/Frames/Frame2.png"));
  ASSERT_EQ(linker->ItemCount(), 2);
  EXPECT_EQ(linker->Item(0), u"Frame.png");
  EXPECT_EQ(linker->Item(1), u"Other.png");
  linker.Reset();
  EXPECT_TRUE(t.exists("R/Frames/Frame2.png.qellnk"));
}

TEST(VirtualFiles, LinkerRefusesAnAbsoluteNameOutsideItsRoot) {
  qeltest::TempTree t;
  t.mkdir("R");
  try {
    auto* l = new container::TFileLinker(t.internal("R"), u"Z:\\elsewhere\\x.png", true);
    l->Free();
    FAIL() << "no assertion";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_EQ(foundation::MessageToUtf8(e.Message()), "TFileLinker.Create: AFileName Error");
  }
}

TEST(VirtualFiles, LoopingAndLongLinkChainsEnd) {
  qeltest::TempTree t;
  t.write("R/a.png.qellnk", "item1=b.png\r\n");
  t.write("R/b.png.qellnk", "item1=a.png\r\n");
  // A chain longer than the bound: l0 -> l1 -> ... -> l40 (which exists).
  for (int i = 0; i < 40; ++i)
    t.write("R/l" + std::to_string(i) + ".png.qellnk", "item1=l" + std::to_string(i + 1) + ".png\r\n");
  t.write("R/l40.png", "end");
  RootsGuard guard;
  SetStoreRoots({t.internal("R")}, 0);
  // a -> b -> a: the chain stops at b, the last name not yet visited.
  EXPECT_EQ(VirtualResolve(u"a.png"), t.internal("R/b.png"));
  EXPECT_EQ(VirtualResolve(u"b.png"), t.internal("R/a.png"));
  const std::u16string l = VirtualResolve(u"l0.png");
  EXPECT_NE(l, t.internal("R/l40.png"));  // cut off before the end
  EXPECT_EQ(l, t.internal("R/l" + std::to_string(container::kMaxLinkSteps) + ".png"));
  // The shorter chain to l40 from l10 still arrives.
  EXPECT_EQ(VirtualResolve(u"l10.png"), t.internal("R/l40.png"));
}

TEST(VirtualFiles, LinkItemsLeavingTheRootEndTheChain) {
  qeltest::TempTree t;
  t.write("outside.png", "x");
  t.write("R/a.png.qellnk", "item1=..\\outside.png\r\n");
  t.write("R/b.png.qellnk", "item1=Z:\\etc\\passwd\r\n");
  RootsGuard guard;
  SetStoreRoots({t.internal("R")}, 0);
  EXPECT_EQ(VirtualResolve(u"a.png"), t.internal("R/a.png"));
  EXPECT_EQ(VirtualResolve(u"b.png"), t.internal("R/b.png"));
  EXPECT_FALSE(t.exists("outside.png.qellnk"));
}

TEST(VirtualFiles, ALinkFileThatCannotBeMadeIsALinkWithoutItems) {
  qeltest::TempTree t;
  t.write("R/plain.txt", "a file, not a folder");
  t.write("R/a.png.qellnk", "item1=plain.txt\\inner.png\r\n");
  RootsGuard guard;
  SetStoreRoots({t.internal("R")}, 0);
  std::u16string r;
  EXPECT_NO_THROW(r = VirtualResolve(u"a.png"));
  EXPECT_EQ(r, t.internal("R/plain.txt/inner.png"));
}

TEST(VirtualFiles, ExistsCountsLinksWithItemsOrExistingTargets) {
  qeltest::TempTree t;
  t.write("A/target.png", "x");
  t.write("A/via.png.qellnk", "item1=target.png\r\n");
  t.write("A/dangling.png.qellnk", "item1=gone.png\r\n");
  t.write("B/inb.png", "x");
  foundation::TRef<container::TVirtFileSystem> a =
      foundation::TRef<container::TVirtFileSystem>::Adopt(new container::TVirtFileSystem(t.internal("A"), false));
  a->Next = new container::TVirtFileSystem(t.internal("B"), true);
  EXPECT_TRUE(a->Exists(u"target.png", false));
  EXPECT_TRUE(a->Exists(u"via.png", false));
  EXPECT_FALSE(a->Exists(u"dangling.png", false));
  EXPECT_FALSE(a->Exists(u"inb.png", false));
  EXPECT_TRUE(a->Exists(u"inb.png", true));
  EXPECT_FALSE(t.exists("A/gone.png.qellnk"));
}

}  // namespace
