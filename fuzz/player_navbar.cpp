// Feeds arbitrary bytes to the button bar as its description (INI text):
// every texture name loads a small picture, the bar gets five button ids
// and a few mouse events. A description may be refused with an error, but
// the bar it leaves never outgrows its limits.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/kpExceptions.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/Startup.h"
#include "imaging/kvPixelFormat.h"
#include "player/NavBar.h"

using fuzzing::Check;

QEL_FUZZ_TARGET(data, size) {
  static const bool started = [] {
    imaging::StartImaging();
    return true;
  }();
  (void)started;
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  if (size > 0) s->WriteBuf(data, int32_t(size));
  s->SetPosition(0);
  if (!foundation::LoadIniFromStream(ini.Get(), s.Get())) return 0;
  auto bar = foundation::TRef<player::TNavBar>::Adopt(new player::TNavBar());
  int images = 0;
  bar->LoadImage = [](player::TCustomNavBar*, const std::u16string& name) -> foundation::TRef<imaging::TDirectBitmap> {
    if (name.find(u"missing") != std::u16string::npos) return nullptr;
    auto b = foundation::TRef<imaging::TDirectBitmap>::Adopt(new imaging::TDirectBitmap(16, 16, imaging::pfA8R8G8B8));
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 16; ++x) {
        const uint32_t p = 0x80000000u | uint32_t(x * 16) << 8 | uint32_t(y * 16);
        std::memcpy(b->Row(y) + 4 * x, &p, 4);
      }
    return b;
  };
  bar->OnImage = [&images](player::TCustomNavBar* b, const foundation::TRect& r) {
    ++images;
    Check(r.Left >= 0 && r.Top >= 0 && r.Right <= b->BarBitmap()->Width && r.Bottom <= b->BarBitmap()->Height);
  };
  bar->IsPlaying = [](player::TCustomNavBar*) { return false; };
  bar->ShowBackground = true;
  try {
    bar->Load(ini.Get(), u"skin/");
    const int32_t ids[5] = {0, 1, 2, 0, 1};
    const int32_t n = int32_t(bar->ActionNames().size()) < 3 ? int32_t(bar->ActionNames().size()) : 3;
    bar->SetButtonIds(ids, n);
    bar->Update(0);
    for (int32_t i = 0; i < 6; ++i) bar->MouseEvent(1, 0, i * 7, i * 3, i % 3);
  } catch (const foundation::Exception&) {
    return 0;
  }
  Check(bar->Width() <= player::kNavMaxBarSide && bar->Height() <= player::kNavMaxBarSide);
  Check(bar->Columns() * bar->Rows() <= player::kNavMaxCells);
  return 0;
}
