// Menu descriptions and the menu services over native menus: selection
// events, copies, marks and default entries as the native menu shows them,
// and context menus shown from the application's event processing.
#include "controls/kvMenuServices.h"

#include "tests/controls/PostmanRig.h"

using namespace controls;
namespace pw = platform::window;

namespace {

class TSelections : public windowing::TEventHandler {
 public:
  void HandleEvent(foundation::TRefObject* sender, int32_t tag, foundation::TRefObject* data) override {
    auto* d = dynamic_cast<TMenuDesc*>(data);
    Tags.push_back(tag);
    Indexes.push_back(d ? d->SelectedIndex : -99);
    Commands.push_back(d ? d->SelectedCommand() : -99);
    Senders.push_back(sender);
  }
  std::vector<int32_t> Tags, Indexes, Commands;
  std::vector<foundation::TRefObject*> Senders;
};

// What a popup showed: per native item its text, type and state.
struct TShown {
  std::u16string Text;
  uint32_t Type, State;
  bool Sub;
};

class MenuServicesTest : public controls_test::PostmanTest {
 protected:
  void SetUp() override {
    PostmanTest::SetUp();
    InitNativeMenus();
    InitMenuServices();
  }
  void TearDown() override {
    pw::setMenuTracker({});
    DoneMenuServices();
    DoneNativeMenus();
    PostmanTest::TearDown();
  }
  // A tracker that records the top level and answers the scripted command.
  void Script(uint32_t (*pick)(pw::HMENU), std::vector<TShown>* shown) {
    pw::setMenuTracker([pick, shown](pw::HMENU h, uint32_t, int, int, pw::HWND) -> uint32_t {
      shown->clear();
      for (int i = 0; i < pw::getMenuItemCount(h); ++i) {
        pw::MenuItemInfo info;
        pw::getMenuItemInfo(h, uint32_t(i), true, info);
        shown->push_back(TShown{info.dwTypeData, info.fType, info.fState, info.hSubMenu != 0});
      }
      return pick(h);
    });
  }
};

TEST_F(MenuServicesTest, SelectingAnEntryFiresWithItsIndexAndRestoresIt) {
  auto desc = foundation::TRef<TMenuDesc>::Adopt(new TMenuDesc(u"m"));
  desc->AddCommand(u"Cut", 31)->AddCommand(u"Copy", 32)->AddSeparator()->AddCommand(u"Paste", 33, false);
  ASSERT_EQ(desc->Count(), 4);
  EXPECT_TRUE(desc->Items[3].Disabled);
  EXPECT_EQ(desc->Items[2].Caption, u"-");
  auto* sel = new TSelections;
  desc->SubscribeSelect(sel, false, 5);
  EXPECT_EQ(desc->SelectedCommand(), -1);
  desc->Select(1);
  EXPECT_EQ(desc->SelectedIndex, -1) << "restored after the handlers";
  EXPECT_EQ(sel->Indexes, std::vector<int32_t>{1});
  EXPECT_EQ(sel->Commands, std::vector<int32_t>{32});
  EXPECT_EQ(sel->Tags, std::vector<int32_t>{5});
  desc->Select(9);
  EXPECT_EQ(sel->Commands.back(), -1) << "an index out of range has no command";
  sel->Free();
}

TEST_F(MenuServicesTest, AssignCopiesSubmenusDeeply) {
  auto src = foundation::TRef<TMenuDesc>::Adopt(new TMenuDesc(u"src"));
  src->AddCommand(u"A", 1);
  src->AddItem(u"Sub");
  src->Last().SubMenu = new TMenuDesc(u"inner");
  src->Last().SubMenu->AddCommand(u"B", 2);
  src->Last().ItemFlags = mifChecked;
  auto copy = foundation::TRef<TMenuDesc>::Adopt(new TMenuDesc(u"copy"));
  copy->AddCommand(u"old", 9);
  copy->Assign(src.Get());
  ASSERT_EQ(copy->Count(), 2);
  EXPECT_EQ(copy->Items[0].Caption, u"A");
  ASSERT_NE(copy->Items[1].SubMenu, nullptr);
  EXPECT_NE(copy->Items[1].SubMenu, src->Items[1].SubMenu);
  EXPECT_EQ(copy->Items[1].SubMenu->Name, u"inner");
  EXPECT_EQ(copy->Items[1].SubMenu->Items[0].Command, 2);
  EXPECT_EQ(copy->Items[1].ItemFlags, mifChecked);
  src.Reset();  // the copy stands alone
  EXPECT_EQ(copy->Items[1].SubMenu->Items[0].Caption, u"B");
}

std::vector<TShown> g_shown;
uint32_t g_answer = 0;
uint32_t PickAnswer(pw::HMENU) { return g_answer; }

TEST_F(MenuServicesTest, MarksAndTheDefaultEntryReachTheNativeMenu) {
  auto* services = dynamic_cast<TWinMenuServices*>(CreateMenuServicesHook(nullptr));
  ASSERT_NE(services, nullptr);
  auto desc = foundation::TRef<TMenuDesc>::Adopt(new TMenuDesc(u"m"));
  // Flags are values: 1 radio, 2 checked, 3 both.
  desc->AddCommand(u"Radio", 1);
  desc->Last().ItemFlags = 1;
  desc->AddCommand(u"Checked", 2);
  desc->Last().ItemFlags = 2;
  desc->AddCommand(u"Both", 3);
  desc->Last().ItemFlags = 3;
  desc->AddCommand(u"Plain", 4, false);
  desc->Last().Shortcut = windowing::TShortcut{'P', 8};
  desc->AddSeparator();
  desc->DefaultIndex = 2;
  g_answer = 0;
  Script(&PickAnswer, &g_shown);
  services->ShowPopup(1, 2, desc.Get());
  ASSERT_EQ(g_shown.size(), 5u);
  struct Want {
    const char16_t* text;
    uint32_t type, state;
  };
  const Want want[] = {
      {u"Radio", 0x200, 0},        {u"Checked", 0, 8}, {u"Both", 0x200, 8 | 0x1000},
      {u"Plain\tCtrl+P", 0, 3},    {u"", 0x800, 0},
  };
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(g_shown[i].Text, want[i].text) << i;
    EXPECT_EQ(g_shown[i].Type, want[i].type) << i;
    EXPECT_EQ(g_shown[i].State, want[i].state) << i;
  }
  services->Free();
}

