#include "imaging/kvLoadCallBack.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/kvImageAnimation.h"
#include "platform/os/manual/Clock_manual.h"

using namespace imaging;

namespace {

std::vector<uint32_t> g_pauses;
std::vector<uint32_t> g_priorities;

class Throttle : public ::testing::Test {
 protected:
  void SetUp() override {
    g_pauses.clear();
    g_priorities.clear();
    saved_ = SetLoadThrottleServices({[](uint32_t ms) { g_pauses.push_back(ms); },
                                      [](uint32_t c) {
                                        g_priorities.push_back(c);
                                        return true;
                                      }});
    SetLoadCallBackMode(0);
  }
  void TearDown() override {
    SetLoadCallBackMode(0);
    SetLoadThrottleServices(saved_);
  }
  TLoadThrottleServices saved_;
};

TEST_F(Throttle, PriorityFollowsTheSleepMode) {
  SetLoadCallBackMode(2);
  SetLoadCallBackMode(2);
  EXPECT_EQ(g_priorities, (std::vector<uint32_t>{128}));
  SetLoadCallBackMode(3);
  EXPECT_EQ(g_priorities, (std::vector<uint32_t>{128, 32}));
  SetLoadCallBackMode(1);
  SetLoadCallBackMode(3);
  EXPECT_EQ(g_priorities.size(), 2u);
  EXPECT_FALSE(LoadCallBack(0.5f));
  EXPECT_FALSE(LoadCallBackMethod()(0.5f));
  SetLoadCallBackMode(0);
  EXPECT_TRUE(LoadCallBack(0.5f));
  EXPECT_THROW(SetLoadCallBackMode(4), foundation::EAssertionFailed);
}

TEST_F(Throttle, PausesAtMostEveryFiveMilliseconds) {
  platform::os::ScopedManualClock clock(0xFFFFFFF0u);  // near the 32-bit wrap
  SetLoadCallBackMode(1);                              // last pause = now
  EXPECT_TRUE(LoadCallBack(0));
  clock->advance(5);
  EXPECT_TRUE(LoadCallBack(0));
  EXPECT_TRUE(g_pauses.empty());
  clock->advance(1);  // 6 ms after the last pause, across the wrap
  LoadCallBack(0);
  EXPECT_EQ(g_pauses, (std::vector<uint32_t>{0}));
  clock->advance(2);
  LoadCallBack(0);
  EXPECT_EQ(g_pauses.size(), 1u);
  SetLoadCallBackMode(2);
  clock->advance(6);
  LoadCallBack(0);
  EXPECT_EQ(g_pauses, (std::vector<uint32_t>{0, 1}));
}

TEST(ImageAnimation, Durations) {
  struct Case {
    const char16_t* text;
    int count;
    std::vector<int32_t> want;
  };
  const Case cases[] = {{u"50,80", 4, {50, 80, 80, 80}},
                        {u"10,20,30", 2, {10, 20}},
                        {u"", 3, {100, 100, 100}},
                        {u"5", 0, {}},
                        {u"7,x,9", 4, {7, 0, 9, 9}}};
  for (const auto& c : cases) {
    TImageAnimationParams p;
    p.Count = c.count;
    ParseImageAnimationDurations(c.text, p);
    EXPECT_EQ(p.Durations, c.want);
  }
  // A show's frame count is cut to the cap before anything is allocated;
  // a negative count gives no frames.
  for (const int32_t count : {kMaxAnimationFrames + 1, std::numeric_limits<int32_t>::max()}) {
    TImageAnimationParams p;
    p.Count = count;
    ParseImageAnimationDurations(u"40,60", p);
    EXPECT_EQ(p.Count, 65536);
    ASSERT_EQ(p.Durations.size(), 65536u);
    EXPECT_EQ(p.Durations[0], 40);
    EXPECT_EQ(p.Durations[65535], 60);
  }
  TImageAnimationParams negative;
  negative.Count = -5;
  ParseImageAnimationDurations(u"40", negative);
  EXPECT_EQ(negative.Count, 0);
  EXPECT_TRUE(negative.Durations.empty());
}

TEST(ImageAnimation, SameParamsAndFrames) {
  TImageAnimationParams a, b;
  EXPECT_TRUE(SameImageAnimationParams(a, b));
  EXPECT_TRUE(SameImageAnimationParams(a, DefaultImageAnimationParams));
  a.Durations = {1, 2};
  b.Durations = {1, 3};
  EXPECT_FALSE(SameImageAnimationParams(a, b));
  b.Durations = {1, 2};
  a.Offset = b.Offset = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(SameImageAnimationParams(a, b));
  foundation::TFloatRect r;
  GetAnimationFrameRect(r, 300, 200, 3, 2, 1, 1);
  EXPECT_EQ(r.Left, 100.0f);
  EXPECT_EQ(r.Top, 100.0f);
  EXPECT_EQ(r.Right, 200.0f);
  EXPECT_EQ(r.Bottom, 200.0f);
  GetAnimationFrameRect(r, 100, 10, 3, 1, 1, 0);
  EXPECT_NEAR(r.Left, 33.333, 0.001);
  EXPECT_NEAR(r.Right, 66.667, 0.001);
}

}  // namespace
