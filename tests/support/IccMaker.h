#pragma once

// Test-side ICC profiles made with LittleCMS at test time: an sRGB profile
// (optionally described as "sRGB IEC61966-2.1", which the profile reader
// recognises), and a wide-gamut RGB profile whose conversion to sRGB changes
// pixels. Version 2 profiles, so their description is plain ASCII text.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

std::vector<uint8_t> MakeSRGBIccProfile(const std::string& description = "Test sRGB");
// Adobe-RGB-like primaries, gamma 2.2, D65 white.
std::vector<uint8_t> MakeWideGamutIccProfile(const std::string& description = "Test wide gamut RGB");
// A greyscale profile (gamma 2.2) for the case of a profile that does not fit RGB pixels.
std::vector<uint8_t> MakeGrayIccProfile();

}  // namespace testsupport
