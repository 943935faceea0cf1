// Menus described without the platform: a menu description is a list of
// entries (caption, data, command, shortcut, marks, submenu) that fires an
// event when the user picks one. The menu services of a form show such
// descriptions as its menu bar and as context menus at a point; the
// implementation here maps them onto the native menus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controls/kvNativeMenus.h"
#include "foundation/kvByteString.h"
#include "windowing/kvEvents.h"

namespace windowing {
class TKvForm;
}

namespace controls {

class TMenuDesc;

// Entry marks: the values, not bit numbers.
enum : uint8_t { mifRadio = 1, mifChecked = 2 };

struct TMenuItemDesc {
  std::u16string Caption;  // "-" is a separator
  foundation::TByteString Data;
  int32_t Command = 0;
  bool Disabled = false;
  windowing::TShortcut Shortcut;
  uint8_t ItemFlags = 0;
  TMenuDesc* SubMenu = nullptr;  // owned
};

// Event ids of a description.
enum : int32_t { meDestroyed = 0, meSelected = 13 };

class TMenuDesc : public windowing::TEvents {
 public:
  QEL_CLASSNAME(TMenuDesc)
  explicit TMenuDesc(const std::u16string& name);
  void Dispose() override;

  TMenuDesc* AddItem(const std::u16string& caption, const foundation::TByteString& data = {}, bool enabled = true);
  TMenuDesc* AddCommand(const std::u16string& caption, int32_t command, bool enabled = true);
  TMenuDesc* AddSeparator() { return AddItem(u"-"); }
  void Clear();
  void Assign(const TMenuDesc* source);
  // Subscribes handler to the selection of this description (and of every
  // submenu when recursive).
  void SubscribeSelect(windowing::TEventHandler* handler, bool recursive, int32_t tag);
  // Fires the selection of the entry with SelectedIndex set to it; the
  // previous index is back afterwards.
  void Select(int32_t index);
  // The command of the selected entry, -1 outside a selection.
  int32_t SelectedCommand() const;
  // The last entry (for setting its fields after AddItem).
  TMenuItemDesc& Last() { return Items.back(); }

  std::vector<TMenuItemDesc> Items;
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  int32_t SelectedIndex = -1;
  std::u16string Name;
  int32_t DefaultIndex = -1;
  TKvMenu* Attached = nullptr;  // one reference: a shell menu shown in place of the entries
};

class TMenuServices;

class TMainMenuItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMainMenuItem)
  void Dispose() override;
  virtual void Changed() {}
  virtual void MenuChanged() {}
  void SetCaption(const std::u16string& caption);
  // Takes the description over (nil: none).
  void SetMenu(TMenuDesc* menu);

  TMenuServices* Owner = nullptr;
  int32_t Index = -1;
  std::u16string Caption;
  TMenuDesc* Menu = nullptr;  // owned
  bool Disabled = false;
  bool Hidden = false;
};

class TPopupData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPopupData)
  void Dispose() override;
  TMenuServices* Services = nullptr;  // cleared when the services go first
  int32_t X = 0, Y = 0;
  TMenuDesc* Menu = nullptr;  // one reference
};

class TMenuServices : public windowing::TEventHandler {
 public:
  QEL_CLASSNAME(TMenuServices)
  void Dispose() override;
  virtual TMainMenuItem* AddMainItem(const std::u16string& caption) = 0;
  virtual void ShowPopup(int32_t x, int32_t y, TMenuDesc* menu) = 0;
  virtual void UpdateMainMenu() {}
  virtual bool HasPendingPopup() { return PendingPopup != nullptr; }

  // Shows the description at the screen point once the application's events
  // run (never inside the caller). With owned the services take the
  // caller's reference, else they take one of their own. A nil or empty
  // description does nothing (an owned one is released).
  void PopupMenu(int32_t x, int32_t y, TMenuDesc* menu, bool owned);
  void RemoveMainItem(int32_t index);
  void Changed();
  void BeginUpdate() { ++UpdateCount; }
  void EndUpdate();

  std::vector<TMainMenuItem*> MainItems;  // each holds one reference
  int32_t MainItemCount() const { return static_cast<int32_t>(MainItems.size()); }
  uint32_t PopupEventId = 0;
  TPopupData* PendingPopup = nullptr;  // no reference: the event list holds it
  int32_t UpdateCount = 0;
  bool NeedsUpdate = false;
  bool MenuBarHidden = false;

 protected:
  void AppendMainItem(TMainMenuItem* item);

 private:
  void HandlePopupEvent(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param);
  foundation::TRefObject* FEventList = nullptr;  // the application the popup handler is registered with
};

// The services of a form over native menus.
class TWinMenuServices : public TMenuServices {
 public:
  QEL_CLASSNAME(TWinMenuServices)
  explicit TWinMenuServices(windowing::TKvForm* form);
  void Dispose() override;
  TMainMenuItem* AddMainItem(const std::u16string& caption) override;
  void ShowPopup(int32_t x, int32_t y, TMenuDesc* menu) override;
  void UpdateMainMenu() override;
  // Makes the native menu show the description (items reused where they exist).
  void FillMenu(TKvMenu* native, TMenuDesc* desc);

  windowing::TKvForm* Form = nullptr;
  TKvMenu* MainMenu = nullptr;   // one reference
  TKvMenu* PopupMenu = nullptr;  // one reference, or nil

 private:
  void EntryClick(TKvMenuItem* item);
};

class TWinMainMenuItem : public TMainMenuItem {
 public:
  QEL_CLASSNAME(TWinMainMenuItem)
  void Dispose() override;
  void Changed() override;
  void MenuChanged() override;
  TMenuItemEvent OnClick;
  TWinMenuServices* Services = nullptr;
  TKvMenuItem* MenuItem = nullptr;  // the bar item (the bar's menu owns it)
  bool FillPending = false;

 private:
  friend class TWinMenuServices;
  void BarPopup(TKvMenu* menu);
  void BarClick(TKvMenuItem*) {
    if (OnClick) OnClick(MenuItem);
  }
};

// Hooks filled at start-up: the factory of a form's menu services and the
// factory of shell menu descriptions (nil where the platform has none).
using TCreateMenuServicesHook = TMenuServices* (*)(windowing::TKvForm* form);
using TCreateShellMenuHook = TMenuDesc* (*)(const std::u16string& folder, const std::vector<std::u16string>& names);
extern TCreateMenuServicesHook CreateMenuServicesHook;
extern TCreateShellMenuHook CreateShellMenuHook;

TMenuServices* CreateWinMenuServices(windowing::TKvForm* form);
// Unit start: installs CreateWinMenuServices (the shell hook stays nil).
void InitMenuServices();
void DoneMenuServices();

}  // namespace controls
