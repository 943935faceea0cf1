// The ICC bytes of the built-in profiles "sRGB", "AdobeRGB" and "RaderAZO".
#pragma once

#include <cstdint>
#include <vector>

namespace imaging {

// Each answers the profile's bytes, or empty when they cannot be made.
std::vector<uint8_t> BuildSRGBProfileBytes();
std::vector<uint8_t> BuildAdobeRGBProfileBytes();
std::vector<uint8_t> BuildRaderAZOProfileBytes();

}  // namespace imaging
