// A worker thread posts and sends while two form-like listeners hear the
// postman: every delivery runs on the main thread inside both listeners'
// brackets, and a delivery that changes both repaints each exactly once.
#include <thread>

#include "platform/os/threads.h"
#include "tests/controls/PostmanRig.h"

using controls_test::PostmanTest;
using controls_test::TBracketListener;
using controls_test::TTracedData;

namespace {

constexpr int kPosts = 200;

struct TTwoForms {
  TBracketListener* A = nullptr;
  TBracketListener* B = nullptr;
  windowing::TApplication* App = nullptr;
  platform::os::ThreadId MainThread = 0;
  std::vector<int> Values;
  int OffThread = 0;
  int OutsideBracket = 0;
  void Handle(int32_t id, foundation::TRefObject* data) {
    if (platform::os::currentThreadId() != MainThread) ++OffThread;
    if (A->Depth != 1 || B->Depth != 1) ++OutsideBracket;
    auto* d = dynamic_cast<TTracedData*>(data);
    Values.push_back(d ? d->Value : -id);
    A->Change();
    B->Change();
    if (static_cast<int>(Values.size()) == kPosts + 1) App->Terminate();
  }
};

TEST_F(PostmanTest, AWorkerPostsWhileTwoFormsListen) {
  controls::TAppPostman* postman = controls::AppPostman();
  TBracketListener a(postman), b(postman);
  TTwoForms forms;
  forms.A = &a;
  forms.B = &b;
  forms.App = App;
  forms.MainThread = platform::os::currentThreadId();
  auto box = postman->CreatePostBox(foundation::MethodOf<&TTwoForms::Handle>(&forms));
  std::atomic<int> disposed{0};
  std::atomic<int> refused{0};
  std::atomic<bool> sent{false};
  std::thread worker([&] {
    for (int i = 0; i < kPosts; ++i)
      if (!box->Post(1, new TTracedData(&disposed, i))) ++refused;
    // A send waits for the main thread's delivery.
    sent = box->Send(2, new TTracedData(&disposed, kPosts));
  });
  App->Run();
  worker.join();
  EXPECT_EQ(refused, 0);
  EXPECT_TRUE(sent);
  ASSERT_EQ(forms.Values.size(), size_t(kPosts + 1));
  for (int i = 0; i <= kPosts; ++i) EXPECT_EQ(forms.Values[size_t(i)], i) << "in posting order";
  EXPECT_EQ(forms.OffThread, 0);
  EXPECT_EQ(forms.OutsideBracket, 0);
  for (auto* l : {&a, &b}) {
    ASSERT_EQ(l->Codes.size(), size_t(2 * (kPosts + 1)));
    for (size_t i = 0; i < l->Codes.size(); ++i) EXPECT_EQ(l->Codes[i], i % 2 ? 2u : 1u);
    EXPECT_EQ(l->Paints, kPosts + 1) << "one repaint per delivery";
  }
  EXPECT_EQ(postman->PendingCount(), 0);
  EXPECT_EQ(disposed, kPosts + 1);
}

TEST_F(PostmanTest, PostsFromAWorkerAfterTheApplicationEndedKeepTheirData) {
  auto box = controls::AppPostman()->CreatePostBox(controls::TPostHandler{});
  EXPECT_FALSE(box->Post(1, nullptr)) << "a box without a handler refuses";
  struct TSink {
    void Handle(int32_t, foundation::TRefObject*) {}
  } sink;
  box = controls::AppPostman()->CreatePostBox(foundation::MethodOf<&TSink::Handle>(&sink));
  App->Terminate();
  App->ProcessMessages();  // takes the quit message, so no later loop sees it
  std::atomic<int> disposed{0};
  std::vector<TTracedData*> kept;
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) {
      auto* d = new TTracedData(&disposed, i);
      if (!box->Post(1, d)) kept.push_back(d);
    }
  });
  worker.join();
  EXPECT_EQ(kept.size(), 20u);
  EXPECT_EQ(disposed, 0);
  for (auto* d : kept) d->Free();
  EXPECT_EQ(disposed, 20);
}

}  // namespace
