#include "platform/window/menus.h"

#include <map>
#include <memory>
#include <mutex>

namespace platform::window {

namespace {

struct Item {
  uint32_t type = 0, state = 0, id = 0;
  HMENU sub = 0;
  uintptr_t data = 0;
  std::u16string text;
  HBITMAP bitmap = 0;
};

struct Store {
  std::mutex lock;                              // guards everything below
  std::map<HMENU, std::vector<Item>> menus;
  std::map<HWND, HMENU> bars;
  std::map<HWND, int> barDraws;
  HMENU next = 0x6000;
  MenuTracker tracker;
};

Store& S() {
  static Store* store = new Store;  // never destroyed: menus may outlive static destruction order
  return *store;
}

// The list and index of an item; by command the search descends into submenus.
bool Find(Store& s, HMENU menu, uint32_t item, bool byPosition, std::vector<Item>*& list, size_t& index) {
  auto it = s.menus.find(menu);
  if (it == s.menus.end()) return false;
  auto& items = it->second;
  if (byPosition) {
    if (item >= items.size()) return false;
    list = &items;
    index = item;
    return true;
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].id == item && !items[i].sub) {
      list = &items;
      index = i;
      return true;
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].sub && Find(s, items[i].sub, item, false, list, index)) return true;
    if (items[i].id == item) {
      list = &items;
      index = i;
      return true;
    }
  }
  return false;
}

void Apply(Item& item, const MenuItemInfo& info) {
  if (info.fMask & MIIM_STATE) item.state = info.fState;
  if (info.fMask & MIIM_ID) item.id = info.wID;
  if (info.fMask & MIIM_SUBMENU) item.sub = info.hSubMenu;
  if (info.fMask & MIIM_TYPE) {
    item.type = info.fType;
    item.text = info.fType & MFT_SEPARATOR ? std::u16string() : info.dwTypeData;
  }
  if (info.fMask & MIIM_DATA) item.data = info.dwItemData;
  if (info.fMask & MIIM_BITMAP) item.bitmap = info.hbmpItem;
}

void DestroyLocked(Store& s, HMENU menu) {
  auto it = s.menus.find(menu);
  if (it == s.menus.end()) return;
  std::vector<Item> items = std::move(it->second);
  s.menus.erase(it);
  for (const Item& item : items)
    if (item.sub) DestroyLocked(s, item.sub);
}

HMENU Create() {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  const HMENU h = s.next++;
  s.menus[h];
  return h;
}

bool Remove(HMENU menu, uint32_t item, uint32_t flags, bool destroySub) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  std::vector<Item>* list = nullptr;
  size_t index = 0;
  if (!Find(s, menu, item, (flags & MF_BYPOSITION) != 0, list, index)) return false;
  const HMENU sub = (*list)[index].sub;
  list->erase(list->begin() + static_cast<std::ptrdiff_t>(index));
  if (destroySub && sub) DestroyLocked(s, sub);
  return true;
}

}  // namespace

HMENU createMenu() { return Create(); }
HMENU createPopupMenu() { return Create(); }

bool destroyMenu(HMENU menu) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  if (!s.menus.count(menu)) return false;
  DestroyLocked(s, menu);
  return true;
}

bool isMenu(HMENU menu) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  return s.menus.count(menu) != 0;
}

int getMenuItemCount(HMENU menu) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.menus.find(menu);
  return it == s.menus.end() ? -1 : static_cast<int>(it->second.size());
}

bool insertMenuItem(HMENU menu, uint32_t item, bool byPosition, const MenuItemInfo& info) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.menus.find(menu);
  if (it == s.menus.end() || info.cbSize < 48) return false;
  std::vector<Item>* list = &it->second;
  size_t index = list->size();
  if (byPosition) {
    index = std::min<size_t>(item, list->size());
  } else if (!Find(s, menu, item, false, list, index)) {
    list = &it->second;
    index = list->size();
  }
  Item fresh;
  Apply(fresh, info);
  list->insert(list->begin() + static_cast<std::ptrdiff_t>(index), fresh);
  return true;
}

bool setMenuItemInfo(HMENU menu, uint32_t item, bool byPosition, const MenuItemInfo& info) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  std::vector<Item>* list = nullptr;
  size_t index = 0;
  if (!Find(s, menu, item, byPosition, list, index)) return false;
  Apply((*list)[index], info);
  return true;
}

bool getMenuItemInfo(HMENU menu, uint32_t item, bool byPosition, MenuItemInfo& info) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  std::vector<Item>* list = nullptr;
  size_t index = 0;
  if (!Find(s, menu, item, byPosition, list, index)) return false;
  const Item& it = (*list)[index];
  info.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_TYPE | MIIM_DATA | MIIM_BITMAP;
  info.fType = it.type;
  info.fState = it.state;
  info.wID = it.id;
  info.hSubMenu = it.sub;
  info.dwItemData = it.data;
  info.dwTypeData = it.text;
  info.hbmpItem = it.bitmap;
  return true;
}

bool deleteMenu(HMENU menu, uint32_t item, uint32_t flags) { return Remove(menu, item, flags, true); }
bool removeMenu(HMENU menu, uint32_t item, uint32_t flags) { return Remove(menu, item, flags, false); }

bool setMenu(HWND hwnd, HMENU menu) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  if (menu && !s.menus.count(menu)) return false;
  if (menu)
    s.bars[hwnd] = menu;
  else
    s.bars.erase(hwnd);
  return true;
}

HMENU getMenu(HWND hwnd) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.bars.find(hwnd);
  return it == s.bars.end() ? 0 : it->second;
}

bool drawMenuBar(HWND hwnd) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  ++s.barDraws[hwnd];
  return s.bars.count(hwnd) != 0;
}

int menuBarDrawCount(HWND hwnd) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.barDraws.find(hwnd);
  return it == s.barDraws.end() ? 0 : it->second;
}

int liveMenuCount() {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  return static_cast<int>(s.menus.size());
}

MenuTracker setMenuTracker(MenuTracker tracker) {
  Store& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  MenuTracker old = std::move(s.tracker);
  s.tracker = std::move(tracker);
  return old;
}

void sendInitMenuPopup(HWND owner, HMENU menu, int index) {
  if (owner) sendMessage(owner, WM_INITMENUPOPUP, menu, index);
}

uint32_t trackPopupMenuEx(HMENU menu, uint32_t flags, int x, int y, HWND owner, const void*) {
  if (!isMenu(menu)) return 0;
  sendInitMenuPopup(owner, menu, 0);
  MenuTracker tracker;
  {
    Store& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    tracker = s.tracker;
  }
  // The program's own tracker is drawn by the popup-menu control; until one
  // is installed a popup closes without a choice.
  if (!tracker) return 0;
  return tracker(menu, flags, x, y, owner);
}

MenuTracker ScriptedMenuTracker::tracker() {
  return [this](HMENU menu, uint32_t f, int x, int y, HWND owner) -> uint32_t {
    tracked.push_back(menu);
    flags.push_back(f);
    points.emplace_back(x, y);
    if (steps_.empty()) return 0;
    Step step = steps_.front();
    steps_.erase(steps_.begin());
    HMENU current = menu;
    for (int pos : step.open) {
      MenuItemInfo info;
      if (!getMenuItemInfo(current, static_cast<uint32_t>(pos), true, info) || !info.hSubMenu) return 0;
      current = info.hSubMenu;
      sendInitMenuPopup(owner, current, pos);
    }
    return step.command;
  };
}

}  // namespace platform::window
