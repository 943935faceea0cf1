// The hook manager: private message numbers, per-owner before and after
// hooks, the bucket sharing of message numbers, removal during a call.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/kpExceptions.h"
#include "windowing/kvHooks.h"

using namespace windowing;

namespace {

struct Owner : foundation::TRefObject {};

// Owners live on the heap, as every reference-counted object does.
struct OwnerRef {
  Owner* p = new Owner;
  ~OwnerRef() { p->Free(); }
  operator Owner*() const { return p; }
  Owner* operator&() const { return p; }
};

struct Hooks {
  std::vector<int> calls;
  int id = 0;
  bool setHandled = false;
  Owner* owner = nullptr;
  TPrivateHookManager* manager = nullptr;
  void Before(HWND, TWndMessage& msg, bool& handled) {
    calls.push_back(id);
    if (setHandled) {
      handled = true;
      msg.Result = 77;
    }
  }
  // Removal matches the method's code only, so the self-removing hook has a
  // method of its own.
  void BeforeThenRemove(HWND wnd, TWndMessage& msg, bool& handled) {
    Before(wnd, msg, handled);
    manager->RemoveMsgHook(owner, {msg.Msg}, foundation::MethodOf<&Hooks::BeforeThenRemove>(this));
  }
  void Other(HWND, TWndMessage&, bool&) { calls.push_back(100 + id); }
  void After(HWND, TWndMessage& msg) { calls.push_back(-id); }
};

class HookManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { m = new TPrivateHookManager; }
  void TearDown() override { m->Free(); }
  TPrivateHookManager* m;
};

TEST_F(HookManagerTest, MessageNumbersStartAfterTheUserRangeAndNamesKeepTheirs) {
  EXPECT_EQ(m->AllocateMessage(), 5120);
  EXPECT_EQ(m->AllocateMessage(), 5121);
  const int32_t x = m->RegisterMessageName(u"X");
  EXPECT_EQ(x, 5122);
  EXPECT_EQ(m->RegisterMessageName(u"X"), x);
  EXPECT_NE(m->RegisterMessageName(u"x"), x) << "names compare with case";
}

TEST_F(HookManagerTest, HooksRunForTheirOwnerAndMessageOnlyNewestFirstEvenWhenHandled) {
  OwnerRef o, p;
  Hooks a, b;
  a.id = 1;
  b.id = 2;
  b.setHandled = true;
  m->AddMsgHook(&o, {0x0201}, foundation::MethodOf<&Hooks::Before>(&a));
  m->AddMsgHook(&o, {0x0201}, foundation::MethodOf<&Hooks::Before>(&b));
  m->AddMsgHook(&o, {0x0301}, foundation::MethodOf<&Hooks::Other>(&a));  // same bucket
  m->AddMsgHook(&p, {0x0201}, foundation::MethodOf<&Hooks::Other>(&b));  // other owner
  std::vector<int> order;
  TWndMessage msg{0x0201, 0, 0, 0};
  bool handled = false;
  m->CallBefore(&o, 1, msg, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(msg.Result, 77);
  EXPECT_EQ(b.calls, std::vector<int>{2});
  EXPECT_EQ(a.calls, std::vector<int>{1}) << "the older hook still runs after the newer set handled";
  m->RemoveMsgHook(&o, {0x0201}, foundation::MethodOf<&Hooks::Before>(&a));
  m->RemoveMsgHook(&o, {0x0201}, foundation::MethodOf<&Hooks::Before>(&b));
  m->RemoveMsgHook(&o, {0x0301}, foundation::MethodOf<&Hooks::Other>(&a));
  m->RemoveMsgHook(&p, {0x0201}, foundation::MethodOf<&Hooks::Other>(&b));
}

TEST_F(HookManagerTest, AllHooksComeBeforeMessageHooksAndAfterHooksAfter) {
  OwnerRef o;
  Hooks a, b;
  a.id = 1;
  b.id = 2;
  m->AddMsgHook(&o, {5}, foundation::MethodOf<&Hooks::Before>(&a));
  m->AddAllHook(&o, foundation::MethodOf<&Hooks::Before>(&b));
  m->AddAfterHook(&o, foundation::MethodOf<&Hooks::After>(&a));
  TWndMessage msg{5, 0, 0, 0};
  bool handled = false;
  m->CallBefore(&o, 1, msg, handled);
  m->CallAfter(&o, 1, msg);
  EXPECT_EQ(b.calls, std::vector<int>{2});
  EXPECT_EQ(a.calls, (std::vector<int>{1, -1}));
  m->RemoveAllHook(&o, foundation::MethodOf<&Hooks::Before>(&b));
  m->RemoveAfterHook(&o, foundation::MethodOf<&Hooks::After>(&a));
  m->RemoveMsgHook(&o, {5}, foundation::MethodOf<&Hooks::Before>(&a));
  EXPECT_THROW(m->RemoveAllHook(&o, foundation::MethodOf<&Hooks::Before>(&b)), foundation::EAssertionFailed);
}

TEST_F(HookManagerTest, RemovingAHookThatIsNotThereIsUnhookError) {
  OwnerRef o;
  Hooks a;
  try {
    m->RemoveMsgHook(&o, {9}, foundation::MethodOf<&Hooks::Before>(&a));
    FAIL() << "no assertion";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), u"UnHook error");
  }
}

TEST_F(HookManagerTest, AHookThatRemovesItselfDoesNotBreakTheWalk) {
  OwnerRef o;
  Hooks a, b, c;
  a.id = 1;
  b.id = 2;
  c.id = 3;
  for (Hooks* h : {&a, &b, &c}) {
    h->owner = o;
    h->manager = m;
  }
  m->AddMsgHook(&o, {7}, foundation::MethodOf<&Hooks::Before>(&a));
  m->AddMsgHook(&o, {7}, foundation::MethodOf<&Hooks::BeforeThenRemove>(&b));
  m->AddMsgHook(&o, {7}, foundation::MethodOf<&Hooks::Before>(&c));
  TWndMessage msg{7, 0, 0, 0};
  bool handled = false;
  m->CallBefore(&o, 1, msg, handled);
  m->CallBefore(&o, 1, msg, handled);
  EXPECT_EQ(c.calls, (std::vector<int>{3, 3}));
  EXPECT_EQ(b.calls, (std::vector<int>{2}));
  EXPECT_EQ(a.calls, (std::vector<int>{1, 1}));
  m->RemoveMsgHook(&o, {7}, foundation::MethodOf<&Hooks::Before>(&a));
  m->RemoveMsgHook(&o, {7}, foundation::MethodOf<&Hooks::Before>(&c));
}

}  // namespace
