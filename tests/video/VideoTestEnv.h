// Starts the video library with the FFmpeg binding (from the system's
// libraries) once per test program; helpers to open the committed clips as
// show streams and to read a frame's index from its luma.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/kpLog.h"
#include "foundation/kvStream.h"
#include "platform/os/resources.h"
#include "video/FFMpegDll2.h"
#include "video/Startup.h"
#include "video/kpFFLoad.h"
#include "video/kvVideoSource.h"

// The clips of tests/fixtures/media, compiled in (tests/video/CMakeLists.txt).
void qel_register_resources_qel_video_test_media();

namespace video_test {

class VideoEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qel_register_resources_qel_video_test_media();
    video::StartVideo();
    video::FFMpegLibraryFolder.clear();
    video::LoadFFMpeg();
  }
  void TearDown() override {
    video::HardwareDeviceRelease();
    video::StopVideo();
  }
};

inline const ::testing::Environment* const kVideoEnv = ::testing::AddGlobalTestEnvironment(new VideoEnvironment);

inline std::vector<uint8_t> MediaBytes(const std::string& name) {
  auto bytes = platform::os::findResource(10, std::u16string(name.begin(), name.end()));
  EXPECT_TRUE(bytes.has_value()) << "no clip " << name;
  if (!bytes) return {};
  return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

inline foundation::TMemoryStream* StreamOfBytes(const std::vector<uint8_t>& bytes) {
  auto* s = new foundation::TMemoryStream();
  if (!bytes.empty()) s->WriteBuf(bytes.data(), static_cast<int32_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

inline foundation::TMemoryStream* MediaStream(const std::string& name) { return StreamOfBytes(MediaBytes(name)); }

// The frame index a plane of luma values names: flat 16 + 4k.
inline int IndexOfLuma(double meanLuma) { return static_cast<int>(std::lround((meanLuma - 16) / 4)); }

inline double MeanY(video::TMemoryYUVImage* image) {
  double sum = 0;
  for (int y = 0; y < image->Height; ++y)
    for (int x = 0; x < image->Width; ++x) sum += image->Row(video::kPlaneY, y)[x];
  return sum / (static_cast<double>(image->Width) * image->Height);
}

// Collects the lines written to the global log while it lives.
class LogCapture : public foundation::TLog {
 public:
  void Add(const std::u16string& text) override { Lines.push_back(text); }
  std::vector<std::u16string> Lines;
};
class ScopedLogCapture {
 public:
  ScopedLogCapture() : log_(new LogCapture()) { foundation::SetLog(log_); }
  ~ScopedLogCapture() { foundation::SetLog(nullptr); }
  bool Has(const std::u16string& line) const {
    for (const auto& l : log_->Lines)
      if (l == line) return true;
    return false;
  }
  const std::vector<std::u16string>& Lines() const { return log_->Lines; }

 private:
  LogCapture* log_;
};

}  // namespace video_test
