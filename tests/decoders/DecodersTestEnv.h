// Starts the bitmap library and the image loaders once per test program and
// ends them afterwards, so every registry object is freed before the leak
// check runs; small helpers to load fixture bytes through the registry.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/Startup.h"
#include "foundation/kpLog.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvImage.h"

namespace decoders_test {

class DecodersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    decoders::StartDecoders();
  }
  void TearDown() override {
    decoders::StopDecoders();
  }
};

inline const ::testing::Environment* const kDecodersEnv =
    ::testing::AddGlobalTestEnvironment(new DecodersEnvironment);

// A memory stream holding prefix bytes, then data, positioned after the prefix.
inline foundation::TMemoryStream* StreamOf(const std::vector<uint8_t>& data, size_t prefix = 0) {
  auto* s = new foundation::TMemoryStream();
  std::vector<uint8_t> all(prefix, 0x5A);
  all.insert(all.end(), data.begin(), data.end());
  if (!all.empty()) s->WriteBuf(all.data(), static_cast<int32_t>(all.size()));
  s->SetPosition(static_cast<int64_t>(prefix));
  return s;
}

// Loads through the registry, the stream not owned; the caller frees the store.
inline imaging::TBitmapStore* LoadStore(foundation::TStream* s, const std::u16string& name) {
  imaging::TLevelProvider none;
  return imaging::LoadBitmapStore(s, name, false, none);
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
  const std::vector<std::u16string>& Lines() const { return log_->Lines; }

 private:
  LogCapture* log_;
};

template <class T>
struct Released {
  explicit Released(T* p) : ptr(p) {}
  ~Released() { foundation::FreeObj(ptr); }
  Released(const Released&) = delete;
  Released& operator=(const Released&) = delete;
  T* operator->() const { return ptr; }
  T* get() const { return ptr; }
  T* ptr;
};

}  // namespace decoders_test
