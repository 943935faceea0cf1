// The character class of every code point of the Basic Multilingual Plane.
// Only class 2 (a combining mark, drawn with the character before it) is
// read: the Mn, Mc and Me code points of the Unicode 3.0 character database.
#pragma once

#include <cstdint>

namespace text {

constexpr uint8_t ccCombiningMark = 2;

// The class of a code point; code points beyond the BMP have class 0.
uint8_t CharClassOf(uint32_t CodePoint);

}  // namespace text
