// A project INI from text for the player's unit tests.
#pragma once

#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"

namespace playertest {

inline foundation::TRef<foundation::TIniFile> IniOf(const std::string& text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  if (!foundation::LoadIniFromBytes(ini.Get(), bytes)) return nullptr;
  return ini;
}

}  // namespace playertest
