// The bytes of the built-in profiles, generated with LittleCMS from their
// defining values when the profile unit starts: no profile file is shipped.
#include "imaging/kvColorProfileData.h"

#include <lcms2.h>

#include <cmath>

namespace imaging {

namespace {

std::vector<uint8_t> SaveProfile(cmsHPROFILE h) {
  std::vector<uint8_t> bytes;
  cmsUInt32Number size = 0;
  if (h && cmsSaveProfileToMem(h, nullptr, &size) && size > 0) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(h, bytes.data(), &size)) bytes.clear();
  }
  if (h) cmsCloseProfile(h);
  return bytes;
}

void SetDescription(cmsHPROFILE h, const char* text) {
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(mlu, "en", "US", text);
  cmsWriteTag(h, cmsSigProfileDescriptionTag, mlu);
  cmsMLUfree(mlu);
}

// The sRGB transfer function, as 16-bit values of n evenly spaced inputs.
std::vector<cmsUInt16Number> SrgbCurve(int n) {
  std::vector<cmsUInt16Number> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double x = static_cast<double>(i) / (n - 1);
    const double y = x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    v[static_cast<size_t>(i)] = static_cast<cmsUInt16Number>(std::lround(y * 65535.0));
  }
  return v;
}

}  // namespace

std::vector<uint8_t> BuildSRGBProfileBytes() {
  cmsHPROFILE h = cmsCreate_sRGBProfile();
  if (!h) return {};
  cmsSetProfileVersion(h, 2.1);
  // Image readers recognise the standard space by this text near the start.
  SetDescription(h, "sRGB IEC61966-2.1");
  return SaveProfile(h);
}

std::vector<uint8_t> BuildAdobeRGBProfileBytes() {
  cmsCIExyY d65;
  cmsWhitePointFromTemp(&d65, 6504);
  d65.x = 0.3127;
  d65.y = 0.3290;
  d65.Y = 1.0;
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE h = cmsCreateRGBProfile(&d65, &primaries, curves);
  cmsFreeToneCurve(gamma);
  if (!h) return {};
  cmsSetProfileVersion(h, 2.1);
  SetDescription(h, "AdobeRGB");
  return SaveProfile(h);
}

std::vector<uint8_t> BuildRaderAZOProfileBytes() {
  cmsHPROFILE h = cmsCreateProfilePlaceholder(nullptr);
  if (!h) return {};
  cmsSetProfileVersion(h, 2.4);
  cmsSetDeviceClass(h, cmsSigDisplayClass);
  cmsSetColorSpace(h, cmsSigRgbData);
  cmsSetPCS(h, cmsSigXYZData);
  cmsSetHeaderRenderingIntent(h, INTENT_PERCEPTUAL);
  SetDescription(h, "RaderAZO");
  // Red, green and blue colorants are the standard space's green, blue and
  // red: converting into this profile rotates the colours.
  const cmsCIEXYZ red = {0.3850, 0.7170, 0.0970};
  const cmsCIEXYZ green = {0.1430, 0.0610, 0.7140};
  const cmsCIEXYZ blue = {0.4360, 0.2220, 0.0140};
  const cmsCIEXYZ white = {0.9642, 1.0, 0.8249};
  cmsWriteTag(h, cmsSigRedColorantTag, &red);
  cmsWriteTag(h, cmsSigGreenColorantTag, &green);
  cmsWriteTag(h, cmsSigBlueColorantTag, &blue);
  cmsWriteTag(h, cmsSigMediaWhitePointTag, &white);
  const std::vector<cmsUInt16Number> values = SrgbCurve(129);
  cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 129, values.data());
  cmsWriteTag(h, cmsSigRedTRCTag, curve);
  cmsLinkTag(h, cmsSigGreenTRCTag, cmsSigRedTRCTag);
  cmsLinkTag(h, cmsSigBlueTRCTag, cmsSigRedTRCTag);
  cmsFreeToneCurve(curve);
  // The white is already D50: the adaptation is the identity.
  const cmsFloat64Number identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  cmsWriteTag(h, cmsSigChromaticAdaptationTag, identity);
  cmsTechnologySignature tech = cmsSigCRTDisplay;
  cmsWriteTag(h, cmsSigTechnologyTag, &tech);
  return SaveProfile(h);
}

}  // namespace imaging
