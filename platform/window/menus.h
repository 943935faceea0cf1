// Native menus: an in-process store of menus as records (handle -> items),
// the menu bar bookkeeping of windows (recorded only: windows show no menu
// bar), and popup tracking through a pluggable tracker. Before a popup is
// tracked, its owner window gets WM_INITMENUPOPUP, so the menu can fill
// itself first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/window/api.h"

namespace platform::window {

using HMENU = uintptr_t;
using HBITMAP = uintptr_t;

inline constexpr uint32_t WM_DRAWITEM = 0x002B, WM_MEASUREITEM = 0x002C, WM_INITMENUPOPUP = 0x0117,
                          WM_MENUSELECT = 0x011F;
// Item-info masks.
inline constexpr uint32_t MIIM_STATE = 0x1, MIIM_ID = 0x2, MIIM_SUBMENU = 0x4, MIIM_CHECKMARKS = 0x8,
                          MIIM_TYPE = 0x10, MIIM_DATA = 0x20, MIIM_BITMAP = 0x80;
// Item types and states.
inline constexpr uint32_t MFT_STRING = 0, MFT_OWNERDRAW = 0x100, MFT_RADIOCHECK = 0x200, MFT_SEPARATOR = 0x800;
inline constexpr uint32_t MFS_GRAYED = 3, MFS_DISABLED = 3, MFS_CHECKED = 8, MFS_DEFAULT = 0x1000;
// Addressing of deleteMenu/removeMenu, and the high word of WM_MENUSELECT.
inline constexpr uint32_t MF_BYCOMMAND = 0, MF_BYPOSITION = 0x400, MF_POPUP = 0x10;
inline constexpr uint32_t TPM_RIGHTBUTTON = 0x2, TPM_RETURNCMD = 0x100;
inline constexpr HBITMAP HBMMENU_CALLBACK = static_cast<HBITMAP>(-1);

struct MenuItemInfo {
  uint32_t cbSize = 80;
  uint32_t fMask = 0;
  uint32_t fType = 0;
  uint32_t fState = 0;
  uint32_t wID = 0;
  HMENU hSubMenu = 0;
  HBITMAP hbmpChecked = 0, hbmpUnchecked = 0;
  uintptr_t dwItemData = 0;
  std::u16string dwTypeData;  // the text of a string item
  HBITMAP hbmpItem = 0;
};

HMENU createMenu();
HMENU createPopupMenu();
// Destroys the menu and, recursively, the submenus its items hold.
bool destroyMenu(HMENU menu);
bool isMenu(HMENU menu);
// -1 for an unknown menu.
int getMenuItemCount(HMENU menu);
// Inserts before the item at position (a position past the end appends) or
// before the item with that command.
bool insertMenuItem(HMENU menu, uint32_t item, bool byPosition, const MenuItemInfo& info);
// Changes the fields named by info.fMask.
bool setMenuItemInfo(HMENU menu, uint32_t item, bool byPosition, const MenuItemInfo& info);
// Fills every field of the item.
bool getMenuItemInfo(HMENU menu, uint32_t item, bool byPosition, MenuItemInfo& info);
// Removes the item (by command: also from submenus); deleteMenu destroys
// its submenu, removeMenu leaves it.
bool deleteMenu(HMENU menu, uint32_t item, uint32_t flags);
bool removeMenu(HMENU menu, uint32_t item, uint32_t flags);
// The menu bar of a window (recorded only).
bool setMenu(HWND hwnd, HMENU menu);
HMENU getMenu(HWND hwnd);
bool drawMenuBar(HWND hwnd);
// How often drawMenuBar ran for the window.
int menuBarDrawCount(HWND hwnd);
// The number of live menus (tests look for leaks).
int liveMenuCount();

// Tracks a popup and answers the chosen command (0: none). Trackers send
// WM_INITMENUPOPUP for the submenus they open (sendInitMenuPopup).
using MenuTracker = std::function<uint32_t(HMENU menu, uint32_t flags, int x, int y, HWND owner)>;
// Installs a tracker (empty: the default one, which answers 0) and answers
// the one it replaced.
MenuTracker setMenuTracker(MenuTracker tracker);
// Sends WM_INITMENUPOPUP (menu, index) to the owner.
void sendInitMenuPopup(HWND owner, HMENU menu, int index);
// WM_INITMENUPOPUP for the menu, then the tracker. 0 for an unknown menu.
uint32_t trackPopupMenuEx(HMENU menu, uint32_t flags, int x, int y, HWND owner, const void* params);

// A tracker for tests: each tracking takes the next scripted step; a step
// opens the submenus at the given item positions, one inside the other
// (each gets WM_INITMENUPOPUP), then answers its command. Without steps it
// answers 0, as a dismissed popup does.
class ScriptedMenuTracker {
 public:
  struct Step {
    std::vector<int> open;  // positions of submenu items, outermost first
    uint32_t command = 0;
  };
  void push(Step step) { steps_.push_back(std::move(step)); }
  MenuTracker tracker();
  // The menus tracked, in order, and the flags and positions they came with.
  std::vector<HMENU> tracked;
  std::vector<uint32_t> flags;
  std::vector<std::pair<int, int>> points;

 private:
  std::vector<Step> steps_;
};

}  // namespace platform::window
