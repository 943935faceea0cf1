// The show description read from the project file. For now it only keeps
// the file accessor and the project INI it is built from; the slide timings
// and the options the players read join it with the show model.
#pragma once

#include "container/kvQelFileAccessor2.h"
#include "foundation/SysObj.h"
#include "foundation/kvIni.h"

namespace showmodel {

class TQelSource : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelSource)
  // Keeps both (which must be given: assertion) without taking references;
  // OwnsAccessor starts false.
  TQelSource(container::TFileAccessor* Accessor, foundation::TIniFile* Ini, bool OwnsIni);
  // Releases the INI and the accessor only when the source owns them.
  void Dispose() override;

  container::TFileAccessor* Accessor = nullptr;
  foundation::TIniFile* Ini = nullptr;
  bool OwnsIni = false;
  bool OwnsAccessor = false;
};

// Start-up: lets show locators make their description.
void InitQelSource();

}  // namespace showmodel
