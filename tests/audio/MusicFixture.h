// The fixture show "three slides" (its project text) and helpers the music
// tests share: parsing INI text and reading a section's "Music" block.
#pragma once

#include <string_view>

#include <gtest/gtest.h>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "audio/QelMusicSource.h"
#include "tests/support/FixtureShow.h"
#include <string>
#include <vector>

namespace musictest {

// The fixture show's project, as the authoring tool writes it (the same text
// the timeline tests pack into a container).
inline std::string FixtureProject() { return testsupport::FixtureProjectText(); }

// The INI tree of a text.
inline foundation::TRef<foundation::TIniFile> ParseIni(std::string_view text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  if (!text.empty()) s->WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
  s->SetPosition(0);
  EXPECT_TRUE(foundation::LoadIniFromStream(ini.Get(), s.Get()));
  return ini;
}

// The first child object named "Music" of a section, or nullptr.
inline const foundation::TIniList* MusicBlock(foundation::TIniFile* ini, std::u16string_view section) {
  const foundation::TIniList* s = foundation::TIniFile::FindSection(ini, section);
  return s ? foundation::TIniList::FindObject(s, u"Music") : nullptr;
}

// A show given by its project and a slide time table (the fixture show's is
// 0-4000, 4000-8000, 8000-12000).
class TTableShow : public audio::TMusicShow {
 public:
  TTableShow(foundation::TIniFile* ini, std::vector<audio::TMusicSlideTimes> times, bool repeat)
      : Ini(ini), Times(std::move(times)), Repeat(repeat) {
    Ini->_AddRef();
  }
  void Dispose() override {
    Ini->Free();
    audio::TMusicShow::Dispose();
  }
  foundation::TIniFile* GetIni() override { return Ini; }
  int32_t GetSlideCount() override { return static_cast<int32_t>(Times.size()); }
  audio::TMusicSlideTimes GetSlideTimes(int32_t k) override {
    if (Times.empty() || k < 0) return {};
    const auto n = static_cast<int32_t>(Times.size());
    audio::TMusicSlideTimes t = Times[static_cast<size_t>(k % n)];
    t.Start += (k / n) * ShowLength();
    t.End += (k / n) * ShowLength();
    return t;
  }
  double ShowLength() override { return Times.empty() ? 0.0 : Times.back().End; }
  bool IsRepeat() override { return Repeat; }
  foundation::TIniList* GetSlideSection(int32_t n) override {
    std::string name = "Slide" + std::to_string(n);
    return foundation::TIniFile::FindSection(Ini, std::u16string(name.begin(), name.end()));
  }

  foundation::TIniFile* Ini;
  std::vector<audio::TMusicSlideTimes> Times;
  bool Repeat;
};

inline foundation::TRef<TTableShow> FixtureShow() {
  auto ini = ParseIni(FixtureProject());
  return foundation::TRef<TTableShow>::Adopt(new TTableShow(ini.Get(), {{0, 4000}, {4000, 8000}, {8000, 12000}}, false));
}

}  // namespace musictest
