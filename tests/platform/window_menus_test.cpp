// The menu store: items inserted, changed, read and removed by position and
// by command, submenus destroyed with their parents, the recorded menu bar,
// and popups tracked through a scripted tracker after WM_INITMENUPOPUP.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/window/headless/Window_headless.h"
#include "platform/window/menus.h"

using namespace platform::window;

namespace {

std::vector<std::pair<HMENU, int>> g_inits;

LRESULT OwnerProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITMENUPOPUP) g_inits.emplace_back(static_cast<HMENU>(wParam), static_cast<int>(lParam));
  return defWindowProc(hwnd, message, wParam, lParam);
}

MenuItemInfo Str(const char16_t* text, uint32_t id, uint32_t state = 0, HMENU sub = 0) {
  MenuItemInfo i;
  i.fMask = 0x3F;
  i.fType = MFT_STRING;
  i.fState = state;
  i.wID = id;
  i.hSubMenu = sub;
  i.dwTypeData = text;
  return i;
}

std::u16string TextAt(HMENU m, uint32_t pos) {
  MenuItemInfo i;
  return getMenuItemInfo(m, pos, true, i) ? i.dwTypeData : u"?";
}

class Menus : public ::testing::Test {
 protected:
  void SetUp() override {
    g_inits.clear();
    headless().reset();
    setWindowBackend(nullptr);
    WndClass cls;
    cls.lpfnWndProc = &OwnerProc;
    cls.className = u"MenuOwner";
    ASSERT_NE(registerClass(cls), 0);
    Owner = createWindowEx(0, u"MenuOwner", u"", 0, 0, 0, 10, 10, 0, 0, 0, nullptr);
    ASSERT_NE(Owner, 0u);
    Live = liveMenuCount();
  }
  void TearDown() override {
    setMenuTracker({});
    destroyWindow(Owner);
    EXPECT_TRUE(unregisterClass(u"MenuOwner", 0));
    EXPECT_EQ(liveMenuCount(), Live) << "menus leaked";
  }
  HWND Owner = 0;
  int Live = 0;
};

TEST_F(Menus, ItemsByPositionAndByCommand) {
  const HMENU m = createPopupMenu();
  const HMENU sub = createPopupMenu();
  ASSERT_TRUE(insertMenuItem(m, 0, true, Str(u"Open", 10)));
  ASSERT_TRUE(insertMenuItem(m, 0, true, Str(u"New", 11)));         // before Open
  ASSERT_TRUE(insertMenuItem(m, 99, true, Str(u"More", 12, 0, sub)));  // past the end: appended
  ASSERT_TRUE(insertMenuItem(sub, 0, true, Str(u"Deep", 20)));
  ASSERT_TRUE(insertMenuItem(m, 10, false, Str(u"Save", 13)));       // before the item with command 10
  EXPECT_EQ(getMenuItemCount(m), 4);
  EXPECT_EQ(TextAt(m, 0), u"New");
  EXPECT_EQ(TextAt(m, 1), u"Save");
  EXPECT_EQ(TextAt(m, 2), u"Open");
  EXPECT_EQ(TextAt(m, 3), u"More");
  // Changing only the state leaves the text.
  MenuItemInfo st;
  st.fMask = MIIM_STATE;
  st.fState = MFS_CHECKED | MFS_DEFAULT;
  ASSERT_TRUE(setMenuItemInfo(m, 10, false, st));
  MenuItemInfo got;
  ASSERT_TRUE(getMenuItemInfo(m, 2, true, got));
  EXPECT_EQ(got.fState, MFS_CHECKED | MFS_DEFAULT);
  EXPECT_EQ(got.dwTypeData, u"Open");
  EXPECT_EQ(got.wID, 10u);
  // By command the search reaches into submenus.
  ASSERT_TRUE(getMenuItemInfo(m, 20, false, got));
  EXPECT_EQ(got.dwTypeData, u"Deep");
  EXPECT_TRUE(deleteMenu(m, 20, MF_BYCOMMAND));
  EXPECT_EQ(getMenuItemCount(sub), 0);
  EXPECT_FALSE(getMenuItemInfo(m, 20, false, got));
  // A separator keeps no text.
  MenuItemInfo sep = Str(u"-", 30);
  sep.fType = MFT_SEPARATOR;
  ASSERT_TRUE(insertMenuItem(m, 0, true, sep));
  EXPECT_EQ(TextAt(m, 0), u"");
  EXPECT_TRUE(deleteMenu(m, 0, MF_BYPOSITION));
  // removeMenu leaves the submenu, deleteMenu destroys it.
  EXPECT_TRUE(removeMenu(m, 3, MF_BYPOSITION));
  EXPECT_TRUE(isMenu(sub));
  ASSERT_TRUE(insertMenuItem(m, 0, true, Str(u"More", 12, 0, sub)));
  EXPECT_TRUE(deleteMenu(m, 0, MF_BYPOSITION));
  EXPECT_FALSE(isMenu(sub));
  EXPECT_FALSE(deleteMenu(m, 7, MF_BYPOSITION));
  EXPECT_FALSE(insertMenuItem(0x1, 0, true, Str(u"x", 1)));
  EXPECT_EQ(getMenuItemCount(0x1), -1);
  EXPECT_TRUE(destroyMenu(m));
  EXPECT_FALSE(destroyMenu(m));
}

