#include "decoders/DecodersInit.h"

#include "decoders/SysBitmapLoader.h"
#include "decoders/SysGfxLoader.h"
#include "decoders/SysGifLoader.h"
#include "decoders/SysJpegLoader.h"
#include "decoders/SysMusIcoLoader.h"
#include "decoders/SysPng.h"
#include "decoders/SysPngLoader.h"
#include "decoders/LcmsTable.h"
#include "imaging/kvICCColorProfile.h"
#include "imaging/kvImage.h"

namespace decoders {

namespace {
bool g_started = false;
}

void InitDecoders() {
  if (g_started) return;
  g_started = true;
  InitSysGfxLoader();     // 1. converted images
  InitSysBitmapLoader();  // 2. BMP
  InitSysJpegLoader();    // 3. JPEG
  InitSysPngLoader();     // 4. PNG, after its chunk classes
  InitSysMusIcoLoader();  // 5. music icons (extensions without the dot)
  InitSysGifLoader();     // 6.-8. GIF, its first frame, its frames atlas
  InitLcms2();
  imaging::InitICCColorProfile();
}

void DoneDecoders() {
  if (!g_started) return;
  g_started = false;
  // The music-icon loader releases its shared stores and icon picture while
  // the registry still lists it.
  DoneSysMusIcoLoader();
  imaging::DoneImageLoaders();
  DoneSysPng();
  DoneLcms2();
}

}  // namespace decoders
