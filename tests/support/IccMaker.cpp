#include "tests/support/IccMaker.h"

#include <lcms2.h>

#include <stdexcept>

namespace testsupport {

namespace {

std::vector<uint8_t> Finish(cmsHPROFILE profile, const std::string& description) {
  if (!profile) throw std::runtime_error("IccMaker: profile not made");
  cmsSetProfileVersion(profile, 2.1);
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(mlu, "en", "US", description.c_str());
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, mlu);
  cmsMLUfree(mlu);
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(profile, nullptr, &size)) {
    cmsCloseProfile(profile);
    throw std::runtime_error("IccMaker: cannot size the profile");
  }
  std::vector<uint8_t> bytes(size);
  bool ok = cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  if (!ok) throw std::runtime_error("IccMaker: cannot save the profile");
  bytes.resize(size);
  return bytes;
}

}  // namespace

std::vector<uint8_t> MakeSRGBIccProfile(const std::string& description) {
  return Finish(cmsCreate_sRGBProfile(), description);
}

std::vector<uint8_t> MakeWideGamutIccProfile(const std::string& description) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  cmsCIExyYTRIPLE primaries = {{0.6400, 0.3300, 1.0}, {0.2100, 0.7100, 1.0}, {0.1500, 0.0600, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  return Finish(profile, description);
}

std::vector<uint8_t> MakeGrayIccProfile() {
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
  cmsFreeToneCurve(gamma);
  return Finish(profile, "Test gray");
}

}  // namespace testsupport
