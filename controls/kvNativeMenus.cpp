#include "controls/kvNativeMenus.h"

#include <algorithm>
#include <map>

#include "foundation/kpExceptions.h"
#include "windowing/kvForms.h"

namespace controls {

namespace {

// ---- command identifiers (main thread only) ----
std::vector<bool>& Ids() {
  static std::vector<bool> ids;
  if (ids.empty()) {
    ids.assign(256, false);
    ids[0] = true;
  }
  return ids;
}

bool g_menuSelectPopup = false;
bool g_helperClassRegistered = false;
constexpr const char16_t* kHelperClass = u"PopupMenuCallbackHelper";
constexpr uint32_t kVkDown = 40;

// The windows whose procedure a main menu helper replaced.
std::map<pw::HWND, TKvMainMenuHelper*>& MainHelpers() {
  static std::map<pw::HWND, TKvMainMenuHelper*> map;
  return map;
}

uint16_t Lo(uintptr_t v) { return static_cast<uint16_t>(v & 0xFFFF); }
uint16_t Hi(uintptr_t v) { return static_cast<uint16_t>((v >> 16) & 0xFFFF); }

}  // namespace

uint16_t AllocCommandId() {
  auto& ids = Ids();
  size_t i = 0;
  while (i < ids.size() && ids[i]) ++i;
  if (i == ids.size()) ids.resize(ids.size() * 2, false);
  // Identifiers are 16-bit on the native side: past that the set is full.
  if (i > 0xFFFF) return 0;
  ids[i] = true;
  return static_cast<uint16_t>(i);
}

void FreeCommandId(uint32_t id) {
  auto& ids = Ids();
  if (id > 0 && id < ids.size()) ids[id] = false;
}

void MarkCommandIdUsed(uint32_t id) {
  auto& ids = Ids();
  if (id > 0xFFFF) return;
  while (id >= ids.size()) ids.resize(ids.size() * 2, false);
  ids[id] = true;
}

bool CommandIdUsed(uint32_t id) {
  auto& ids = Ids();
  return id < ids.size() && ids[id];
}

uint32_t HighestCommandId() {
  auto& ids = Ids();
  for (size_t i = ids.size(); i-- > 1;)
    if (ids[i]) return static_cast<uint32_t>(i);
  return 0;
}

uint32_t CommandIdCapacity() { return static_cast<uint32_t>(Ids().size()); }

// ---- items ----

TKvMenuItem::TKvMenuItem() { CommandId = AllocCommandId(); }

void TKvMenuItem::Dispose() {
  FreeCommandId(CommandId);
  CommandId = 0;
  if (Parent) {
    TKvMenu* p = Parent;
    Parent = nullptr;
    const int32_t i = p->IndexOf(this);
    // The list's reference is the one being released: unlink without freeing.
    if (i >= 0) p->Items.erase(p->Items.begin() + i);
  }
  foundation::FreeAndNil(SubMenu);
  foundation::FreeAndNil(Data);
  OnClick = {};
  TRefObject::Dispose();
}

void TKvMenuItem::Changed() {
  if (Parent) Parent->ItemChanged(this, 1);
}

void TKvMenuItem::Click() {
  if (OnClick) OnClick(this);
}

void TKvMenuItem::SetCaption(const std::u16string& caption) {
  Caption = caption;
  Changed();
}

void TKvMenuItem::SetFlags(uint8_t flags) {
  Flags = flags;
  Changed();
}

void TKvMenuItem::SetSubMenu(TKvMenu* menu) {
  if (SubMenu != menu) {
    foundation::FreeAndNil(SubMenu);
    SubMenu = menu;
  }
  Changed();
}

void TKvMenuItem::SetShortcut(windowing::TShortcut shortcut) {
  Shortcut = shortcut;
  Changed();
}

void TKvMenuItem::SetParent(TKvMenu* menu) {
  if (Parent == menu) return;
  _AddRef();
  if (Parent) Parent->RemoveItem(this);
  Parent = menu;
  if (menu) {
    menu->Items.push_back(this);
    _AddRef();
  }
  Free();
}

std::u16string TKvMenuItem::Text() const {
  if (!Shortcut.Key) return Caption;
  return Caption + u"\t" + windowing::ShortcutToText(Shortcut);
}

bool TKvMenuItem::FillItemInfo(pw::MenuItemInfo& info) const {
  if (Flags & mfHidden) return false;
  info = pw::MenuItemInfo{};
  info.cbSize = 80;
  info.fMask = pw::MIIM_STATE | pw::MIIM_ID | pw::MIIM_SUBMENU | pw::MIIM_CHECKMARKS | pw::MIIM_TYPE | pw::MIIM_DATA;
  info.fType = Caption == u"-" ? pw::MFT_SEPARATOR : pw::MFT_STRING;
  if (Flags & mfRadio) info.fType |= pw::MFT_RADIOCHECK;
  if (Parent && Parent->OwnerDraw) info.fType |= pw::MFT_OWNERDRAW;
  if (Flags & mfDefault) info.fState |= pw::MFS_DEFAULT;
  if (Flags & mfChecked) info.fState |= pw::MFS_CHECKED;
  if (Flags & mfDisabled) info.fState |= pw::MFS_DISABLED;
  info.wID = CommandId;
  info.hSubMenu = SubMenu ? SubMenu->Handle : 0;
  info.dwItemData = reinterpret_cast<uintptr_t>(this);
  info.dwTypeData = Text();
  return true;
}

// ---- menus ----

void TKvMenu::Dispose() {
  while (!Items.empty()) {
    TKvMenuItem* item = Items.back();
    Items.pop_back();
    item->Parent = nullptr;
    item->Free();
  }
  foundation::FreeAndNil(Helper);
  OnPopup = {};
  TRefObject::Dispose();
}

int32_t TKvMenu::IndexOf(const TKvMenuItem* item) const {
  for (size_t i = 0; i < Items.size(); ++i)
    if (Items[i] == item) return static_cast<int32_t>(i);
  return -1;
}

TKvMenuItem* TKvMenu::AddItem() {
  auto* item = new TKvMenuItem;
  item->Parent = this;
  Items.push_back(item);
  return item;
}

TKvMenuItem* TKvMenu::InsertItem(int32_t index) {
  auto* item = new TKvMenuItem;
  item->Parent = this;
  index = std::clamp(index, 0, Count());
  Items.insert(Items.begin() + index, item);
  ItemChanged(item, 2);
  return item;
}

void TKvMenu::DeleteItem(int32_t index) {
  if (index < 0 || index >= Count()) return;
  TKvMenuItem* item = Items[size_t(index)];
  ItemChanged(item, 0);
  Items.erase(Items.begin() + index);
  item->Parent = nullptr;
  item->Free();
}

void TKvMenu::RemoveItem(TKvMenuItem* item) {
  const int32_t i = IndexOf(item);
  if (i >= 0) DeleteItem(i);
}

void TKvMenu::Changed() {
  if (UpdateCount == 0) {
    if (Helper) Helper->MenuChanged(this);
  } else {
    NeedsRebuild = true;
  }
}

void TKvMenu::EndUpdate() {
  if (UpdateCount > 0 && --UpdateCount == 0 && NeedsRebuild) {
    NeedsRebuild = false;
    if (Helper && Handle) Populate();
    Changed();
  }
}

void TKvMenu::ItemChanged(TKvMenuItem* item, int32_t kind) {
  if (Helper && UpdateCount == 0) Helper->ItemChanged(this, item, kind);
  NeedsRebuild = UpdateCount > 0;
}

bool TKvMenu::FindItem(uint32_t id, TKvMenuItem*& item) {
  for (TKvMenuItem* i : Items) {
    if (i->CommandId == id) {
      item = i;
      return true;
    }
    if (i->SubMenu && i->SubMenu->FindItem(id, item)) return true;
  }
  item = nullptr;
  return false;
}

void TKvMenu::DoPopup() {
  if (OnPopup) OnPopup(this);
}

void TKvMenu::ClearHandles() {
  Handle = 0;
  for (TKvMenuItem* i : Items)
    if (i->SubMenu) i->SubMenu->ClearHandles();
}

void TKvMenu::SetHelperTree(TKvMenuHelper* helper, TKvMenuHelper* onlyWhere) {
  if (Helper == onlyWhere) {
    if (helper) helper->_AddRef();
    TKvMenuHelper* old = Helper;
    Helper = helper;
    foundation::FreeObj(old);
  }
  for (TKvMenuItem* i : Items)
    if (i->SubMenu) i->SubMenu->SetHelperTree(helper, onlyWhere);
}

void TKvMenu::Populate() {
  if (!Handle) return;
  while (pw::getMenuItemCount(Handle) > 0) pw::deleteMenu(Handle, 0, pw::MF_BYPOSITION);
  for (size_t k = Items.size(); k-- > 0;) {
    TKvMenuItem* item = Items[k];
    if (item->Flags & mfHidden) continue;
    if (item->SubMenu && Helper) {
      // The native submenu went with the deleted items: a new one.
      item->SubMenu->Handle = Helper->CreateMenuHandle();
      if (!item->SubMenu->Helper) item->SubMenu->SetHelperTree(Helper, nullptr);
    }
    pw::MenuItemInfo info;
    if (!item->FillItemInfo(info)) continue;
    pw::insertMenuItem(Handle, 0, true, info);
  }
  NeedsRebuild = false;
}

void TKvMenu::HandleMessage(pw::HWND window, uint32_t message, pw::WPARAM wParam, pw::LPARAM lParam,
                            pw::LRESULT& result, bool& handled) {
  switch (message) {
    case pw::WM_COMMAND:
      if (lParam == 0) {
        TKvMenuItem* item = nullptr;
        if (FindItem(Lo(wParam), item)) {
          if (item) item->Click();
          result = 0;
          handled = true;
          return;
        }
      }
      break;
    case pw::WM_INITMENUPOPUP:
      if (Handle && static_cast<pw::HMENU>(wParam) == Handle) {
        // The owner fills the object model first, then the native menu follows it.
        DoPopup();
        Populate();
        if (Helper) Helper->MenuPopup(this);
        result = 0;
        handled = true;
        return;
      }
      break;
    case pw::WM_MENUSELECT:
      g_menuSelectPopup = (Hi(wParam) & pw::MF_POPUP) != 0;
      break;
    default:
      break;
  }
  for (TKvMenuItem* i : Items) {
    if (!i->SubMenu) continue;
    i->SubMenu->HandleMessage(window, message, wParam, lParam, result, handled);
    if (handled) return;
  }
}

bool MenuSelectionIsPopup() { return g_menuSelectPopup; }

// ---- popup helper ----

TKvPopupMenuHelper::TKvPopupMenuHelper(bool selectFirst) : FSelectFirst(selectFirst) {
  if (!g_helperClassRegistered) {
    pw::WndClass cls;
    cls.lpfnWndProc = &TKvPopupMenuHelper::WndProc;
    cls.className = kHelperClass;
    g_helperClassRegistered = pw::registerClass(cls) != 0;
  }
  FWindow = pw::createWindowEx(0, kHelperClass, u"", pw::WS_POPUP | pw::WS_BORDER | 0x00080000u, 0, 0, 0, 0, 0,
                               0, 0, nullptr);
  if (FWindow) pw::setWindowLongPtr(FWindow, pw::GWLP_USERDATA, reinterpret_cast<intptr_t>(this));
}

void TKvPopupMenuHelper::Dispose() {
  if (FWindow) {
    pw::setWindowLongPtr(FWindow, pw::GWLP_USERDATA, 0);
    pw::destroyWindow(FWindow);
    FWindow = 0;
  }
  TKvMenuHelper::Dispose();
}

pw::LRESULT TKvPopupMenuHelper::WndProc(pw::HWND hwnd, uint32_t message, pw::WPARAM wParam, pw::LPARAM lParam) {
  auto* self = reinterpret_cast<TKvPopupMenuHelper*>(pw::getWindowLongPtr(hwnd, pw::GWLP_USERDATA));
  if (self && self->FTracked) {
    pw::LRESULT result = 0;
    bool handled = false;
    self->FTracked->HandleMessage(hwnd, message, wParam, lParam, result, handled);
    if (handled) return result;
  }
  return pw::defWindowProc(hwnd, message, wParam, lParam);
}

void TKvPopupMenuHelper::MenuPopup(TKvMenu* menu) {
  (void)menu;
  // Keyboard users get the first entry highlighted.
  if (FSelectFirst && FWindow) {
    pw::postMessage(FWindow, pw::WM_KEYDOWN, kVkDown, 0);
    pw::postMessage(FWindow, pw::WM_KEYUP, kVkDown, static_cast<pw::LPARAM>(0xC0000001u));
  }
}

TKvMenuItem* TKvPopupMenuHelper::Track(int32_t x, int32_t y, TKvMenu* menu) {
  if (!menu) return nullptr;
  menu->Handle = CreateMenuHandle();
  menu->Populate();
  FTracked = menu;
  const uint32_t cmd =
      pw::trackPopupMenuEx(menu->Handle, pw::TPM_RETURNCMD | pw::TPM_RIGHTBUTTON, x, y, FWindow, nullptr);
  FTracked = nullptr;
  TKvMenuItem* item = nullptr;
  if (cmd != 0 && !menu->FindItem(cmd, item)) item = nullptr;
  pw::destroyMenu(menu->Handle);
  menu->ClearHandles();
  return item;
}

TKvMenuItem* TrackPopupMenu(TKvMenu* menu, int32_t x, int32_t y, bool selectFirst) {
  if (!menu) return nullptr;
  auto helper = foundation::TRef<TKvPopupMenuHelper>::Adopt(new TKvPopupMenuHelper(selectFirst));
  auto keep = foundation::TRef<TKvMenu>::AddRef(menu);
  menu->SetHelperTree(helper.Get(), nullptr);
  TKvMenuItem* item = helper->Track(x, y, menu);
  foundation::TRef<TKvMenuItem> held = foundation::TRef<TKvMenuItem>::AddRef(item);
  menu->SetHelperTree(nullptr, helper.Get());
  if (item) item->Click();
  // The answer stays valid while the menu lists the item.
  return item && item->Parent ? item : nullptr;
}

// ---- main menu helper ----

TKvMainMenuHelper::TKvMainMenuHelper(TKvMenu* menu, windowing::TKvForm* form, pw::HWND window)
    : FMenu(menu), FForm(form), FWindow(window) {
  FPrevious = reinterpret_cast<pw::WNDPROC>(pw::getWindowLongPtr(window, pw::GWLP_WNDPROC));
  pw::setWindowLongPtr(window, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(&TKvMainMenuHelper::WndProc));
  MainHelpers()[window] = this;
}

void TKvMainMenuHelper::Dispose() {
  auto& map = MainHelpers();
  auto it = map.find(FWindow);
  if (it != map.end() && it->second == this) {
    map.erase(it);
    if (pw::isWindow(FWindow)) pw::setWindowLongPtr(FWindow, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(FPrevious));
  }
  FMenu = nullptr;
  FForm = nullptr;
  TKvMenuHelper::Dispose();
}

pw::LRESULT TKvMainMenuHelper::WndProc(pw::HWND hwnd, uint32_t message, pw::WPARAM wParam, pw::LPARAM lParam) {
  auto& map = MainHelpers();
  auto it = map.find(hwnd);
  if (it == map.end()) return pw::defWindowProc(hwnd, message, wParam, lParam);
  TKvMainMenuHelper* self = it->second;
  const pw::WNDPROC previous = self->FPrevious;
  if (self->FMenu) {
    pw::LRESULT result = 0;
    bool handled = false;
    self->FMenu->HandleMessage(hwnd, message, wParam, lParam, result, handled);
    if (handled) return result;
  }
  return previous ? pw::callWindowProc(previous, hwnd, message, wParam, lParam)
                  : pw::defWindowProc(hwnd, message, wParam, lParam);
}

void TKvMainMenuHelper::ItemChanged(TKvMenu* menu, TKvMenuItem* item, int32_t kind) {
  if (!menu->Handle) return;
  pw::MenuItemInfo info;
  switch (kind) {
    case 0:
      pw::deleteMenu(menu->Handle, item->CommandId, pw::MF_BYCOMMAND);
      break;
    case 1:
      if (item->FillItemInfo(info)) {
        // Hidden before: the item is not in the bar yet.
        if (!pw::setMenuItemInfo(menu->Handle, item->CommandId, false, info))
          pw::insertMenuItem(menu->Handle, static_cast<uint32_t>(menu->IndexOf(item)), true, info);
      } else {
        pw::deleteMenu(menu->Handle, item->CommandId, pw::MF_BYCOMMAND);
      }
      break;
    case 2:
      if (item->FillItemInfo(info))
        pw::insertMenuItem(menu->Handle, static_cast<uint32_t>(menu->IndexOf(item)), true, info);
      break;
    default:
      foundation::QelAssertFail("TKvMainMenuHelper.ItemChanged: unknown kind");
  }
  menu->Changed();
}

void TKvMainMenuHelper::MenuChanged(TKvMenu* menu) {
  if (FWindow && menu->Handle && pw::getMenu(FWindow) == menu->Handle) pw::drawMenuBar(FWindow);
}

void SetMainMenu(windowing::TKvForm* form, TKvMenu* menu) {
  if (!form || !menu || !form->Controller()) return;
  const pw::HWND window = form->Controller()->GetHandle();
  if (!window) return;
  RemoveMainMenu(menu);
  auto* helper = new TKvMainMenuHelper(menu, form, window);
  menu->SetHelperTree(helper, nullptr);
  helper->Free();  // the menus hold it now
  const pw::HMENU old = pw::getMenu(window);
  menu->Handle = helper->CreateMenuHandle();
  menu->Populate();
  pw::setMenu(window, menu->Handle);
  if (old && old != menu->Handle) pw::destroyMenu(old);
}

void RemoveMainMenu(TKvMenu* menu) {
  if (!menu || !menu->Helper) return;
  auto helper = foundation::TRef<TKvMenuHelper>::AddRef(menu->Helper);
  const pw::HMENU handle = menu->Handle;
  menu->SetHelperTree(nullptr, helper.Get());
  menu->ClearHandles();
  if (auto* main = dynamic_cast<TKvMainMenuHelper*>(helper.Get())) {
    if (main->Window() && pw::getMenu(main->Window()) == handle) pw::setMenu(main->Window(), 0);
  }
  if (handle) pw::destroyMenu(handle);
  // The last reference: the helper gives the window its procedure back.
}

void InitNativeMenus() { Ids(); }

void DoneNativeMenus() {
  if (g_helperClassRegistered) {
    pw::unregisterClass(kHelperClass, 0);
    g_helperClassRegistered = false;
  }
}

}  // namespace controls
