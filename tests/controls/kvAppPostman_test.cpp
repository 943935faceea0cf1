// The application postman on the main thread: posting and sending through a
// box, delivery inside the listeners' notifications, refused posts that
// leave the data with the caller, and closed boxes.
#include "tests/controls/PostmanRig.h"

#include <string>

#include "foundation/kpExceptions.h"

using controls::TAppPostBox;
using controls::TAppPostman;
using controls_test::PostmanTest;
using controls_test::TBracketListener;
using controls_test::TTracedData;
using foundation::TRef;

namespace {

struct TReceiver {
  std::vector<int32_t> Ids;
  std::vector<int> Values;
  std::vector<TBracketListener*> Watch;
  std::vector<int> DepthsSeen;
  void Handle(int32_t id, foundation::TRefObject* data) {
    Ids.push_back(id);
    auto* d = dynamic_cast<TTracedData*>(data);
    Values.push_back(d ? d->Value : -1);
    for (auto* w : Watch) {
      DepthsSeen.push_back(w->Depth);
      w->Change();
    }
  }
  controls::TPostHandler Method() { return foundation::MethodOf<&TReceiver::Handle>(this); }
};

TEST_F(PostmanTest, APostIsDeliveredOnTheMainThreadBetweenTheListenersNotifications) {
  TAppPostman* postman = controls::AppPostman();
  ASSERT_NE(postman, nullptr);
  EXPECT_EQ(postman->EventId(), 0u) << "no id before first use";
  TReceiver r;
  auto box = postman->CreatePostBox(r.Method());
  TBracketListener first(postman), second(postman);
  r.Watch = {&first, &second};
  std::atomic<int> disposed{0};
  ASSERT_TRUE(box->Post(7, new TTracedData(&disposed, 70)));
  ASSERT_TRUE(box->Post(8, new TTracedData(&disposed, 80)));
  EXPECT_NE(postman->EventId(), 0u);
  EXPECT_EQ(postman->PendingCount(), 2);
  EXPECT_TRUE(r.Ids.empty()) << "posting returns at once";
  EXPECT_EQ(disposed, 0);
  App->ProcessMessages();
  EXPECT_EQ(r.Ids, (std::vector<int32_t>{7, 8}));
  EXPECT_EQ(r.Values, (std::vector<int>{70, 80}));
  EXPECT_EQ(postman->PendingCount(), 0);
  EXPECT_EQ(disposed, 2) << "the data goes with its delivered message";
  // Both listeners were inside their bracket during each delivery and
  // painted once per delivery.
  EXPECT_EQ(r.DepthsSeen, (std::vector<int>{1, 1, 1, 1}));
  for (auto* l : {&first, &second}) {
    EXPECT_EQ(l->Codes, (std::vector<uint32_t>{1, 2, 1, 2}));
    EXPECT_EQ(l->Paints, 2);
    EXPECT_EQ(l->Depth, 0);
  }
}

TEST_F(PostmanTest, TheOldestListenerHearsFirst) {
  TAppPostman* postman = controls::AppPostman();
  std::vector<std::string> order;
  struct TNamed {
    std::vector<std::string>* Order;
    std::string Name;
    void Notify(uint32_t code, void*) { Order->push_back(Name + std::to_string(code)); }
  };
  TNamed a{&order, "a"}, b{&order, "b"};
  auto na = TRef<controls::TPostmanEventNotifier>::Adopt(
      new controls::TPostmanEventNotifier(postman, foundation::MethodOf<&TNamed::Notify>(&a)));
  auto nb = TRef<controls::TPostmanEventNotifier>::Adopt(
      new controls::TPostmanEventNotifier(postman, foundation::MethodOf<&TNamed::Notify>(&b)));
  TReceiver r;
  auto box = postman->CreatePostBox(r.Method());
  ASSERT_TRUE(box->Post(1, nullptr));
  App->ProcessMessages();
  EXPECT_EQ(order, (std::vector<std::string>{"a1", "b1", "a2", "b2"}));
  // A listener that left hears nothing more.
  na.Reset();
  order.clear();
  ASSERT_TRUE(box->Post(2, nullptr));
  App->ProcessMessages();
  EXPECT_EQ(order, (std::vector<std::string>{"b1", "b2"}));
}

TEST_F(PostmanTest, APostAfterTheApplicationEndedFailsAndLeavesTheDataWithTheCaller) {
  TReceiver r;
  auto box = controls::AppPostman()->CreatePostBox(r.Method());
  std::atomic<int> disposed{0};
  auto* data = new TTracedData(&disposed, 1);
  App->Terminate();
  EXPECT_FALSE(box->Post(1, data));
  EXPECT_EQ(disposed, 0) << "a refused post must not release the caller's data";
  EXPECT_EQ(data->RefCount(), 1);
  EXPECT_EQ(controls::AppPostman()->PendingCount(), 0);
  App->ProcessMessages();
  EXPECT_TRUE(r.Ids.empty());
  // Finalised and gone: still refused, the data still the caller's.
  App->Finalize();
  EXPECT_FALSE(box->Post(2, data));
  App->Free();
  App = nullptr;
  EXPECT_FALSE(box->Post(3, data));
  EXPECT_EQ(disposed, 0);
  data->Free();
  EXPECT_EQ(disposed, 1);
}

// An application whose main thread will not run posted events any more: the
// event list withdraws the post and releases what it carried.
class TRefusingApp : public windowing::TWinApplication {
 public:
  bool WakeUp(int32_t) override { return false; }
};

TEST_F(PostmanTest, APostTheApplicationWithdrawsFailsAndLeavesTheDataWithTheCaller) {
  App->Finalize();
  App->Free();
  App = nullptr;
  auto* refusing = new TRefusingApp;
  refusing->Initialize();
  TReceiver r;
  auto box = controls::AppPostman()->CreatePostBox(r.Method());
  std::atomic<int> disposed{0};
  auto* data = new TTracedData(&disposed, 5);
  EXPECT_FALSE(box->Post(1, data));
  EXPECT_EQ(disposed, 0);
  EXPECT_EQ(data->RefCount(), 1);
  EXPECT_EQ(controls::AppPostman()->PendingCount(), 0);
  data->Free();
  refusing->Finalize();
  refusing->Free();
  EXPECT_TRUE(r.Ids.empty());
}

TEST_F(PostmanTest, AClosedBoxRefusesPostsButItsQueuedMessagesAreStillDelivered) {
  TReceiver r;
  auto box = controls::AppPostman()->CreatePostBox(r.Method());
  TBracketListener l(controls::AppPostman());
  std::atomic<int> disposed{0};
  ASSERT_TRUE(box->Post(1, new TTracedData(&disposed, 10)));
  box->Close();
  EXPECT_TRUE(box->Closed());
  auto* late = new TTracedData(&disposed, 11);
  EXPECT_FALSE(box->Post(2, late));
  EXPECT_EQ(late->RefCount(), 1);
  App->ProcessMessages();
  EXPECT_TRUE(r.Ids.empty()) << "the handler went with the close";
  EXPECT_EQ(l.Codes, (std::vector<uint32_t>{1, 2})) << "the queued message was still delivered";
  EXPECT_EQ(controls::AppPostman()->PendingCount(), 0);
  EXPECT_EQ(disposed, 1);
  late->Free();
}

TEST_F(PostmanTest, SendOnTheMainThreadDeliversAtOnceAndReleasesTheData) {
  TReceiver r;
  auto box = controls::AppPostman()->CreatePostBox(r.Method());
  std::atomic<int> disposed{0};
  EXPECT_TRUE(box->Send(4, new TTracedData(&disposed, 40)));
  EXPECT_EQ(r.Values, std::vector<int>{40});
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(controls::AppPostman()->PendingCount(), 0);
  App->Terminate();
  EXPECT_FALSE(box->Send(5, new TTracedData(&disposed, 50)));
  EXPECT_EQ(disposed, 2) << "a send always releases its message and data";
  EXPECT_EQ(r.Values, std::vector<int>{40});
}

TEST_F(PostmanTest, AHandlerThatRaisesStillClosesTheListenersBracket) {
  struct TRaiser {
    void Handle(int32_t, foundation::TRefObject*) { throw foundation::Exception(u"handler failed"); }
  } raiser;
  auto box = controls::AppPostman()->CreatePostBox(foundation::MethodOf<&TRaiser::Handle>(&raiser));
  TBracketListener l(controls::AppPostman());
  ASSERT_TRUE(box->Post(1, nullptr));
  App->ProcessMessages();
  EXPECT_EQ(l.Codes, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(l.Depth, 0);
  EXPECT_EQ(controls::AppPostman()->PendingCount(), 0);
}

TEST_F(PostmanTest, ANotifierNeedsAPostman) {
  EXPECT_THROW(new controls::TPostmanEventNotifier(nullptr, {}), foundation::EAssertionFailed);
}

}  // namespace
