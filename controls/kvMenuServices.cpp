#include "controls/kvMenuServices.h"

#include "foundation/kpExceptions.h"
#include "windowing/kvApplication.h"
#include "windowing/kvForms.h"

namespace controls {

TCreateMenuServicesHook CreateMenuServicesHook = nullptr;
TCreateShellMenuHook CreateShellMenuHook = nullptr;

// ---- descriptions ----

TMenuDesc::TMenuDesc(const std::u16string& name) : windowing::TEvents(nullptr, 16), Name(name) { SetOwner(this); }

void TMenuDesc::Dispose() {
  foundation::FreeAndNil(Attached);
  Fire(meDestroyed, this);
  Clear();
  windowing::TEvents::Dispose();
}

TMenuDesc* TMenuDesc::AddItem(const std::u16string& caption, const foundation::TByteString& data, bool enabled) {
  TMenuItemDesc d;
  d.Caption = caption;
  d.Data = data;
  d.Disabled = !enabled;
  Items.push_back(std::move(d));
  return this;
}

TMenuDesc* TMenuDesc::AddCommand(const std::u16string& caption, int32_t command, bool enabled) {
  AddItem(caption, {}, enabled);
  Items.back().Command = command;
  return this;
}

void TMenuDesc::Clear() {
  std::vector<TMenuItemDesc> items = std::move(Items);
  Items.clear();
  for (auto& d : items) foundation::FreeAndNil(d.SubMenu);
}

void TMenuDesc::Assign(const TMenuDesc* source) {
  if (source == this) return;
  Clear();
  if (!source) return;
  for (const TMenuItemDesc& s : source->Items) {
    TMenuItemDesc d = s;
    d.SubMenu = nullptr;
    if (s.SubMenu) {
      d.SubMenu = new TMenuDesc(s.SubMenu->Name);
      d.SubMenu->Assign(s.SubMenu);
    }
    Items.push_back(std::move(d));
  }
}

void TMenuDesc::SubscribeSelect(windowing::TEventHandler* handler, bool recursive, int32_t tag) {
  SubscribeTagged(meSelected, tag, handler);
  if (!recursive) return;
  for (auto& d : Items)
    if (d.SubMenu) d.SubMenu->SubscribeSelect(handler, true, tag);
}

void TMenuDesc::Select(int32_t index) {
  auto keep = foundation::TRef<TMenuDesc>::AddRef(this);
  const int32_t previous = SelectedIndex;
  SelectedIndex = index;
  try {
    Fire(meSelected, this);
  } catch (...) {
    SelectedIndex = previous;
    throw;
  }
  SelectedIndex = previous;
}

int32_t TMenuDesc::SelectedCommand() const {
  if (SelectedIndex < 0 || SelectedIndex >= Count()) return -1;
  return Items[size_t(SelectedIndex)].Command;
}

// ---- main items ----

void TMainMenuItem::Dispose() {
  if (Owner) {
    const bool placed = Index >= 0 && Index < Owner->MainItemCount() && Owner->MainItems[size_t(Index)] == this;
    QEL_ASSERT(placed, "Invalid TMainMenuItem.Index");
    Owner->MainItems.erase(Owner->MainItems.begin() + Index);
    for (size_t i = size_t(Index); i < Owner->MainItems.size(); ++i) Owner->MainItems[i]->Index = int32_t(i);
    Owner = nullptr;
  }
  foundation::FreeAndNil(Menu);
  TRefObject::Dispose();
}

void TMainMenuItem::SetCaption(const std::u16string& caption) {
  if (caption == Caption) return;
  Caption = caption;
  Changed();
}

void TMainMenuItem::SetMenu(TMenuDesc* menu) {
  if (menu != Menu) {
    foundation::FreeAndNil(Menu);
    Menu = menu;
  }
  MenuChanged();
}

// ---- popup data ----

void TPopupData::Dispose() {
  if (Services && Services->PendingPopup == this) Services->PendingPopup = nullptr;
  Services = nullptr;
  foundation::FreeAndNil(Menu);
  TRefObject::Dispose();
}

// ---- services ----

void TMenuServices::Dispose() {
  while (!MainItems.empty()) RemoveMainItem(MainItemCount() - 1);
  if (PopupEventId && FEventList && windowing::Application == FEventList)
    windowing::Application->RemoveHandler(PopupEventId, foundation::MethodOf<&TMenuServices::HandlePopupEvent>(this));
  PopupEventId = 0;
  FEventList = nullptr;
  if (PendingPopup) {
    PendingPopup->Services = nullptr;
    PendingPopup = nullptr;
  }
  windowing::TEventHandler::Dispose();
}

void TMenuServices::AppendMainItem(TMainMenuItem* item) {
  item->Owner = this;
  item->Index = MainItemCount();
  MainItems.push_back(item);
}

void TMenuServices::RemoveMainItem(int32_t index) {
  if (index < 0 || index >= MainItemCount()) return;
  TMainMenuItem* item = MainItems[size_t(index)];
  // The item's own disposal closes the gap and renumbers the rest.
  item->Free();
  Changed();
}

void TMenuServices::Changed() {
  if (UpdateCount < 1)
    UpdateMainMenu();
  else
    NeedsUpdate = true;
}

void TMenuServices::EndUpdate() {
  if (UpdateCount > 0 && --UpdateCount == 0 && NeedsUpdate) {
    NeedsUpdate = false;
    UpdateMainMenu();
  }
}

void TMenuServices::PopupMenu(int32_t x, int32_t y, TMenuDesc* menu, bool owned) {
  if (!menu || menu->Count() == 0) {
    if (owned) foundation::FreeObj(menu);
    return;
  }
  windowing::TApplication* app = windowing::Application;
  if (!app || app->Terminated()) {
    if (owned) foundation::FreeObj(menu);
    return;
  }
  if (!PopupEventId || FEventList != app) {
    FEventList = app;
    PopupEventId = app->RegisterHandler(foundation::MethodOf<&TMenuServices::HandlePopupEvent>(this));
  }
  if (!owned) menu->_AddRef();
  auto* data = new TPopupData;
  data->Services = this;
  data->X = x;
  data->Y = y;
  data->Menu = menu;
  if (PendingPopup) PendingPopup->Services = nullptr;  // the newer request wins
  PendingPopup = data;
  app->Post(PopupEventId, data);
}

void TMenuServices::HandlePopupEvent(foundation::TRefObject*, uint32_t id, foundation::TRefObject* param) {
  auto* data = dynamic_cast<TPopupData*>(param);
  if (id != PopupEventId || !data || data->Services != this) return;
  PendingPopup = nullptr;
  data->Services = nullptr;
  // The event list releases the data, and the description with it, after
  // the popup has returned.
  ShowPopup(data->X, data->Y, data->Menu);
}

// ---- services over native menus ----

TWinMenuServices::TWinMenuServices(windowing::TKvForm* form) : Form(form) {
  MainMenu = new TKvMenu;
  SetMainMenu(form, MainMenu);
}

void TWinMenuServices::Dispose() {
  while (!MainItems.empty()) RemoveMainItem(MainItemCount() - 1);
  if (MainMenu) RemoveMainMenu(MainMenu);
  foundation::FreeAndNil(MainMenu);
  foundation::FreeAndNil(PopupMenu);
  Form = nullptr;
  TMenuServices::Dispose();
}

TMainMenuItem* TWinMenuServices::AddMainItem(const std::u16string& caption) {
  auto* item = new TWinMainMenuItem;
  item->Services = this;
  item->Caption = caption;
  AppendMainItem(item);
  item->MenuItem = MainMenu->AddItem();
  item->MenuItem->SetCaption(caption);
  item->MenuItem->OnClick = foundation::MethodOf<&TWinMainMenuItem::BarClick>(item);
  Changed();
  return item;
}

void TWinMenuServices::ShowPopup(int32_t x, int32_t y, TMenuDesc* menu) {
  if (!menu) return;
  auto keep = foundation::TRef<TMenuDesc>::AddRef(menu);
  if (menu->Attached) {
    TrackPopupMenu(menu->Attached, x, y, false);
    return;
  }
  if (!PopupMenu) PopupMenu = new TKvMenu;
  FillMenu(PopupMenu, menu);
  TrackPopupMenu(PopupMenu, x, y, false);
}

void TWinMenuServices::UpdateMainMenu() {
  if (!MainMenu) return;
  RemoveMainMenu(MainMenu);
  if (!MenuBarHidden) SetMainMenu(Form, MainMenu);
}

void TWinMenuServices::EntryClick(TKvMenuItem* item) {
  TKvMenu* parent = item->Parent;
  if (!parent) return;
  auto* desc = dynamic_cast<TMenuDesc*>(parent->Description);
  const int32_t index = parent->IndexOf(item);
  if (desc && index >= 0 && index < desc->Count()) desc->Select(index);
}

void TWinMenuServices::FillMenu(TKvMenu* native, TMenuDesc* desc) {
  native->Description = desc;
  native->BeginUpdate();
  for (int32_t i = 0; i < desc->Count(); ++i) {
    const TMenuItemDesc& e = desc->Items[size_t(i)];
    TKvMenuItem* item;
    if (i < native->Count()) {
      item = native->Item(i);
    } else {
      item = native->AddItem();
      item->OnClick = foundation::MethodOf<&TWinMenuServices::EntryClick>(this);
    }
    uint8_t flags = item->Flags & static_cast<uint8_t>(~(mfRadio | mfChecked | mfDisabled | mfDefault));
    std::u16string caption = e.Caption;
    windowing::TShortcut shortcut;
    if (e.Caption == u"-") {
      item->SetSubMenu(nullptr);
    } else if (e.SubMenu && (e.SubMenu->Attached || e.SubMenu->Count() > 0)) {
      if (e.SubMenu->Attached) {
        if (item->SubMenu != e.SubMenu->Attached) {
          e.SubMenu->Attached->_AddRef();
          item->SetSubMenu(e.SubMenu->Attached);
        }
      } else {
        TKvMenu* sub = item->SubMenu;
        if (!sub || sub->Description == nullptr) {
          sub = new TKvMenu;
          item->SetSubMenu(sub);
        }
        FillMenu(sub, e.SubMenu);
      }
    } else {
      item->SetSubMenu(nullptr);
      if (e.ItemFlags & mifRadio) flags |= mfRadio;
      if (e.ItemFlags & mifChecked) flags |= mfChecked;
      shortcut = e.Shortcut;
    }
    if (e.Disabled) flags |= mfDisabled;
    if (i == desc->DefaultIndex) flags |= mfDefault;
    if (item->Caption != caption) item->SetCaption(caption);
    if (item->Shortcut.Key != shortcut.Key || item->Shortcut.Modifiers != shortcut.Modifiers)
      item->SetShortcut(shortcut);
    if (item->Flags != flags) item->SetFlags(flags);
  }
  while (native->Count() > desc->Count()) native->DeleteItem(native->Count() - 1);
  native->EndUpdate();
}

// ---- bar items ----

void TWinMainMenuItem::Dispose() {
  if (MenuItem && Services && Services->MainMenu) Services->MainMenu->RemoveItem(MenuItem);
  MenuItem = nullptr;
  Services = nullptr;
  TMainMenuItem::Dispose();
}

void TWinMainMenuItem::Changed() {
  if (!MenuItem) return;
  if (MenuItem->Caption != Caption) MenuItem->SetCaption(Caption);
  if (((MenuItem->Flags & mfDisabled) != 0) != Disabled) MenuItem->SetFlag(mfDisabled, Disabled);
  if (((MenuItem->Flags & mfHidden) != 0) != Hidden) MenuItem->SetFlag(mfHidden, Hidden);
}

void TWinMainMenuItem::BarPopup(TKvMenu* menu) {
  if (FillPending && Menu && Services) {
    FillPending = false;
    Services->FillMenu(menu, Menu);
  }
}

void TWinMainMenuItem::MenuChanged() {
  if (!MenuItem) return;
  if (!Menu || Menu->Count() == 0) {
    MenuItem->SetSubMenu(nullptr);
    return;
  }
  if (!MenuItem->SubMenu) {
    auto* sub = new TKvMenu;
    sub->OnPopup = foundation::MethodOf<&TWinMainMenuItem::BarPopup>(this);
    FillPending = true;
    MenuItem->SetSubMenu(sub);
    return;
  }
  if (!FillPending && Services) Services->FillMenu(MenuItem->SubMenu, Menu);
}

// ---- unit ----

TMenuServices* CreateWinMenuServices(windowing::TKvForm* form) { return new TWinMenuServices(form); }

void InitMenuServices() { CreateMenuServicesHook = &CreateWinMenuServices; }

void DoneMenuServices() {
  CreateMenuServicesHook = nullptr;
  CreateShellMenuHook = nullptr;
}

}  // namespace controls
