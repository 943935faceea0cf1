// What the control tests need once per program: the bitmap library, and the
// style stores and the box rasterizer released at the end.
#pragma once

#include <gtest/gtest.h>

#include "controls/kvControlStyles.h"
#include "controls/kvControlStylesUtils.h"
#include "controls/kvDrawFrames.h"
#include "imaging/Startup.h"

namespace controls_test {

class ControlsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    imaging::StartImaging();
  }
  void TearDown() override {
    controls::DoneDrawFrames();
    controls::DoneControlStyles();
    controls::DoneControlStylesUtils();
    imaging::StopImaging();
  }
};

inline const auto* const kControlsEnv = ::testing::AddGlobalTestEnvironment(new ControlsEnvironment);

}  // namespace controls_test
