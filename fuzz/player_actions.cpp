// Feeds arbitrary bytes to the player's action utilities. The first byte
// chooses the part: an action text (each byte one UTF-16 unit) run as a
// program text and opened as an address; the project's options as INI text
// for the input mapping, then every key code and a few mouse events; or caps
// and a destination rectangle for a nine-patch skin.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/Startup.h"
#include "imaging/kvPixelFormat.h"
#include "player/InputMapping.h"
#include "player/PlayerDialogUtils.h"
#include "player/kvNinePatchUtils.h"

using fuzzing::Check;

namespace {

int32_t I32(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void RunTexts(const uint8_t* data, size_t size) {
  const std::u16string text(data, data + size);
  int calls = 0;
  bool emptyFile = false;
  player::SetShellOpener([&](const std::u16string&, const std::u16string& file, const std::u16string&,
                             const std::u16string&, int32_t) {
    ++calls;
    emptyFile = emptyFile || file.empty();
    return 2;  // not found: every retry path runs
  });
  int boxes = 0;
  player::SetSystemMessageBox([&](player::TDialogOwner*, const std::u16string&, const std::u16string&, uint32_t) {
    ++boxes;
    return player::idOk;
  });
  bool refused = false;
  for (const std::u16string& c : player::SplitCommands(text)) refused = refused || !player::IsAllowedCommand(c);
  player::RunCommandLine(nullptr, text, u"Z:\\show\\");
  // A refused text runs nothing and says so once; an allowed one never asks.
  Check(refused ? (calls == 0 && boxes == 1) : boxes == 0);
  Check(!emptyFile);
  calls = 0;
  player::OpenAddress(nullptr, text);
  Check(calls == 1);
  player::SetShellOpener(nullptr);
  player::SetSystemMessageBox(nullptr);
}

void RunMapping(const uint8_t* data, size_t size) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  foundation::LoadIniFromBytes(ini.Get(), std::vector<uint8_t>(data, data + size));
  int64_t now = 0;
  auto m = foundation::MakeRef<player::TInputMappingClass>(ini.Get(), [&now] { return now; });
  for (int32_t key = -2; key < 260; ++key)
    for (uint32_t shift : {0u, 2u, 8u, 9u}) {
      player::TKeyMap* k = m->FindKey(shift, key, 1);
      Check(!k || k->Action.Code != 0);
    }
  Check(m->FindKey(0, INT32_MIN, 1) == nullptr || m->ScreenSaver);
  player::TPlayerAction a;
  const int32_t points[][2] = {{0, 0}, {3, 2}, {INT32_MIN, INT32_MAX}, {INT32_MAX, INT32_MAX}, {-7, 100}};
  for (const auto& p : points) {
    now += 10;
    m->MouseAction(a, 0, p[0], p[1], 1, 2);
  }
  m->WheelAction(a, 0, INT32_MIN, 0);
  m->WheelAction(a, 8, INT32_MAX, INT32_MAX);
}

void RunNinePatch(const uint8_t* data, size_t size) {
  if (size < 40) return;
  auto skin = foundation::TRef<imaging::TDirectBitmap>::Adopt(
      new imaging::TDirectBitmap(1 + data[0] % 12, 1 + data[1] % 12, imaging::pfA8R8G8B8));
  for (int32_t y = 0; y < skin->Height; ++y)
    for (int32_t x = 0; x < skin->Width; ++x) std::memset(skin->Row(y) + 4 * x, data[(2 + x + y) % size], 4);
  player::T9Patch patch;
  const foundation::TRect source{I32(data + 4) % 20, I32(data + 8) % 20, I32(data + 12), I32(data + 16)};
  player::InitNinePatch(patch, skin.Get(), source, I32(data + 20), I32(data + 24), I32(data + 28), I32(data + 32));
  auto target =
      foundation::TRef<imaging::TDirectBitmap>::Adopt(new imaging::TDirectBitmap(16, 9, imaging::pfA8R8G8B8));
  const size_t at = size >= 52 ? 36 : 0;
  const foundation::TRect dest{I32(data + at), I32(data + at + 4), I32(data + at + 8), I32(data + at + 12)};
  player::DrawNinePatch(target.Get(), dest, patch);
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static const bool started = [] {
    imaging::StartImaging();
    return true;
  }();
  (void)started;
  if (size < 1) return 0;
  switch (data[0] % 3) {
    case 0: RunTexts(data + 1, size - 1); break;
    case 1: RunMapping(data + 1, size - 1); break;
    default: RunNinePatch(data + 1, size - 1); break;
  }
  return 0;
}
