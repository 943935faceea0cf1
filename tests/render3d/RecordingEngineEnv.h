// The recording engine every test program of the screen, the draw manager and
// the tiled textures runs on: made once for the program, handed out by the
// engine factory, and freed at the end. Include it in one test file only.
#pragma once

#include <gtest/gtest.h>

#include "render3d/Dev3DScreen.h"
#include "render3d/Startup.h"
#include "tests/support/RecordingRenderer.h"

namespace {

render3d_test::TRecordingEngine* g_engine = nullptr;
render3d::T3DEngine* MakeEngine() {
  g_engine->_AddRef();
  return g_engine;
}

class RecordingEngineEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    render3d::StartRender3D();
    g_engine = new render3d_test::TRecordingEngine();
    render3d::SetEngineFactory(&MakeEngine);
  }
  void TearDown() override {
    render3d::Free3DEngine();
    g_engine->Free();
    render3d::StopRender3D();
  }
};
const auto* const kRecordingEngineEnv = ::testing::AddGlobalTestEnvironment(new RecordingEngineEnv);

}  // namespace
