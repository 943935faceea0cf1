#include "player/QelEngineEvents.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kpExceptions.h"

using foundation::MakeRef;
using foundation::TRef;
using player::TCustomQelEngine;
using player::TQelEventData;

namespace {

class FakeApp : public windowing::TApplication {
 public:
  void Finalize() override {}
  bool IsQuitting() override { return false; }
  std::u16string GetTitle() override { return u""; }
  void SetTitle(const std::u16string&) override {}
  void Initialize() override {}
  void Run() override {}
  void ProcessMessages() override {}
  void AddObject(foundation::TRefObject*) override {}
  void RemoveObject(foundation::TRefObject*) override {}
  bool WakeUp(int32_t) override { return true; }
};

class Engine : public TCustomQelEngine {
 public:
  using TCustomQelEngine::TCustomQelEngine;
  void Step() override {}
};

struct Receiver {
  std::vector<std::string> log;
  static void FirstFrame(void* d, TCustomQelEngine*) { static_cast<Receiver*>(d)->log.push_back("first frame"); }
  static void Progress(void* d, TCustomQelEngine*, int32_t position, int32_t length, bool ended) {
    static_cast<Receiver*>(d)->log.push_back("progress " + std::to_string(position) + "/" + std::to_string(length) +
                                             (ended ? " ended" : ""));
  }
  static void Event(void* d, TCustomQelEngine*, TQelEventData* e) {
    std::string s = "event " + std::to_string(e->EventId);
    for (int32_t i : e->Ints) s += " " + std::to_string(i);
    if (auto* text = dynamic_cast<player::TStrValue*>(e->Data.Get())) s += " '" + std::string(text->Value.begin(), text->Value.end()) + "'";
    static_cast<Receiver*>(d)->log.push_back(s);
  }
};

}  // namespace

TEST(EngineEvents, ReachTheMainFormThroughTheApplication) {
  auto app = MakeRef<FakeApp>();
  auto engine = MakeRef<Engine>(app.Get());
  Receiver r;
  engine->OnFirstFrame = {&Receiver::FirstFrame, &r};
  engine->OnProgress = {&Receiver::Progress, &r};
  engine->OnEvent = {&Receiver::Event, &r};
  EXPECT_EQ(engine->NextShowId(), 1);
  EXPECT_EQ(engine->NextShowId(), 2);
  engine->PostEvent(player::eeFirstFrame, {}, nullptr, false);
  engine->PostEvent(player::eeProgress, {1, 500, 12000, 0}, nullptr, false);  // an older show id: dropped
  engine->PostEvent(player::eeProgress, {2, 700, 12000, 0}, nullptr, false);
  engine->PostEvent(player::eeProgress, {2, 12000, 12000, 1}, nullptr, false);
  engine->PostEvent(player::eeAction, {10, 0}, new player::TStrValue(u"notepad a.txt"), true);
  engine->PostEvent(player::eeWindowMode, {1280, 720, 1}, nullptr, false);
  EXPECT_TRUE(r.log.empty());  // posted: nothing runs before the loop dispatches
  app->ProcessAllPosted();
  EXPECT_EQ(r.log, (std::vector<std::string>{"first frame", "event 1", "progress 700/12000",
                                             "progress 12000/12000 ended", "event 12 10 0 'notepad a.txt'",
                                             "event 17 1280 720 1"}));
}

TEST(EngineEvents, DataTheEngineKeepsOutlivesTheEvent) {
  auto app = MakeRef<FakeApp>();
  auto engine = MakeRef<Engine>(app.Get());
  auto kept = MakeRef<player::TStrValue>(u"kept");
  engine->PostEvent(player::eeAction, {1, 0}, kept.Get(), false);
  app->ProcessAllPosted();
  EXPECT_EQ(kept->RefCount(), 1);
  EXPECT_EQ(kept->Value, u"kept");
}

TEST(EngineEvents, ClearedCallbacksDropEventsAndRequestsQueueForTheEngine) {
  auto app = MakeRef<FakeApp>();
  auto engine = MakeRef<Engine>(app.Get());
  engine->PostEvent(player::eeProgress, {0, 1, 2, 0}, nullptr, false);
  engine->PostEvent(player::eeAction, {3, 0}, nullptr, false);
  app->ProcessAllPosted();  // no callbacks: nothing to call, nothing breaks
  // Events of another id or without data are ignored.
  Receiver r;
  engine->OnEvent = {&Receiver::Event, &r};
  engine->ReceiveEvent(nullptr, engine->AppEventId + 1, MakeRef<TQelEventData>().Get());
  engine->ReceiveEvent(nullptr, engine->AppEventId, nullptr);
  EXPECT_TRUE(r.log.empty());

  engine->PostRequest(player::rqCaptureFrame);
  engine->PostRequest(player::rqHelpDialog);
  EXPECT_EQ(engine->EventList()->QueuedCount(), 2);
  EXPECT_THROW(MakeRef<Engine>(nullptr), foundation::EAssertionFailed);
}

TEST(EngineEvents, DisposingUnregistersTheReceiver) {
  auto app = MakeRef<FakeApp>();
  auto engine = MakeRef<Engine>(app.Get());
  Receiver r;
  engine->OnEvent = {&Receiver::Event, &r};
  const uint32_t id = engine->AppEventId;
  engine->PostEvent(player::eeAction, {1, 0}, nullptr, false);
  engine.Reset();
  app->ProcessAllPosted();  // the receiver is gone: the event goes nowhere
  EXPECT_TRUE(r.log.empty());
  auto second = MakeRef<Engine>(app.Get());
  EXPECT_NE(second->AppEventId, id);
}
