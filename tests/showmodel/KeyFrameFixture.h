// Shared by the show-model tests: project text parsed into an INI tree, the
// object block of a slide found by name, and the units started once.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObjectMod.h"

namespace kftest {

inline void StartUnits() {
  showmodel::InitKeyFrames();
  showmodel::InitObjectFilters();
  showmodel::InitObjectMods();
}

// The INI tree of a text (lines separated by LF).
inline foundation::TRef<foundation::TIniFile> ParseIni(std::string_view text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  if (!text.empty()) s->WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
  s->SetPosition(0);
  EXPECT_TRUE(foundation::LoadIniFromStream(ini.Get(), s.Get()));
  return ini;
}

// The first object block of section "S".
inline foundation::TIniObject* FirstObject(foundation::TIniFile* ini) {
  return foundation::TIniList::FirstObject(foundation::TIniFile::FindSection(ini, u"S"));
}

// An object block parsed from "[S]\n" + text, and its property tree loaded
// with the times.
struct Loaded {
  foundation::TRef<foundation::TIniFile> Ini;
  foundation::TRef<showmodel::TQelObjectProps> Props;
  Loaded(std::string_view text, showmodel::TObjectTimes times) {
    StartUnits();
    Ini = ParseIni("[S]\n" + std::string(text));
    Props = foundation::MakeRef<showmodel::TQelObjectProps>();
    foundation::TIniObject* block = FirstObject(Ini.Get());
    EXPECT_NE(block, nullptr);
    if (block) showmodel::LoadObjectProps(Props.Get(), block, times);
  }
  float At(double t, int32_t param) {
    showmodel::EvaluateObjectProps(Props.Get(), t, false);
    return Props->Values[param];
  }
};

}  // namespace kftest
