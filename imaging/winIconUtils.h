// The icon service as the desktop would answer it: locations of dialog
// kinds, file types (the classes of the registry, cached per extension),
// customised folders ("desktop.ini") and drives, and icon images read from
// the located files. The platform's own icon extraction and drive kinds are
// not available here: those paths answer nothing, and drives count as of
// unknown kind.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/kvIconUtils.h"

namespace imaging {

class TWinIconUtils : public TIconUtils {
 public:
  QEL_CLASSNAME(TWinIconUtils)
  std::u16string GetDialogIconLocation(int32_t Kind) override;
  std::u16string GetFileIconLocation(const std::u16string& Path) override;
  bool GetFolderIconLocation(const std::u16string& Path, std::u16string& Location) override;
  bool GetFolderInfo(const std::u16string& Path, std::u16string& Location, std::u16string& DisplayName) override;
  std::u16string GetExtensionIconLocation(const std::u16string& Extension) override;
  TImage* CreateIconImage(const std::u16string& Location, int32_t Width, int32_t Height) override;
};

// Lookups of the registry the extension cache made (tests).
int32_t ExtensionRegistryLookups();
// Unit start: installs a TWinIconUtils. End: releases the extension cache.
void InitWinIconUtils();
void DoneWinIconUtils();

}  // namespace imaging
