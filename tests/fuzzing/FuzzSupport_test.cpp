// The live-object check every fuzz target runs its inputs through: an input
// that leaves a reference-counted object behind fails (the report names its
// class), while a cache filled on first use and a clean input pass.
#include "fuzz/FuzzSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TPlantedLeak : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPlantedLeak)
};

int gRuns = 0;
std::vector<foundation::TRefObject*> gKept;

int Leaks(const uint8_t* data, size_t size) {
  ++gRuns;
  // The planted fault: one object per input nobody releases.
  if (size > 0 && data[0] == 'L') new TPlantedLeak();
  return 0;
}

int FillsACacheOnce(const uint8_t*, size_t) {
  ++gRuns;
  if (gKept.empty()) gKept.push_back(new TPlantedLeak());
  return 0;
}

int Clean(const uint8_t*, size_t) {
  ++gRuns;
  foundation::TRef<TPlantedLeak> passing = foundation::MakeRef<TPlantedLeak>();
  return 0;
}

TEST(FuzzLiveObjectCheck, ALeakedObjectFailsTheInputAndIsNamed) {
  const uint8_t leak[] = {'L'};
  EXPECT_DEATH(fuzzing::RunCountingObjects(Leaks, leak, 1),
               "1 reference-counted object\\(s\\) left alive by one input(.|\n)*now: TPlantedLeak");
}

TEST(FuzzLiveObjectCheck, CleanInputsAndCachesFilledOncePass) {
  const uint8_t plain[] = {'x'};
  gRuns = 0;
  fuzzing::RunCountingObjects(Leaks, plain, 1);
  EXPECT_EQ(gRuns, 1);  // nothing grew: no second run
  gRuns = 0;
  fuzzing::RunCountingObjects(Clean, plain, 1);
  EXPECT_EQ(gRuns, 1);
  gRuns = 0;
  fuzzing::RunCountingObjects(FillsACacheOnce, plain, 1);
  EXPECT_EQ(gRuns, 2);  // the count grew once, so the input ran again, and passed
  gRuns = 0;
  fuzzing::RunCountingObjects(FillsACacheOnce, plain, 1);
  EXPECT_EQ(gRuns, 1);
  for (foundation::TRefObject* o : gKept) o->Free();
  gKept.clear();
}

}  // namespace
