// Event tables: firing order, changes made by handlers during a fire,
// nested fires, disposal from either side, and the shift-state bits.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/window/api.h"
#include "windowing/kvEvents.h"

using windowing::TEvents;
namespace pw = platform::window;

namespace {

std::vector<std::string> g_log;

struct Handler : windowing::TEventHandler {
  std::string name;
  std::function<void(int32_t tag)> action;
  explicit Handler(std::string n) : name(std::move(n)) {}
  void HandleEvent(foundation::TRefObject* sender, int32_t tag, foundation::TRefObject*) override {
    g_log.push_back(name + ":" + std::to_string(tag));
    if (action) action(tag);
  }
};

struct Owner : foundation::TRefObject {};

struct CountingEvents : TEvents {
  int changes = 0;
  using TEvents::TEvents;
  void Changed() override { ++changes; }
};

class EventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    owner = new Owner;
    table = new CountingEvents(owner, 4);
    for (const char* n : {"H1", "H2", "H3", "D"}) handlers.push_back(new Handler(n));
  }
  void TearDown() override {
    table->Free();
    for (Handler* h : handlers) h->Free();
    owner->Free();
  }
  Handler* H(int i) { return handlers[i]; }
  Owner* owner;
  CountingEvents* table;
  std::vector<Handler*> handlers;
};

TEST_F(EventsTest, NewestSubscriptionFiresFirstAndEmptyIdsAnswerFalse) {
  table->Subscribe(5, H(0));
  table->Subscribe(5, H(1));
  table->Subscribe(5, H(2));
  EXPECT_TRUE(table->Fire(5, nullptr));
  EXPECT_EQ(g_log, (std::vector<std::string>{"H3:5", "H2:5", "H1:5"}));
  EXPECT_FALSE(table->Fire(6, nullptr));
}

TEST_F(EventsTest, IdsSharingABucketNeverCallEachOther) {
  table->Subscribe(1, H(0));
  table->Subscribe(5, H(1));  // 5 mod 4 = 1
  table->Subscribe(9, H(2));
  table->Fire(5, nullptr);
  EXPECT_EQ(g_log, std::vector<std::string>{"H2:5"});
}

TEST_F(EventsTest, HandlersChangingSubscriptionsDuringAFire) {
  table->Subscribe(1, H(0));
  table->Subscribe(1, H(1));
  table->Subscribe(1, H(2));
  // H3 drops H2 and itself, and subscribes D: H1 still runs once, D waits
  // for the next fire.
  H(2)->action = [&](int32_t) {
    table->Unsubscribe(1, H(1));
    table->Unsubscribe(1, H(2));
    table->Subscribe(1, H(3));
  };
  table->Fire(1, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"H3:1", "H1:1"}));
  g_log.clear();
  table->Fire(1, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"D:1", "H1:1"}));
}

TEST_F(EventsTest, ANestedFireThatFreesAndReusesTheNextEntryEndsTheOuterFire) {
  table->Subscribe(1, H(0));  // visited after H2
  table->Subscribe(1, H(1));
  table->Subscribe(2, H(2));
  // H2's handler fires id 2, whose handler removes H1's entry and takes its
  // slot for D on id 1: the outer fire must not call D.
  H(1)->action = [&](int32_t tag) {
    if (tag == 1) table->Fire(2, nullptr);
  };
  H(2)->action = [&](int32_t) {
    table->Unsubscribe(1, H(0));
    table->Subscribe(1, H(3));
  };
  table->Fire(1, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"H2:1", "H3:2"}));
}

TEST_F(EventsTest, DisposingAHandlerLeavesNoEntryInAnyTable) {
  auto* other = new CountingEvents(owner, 8);
  table->SubscribeIds({20, 21, 22}, H(0));
  other->Subscribe(3, H(0));
  other->Subscribe(3, H(1));
  table->Fire(21, nullptr);
  EXPECT_EQ(g_log, std::vector<std::string>{"H1:21"}) << "SubscribeIds tags each with its id";
  const int changesBefore = table->changes;
  handlers[0]->Free();
  handlers[0] = new Handler("H1'");
  EXPECT_EQ(table->SubscriptionCount(), 0);
  EXPECT_EQ(other->SubscriptionCount(), 1);
  EXPECT_EQ(table->changes, changesBefore + 3);
  g_log.clear();
  EXPECT_FALSE(table->Fire(20, nullptr));
  other->Fire(3, nullptr);
  EXPECT_EQ(g_log, std::vector<std::string>{"H2:3"});
  other->Free();
  EXPECT_EQ(H(1)->FirstTable(), nullptr) << "a disposed table unlinks its entries from the handlers";
}

TEST_F(EventsTest, UnsubscribingAHandlerChangesOnceAndEntriesAreReused) {
  table->SubscribeTagged(7, 70, H(0));
  table->Subscribe(8, H(0));
  table->Subscribe(7, H(1));
  const int capacity = table->EntryCapacity();
  const int before = table->changes;
  EXPECT_TRUE(table->UnsubscribeHandler(H(0)));
  EXPECT_EQ(table->changes, before + 1);
  EXPECT_FALSE(table->UnsubscribeHandler(H(0)));
  EXPECT_FALSE(table->Unsubscribe(7, H(0)));
  for (int i = 0; i < 2; ++i) table->Subscribe(9, H(2));
  EXPECT_EQ(table->EntryCapacity(), capacity) << "freed entries come back before the array grows";
  table->Fire(7, nullptr);
  EXPECT_EQ(g_log, std::vector<std::string>{"H2:7"});
}

TEST(ShiftState, FromKeyMouseAndWheelData) {
  pw::backendSetKeyState(0x11, true, false);  // Ctrl
  EXPECT_EQ(windowing::ShiftStateFromKeyData(1 << 29), 12u);
  pw::backendSetKeyState(0x11, false, false);
  EXPECT_EQ(windowing::ShiftStateFromMouseFlags(0x1 | 0x4), 18u);  // left button, Shift
  pw::backendSetKeyState(0x12, true, false);  // Alt
  pw::backendSetKeyState(0x5C, true, false);  // right Windows key
  EXPECT_EQ(windowing::ShiftStateFromWheelFlags((120u << 16) | 0x12), 1u | 4u | 32u | 64u);
  pw::backendSetKeyState(0x12, false, false);
  pw::backendSetKeyState(0x5C, false, false);
  EXPECT_EQ(windowing::ShiftStateFromMouseFlags(0x8), 8u);
}

}  // namespace
