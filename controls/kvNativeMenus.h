// Menus of the platform for drawn forms: a small object model (menus with
// their items) turned into native menus whenever they are about to be
// shown, either as a form's menu bar or as a tracked popup. Command
// identifiers are handed out process-wide. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "platform/window/menus.h"
#include "windowing/kvInputTypes.h"

namespace windowing {
class TKvForm;
}

namespace controls {

namespace pw = platform::window;

// Item flags.
enum : uint8_t { mfDefault = 1, mfRadio = 2, mfChecked = 4, mfHidden = 8, mfDisabled = 16 };

// Process-wide command identifiers: the lowest free one is taken; 0 is never
// handed out.
uint16_t AllocCommandId();
void FreeCommandId(uint32_t id);
void MarkCommandIdUsed(uint32_t id);
bool CommandIdUsed(uint32_t id);
// The highest identifier in use (0 when only the reserved 0 is).
uint32_t HighestCommandId();
// The set's current size in bits.
uint32_t CommandIdCapacity();

class TKvMenu;
class TKvMenuHelper;
class TKvMenuItem;

using TMenuItemEvent = foundation::TMethod<void(TKvMenuItem* item)>;
using TMenuEvent = foundation::TMethod<void(TKvMenu* menu)>;

class TKvMenuItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKvMenuItem)
  TKvMenuItem();
  void Dispose() override;
  // Asks the parent menu to update this item.
  virtual void Changed();
  virtual void Click();

  void SetCaption(const std::u16string& caption);
  void SetFlags(uint8_t flags);
  void SetFlag(uint8_t flag, bool on) { SetFlags(on ? Flags | flag : Flags & ~flag); }
  // Takes the submenu over (nil removes it).
  void SetSubMenu(TKvMenu* menu);
  void SetShortcut(windowing::TShortcut shortcut);
  // Moves the item to another menu (nil: to none).
  void SetParent(TKvMenu* menu);
  // The text given to the native menu: the caption, and a tab and the
  // shortcut's text when a shortcut is set.
  std::u16string Text() const;
  // The native item's description; false for a hidden item, which is left out.
  bool FillItemInfo(pw::MenuItemInfo& info) const;

  uint8_t Flags = 0;
  TKvMenu* Parent = nullptr;   // the menu listing the item (no reference: it owns us)
  TKvMenu* SubMenu = nullptr;  // owned
  std::u16string Caption;
  uint16_t CommandId = 0;
  TMenuItemEvent OnClick;
  windowing::TShortcut Shortcut;
  foundation::TRefObject* Data = nullptr;  // owned; whatever the owner hangs on the item
};

class TKvMenu : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKvMenu)
  void Dispose() override;
  // Builds the native menu from the items.
  virtual void Populate();
  virtual bool FindItem(uint32_t id, TKvMenuItem*& item);
  virtual void HandleMessage(pw::HWND window, uint32_t message, pw::WPARAM wParam, pw::LPARAM lParam,
                             pw::LRESULT& result, bool& handled);
  virtual void DoPopup();
  // kind 0 removed, 1 changed, 2 inserted.
  virtual void ItemChanged(TKvMenuItem* item, int32_t kind);

  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TKvMenuItem* Item(int32_t index) const { return Items[size_t(index)]; }
  int32_t IndexOf(const TKvMenuItem* item) const;
  TKvMenuItem* AddItem();
  TKvMenuItem* InsertItem(int32_t index);
  void DeleteItem(int32_t index);
  void RemoveItem(TKvMenuItem* item);
  void Changed();
  void BeginUpdate() { ++UpdateCount; }
  void EndUpdate();
  void ClearHandles();
  // Gives the helper to this menu and its submenus that have none (or takes
  // it away from those that have it, with nil and from).
  void SetHelperTree(TKvMenuHelper* helper, TKvMenuHelper* onlyWhere);

  pw::HMENU Handle = 0;
  std::vector<TKvMenuItem*> Items;  // each holds one reference
  TKvMenuHelper* Helper = nullptr;  // one reference
  foundation::TRefObject* Description = nullptr;  // the description it was filled from (no reference)
  TMenuEvent OnPopup;
  bool OwnerDraw = false;
  int32_t UpdateCount = 0;
  bool NeedsRebuild = false;
};

class TKvMenuHelper : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKvMenuHelper)
  virtual pw::HMENU CreateMenuHandle() = 0;
  virtual void MenuPopup(TKvMenu* menu) { (void)menu; }
  virtual void ItemChanged(TKvMenu* menu, TKvMenuItem* item, int32_t kind) {
    (void)menu;
    (void)item;
    (void)kind;
  }
  virtual void MenuChanged(TKvMenu* menu) { (void)menu; }
};

class TKvPopupMenuHelper : public TKvMenuHelper {
 public:
  QEL_CLASSNAME(TKvPopupMenuHelper)
  explicit TKvPopupMenuHelper(bool selectFirst);
  void Dispose() override;
  pw::HMENU CreateMenuHandle() override { return pw::createPopupMenu(); }
  void MenuPopup(TKvMenu* menu) override;
  // Shows the menu and answers the chosen item (nil when dismissed).
  TKvMenuItem* Track(int32_t x, int32_t y, TKvMenu* menu);
  pw::HWND Window() const { return FWindow; }

 private:
  static pw::LRESULT WndProc(pw::HWND hwnd, uint32_t message, pw::WPARAM wParam, pw::LPARAM lParam);
  pw::HWND FWindow = 0;
  TKvMenu* FTracked = nullptr;  // during Track only
  bool FSelectFirst = false;
};

class TKvMainMenuHelper : public TKvMenuHelper {
 public:
  QEL_CLASSNAME(TKvMainMenuHelper)
  TKvMainMenuHelper(TKvMenu* menu, windowing::TKvForm* form, pw::HWND window);
  void Dispose() override;
  pw::HMENU CreateMenuHandle() override { return pw::createMenu(); }
  void ItemChanged(TKvMenu* menu, TKvMenuItem* item, int32_t kind) override;
  void MenuChanged(TKvMenu* menu) override;
  pw::HWND Window() const { return FWindow; }
  TKvMenu* Menu() const { return FMenu; }

 private:
  static pw::LRESULT WndProc(pw::HWND hwnd, uint32_t message, pw::WPARAM wParam, pw::LPARAM lParam);
  TKvMenu* FMenu = nullptr;  // no reference: the menu holds the helper
  windowing::TKvForm* FForm = nullptr;
  pw::HWND FWindow = 0;
  pw::WNDPROC FPrevious = nullptr;
};

// Shows the menu as a popup at the screen point and clicks the chosen item:
// the item, or nil when the menu was dismissed (or nil).
TKvMenuItem* TrackPopupMenu(TKvMenu* menu, int32_t x, int32_t y, bool selectFirst);
// Makes the menu the form's menu bar.
void SetMainMenu(windowing::TKvForm* form, TKvMenu* menu);
// Takes the menu off its form.
void RemoveMainMenu(TKvMenu* menu);
// Whether the entry selected last opens a submenu.
bool MenuSelectionIsPopup();

// Unit start and end (the id set; the popup helper's window class).
void InitNativeMenus();
void DoneNativeMenus();

}  // namespace controls
