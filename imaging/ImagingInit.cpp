#include "imaging/ImagingInit.h"

#include "imaging/ColorGradeGenerator.h"
#include "imaging/SysPixelFormat.h"
#include "imaging/kvBitmap.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/SysBitmapAlphaUtils.h"
#include "imaging/ButtonGenerator2.h"
#include "imaging/kvFastDIB.h"
#include "imaging/kvImage.h"
#include "imaging/kvLoadCallBack.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvICCColorProfile.h"

namespace imaging {

void InitImaging() {
  InitSysPixelFormat();
  InitKvBitmap();
  InitSysBitmap();
  InitFastDIB();
  InitColorProfiles();
  InitICCColorProfile();
  InitSysBitmapStore();
  InitLoadCallBack();
  InitSysBitmapAlphaUtils();
  InitButtonGenerator();
}

void DoneImaging() {
  DoneColorGradeLUTs();
  DoneButtonGenerator();
  DoneSysBitmapAlphaUtils();
  FreeAlphaBlendTable();
  DoneImageLoaders();
  DoneICCColorProfile();
  DoneColorProfiles();
  DoneFastDIB();
  DoneSysBitmap();
  DoneKvBitmap();
  DoneSysPixelFormat();
}

}  // namespace imaging
