// A project INI from text (a byte-order mark allowed) for the player's unit tests.
#pragma once

#include <string>

#include "foundation/SysObj.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"

namespace playertest {

inline foundation::TRef<foundation::TIniFile> IniOf(const std::string& text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  if (!text.empty()) s->WriteBuf(text.data(), int32_t(text.size()));
  s->SetPosition(0);
  if (!foundation::LoadIniFromStream(ini.Get(), s.Get())) return nullptr;
  return ini;
}

}  // namespace playertest