TEST_F(MenuServicesTest, AContextMenuIsShownFromTheEventLoopAndItsChoiceSelects) {
  TMenuServices* services = CreateMenuServicesHook(nullptr);
  auto desc = foundation::TRef<TMenuDesc>::Adopt(new TMenuDesc(u"ctx"));
  desc->AddCommand(u"One", 11)->AddCommand(u"Two", 12);
  desc->AddItem(u"More");
  desc->Last().SubMenu = new TMenuDesc(u"more");
  desc->Last().SubMenu->AddCommand(u"Three", 13);
  auto* sel = new TSelections;
  desc->SubscribeSelect(sel, true, 1);
  // The tracker picks the native item captioned "Two".
  Script(
      [](pw::HMENU h) -> uint32_t {
        for (int i = 0; i < pw::getMenuItemCount(h); ++i) {
          pw::MenuItemInfo info;
          pw::getMenuItemInfo(h, uint32_t(i), true, info);
          if (info.dwTypeData == u"Two") return info.wID;
        }
        return 0;
      },
      &g_shown);
  services->PopupMenu(30, 40, desc.Get(), false);
  EXPECT_TRUE(services->HasPendingPopup());
  EXPECT_TRUE(g_shown.empty() || sel->Indexes.empty()) << "not shown inside the caller";
  EXPECT_TRUE(sel->Indexes.empty());
  g_shown.clear();
  App->ProcessMessages();
  EXPECT_FALSE(services->HasPendingPopup());
  ASSERT_EQ(g_shown.size(), 3u);
  EXPECT_TRUE(g_shown[2].Sub);
  EXPECT_EQ(sel->Indexes, std::vector<int32_t>{1});
  EXPECT_EQ(sel->Commands, std::vector<int32_t>{12});
  // Empty and nil descriptions show nothing.
  g_shown.clear();
  auto empty = foundation::TRef<TMenuDesc>::Adopt(new TMenuDesc(u"e"));
  services->PopupMenu(0, 0, empty.Get(), false);
  services->PopupMenu(0, 0, nullptr, false);
  EXPECT_FALSE(services->HasPendingPopup());
  App->ProcessMessages();
  EXPECT_TRUE(g_shown.empty());
  // Services gone before their popup ran: nothing is shown.
  services->PopupMenu(0, 0, desc.Get(), false);
  services->Free();
  App->ProcessMessages();
  EXPECT_TRUE(g_shown.empty());
  EXPECT_EQ(desc->RefCount(), 1) << "the popup let go of the description";
  sel->Free();
}

TEST_F(MenuServicesTest, MainItemsKeepTheirIndexes) {
  TMenuServices* services = CreateMenuServicesHook(nullptr);
  services->AddMainItem(u"File");
  TMainMenuItem* edit = services->AddMainItem(u"Edit");
  services->AddMainItem(u"View");
  services->RemoveMainItem(0);
  ASSERT_EQ(services->MainItemCount(), 2);
  EXPECT_EQ(edit->Index, 0);
  EXPECT_EQ(services->MainItems[1]->Index, 1);
  EXPECT_EQ(services->MainItems[1]->Caption, u"View");
  services->Free();
}

}  // namespace
