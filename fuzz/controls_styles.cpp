// Feeds arbitrary bytes to the control style sheet as both schemes and asks
// it for states, colours, pictures and icons: no input may crash, hang or
// leave a colour chain unbounded.
#include <cstddef>
#include <cstdint>
#include <string>

#include "controls/kvControlStyles.h"
#include "controls/kvControlStylesUtils.h"
#include "controls/kvFrameControlStyles.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "controls/Startup.h"
#include "imaging/kvImage.h"

using fuzzing::Check;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  controls::StartControls();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (const char16_t* scheme : {u"lightcolors", u"darkcolors"}) {
    auto stream = foundation::MakeRef<foundation::TStringStream>(text);
    auto store = foundation::TRef<controls::TStylesStore>::Adopt(new controls::TStylesStore(stream.Get(), scheme));
    auto styles = foundation::MakeRef<controls::TColorStyles>(store.Get(), 1.0f);
    Check(styles->DefState != nullptr);
    for (const char* section : {"btn", "spdbtn", "scroll", "radiobtn", "txt", "default", "x"})
      for (const char16_t* state : {u"def", u"hot", u"down", u"press", u"focused", u"disabled"}) {
        controls::TStyleState* s = store->GetStateByName(foundation::TByteString::FromBytes(section), state, 1.0f);
        Check(s != nullptr);
        if (s->Typ == 0) {
          // Small pictures only: the sheet's frame and radius are free.
          controls::TStageView* v = s->GetView(9, 7);
          v->GetImage();
          v->HitTest(4, 3);
          v->Free();
        }
      }
    for (const char* name : {"min", "max", "selfone", "3DLight", "ScrollDef", "a", "b"})
      store->GetColor(foundation::TByteString::FromBytes(name), 0);
    if (imaging::TImage* icon = store->GetIcon(u"Check", 13, 13, 0xFF000000u, 90)) icon->Free();
  }
  return 0;
}
