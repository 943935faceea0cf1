// Menus of drawn forms over the platform's menu store: command identifiers,
// the native description of items, popups tracked through a scripted
// tracker (with WM_INITMENUPOPUP filling each popup first) and clicks.
#include "controls/kvNativeMenus.h"

#include <gtest/gtest.h>

#include "foundation/Startup.h"

#include "platform/window/headless/Window_headless.h"

using namespace controls;
namespace pw = platform::window;

namespace {

struct TClicks {
  std::vector<std::u16string> Seen;
  void Click(TKvMenuItem* item) { Seen.push_back(item->Caption); }
  TMenuItemEvent Method() { return foundation::MethodOf<&TClicks::Click>(this); }
};

class NativeMenus : public ::testing::Test {
 protected:
  void SetUp() override {
    foundation::StartFoundation();
    pw::headless().reset();
    pw::setWindowBackend(nullptr);
    InitNativeMenus();
    Live = pw::liveMenuCount();
  }
  void TearDown() override {
    pw::setMenuTracker({});
    EXPECT_EQ(pw::liveMenuCount(), Live) << "native menus left behind";
    DoneNativeMenus();
  }
  int Live = 0;
};

TEST_F(NativeMenus, CommandIdentifiersTakeTheLowestFreeAndTheSetGrows) {
  auto menu = foundation::MakeRef<TKvMenu>();
  TKvMenuItem* a = menu->AddItem();
  TKvMenuItem* b = menu->AddItem();
  TKvMenuItem* c = menu->AddItem();
  EXPECT_NE(a->CommandId, 0);
  EXPECT_EQ(b->CommandId, a->CommandId + 1);
  EXPECT_EQ(c->CommandId, a->CommandId + 2);
  // A freed identifier is the next one handed out.
  const uint16_t freed = b->CommandId;
  menu->DeleteItem(1);
  EXPECT_FALSE(CommandIdUsed(freed));
  EXPECT_EQ(menu->AddItem()->CommandId, freed);
  // Filling the first 256 doubles the set.
  std::vector<uint16_t> taken;
  while (CommandIdCapacity() == 256) taken.push_back(AllocCommandId());
  EXPECT_EQ(CommandIdCapacity(), 512u);
  EXPECT_EQ(taken.back(), 256);
  for (uint16_t id : taken) FreeCommandId(id);
  EXPECT_FALSE(CommandIdUsed(256));
  EXPECT_TRUE(CommandIdUsed(0)) << "0 is never handed out";
}

TEST_F(NativeMenus, TheNativeDescriptionOfAnItem) {
  auto menu = foundation::MakeRef<TKvMenu>();
  TKvMenuItem* open = menu->AddItem();
  open->Caption = u"Open";
  open->SetShortcut(windowing::TShortcut{'O', 8});
  EXPECT_EQ(open->Text(), u"Open\tCtrl+O");
  struct Case {
    uint8_t flags;
    const char16_t* caption;
    uint32_t type, state;
  };
  const Case cases[] = {
      {0, u"Plain", pw::MFT_STRING, 0},
      {mfDefault, u"Default", pw::MFT_STRING, 0x1000},
      {mfRadio | mfChecked, u"Radio", 0x200, 8},
      {mfChecked, u"Checked", pw::MFT_STRING, 8},
      {mfDisabled, u"Off", pw::MFT_STRING, 3},
      {0, u"-", 0x800, 0},
  };
  TKvMenuItem* item = menu->AddItem();
  for (const auto& c : cases) {
    item->Caption = c.caption;
    item->Flags = c.flags;
    pw::MenuItemInfo info;
    ASSERT_TRUE(item->FillItemInfo(info)) << (int)c.flags;
    EXPECT_EQ(info.cbSize, 80u);
    EXPECT_EQ(info.fMask, 0x3Fu);
    EXPECT_EQ(info.fType, c.type) << (int)c.flags;
    EXPECT_EQ(info.fState, c.state) << (int)c.flags;
    EXPECT_EQ(info.wID, item->CommandId);
    EXPECT_EQ(info.dwItemData, reinterpret_cast<uintptr_t>(item));
  }
  menu->OwnerDraw = true;
  pw::MenuItemInfo info;
  item->Caption = u"Drawn";
  item->Flags = mfRadio;
  ASSERT_TRUE(item->FillItemInfo(info));
  EXPECT_EQ(info.fType, 0x300u);
  item->Flags = mfHidden;
  EXPECT_FALSE(item->FillItemInfo(info));
}

TEST_F(NativeMenus, APopupIsFilledBeforeItShowsAndTheChosenItemIsClicked) {
  auto menu = foundation::MakeRef<TKvMenu>();
  TClicks clicks;
  TKvMenuItem* first = menu->AddItem();
  first->Caption = u"First";
  first->OnClick = clicks.Method();
  TKvMenuItem* hidden = menu->AddItem();
  hidden->Caption = u"Hidden";
  hidden->Flags = mfHidden;
  TKvMenuItem* more = menu->AddItem();
  more->Caption = u"More";
  auto* sub = new TKvMenu;
  more->SetSubMenu(sub);
  // The submenu fills itself when it opens.
  struct TFiller {
    TClicks* Clicks;
    int Calls = 0;
    void Fill(TKvMenu* m) {
      ++Calls;
      if (m->Count() == 0) {
        TKvMenuItem* deep = m->AddItem();
        deep->Caption = u"Deep";
        deep->OnClick = Clicks->Method();
      }
    }
  } filler{&clicks};
  sub->OnPopup = foundation::MethodOf<&TFiller::Fill>(&filler);
  // What the tracker saw of the top level: hidden items are left out.
  std::vector<std::u16string> shown;
  pw::ScriptedMenuTracker script;
  auto scripted = script.tracker();
  uint16_t deepId = 0;
  pw::setMenuTracker([&](pw::HMENU h, uint32_t f, int x, int y, pw::HWND owner) {
    shown.clear();
    for (int i = 0; i < pw::getMenuItemCount(h); ++i) {
      pw::MenuItemInfo info;
      pw::getMenuItemInfo(h, uint32_t(i), true, info);
      shown.push_back(info.dwTypeData);
    }
    return scripted(h, f, x, y, owner);
  });
  script.push({{}, first->CommandId});
  EXPECT_EQ(TrackPopupMenu(menu.Get(), 10, 20, false), first);
  EXPECT_EQ(shown, (std::vector<std::u16string>{u"First", u"More"}));
  EXPECT_EQ(clicks.Seen, std::vector<std::u16string>{u"First"});
  EXPECT_EQ(script.points.back(), std::make_pair(10, 20));
  EXPECT_EQ(script.flags.back(), pw::TPM_RETURNCMD | pw::TPM_RIGHTBUTTON);
  EXPECT_NE(hidden->CommandId, 0) << "a hidden item keeps its identifier";
  // Opening the submenu (position 1 among the shown items) fills it; its
  // item is then found and clicked.
  script.push({{1}, 0});  // first a dismissal inside the submenu
  EXPECT_EQ(TrackPopupMenu(menu.Get(), 0, 0, false), nullptr);
  EXPECT_EQ(filler.Calls, 1);
  ASSERT_EQ(sub->Count(), 1);
  deepId = sub->Item(0)->CommandId;
  script.push({{1}, deepId});
  EXPECT_EQ(TrackPopupMenu(menu.Get(), 0, 0, false), sub->Item(0));
  EXPECT_EQ(clicks.Seen, (std::vector<std::u16string>{u"First", u"Deep"}));
  // Dismissed: nil and no click.
  EXPECT_EQ(TrackPopupMenu(menu.Get(), 0, 0, false), nullptr);
  EXPECT_EQ(clicks.Seen.size(), 2u);
  EXPECT_EQ(menu->Handle, 0u) << "handles cleared after tracking";
  EXPECT_EQ(menu->Helper, nullptr);
  EXPECT_EQ(sub->Helper, nullptr);
  EXPECT_EQ(TrackPopupMenu(nullptr, 0, 0, false), nullptr);
}

TEST_F(NativeMenus, FindItemSearchesSubmenusAndWmCommandClicks) {
  auto menu = foundation::MakeRef<TKvMenu>();
  TClicks clicks;
  TKvMenuItem* top = menu->AddItem();
  top->Caption = u"Top";
  auto* sub = new TKvMenu;
  top->SetSubMenu(sub);
  TKvMenuItem* inner = sub->AddItem();
  inner->Caption = u"Inner";
  inner->OnClick = clicks.Method();
  TKvMenuItem* found = nullptr;
  EXPECT_TRUE(menu->FindItem(inner->CommandId, found));
  EXPECT_EQ(found, inner);
  EXPECT_FALSE(menu->FindItem(60000, found));
  pw::LRESULT result = 5;
  bool handled = false;
  menu->HandleMessage(0, pw::WM_COMMAND, inner->CommandId, 0, result, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(clicks.Seen, std::vector<std::u16string>{u"Inner"});
  // From a control (a handle in lParam) it is not a menu command.
  handled = false;
  menu->HandleMessage(0, pw::WM_COMMAND, inner->CommandId, 0x1234, result, handled);
  EXPECT_FALSE(handled);
  menu->HandleMessage(0, pw::WM_MENUSELECT, (uintptr_t(pw::MF_POPUP) << 16) | 3, 0, result, handled);
  EXPECT_TRUE(MenuSelectionIsPopup());
  menu->HandleMessage(0, pw::WM_MENUSELECT, 3, 0, result, handled);
  EXPECT_FALSE(MenuSelectionIsPopup());
}

}  // namespace
