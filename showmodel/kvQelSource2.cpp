#include "showmodel/kvQelSource2.h"

#include "container/kvQelLoader2.h"
#include "foundation/kpExceptions.h"

namespace showmodel {

TQelSource::TQelSource(container::TFileAccessor* Accessor, foundation::TIniFile* Ini, bool OwnsIni)
    : Accessor(Accessor), Ini(Ini), OwnsIni(OwnsIni) {
  QEL_ASSERT(Accessor && Ini, "TQelSource.Create: accessor and project INI must be given");
}

void TQelSource::Dispose() {
  if (OwnsIni) foundation::FreeObj(Ini);
  Ini = nullptr;
  if (OwnsAccessor) foundation::FreeObj(Accessor);
  Accessor = nullptr;
  TRefObject::Dispose();
}

namespace {

foundation::TRefObject* CreateSource(container::TFileAccessor* Accessor, foundation::TIniFile* Ini, bool OwnsIni) {
  return new TQelSource(Accessor, Ini, OwnsIni);
}

}  // namespace

void InitQelSource() { container::CreateQelSourceHook = CreateSource; }

}  // namespace showmodel
