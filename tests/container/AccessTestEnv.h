// Start-up for the file-access tests (file API, streams, bitmaps, accessor)
// and fake image loaders registered by extension, so images decode without
// the real decoders:
//   ".fake"  : text "FAKE <w> <h> <grey>" -> a w x h A8R8G8B8 picture; other bytes decline
//   ".boom"  : raises while decoding
//   ".kvgfx" : text "KVGFX <w> <h> <byte>" -> a w x h R8G8B8 picture filled with byte
// Every accepted decode is counted.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>

#include "container/Startup.h"
#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "foundation/kpExceptions.h"
#include "imaging/Startup.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvImage.h"

namespace accesstest {

inline std::atomic<int> gFakeDecodes{0};

inline std::string ReadStreamText(foundation::TStream* s) {
  std::string out;
  char buf[4096];
  for (;;) {
    const int32_t n = s->ReadBuf(buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

inline imaging::TBitmapStore* MakeStore(const std::string& text, const char* magic, imaging::TPixelFormat* format,
                                        const std::u16string& name, imaging::TLevelProvider& provider) {
  std::istringstream in(text);
  std::string word;
  int w = 0, h = 0, v = 0;
  if (!(in >> word >> w >> h >> v) || word != magic || w <= 0 || h <= 0 || w > 4096 || h > 4096) return nullptr;
  imaging::TSysBitmap* bitmap = imaging::CreateSysBitmap(w, h, format);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bitmap->Row(y);
    const int bpp = bitmap->BytesPerPixel();
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bpp; ++c) row[x * bpp + c] = static_cast<uint8_t>(c == 3 ? 255 : v);
  }
  ++gFakeDecodes;
  return new imaging::TWrapperBitmapStore(name, bitmap, true, provider);
}

inline imaging::TBitmapStore* FakeLoader(foundation::TStream* s, const std::u16string& name, bool owns,
                                         imaging::TLevelProvider& provider) {
  imaging::TBitmapStore* store = MakeStore(ReadStreamText(s), "FAKE", imaging::pfA8R8G8B8, name, provider);
  if (store && owns) s->Free();
  return store;
}

inline imaging::TBitmapStore* BoomLoader(foundation::TStream*, const std::u16string&, bool,
                                         imaging::TLevelProvider&) {
  throw foundation::TCommonException(std::string_view("damaged picture"));
}

inline imaging::TBitmapStore* KvgfxLoader(foundation::TStream* s, const std::u16string& name, bool owns,
                                          imaging::TLevelProvider& provider) {
  imaging::TBitmapStore* store = MakeStore(ReadStreamText(s), "KVGFX", imaging::pfR8G8B8, name, provider);
  if (store && owns) s->Free();
  return store;
}

class AccessEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    imaging::StartImaging();
    imaging::RegisterImageLoader(FakeLoader, {u".fake"});
    imaging::RegisterImageLoader(BoomLoader, {u".boom"});
    imaging::RegisterImageLoader(KvgfxLoader, {u".kvgfx"});
    container::StartContainer();
  }
  void TearDown() override {
    container::StopContainer();
    imaging::StopImaging();
  }
};

inline const ::testing::Environment* const kAccessEnv = ::testing::AddGlobalTestEnvironment(new AccessEnvironment);

// Records the lines of every placeholder made while it lives and answers the default picture.
struct PlaceholderRecorder {
  static inline std::u16string Line1, Line2;
  static inline int Count = 0;
  container::TPlaceholderProducer previous;
  PlaceholderRecorder() : previous(container::PlaceholderProducerHook) {
    Line1.clear();
    Line2.clear();
    Count = 0;
    container::PlaceholderProducerHook = [](const std::u16string& a, const std::u16string& b) -> imaging::TImage* {
      Line1 = a;
      Line2 = b;
      ++Count;
      return container::DefaultPlaceholderProducer(a, b);
    };
  }
  ~PlaceholderRecorder() { container::PlaceholderProducerHook = previous; }
};

// The grey of the first pixel of an image's full-size bitmap (-1 when none).
inline int FirstGrey(imaging::TImage* image) {
  auto* bitmap = dynamic_cast<imaging::TSysBitmap*>(image ? image->GetBitmap() : nullptr);
  if (!bitmap) return -1;
  return bitmap->Row(0)[0];
}

}  // namespace accesstest
