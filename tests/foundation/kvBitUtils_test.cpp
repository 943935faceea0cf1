#include "foundation/kvBitUtils.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "foundation/kpExceptions.h"

using namespace foundation;

namespace {

TEST(BitCount, TableAndParallelMethodAgree) {
  std::mt19937 gen(1);
  for (int i = 0; i < 2000; ++i) {
    uint32_t v = gen();
    EXPECT_EQ(PopCount(v), static_cast<uint32_t>(__builtin_popcount(v)));
    EXPECT_EQ(PopCount32(v), static_cast<uint32_t>(__builtin_popcount(v)));
  }
  EXPECT_EQ(PopCount(0), 0u);
  EXPECT_EQ(PopCount(0xFFFFFFFFu), 32u);
  EXPECT_EQ(kBitCountTable[0xB5], 5);
}

TEST(NextPowerOfTwo, Values) {
  struct Case {
    int32_t in, out;
  } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {1000, 1024}, {1024, 1024}, {1025, 2048}, {0x40000000, 0x40000000}};
  for (const Case& c : cases) EXPECT_EQ(NextPowerOfTwo(c.in), c.out) << c.in;
}

TEST(TBitSet, FindOnTwentyBits) {
  TRef<TBitSet> s = MakeRef<TBitSet>(20);
  s->SetBit(17, true);
  EXPECT_EQ(s->Find(true, 0, 20), 17);
  EXPECT_EQ(s->Find(false, 0, 20), 0);
  EXPECT_EQ(s->FindLast(true), 17);
  EXPECT_EQ(s->FindLast(false), 19);
  s->SetBit(20, true);  // outside: ignored
  s->SetBit(-1, true);
  EXPECT_EQ(s->Find(true, 18, 100), 20);  // none: the end of the cut range
  EXPECT_FALSE(s->GetBit(20));
  EXPECT_FALSE(s->GetBit(-1));
  EXPECT_EQ(s->Bytes().size(), 3u);
  EXPECT_EQ(s->Bytes()[2], 0x02);  // bit 17: byte 2, value 1 shl 1

  s->SetCount(10);
  s->SetCount(20);
  EXPECT_FALSE(s->GetBit(17));
  EXPECT_EQ(s->FindLast(true), 20);  // none: the count
}

TEST(TBitSet, FindRangesAndNegativeStart) {
  TRef<TBitSet> s = MakeRef<TBitSet>(100);
  for (int i = 0; i < 100; ++i) s->SetBit(i, true);
  s->SetBit(3, false);
  s->SetBit(90, false);
  EXPECT_EQ(s->Find(false, 0, 100), 3);
  EXPECT_EQ(s->Find(false, 4, 100), 90);  // skips whole 0xFF bytes
  EXPECT_EQ(s->Find(false, 4, 80), 84);   // none within 4..83
  EXPECT_EQ(s->Find(false, -2, 5), 3);    // start -2, count 5: range 0..2, none: its end
  EXPECT_EQ(s->Find(false, -2, 6), 3);
  EXPECT_EQ(s->Find(true, 50, 0), 50);
  EXPECT_EQ(s->Find(true, 200, 5), 200);
  EXPECT_EQ(s->Find(false, 91, 2147483647), 100);
}

// Every Find answer equals a plain bit-by-bit search.
TEST(TBitSet, FindMatchesALinearSearch) {
  std::mt19937 gen(4);
  for (int round = 0; round < 40; ++round) {
    int n = static_cast<int>(gen() % 70) + 1;
    TRef<TBitSet> s = MakeRef<TBitSet>(n);
    int density = static_cast<int>(gen() % 4);
    std::vector<bool> bits(n);
    for (int i = 0; i < n; ++i) {
      bool b = density == 0 ? false : density == 3 ? true : (gen() % 8) < static_cast<unsigned>(density * 3);
      if (gen() % 17 == 0) b = !b;
      bits[i] = b;
      s->SetBit(i, b);
    }
    for (int start = -3; start <= n + 2; ++start) {
      for (int count : {0, 1, 7, 8, 9, 16, 33, 1000}) {
        for (bool value : {false, true}) {
          int64_t st = start, c = count;
          if (st < 0) {
            c += st;
            st = 0;
          }
          int64_t end = st + std::min<int64_t>(c, n - st);
          int64_t expected = st >= end ? st : end;
          for (int64_t i = st; i < end; ++i)
            if (bits[i] == value) {
              expected = i;
              break;
            }
          ASSERT_EQ(s->Find(value, start, count), expected) << n << " " << start << " " << count << " " << value;
        }
      }
    }
  }
}

TEST(TBitSet, ShrinkClearsDroppedBitsAndKeepsTheArray) {
  TRef<TBitSet> s = MakeRef<TBitSet>(40);
  for (int i = 0; i < 40; ++i) s->SetBit(i, true);
  s->SetCount(5);
  EXPECT_EQ(s->Count(), 5);
  ASSERT_EQ(s->Bytes().size(), 5u);  // the array keeps its length
  EXPECT_EQ(s->Bytes()[0], 0x1F);
  for (size_t b = 1; b < 5; ++b) EXPECT_EQ(s->Bytes()[b], 0) << b;
  s->SetCount(9);
  EXPECT_EQ(s->Bytes().size(), 2u);
  EXPECT_EQ(s->FindLast(true), 4);
  s->SetCount(0);
  EXPECT_EQ(s->Count(), 0);
  EXPECT_TRUE(s->Bytes().empty());
  s->SetCount(-4);
  EXPECT_EQ(s->Count(), 0);
  TRef<TBitSet> empty = MakeRef<TBitSet>(0);
  EXPECT_EQ(empty->Find(true, 0, 10), 0);
}

}  // namespace
