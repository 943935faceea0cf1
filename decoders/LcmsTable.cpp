#include "decoders/LcmsTable.h"

#include <algorithm>
#include <mutex>

namespace decoders {

namespace {
std::recursive_mutex g_lock;
TLcmsDll* g_instance = nullptr;
int32_t g_made = 0;
}  // namespace

TLcmsDll::TLcmsDll() {
  cmsGetColorSpace = &::cmsGetColorSpace;
  cmsGetDeviceClass = &::cmsGetDeviceClass;
  cmsGetProfileInfo = &::cmsGetProfileInfo;
  cmsCloseProfile = &::cmsCloseProfile;
  cmsOpenProfileFromMem = &::cmsOpenProfileFromMem;
  cmsSetAdaptationState = &::cmsSetAdaptationState;
  cmsCreateTransform = &::cmsCreateTransform;
  cmsDoTransform = &::cmsDoTransform;
  cmsDeleteTransform = &::cmsDeleteTransform;
}

TLcmsDll* GetLcmsDll(bool MakeNew) {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  if (!g_instance) {
    g_instance = new TLcmsDll();
    ++g_made;
    return g_instance;
  }
  if (MakeNew && g_instance->Loaded()) {
    foundation::FreeAndNil(g_instance);
    return GetLcmsDll(false);
  }
  return g_instance;
}

int32_t LcmsDllInstancesMade() {
  std::lock_guard<std::recursive_mutex> hold(g_lock);
  return g_made;
}

cmsHPROFILE OpenProfileFromRange(TLcmsDll* Table, const uint8_t* Bytes, int32_t HighIndex, int32_t Start,
                                 int32_t Count) {
  Start = std::max(Start, 0);
  Count = static_cast<int32_t>(std::min<int64_t>(Count, int64_t(HighIndex) + 1 - Start));
  if (Count <= 0 || !Bytes || !Table || !Table->cmsOpenProfileFromMem) return nullptr;
  return Table->cmsOpenProfileFromMem(Bytes + Start, static_cast<cmsUInt32Number>(Count));
}

void InitLcms2() {}

void DoneLcms2() {
  TLcmsDll* old = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(g_lock);
    old = g_instance;
    g_instance = nullptr;
  }
  foundation::FreeObj(old);
}

}  // namespace decoders
