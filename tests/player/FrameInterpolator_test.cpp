#include "player/FrameInterpolator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "foundation/SysObj.h"

using foundation::MakeRef;
using foundation::TRef;
using player::TFrameInterpolator;

namespace {

// The injected clock: frames at 60 per second read an audio clock that
// moves in 10 ms steps, so the raw reading of frame k is 10 * floor(5k / 3)
// ms and the raw frame-to-frame advance runs 10, 20, 20, 10, 20, 20, ...
double SteppedClock(int k) { return 10.0 * ((5 * k) / 3); }

struct Reading {
  double input;
  double output;
};

void ExpectTable(TFrameInterpolator* f, const std::vector<Reading>& table) {
  for (size_t i = 0; i < table.size(); ++i)
    EXPECT_NEAR(f->Smooth(table[i].input), table[i].output, 1e-9) << "reading " << i << " of the table";
}

}  // namespace

TEST(FrameInterpolator, PassesTheWarmUpAndTheFirstRingThroughThenSmoothsTheSteppedClock) {
  TRef<TFrameInterpolator> f = MakeRef<TFrameInterpolator>();
  // 16 readings of warm-up and 32 that fill the ring come back unchanged.
  for (int k = 0; k < 48; ++k) ASSERT_EQ(f->Smooth(SteppedClock(k)), SteppedClock(k)) << k;
  // Then: the ring holds the advances of frames 16..47 (eleven of 10 ms,
  // twenty-one of 20 ms: 530). Frame 48 reads 800 (+20; frame 16's 10 leaves
  // the ring: 540), so p = 780 + 540/32 = 796.875 and the output is
  // p + (800 - p)/6 = 38275/48. Later rows follow the same rule.
  ExpectTable(f.Get(), {{800, 38275.0 / 48},
                        {810, 117115.0 / 144},
                        {830, 179255.0 / 216},
                        {850, 274525.0 / 324}});
}

TEST(FrameInterpolator, SmoothedStepsStayNearTheFrameIntervalWhileRawStepsJump) {
  TRef<TFrameInterpolator> f = MakeRef<TFrameInterpolator>();
  double previous = f->Smooth(SteppedClock(0));
  for (int k = 1; k < 1000; ++k) {
    const double out = f->Smooth(SteppedClock(k));
    // The raw clock advances 10 or 20 ms per frame; once the prediction has
    // settled, every smoothed advance lies within 1 ms of 50/3 ms.
    if (k >= 150) {
      EXPECT_NEAR(out - previous, 50.0 / 3.0, 1.0) << k;
    }
    previous = out;
  }
}

TEST(FrameInterpolator, AnEvenClockComesOutUnchanged) {
  // With a raw clock advancing exactly 16 ms per reading the mean is 16 and
  // the prediction lands on the reading: the output equals the input.
  TRef<TFrameInterpolator> f = MakeRef<TFrameInterpolator>();
  for (int k = 0; k < 300; ++k) ASSERT_EQ(f->Smooth(1000.0 + 16.0 * k), 1000.0 + 16.0 * k) << k;
}

TEST(FrameInterpolator, AJumpIsCaughtUpGradually) {
  TRef<TFrameInterpolator> f = MakeRef<TFrameInterpolator>();
  for (int k = 0; k < 60; ++k) ASSERT_EQ(f->Smooth(10.0 * k), 10.0 * k);
  // 590 -> 1200: the ring holds 31 advances of 10 and the jump of 610
  // (920 / 32 = 28.75), so p = 618.75 and the output 618.75 + 581.25 / 6.
  // The jump stays in the mean for the next 31 readings.
  ExpectTable(f.Get(), {{1200, 715.625},
                        {1210, 39455.0 / 48},
                        {1220, 262735.0 / 288},
                        {1230, 1709315.0 / 1728},
                        {1240, 10937695.0 / 10368}});
}

TEST(FrameInterpolator, SuspensionPassesReadingsThroughAndKeepsTheRing) {
  TRef<TFrameInterpolator> f = MakeRef<TFrameInterpolator>();
  for (int k = 0; k < 60; ++k) f->Smooth(SteppedClock(k));
  // Stopped: the clock stands still and the readings come back as they are.
  f->SetSuspended(true);
  EXPECT_TRUE(f->Suspended());
  ExpectTable(f.Get(), {{980, 980}, {980, 980}, {980, 980}});
  // Resumed: the reading taken while starting is passed through and becomes
  // the base; the next one is smoothed with the advances recorded before the
  // stop (frames 28..59: 530 in all). 1010: frame 28's 10 leaves, 10 comes
  // in, p = 1000 + 530/32 = 1016.5625, output p + (1010 - p)/6.
  f->SetSuspended(false);
  EXPECT_TRUE(f->Suspended());  // until the next reading
  ExpectTable(f.Get(), {{1000, 1000}, {1010, 1015.46875}, {1030, 198085.0 / 192}, {1050, 1207925.0 / 1152}});
  EXPECT_FALSE(f->Suspended());
}

TEST(FrameInterpolator, ReadingsWhileSuspendedDoNotUseUpTheWarmUp) {
  TRef<TFrameInterpolator> f = MakeRef<TFrameInterpolator>();
  f->SetSuspended(true);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(f->Smooth(5000.0 + k), 5000.0 + k);
  // Resuming lets the next reading through; then the whole warm-up (16)
  // and ring (32) follow.
  f->SetSuspended(false);
  for (int k = 0; k < 49; ++k) ASSERT_EQ(f->Smooth(SteppedClock(k)), SteppedClock(k)) << k;
  EXPECT_NE(f->Smooth(SteppedClock(49)), SteppedClock(49));
}
