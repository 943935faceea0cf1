// The rounding helpers over halves, negatives, the edges of the range and
// the values no integer stands for.
#include "foundation/Rounding.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using foundation::RoundEvenFiniteOrZero;
using foundation::RoundEvenSaturated;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
  double v;
  int32_t saturated;  // RoundEvenSaturated(v)
  int32_t finite;     // RoundEvenFiniteOrZero(v)
  int32_t billion;    // RoundEvenSaturated(v, -1e9, 1e9)
};

const Case kCases[] = {
    {0.0, 0, 0, 0},
    {-0.0, 0, 0, 0},
    {0.49999999999999994, 0, 0, 0},
    {0.5, 0, 0, 0},
    {1.5, 2, 2, 2},
    {2.5, 2, 2, 2},
    {3.5, 4, 4, 4},
    {2.5000000000000004, 3, 3, 3},
    {-0.5, 0, 0, 0},
    {-1.5, -2, -2, -2},
    {-2.5, -2, -2, -2},
    {-2.6, -3, -3, -3},
    {7.4, 7, 7, 7},
    {999999999.5, 1000000000, 1000000000, 1000000000},
    {1000000000.6, 1000000001, 1000000001, 1000000000},
    {-1000000000.6, -1000000001, -1000000001, -1000000000},
    {2147483646.5, 2147483646, 2147483646, 1000000000},
    {2147483647.0, 2147483647, 2147483647, 1000000000},
    {2147483647.5, 2147483647, 2147483647, 1000000000},
    {-2147483648.0, -2147483647 - 1, -2147483647 - 1, -1000000000},
    {-2147483648.5, -2147483647 - 1, -2147483647 - 1, -1000000000},
    {-2147483649.0, -2147483647 - 1, -2147483647 - 1, -1000000000},
    {1e300, 2147483647, 2147483647, 1000000000},
    {-1e300, -2147483647 - 1, -2147483647 - 1, -1000000000},
    {kInf, 2147483647, 0, 1000000000},
    {-kInf, -2147483647 - 1, 0, -1000000000},
    {kNaN, 0, 0, 0},
    {-kNaN, 0, 0, 0},
};

TEST(Rounding, HalvesGoToEvenAndTheRestSaturatesOrGivesZero) {
  for (const Case& c : kCases) {
    EXPECT_EQ(RoundEvenSaturated(c.v), c.saturated) << c.v;
    EXPECT_EQ(RoundEvenFiniteOrZero(c.v), c.finite) << c.v;
    EXPECT_EQ(RoundEvenSaturated(c.v, -1000000000, 1000000000), c.billion) << c.v;
  }
}

// The narrower range of the finite helper: infinities still give 0, finite
// values beyond it its limits.
TEST(Rounding, FiniteOrZeroWithinARange) {
  EXPECT_EQ(RoundEvenFiniteOrZero(1e12, -1000000000, 1000000000), 1000000000);
  EXPECT_EQ(RoundEvenFiniteOrZero(-1e12, -1000000000, 1000000000), -1000000000);
  EXPECT_EQ(RoundEvenFiniteOrZero(kInf, -1000000000, 1000000000), 0);
  EXPECT_EQ(RoundEvenFiniteOrZero(-0.5, 0, 255), 0);
  EXPECT_EQ(RoundEvenFiniteOrZero(255.5, 0, 255), 255);
  EXPECT_EQ(RoundEvenFiniteOrZero(254.5, 0, 255), 254);
}

}  // namespace
