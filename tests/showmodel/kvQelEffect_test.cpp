// Transition records and the slide-time helpers.
#include "showmodel/kvQelEffect.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using showmodel::TQelEffect;
using showmodel::TSlideTimes;

TEST(QelEffect, SmoothLineBelowATenthIsTheHardEdge) {
  struct Row {
    double in, stored;
  } rows[] = {{0.05, 0.001}, {0.1, 0.1}, {0.35, 0.35}, {0, 0.001}, {-3, 0.001}, {std::nan(""), 0.001}, {2, 2}};
  for (const Row& r : rows) {
    auto e = foundation::MakeRef<TQelEffect>(2);
    EXPECT_DOUBLE_EQ(e->SmoothLine, 0.001);
    e->SetSmoothLine(r.in);
    EXPECT_DOUBLE_EQ(e->SmoothLine, r.stored) << r.in;
  }
}

TEST(QelEffect, CloneCopiesTheArraysAndSharesTheDescription) {
  auto node = foundation::MakeRef<foundation::TRefObject>();
  auto e = foundation::MakeRef<TQelEffect>(9);
  e->Options = {true, false, true};
  e->IntParams = {1, 2};
  e->FloatParams = {0.5f};
  e->VariantCount = 3;
  e->SetDescription(node.Get());
  auto copy = foundation::TRef<TQelEffect>::Adopt(e->Clone());
  copy->Options[0] = false;
  copy->IntParams[1] = 7;
  EXPECT_TRUE(e->Options[0]);
  EXPECT_EQ(e->IntParams[1], 2);
  EXPECT_EQ(copy->Description, node.Get());
  EXPECT_EQ(copy->Kind, 9);
  EXPECT_EQ(copy->VariantCount, 3);
  // Each record holds its own reference: the node outlives both.
  const int live = foundation::LiveObjectCount();
  e.Reset();
  copy.Reset();
  EXPECT_EQ(foundation::LiveObjectCount(), live - 2);
}

TEST(QelEffect, FilterReleasesItsEffect) {
  const int live = foundation::LiveObjectCount();
  {
    auto f = foundation::MakeRef<showmodel::TQelFilter>();
    f->SetEffect(new TQelEffect(1));
    f->SetEffect(new TQelEffect(2));  // the first is released
    EXPECT_EQ(f->Effect->Kind, 2);
    EXPECT_EQ(foundation::LiveObjectCount(), live + 2);
  }
  EXPECT_EQ(foundation::LiveObjectCount(), live);
}

TEST(SlideTimes, Helpers) {
  TSlideTimes t{5000, 9000, 1000, 1500};
  EXPECT_EQ(showmodel::GetSlideOutEnd(t), 10500);
  EXPECT_EQ(showmodel::GetSlideInEnd(t), 6000);
  EXPECT_EQ(showmodel::GetLoopDuration(t), 3000);
  showmodel::IncTime(t.Start, 12000);
  EXPECT_EQ(t.Start, 17000);
}

TEST(SlideTimes, CurrentSlideIsTheEarlierOneOnABoundary) {
  const TSlideTimes rows[] = {{0, 4000, 0, 0}, {4000, 4000, 0, 0}, {4000, 9000, 0, 0}};
  struct Row {
    double t;
    int32_t slide;
  } cases[] = {{-1, -1}, {0, 0}, {3999.5, 0}, {4000, 0}, {4000.5, 2}, {9000, 2}, {9001, 2}, {std::nan(""), -1}};
  for (const Row& c : cases) EXPECT_EQ(showmodel::CurrentSlideIn(rows, 3, 0, c.t), c.slide) << c.t;
  // Rows of later slides carry their first index.
  EXPECT_EQ(showmodel::CurrentSlideIn(rows, 3, 10, 4000), 10);
  EXPECT_EQ(showmodel::CurrentSlideIn(rows, 0, 10, 4000), 9);
}

}  // namespace