TEST_F(Menus, DestroyingAMenuDestroysItsSubmenus) {
  const HMENU m = createMenu();
  const HMENU a = createPopupMenu();
  const HMENU b = createPopupMenu();
  insertMenuItem(a, 0, true, Str(u"b", 2, 0, b));
  insertMenuItem(m, 0, true, Str(u"a", 1, 0, a));
  EXPECT_TRUE(destroyMenu(m));
  EXPECT_FALSE(isMenu(a));
  EXPECT_FALSE(isMenu(b));
}

TEST_F(Menus, TheMenuBarIsRecorded) {
  const HMENU m = createMenu();
  EXPECT_EQ(getMenu(Owner), 0u);
  EXPECT_TRUE(setMenu(Owner, m));
  EXPECT_EQ(getMenu(Owner), m);
  const int before = menuBarDrawCount(Owner);
  EXPECT_TRUE(drawMenuBar(Owner));
  EXPECT_EQ(menuBarDrawCount(Owner), before + 1);
  EXPECT_FALSE(setMenu(Owner, 0x2)) << "an unknown menu";
  EXPECT_TRUE(setMenu(Owner, 0));
  EXPECT_EQ(getMenu(Owner), 0u);
  destroyMenu(m);
}

TEST_F(Menus, PopupsAreTrackedAfterWmInitMenuPopup) {
  const HMENU m = createPopupMenu();
  const HMENU sub = createPopupMenu();
  insertMenuItem(m, 0, true, Str(u"A", 1));
  insertMenuItem(m, 1, true, Str(u"Sub", 2, 0, sub));
  insertMenuItem(sub, 0, true, Str(u"B", 3));
  // Without a tracker the popup closes with no choice, after its init.
  EXPECT_EQ(trackPopupMenuEx(m, TPM_RETURNCMD | TPM_RIGHTBUTTON, 5, 6, Owner, nullptr), 0u);
  ASSERT_EQ(g_inits.size(), 1u);
  EXPECT_EQ(g_inits[0].first, m);
  g_inits.clear();
  ScriptedMenuTracker script;
  script.push({{}, 1});
  script.push({{1}, 3});
  setMenuTracker(script.tracker());
  EXPECT_EQ(trackPopupMenuEx(m, TPM_RETURNCMD | TPM_RIGHTBUTTON, 5, 6, Owner, nullptr), 1u);
  EXPECT_EQ(trackPopupMenuEx(m, TPM_RETURNCMD | TPM_RIGHTBUTTON, 7, 8, Owner, nullptr), 3u);
  EXPECT_EQ(trackPopupMenuEx(m, TPM_RETURNCMD, 0, 0, Owner, nullptr), 0u) << "script used up: dismissed";
  // One init per popup, the submenu's with its position.
  const std::vector<std::pair<HMENU, int>> want = {{m, 0}, {m, 0}, {sub, 1}, {m, 0}};
  EXPECT_EQ(g_inits, want);
  EXPECT_EQ(script.tracked, (std::vector<HMENU>{m, m, m}));
  EXPECT_EQ(script.flags[0], TPM_RETURNCMD | TPM_RIGHTBUTTON);
  EXPECT_EQ(script.points[1], std::make_pair(7, 8));
  EXPECT_EQ(trackPopupMenuEx(0x3, 0, 0, 0, Owner, nullptr), 0u) << "an unknown menu";
  destroyMenu(m);
}

}  // namespace
