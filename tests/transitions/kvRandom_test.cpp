#include "transitions/kvRandom.h"

#include <gtest/gtest.h>

#include "foundation/SysObj.h"

using namespace transitions;
using foundation::TRef;

TEST(GlobalRandom, LcgIsBitExact) {
  SetGlobalSeed(0);
  EXPECT_EQ(NextGlobalRandom(), 1013904223u);
  // (1664525 x 1013904223 + 1013904223) mod 2^32, worked out by hand.
  EXPECT_EQ(NextGlobalRandom(), 1196435762u);
  EXPECT_EQ(NextGlobalRandom(), 3519870697u);
  SetGlobalSeed(0);
  EXPECT_FLOAT_EQ(NextGlobalFloat(), float(1013904223u % 8388608u) / 8388608.0f);
  SetGlobalSeed(0);
  EXPECT_NEAR(NextGlobalFloat(), 0.8668021f, 1e-7);
  SetGlobalSeed(-1);
  EXPECT_EQ(GlobalSeed, 0xFFFFFFFFu);
}

TEST(GlobalRandom, EqualSeedsGiveEqualSequences) {
  std::vector<uint32_t> a, b;
  SetGlobalSeed(12345);
  for (int i = 0; i < 50; ++i) a.push_back(NextGlobalRandom());
  SetGlobalSeed(12345);
  for (int i = 0; i < 50; ++i) b.push_back(NextGlobalRandom());
  EXPECT_EQ(a, b);
  for (int i = 0; i < 1000; ++i) {
    float f = NextGlobalFloat();
    ASSERT_GE(f, 0.0f);
    ASSERT_LT(f, 1.0f);
  }
}

TEST(TKhnutLewisRandom, MatchesTheGlobalStream) {
  InitRandom();
  ASSERT_EQ(RandomGeneratorFactory, &CreateRandomGenerator);
  auto g = TRef<TRandomGenerator>::Adopt(RandomGeneratorFactory(false));
  g->SetSeed(777);
  SetGlobalSeed(777);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(g->NextRaw(), NextGlobalRandom());
  g->SetSeed(777);
  SetGlobalSeed(777);
  EXPECT_EQ(g->NextFloat(), NextGlobalFloat());
}

TEST(TKhnutLewisRandom, RandomIntRangeAndNonPositive) {
  auto g = TRef<TKhnutLewisRandom>::Adopt(static_cast<TKhnutLewisRandom*>(CreateRandomGenerator(false)));
  EXPECT_EQ(g->Seed, 0u);
  EXPECT_EQ(g->RandomInt(0), 0u);
  EXPECT_EQ(g->RandomInt(-5), 0u);
  EXPECT_EQ(g->Seed, 0u) << "a non-positive range does not step the generator";
  EXPECT_EQ(g->RandomInt(1000), 1013904223u % 1000u);
}

TEST(TRandomGenerator, BaseNextRawFromNextFloat) {
  // A generator that only supplies floats: NextRaw scales by 2^32.
  class Halves : public TRandomGenerator {
   public:
    float NextFloat() override { return 0.25f; }
    void SetSeed(int32_t) override {}
  };
  auto g = TRef<Halves>::Adopt(new Halves);
  EXPECT_EQ(g->NextRaw(), 1073741824u);
  EXPECT_EQ(g->RandomInt(3), 1073741824u % 3u);
}

TEST(TRandomGenerator, RandomizeSeedsSomething) {
  auto g = TRef<TKhnutLewisRandom>::Adopt(static_cast<TKhnutLewisRandom*>(CreateRandomGenerator(true)));
  uint32_t first = g->Seed;
  g->Randomize();
  // Two draws from the process source collide only by chance of ~2^-31.
  EXPECT_NE(first, g->Seed);
}
