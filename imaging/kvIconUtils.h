// Icon locations ("file", "file,index", "file,-resource", path macros
// allowed) turned into icon images by reading the files themselves: icon
// and cursor files directly, executables and libraries through their
// resource section, with a shared cache for the system's icon library. The
// icon service is a replaceable singleton; its base answers nothing.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/kvIcoFile.h"
#include "imaging/kvPEResources.h"

namespace imaging {

struct TIconImageRec {
  TImage* Image = nullptr;  // the record's reference
  int32_t Width = 0, Height = 0;
};

class TIconUtils : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TIconUtils)
  virtual std::u16string GetDialogIconLocation(int32_t Kind) { return u""; }
  virtual std::u16string GetFileIconLocation(const std::u16string& Path) { return GetExtensionIconLocation(Path); }
  virtual bool GetFolderIconLocation(const std::u16string& Path, std::u16string& Location) {
    std::u16string name;
    return GetFolderInfo(Path, Location, name);
  }
  virtual bool GetFolderInfo(const std::u16string& Path, std::u16string& Location, std::u16string& DisplayName) {
    Location.clear();
    DisplayName.clear();
    return false;
  }
  virtual std::u16string GetExtensionIconLocation(const std::u16string& Extension) { return u""; }
  virtual TImage* CreateIconImage(const std::u16string& Location, int32_t Width, int32_t Height) { return nullptr; }
};

// The service (a plain TIconUtils when none is installed); SetIconUtils
// takes the caller's reference and releases the previous service.
TIconUtils* GetIconUtils();
void SetIconUtils(TIconUtils* Utils);

// The screen's pixels per inch for default icon sizes (96 until the window
// library installs its screen).
using TScreenPpiFunc = int32_t (*)();
extern TScreenPpiFunc IconScreenPpiHook;

TImage* LoadIconImage(const std::u16string& Location, int32_t Width, int32_t Height);
void GetIconImage(TIconImageRec& Rec, const std::u16string& Location, int32_t Width, int32_t Height);
TIcoFile* LoadIconByLocation(const std::u16string& Location);
TImage* LoadIconImageByLocation(const std::u16string& Location, int32_t Width, int32_t Height, bool UseMipLevels);
// A group-icon resource (type 14) with its images (type 3) as an icon file.
bool BuildIconFileFromGroup(foundation::TStream* Resources, foundation::TStream* Output, TPEResourceList* List,
                            TPEResourceItem* Group);
int32_t MapImageresToShell32(int32_t Resource);
// Unit end: releases the icon library cache and the service.
void DoneIconUtils();

}  // namespace imaging
