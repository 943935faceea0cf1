// Starts the bitmap library once per test program and ends it afterwards,
// so every registry object is freed before the leak check runs.
#pragma once

#include <gtest/gtest.h>

#include "imaging/Startup.h"

namespace imaging_test {

class ImagingEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { imaging::StartImaging(); }
  void TearDown() override { imaging::StopImaging(); }
};

inline const ::testing::Environment* const kImagingEnv =
    ::testing::AddGlobalTestEnvironment(new ImagingEnvironment);

}  // namespace imaging_test
