#include "imaging/Startup.h"

#include "foundation/Startup.h"
#include "imaging/ButtonGenerator2.h"
#include "imaging/ColorGradeGenerator.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapAlphaUtils.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/SysPixelFormat.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvFastDIB.h"
#include "imaging/kvICCColorProfile.h"
#include "imaging/kvIconUtils.h"
#include "imaging/kvImage.h"
#include "imaging/kvLoadCallBack.h"
#include "imaging/winIconUtils.h"

namespace imaging {

namespace {

void DoneAlphaUtils() {
  DoneSysBitmapAlphaUtils();
  FreeAlphaBlendTable();
}

void DoneIcons() {
  DoneWinIconUtils();
  DoneIconUtils();
}

// The DefBitmapClass chain is built in this order (direct bitmap, system
// bitmap, DIB), so a request tries the DIB first; each unit puts its saved
// value back at its shut-down.
constexpr foundation::TStartupStep kSteps[] = {
    // The registry lock, the converter and factory hooks, the standard
    // formats and their converters.
    {"SysPixelFormat", InitSysPixelFormat, DoneSysPixelFormat},
    {"KvBitmap", InitKvBitmap, DoneKvBitmap},
    {"SysBitmap", InitSysBitmap, DoneSysBitmap},
    {"FastDIB", InitFastDIB, DoneFastDIB},
    {"ColorProfiles", InitColorProfiles, DoneColorProfiles},
    // The ICC transform hook; the container wraps it later.
    {"ICCColorProfile", InitICCColorProfile, DoneICCColorProfile},
    // The image-loader registry, filled by the decoders.
    {"ImageLoaders", nullptr, DoneImageLoaders},
    {"SysBitmapStore", InitSysBitmapStore, nullptr},
    // The load throttle.
    {"LoadCallBack", InitLoadCallBack, nullptr},
    {"SysBitmapAlphaUtils", InitSysBitmapAlphaUtils, DoneAlphaUtils},
    {"ButtonGenerator", InitButtonGenerator, DoneButtonGenerator},
    {"ColorGradeLUTs", nullptr, DoneColorGradeLUTs},
    {"WinIconUtils", InitWinIconUtils, DoneIcons},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup};

}  // namespace

foundation::TLibraryStartup& ImagingStartup() {
  static foundation::TLibraryStartup startup{"imaging", kNeeds, kSteps};
  return startup;
}

void StartImaging() { foundation::StartLibrary(ImagingStartup()); }
void StopImaging() { foundation::StopLibrary(ImagingStartup()); }

}  // namespace imaging
