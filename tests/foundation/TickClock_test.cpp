// The 64-bit tick clock over a 32-bit timer, in virtual time.
#include <gtest/gtest.h>

#include "foundation/LocalizationHook.h"
#include "foundation/TickClock.h"
#include "platform/os/manual/Clock_manual.h"

using namespace foundation;

TEST(TickClock, StartsAtZeroAndCountsTheTimerWrapOnce) {
  platform::os::ScopedManualClock clock(4294967290ull);
  InitTickClock();
  EXPECT_EQ(GetTickMs(), 0);
  clock->advance(11);  // the 32-bit timer goes from 4294967290 to 5
  EXPECT_EQ(platform::os::timeGetTime(), 5u);
  EXPECT_EQ(GetTickMs(), 11);
  EXPECT_EQ(GetTickMs(), 11) << "a second read does not count the wrap again";
  clock->advance(2147483648ull);  // one more turn of the timer, read halfway
  EXPECT_EQ(GetTickMs(), 11 + 2147483648LL);
  clock->advance(2147483648ull);
  EXPECT_EQ(GetTickMs(), 11 + 4294967296LL);
}

TEST(TickClock, ABackwardStepIsNotAWrap) {
  platform::os::ScopedManualClock clock(100000);
  InitTickClock();
  clock->advance(500);
  EXPECT_EQ(GetTickMs(), 500);
  clock->set(100200);  // the timer went back 300 ms
  EXPECT_EQ(GetTickMs(), 200);
}

TEST(TickClock, LocalTimeComesFromTheInjectedSource) {
  TSystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 9;
  platform::os::setLocalTimeSource([t] { return t; });
  EXPECT_EQ(GetLocalSystemTime().year, 2026);
  EXPECT_EQ(GetLocalSystemTime().day, 9);
  platform::os::setLocalTimeSource(nullptr);
  EXPECT_GE(GetLocalSystemTime().year, 2024);
}

namespace {
struct German {
  std::u16string Look(const std::u16string& section, const std::u16string& key, const std::u16string& def) {
    return section == u"Objects" && key == u"filteropt_blur" ? u"Weichzeichnen" : def;
  }
};
}  // namespace

TEST(LocalizationHook, DefaultUnlessAHookAnswers) {
  EXPECT_EQ(Translate(u"Objects", u"filteropt_blur", u"Blur"), u"Blur");
  German g;
  SetTranslateHook(MethodOf<&German::Look>(&g));
  EXPECT_EQ(Translate(u"Objects", u"filteropt_blur", u"Blur"), u"Weichzeichnen");
  EXPECT_EQ(Translate(u"Objects", u"other", u"Other"), u"Other");
  SetTranslateHook({});
  EXPECT_EQ(Translate(u"Objects", u"filteropt_blur", u"Blur"), u"Blur");
}
