#include "decoders/Startup.h"

#include "decoders/SysBitmapLoader.h"
#include "decoders/SysGfxLoader.h"
#include "decoders/SysGifLoader.h"
#include "decoders/SysJpegLoader.h"
#include "decoders/SysMusIcoLoader.h"
#include "decoders/SysPng.h"
#include "decoders/SysPngLoader.h"
#include "decoders/LcmsTable.h"
#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "imaging/kvImage.h"
#include "text/Startup.h"

namespace decoders {

namespace {

// The loaders register in the order the registry tries them. At shut-down
// the music-icon loader releases its shared stores while the registry still
// lists it; the registry is emptied before the PNG chunk classes go.
constexpr foundation::TStartupStep kSteps[] = {
    // The LittleCMS table behind the ICC transforms.
    {"Lcms2", InitLcms2, DoneLcms2},
    {"SysPng", InitSysPng, DoneSysPng},
    {"ImageLoaders", nullptr, imaging::DoneImageLoaders},
    {"SysGfxLoader", InitSysGfxLoader, nullptr},        // 1. converted images
    {"SysBitmapLoader", InitSysBitmapLoader, nullptr},  // 2. BMP
    {"SysJpegLoader", InitSysJpegLoader, nullptr},      // 3. JPEG
    {"SysPngLoader", InitSysPngLoader, nullptr},        // 4. PNG
    {"SysMusIcoLoader", InitSysMusIcoLoader, DoneSysMusIcoLoader},  // 5. music icons
    {"SysGifLoader", InitSysGifLoader, nullptr},  // 6.-8. GIF, its first frame, its frames atlas
};

// Music icons carry their extension as vector text. The container's stream
// classes need no start-up.
constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup,
                                                     &text::TextStartup};

}  // namespace

foundation::TLibraryStartup& DecodersStartup() {
  static foundation::TLibraryStartup startup{"decoders", kNeeds, kSteps};
  return startup;
}

void StartDecoders() { foundation::StartLibrary(DecodersStartup()); }
void StopDecoders() { foundation::StopLibrary(DecodersStartup()); }

}  // namespace decoders
