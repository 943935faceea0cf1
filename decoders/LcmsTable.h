// The program's table of LittleCMS entry points, one process-wide object made
// on first use under a lock. LittleCMS is linked into the program, so the
// table is filled directly and always counts as loaded.
#pragma once

#include <lcms2.h>

#include <cstdint>

#include "foundation/SysObj.h"

namespace decoders {

class TLcmsDll : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TLcmsDll)
  TLcmsDll();
  // Loaded when the first entry is set.
  bool Loaded() const { return cmsGetColorSpace != nullptr; }

  decltype(&::cmsGetColorSpace) cmsGetColorSpace = nullptr;
  decltype(&::cmsGetDeviceClass) cmsGetDeviceClass = nullptr;
  decltype(&::cmsGetProfileInfo) cmsGetProfileInfo = nullptr;
  decltype(&::cmsCloseProfile) cmsCloseProfile = nullptr;
  decltype(&::cmsOpenProfileFromMem) cmsOpenProfileFromMem = nullptr;
  decltype(&::cmsSetAdaptationState) cmsSetAdaptationState = nullptr;
  decltype(&::cmsCreateTransform) cmsCreateTransform = nullptr;
  decltype(&::cmsDoTransform) cmsDoTransform = nullptr;
  decltype(&::cmsDeleteTransform) cmsDeleteTransform = nullptr;
};

// The process-wide table (no new reference). With MakeNew an existing,
// loaded table is released and a new one made.
TLcmsDll* GetLcmsDll(bool MakeNew);
// How many tables have been made in this process.
int32_t LcmsDllInstancesMade();

// The profile of Count bytes from Start of an array whose highest index is
// HighIndex; Start below 0 counts from 0 and Count is cut to the array's end.
// None when nothing is left or LittleCMS cannot open the bytes.
cmsHPROFILE OpenProfileFromRange(TLcmsDll* Table, const uint8_t* Bytes, int32_t HighIndex, int32_t Start,
                                 int32_t Count);

// Unit start-up (the lock) and finalisation (the table released).
void InitLcms2();
void DoneLcms2();

}  // namespace decoders
